// The closed-form step along one coordinate of r(t) = (a2 t^2 + a1 t + a0) / (b2 t^2 + b1 t + b0).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "brelvane/ratio_descent.h"
#include "ratio_step.h"
#include "test_support.h"

using namespace brelvane;

TEST(RatioStep, QuadraticCaseTakesTheMinimiser) {
    // r(t) = (t + 2)/(t^2 + 1): h = -1, g = -4, l = 1; stationary points
    // -2 - sqrt(5) (minimum) and sqrt(5) - 2 (maximum).
    const double t = ratioStep(2, 1, 0, 1, 0, 1);
    EXPECT_EQ(bitsOf(t), bitsOf((4.0 + std::sqrt(20.0)) / -2.0));
    EXPECT_NEAR(t, -2.0 - std::sqrt(5.0), 1e-15);
}

TEST(RatioStep, LinearCaseSolvesGtPlusLEqualsZero) {
    // Constant denominator: h = 0, g = 1, l = 2.
    EXPECT_EQ(ratioStep(3.5, 2, 0.5, 1, 0, 0), -2.0);
    // h = 0*(-1) - 1*0 = -0.0 also takes the linear branch: -(2 / +0) = -Inf,
    // where the quadratic formula would give 0/0 = NaN.
    EXPECT_EQ(ratioStep(1, 1, 0, 1, -1, 0), -kInf);
}

TEST(RatioStep, LinearCaseReturnsItsRootEvenWhereItMaximises) {
    // r(t) = 2 - t^2: h = -0, g = -2, l = 0; the only root t = -(0 / -2) = +0
    // is the maximum.
    EXPECT_EQ(bitsOf(ratioStep(2, 0, -1, 1, 0, 0)), bitsOf(0.0));
}

TEST(RatioStep, FailuresFlowThroughAsNonFiniteSteps) {
    // r(t) = t/(t^2 - 1) has no real stationary point: g^2 - 4 h l = -4.
    EXPECT_TRUE(std::isnan(ratioStep(0, 1, 0, -1, 0, 1)));
    // h = g = 0: -(l / 0), -Inf for l = 1 and NaN for l = 0.
    EXPECT_EQ(ratioStep(0, 1, 0, 1, 0, 0), -kInf);
    EXPECT_TRUE(std::isnan(ratioStep(1, 1, 0, 1, 1, 0)));
}

TEST(RatioStep, StationaryPointChoosesBetweenZeroAndTheOtherRoot) {
    // l = a1 b0 - a0 b1 = 0 in each: the roots are 0 and -g/h.
    // r(t) = (t^2 + t + 1)/(t + 1): roots 0 and -2, r(0) = 1 > r(-2) = -3.
    EXPECT_EQ(ratioStep(1, 1, 1, 1, 1, 0), -2.0);
    // r(t) = (t + 1)/(t^2 + t + 1): r(0) = 1 > r(-2) = -1/3, t1 = -2 wins.
    EXPECT_EQ(ratioStep(1, 1, 0, 1, 1, 1), -2.0);
    // r(t) = -(t + 1)/(t^2 + t + 1): r(0) = -1 < r(-2) = 1/3, the zero step wins.
    EXPECT_EQ(bitsOf(ratioStep(-1, -1, 0, 1, 1, 1)), bitsOf(0.0));
}

TEST(RatioStep, ProductsAreRoundedBeforeSubtraction) {
    // With a2 = a1 = b1 = b2 = e and e*e inexact, h = e*e - e*e is exactly 0
    // when each product is rounded: the linear branch gives
    // t = -(l/g) = -(-2e / -4e) = -0.5. A fused multiply-add keeps the
    // product's rounding error in h and takes the quadratic branch instead.
    const double e = 1.0 + std::ldexp(1.0, -30);
    EXPECT_EQ(ratioStep(3.0, e, e, 1.0, e, e), -0.5);
}

TEST(RatioStep, GIsGroupedAsTwiceEachProduct) {
    // (a2*2)*b0 overflows to Inf before b0 = 0.5 halves it, so g = Inf and
    // t = -(l/g) = -0; 2*(a2*b0 - b2*a0) would give g = 1e308 and t = -5e-309.
    EXPECT_EQ(bitsOf(ratioStep(1, 1, 1e308, 0.5, 0, 0)), bitsOf(-0.0));
}

TEST(RatioStep, EqualRatiosAtBothCandidatesReturnTheSecond) {
    // r(t) = 1 + 1e-20 t/(t^2 + 1): candidates t1 = -1 and t2 = 1, where r
    // is 1 -+ 5e-21, both rounded to 1. A tie returns t2.
    EXPECT_EQ(ratioStep(1, 1e-20, 1, 1, 0, 1), 1.0);
}
