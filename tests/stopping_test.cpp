// When a solve stops early, its results are those of the plain descent run to the same point.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "brelvane/ratio_descent.h"
#include "iteration_kernels.h"
#include "kernel_variant_test.h"
#include "random_problems.h"
#include "straightforward_solver.h"
#include "test_support.h"

using namespace brelvane;

namespace {

// x, the first `entries` trace values, the ratio and the gradient of the
// report against the plain descent run for `iterations`.
template <class Product>
void expectPlain(const Solve& got, const Problem& p, std::int64_t iterations, std::size_t entries,
                 Product product, const std::string& what) {
    std::vector<double> ratios;
    double gradient = 0;
    const std::vector<double> x = plainRatioDescent(p.x0, p.P, p.c, p.alpha, p.Q, p.d, p.beta, p.n,
                                                    iterations, product, &ratios, &gradient);
    for (std::size_t i = 0; i < x.size(); ++i)
        ASSERT_TRUE(sameDouble(got.x[i], x[i]))
            << what << ": x[" << i << "] = " << describe(got.x[i]) << ", want " << describe(x[i]);
    expectTraceAndReport(got, ratios, gradient, entries, what);
}

class Stopping : public KernelVariantTest {};

// Rayleigh quotients reach exactly zero steps; dyadic problems with NaN,
// infinities, -0.0 and D = 0 test the bitwise comparison (a zero step on a
// column holding an infinity changes P*x; -0.0 + +0.0 changes a sign).
TEST_P(Stopping, StationaryExitGivesTheFullRunsResults) {
    std::mt19937_64 rng(testSeed("StationaryExitGivesTheFullRunsResults", 909));
    int stationary = 0;
    for (int i = 0; i < 40; ++i) {
        Problem p = generalProblem(rng, 3, 20);
        std::fill(p.c.begin(), p.c.end(), 0.0), std::fill(p.d.begin(), p.d.end(), 0.0);
        p.alpha = p.beta = 0.0;
        const std::int64_t iterations = 1000 * p.n;
        const Solve r = solve(*kernels, p, iterations, {});
        ASSERT_EQ(r.status, ratioDescentOk);
        stationary += r.report.stop == ratioDescentStopStationary;
        if (r.report.stop == ratioDescentStopStationary) ASSERT_LT(r.report.iterations, iterations);
        expectPlain(r, p, iterations, r.trace.size(), blasProduct, "Rayleigh " + std::to_string(i));
    }
    EXPECT_GE(stationary, 20) << "too few problems reached the stationary exit to test it";
    int dyadicStationary = 0;
    for (int i = 0; i < 1500; ++i) {
        Problem p = dyadicProblem(rng, 6);
        for (auto* v : {&p.x0, &p.P, &p.c, &p.Q, &p.d}) sprinkleSpecials(rng, *v);
        const std::int64_t iterations = 60;
        const Solve r = solve(*kernels, p, iterations, {});
        ASSERT_EQ(r.status, ratioDescentOk);
        dyadicStationary += r.report.stop == ratioDescentStopStationary;
        expectPlain(r, p, iterations, r.trace.size(), lowerSymmetricProduct,
                    "dyadic " + std::to_string(i));
    }
    EXPECT_GE(dyadicStationary, 40);
}

// Stops before the first iteration whose gradient is within the tolerance:
// the run to that count gives the same x and r, and one iteration fewer
// still has a larger gradient. A NaN gradient never stops.
TEST_P(Stopping, GradientToleranceStopsAtTheFirstSmallGradient) {
    std::mt19937_64 rng(testSeed("GradientToleranceStopsAtTheFirstSmallGradient", 5150));
    RatioDescentOptions options;
    for (int i = 0; i < 30; ++i) {
        const Problem p = generalProblem(rng, 2, 16);
        // The gradient reached after 200 iterations is reached again by then.
        options.gradientTolerance = solve(*kernels, p, 200, {}).report.gradient;
        const Solve r = solve(*kernels, p, 100000, options);
        if (!(options.gradientTolerance > 0.0)) continue;
        ASSERT_EQ(r.report.stop, ratioDescentStopGradient) << i;
        const std::int64_t m = r.report.iterations;
        ASSERT_LE(m, 200);
        EXPECT_LE(r.report.gradient, options.gradientTolerance);
        expectPlain(r, p, m, static_cast<std::size_t>(m) + 1, blasProduct,
                    "tolerance " + std::to_string(i));
        if (m > 0) {
            const Solve before = solve(*kernels, p, m - 1, {});
            EXPECT_GT(before.report.gradient, options.gradientTolerance) << i;
        }
    }
    Problem zeroD = generalProblem(rng, 3, 3);
    std::fill(zeroD.Q.begin(), zeroD.Q.end(), 0.0), std::fill(zeroD.d.begin(), zeroD.d.end(), 0.0);
    zeroD.beta = 0.0;
    options.gradientTolerance = 1e300;
    const Solve r = solve(*kernels, zeroD, 50, options);
    EXPECT_NE(r.report.stop, ratioDescentStopGradient);
}

BRELVANE_TEST_EVERY_KERNEL_VARIANT(Stopping);

// The poll answers true the third time: after the start-up and after 2^20 / n
// iterations it says no, after twice that yes (n = 1024: long before the
// descent could become stationary). The solve stops there with
// the plain run's point, and frees what it holds (checked by the sanitizers).
TEST(StoppingInterrupt, StopsAtThePollThatAnswersTrueWithThePointReached) {
    std::mt19937_64 rng(testSeed("StopsAtThePollThatAnswersTrueWithThePointReached", 77));
    const Problem p = generalProblem(rng, 1024, 1024);
    int polls = 0;
    RatioDescentOptions options;
    options.interruptContext = &polls;
    options.interruptPending = [](void* context) { return ++*static_cast<int*>(context) == 3; };
    const Solve r = solve(fastestIterationKernels(), p, 3 * (std::int64_t{1} << 20) / 1024, options);
    EXPECT_EQ(r.status, ratioDescentInterrupted);
    EXPECT_EQ(r.report.stop, ratioDescentStopInterrupted);
    EXPECT_EQ(polls, 3);
    ASSERT_EQ(r.report.iterations, 2 * (std::int64_t{1} << 20) / 1024);
    expectPlain(r, p, r.report.iterations, static_cast<std::size_t>(r.report.iterations) + 1,
                blasProduct, "interrupted");
}

TEST(StoppingInterrupt, EmptyProblemIsStationaryOrStopsForItsZeroGradient) {
    RatioDescentReport report;
    std::vector<double> r(6, -7.0);
    ASSERT_EQ(ratioDescentWithOptions(nullptr, r.data(), nullptr, nullptr, nullptr, 3.0, nullptr,
                                      nullptr, 4.0, 0, 5, {}, &report),
              ratioDescentOk);
    EXPECT_EQ(report.stop, ratioDescentStopStationary);
    EXPECT_EQ(report.iterations, 1);
    EXPECT_EQ(report.ratio, 0.75);
    EXPECT_EQ(r, std::vector<double>(6, 0.75));
    RatioDescentOptions options;
    options.gradientTolerance = 1e-3;
    ASSERT_EQ(ratioDescentWithOptions(nullptr, r.data(), nullptr, nullptr, nullptr, 3.0, nullptr,
                                      nullptr, 4.0, 0, 5, options, &report),
              ratioDescentOk);
    EXPECT_EQ(report.stop, ratioDescentStopGradient);
    EXPECT_EQ(report.iterations, 0);
    EXPECT_EQ(report.gradient, 0.0);
}

}  // namespace
