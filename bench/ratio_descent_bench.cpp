// Per-iteration and start-up cost of the solver against the straightforward reading.
//
// Each benchmark solves one problem of size n with both, side by side in the
// same process: a start-up-only solve (0 iterations) and a solve of T
// iterations each; the time per iteration is (t_T - t_0) / T. Counters:
// baseline and solver ns per iteration, ns per element, their ratio, and the
// ratio of the solver to the bare memory traffic of one fused pass; and the
// solver with diagonal scaling, ns per iteration and its ratio to the solver
// without; and the solver as the MEX gateway calls it for the nine-argument
// call (an interrupt poll that loads a flag, as Octave's is read, and a
// report), against the plain entry point; and the solver with a gradient
// tolerance it never meets (each pass then also reports a NaN gradient, and
// the gradient at k is compared), against the plain entry point.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "brelvane/ratio_descent.h"
#include "block_pass.h"
#include "iteration_kernels.h"
#include "shared_pass.h"
#include "straightforward_descent.h"

using namespace brelvane;

namespace {

using Clock = std::chrono::steady_clock;

// Deterministic pseudo-random value in [-1, 1) from two indices, cheap enough
// to fill matrices of billions of entries.
double noise(std::uint64_t i, std::uint64_t j) {
    std::uint64_t h = (i * 0x9E3779B97F4A7C15ull) ^ (j + 0x632BE59BD9B4E019ull);
    h ^= h >> 31;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 29;
    return static_cast<double>(h >> 11) * 0x1.0p-52 - 1.0;
}

struct Problem {
    std::int64_t n;
    std::vector<double> x0, P, c, Q, d;
};

// Symmetric P; symmetric diagonally dominant Q, so D stays positive.
Problem makeProblem(std::int64_t n) {
    Problem p{n, std::vector<double>(n), std::vector<double>(n * n), std::vector<double>(n),
              std::vector<double>(n * n), std::vector<double>(n)};
    for (std::int64_t j = 0; j < n; ++j) {
        for (std::int64_t i = j; i < n; ++i) {
            p.P[i + j * n] = p.P[j + i * n] = noise(i, j);
            p.Q[i + j * n] = p.Q[j + i * n] = i == j ? 2.0 + noise(j, n) : noise(j, i) / n;
        }
        p.x0[j] = noise(j, 1), p.c[j] = noise(j, 2), p.d[j] = noise(j, 3) / n;
    }
    return p;
}

const Problem& problemOfSize(std::int64_t n) {
    static Problem cached{0, {}, {}, {}, {}, {}};
    if (cached.n != n) {
        cached = Problem{0, {}, {}, {}, {}, {}};  // release the old one first
        cached = makeProblem(n);
    }
    return cached;
}

using Solve = RatioDescentStatus (*)(const IterationKernels*, double*, const Problem&,
                                     std::int64_t);

RatioDescentStatus solveFused(const IterationKernels* k, double* x, const Problem& p,
                              std::int64_t iterations) {
    return ratioDescentWith(*k, x, p.x0.data(), p.P.data(), p.c.data(), 0.25, p.Q.data(),
                            p.d.data(), 1.0, p.n, iterations);
}

// Q_jj lies in [1, 3), so every weight is 1: the weighted solve takes the
// same path as the unweighted one, and the difference is the cost of the
// weighted pass alone.
RatioDescentStatus solveDiagonal(const IterationKernels* k, double* x, const Problem& p,
                                 std::int64_t iterations) {
    RatioDescentOptions options;
    options.scaling = ratioDescentScalingDiagonal;
    return ratioDescentWith(*k, x, p.x0.data(), p.P.data(), p.c.data(), 0.25, p.Q.data(),
                            p.d.data(), 1.0, p.n, iterations, nullptr, &options);
}

// A host's interrupt flag, never raised here.
int interruptFlag = 0;

bool flagRaised(void* flag) { return __atomic_load_n(static_cast<int*>(flag), __ATOMIC_RELAXED) > 0; }

RatioDescentStatus solvePolled(const IterationKernels* k, double* x, const Problem& p,
                               std::int64_t iterations) {
    RatioDescentOptions options;
    options.interruptPending = flagRaised;
    options.interruptContext = &interruptFlag;
    RatioDescentReport report;
    return ratioDescentWith(*k, x, p.x0.data(), p.P.data(), p.c.data(), 0.25, p.Q.data(),
                            p.d.data(), 1.0, p.n, iterations, nullptr, &options, &report);
}

// The smallest positive double: only a gradient of exactly zero would meet
// it, which these problems do not reach, so every iteration runs.
RatioDescentStatus solveTolerance(const IterationKernels* k, double* x, const Problem& p,
                                  std::int64_t iterations) {
    RatioDescentOptions options;
    options.gradientTolerance = std::numeric_limits<double>::denorm_min();
    return ratioDescentWith(*k, x, p.x0.data(), p.P.data(), p.c.data(), 0.25, p.Q.data(),
                            p.d.data(), 1.0, p.n, iterations, nullptr, &options);
}

RatioDescentStatus solveBaseline(const IterationKernels*, double* x, const Problem& p,
                                 std::int64_t iterations) {
    return straightforwardRatioDescent(x, p.x0.data(), p.P.data(), p.c.data(), 0.25, p.Q.data(),
                                       p.d.data(), 1.0, p.n, iterations);
}

double secondsOf(Solve solve, const IterationKernels* k, std::vector<double>& x,
                 const Problem& p, std::int64_t iterations) {
    const auto start = Clock::now();
    solve(k, x.data(), p, iterations);
    benchmark::DoNotOptimize(x.data());
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The loads and stores of one fused pass alone: column k of P and Q read,
// Px and Qx read and written, c and d read.
double bareTrafficSeconds(const Problem& p, std::int64_t passes) {
    std::vector<double> Px(p.x0), Qx(p.x0);
    const std::int64_t n = p.n;
    const auto start = Clock::now();
    for (std::int64_t t = 0; t < passes; ++t) {
        const std::int64_t k = (t * 7919) % n;
        const double* Pk = p.P.data() + k * n;
        const double* Qk = p.Q.data() + k * n;
        for (std::int64_t j = 0; j < n; ++j) {
            Px[j] = (Pk[j] + Px[j]) + p.c[j];
            Qx[j] = (Qk[j] + Qx[j]) + p.d[j];
        }
        benchmark::ClobberMemory();
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void BM_PerIteration(benchmark::State& state, KernelVariant variant) {
    const IterationKernels* kernels = iterationKernels(variant);
    if (!kernels) return state.SkipWithError("this CPU lacks the variant");
    const std::int64_t n = state.range(0);
    const Problem& p = problemOfSize(n);
    std::int64_t T = std::max<std::int64_t>(20000, 40000000 / n);

    std::vector<double> x(n), y(n), z(n), u(n), v(n);
    // Only iterations that are computed count: the solver ends at an exactly
    // stationary point, the baseline would repeat it, so both run to there.
    RatioDescentReport report;
    ratioDescentWith(*kernels, x.data(), p.x0.data(), p.P.data(), p.c.data(), 0.25, p.Q.data(),
                     p.d.data(), 1.0, n, T, nullptr, nullptr, &report);
    T = report.iterations;
    state.counters["iterations"] = static_cast<double>(T);
    solveFused(kernels, x.data(), p, 2000);
    solveBaseline(nullptr, y.data(), p, 2000);
    solveDiagonal(kernels, z.data(), p, 2000);
    if (std::memcmp(x.data(), y.data(), n * sizeof(double)) != 0)
        return state.SkipWithError("solver and baseline disagree");
    if (std::memcmp(x.data(), z.data(), n * sizeof(double)) != 0)
        return state.SkipWithError("the weights are not all 1: the paths differ");
    solveFused(kernels, x.data(), p, T);
    solveTolerance(kernels, v.data(), p, T);
    if (std::memcmp(x.data(), v.data(), n * sizeof(double)) != 0)
        return state.SkipWithError("the tolerance stopped the solve");

    double base = 0, fused = 0, baseStart = 0, fusedStart = 0, traffic = 0;
    double diagonal = 0, diagonalStart = 0, polled = 0, polledStart = 0;
    double tolerance = 0, toleranceStart = 0;
    for (auto _ : state) {
        baseStart += secondsOf(solveBaseline, nullptr, y, p, 0);
        base += secondsOf(solveBaseline, nullptr, y, p, T);
        fusedStart += secondsOf(solveFused, kernels, x, p, 0);
        fused += secondsOf(solveFused, kernels, x, p, T);
        diagonalStart += secondsOf(solveDiagonal, kernels, z, p, 0);
        diagonal += secondsOf(solveDiagonal, kernels, z, p, T);
        polledStart += secondsOf(solvePolled, kernels, u, p, 0);
        polled += secondsOf(solvePolled, kernels, u, p, T);
        toleranceStart += secondsOf(solveTolerance, kernels, v, p, 0);
        tolerance += secondsOf(solveTolerance, kernels, v, p, T);
        traffic += bareTrafficSeconds(p, T);
    }
    const double runs = static_cast<double>(state.iterations());
    const double baseIter = (base - baseStart) / runs / T * 1e9;
    const double fusedIter = (fused - fusedStart) / runs / T * 1e9;
    state.counters["base_ns/it"] = baseIter;
    state.counters["ns/it"] = fusedIter;
    state.counters["ns/elem"] = fusedIter / n;
    state.counters["speedup"] = baseIter / fusedIter;
    const double diagonalIter = (diagonal - diagonalStart) / runs / T * 1e9;
    state.counters["diag_ns/it"] = diagonalIter;
    state.counters["diag_vs_none"] = diagonalIter / fusedIter;
    const double polledIter = (polled - polledStart) / runs / T * 1e9;
    state.counters["poll_ns/it"] = polledIter;
    state.counters["poll_vs_plain"] = polledIter / fusedIter;
    const double toleranceIter = (tolerance - toleranceStart) / runs / T * 1e9;
    state.counters["tol_ns/it"] = toleranceIter;
    state.counters["tol_vs_plain"] = toleranceIter / fusedIter;
    const double trafficIter = traffic / runs / T * 1e9;
    state.counters["traffic_ns/it"] = trafficIter;
    state.counters["vs_traffic"] = fusedIter / trafficIter;
    state.counters["base_vs_traffic"] = baseIter / trafficIter;
    state.counters["startup_us"] = fusedStart / runs * 1e6;
}

// Seconds per computed iteration of a solve of T iterations with `options`,
// the start-up taken out; over `runs` runs.
double secondsPerIteration(const IterationKernels* k, const Problem& p, std::int64_t T,
                           const RatioDescentOptions& options, std::vector<double>& x,
                           const TeamTuning* tuning = nullptr) {
    RatioDescentReport report;
    auto run = [&](std::int64_t iterations) {
        const auto start = Clock::now();
        ratioDescentWith(*k, x.data(), p.x0.data(), p.P.data(), p.c.data(), 0.25, p.Q.data(),
                         p.d.data(), 1.0, p.n, iterations, nullptr, &options, &report, tuning);
        benchmark::DoNotOptimize(x.data());
        return std::chrono::duration<double>(Clock::now() - start).count();
    };
    const double start = run(0);
    const double all = run(T);
    return (all - start) / static_cast<double>(report.iterations);
}

// The Rayleigh-Ritz acceleration against the plain descent on the widest
// variant, per iteration with the checkpoints included, and the tolerance
// test alone (a tolerance no point meets, so it runs at every checkpoint).
void BM_Acceleration(benchmark::State& state) {
    const IterationKernels* k = &fastestIterationKernels();
    const std::int64_t n = state.range(0);
    const Problem& p = problemOfSize(n);
    const std::int64_t T = std::max<std::int64_t>(20000, 40000000 / n);
    std::vector<double> x(n);
    RatioDescentOptions plain, ritz, tolerance;
    plain.gradientTolerance = ritz.gradientTolerance = tolerance.gradientTolerance = 0.0;
    ritz.acceleration = ratioDescentAccelerationRitz;
    tolerance.tolerance = 1e-300;
    double none = 0, accelerated = 0, tested = 0;
    for (auto _ : state) {
        none += secondsPerIteration(k, p, T, plain, x);
        accelerated += secondsPerIteration(k, p, T, ritz, x);
        tested += secondsPerIteration(k, p, T, tolerance, x);
    }
    const double runs = static_cast<double>(state.iterations());
    state.counters["none_ns/it"] = none / runs * 1e9;
    state.counters["ritz_ns/it"] = accelerated / runs * 1e9;
    state.counters["ritz_vs_none"] = accelerated / none;
    state.counters["tol_vs_none"] = tested / none;
}

// The pass shared by threads against the calling thread alone, on the
// widest variant: one, two sharing every pass (the team's own pace) and the
// automatic count (which may be one, and adapts), taken in turn. speedup_2
// and speedup_auto: one thread's time over theirs; auto_shared: the share of
// a solve's iterations the automatic team shared.
void BM_Threads(benchmark::State& state) {
    const IterationKernels* k = &fastestIterationKernels();
    const std::int64_t n = state.range(0);
    const Problem& p = problemOfSize(n);
    const std::int64_t T = std::max<std::int64_t>(20000, 40000000 / n);
    std::vector<double> x(n), y(n);
    RatioDescentOptions one, two, automatic;
    two.threads = 2;
    automatic.threads = 0;
    TeamTuning fixed;
    fixed.adaptive = false;
    RatioDescentReport report;
    ratioDescentWith(*k, y.data(), p.x0.data(), p.P.data(), p.c.data(), 0.25, p.Q.data(),
                     p.d.data(), 1.0, n, 2000, nullptr, &two, &report);
    ratioDescentWith(*k, x.data(), p.x0.data(), p.P.data(), p.c.data(), 0.25, p.Q.data(),
                     p.d.data(), 1.0, n, 2000, nullptr, &one, nullptr);
    if (std::memcmp(x.data(), y.data(), n * sizeof(double)) != 0)
        return state.SkipWithError("one and two threads disagree");
    double t1 = 0, t2 = 0, ta = 0;
    for (auto _ : state) {
        t1 += secondsPerIteration(k, p, T, one, x);
        t2 += secondsPerIteration(k, p, T, two, x, &fixed);
        ta += secondsPerIteration(k, p, T, automatic, x);
    }
    // The team of the automatic count, and how much of a solve it shared.
    ratioDescentWith(*k, x.data(), p.x0.data(), p.P.data(), p.c.data(), 0.25, p.Q.data(),
                     p.d.data(), 1.0, n, T, nullptr, &automatic, &report);
    const double runs = static_cast<double>(state.iterations());
    state.counters["1_ns/it"] = t1 / runs * 1e9;
    state.counters["2_ns/it"] = t2 / runs * 1e9;
    state.counters["auto_ns/it"] = ta / runs * 1e9;
    state.counters["auto_threads"] = report.threads;
    state.counters["auto_shared"] = static_cast<double>(report.sharedIterations) / static_cast<double>(T);
    state.counters["speedup_2"] = t1 / t2;
    state.counters["speedup_auto"] = t1 / ta;
}

// What the team's timing of itself costs: long solves on two threads that
// adapt (as every solve does) against two that share every pass, taken in
// turn; adaptive_vs_fixed is the one's time over the other's. On an idle
// machine the adaptive team settles on sharing, so the difference is the
// measuring and the tries alone.
void BM_AdaptiveCost(benchmark::State& state) {
    const IterationKernels* k = &fastestIterationKernels();
    const std::int64_t n = state.range(0);
    const Problem& p = problemOfSize(n);
    const std::int64_t T = 800000000 / n;
    std::vector<double> x(n);
    RatioDescentOptions two;
    two.threads = 2;
    TeamTuning fixed;
    fixed.adaptive = false;
    double adaptive = 0, shared = 0;
    for (auto _ : state) {
        adaptive += secondsPerIteration(k, p, T, two, x);
        shared += secondsPerIteration(k, p, T, two, x, &fixed);
    }
    const double runs = static_cast<double>(state.iterations());
    state.counters["adaptive_ns/it"] = adaptive / runs * 1e9;
    state.counters["fixed_ns/it"] = shared / runs * 1e9;
    state.counters["adaptive_vs_fixed"] = adaptive / shared;
}

// The block descent's pass (several eigenpairs): one iteration's update and
// choice for kb vectors, as 15 of every 16 passes run it (without measuring
// each vector's largest gradient), columns j taken in turn from an n-by-n matrix so
// that they come from memory as in a solve. Counter: ns per coordinate per
// vector, and the same for the single-vector pass of PerIteration's kind
// (one updateAndChoose over the same columns) for comparison.
void BM_BlockPass(benchmark::State& state, KernelVariant variant) {
    const IterationKernels* kernels = iterationKernels(variant);
    if (!kernels) return state.SkipWithError("this CPU lacks the variant");
    const std::int64_t n = state.range(0);
    const int kb = static_cast<int>(state.range(1));
    const Problem& p = problemOfSize(n);
    const std::int64_t tiles = (n + blockTile - 1) / blockTile;
    std::vector<double> PX(tiles * blockTile * kb), QX(PX.size()), gmax(kb * blockTile);
    std::vector<double> t(kb), R(kb), c(kb), x(n), y(n);
    for (std::size_t i = 0; i < PX.size(); ++i) PX[i] = noise(i, 1), QX[i] = noise(i, 2);
    std::vector<int> active(kb);
    for (int i = 0; i < kb; ++i)
        t[i] = 1e-3 * noise(i, 3), R[i] = noise(i, 4), c[i] = 1.0, active[i] = i;
    for (std::int64_t l = 0; l < n; ++l) x[l] = noise(l, 5), y[l] = noise(l, 6);
    const std::int64_t passes = std::max<std::int64_t>(200, 200000000 / (n * kb));
    double block = 0.0, single = 0.0;
    for (auto _ : state) {
        auto start = Clock::now();
        for (std::int64_t it = 0; it < passes; ++it) {
            const std::int64_t j = it % n;
            const BlockPassArguments a{PX.data(), QX.data(), p.P.data() + j * n,
                                       p.Q.data() + j * n, 1.0, t.data(), R.data(), c.data(),
                                       nullptr, nullptr, kb, n, active.data(), kb};
            benchmark::DoNotOptimize(kernels->blockPass(a, 0, tiles));
        }
        block += std::chrono::duration<double>(Clock::now() - start).count();
        start = Clock::now();
        for (std::int64_t it = 0; it < passes; ++it) {
            const std::int64_t j = it % n;
            benchmark::DoNotOptimize(kernels->updateAndChoose(
                x.data(), y.data(), p.P.data() + j * n, p.Q.data() + j * n, 1e-9, p.c.data(),
                p.d.data(), 1.0, 0.5, n));
        }
        single += std::chrono::duration<double>(Clock::now() - start).count();
    }
    const double runs = static_cast<double>(state.iterations()) * static_cast<double>(passes);
    state.counters["ns/coord/vector"] = block / runs / static_cast<double>(n * kb) * 1e9;
    state.counters["single_ns/coord"] = single / runs / static_cast<double>(n) * 1e9;
}

// Sizes outermost, so every variant of one size reuses the same problem.
void registerAll() {
    const std::pair<KernelVariant, const char*> variants[] = {
        {KernelVariant::sse2, "sse2"}, {KernelVariant::avx2, "avx2"},
        {KernelVariant::avx512, "avx512"}, {KernelVariant::portable, "portable"}};
    for (std::int64_t n : {64, 256, 1000, 4000, 16000, 32000})
        for (const auto& [variant, name] : variants)
            benchmark::RegisterBenchmark((std::string("PerIteration/") + name).c_str(),
                                         BM_PerIteration, variant)
                ->ArgName("n")
                ->Arg(n)
                ->Iterations(2)
                ->Unit(benchmark::kMillisecond);
    for (std::int64_t n : {1000, 3000, 6000})
        for (int kb : {5, 13})
            for (const auto& [variant, name] : variants)
                benchmark::RegisterBenchmark((std::string("BlockPass/") + name).c_str(),
                                             BM_BlockPass, variant)
                    ->Args({n, kb})
                    ->ArgNames({"n", "kb"})
                    ->Iterations(2)
                    ->Unit(benchmark::kMillisecond);
    for (std::int64_t n : {64, 256, 512, 1000, 1500, 2000, 3000, 4000, 16000})
        benchmark::RegisterBenchmark("Threads", BM_Threads)
            ->ArgName("n")
            ->Arg(n)
            ->Iterations(3)
            ->Unit(benchmark::kMillisecond);
    for (std::int64_t n : {4000, 16000})
        benchmark::RegisterBenchmark("AdaptiveCost", BM_AdaptiveCost)
            ->ArgName("n")
            ->Arg(n)
            ->Iterations(10)
            ->Unit(benchmark::kMillisecond);
    for (std::int64_t n : {64, 256, 1000, 4000, 16000})
        benchmark::RegisterBenchmark("Acceleration", BM_Acceleration)
            ->ArgName("n")
            ->Arg(n)
            ->Iterations(3)
            ->Unit(benchmark::kMillisecond);
}

}  // namespace

int main(int argc, char** argv) {
    registerAll();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
