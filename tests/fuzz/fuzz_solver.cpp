// Fuzz target: ratioDescent, ratioDescentTrace, ratioStep and indexOfMaxAbs on
// arbitrary doubles (NaN, infinities, extremes, ties), small n and iteration
// counts, symmetric or not, against the plain second evaluation, bit for bit;
// and the pass shared by 2 or 3 threads, switched on and off window by
// window, against the calling thread alone; and eigenpairs on every path.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <vector>

#include "brelvane/ratio_descent.h"
#include "fuzz_input.h"
#include "iteration_kernels.h"
#include "random_problems.h"
#include "ratio_step.h"
#include "shared_pass.h"
#include "straightforward_accelerated.h"
#include "straightforward_solver.h"
#include "test_support.h"
#include "vector_kernels.h"

using namespace brelvane;

namespace {

[[noreturn]] void finding(const char* what) {
    std::fprintf(stderr, "fuzz_solver: %s\n", what);
    std::abort();
}

// Storage of exactly `count` doubles, so a read past the end is caught.
std::vector<double> values(FuzzInput& in, std::size_t count) {
    std::vector<double> v(count);
    for (double& e : v) e = in.value();
    return v;
}

std::vector<double> blasProduct(const std::vector<double>& A, const std::vector<double>& x,
                                std::int64_t n) {
    std::vector<double> y(static_cast<std::size_t>(n));
    symMatVec(A.data(), x.data(), y.data(), n);
    return y;
}

bool same(const std::vector<double>& a, const std::vector<double>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!sameDouble(a[i], b[i])) return false;
    return true;
}

void checkSolve(FuzzInput& in) {
    const std::int64_t n = in.below(20);
    // Mostly short runs; now and then one long enough to become exactly
    // stationary, which must end with the full count's x and r.
    const std::uint8_t count = in.byte();
    const std::int64_t iterations =
        count >= 240 ? 256 + 128 * static_cast<std::int64_t>(count - 240)
                     : static_cast<std::int8_t>(count) / 2;
    const std::size_t m = static_cast<std::size_t>(n);
    const bool symmetric = in.byte() % 2 == 0;
    const std::vector<double> x0 = values(in, m), c = values(in, m), d = values(in, m);
    std::vector<double> P = values(in, m * m), Q = values(in, m * m);
    if (symmetric)
        for (std::size_t j = 0; j < m; ++j)
            for (std::size_t i = j + 1; i < m; ++i)
                P[j + i * m] = P[i + j * m], Q[j + i * m] = Q[i + j * m];
    const double alpha = in.value(), beta = in.value();

    std::vector<double> x(m), y(m),
        trace(static_cast<std::size_t>(iterations > 0 ? iterations : 0) + 1);
    if (ratioDescent(x.data(), x0.data(), P.data(), c.data(), alpha, Q.data(), d.data(), beta, n,
                     iterations) != ratioDescentOk ||
        ratioDescentTrace(y.data(), trace.data(), x0.data(), P.data(), c.data(), alpha, Q.data(),
                          d.data(), beta, n, iterations) != ratioDescentOk)
        finding("a small problem was refused");
    if (!same(x, y)) finding("ratioDescent and ratioDescentTrace disagree on x");
    if (n == 0) {
        // No coordinate: R stays alpha / beta, formed as from empty sums.
        for (double r : trace)
            if (!sameDouble(r, (0.0 + alpha) / (0.0 + beta)))
                finding("r moved without coordinates");
        return;
    }
    std::vector<double> ratios;
    double gradient = 0.0;
    const std::vector<double> want = plainRatioDescent(x0, P, c, alpha, Q, d, beta, n, iterations,
                                                       blasProduct, &ratios, &gradient);
    if (!same(x, want)) finding("x differs from the plain evaluation");
    if (!same(trace, ratios)) finding("r differs from the plain evaluation");

    // With a tolerance: the run is the plain one cut at report.iterations.
    RatioDescentOptions options;
    options.gradientTolerance = std::fabs(in.value());
    if (!std::isfinite(options.gradientTolerance)) options.gradientTolerance = 0.0;
    RatioDescentReport report;
    if (ratioDescentWithOptions(y.data(), trace.data(), x0.data(), P.data(), c.data(), alpha,
                                Q.data(), d.data(), beta, n, iterations, options,
                                &report) != ratioDescentOk)
        finding("a small problem was refused with options");
    if (report.stop != ratioDescentStopGradient) {
        if (!same(y, want) || !sameDouble(report.gradient, gradient))
            finding("a run the tolerance did not stop differs from the plain one");
    } else {
        if (!(report.gradient <= options.gradientTolerance)) finding("stopped above the tolerance");
        std::vector<double> cut;
        const std::vector<double> shorter = plainRatioDescent(
            x0, P, c, alpha, Q, d, beta, n, report.iterations, blasProduct, &cut, &gradient);
        if (!same(y, shorter) || !sameDouble(report.gradient, gradient))
            finding("a gradient stop differs from the plain run of that count");
    }
    if (!sameDouble(report.ratio, trace[static_cast<std::size_t>(
                                      report.stop == ratioDescentStopGradient ? report.iterations
                                                                              : std::max<std::int64_t>(iterations, 0))]))
        finding("the report's ratio is not the trace's last");
}

// With checkpoints: Ritz steps and the relative tolerance, with or without
// diagonal scaling, against the plain evaluation, bit for bit; a Rayleigh
// quotient now and then, whose Ritz point is scaled rather than bordered.
void checkAccelerated(FuzzInput& in) {
    Problem p;
    p.n = 1 + in.below(10);
    const std::size_t m = static_cast<std::size_t>(p.n);
    const std::uint8_t flags = in.byte();
    const std::int64_t iterations = 1 + in.byte() * (p.n + 1) / 16;
    p.x0 = values(in, m), p.c = values(in, m), p.d = values(in, m);
    p.P = values(in, m * m), p.Q = values(in, m * m);
    for (std::size_t j = 0; j < m; ++j)
        for (std::size_t i = j + 1; i < m; ++i) p.P[j + i * m] = p.P[i + j * m], p.Q[j + i * m] = p.Q[i + j * m];
    p.alpha = in.value(), p.beta = in.value();
    if (flags & 1) {
        std::fill(p.c.begin(), p.c.end(), 0.0), std::fill(p.d.begin(), p.d.end(), 0.0);
        p.alpha = p.beta = 0.0;
    }
    RatioDescentOptions options;
    options.acceleration = flags & 2 ? ratioDescentAccelerationNone : ratioDescentAccelerationRitz;
    options.scaling = flags & 4 ? ratioDescentScalingDiagonal : ratioDescentScalingNone;
    options.tolerance = flags & 8 ? std::fabs(in.value()) : 0.0;
    if (!std::isfinite(options.tolerance)) options.tolerance = 0.0;
    std::vector<double> x(m), trace(static_cast<std::size_t>(iterations) + 1);
    RatioDescentReport report;
    if (ratioDescentWithOptions(x.data(), trace.data(), p.x0.data(), p.P.data(), p.c.data(), p.alpha,
                                p.Q.data(), p.d.data(), p.beta, p.n, iterations, options,
                                &report) != ratioDescentOk)
        finding("a small problem was refused with checkpoints");
    PlainAcceleratedDescent plain(
        p, options, options.scaling == ratioDescentScalingDiagonal ? weightsOf(p) : std::vector<double>{});
    const PlainRun want = plain.run(iterations, blasProduct);
    if (report.stop != want.stop || report.iterations != want.iterations ||
        report.accelerations != want.accelerations)
        finding("with checkpoints, the stop differs from the plain evaluation");
    trace.resize(want.ratios.size());
    if (!same(x, want.x) || !same(trace, want.ratios))
        finding("with checkpoints, x or r differs from the plain evaluation");
    if (!sameDouble(report.gradient, want.gradient) || !sameDouble(report.residual, want.residual) ||
        !sameDouble(report.ratio, want.ratios.back()))
        finding("with checkpoints, the report differs from the plain evaluation");
}

void checkStep(FuzzInput& in) {
    const double a0 = in.value(), a1 = in.value(), a2 = in.value();
    const double b0 = in.value(), b1 = in.value(), b2 = in.value();
    if (!sameDouble(ratioStep(a0, a1, a2, b0, b1, b2), plainRatioStep(a0, a1, a2, b0, b1, b2)))
        finding("ratioStep differs from the plain evaluation");
}

void checkArgmax(FuzzInput& in) {
    const std::vector<double> v = values(in, in.below(20));
    const std::int64_t n = static_cast<std::int64_t>(v.size());
    std::int64_t k = 0;
    for (std::int64_t i = 1; i < n; ++i)
        if (std::fabs(v[i]) > std::fabs(v[k])) k = i;
    if (indexOfMaxAbs(v.data(), n) != k) finding("indexOfMaxAbs differs from the plain loop");
}

// The pass shared by 2 or 3 threads with slices of 8 coordinates (n from 16
// on), the team switched on and off at windows of 1 to 8 iterations as the
// input says, every option: x, r and the report are the calling thread's
// alone. The problem is halves from a seeded generator, with values of the
// input's choosing at places of its choosing.
void checkShared(FuzzInput& in) {
    const std::int64_t n = 16 + in.below(25);
    const std::size_t m = static_cast<std::size_t>(n);
    std::uint64_t seed = 0;
    for (int i = 0; i < 8; ++i) seed = seed << 8 | in.byte();
    std::mt19937_64 rng(seed);
    Problem p = dyadicPencil(rng, n);
    for (unsigned k = in.below(6); k > 0; --k) {
        std::vector<double>* const where[] = {&p.x0, &p.c, &p.d, &p.P, &p.Q};
        std::vector<double>& v = *where[in.below(5)];
        const std::size_t i = (static_cast<std::size_t>(in.byte()) << 8 | in.byte()) % v.size();
        v[i] = in.value();
        if (v.size() > m) v[i % m * m + i / m] = v[i];  // P and Q stay symmetric
    }
    const std::uint8_t flags = in.byte();
    if (flags & 1) {
        std::fill(p.c.begin(), p.c.end(), 0.0), std::fill(p.d.begin(), p.d.end(), 0.0);
        p.alpha = p.beta = 0.0;
    }
    RatioDescentOptions options;
    options.acceleration = flags & 2 ? ratioDescentAccelerationRitz : ratioDescentAccelerationNone;
    options.scaling = flags & 4 ? ratioDescentScalingDiagonal : ratioDescentScalingNone;
    options.tolerance = flags & 8 ? 1e-9 : 0.0;
    options.gradientTolerance = flags & 16 ? 1e-9 : 0.0;
    const std::int64_t iterations = 1 + in.byte() * p.n / 8;
    struct Plan {
        std::uint64_t teamAt;  // bit w % 64: window w on the team
    } plan{0};
    for (int i = 0; i < 8; ++i) plan.teamAt = plan.teamAt << 8 | in.byte();
    TeamTuning tuning;
    tuning.capToProcessors = false;
    tuning.minSlice = 8;
    tuning.windowIterations = 1 + in.below(8);
    tuning.context = &plan;
    tuning.schedule = [](void* context, std::int64_t window) {
        return static_cast<Plan*>(context)->teamAt >> (window % 64) & 1 ? 2 : 1;
    };

    struct Run {
        std::vector<double> x, trace;
        RatioDescentReport report;
    } one, many;
    for (Run* r : {&one, &many}) {
        const bool shared = r == &many;
        options.threads = shared ? 2 + static_cast<int>(flags >> 7) : 1;
        r->x.assign(m, -7.0);
        r->trace.assign(static_cast<std::size_t>(iterations) + 1, -7.0);
        if (ratioDescentWith(fastestIterationKernels(), r->x.data(), p.x0.data(), p.P.data(),
                             p.c.data(), p.alpha, p.Q.data(), p.d.data(), p.beta, p.n, iterations,
                             r->trace.data(), &options, &r->report,
                             shared ? &tuning : nullptr) != ratioDescentOk)
            finding("a shared solve was refused");
    }
    const RatioDescentReport &a = one.report, &b = many.report;
    if (a.threads != 1 || b.threads > 3) finding("a team of the wrong size");
    if (a.stop != b.stop || a.iterations != b.iterations || a.accelerations != b.accelerations ||
        !sameDouble(a.ratio, b.ratio) || !sameDouble(a.gradient, b.gradient) ||
        !sameDouble(a.residual, b.residual))
        finding("a shared solve's report differs from one thread's");
    if (!same(one.x, many.x)) finding("a shared solve's x differs from one thread's");
    const std::size_t entries = static_cast<std::size_t>(a.iterations) + 1;
    one.trace.resize(entries), many.trace.resize(entries);
    if (!same(one.trace, many.trace)) finding("a shared solve's r differs from one thread's");
}

// eigenpairs on small pencils with fuzzed entries, options and starts: the
// portable pass on one thread against the widest on 2 or 3, bit for bit,
// and what a result must satisfy: a non-finite input reported as such,
// lambda in sigma's order, a tolerance stop only within the tolerance.
void checkEigenpairs(FuzzInput& in) {
    const std::int64_t n = 1 + in.below(24);
    const std::int64_t k = 1 + in.below(static_cast<unsigned>(n));
    const std::size_t m = static_cast<std::size_t>(n);
    std::uint64_t seed = 0;
    for (int i = 0; i < 4; ++i) seed = seed << 8 | in.byte();
    std::mt19937_64 rng(seed);
    Problem p = dyadicPencil(rng, n);
    for (unsigned e = in.below(4); e > 0; --e) {
        std::vector<double>& v = in.byte() & 1 ? p.P : p.Q;
        const std::size_t i = in.byte() % v.size();
        v[i] = in.value();
        v[i % m * m + i / m] = v[i];
    }
    const std::int64_t columns = in.below(static_cast<unsigned>(k) + 1);
    std::vector<double> start = values(in, m * static_cast<std::size_t>(columns));
    const std::uint8_t flags = in.byte();
    EigenpairsOptions options;
    options.largest = flags & 1;
    options.scaling = flags & 2 ? ratioDescentScalingDiagonal : ratioDescentScalingNone;
    options.tolerance = flags & 4 ? 0.0 : flags & 8 ? 1e-14 : 1e-10;
    options.maxSweeps = in.below(40);
    options.guard = static_cast<int>(in.below(6)) - 1;
    struct Run {
        RatioDescentStatus status;
        std::vector<double> V, lambda, errors;
        EigenpairsReport report;
    } one, many;
    for (Run* r : {&one, &many}) {
        const bool shared = r == &many;
        options.threads = shared ? 2 + (flags >> 7) : 1;
        r->V.assign(m * static_cast<std::size_t>(k), -7.0);
        r->lambda.assign(static_cast<std::size_t>(k), -7.0);
        r->errors.assign(static_cast<std::size_t>(k), -7.0);
        r->status = eigenpairsWith(
            shared ? fastestIterationKernels() : *iterationKernels(KernelVariant::portable),
            r->V.data(), r->lambda.data(), r->errors.data(), p.P.data(), p.Q.data(), n, k,
            columns > 0 ? start.data() : nullptr, columns, options, &r->report);
    }
    if (one.status != many.status || !same(one.V, many.V) || !same(one.lambda, many.lambda) ||
        !same(one.errors, many.errors) || one.report.sweeps != many.report.sweeps)
        finding("eigenpairs differ between one thread on the portable pass and a team");
    // Non-finite input is reported as such; so is an overflow, which finite
    // entries below 1e50 (with starts below 1e50) cannot cause at n <= 24.
    double largest = 0.0;
    for (const std::vector<double>* v : {&p.P, &p.Q, &start})
        for (double e : *v) largest = std::isnan(e) ? kInf : std::max(largest, std::fabs(e));
    if (!(largest <= std::numeric_limits<double>::max()) && one.status != ratioDescentNotFinite)
        finding("eigenpairs took non-finite input");
    if (largest < 1e50 && one.status == ratioDescentNotFinite)
        finding("eigenpairs reported moderate finite input as not finite");
    if (one.status != ratioDescentOk) return;
    for (std::int64_t i = 1; i < k; ++i)
        if (options.largest ? one.lambda[i] > one.lambda[i - 1] : one.lambda[i] < one.lambda[i - 1])
            finding("eigenpairs' lambda out of order");
    if (one.report.stop == eigenpairsStopTolerance)
        for (double e : one.errors)
            if (!(e <= options.tolerance)) finding("a tolerance stop above the tolerance");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    checkStep(in);
    checkArgmax(in);
    checkSolve(in);
    checkAccelerated(in);
    checkShared(in);
    checkEigenpairs(in);
    return 0;
}
