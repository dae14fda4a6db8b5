#pragma once
// The greatest value of a text field by the collation, as an ORDER BY that
// field DESC would put it first: the start reads the newest issue of each
// table this way, from whatever it has at hand (an image, a cache file's
// summary, or the column itself).

#include <optional>
#include <string>
#include <string_view>

namespace archive {

class TableImage;

// Keeps the greatest value seen by the collation; NULL is the least.
class GreatestText {
public:
    void offer(std::optional<std::string_view> value);
    // Nothing when nothing was offered (a table without rows); an empty
    // text when only NULLs were.
    std::optional<std::string> result() const;

private:
    bool seen_ = false;
    std::optional<std::string> best_;
    std::string key_;
    std::string bestKey_;
};

// The greatest value of `column` over the image's live rows.
std::optional<std::string> greatestInImage(const TableImage& image, int column);

}  // namespace archive
