// The coordinate-descent driver on small problems whose every step is known.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "brelvane/ratio_descent.h"
#include "test_support.h"

using namespace brelvane;

namespace {

struct Problem {
    std::vector<double> x0, P, c;
    double alpha;
    std::vector<double> Q, d;
    double beta;
};

std::vector<double> solve(const Problem& p, std::int64_t iterations) {
    std::vector<double> x(p.x0.size(), kNaN);
    const RatioDescentStatus status =
        ratioDescent(x.data(), p.x0.data(), p.P.data(), p.c.data(), p.alpha, p.Q.data(),
                     p.d.data(), p.beta, static_cast<std::int64_t>(p.x0.size()), iterations);
    EXPECT_EQ(status, ratioDescentOk);
    return x;
}

void expectBits(const std::vector<double>& got, const std::vector<double>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i)
        EXPECT_TRUE(sameDouble(got[i], want[i]))
            << "x[" << i << "] = " << describe(got[i]) << ", want " << describe(want[i]);
}

// R = (x'x/2 + 1) / 1: the first step zeroes the larger coordinate, the
// second the other one.
const Problem identityOverConstant{{1, 2}, {1, 0, 0, 1}, {0, 0}, 1, {0, 0, 0, 0}, {0, 0}, 1};

// R = (x1^2 + 2 x2^2 + x1 + 1) / (|x|^2/2 + 1). Iteration 1: N = 5, D = 2,
// gR = [0.25, 0.75], k = 1, linear step -1. Iteration 2: N = 3, D = 1.5,
// k = 0, step -sqrt(3). Afterwards x is stationary.
const Problem diagonalOverQuadratic{{1, 1}, {2, 0, 0, 4}, {1, 0}, 1, {1, 0, 0, 1}, {0, 0}, 1};

}  // namespace

TEST(RatioDescent, WorkedExamplesStepByStep) {
    expectBits(solve(identityOverConstant, 1), {1, 1e-100});
    expectBits(solve(identityOverConstant, 2), {1e-100, 1e-100});
    expectBits(solve(diagonalOverQuadratic, 1), {1, 1e-100});
    for (std::int64_t iterations : {2, 3, 50})
        expectBits(solve(diagonalOverQuadratic, iterations), {-std::sqrt(3.0) + 1.0, 1e-100});
}

TEST(RatioDescent, NoIterationsReturnsTheStartWithZerosReplaced) {
    const Problem p{{0, -0.0, kNaN, 3, -kInf, 1e-300},
                    std::vector<double>(36, 1.0), std::vector<double>(6, 0.0), 0,
                    std::vector<double>(36, 1.0), std::vector<double>(6, 0.0), 0};
    for (std::int64_t iterations : {std::int64_t{0}, std::int64_t{-1}, INT64_MIN})
        expectBits(solve(p, iterations), {1e-100, 1e-100, kNaN, 3, -kInf, 1e-300});
}

TEST(RatioDescent, EmptyProblemTouchesNoMemory) {
    // Null arrays would fault on any access, and dsymv would reject lda = 0.
    for (std::int64_t n : {std::int64_t{0}, std::int64_t{-1}, INT64_MIN})
        for (std::int64_t iterations : {std::int64_t{0}, std::int64_t{1000}, INT64_MAX})
            EXPECT_EQ(ratioDescent(nullptr, nullptr, nullptr, nullptr, 1, nullptr, nullptr, 1, n,
                                   iterations),
                      ratioDescentOk);
}

TEST(RatioDescent, OneDimensionalProblemStaysOnCoordinateZero) {
    // R = (x^2 - 2x) / 1: one linear step from 5 lands on the minimiser 1,
    // and every later step is -(0/2) = -0.
    const Problem p{{5}, {2}, {-2}, 0, {0}, {0}, 1};
    expectBits(solve(p, 1), {1});
    expectBits(solve(p, 7), {1});
}

TEST(RatioDescent, TiesChooseTheLowestCoordinate) {
    // gR = x = [1, 1]: the tie goes to coordinate 0, which the linear step
    // moves to 0.
    const Problem p{{1, 1}, {1, 0, 0, 1}, {0, 0}, 1, {0, 0, 0, 0}, {0, 0}, 1};
    expectBits(solve(p, 1), {1e-100, 1});
}

TEST(RatioDescent, NegativeGradientLargestInMagnitudeIsChosen) {
    // R = (x'x/2 + c'x) with c = [0.5, -3]: gR = x + c = [1.5, -2] at x = [1, 1],
    // so coordinate 1 moves to its minimiser 3 despite the smaller signed value.
    const Problem p{{1, 1}, {1, 0, 0, 1}, {0.5, -3}, 0, {0, 0, 0, 0}, {0, 0}, 1};
    expectBits(solve(p, 1), {1, 3});
}

TEST(RatioDescent, ZeroDenominatorFlowsThroughAsNaN) {
    // D = 0: R = Inf, gR = 1/0 - (0*Inf)/0 = NaN everywhere, k = 0, and the
    // step along x0 is -(0/0).
    const Problem p{{1, 2}, {1, 0, 0, 1}, {0, 0}, 1, {0, 0, 0, 0}, {0, 0}, 0};
    const std::vector<double> x = solve(p, 3);
    EXPECT_TRUE(std::isnan(x[0]));
    EXPECT_EQ(x[1], 2.0);
}

TEST(RatioDescent, AsymmetricMatrixFollowsTheRunningProducts) {
    // R = x'Px/2 (Q = 0, beta = 1): every step is the linear one,
    // x_k -= (Px)_k / P_kk, exact in these halves. The start-up product reads
    // the lower triangle [2 1; 1 2], each update the whole column k, and
    // column 1 holds P(0,1) = 5 in place of 1. From [1, 2], Px = [4, 5]:
    // k = 1, t = -2.5; then
    //   symmetric:  Px = [1.5, 0], k = 0, t = -0.75; Px = [0, -0.75], k = 1, t = 0.375
    //   P(0,1) = 5: Px = [-8.5, 0], k = 0, t = 4.25; Px = [0, 4.25],  k = 1, t = -2.125
    const Problem symmetric{{1, 2}, {2, 1, 1, 2}, {0, 0}, 0, {0, 0, 0, 0}, {0, 0}, 1};
    Problem asymmetric = symmetric;
    asymmetric.P[2] = 5;  // P(0,1)
    for (const Problem& q : {symmetric, asymmetric}) expectBits(solve(q, 1), {1, -0.5});
    expectBits(solve(symmetric, 3), {0.25, -0.125});
    expectBits(solve(asymmetric, 3), {5.25, -2.625});
    // r follows the running x'Px, which after the first step is that of no
    // one matrix: it ends at -21.828125, where x'Ax/2 is 20.671875 for the
    // lower triangle, -6.890625 for (P + P')/2 and -34.453125 for the upper.
    std::vector<double> x(2), r(4);
    const Problem& p = asymmetric;
    ASSERT_EQ(ratioDescentTrace(x.data(), r.data(), p.x0.data(), p.P.data(), p.c.data(), p.alpha,
                                p.Q.data(), p.d.data(), p.beta, 2, 3),
              ratioDescentOk);
    EXPECT_EQ(r, (std::vector<double>{7, 0.75, -17.3125, -21.828125}));
}

TEST(RatioDescent, TraceFollowsTheWorkedExample) {
    // R = 2.5 at the start, 2 after the linear step, then the minimum
    // (6 - 3 sqrt 3)/(3 - sqrt 3) at x = [1 - sqrt 3, 0], where it stays.
    const Problem& p = diagonalOverQuadratic;
    std::vector<double> x(2), r(5);
    ASSERT_EQ(ratioDescentTrace(x.data(), r.data(), p.x0.data(), p.P.data(), p.c.data(), p.alpha,
                                p.Q.data(), p.d.data(), p.beta, 2, 4),
              ratioDescentOk);
    EXPECT_EQ(r[0], 2.5);
    EXPECT_EQ(r[1], 2.0);
    const double s3 = std::sqrt(3.0);
    for (int t = 2; t < 5; ++t) EXPECT_NEAR(r[t], (6 - 3 * s3) / (3 - s3), 1e-15) << t;
}

TEST(RatioDescent, TraceOfAnEmptyProblemIsAlphaOverBeta) {
    std::vector<double> r(4, 0.0);
    EXPECT_EQ(ratioDescentTrace(nullptr, r.data(), nullptr, nullptr, nullptr, 3.0, nullptr, nullptr,
                                4.0, 0, 3),
              ratioDescentOk);
    EXPECT_EQ(r, std::vector<double>(4, 0.75));
    std::vector<double> one{0.0, 9.0};
    ratioDescentTrace(nullptr, one.data(), nullptr, nullptr, nullptr, 3.0, nullptr, nullptr, 4.0,
                      -1, -5);
    EXPECT_EQ(one, (std::vector<double>{0.75, 9.0}));  // iterations <= 0: R(x0) alone
}
