#pragma once
// The order text fields sort in (Windows-1252 bytes): letter case ignored,
// accented letters with their base letter, ß as ss, and so on; values that
// are equal that way are ordered by their bytes, so two values compare equal
// only when they are the same bytes.

#include <string>
#include <string_view>

namespace archive {

// Appends the collation key of `text`: comparing keys bytewise (as unsigned
// bytes) gives the order before the tie-break by bytes.
void appendCollationKey(std::string& key, std::string_view text);

// Appends at most `limit` bytes of the collation key of `text`, reading no
// more of the text than that needs; true when the whole key is longer, so
// that two such prefixes that compare equal leave the order to
// compareCollationKeys(). A long title costs what its beginning costs.
bool appendCollationKeyPrefix(std::string& key, std::string_view text, size_t limit);

// <0, 0, >0 like memcmp on the collation keys of `a` and `b`, compared as
// they are made, without making them.
int compareCollationKeys(std::string_view a, std::string_view b);

// <0, 0, >0 like memcmp: by collation key, then by bytes.
int compareCollated(std::string_view a, std::string_view b);

}  // namespace archive
