// The straightforward reading of the solver, kept as the baseline the fused
// solver is measured against: five work vectors, and per iteration one pass
// for the gradients, one for the argmax and one for the column update.
#include <cstdlib>
#include <cstring>
#include <limits>

#include "ratio_step.h"
#include "straightforward_descent.h"
#include "vector_kernels.h"

using namespace brelvane;

namespace {

// Running state of one solve. Invariant at the top of every iteration (exact
// in exact arithmetic): Px = P*x, Qx = Q*x, xPx = x'Px, xQx = x'Qx, cx = c'x,
// dx = d'x. They are only ever corrected, never recomputed, so in floating
// point they carry the rounding of every earlier update.
struct Scalars {
    double xPx;
    double xQx;
    double cx;
    double dx;
};

// One iteration: gradient of R, Gauss-Southwell choice of k, closed-form step
// along e_k, O(n) correction of x, Px, Qx and the scalars.
void iterate(double* x, const double* P, const double* c, double alpha, const double* Q,
             const double* d, double beta, std::int64_t n, double* Px, double* Qx, double* gN,
             double* gD, double* gR, Scalars& s) {
    const double N = (0.5 * s.xPx + s.cx) + alpha;
    const double D = (0.5 * s.xQx + s.dx) + beta;
    const double R = N / D;
    // dR/dx_j = gN_j / D - gD_j R / D, two separate divisions by D: the
    // rounding of gR, and so the choice of k, depends on it.
    for (std::int64_t j = 0; j < n; ++j) {
        gN[j] = Px[j] + c[j];
        gD[j] = Qx[j] + d[j];
        gR[j] = gN[j] / D - (gD[j] * R) / D;
    }
    const std::int64_t k = indexOfMaxAbs(gR, n);
    const double Pkk = P[k * (n + 1)];
    const double Qkk = Q[k * (n + 1)];
    const double delta = ratioStep(N, Px[k] + c[k], 0.5 * Pkk, D, Qx[k] + d[k], 0.5 * Qkk);
    x[k] = delta + x[k];
    // x'Qx and x'Px after x_k += delta, from Qx[k] and Px[k] before the
    // column update below.
    s.xQx = ((2.0 * delta) * Qx[k] + s.xQx) + (delta * delta) * Qkk;
    s.xPx = ((2.0 * delta) * Px[k] + s.xPx) + (delta * delta) * Pkk;
    // Whole columns k of P and Q, above and below the diagonal.
    const double* Pk = P + k * n;
    const double* Qk = Q + k * n;
    for (std::int64_t j = 0; j < n; ++j) {
        Px[j] = delta * Pk[j] + Px[j];
        Qx[j] = delta * Qk[j] + Qx[j];
    }
    s.cx = s.cx + delta * c[k];
    s.dx = s.dx + delta * d[k];
}

}  // namespace

RatioDescentStatus straightforwardRatioDescent(double* x, const double* x0, const double* P,
                                              const double* c,
                                              double alpha, const double* Q, const double* d,
                                              double beta, std::int64_t n,
                                              std::int64_t iterations) {
    // There is no coordinate to move, and dsymv rejects lda = 0.
    if (n < 1) return ratioDescentOk;
    if (static_cast<std::uint64_t>(n) > std::numeric_limits<std::size_t>::max() / sizeof(double))
        return ratioDescentOutOfMemory;
    const std::size_t bytes = static_cast<std::size_t>(n) * sizeof(double);
    double* Px = static_cast<double*>(std::malloc(bytes));
    double* Qx = static_cast<double*>(std::malloc(bytes));
    double* gN = static_cast<double*>(std::malloc(bytes));
    double* gD = static_cast<double*>(std::malloc(bytes));
    double* gR = static_cast<double*>(std::malloc(bytes));
    RatioDescentStatus status = ratioDescentOutOfMemory;
    if (Px && Qx && gN && gD && gR) {
        std::memcpy(x, x0, bytes);
        Scalars s;
        symMatVec(P, x, Px, n);
        s.xPx = dotProduct(x, Px, n);
        s.cx = dotProduct(x, c, n);
        symMatVec(Q, x, Qx, n);
        s.xQx = dotProduct(x, Qx, n);
        s.dx = dotProduct(d, x, n);
        for (std::int64_t t = 0; t < iterations; ++t)
            iterate(x, P, c, alpha, Q, d, beta, n, Px, Qx, gN, gD, gR, s);
        // Exact zeros (+0.0 and -0.0; never NaN) become 1e-100.
        for (std::int64_t i = 0; i < n; ++i)
            if (x[i] == 0.0) x[i] = 1e-100;
        status = ratioDescentOk;
    }
    std::free(Px);
    std::free(Qx);
    std::free(gN);
    std::free(gD);
    std::free(gR);
    return status;
}
