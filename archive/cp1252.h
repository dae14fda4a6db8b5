#pragma once
// Windows-1252 is the program's text form: one byte per character. These are
// the conversions at its two borders (UTF-8 in the table files, UTF-16 in the
// widgets) and the letter rules the engine and the edit mode apply.

#include <cstddef>
#include <memory_resource>
#include <optional>
#include <string>
#include <string_view>

namespace archive {

// The Unicode code point of a Windows-1252 byte. The five bytes Windows-1252
// leaves undefined (0x81 0x8D 0x8F 0x90 0x9D) map to U+0081 … so that every
// byte survives a round trip.
char32_t unicodeOfCp1252(unsigned char byte);
// The Windows-1252 byte of a code point, or -1 when there is none.
int cp1252OfUnicode(char32_t codePoint);

std::string cp1252ToUtf8(std::string_view text);
// A character with no Windows-1252 form, or a malformed UTF-8 sequence, becomes "?".
std::string utf8ToCp1252(std::string_view text);
// The same, appended to `out` (the engine loads millions of cells this way).
void appendUtf8AsCp1252(std::string& out, std::string_view text);
void appendUtf8AsCp1252(std::pmr::string& out, std::string_view text);

// Appends a code point as UTF-8.
void appendUtf8(std::string& out, char32_t codePoint);

// One UTF-8 sequence: its code point and its length in bytes.
struct Utf8Sequence {
    char32_t codePoint;
    size_t length;
};
// The sequence that starts at text[pos], or nothing when it is not well
// formed: a stray or cut-off byte, an overlong form, a surrogate, a value
// above U+10FFFF.
std::optional<Utf8Sequence> decodeUtf8(std::string_view text, size_t pos);
bool isValidUtf8(std::string_view text);

// Upper case as the engine's UPPER: a-z, à-þ except ÷, and š œ ž ÿ.
unsigned char upperCp1252(unsigned char byte);
std::string upperCp1252(std::string_view text);
void appendUpperCp1252(std::string& out, std::string_view text);
// Equal but for letter case, by the same rule (field and file names).
bool equalsIgnoringCase(std::string_view a, std::string_view b);

// Only a-z to A-Z, every other byte unchanged: for keywords and names the
// system gives (SQL words, program file names, registry keys), and where a
// text must keep its accented letters as typed.
constexpr char upperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
std::string upperAscii(std::string_view text);
bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b);

// A value from a file or from typing as a message quotes it: every byte that
// is no printable character (control bytes, the five bytes Windows-1252
// leaves undefined) written as <HH>, and more than `maxLength` characters
// cut to that many and the ellipsis 0x85 (an escape counts as one). A message never
// breaks off at a 0 byte or shows a control byte as garbage.
inline constexpr size_t kShownValueLength = 40;
std::string readableValue(std::string_view value, size_t maxLength = kShownValueLength);
// The same without cutting, for names and paths.
std::string readableName(std::string_view name);

// A name in a message: 'name'. Built by appending: GCC 12 takes "text" +
// std::string for overlapping copies (its bug 105329).
inline std::string quoted(std::string_view text) {
    std::string result(1, '\'');
    result += text;
    result += '\'';
    return result;
}

}  // namespace archive
