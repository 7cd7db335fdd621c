// Tests run once per pass variant: a fixture that skips a variant this CPU or
// build lacks, the one instantiation over all of them, and a solve on a
// pinned variant with its report.
#ifndef BRELVANE_KERNEL_VARIANT_TEST_H
#define BRELVANE_KERNEL_VARIANT_TEST_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "brelvane/ratio_descent.h"
#include "iteration_kernels.h"
#include "shared_pass.h"
#include "random_problems.h"
#include "test_support.h"
#include "vector_kernels.h"

using namespace brelvane;

class KernelVariantTest : public ::testing::TestWithParam<KernelVariant> {
protected:
    void SetUp() override {
        kernels = iterationKernels(GetParam());
        if (!kernels) GTEST_SKIP() << "this CPU or build lacks the variant";
    }
    const IterationKernels* kernels = nullptr;
};

inline std::string kernelVariantName(const ::testing::TestParamInfo<KernelVariant>& info) {
    static const char* const names[] = {"portable", "sse2", "avx2", "avx512"};
    return names[static_cast<int>(info.param)];
}

// The BLAS product, as the plain reference's start-up takes it.
inline std::vector<double> blasProduct(const std::vector<double>& A, const std::vector<double>& x,
                                       std::int64_t n) {
    std::vector<double> y(static_cast<std::size_t>(n));
    symMatVec(A.data(), x.data(), y.data(), n);
    return y;
}

struct Solve {
    RatioDescentStatus status;
    RatioDescentReport report;
    std::vector<double> x, trace;
};

// x and the trace start as -7.0, so an entry left unwritten shows.
inline Solve solve(const IterationKernels& kernels, const Problem& p, std::int64_t iterations,
                   const RatioDescentOptions& options, const TeamTuning* tuning = nullptr) {
    Solve r;
    r.x.assign(static_cast<std::size_t>(p.n), -7.0);
    r.trace.assign(static_cast<std::size_t>(iterations > 0 ? iterations : 0) + 1, -7.0);
    r.status = ratioDescentWith(kernels, r.x.data(), p.x0.data(), p.P.data(), p.c.data(), p.alpha,
                                p.Q.data(), p.d.data(), p.beta, p.n, iterations, r.trace.data(),
                                &options, &r.report, tuning);
    return r;
}

// The first `entries` of the trace, the report's ratio (the last of
// `ratios`) and its gradient, each bit for bit against the reference run.
inline void expectTraceAndReport(const Solve& got, const std::vector<double>& ratios,
                                 double gradient, std::size_t entries, const std::string& what) {
    for (std::size_t t = 0; t < entries; ++t)
        ASSERT_TRUE(sameDouble(got.trace[t], ratios[t]))
            << what << ": r[" << t << "] = " << describe(got.trace[t]) << ", want "
            << describe(ratios[t]);
    ASSERT_TRUE(sameDouble(got.report.ratio, ratios.back())) << what;
    ASSERT_TRUE(sameDouble(got.report.gradient, gradient))
        << what << ": gradient " << describe(got.report.gradient) << ", want " << describe(gradient);
}

// Trace storage grown with realloc, recording each length granted, its new
// entries -7.0 so that one left unwritten shows. Lengths of refuseFrom or
// more (0: none) are refused.
struct GrowingTrace {
    double* data = nullptr;
    std::vector<std::int64_t> lengths;
    std::int64_t refuseFrom = 0;
    ~GrowingTrace() { std::free(data); }
    static double* grow(void* context, std::int64_t length) {
        GrowingTrace& g = *static_cast<GrowingTrace*>(context);
        if (g.refuseFrom > 0 && length >= g.refuseFrom) return nullptr;
        double* p = static_cast<double*>(std::realloc(g.data, static_cast<std::size_t>(length) * 8));
        if (p == nullptr) return nullptr;
        std::fill(p + (g.lengths.empty() ? 0 : g.lengths.back()), p + length, -7.0);
        g.data = p;
        g.lengths.push_back(length);
        return p;
    }
    RatioDescentOptions on(RatioDescentOptions o) {
        o.growTrace = grow;
        o.traceContext = this;
        return o;
    }
};

inline Solve solveGrowing(const Problem& p, std::int64_t iterations, const RatioDescentOptions& options,
                   GrowingTrace& g) {
    Solve r;
    r.x.assign(static_cast<std::size_t>(p.n), -7.0);
    const RatioDescentOptions o = g.on(options);
    r.status = ratioDescentWithOptions(r.x.data(), nullptr, p.x0.data(), p.P.data(), p.c.data(),
                                       p.alpha, p.Q.data(), p.d.data(), p.beta, p.n, iterations, o,
                                       &r.report);
    if (!g.lengths.empty()) r.trace.assign(g.data, g.data + g.lengths.back());
    return r;
}

inline void expectSameSolve(const Solve& got, const Solve& want, std::size_t entries, const std::string& what) {
    ASSERT_EQ(got.status, want.status) << what;
    ASSERT_EQ(got.report.stop, want.report.stop) << what;
    ASSERT_EQ(got.report.iterations, want.report.iterations) << what;
    ASSERT_EQ(got.report.accelerations, want.report.accelerations) << what;
    for (double RatioDescentReport::*f : {&RatioDescentReport::gradient, &RatioDescentReport::ratio,
                                          &RatioDescentReport::residual})
        ASSERT_TRUE(sameDouble(got.report.*f, want.report.*f)) << what;
    for (std::size_t i = 0; i < want.x.size(); ++i)
        ASSERT_TRUE(sameDouble(got.x[i], want.x[i])) << what << ": x[" << i << "]";
    ASSERT_GE(got.trace.size(), entries) << what;
    for (std::size_t t = 0; t < entries; ++t)
        ASSERT_TRUE(sameDouble(got.trace[t], want.trace[t]))
            << what << ": r[" << t << "] = " << describe(got.trace[t]) << ", want "
            << describe(want.trace[t]);
}

#define BRELVANE_TEST_EVERY_KERNEL_VARIANT(suite)                                              \
    INSTANTIATE_TEST_SUITE_P(AllVariants, suite,                                              \
                             ::testing::Values(KernelVariant::portable, KernelVariant::sse2, \
                                               KernelVariant::avx2, KernelVariant::avx512),  \
                             kernelVariantName)

#endif
