// Convergence to an independent answer: min x'Px / x'Qx is the smallest generalised eigenvalue.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "ratio_descent.h"
#include "test_support.h"

// LAPACK: eigenvalues of the symmetric-definite pencil A x = lambda B x.
// gfortran passes the lengths of the character arguments after the others.
extern "C" void dsygv_(const int* itype, const char* jobz, const char* uplo, const int* n,
                       double* a, const int* lda, double* b, const int* ldb, double* w,
                       double* work, const int* lwork, int* info, std::size_t jobzLen,
                       std::size_t uploLen);

namespace {

double smallestGeneralisedEigenvalue(std::vector<double> A, std::vector<double> B, int n) {
    std::vector<double> w(static_cast<std::size_t>(n));
    const int itype = 1, lwork = 3 * n * n + 64;
    std::vector<double> work(static_cast<std::size_t>(lwork));
    int info = -1;
    dsygv_(&itype, "N", "L", &n, A.data(), &n, B.data(), &n, w.data(), work.data(), &lwork, &info,
           1, 1);
    EXPECT_EQ(info, 0);
    return w[0];  // ascending
}

// x'Ax for symmetric A, summed plainly.
double quadraticForm(const std::vector<double>& A, const std::vector<double>& x, std::int64_t n) {
    double s = 0;
    for (std::int64_t j = 0; j < n; ++j)
        for (std::int64_t i = 0; i < n; ++i) s += x[i] * A[i + j * n] * x[j];
    return s;
}

}  // namespace

TEST(Convergence, RayleighQuotientReachesTheSmallestGeneralisedEigenvalue) {
    std::mt19937_64 rng(testSeed("RayleighQuotientReachesTheSmallestGeneralisedEigenvalue", 5));
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    // R converges quadratically in the eigenvector error, so after 200·n
    // steps the gap to lambda is the rounding of R's own evaluation and of
    // dsygv's lambda, both sums over n terms. The bound, 2·n·eps relative, is
    // about three times the largest gap these problems show (0.7·n·eps), so
    // a digit lost in the descent shows; it also keeps R, a Rayleigh
    // quotient, from falling below lambda by more than rounding.
    const double eps = std::numeric_limits<double>::epsilon();
    for (int n : {5, 12, 25, 50}) {
        // Well conditioned: random symmetric P with a clear lowest
        // eigenvalue (a strongly negative first diagonal entry), Q = I + small.
        std::vector<double> P = symmetricMatrix(n, [&](std::int64_t i, std::int64_t j) {
            return i == j ? (i == 0 ? -3.0 : 2.0 * u(rng)) : 0.3 * u(rng);
        });
        std::vector<double> Q = symmetricMatrix(n, [&](std::int64_t i, std::int64_t j) {
            return i == j ? 1.0 + 0.5 * std::fabs(u(rng)) : 0.1 * u(rng) / n;
        });
        std::vector<double> x0(static_cast<std::size_t>(n)), zero(static_cast<std::size_t>(n), 0.0);
        for (double& v : x0) v = u(rng);
        const double lambda = smallestGeneralisedEigenvalue(P, Q, n);

        std::vector<double> x(static_cast<std::size_t>(n));
        ASSERT_EQ(ratioDescent(x.data(), x0.data(), P.data(), zero.data(), 0.0, Q.data(),
                               zero.data(), 0.0, n, 200 * n),
                  ratioDescentOk);
        const double R = quadraticForm(P, x, n) / quadraticForm(Q, x, n);
        EXPECT_NEAR(R, lambda, 2 * n * eps * std::fabs(lambda)) << "n = " << n;
    }
}
