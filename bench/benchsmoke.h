#pragma once
// A smoke run of the benchmarks, as the test run starts them: with
// QUILLORA_BENCH_SMOKE set, every case runs once, on the smallest archive,
// so that a benchmark that crashes or corrupts its heap fails the tests
// instead of measuring nothing. Without it the benchmarks run as written.

#include <cstdlib>
#include <initializer_list>
#include <vector>

namespace benchsmoke {

inline constexpr long long kSmokeRows = 10'000;

inline bool on() {
    static const bool smoke = [] {
        const char* value = std::getenv("QUILLORA_BENCH_SMOKE");
        return value && *value && *value != '0';
    }();
    return smoke;
}

// Iterations or repetitions: as given, or one in a smoke run.
inline int times(int count) { return on() ? 1 : count; }

// The archive sizes a case runs at: as given, or the smoke size alone.
inline std::vector<long long> sizes(std::initializer_list<long long> all) {
    if (on()) return {kSmokeRows};
    return all;
}

}  // namespace benchsmoke
