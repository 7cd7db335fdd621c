// findAsymmetry: symmetric matrices pass, a triangle stored alone and a pair beyond rounding do not.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "brelvane/ratio_descent.h"
#include "test_support.h"

using brelvane::Asymmetry;
using brelvane::findAsymmetry;

namespace {

std::vector<double> randomSymmetric(std::mt19937_64& rng, std::int64_t n) {
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    return symmetricMatrix(n, [&](std::int64_t i, std::int64_t j) { return i == j ? 2.0 + u(rng) : u(rng); });
}

// Sizes around the panels of 8 columns and the prefetch distance, both modes.
TEST(SymmetryCheck, SymmetricPassesAndATriangleAloneIsCaught) {
    std::mt19937_64 rng(testSeed("SymmetricPassesAndATriangleAloneIsCaught", 5));
    for (std::int64_t n = 1; n <= 40; ++n) {
        const std::vector<double> A = randomSymmetric(rng, n);
        const std::string what = "n = " + std::to_string(n);
        EXPECT_FALSE(findAsymmetry(A.data(), n, true).found) << what;
        EXPECT_FALSE(findAsymmetry(A.data(), n, false).found) << what;
        if (n < 2) continue;
        for (const bool keepLower : {true, false}) {
            std::vector<double> T = A;
            for (std::int64_t j = 0; j < n; ++j)
                for (std::int64_t i = 0; i < n; ++i)
                    if (keepLower ? i < j : i > j) T[i + j * n] = 0.0;
            for (const bool whole : {true, false}) {
                const Asymmetry a = findAsymmetry(T.data(), n, whole);
                ASSERT_TRUE(a.found) << what << (keepLower ? ", tril" : ", triu");
                EXPECT_GT(a.row, a.column) << what;
                EXPECT_EQ(a.lower, T[a.row + a.column * n]) << what;
                EXPECT_EQ(a.upper, T[a.column + a.row * n]) << what;
                EXPECT_TRUE((a.lower == 0.0) != (a.upper == 0.0)) << what;
            }
        }
    }
}

// One pair apart by more than 1e-10 of its scale is found where it is;
// apart by less, or by NaN, it is not. A triangle of entries too small to
// differ beyond the tolerance still shows against a zero one.
TEST(SymmetryCheck, APairBeyondRoundingIsFoundWhereItIs) {
    std::mt19937_64 rng(testSeed("APairBeyondRoundingIsFoundWhereItIs", 9));
    for (int trial = 0; trial < 200; ++trial) {
        const std::int64_t n = 2 + static_cast<std::int64_t>(rng() % 60);
        std::vector<double> A = randomSymmetric(rng, n);
        const std::int64_t i = 1 + static_cast<std::int64_t>(rng() % (n - 1));
        const std::int64_t j = static_cast<std::int64_t>(rng() % i);
        const double a = A[i + j * n];
        const double scale = std::fmax(std::fabs(a), std::sqrt(A[i * (n + 1)] * A[j * (n + 1)]));
        const std::string what = "n = " + std::to_string(n) + ", pair " + std::to_string(i) + ", " +
                                 std::to_string(j);
        A[j + i * n] = a + 1e-11 * scale;
        EXPECT_FALSE(findAsymmetry(A.data(), n, true).found) << what;
        A[j + i * n] = a + 1e-9 * scale;
        const Asymmetry found = findAsymmetry(A.data(), n, true);
        ASSERT_TRUE(found.found) << what;
        EXPECT_EQ(found.row, i) << what;
        EXPECT_EQ(found.column, j) << what;
        A[j + i * n] = kNaN;
        EXPECT_FALSE(findAsymmetry(A.data(), n, true).found) << what;
    }
    std::vector<double> tiny = {1, 1e-300, 1e-300, 0, 1, 1e-300, 0, 0, 1};
    EXPECT_TRUE(findAsymmetry(tiny.data(), 3, true).found);
    EXPECT_TRUE(findAsymmetry(tiny.data(), 3, false).found);
}

// Shared among threads the whole check finds what one thread finds, ties
// included: equal differences in several panels (the first in column order
// is the one returned), and a triangle stored alone whose largest entry
// occurs more than once.
TEST(SymmetryCheck, ThreadsFindWhatOneThreadFinds) {
    std::mt19937_64 rng(testSeed("ThreadsFindWhatOneThreadFinds", 13));
    for (int trial = 0; trial < 40; ++trial) {
        const std::int64_t n = 130 + static_cast<std::int64_t>(rng() % 400);
        std::vector<double> A = symmetricMatrix(n, [](std::int64_t i, std::int64_t j) { return i == j ? 1.0 : 0.5; });
        const int pairs = 1 + static_cast<int>(rng() % 4);
        for (int k = 0; k < pairs; ++k) {
            const std::int64_t i = 1 + static_cast<std::int64_t>(rng() % (n - 1));
            const std::int64_t j = static_cast<std::int64_t>(rng() % i);
            A[j + i * n] = trial % 2 ? 0.75 : 0.5 + 1e-9 * (1 + static_cast<double>(rng() % 2));
        }
        if (trial % 5 == 0)
            for (std::int64_t j = 0; j < n; ++j)
                for (std::int64_t i = 0; i < j; ++i) A[i + j * n] = 0.0;
        const Asymmetry one = findAsymmetry(A.data(), n, true, 1);
        ASSERT_TRUE(one.found);
        for (int threads : {2, 3, 7}) {
            const Asymmetry many = findAsymmetry(A.data(), n, true, threads);
            const std::string what = "trial " + std::to_string(trial) + ", " + std::to_string(threads) + " threads";
            EXPECT_EQ(many.row, one.row) << what;
            EXPECT_EQ(many.column, one.column) << what;
            EXPECT_TRUE(sameDouble(many.lower, one.lower) && sameDouble(many.upper, one.upper)) << what;
        }
    }
}

}  // namespace
