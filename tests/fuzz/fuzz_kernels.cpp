// Fuzz target: every SIMD variant of the per-iteration pass, unweighted and
// weighted, plain and reporting NaN, against the portable one and against the
// plain reading (update, gradient, its product with the weight, indexOfMaxAbs,
// a NaN anywhere), on arbitrary doubles; then whole solves pinned to each
// variant, with or without diagonal scaling, bit for bit.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "brelvane/ratio_descent.h"
#include "fuzz_input.h"
#include "iteration_kernels.h"
#include "test_support.h"
#include "vector_kernels.h"

using namespace brelvane;

namespace {

[[noreturn]] void finding(const char* variant, const char* what) {
    std::fprintf(stderr, "fuzz_kernels: %s: %s\n", variant, what);
    std::abort();
}

std::vector<double> values(FuzzInput& in, std::size_t count) {
    std::vector<double> v(count);
    for (double& e : v) e = in.value();
    return v;
}

bool same(const std::vector<double>& a, const std::vector<double>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!sameDouble(a[i], b[i])) return false;
    return true;
}

const KernelVariant variants[] = {KernelVariant::portable, KernelVariant::sse2, KernelVariant::avx2,
                                  KernelVariant::avx512};

// k as indexOfMaxAbs picks it over dR/dx_j = (Px + c)/D - ((Qx + d) R)/D,
// or with weights over w_j dR/dx_j; anyNaN: whether any of those is NaN.
ChoiceAndNaN plainChoice(const std::vector<double>& Px, const std::vector<double>& Qx,
                         const std::vector<double>& c, const std::vector<double>& d, double D,
                         double R, const std::vector<double>* w = nullptr) {
    std::vector<double> gR(Px.size());
    bool anyNaN = false;
    for (std::size_t j = 0; j < gR.size(); ++j) {
        gR[j] = (Px[j] + c[j]) / D - ((Qx[j] + d[j]) * R) / D;
        if (w) gR[j] = (*w)[j] * gR[j];
        anyNaN = anyNaN || std::isnan(gR[j]);
    }
    return {indexOfMaxAbs(gR.data(), static_cast<std::int64_t>(gR.size())), anyNaN};
}

bool same(const ChoiceAndNaN& a, const ChoiceAndNaN& b) {
    return a.k == b.k && a.anyNaN == b.anyNaN;
}

void checkPass(FuzzInput& in) {
    const std::size_t n = 1 + in.below(40);
    const std::int64_t count = static_cast<std::int64_t>(n);
    const std::vector<double> Px = values(in, n), Qx = values(in, n), Pk = values(in, n),
                              Qk = values(in, n), c = values(in, n), d = values(in, n);
    const double delta = in.value(), D = in.value(), R = in.value();
    const std::vector<double> w = values(in, n);
    std::vector<double> updatedPx(n), updatedQx(n);
    for (std::size_t j = 0; j < n; ++j)
        updatedPx[j] = delta * Pk[j] + Px[j], updatedQx[j] = delta * Qk[j] + Qx[j];
    const ChoiceAndNaN chosen = plainChoice(Px, Qx, c, d, D, R);
    const ChoiceAndNaN chosenAfterUpdate = plainChoice(updatedPx, updatedQx, c, d, D, R);
    const ChoiceAndNaN weighted = plainChoice(Px, Qx, c, d, D, R, &w);
    const ChoiceAndNaN weightedAfterUpdate = plainChoice(updatedPx, updatedQx, c, d, D, R, &w);

    for (KernelVariant v : variants) {
        const IterationKernels* kernels = iterationKernels(v);
        if (kernels == nullptr) continue;
        if (kernels->choose(Px.data(), Qx.data(), c.data(), d.data(), D, R, count) != chosen.k)
            finding(kernels->name, "choose differs from the plain choice");
        if (!same(
                kernels->chooseReportingNaN(Px.data(), Qx.data(), c.data(), d.data(), D, R, count),
                chosen))
            finding(kernels->name, "chooseReportingNaN differs from the plain choice");
        std::vector<double> px = Px, qx = Qx;
        if (kernels->updateAndChoose(px.data(), qx.data(), Pk.data(), Qk.data(), delta, c.data(),
                                     d.data(), D, R, count) != chosenAfterUpdate.k)
            finding(kernels->name, "updateAndChoose differs from the plain choice");
        if (!same(px, updatedPx) || !same(qx, updatedQx))
            finding(kernels->name, "updateAndChoose updated Px or Qx differently");
        px = Px, qx = Qx;
        if (!same(kernels->updateAndChooseReportingNaN(px.data(), qx.data(), Pk.data(), Qk.data(),
                                                       delta, c.data(), d.data(), D, R, count),
                  chosenAfterUpdate))
            finding(kernels->name, "updateAndChooseReportingNaN differs from the plain choice");
        if (!same(px, updatedPx) || !same(qx, updatedQx))
            finding(kernels->name, "updateAndChooseReportingNaN updated Px or Qx differently");
        if (kernels->chooseWeighted(Px.data(), Qx.data(), c.data(), d.data(), w.data(), D, R,
                                    count) != weighted.k)
            finding(kernels->name, "chooseWeighted differs from the plain choice");
        if (!same(kernels->chooseWeightedReportingNaN(Px.data(), Qx.data(), c.data(), d.data(),
                                                      w.data(), D, R, count),
                  weighted))
            finding(kernels->name, "chooseWeightedReportingNaN differs from the plain choice");
        px = Px, qx = Qx;
        if (kernels->updateAndChooseWeighted(px.data(), qx.data(), Pk.data(), Qk.data(), delta,
                                             c.data(), d.data(), w.data(), D, R,
                                             count) != weightedAfterUpdate.k)
            finding(kernels->name, "updateAndChooseWeighted differs from the plain choice");
        if (!same(px, updatedPx) || !same(qx, updatedQx))
            finding(kernels->name, "updateAndChooseWeighted updated Px or Qx differently");
        px = Px, qx = Qx;
        if (!same(kernels->updateAndChooseWeightedReportingNaN(px.data(), qx.data(), Pk.data(),
                                                               Qk.data(), delta, c.data(), d.data(),
                                                               w.data(), D, R, count),
                  weightedAfterUpdate))
            finding(kernels->name,
                    "updateAndChooseWeightedReportingNaN differs from the plain choice");
        if (!same(px, updatedPx) || !same(qx, updatedQx))
            finding(kernels->name,
                    "updateAndChooseWeightedReportingNaN updated Px or Qx differently");
    }
}

void checkSolve(FuzzInput& in) {
    const std::int64_t n = 1 + in.below(20);
    const std::int64_t iterations = in.below(64);
    const std::size_t m = static_cast<std::size_t>(n);
    const std::vector<double> x0 = values(in, m), c = values(in, m), d = values(in, m),
                              P = values(in, m * m), Q = values(in, m * m);
    const double alpha = in.value(), beta = in.value();
    RatioDescentOptions options;
    if (in.byte() % 2) options.scaling = ratioDescentScalingDiagonal;
    std::vector<double> want(m), wantTrace(static_cast<std::size_t>(iterations) + 1);
    RatioDescentReport wantReport;
    ratioDescentWith(*iterationKernels(KernelVariant::portable), want.data(), x0.data(), P.data(),
                     c.data(), alpha, Q.data(), d.data(), beta, n, iterations, wantTrace.data(),
                     &options, &wantReport);
    for (KernelVariant v : variants) {
        const IterationKernels* kernels = iterationKernels(v);
        if (kernels == nullptr || v == KernelVariant::portable) continue;
        std::vector<double> x(m), trace(wantTrace.size());
        RatioDescentReport report;
        ratioDescentWith(*kernels, x.data(), x0.data(), P.data(), c.data(), alpha, Q.data(),
                         d.data(), beta, n, iterations, trace.data(), &options, &report);
        if (!same(x, want) || !same(trace, wantTrace) ||
            !sameDouble(report.gradient, wantReport.gradient))
            finding(kernels->name, "a whole solve differs from the portable pass");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    checkPass(in);
    checkSolve(in);
    return 0;
}
