// Helpers shared by the solver tests: bit-exact comparison and seeded randomness.
#ifndef BRELVANE_TEST_SUPPORT_H
#define BRELVANE_TEST_SUPPORT_H

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <limits>
#include <vector>

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

inline std::uint64_t bitsOf(double v) {
    std::uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

// Bit-identical, where any two NaNs count as equal (their payloads are not part
// of the results' meaning).
inline bool sameDouble(double a, double b) {
    return (std::isnan(a) && std::isnan(b)) || bitsOf(a) == bitsOf(b);
}

inline std::string describe(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g (0x%016llx)", v, static_cast<unsigned long long>(bitsOf(v)));
    return buf;
}

// Seed for randomised tests: BRELVANE_TEST_SEED if set, else a fixed default;
// printed so that a failure can be replayed.
inline std::uint64_t testSeed(const char* testName, std::uint64_t fallback) {
    std::uint64_t seed = fallback;
    if (const char* env = std::getenv("BRELVANE_TEST_SEED")) seed = std::strtoull(env, nullptr, 0);
    std::printf("%s: seed %llu (set BRELVANE_TEST_SEED to replay)\n", testName,
                static_cast<unsigned long long>(seed));
    return seed;
}

// Column-major n-by-n matrix with M[i + j n] = M[j + i n] = f(i, j) for i >= j.
template <class F>
std::vector<double> symmetricMatrix(std::int64_t n, F f) {
    std::vector<double> M(static_cast<std::size_t>(n * n));
    for (std::int64_t j = 0; j < n; ++j)
        for (std::int64_t i = j; i < n; ++i)
            M[static_cast<std::size_t>(i + j * n)] = M[static_cast<std::size_t>(j + i * n)] = f(i, j);
    return M;
}

#endif
