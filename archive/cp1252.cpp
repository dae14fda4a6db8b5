#include "cp1252.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace archive {
namespace {

// 0x80-0x9F, the only range where Windows-1252 differs from Latin-1. The five
// undefined bytes keep their C1 control code point so that they survive.
constexpr std::array<char32_t, 32> kHighControls{
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

constexpr std::array<unsigned char, 256> makeUpperTable() {
    std::array<unsigned char, 256> table{};
    for (int i = 0; i < 256; ++i) table[i] = static_cast<unsigned char>(i);
    for (int c = 'a'; c <= 'z'; ++c) table[c] = static_cast<unsigned char>(c - 0x20);
    for (int c = 0xE0; c <= 0xFE; ++c)
        if (c != 0xF7) table[c] = static_cast<unsigned char>(c - 0x20);  // not the division sign
    table[0x9A] = 0x8A;  // s caron
    table[0x9C] = 0x8C;  // oe
    table[0x9E] = 0x8E;  // z caron
    table[0xFF] = 0x9F;  // y diaeresis
    return table;
}

constexpr std::array<unsigned char, 256> kUpper = makeUpperTable();

// Equal byte by byte once both sides went through the same case mapping.
template <class Mapping>
bool equalUnder(std::string_view a, std::string_view b, Mapping upper) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (upper(a[i]) != upper(b[i])) return false;
    return true;
}

}  // namespace

char32_t unicodeOfCp1252(unsigned char byte) {
    if (byte >= 0x80 && byte <= 0x9F) return kHighControls[byte - 0x80];
    return byte;
}

int cp1252OfUnicode(char32_t codePoint) {
    if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF)) return static_cast<int>(codePoint);
    for (size_t i = 0; i < kHighControls.size(); ++i)
        if (kHighControls[i] == codePoint) return static_cast<int>(0x80 + i);
    return -1;
}


std::string utf8ToCp1252(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    appendUtf8AsCp1252(out, text);
    return out;
}

namespace {

// True when no byte of `text` has its high bit set, eight bytes at a time.
bool allAscii(std::string_view text) {
    size_t i = 0;
    uint64_t high = 0;
    for (; i + 8 <= text.size(); i += 8) {
        uint64_t word;
        std::memcpy(&word, text.data() + i, 8);
        high |= word;
    }
    for (; i < text.size(); ++i) high |= static_cast<unsigned char>(text[i]);
    return (high & 0x8080808080808080ULL) == 0;
}

}  // namespace

std::string cp1252ToUtf8(std::string_view text) {
    // Most values are plain ASCII, and UTF-8 the same bytes.
    if (allAscii(text)) return std::string(text);
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    size_t i = 0;
    while (i < text.size()) {
        size_t end = i;
        while (end < text.size() && static_cast<unsigned char>(text[end]) < 0x80) ++end;
        out.append(text.data() + i, end - i);
        if (end == text.size()) break;
        appendUtf8(out, unicodeOfCp1252(static_cast<unsigned char>(text[end])));
        i = end + 1;
    }
    return out;
}

namespace {

template <class Text>
void appendAsCp1252(Text& out, std::string_view text) {
    // Most cells of a table are plain ASCII: copied as they are, in one go.
    if (allAscii(text)) {
        out.append(text);
        return;
    }
    size_t i = 0;
    const size_t n = text.size();
    while (i < n) {
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            size_t end = i + 1;
            while (end < n && static_cast<unsigned char>(text[end]) < 0x80) ++end;
            out.append(text.data() + i, end - i);
            i = end;
            continue;
        }
        const std::optional<Utf8Sequence> sequence = decodeUtf8(text, i);
        if (!sequence) {
            // One "?" for the stray byte; resynchronise at the next one.
            out += '?';
            ++i;
            continue;
        }
        const int byte = cp1252OfUnicode(sequence->codePoint);
        out += byte < 0 ? '?' : static_cast<char>(byte);
        i += sequence->length;
    }
}

}  // namespace

void appendUtf8AsCp1252(std::string& out, std::string_view text) { appendAsCp1252(out, text); }
void appendUtf8AsCp1252(std::pmr::string& out, std::string_view text) { appendAsCp1252(out, text); }

std::optional<Utf8Sequence> decodeUtf8(std::string_view text, size_t pos) {
    if (pos >= text.size()) return std::nullopt;
    const auto lead = static_cast<unsigned char>(text[pos]);
    if (lead < 0x80) return Utf8Sequence{lead, 1};
    size_t length = 0;
    char32_t cp = 0;
    char32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, cp = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, cp = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, cp = lead & 0x07, minimum = 0x10000;
    } else {
        return std::nullopt;
    }
    if (pos + length > text.size()) return std::nullopt;
    for (size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[pos + k]);
        if ((next & 0xC0) != 0x80) return std::nullopt;
        cp = (cp << 6) | (next & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
    return Utf8Sequence{cp, length};
}

bool isValidUtf8(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        const std::optional<Utf8Sequence> sequence = decodeUtf8(text, i);
        if (!sequence) return false;
        i += sequence->length;
    }
    return true;
}

unsigned char upperCp1252(unsigned char byte) { return kUpper[byte]; }

std::string upperCp1252(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    appendUpperCp1252(out, text);
    return out;
}

void appendUpperCp1252(std::string& out, std::string_view text) {
    // Written once, a block at a time from a buffer at hand: a long text's
    // fresh pages are not first filled with zeros. Plain ASCII goes eight
    // bytes at a time, each of 'a'..'z' losing its 0x20 bit.
    constexpr uint64_t kOnes = 0x0101010101010101ULL;
    constexpr uint64_t kHigh = 0x8080808080808080ULL;
    char block[4096];
    for (size_t from = 0; from < text.size(); from += sizeof block) {
        const size_t size = std::min(sizeof block, text.size() - from);
        const char* in = text.data() + from;
        size_t i = 0;
        for (; i + 8 <= size; i += 8) {
            uint64_t word;
            std::memcpy(&word, in + i, 8);
            if (word & kHigh) {
                for (size_t k = i; k < i + 8; ++k)
                    block[k] = static_cast<char>(kUpper[static_cast<unsigned char>(in[k])]);
                continue;
            }
            const uint64_t fromA = word + kOnes * (0x80 - 'a');      // high bit: at least 'a'
            const uint64_t pastZ = word + kOnes * (0x80 - 'z' - 1);  // high bit: above 'z'
            word ^= ((fromA & ~pastZ) & kHigh) >> 2;
            std::memcpy(block + i, &word, 8);
        }
        for (; i < size; ++i) block[i] = static_cast<char>(kUpper[static_cast<unsigned char>(in[i])]);
        out.append(block, size);
    }
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return equalUnder(a, b, [](char c) { return kUpper[static_cast<unsigned char>(c)]; });
}

std::string upperAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = upperAscii(c);
    return out;
}

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return equalUnder(a, b, [](char c) { return upperAscii(c); });
}

namespace {
bool printable(unsigned char byte) {
    if (byte < 0x20 || byte == 0x7F) return false;
    return byte != 0x81 && byte != 0x8D && byte != 0x8F && byte != 0x90 && byte != 0x9D;
}
}  // namespace

std::string readableValue(std::string_view value, size_t maxLength) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string shown;
    size_t characters = 0;
    for (const char c : value) {
        if (characters == maxLength) {
            shown += '\x85';
            break;
        }
        const auto byte = static_cast<unsigned char>(c);
        if (printable(byte)) {
            shown += c;
        } else {
            shown += '<';
            shown += kHex[byte >> 4];
            shown += kHex[byte & 0x0F];
            shown += '>';
        }
        ++characters;
    }
    return shown;
}

std::string readableName(std::string_view name) { return readableValue(name, std::string_view::npos); }

}  // namespace archive
