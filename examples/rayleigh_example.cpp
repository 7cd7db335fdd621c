// Example: the lowest mode of a vibrating string as a generalised Rayleigh quotient.
//
// Linear finite elements on n interior nodes give the stiffness matrix
// P = tridiag(-1, 2, -1)/h and the mass matrix Q = h tridiag(1, 4, 1)/6. The
// minimum of x'Px / x'Qx is the smallest eigenvalue of P x = lambda Q x, about
// pi^2 for a string of unit length. With c = d = 0 and alpha = beta = 0 the
// solver minimises exactly that ratio.
#include <cmath>
#include <cstdio>
#include <vector>

#include <brelvane/ratio_descent.h>

extern "C" void dsygv_(const int* itype, const char* jobz, const char* uplo, const int* n,
                       double* a, const int* lda, double* b, const int* ldb, double* w,
                       double* work, const int* lwork, int* info, std::size_t jobzLen,
                       std::size_t uploLen);

namespace {

std::vector<double> tridiagonal(int n, double diagonal, double offDiagonal) {
    std::vector<double> A(static_cast<std::size_t>(n) * static_cast<std::size_t>(n), 0.0);
    for (int i = 0; i < n; ++i) {
        A[static_cast<std::size_t>(i + i * n)] = diagonal;
        if (i + 1 < n)
            A[static_cast<std::size_t>(i + 1 + i * n)] = A[static_cast<std::size_t>(i + (i + 1) * n)] =
                offDiagonal;
    }
    return A;
}

// x'Ax for the full n-by-n matrix A.
double quadraticForm(const std::vector<double>& A, const std::vector<double>& x, int n) {
    double s = 0.0;
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i)
            s += x[static_cast<std::size_t>(i)] * A[static_cast<std::size_t>(i + j * n)] *
                 x[static_cast<std::size_t>(j)];
    return s;
}

double ratio(const std::vector<double>& P, const std::vector<double>& Q,
             const std::vector<double>& x, int n) {
    return quadraticForm(P, x, n) / quadraticForm(Q, x, n);
}

double smallestEigenvalue(std::vector<double> P, std::vector<double> Q, int n) {
    const int itype = 1, lwork = 3 * n;
    std::vector<double> w(static_cast<std::size_t>(n)), work(static_cast<std::size_t>(lwork));
    int info = 0;
    dsygv_(&itype, "N", "L", &n, P.data(), &n, Q.data(), &n, w.data(), work.data(), &lwork,
           &info, 1, 1);
    return info == 0 ? w[0] : std::nan("");
}

}  // namespace

int main() {
    const int n = 12;
    const long iterations = 3000;
    const double h = 1.0 / (n + 1);
    const std::vector<double> P = tridiagonal(n, 2.0 / h, -1.0 / h);
    const std::vector<double> Q = tridiagonal(n, 4.0 * h / 6.0, h / 6.0);
    const std::vector<double> zero(n, 0.0);
    std::vector<double> x0(n), x(n);
    for (int i = 0; i < n; ++i) x0[static_cast<std::size_t>(i)] = 1.0 + 0.25 * (i % 3);

    if (brelvane::ratioDescent(x.data(), x0.data(), P.data(), zero.data(), 0.0, Q.data(),
                               zero.data(), 0.0, n, iterations) != brelvane::ratioDescentOk) {
        std::fprintf(stderr, "rayleigh_example: out of memory\n");
        return 1;
    }
    const double lambda = smallestEigenvalue(P, Q, n);
    std::printf("Lowest mode of a string, n = %d, %ld iterations\n", n, iterations);
    std::printf("x =");
    for (double v : x) std::printf(" %.6f", v);
    std::printf("\nR(x0)               = %.15f\n", ratio(P, Q, x0, n));
    std::printf("R(x)                = %.15f\n", ratio(P, Q, x, n));
    std::printf("eigenvalue bound    = %.15f  (smallest lambda of P x = lambda Q x)\n", lambda);
    std::printf("pi^2 (continuum)    = %.15f\n", M_PI * M_PI);
    return 0;
}
