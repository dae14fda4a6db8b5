#include "collation.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <utility>

namespace archive {
namespace {

struct Weight {
    char bytes[2];
    uint8_t length;
};

std::array<Weight, 256> makeWeights() {
    std::array<Weight, 256> weights{};
    for (int b = 0; b < 256; ++b) weights[b] = {{static_cast<char>(b), 0}, 1};
    auto set = [&](std::initializer_list<int> bytes, const char* weight) {
        for (int b : bytes) weights[b] = {{weight[0], weight[1]}, static_cast<uint8_t>(std::strlen(weight))};
    };
    for (int b = 'A'; b <= 'Z'; ++b) weights[b].bytes[0] = static_cast<char>(b - 'A' + 'a');
    set({0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5}, "a");
    set({0xC6, 0xE6}, "ae");
    set({0xC7, 0xE7}, "c");
    set({0xD0, 0xF0}, "d");
    set({0xC8, 0xC9, 0xCA, 0xCB, 0xE8, 0xE9, 0xEA, 0xEB}, "e");
    set({0x83}, "f");
    set({0xCC, 0xCD, 0xCE, 0xCF, 0xEC, 0xED, 0xEE, 0xEF}, "i");
    set({0xD1, 0xF1}, "n");
    set({0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD8, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF8}, "o");
    set({0x8C, 0x9C}, "oe");
    set({0x8A, 0x9A}, "s");
    set({0xDF}, "ss");
    set({0xDE, 0xFE}, "th");
    set({0xD9, 0xDA, 0xDB, 0xDC, 0xF9, 0xFA, 0xFB, 0xFC}, "u");
    set({0xDD, 0xFD, 0xFF, 0x9F}, "y");
    set({0x8E, 0x9E}, "z");
    return weights;
}

const std::array<Weight, 256> kWeights = makeWeights();

}  // namespace

void appendCollationKey(std::string& key, std::string_view text) {
    for (const char c : text) {
        const Weight& weight = kWeights[static_cast<unsigned char>(c)];
        key.append(weight.bytes, weight.length);
    }
}

bool appendCollationKeyPrefix(std::string& key, std::string_view text, size_t limit) {
    // Every character weighs one or two bytes: `limit` characters are enough.
    const size_t start = key.size();
    appendCollationKey(key, text.substr(0, limit));
    const bool longer = text.size() > limit || key.size() - start > limit;
    key.resize(std::min(key.size(), start + limit));
    return longer;
}

namespace {

// The bytes of a text's collation key, one at a time.
class KeyBytes {
public:
    explicit KeyBytes(std::string_view text) : text_(text) {}
    // -1 past the end of the key.
    int next() {
        if (pending_ >= 0) return std::exchange(pending_, -1);
        if (position_ == text_.size()) return -1;
        const Weight& weight = kWeights[static_cast<unsigned char>(text_[position_++])];
        if (weight.length == 2) pending_ = static_cast<unsigned char>(weight.bytes[1]);
        return static_cast<unsigned char>(weight.bytes[0]);
    }

private:
    std::string_view text_;
    size_t position_ = 0;
    int pending_ = -1;
};

}  // namespace

int compareCollationKeys(std::string_view a, std::string_view b) {
    KeyBytes left(a);
    KeyBytes right(b);
    for (;;) {
        const int x = left.next();
        const int y = right.next();
        if (x != y) return x < y ? -1 : 1;
        if (x < 0) return 0;
    }
}

int compareCollated(std::string_view a, std::string_view b) {
    if (const int byKey = compareCollationKeys(a, b); byKey != 0) return byKey;
    return a.compare(b);
}

}  // namespace archive
