// When a solve stops early, its results are those of the plain descent run to the same point.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <utility>
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

// d_at = Inf with P = I, Q diagonal, x0 = 1, c = 0, beta = 1: D = Inf and
// R = 0, so dR/dx_j = 1/D - (Q_jj R)/D = 0 for j != at, and dR/dx_at =
// 0 - (Inf R)/D = NaN. Wherever the NaN sits (n = 2 both ways round; n = 17
// at index 0, the last lane and the next block of every width, and in the
// scalar tail), with or without weights, a tolerance must not stop (the run
// is the one without it) and the report gives NaN, also before any step.
TEST_P(Stopping, ANaNPartialDerivativeAnywhereNeverStopsAndIsReported) {
    std::vector<std::pair<std::int64_t, std::int64_t>> places = {{2, 0}, {2, 1}};
    for (std::int64_t at : {0, 1, 2, 3, 4, 7, 8, 9, 15, 16}) places.push_back({17, at});
    for (const auto& [n, at] : places) {
        for (const bool weighted : {false, true}) {
            Problem p;
            p.n = n;
            p.x0.assign(n, 1.0), p.c.assign(n, 0.0), p.d.assign(n, 0.0);
            p.d[at] = kInf;
            p.alpha = 0.0, p.beta = 1.0;
            p.P = symmetricMatrix(
                n, [](std::int64_t i, std::int64_t j) { return i == j ? 1.0 : 0.0; });
            // Weights 1, 1/2, 1/4 in turn.
            p.Q = symmetricMatrix(n, [&](std::int64_t i, std::int64_t j) {
                return i != j ? 0.0 : weighted ? std::ldexp(1.0, 2 * static_cast<int>(i % 3)) : 1.0;
            });
            RatioDescentOptions options;
            if (weighted) options.scaling = ratioDescentScalingDiagonal;
            const std::string what = "n = " + std::to_string(n) + ", NaN at " + std::to_string(at) +
                                     (weighted ? ", weighted" : "");
            const Solve plain = solve(*kernels, p, 40, options);
            options.gradientTolerance = 1e-3;
            const Solve r = solve(*kernels, p, 40, options);
            EXPECT_NE(r.report.stop, ratioDescentStopGradient) << what;
            EXPECT_TRUE(std::isnan(r.report.gradient)) << what;
            EXPECT_TRUE(std::isnan(plain.report.gradient)) << what;
            for (std::size_t t = 0; t < r.trace.size(); ++t)
                ASSERT_TRUE(sameDouble(r.trace[t], plain.trace[t])) << what << ", r[" << t << "]";
            for (std::int64_t j = 0; j < n; ++j)
                ASSERT_TRUE(sameDouble(r.x[j], plain.x[j])) << what;
            EXPECT_TRUE(std::isnan(solve(*kernels, p, 0, options).report.gradient)) << what;
        }
    }
}

// P and Q symmetric but for row 1 of column 2, Inf in both (the start-up
// reads the lower triangles): the first step, along x_2, makes P*x_1 and
// Q*x_1 infinite and dR/dx_1 = Inf - Inf = NaN from then on, while the
// descent over x_0 and x_2 stays finite and stalls, exactly stationary, after
// 6 steps with |dR/dx_k| = 0.012 at its choice. The stationary stop and the
// end of the count report NaN, and a tolerance above 0.012 never stops.
TEST_P(Stopping, ANaNLeftBehindByAnAsymmetricColumnIsReportedAtEveryStop) {
    Problem p;
    p.n = 3;
    p.x0 = {2, -2, 0}, p.c = {-2, 0, 2}, p.d = {0, -0.5, 1};
    p.alpha = 2.0, p.beta = 0.5;
    p.P = {1.5, 1, 1.5, 1, 2, 1.5, 1.5, kInf, 0.5};
    p.Q = {1.5, 2, 1.5, 2, -1.5, -1, 1.5, kInf, -2};
    RatioDescentOptions options;
    const Solve stationary = solve(*kernels, p, 29, options);
    EXPECT_EQ(stationary.report.stop, ratioDescentStopStationary);
    EXPECT_EQ(stationary.report.iterations, 6);
    EXPECT_TRUE(std::isfinite(stationary.report.ratio));
    EXPECT_TRUE(std::isnan(stationary.report.gradient)) << describe(stationary.report.gradient);
    const Solve counted = solve(*kernels, p, 3, options);
    EXPECT_EQ(counted.report.stop, ratioDescentStopIterations);
    EXPECT_TRUE(std::isnan(counted.report.gradient)) << describe(counted.report.gradient);
    options.gradientTolerance = 0.02;
    const Solve r = solve(*kernels, p, 29, options);
    EXPECT_EQ(r.report.stop, ratioDescentStopStationary);
    EXPECT_EQ(r.report.iterations, 6);
    // With Ritz steps the report comes from products formed afresh, through
    // the lower triangle: the NaN the column left behind is gone.
    options.acceleration = ratioDescentAccelerationRitz;
    const Solve accelerated = solve(*kernels, p, 29, options);
    EXPECT_NE(accelerated.report.stop, ratioDescentStopGradient);
    EXPECT_TRUE(std::isfinite(accelerated.report.gradient)) << describe(accelerated.report.gradient);
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

// Every kind of stop, with and without scaling and the Ritz step, writes into
// storage grown on request exactly what it writes into a buffer of the whole
// length: runs of up to 3000 iterations (a dozen growths), gradient and
// tolerance stops inside a stretch, stationary stops whose fill asks for the
// whole length at once (after the Ritz step, too). The lengths asked for
// double from 256 and never pass the whole length, so the storage is within
// twice what is written, or the whole length after a stationary stop.
TEST(GrowingTrace, HoldsWhatTheBufferHoldsAtEveryStop) {
    std::mt19937_64 rng(testSeed("HoldsWhatTheBufferHoldsAtEveryStop", 1616));
    int stops[5] = {0, 0, 0, 0, 0};
    for (int i = 0; i < 120; ++i) {
        Problem p = i % 17 == 0 ? Problem{0, {}, {}, {}, 0.5, {}, {}, 2.0, 0} : generalProblem(rng, 1, 12);
        if (i % 3 == 0) {  // a Rayleigh quotient: mostly stationary
            std::fill(p.c.begin(), p.c.end(), 0.0), std::fill(p.d.begin(), p.d.end(), 0.0);
            p.alpha = p.beta = 0.0;
        }
        const std::int64_t iterations = static_cast<std::int64_t>(rng() % 3000) - 2;
        RatioDescentOptions options;
        options.scaling = i % 4 == 1 ? ratioDescentScalingDiagonal : ratioDescentScalingNone;
        options.acceleration = i % 5 == 2 ? ratioDescentAccelerationRitz : ratioDescentAccelerationNone;
        const Solve half = solve(fastestIterationKernels(), p, iterations / 2, options);
        if (i % 6 == 1) options.gradientTolerance = half.report.gradient;
        if (i % 6 == 4) options.tolerance = half.report.residual;
        const Solve want = solve(fastestIterationKernels(), p, iterations, options);
        GrowingTrace g;
        const Solve got = solveGrowing(p, iterations, options, g);
        ++stops[want.report.stop];
        const std::int64_t length = std::max<std::int64_t>(iterations, 0) + 1;
        const std::int64_t written =
            want.report.stop == ratioDescentStopStationary ? length : want.report.iterations + 1;
        const std::string what = "problem " + std::to_string(i);
        expectSameSolve(got, want, static_cast<std::size_t>(written), what);
        ASSERT_EQ(g.lengths.front(), std::min<std::int64_t>(length, 256)) << what;
        for (std::size_t k = 1; k < g.lengths.size(); ++k)
            ASSERT_TRUE(g.lengths[k] >= 2 * g.lengths[k - 1] || g.lengths[k] == length) << what;
        ASSERT_LE(g.lengths.back(), length) << what;
        if (want.report.stop != ratioDescentStopStationary)
            ASSERT_LT(g.lengths.back(), std::max<std::int64_t>(2 * written, 257)) << what;
    }
    for (int stop : {0, 1, 2, 4}) EXPECT_GE(stops[stop], 8) << "stop " << stop;
    // Stationary from the start (x0 the lowest eigenvector): with the Ritz
    // step the fill runs on to the first checkpoint, 300, past the first
    // storage, and after the refused step to the whole length.
    Problem eigen{300, std::vector<double>(300, 0.0), symmetricMatrix(300, [](std::int64_t i, std::int64_t j) {
                      return i == j ? static_cast<double>(300 - i) : 0.0;
                  }), std::vector<double>(300, 0.0), 0.0, {}, std::vector<double>(300, 0.0), 0.0, 0};
    eigen.Q = symmetricMatrix(300, [](std::int64_t i, std::int64_t j) { return i == j ? 1.0 : 0.0; });
    eigen.x0[299] = 1.0;
    RatioDescentOptions ritz;
    ritz.acceleration = ratioDescentAccelerationRitz;
    const Solve want = solve(fastestIterationKernels(), eigen, 1000, ritz);
    ASSERT_EQ(want.report.stop, ratioDescentStopStationary);
    GrowingTrace g;
    expectSameSolve(solveGrowing(eigen, 1000, ritz, g), want, 1001, "stationary start");
    EXPECT_EQ(g.lengths, (std::vector<std::int64_t>{256, 512, 1001}));
}

// A refused growth ends the solve where the storage ends, as an interrupt
// would: the point, report and entries of the run to that count. Refusing
// the first storage leaves x untouched; refusing a stationary fill leaves the
// stationary point, which the full count gives too.
TEST(GrowingTrace, RefusedGrowthEndsTheSolveWithThePointReached) {
    std::mt19937_64 rng(testSeed("RefusedGrowthEndsTheSolveWithThePointReached", 2727));
    const Problem p = generalProblem(rng, 30, 30);
    ASSERT_EQ(solve(fastestIterationKernels(), p, 5000, {}).report.stop, ratioDescentStopIterations);
    // Lengths 256, 512, 1024, 2048, 4096 would be asked for.
    // The first storage, the second (512) and the fifth (4096).
    for (std::int64_t refuse : {1, 257, 2049}) {
        GrowingTrace g;
        g.refuseFrom = refuse;
        const Solve got = solveGrowing(p, 5000, {}, g);
        ASSERT_EQ(got.status, ratioDescentOutOfMemory) << refuse;
        if (refuse == 1) {
            EXPECT_EQ(got.x, std::vector<double>(30, -7.0));
            continue;
        }
        EXPECT_EQ(got.report.stop, ratioDescentStopInterrupted);
        ASSERT_EQ(got.report.iterations + 1, g.lengths.back());
        Solve want = solve(fastestIterationKernels(), p, got.report.iterations, {});
        want.status = ratioDescentOutOfMemory, want.report.stop = ratioDescentStopInterrupted;
        expectSameSolve(got, want, want.trace.size(), "refused growth " + std::to_string(refuse));
    }
    Problem rayleigh = p;
    std::fill(rayleigh.c.begin(), rayleigh.c.end(), 0.0), std::fill(rayleigh.d.begin(), rayleigh.d.end(), 0.0);
    rayleigh.alpha = rayleigh.beta = 0.0;
    GrowingTrace g;
    g.refuseFrom = 1000001;
    const Solve got = solveGrowing(rayleigh, 1000000, {}, g);
    const Solve full = solve(fastestIterationKernels(), rayleigh, 1000000, {});
    ASSERT_EQ(full.report.stop, ratioDescentStopStationary);
    ASSERT_EQ(got.status, ratioDescentOutOfMemory);
    EXPECT_EQ(got.report.stop, ratioDescentStopInterrupted);
    EXPECT_EQ(got.report.iterations, full.report.iterations);
    for (std::size_t i = 0; i < 30; ++i) EXPECT_TRUE(sameDouble(got.x[i], full.x[i]));
}

// The progress callback is told of the state before the first iteration, at
// every poll (every 2^20 / n = 699 iterations for n = 1500) and, where the
// solve has them, at the checkpoints (every 1500): each state is the one a
// solve of that many iterations reports (ratio, gradient, residual, bit for
// bit; with Ritz steps, whose report comes from products formed afresh, the
// ratio the trace holds there and the rest to rounding), telling changes no
// result, and a true answer stops the solve there as an interrupt does.
TEST(StoppingInterrupt, ProgressIsToldAtPollsAndCheckpointsAndChangesNothing) {
    std::mt19937_64 rng(testSeed("ProgressIsToldAtPollsAndCheckpointsAndChangesNothing", 31));
    const Problem p = generalProblem(rng, 1500, 1500);
    const std::int64_t interval = (std::int64_t{1} << 20) / p.n, iterations = 6000;
    struct Told {
        std::vector<RatioDescentProgress> states;
        std::size_t stopAt;  // the call that answers true
    };
    for (int variant = 0; variant < 3; ++variant) {
        RatioDescentOptions options;
        if (variant == 1) options.scaling = ratioDescentScalingDiagonal;
        if (variant == 2)
            options.acceleration = ratioDescentAccelerationRitz, options.tolerance = 1e-300;
        const RatioDescentOptions quiet = options;
        const Solve plain = solve(fastestIterationKernels(), p, iterations, quiet);
        Told told{{}, 0};
        options.progressContext = &told;
        options.progress = [](const RatioDescentProgress& state, void* context) {
            Told& t = *static_cast<Told*>(context);
            t.states.push_back(state);
            return t.states.size() == t.stopAt;
        };
        const Solve shown = solve(fastestIterationKernels(), p, iterations, options);
        const std::string what = "variant " + std::to_string(variant);
        ASSERT_EQ(shown.status, ratioDescentOk) << what;
        EXPECT_EQ(shown.report.iterations, plain.report.iterations) << what;
        for (std::size_t i = 0; i < plain.x.size(); ++i)
            ASSERT_TRUE(sameDouble(shown.x[i], plain.x[i])) << what << ": x[" << i << "]";
        for (std::size_t t = 0; t < plain.trace.size(); ++t)
            ASSERT_TRUE(sameDouble(shown.trace[t], plain.trace[t])) << what << ": r[" << t << "]";
        std::vector<std::int64_t> schedule;
        for (std::int64_t t = 0; t < iterations; ++t)
            if (t % interval == 0 || (variant == 2 && t % p.n == 0)) schedule.push_back(t);
        ASSERT_EQ(told.states.size(), schedule.size()) << what;
        for (std::size_t i = 0; i < told.states.size(); ++i) {
            const RatioDescentProgress& state = told.states[i];
            ASSERT_EQ(state.iterations, schedule[i]) << what;
            const Solve there = solve(fastestIterationKernels(), p, state.iterations, quiet);
            const std::string at = what + " at " + std::to_string(state.iterations);
            if (variant == 2) {
                EXPECT_TRUE(sameDouble(state.ratio, plain.trace[state.iterations])) << at;
                EXPECT_NEAR(state.ratio, there.report.ratio, 1e-12 * std::fabs(state.ratio)) << at;
                EXPECT_NEAR(state.gradient, there.report.gradient, 1e-9 * state.gradient) << at;
                EXPECT_NEAR(state.residual, there.report.residual, 1e-9 * state.residual) << at;
                continue;
            }
            EXPECT_TRUE(sameDouble(state.ratio, there.report.ratio)) << at;
            EXPECT_TRUE(sameDouble(state.gradient, there.report.gradient)) << at;
            EXPECT_EQ(state.residual, 0.0) << at;
        }
        // Stopped by its fourth answer.
        told = {{}, 4};
        const Solve stopped = solve(fastestIterationKernels(), p, iterations, options);
        ASSERT_EQ(stopped.status, ratioDescentInterrupted) << what;
        EXPECT_EQ(stopped.report.stop, ratioDescentStopInterrupted) << what;
        ASSERT_EQ(stopped.report.iterations, told.states[3].iterations) << what;
        const Solve there = solve(fastestIterationKernels(), p, stopped.report.iterations, quiet);
        for (std::size_t i = 0; i < there.x.size(); ++i)
            ASSERT_TRUE(sameDouble(stopped.x[i], there.x[i])) << what << ": stopped x[" << i << "]";
    }
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
