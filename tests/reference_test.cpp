// The solver against the plain second evaluation, bit for bit, on seeded random problems.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "brelvane/ratio_descent.h"
#include "iteration_kernels.h"
#include "random_problems.h"
#include "straightforward_solver.h"
#include "test_support.h"
#include "vector_kernels.h"

using namespace brelvane;

namespace {

// Solves with the given kernels, or through ratioDescent's own choice when null.
template <class Product>
void expectSameAsPlain(const Problem& p, Product product, int index,
                       const IterationKernels* kernels = nullptr) {
    std::vector<double> x(static_cast<std::size_t>(p.n));
    const RatioDescentStatus status =
        kernels ? ratioDescentWith(*kernels, x.data(), p.x0.data(), p.P.data(), p.c.data(),
                                   p.alpha, p.Q.data(), p.d.data(), p.beta, p.n, p.iterations)
                : ratioDescent(x.data(), p.x0.data(), p.P.data(), p.c.data(), p.alpha, p.Q.data(),
                               p.d.data(), p.beta, p.n, p.iterations);
    ASSERT_EQ(status, ratioDescentOk);
    const std::vector<double> want =
        plainRatioDescent(p.x0, p.P, p.c, p.alpha, p.Q, p.d, p.beta, p.n, p.iterations, product);
    for (std::int64_t i = 0; i < p.n; ++i)
        ASSERT_TRUE(sameDouble(x[i], want[i]))
            << "problem " << index << " (n = " << p.n << ", iterations = " << p.iterations
            << "): x[" << i << "] = " << describe(x[i]) << ", want " << describe(want[i]);
}

std::vector<double> blasProduct(const std::vector<double>& A, const std::vector<double>& x,
                                std::int64_t n) {
    std::vector<double> y(static_cast<std::size_t>(n));
    symMatVec(A.data(), x.data(), y.data(), n);
    return y;
}

}  // namespace

TEST(ReferenceComparison, DyadicProblemsMatchBitForBit) {
    std::mt19937_64 rng(testSeed("DyadicProblemsMatchBitForBit", 20261208));
    for (int i = 0; i < 600; ++i) expectSameAsPlain(dyadicProblem(rng), lowerSymmetricProduct, i);
}

TEST(ReferenceComparison, RatioTraceMatchesBitForBitAndLeavesXUnchanged) {
    std::mt19937_64 rng(testSeed("RatioTraceMatchesBitForBitAndLeavesXUnchanged", 12));
    for (int i = 0; i < 400; ++i) {
        const Problem p = dyadicProblem(rng, 17);
        const std::size_t length = static_cast<std::size_t>(p.iterations > 0 ? p.iterations : 0) + 1;
        std::vector<double> x(p.n), y(p.n), trace(length + 1, -7.0), want;
        ASSERT_EQ(ratioDescentTrace(x.data(), trace.data(), p.x0.data(), p.P.data(), p.c.data(),
                                    p.alpha, p.Q.data(), p.d.data(), p.beta, p.n, p.iterations),
                  ratioDescentOk);
        ASSERT_EQ(ratioDescent(y.data(), p.x0.data(), p.P.data(), p.c.data(), p.alpha, p.Q.data(),
                               p.d.data(), p.beta, p.n, p.iterations),
                  ratioDescentOk);
        plainRatioDescent(p.x0, p.P, p.c, p.alpha, p.Q, p.d, p.beta, p.n, p.iterations,
                          lowerSymmetricProduct, &want);
        ASSERT_EQ(want.size(), length);
        for (std::size_t t = 0; t < length; ++t)
            ASSERT_TRUE(sameDouble(trace[t], want[t]))
                << "problem " << i << ": r[" << t << "] = " << describe(trace[t]) << ", want "
                << describe(want[t]);
        EXPECT_EQ(trace[length], -7.0) << "problem " << i << ": wrote past the trace";
        for (std::int64_t j = 0; j < p.n; ++j) ASSERT_TRUE(sameDouble(x[j], y[j]));
    }
}

TEST(ReferenceComparison, GeneralProblemsMatchBitForBitOnTheSameBlas) {
    std::mt19937_64 rng(testSeed("GeneralProblemsMatchBitForBitOnTheSameBlas", 977));
    for (int i = 0; i < 300; ++i) expectSameAsPlain(generalProblem(rng, 1, 48), blasProduct, i);
}

// Every variant of the per-iteration pass, pinned, against the plain solver.
class KernelVariants : public testing::TestWithParam<KernelVariant> {
protected:
    void SetUp() override {
        kernels = iterationKernels(GetParam());
        if (!kernels) GTEST_SKIP() << "this CPU or build lacks the variant";
    }
    const IterationKernels* kernels = nullptr;
};

TEST_P(KernelVariants, DyadicProblemsOfEveryWidthMatchBitForBit) {
    // n from 1 to 17 covers an empty, partial and full vector body and every
    // tail length of 2, 4 and 8 lanes; small integers make ties common.
    std::mt19937_64 rng(testSeed("DyadicProblemsOfEveryWidthMatchBitForBit", 31));
    for (int i = 0; i < 3000; ++i) expectSameAsPlain(dyadicProblem(rng, 17), lowerSymmetricProduct, i, kernels);
}

TEST_P(KernelVariants, LargeProblemsMatchBitForBit) {
    std::mt19937_64 rng(testSeed("LargeProblemsMatchBitForBit", 4));
    for (int i = 0; i < 12; ++i) {
        expectSameAsPlain(generalProblem(rng, 100, 1000), blasProduct, i, kernels);
    }
}

// k as the pass reporting NaN gives it, against indexOfMaxAbs over gR, and
// its flag against a NaN anywhere in gR.
void expectReported(const ChoiceAndNaN& got, const std::vector<double>& gR,
                    const std::string& what) {
    const std::int64_t n = static_cast<std::int64_t>(gR.size());
    EXPECT_EQ(got.k, indexOfMaxAbs(gR.data(), n)) << what;
    EXPECT_EQ(got.anyNaN, std::any_of(gR.begin(), gR.end(), [](double v) { return std::isnan(v); }))
        << what;
}

TEST_P(KernelVariants, ChoiceMatchesIndexOfMaxAbsWithSpecialsAnywhere) {
    // Integer data: many exact ties of |dR/dx_j|, and each special value in
    // each position, through both the read-only and the updating pass, and
    // the same passes reporting NaN.
    const double specials[] = {kNaN, kInf, -kInf, 1e300, -3.0, 0.0};
    std::mt19937_64 rng(testSeed("ChoiceMatchesIndexOfMaxAbsWithSpecialsAnywhere", 8));
    for (std::int64_t n : {1, 2, 3, 5, 7, 8, 9, 15, 16, 17, 33, 64}) {
        for (std::int64_t at = 0; at < n; ++at) {
            for (double special : specials) {
                std::vector<double> Px(n), Qx(n), c(n), d(n), Pk(n), Qk(n);
                for (std::int64_t j = 0; j < n; ++j)
                    Px[j] = dyadic(rng), Qx[j] = dyadic(rng), c[j] = dyadic(rng),
                    d[j] = dyadic(rng), Pk[j] = dyadic(rng), Qk[j] = dyadic(rng);
                Px[at] = special;
                const double D = 2.0, R = 0.5, delta = 1.5;
                std::vector<double> gR(n);
                for (std::int64_t j = 0; j < n; ++j)
                    gR[j] = (Px[j] + c[j]) / D - ((Qx[j] + d[j]) * R) / D;
                const std::string what = "n = " + std::to_string(n) + ", special " +
                                         describe(special) + " at " + std::to_string(at);
                EXPECT_EQ(kernels->choose(Px.data(), Qx.data(), c.data(), d.data(), D, R, n),
                          indexOfMaxAbs(gR.data(), n))
                    << what;
                expectReported(
                    kernels->chooseReportingNaN(Px.data(), Qx.data(), c.data(), d.data(), D, R, n),
                    gR, what);

                const std::vector<double> px = Px, qx = Qx;
                std::vector<double> wantPx(n), wantQx(n);
                for (std::int64_t j = 0; j < n; ++j) {
                    wantPx[j] = delta * Pk[j] + Px[j], wantQx[j] = delta * Qk[j] + Qx[j];
                    gR[j] = (wantPx[j] + c[j]) / D - ((wantQx[j] + d[j]) * R) / D;
                }
                EXPECT_EQ(kernels->updateAndChoose(Px.data(), Qx.data(), Pk.data(), Qk.data(),
                                                   delta, c.data(), d.data(), D, R, n),
                          indexOfMaxAbs(gR.data(), n))
                    << "n = " << n << ", special " << special << " at " << at;
                for (std::int64_t j = 0; j < n; ++j)
                    ASSERT_TRUE(sameDouble(Px[j], wantPx[j]) && sameDouble(Qx[j], wantQx[j]));
                std::vector<double> updatedPx = px, updatedQx = qx;
                expectReported(kernels->updateAndChooseReportingNaN(
                                   updatedPx.data(), updatedQx.data(), Pk.data(), Qk.data(), delta,
                                   c.data(), d.data(), D, R, n),
                               gR, "updating, " + what);
                for (std::int64_t j = 0; j < n; ++j)
                    ASSERT_TRUE(sameDouble(updatedPx[j], wantPx[j]) &&
                                sameDouble(updatedQx[j], wantQx[j]));

                // Weighted by powers of two, on the updated vectors: ties stay common.
                std::vector<double> w(n), wgR(n);
                for (std::int64_t j = 0; j < n; ++j)
                    w[j] = std::ldexp(1.0, static_cast<int>(rng() % 3) - 1), wgR[j] = w[j] * gR[j];
                EXPECT_EQ(kernels->chooseWeighted(Px.data(), Qx.data(), c.data(), d.data(),
                                                  w.data(), D, R, n),
                          indexOfMaxAbs(wgR.data(), n))
                    << "weighted, " << what;
                expectReported(kernels->chooseWeightedReportingNaN(Px.data(), Qx.data(), c.data(),
                                                                   d.data(), w.data(), D, R, n),
                               wgR, "weighted, " + what);
                updatedPx = px, updatedQx = qx;
                expectReported(kernels->updateAndChooseWeightedReportingNaN(
                                   updatedPx.data(), updatedQx.data(), Pk.data(), Qk.data(), delta,
                                   c.data(), d.data(), w.data(), D, R, n),
                               wgR, "weighted, updating, " + what);
            }
        }
    }
}

TEST_P(KernelVariants, TwoRoundedDivisionsDecideANearTie) {
    // With D = 3 and R = 1.3: |20/D - (38 R)/D| = 9.799999999999997 and
    // |32/D - (2 R)/D| = 9.799999999999999, so the second wins; with one
    // division, (gN - gD R)/D, both round to 9.799999999999999 and the first
    // would win the tie. Placed in different lanes and blocks of every width.
    for (auto [first, second] : {std::pair<int, int>{0, 1}, {3, 12}, {6, 15}}) {
        std::vector<double> Px(16, 0.0), Qx(16, 0.0), zero(16, 0.0);
        Px[first] = 20, Qx[first] = 38, Px[second] = 32, Qx[second] = 2;
        EXPECT_EQ(kernels->choose(Px.data(), Qx.data(), zero.data(), zero.data(), 3.0, 1.3, 16),
                  second);
        EXPECT_EQ(kernels->updateAndChoose(Px.data(), Qx.data(), zero.data(), zero.data(), 1.0,
                                           zero.data(), zero.data(), 3.0, 1.3, 16),
                  second);
    }
}

TEST_P(KernelVariants, RoundingNearTiesAndExtremeScalesMatchIndexOfMaxAbs) {
    // |dR/dx_j| equal but for rounding in every entry, with gN and gD of
    // widely different sizes, so the choice is decided by the last bits of
    // the two divisions; and D, R and the data at scales where the pass must
    // fall back to dividing everything.
    std::mt19937_64 rng(testSeed("RoundingNearTiesAndExtremeScalesMatchIndexOfMaxAbs", 77));
    std::uniform_real_distribution<double> u(0.5, 2.0);
    const double Ds[] = {3.0, -0.7, 1e-29, 1e29, 1e-31, 1e31, 1e-300, 1e300};
    const double scales[] = {1.0, 1e-250, 1e250, 1e300};
    for (int trial = 0; trial < 4000; ++trial) {
        const std::int64_t n = 1 + static_cast<std::int64_t>(rng() % 40);
        const double D = Ds[rng() % 8], R = u(rng) * (rng() % 2 ? 1 : -1);
        const double scale = scales[rng() % 4], target = u(rng) * scale;
        std::vector<double> Px(n), Qx(n), zero(n, 0.0);
        for (std::int64_t j = 0; j < n; ++j) {
            Qx[j] = std::ldexp(u(rng), static_cast<int>(rng() % 60) - 30) * scale;
            Px[j] = Qx[j] * R + target * (rng() % 2 ? 1 : -1);
        }
        std::vector<double> gR(n);
        for (std::int64_t j = 0; j < n; ++j) gR[j] = Px[j] / D - (Qx[j] * R) / D;
        ASSERT_EQ(kernels->choose(Px.data(), Qx.data(), zero.data(), zero.data(), D, R, n),
                  indexOfMaxAbs(gR.data(), n))
            << "trial " << trial << ", n = " << n << ", D = " << D;
    }
}

std::string variantName(const testing::TestParamInfo<KernelVariant>& info) {
    static const char* const names[] = {"portable", "sse2", "avx2", "avx512"};
    return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(AllVariants, KernelVariants,
                         testing::Values(KernelVariant::portable, KernelVariant::sse2,
                                         KernelVariant::avx2, KernelVariant::avx512),
                         variantName);
