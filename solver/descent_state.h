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

// The four scalars of x from its products, as the start-up forms them: each
// a dot product summed strictly in index order.
Scalars scalarsOf(const RatioProblem& p, const double* x, const double* Px, const double* Qx);

}  // namespace brelvane

#endif
