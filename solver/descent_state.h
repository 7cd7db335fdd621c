// The data of one solve and its running scalars, shared by the driver and the Ritz step.
#ifndef BRELVANE_DESCENT_STATE_H
#define BRELVANE_DESCENT_STATE_H

#include <cstdint>

namespace brelvane {

// The data of one solve, as given.
struct RatioProblem {
    const double* P;
    const double* c;
    double alpha;
    const double* Q;
    const double* d;
    double beta;
    std::int64_t n;
};

// Running scalars. Invariant at the top of every iteration (exact in exact
// arithmetic): Px = P*x, Qx = Q*x, xPx = x'Px, xQx = x'Qx, cx = c'x,
// dx = d'x. Between checkpoints they are only ever corrected, never
// recomputed, so in floating point they carry the rounding of every earlier
// update.
struct Scalars {
    double xPx;
    double xQx;
    double cx;
    double dx;
};

inline double numeratorOf(const Scalars& s, const RatioProblem& p) {
    return (0.5 * s.xPx + s.cx) + p.alpha;
}
inline double denominatorOf(const Scalars& s, const RatioProblem& p) {
    return (0.5 * s.xQx + s.dx) + p.beta;
}
inline double ratioOf(const Scalars& s, const RatioProblem& p) {
    return numeratorOf(s, p) / denominatorOf(s, p);
}

// (sN + |R| sD) / |D|, where sN and sD are the sums of the magnitudes of the
// terms N and D are added from (1/2 |x'Px|, |c'x|, |alpha| and 1/2 |x'Qx|,
// |d'x|, |beta|) plus extraN and extraD: to first order, how far R = N / D
// moves with the rounding of N and D, in units of that rounding. R changing
// by less than a few units of 2^-53 of it cannot be told from rounding,
// however small |R| is against those terms.
double ratioMagnitude(const RatioProblem& p, const Scalars& s, double R, double D,
                      double extraN = 0.0, double extraD = 0.0);

// The four scalars of x from its products, as the start-up forms them: each
// a dot product summed strictly in index order.
Scalars scalarsOf(const RatioProblem& p, const double* x, const double* Px, const double* Qx);

// Px <- P*x and Qx <- Q*x through the BLAS, as at the start-up, and s <- their
// scalars (scalarsOf): the state of x with none of the rounding that
// corrections and combinations leave behind. Reads the lower triangles.
void formAfresh(const RatioProblem& p, const double* x, double* Px, double* Qx, Scalars& s);

// The weight of diagonal scaling for a coordinate with diagonal entries Qjj
// and Pjj (see ratioDescentScalingDiagonal): a power of two.
double weightFor(double Qjj, double Pjj);

}  // namespace brelvane

#endif
