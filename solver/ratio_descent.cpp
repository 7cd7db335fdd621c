// Driver of the greedy coordinate descent: start-up products, iterations, finish.
#include <cstdlib>
#include <cstring>
#include <limits>

#include "blas_dsymv.h"
#include "iteration_kernels.h"
#include "ratio_descent.h"

namespace {

// Running scalars. Invariant at the top of every iteration (exact in exact
// arithmetic): Px = P*x, Qx = Q*x, xPx = x'Px, xQx = x'Qx, cx = c'x,
// dx = d'x. They are only ever corrected, never recomputed, so in floating
// point they carry the rounding of every earlier update.
struct Scalars {
    double xPx;
    double xQx;
    double cx;
    double dx;
};

double ratioOf(const Scalars& s, double alpha, double beta) {
    const double N = (0.5 * s.xPx + s.cx) + alpha;
    const double D = (0.5 * s.xQx + s.dx) + beta;
    return N / D;
}

// `iterations` >= 1 steps from the start-up state. Each step moves x_k to the
// better stationary point of R along e_k and corrects the scalars; the next
// step's pass applies column k of P and Q to Px, Qx and chooses its own k in
// the same sweep. The last step's column update is skipped: nothing returned
// depends on it. With Trace, trace[t] receives the R that step t + 1 starts
// from, and trace[iterations] the R after the last step.
template <bool Trace>
void iterate(const IterationKernels& kernels, double* x, const double* P, const double* c,
             double alpha, const double* Q, const double* d, double beta, std::int64_t n,
             std::int64_t iterations, double* Px, double* Qx, Scalars& s, double* trace) {
    double N = (0.5 * s.xPx + s.cx) + alpha;
    double D = (0.5 * s.xQx + s.dx) + beta;
    if (Trace) trace[0] = N / D;
    std::int64_t k = kernels.choose(Px, Qx, c, d, D, N / D, n);
    for (std::int64_t t = 1;; ++t) {
        const double Pkk = P[k * (n + 1)];
        const double Qkk = Q[k * (n + 1)];
        const double delta = ratioStep(N, Px[k] + c[k], 0.5 * Pkk, D, Qx[k] + d[k], 0.5 * Qkk);
        x[k] = delta + x[k];
        // From Qx[k] and Px[k] before column k is applied to them.
        s.xQx = ((2.0 * delta) * Qx[k] + s.xQx) + (delta * delta) * Qkk;
        s.xPx = ((2.0 * delta) * Px[k] + s.xPx) + (delta * delta) * Pkk;
        s.cx = s.cx + delta * c[k];
        s.dx = s.dx + delta * d[k];
        N = (0.5 * s.xPx + s.cx) + alpha;
        D = (0.5 * s.xQx + s.dx) + beta;
        if (Trace) trace[t] = N / D;
        if (t == iterations) return;
        k = kernels.updateAndChoose(Px, Qx, P + k * n, Q + k * n, delta, c, d, D, N / D, n);
    }
}

}  // namespace

RatioDescentStatus ratioDescentWith(const IterationKernels& kernels, double* x, const double* x0,
                                    const double* P, const double* c, double alpha,
                                    const double* Q, const double* d, double beta,
                                    std::int64_t n, std::int64_t iterations, double* trace) {
    const std::int64_t steps = iterations > 0 ? iterations : 0;
    // There is no coordinate to move, and dsymv rejects lda = 0: R stays
    // alpha / beta, formed as from empty sums.
    if (n < 1) {
        if (trace) {
            const double R = ratioOf(Scalars{0, 0, 0, 0}, alpha, beta);
            for (std::int64_t t = 0; t <= steps; ++t) trace[t] = R;
        }
        return ratioDescentOk;
    }
    if (static_cast<std::uint64_t>(n) > static_cast<std::uint64_t>(std::numeric_limits<BlasInt>::max()))
        return ratioDescentTooLarge;
    if (static_cast<std::uint64_t>(n) > std::numeric_limits<std::size_t>::max() / sizeof(double))
        return ratioDescentOutOfMemory;
    const std::size_t bytes = static_cast<std::size_t>(n) * sizeof(double);
    double* Px = static_cast<double*>(std::malloc(bytes));
    double* Qx = static_cast<double*>(std::malloc(bytes));
    RatioDescentStatus status = ratioDescentOutOfMemory;
    if (Px && Qx) {
        std::memcpy(x, x0, bytes);
        Scalars s;
        symMatVec(P, x, Px, n);
        s.xPx = dotProduct(x, Px, n);
        s.cx = dotProduct(x, c, n);
        symMatVec(Q, x, Qx, n);
        s.xQx = dotProduct(x, Qx, n);
        s.dx = dotProduct(d, x, n);
        if (steps == 0) {
            if (trace) trace[0] = ratioOf(s, alpha, beta);
        } else if (trace) {
            iterate<true>(kernels, x, P, c, alpha, Q, d, beta, n, steps, Px, Qx, s, trace);
        } else {
            iterate<false>(kernels, x, P, c, alpha, Q, d, beta, n, steps, Px, Qx, s, nullptr);
        }
        // Exact zeros (+0.0 and -0.0; never NaN) become 1e-100.
        for (std::int64_t i = 0; i < n; ++i)
            if (x[i] == 0.0) x[i] = 1e-100;
        status = ratioDescentOk;
    }
    std::free(Px);
    std::free(Qx);
    return status;
}

RatioDescentStatus ratioDescent(double* x, const double* x0, const double* P, const double* c,
                                double alpha, const double* Q, const double* d, double beta,
                                std::int64_t n, std::int64_t iterations) {
    return ratioDescentWith(fastestIterationKernels(), x, x0, P, c, alpha, Q, d, beta, n,
                            iterations, nullptr);
}

RatioDescentStatus ratioDescentTrace(double* x, double* trace, const double* x0, const double* P,
                                     const double* c, double alpha, const double* Q,
                                     const double* d, double beta, std::int64_t n,
                                     std::int64_t iterations) {
    return ratioDescentWith(fastestIterationKernels(), x, x0, P, c, alpha, Q, d, beta, n,
                            iterations, trace);
}
