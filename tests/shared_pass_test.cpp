// A pass shared by several threads gives the one-thread solve's results, bit for bit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "brelvane/ratio_descent.h"
#include "kernel_variant_test.h"
#include "random_problems.h"
#include "shared_pass.h"
#include "test_support.h"

using namespace brelvane;

namespace {

// Halves in [-4, 4] (ties everywhere), P and Q symmetric, n in [130, 600];
// near the first coordinate of every slice of every team of 2 to 7 threads,
// and in the lanes and tails around it, specials and equal values: NaN,
// infinities, -0.0, and a copy of the entry before.
Problem wideProblem(std::mt19937_64& rng) {
    Problem p;
    p.n = 130 + static_cast<std::int64_t>(rng() % 471);
    const auto n = static_cast<std::size_t>(p.n);
    auto vec = [&] {
        std::vector<double> v(n);
        for (double& e : v) e = dyadic(rng);
        return v;
    };
    p.x0 = vec(), p.c = vec(), p.d = vec();
    p.P = symmetricMatrix(p.n, [&](std::int64_t, std::int64_t) { return dyadic(rng); });
    p.Q = symmetricMatrix(p.n, [&](std::int64_t i, std::int64_t j) {
        return i == j ? 8.0 + dyadic(rng) : dyadic(rng) / 16;
    });
    p.alpha = dyadic(rng), p.beta = 4.0;
    const double specials[] = {std::numeric_limits<double>::quiet_NaN(),
                               std::numeric_limits<double>::infinity(), -0.0};
    for (int team = 2; team <= 7; ++team)
        for (int s = 1; s < team; ++s) {
            const std::int64_t b = sliceStart(p.n, team, s) + static_cast<std::int64_t>(rng() % 5) - 2;
            if (b <= 0 || b >= p.n) continue;
            const auto j = static_cast<std::size_t>(b);
            std::vector<double>& v = rng() % 2 ? p.c : p.x0;
            v[j] = rng() % 3 ? v[j - 1] : specials[rng() % 3];
        }
    p.iterations = 1 + static_cast<std::int64_t>(rng() % 4) * p.n;
    return p;
}

class SharedPassSolve : public KernelVariantTest {};

// Every option and stop: scaling, the Ritz step, the relative and the
// gradient tolerance, Rayleigh quotients that become stationary; teams of 2,
// 3 and 7, whose slices put the specials and ties at their edges.
TEST_P(SharedPassSolve, EveryThreadCountGivesTheOneThreadBits) {
    std::mt19937_64 rng(testSeed("EveryThreadCountGivesTheOneThreadBits", 1789));
    int shared = 0;
    for (int i = 0; i < 14; ++i) {
        Problem p = i % 3 == 0 ? generalProblem(rng, 130, 400) : wideProblem(rng);
        if (i % 4 == 1) {
            std::fill(p.c.begin(), p.c.end(), 0.0), std::fill(p.d.begin(), p.d.end(), 0.0);
            p.alpha = p.beta = 0.0;
        }
        RatioDescentOptions options;
        options.scaling = i % 2 ? ratioDescentScalingDiagonal : ratioDescentScalingNone;
        options.acceleration = i % 3 == 1 ? ratioDescentAccelerationRitz : ratioDescentAccelerationNone;
        options.tolerance = i % 5 == 2 ? 1e-6 : 0.0;
        options.gradientTolerance = i % 7 == 3 ? 1e-9 : 0.0;
        const Solve one = solve(*kernels, p, p.iterations, options);
        ASSERT_EQ(one.report.threads, 1);
        for (int threads : {2, 3, 7}) {
            options.threads = threads;
            const Solve many = solve(*kernels, p, p.iterations, options);
            const std::string what = "problem " + std::to_string(i) + ", n = " +
                                     std::to_string(p.n) + ", " + std::to_string(threads) + " threads";
            const std::int64_t most = p.n / minSlice;
            ASSERT_EQ(many.report.threads, threads < most ? threads : most) << what;
            shared += many.report.threads > 1;
            const bool cut = one.report.stop == ratioDescentStopGradient ||
                             one.report.stop == ratioDescentStopTolerance;
            expectSameSolve(many, one, static_cast<std::size_t>(cut ? one.report.iterations : p.iterations) + 1,
                            what);
        }
    }
    EXPECT_GE(shared, 35);
}

BRELVANE_TEST_EVERY_KERNEL_VARIANT(SharedPassSolve);

// A trace that grows stops the other threads while the caller's growTrace
// runs and starts them again; an interrupt ends the shared solve as it ends
// one on the calling thread (the sanitizers check that nothing is left).
TEST(SharedPass, GrowthAndInterruptLeaveTheBitsAsTheyAre) {
    std::mt19937_64 rng(testSeed("GrowthAndInterruptLeaveTheBitsAsTheyAre", 31));
    const Problem p = generalProblem(rng, 600, 600);
    RatioDescentOptions options;
    options.acceleration = ratioDescentAccelerationRitz;
    const Solve one = solve(fastestIterationKernels(), p, 5000, options);
    options.threads = 3;
    GrowingTrace g;
    const Solve grown = solveGrowing(p, 5000, options, g);
    EXPECT_EQ(grown.report.threads, 3);
    EXPECT_GE(g.lengths.size(), 5u);
    expectSameSolve(grown, one, 5001, "growing trace");

    int polls = 0;
    options.interruptContext = &polls;
    options.interruptPending = [](void* context) { return ++*static_cast<int*>(context) == 2; };
    const Solve stopped = solve(fastestIterationKernels(), p, 100000, options);
    EXPECT_EQ(stopped.status, ratioDescentInterrupted);
    options.threads = 1;
    options.interruptPending = nullptr;
    const Solve plain = solve(fastestIterationKernels(), p, stopped.report.iterations, options);
    for (std::size_t i = 0; i < plain.x.size(); ++i)
        ASSERT_TRUE(sameDouble(stopped.x[i], plain.x[i])) << i;
}

// Automatic: one thread below the crossover, up to the limit above it.
TEST(SharedPass, AutomaticCountFollowsTheCrossoverAndTheLimit) {
    EXPECT_EQ(passThreads(0, 0, threadCrossover - 1), 1);
    EXPECT_EQ(passThreads(0, 1, threadCrossover), 1);
    EXPECT_EQ(passThreads(0, 2, threadCrossover), processorsAvailable() >= 2 ? 2 : 1);
    EXPECT_EQ(passThreads(5, 0, 3 * minSlice), 3);
    EXPECT_EQ(passThreads(1000, 0, 1 << 20), maxPassThreads);
}

}  // namespace
