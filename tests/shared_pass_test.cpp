// A pass shared by several threads gives the one-thread solve's results, bit for bit.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>
#if defined(__linux__)
#include <sched.h>
#endif

#include "brelvane/ratio_descent.h"
#include "kernel_variant_test.h"
#include "random_problems.h"
#include "shared_pass.h"
#include "test_support.h"
#include "thread_team.h"

using namespace brelvane;

namespace {

// Halves in [-4, 4] (ties everywhere), P and Q symmetric, n in [130, 600];
// near the first coordinate of every slice of every team of 2 to 7 threads,
// and in the lanes and tails around it, equal values: -0.0 and a copy of the
// entry before; with nonFinite, NaN and infinities there too (the solve then
// stops at x0).
Problem wideProblem(std::mt19937_64& rng, bool nonFinite) {
    Problem p = dyadicPencil(rng, 130 + static_cast<std::int64_t>(rng() % 471));
    const double specials[] = {std::numeric_limits<double>::quiet_NaN(),
                               std::numeric_limits<double>::infinity(), -0.0};
    for (int team = 2; team <= 7; ++team)
        for (int s = 1; s < team; ++s) {
            const std::int64_t b = sliceStart(p.n, team, s) + static_cast<std::int64_t>(rng() % 5) - 2;
            if (b <= 0 || b >= p.n) continue;
            const auto j = static_cast<std::size_t>(b);
            std::vector<double>& v = rng() % 2 ? p.c : p.x0;
            v[j] = rng() % 3 ? v[j - 1] : specials[nonFinite ? rng() % 3 : 2];
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
        Problem p = i % 3 == 0 ? generalProblem(rng, 130, 400) : wideProblem(rng, i % 4 == 2);
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
        // More threads than this machine's processors, to put the slices' edges
        // where the specials are, and every pass on the team.
        TeamTuning tuning;
        tuning.capToProcessors = false;
        tuning.adaptive = false;
        for (int threads : {2, 3, 7}) {
            options.threads = threads;
            const Solve many = solve(*kernels, p, p.iterations, options, &tuning);
            const std::string what = "problem " + std::to_string(i) + ", n = " +
                                     std::to_string(p.n) + ", " + std::to_string(threads) + " threads";
            // The most threads a pass ran on: none ran when the solve stopped at x0.
            const std::int64_t most = one.report.iterations > 0 ? p.n / minSlice : 1;
            ASSERT_EQ(many.report.threads, threads < most ? threads : most) << what;
            ASSERT_EQ(many.report.sharedIterations > 0, many.report.threads > 1) << what;
            shared += many.report.threads > 1;
            const bool cut = one.report.stop == ratioDescentStopGradient ||
                             one.report.stop == ratioDescentStopTolerance;
            expectSameSolve(many, one, static_cast<std::size_t>(cut ? one.report.iterations : p.iterations) + 1,
                            what);
        }
    }
    EXPECT_GE(shared, 33);
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
    EXPECT_EQ(grown.report.threads, std::min(3, processorsAvailable()));  // at most the processors
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

// Automatic: one thread below the crossover, up to the limit above it; any
// count at most the processors, and a slice of minSlice coordinates each.
TEST(SharedPass, CountFollowsTheCrossoverTheLimitAndTheProcessors) {
    const int processors = processorsAvailable();
    EXPECT_EQ(passThreads(0, 0, threadCrossover - 1), 1);
    EXPECT_EQ(passThreads(0, 1, threadCrossover), 1);
    EXPECT_EQ(passThreads(0, 2, threadCrossover), std::min(processors, 2));
    EXPECT_EQ(passThreads(1000, 0, 1 << 20), std::min(processors, maxPassThreads));
    EXPECT_EQ(passThreads(5, 0, 3 * minSlice, minSlice, false), 3);
    EXPECT_EQ(passThreads(1000, 0, 1 << 20, minSlice, false), maxPassThreads);
    EXPECT_EQ(passThreads(4, 0, 40, 8, false), 4);
}

// The processors: the affinity mask's, lowered (never raised) by
// OMP_NUM_THREADS and by a CPU quota rounded up; the quota read from cgroup
// v2's cpu.max or v1's cpu.cfs_quota_us and cpu.cfs_period_us.
TEST(SharedPass, ProcessorsFollowTheAffinityOmpNumThreadsAndTheQuota) {
    EXPECT_EQ(processorsFor(2, nullptr, 0.0), 2);
    EXPECT_EQ(processorsFor(2, "8", 0.0), 2);
    EXPECT_EQ(processorsFor(8, "3", 0.0), 3);
    EXPECT_EQ(processorsFor(8, "none", 0.0), 8);
    EXPECT_EQ(processorsFor(8, "0", 0.0), 8);
    EXPECT_EQ(processorsFor(8, nullptr, 1.5), 2);
    EXPECT_EQ(processorsFor(8, "6", 0.5), 1);
    EXPECT_EQ(processorsFor(0, nullptr, 0.0), 1);
    const std::string v2 = ::testing::TempDir() + "brelvane_cgroup_v2";
    const std::string v1 = ::testing::TempDir() + "brelvane_cgroup_v1";
    auto write = [](const std::string& path, const char* text) {
        std::FILE* f = std::fopen(path.c_str(), "w");
        ASSERT_NE(f, nullptr) << path;
        std::fputs(text, f);
        std::fclose(f);
    };
    std::filesystem::create_directories(v2), std::filesystem::create_directories(v1);
    write(v2 + "/cpu.max", "150000 100000\n");
    EXPECT_EQ(cgroupCpuQuota(v2.c_str(), v1.c_str()), 1.5);
    write(v2 + "/cpu.max", "max 100000\n");
    EXPECT_EQ(cgroupCpuQuota(v2.c_str(), v1.c_str()), 0.0);
    std::filesystem::remove(v2 + "/cpu.max");
    write(v1 + "/cpu.cfs_quota_us", "300000\n");
    write(v1 + "/cpu.cfs_period_us", "100000\n");
    EXPECT_EQ(cgroupCpuQuota(v2.c_str(), v1.c_str()), 3.0);
    write(v1 + "/cpu.cfs_quota_us", "-1\n");
    EXPECT_EQ(cgroupCpuQuota(v2.c_str(), v1.c_str()), 0.0);
    std::filesystem::remove_all(v2), std::filesystem::remove_all(v1);
#if defined(__linux__)
    // This process held to one processor: a team of one.
    cpu_set_t all, one;
    ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
    CPU_ZERO(&one);
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &all)) {
            CPU_SET(cpu, &one);
            break;
        }
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
    const int held = processorsAvailable();
    const int threads = passThreads(4, 0, 1 << 16);
    ASSERT_EQ(sched_setaffinity(0, sizeof all, &all), 0);
    EXPECT_EQ(held, 1);
    EXPECT_EQ(threads, 1);
#endif
}

// The team adapts window by window without changing a bit: a schedule that
// switches between the team and the calling thread alone at every window,
// or at every third, or runs alone throughout, with small n shared too
// (slices of 8 coordinates), gives the one-thread results with every option.
TEST(SharedPass, SwitchingAtAnyWindowLeavesTheBits) {
    std::mt19937_64 rng(testSeed("SwitchingAtAnyWindowLeavesTheBits", 22));
    struct Plan {
        int every;  // a switch every this many windows; 0: alone throughout
    };
    for (int i = 0; i < 24; ++i) {
        Problem p = i % 2 ? dyadicProblem(rng, 60) : generalProblem(rng, 16, 200);
        RatioDescentOptions options;
        options.scaling = i % 3 ? ratioDescentScalingNone : ratioDescentScalingDiagonal;
        options.acceleration = i % 4 < 2 ? ratioDescentAccelerationRitz : ratioDescentAccelerationNone;
        options.tolerance = i % 5 == 1 ? 1e-9 : 0.0;
        options.gradientTolerance = i % 7 == 2 ? 1e-9 : 0.0;
        const std::int64_t iterations = 20 * p.n + 7;
        const Solve one = solve(fastestIterationKernels(), p, iterations, options);
        for (int every : {1, 3, 0}) {
            Plan plan{every};
            TeamTuning tuning;
            tuning.capToProcessors = false;
            tuning.minSlice = 8;
            tuning.windowIterations = 5;
            tuning.context = &plan;
            tuning.schedule = [](void* context, std::int64_t window) {
                const int e = static_cast<Plan*>(context)->every;
                return e == 0 ? 1 : (window / e) % 2 ? 1 : 2;
            };
            options.threads = 3;
            const Solve many = solve(fastestIterationKernels(), p, iterations, options, &tuning);
            const std::string what = "problem " + std::to_string(i) + ", n = " + std::to_string(p.n) +
                                     ", a switch every " + std::to_string(every);
            const bool cut = one.report.stop != ratioDescentStopStationary &&
                             one.report.stop != ratioDescentStopIterations;
            expectSameSolve(many, one, static_cast<std::size_t>(cut ? one.report.iterations : iterations) + 1,
                            what);
        }
    }
}

// A worker slowed on purpose (a millisecond before each of its slices) makes
// the team fall back to the calling thread in its first window, cut short,
// and the tries that follow keep it there; the bits stay those of one
// thread.
TEST(SharedPass, ASlowWorkerMakesTheTeamFallBack) {
    std::mt19937_64 rng(testSeed("ASlowWorkerMakesTheTeamFallBack", 5));
    const Problem p = generalProblem(rng, 600, 600);
    std::vector<int> slices;  // per window
    TeamTuning tuning;
    tuning.capToProcessors = false;
    tuning.windowIterations = 100;
    tuning.context = &slices;
    tuning.beforeSlice = [](void*, int) { std::this_thread::sleep_for(std::chrono::milliseconds(1)); };
    tuning.afterWindow = [](void* context, int ran, double) {
        static_cast<std::vector<int>*>(context)->push_back(ran);
    };
    RatioDescentOptions options;
    const std::int64_t iterations = 100 * 40;
    auto timed = [&](const TeamTuning* t, Solve& s) {
        const auto start = std::chrono::steady_clock::now();
        s = solve(fastestIterationKernels(), p, iterations, options, t);
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    Solve one, many;
    const double alone = timed(nullptr, one);
    options.threads = 2;
    const double seconds = timed(&tuning, many);
    expectSameSolve(many, one, static_cast<std::size_t>(iterations) + 1, "slowed worker");
    ASSERT_GE(slices.size(), 40u);  // windows cut short end early
    EXPECT_LT(seconds, alone + 0.03);  // a few slow passes, not a whole window of them
    EXPECT_EQ(slices[0], 1);  // measured alone
    EXPECT_EQ(slices[1], 2);  // measured on the team, and dropped
    EXPECT_EQ(slices[2], 1);
    EXPECT_LE(std::count(slices.begin() + 3, slices.end(), 2), 3);  // tries, ever rarer
    EXPECT_EQ(many.report.threads, 2);
    EXPECT_LE(many.report.sharedIterations, 4 * 3);  // each try cut after its first passes
}

// The rule, on a clock that gives each iteration the time asked of the team
// or of the calling thread alone: a team three times slower is dropped at
// once, its windows cut short, and tried ever more rarely; one twice as fast
// again is taken up at the next try; noise inside the margins (a team 0.9 of
// the time alone is not taken up, 0.93 is kept) never makes the choice flap.
TEST(SharedPass, TheTeamIsDroppedAndTakenUpByItsMeasuredTime) {
    struct Clock {
        std::atomic<std::int64_t> workerSlices{0};
        std::int64_t iterations = 0;
        double now = 0.0, team = 3.0, solo = 1.0;  // per window of 20 iterations
        std::vector<int> slices;
        std::vector<double> seconds;
        std::vector<std::int64_t> ends;  // iterations at each window's end
    } clock;
    TeamTuning tuning;
    tuning.capToProcessors = false;
    tuning.windowIterations = 20;
    tuning.context = &clock;
    tuning.beforeSlice = [](void* context, int) { ++static_cast<Clock*>(context)->workerSlices; };
    tuning.clock = [](void* context, std::int64_t iterations) {
        Clock& c = *static_cast<Clock*>(context);
        const double pace = (c.workerSlices.exchange(0) > 0 ? c.team : c.solo) / 20;
        c.now += static_cast<double>(iterations - c.iterations) * pace;
        c.iterations = iterations;
        return c.now;
    };
    tuning.afterWindow = [](void* context, int ran, double seconds) {
        Clock& c = *static_cast<Clock*>(context);
        c.slices.push_back(ran);
        c.seconds.push_back(seconds);
        c.ends.push_back(c.iterations);
        const std::size_t w = c.slices.size();
        // Windows 1-40 slow, 41-200 quick, 201-400 settled on the team with
        // 0.93 of the time alone, 401-500 thirty times slower, 501-800 at 0.9.
        c.team = w < 40 ? 3.0 : w < 200 ? 0.5 : w < 400 ? 0.93 : w < 500 ? 30.0 : 0.9;
    };
    std::mt19937_64 rng(testSeed("TheTeamIsDroppedAndTakenUpByItsMeasuredTime", 9));
    const Problem p = generalProblem(rng, 1000, 1000);
    RatioDescentOptions options;
    options.threads = 2;
    const std::int64_t iterations = 20 * 800;
    const Solve one = solve(fastestIterationKernels(), p, iterations, RatioDescentOptions{});
    const Solve many = solve(fastestIterationKernels(), p, iterations, options, &tuning);
    expectSameSolve(many, one, static_cast<std::size_t>(iterations) + 1, "measured clock");
    const std::vector<int>& s = clock.slices;
    ASSERT_GE(s.size(), 800u);
    auto teamWindows = [&](std::size_t from, std::size_t to) {
        return std::count(s.begin() + static_cast<std::ptrdiff_t>(from),
                          s.begin() + static_cast<std::ptrdiff_t>(to), 2);
    };
    EXPECT_EQ(s[0], 1);
    EXPECT_EQ(s[1], 2);
    EXPECT_EQ(s[2], 1);
    // Cut short after 6 timed iterations (the first over twice the pace alone
    // plus a quarter of a window; the one before them, where the workers wake
    // up, is not timed), and counted at their pace. That try cost 0.7 of a
    // window alone, so the next comes at least 0.7 / 0.05 windows later.
    EXPECT_EQ(clock.ends[1], 27);
    EXPECT_DOUBLE_EQ(clock.seconds[1], 3.0);
    EXPECT_EQ(teamWindows(3, 2 + 14), 0);
    EXPECT_LE(teamWindows(3, 40), 2);
    // Quick from window 41: on the team by the next try, and kept.
    const auto back = std::find(s.begin() + 40, s.end(), 2) - s.begin();
    EXPECT_LE(back, 40 + 80);
    EXPECT_GE(teamWindows(back, 400), 400 - back - 8);
    // Thirty times slower from 401: dropped in its first iteration, and
    // tried again soon, as after a stall; that try costs 2.9 windows alone
    // (its two iterations, the waking up included), so the next comes at
    // least 2.9 / 0.05 windows later; 0.9 is not enough to take it up, so it
    // stays dropped, save for tries.
    EXPECT_EQ(s[400], 2);
    EXPECT_EQ(clock.ends[400] - clock.ends[399], 1);
    const auto again = std::find(s.begin() + 401, s.end(), 2) - s.begin();
    EXPECT_LE(again, 401 + 8);
    EXPECT_EQ(teamWindows(again + 1, again + 58), 0);
    EXPECT_LE(teamWindows(440, 800), 6);
}

}  // namespace
