// Symmetric product, ordered dot product and argmax |v|.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "brelvane/ratio_descent.h"
#include "test_support.h"
#include "vector_kernels.h"

using namespace brelvane;

TEST(VectorKernels, DotProductSumsStrictlyInOrder) {
    // In order: 1e16 + 1 rounds back to 1e16 (ties to even), every later 1 is
    // lost too, and -1e16 cancels to 0. Summed backwards, in lanes or pairs,
    // some of the ones survive.
    const std::vector<double> p{1e16, 1, 1, 1, 1, 1, 1, 1, -1e16, 1, 1, 1, 1, 1, 1, 1, 1};
    const std::vector<double> ones(p.size(), 1.0);
    EXPECT_EQ(bitsOf(dotProduct(p.data(), ones.data(), 9)), bitsOf(0.0));
    EXPECT_EQ(dotProduct(p.data(), ones.data(), 17), 8.0);
    EXPECT_EQ(dotProduct(ones.data(), p.data(), 17), 8.0);
}

TEST(VectorKernels, DotProductRoundsEachProductBeforeAdding) {
    // p0*q0 and p1*q1 round to opposite values and cancel exactly; a fused
    // multiply-add would keep the low bits of the second product (-2^-60).
    const double e = 1.0 + std::ldexp(1.0, -30);
    const std::vector<double> p{e, e};
    const std::vector<double> q{e, -e};
    EXPECT_EQ(bitsOf(dotProduct(p.data(), q.data(), 2)), bitsOf(0.0));
}

TEST(VectorKernels, DotProductOfNothingIsPositiveZero) {
    EXPECT_EQ(bitsOf(dotProduct(nullptr, nullptr, 0)), bitsOf(0.0));
    EXPECT_EQ(bitsOf(dotProduct(nullptr, nullptr, -3)), bitsOf(0.0));
    const std::vector<double> neg{-0.0}, pos{1.0};
    EXPECT_EQ(bitsOf(dotProduct(neg.data(), pos.data(), 1)), bitsOf(0.0));  // +0 + -0 = +0
}

TEST(VectorKernels, IndexOfMaxAbsTakesMagnitudeAndLowestOfTies) {
    const std::vector<std::pair<std::vector<double>, std::int64_t>> cases{
        {{1, -3, 3}, 1},         // negative entry largest in magnitude, tie lost by later +3
        {{2, 2, 2}, 0},          // ties: lowest index
        {{-0.0, 0.0}, 0},        // -0 and +0 tie
        {{1, -5, 4, -5}, 1},
        {{0.5, -kInf, kInf}, 1},   // infinities compare like numbers
    };
    for (const auto& [v, want] : cases)
        EXPECT_EQ(indexOfMaxAbs(v.data(), static_cast<std::int64_t>(v.size())), want);
}

TEST(VectorKernels, IndexOfMaxAbsNeverChoosesNaNUnlessFirst) {
    const std::vector<double> first{kNaN, 5, -7};
    const std::vector<double> later{1, kNaN, 2};
    const std::vector<double> last{1, -3, kNaN};
    EXPECT_EQ(indexOfMaxAbs(first.data(), 3), 0);
    EXPECT_EQ(indexOfMaxAbs(later.data(), 3), 2);
    EXPECT_EQ(indexOfMaxAbs(last.data(), 3), 1);
}

TEST(VectorKernels, IndexOfMaxAbsOfFewerThanTwoIsZeroWithoutReading) {
    const std::vector<double> one{-4};
    EXPECT_EQ(indexOfMaxAbs(one.data(), 1), 0);
    EXPECT_EQ(indexOfMaxAbs(nullptr, 0), 0);
    EXPECT_EQ(indexOfMaxAbs(nullptr, -1), 0);
}

TEST(VectorKernels, SymMatVecReadsOnlyTheLowerTriangle) {
    // Column-major; the upper triangle holds values that must play no part.
    const std::vector<double> A{2, 1, -1,
                                99, 3, 4,
                                99, 99, 5};
    const std::vector<double> x{1, 2, 3};
    std::vector<double> y{kNaN, kNaN, kNaN};  // beta = 0: old contents are ignored
    symMatVec(A.data(), x.data(), y.data(), 3);
    // Symmetric matrix [2 1 -1; 1 3 4; -1 4 5].
    EXPECT_EQ(y, (std::vector<double>{1, 19, 22}));
}
