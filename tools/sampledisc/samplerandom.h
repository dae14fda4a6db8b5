#pragma once
// The sample archive's only source of chance: splitmix64 from fixed seeds, so
// every run writes the same bytes on every machine.

#include <cstddef>
#include <cstdint>
#include <iterator>

namespace sampledisc {

// One splitmix64 step; also used to derive independent seeds from an index.
constexpr std::uint64_t mix(std::uint64_t value) {
    value += 0x9E3779B97F4A7C15ULL;
    value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ULL;
    value = (value ^ (value >> 27)) * 0x94D049BB133111EBULL;
    return value ^ (value >> 31);
}

class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}

    std::uint64_t next() {
        state_ += 0x9E3779B97F4A7C15ULL;
        std::uint64_t value = state_;
        value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ULL;
        value = (value ^ (value >> 27)) * 0x94D049BB133111EBULL;
        return value ^ (value >> 31);
    }
    // 0 <= result < bound; bound > 0. The modulo bias is far below anything a
    // sample archive could show.
    long long below(long long bound) { return static_cast<long long>(next() % static_cast<std::uint64_t>(bound)); }
    // lowest <= result <= highest
    int between(int lowest, int highest) { return lowest + static_cast<int>(below(highest - lowest + 1)); }
    // Uniform in [0, 1).
    double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
    bool chance(double probability) { return unit() < probability; }

    // Any sized, indexable list: std::array, std::span, std::vector.
    template <typename List>
    const auto& pick(const List& items) {
        return std::data(items)[below(static_cast<long long>(std::size(items)))];
    }

private:
    std::uint64_t state_;
};

}  // namespace sampledisc
