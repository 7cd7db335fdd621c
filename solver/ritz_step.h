// The Rayleigh-Ritz step of the accelerated descent: the lowest point of R on
// the span of the point reached and the last few sweep starts.
#ifndef BRELVANE_RITZ_STEP_H
#define BRELVANE_RITZ_STEP_H

#include <cstdint>

#include "descent_state.h"

namespace brelvane {

// m: the basis of one step, the point reached and up to m - 1 kept sweep
// starts.
constexpr int ritzBasisSize = 8;
constexpr int ritzKeptStarts = ritzBasisSize - 1;

// The Ritz point is taken only when R there from its products and the Ritz
// value agree to this, relatively.
constexpr double ritzAgreement = 1e-8;

// The least relative fall of R for which the Ritz point is taken. A step
// that gains less comes only within about this of a minimum, where the
// descent finishes alone.
constexpr double ritzLeastFall = 1e-12;

// Relative difference between R from the corrected scalars and R formed
// afresh beyond which a sweep goes on from the fresh ones.
constexpr double ritzDrift = 1e-10;

// v minimising v'Av / v'Bv for symmetric m-by-m A and B (column-major, both
// triangles read as given, so they must be symmetric), over the directions
// where B is safely positive definite: basis vectors with B_ii not positive
// and finite take no part, the others are scaled to B_ii = 1, and a pivoted
// Cholesky factorisation of B stops at the first pivot at most
// ritzDropTolerance, dropping the vectors left (each within that squared
// sine of the span of those taken), so no pivot below it is divided by.
// The reduced problem L^-1 A L^-T is solved by cyclic Jacobi rotations in a
// fixed order. Writes v[0..m-1] (zero for vectors not taken), scaled so that
// v'Bv = 1 up to rounding, and the Ritz value v'Av / v'Bv into *value, and
// returns true; false (v and *value unspecified) when no vector can be taken
// or a non-finite number arises. 1 <= m <= ritzBasisSize.
bool lowestRitzVector(int m, const double* A, const double* B, double* v, double* value);

// The kept sweep starts of one solve. Slot i of `slots` (3n doubles each)
// holds x_i, P x_i and Q x_i one after another, for ritzKeptStarts slots
// used as a ring; the scalars below belong to the slots. xPx[i][j] (and
// xQx) is x_i'P x_j with the newer of the two vectors on the left, the
// product of the older on the right, kept for both orders of i and j.
struct RitzHistory {
    double* slots;
    int count;   // starts kept, at most ritzKeptStarts
    int newest;  // slot of the newest
    bool homogeneous;  // c = d = 0, alpha = beta = 0: R is unchanged by scaling x
    double cx[ritzKeptStarts];
    double dx[ritzKeptStarts];
    double xPx[ritzKeptStarts][ritzKeptStarts];
    double xQx[ritzKeptStarts][ritzKeptStarts];
};

// Doubles of memory `slots` needs.
constexpr std::int64_t ritzHistoryDoubles(std::int64_t n) { return 3 * ritzKeptStarts * n; }

// Keeps the start-up point x (with its products and scalars s) as the first
// sweep start.
void startRitzHistory(RitzHistory& h, double* slots, const RatioProblem& p, const double* x,
                      const double* Px, const double* Qx, const Scalars& s);

// At a checkpoint, with Px and Qx up to date for the point y = x reached:
// the lowest point of R on span{(y, 1), (x_i, 1)} over the kept starts x_i,
// in the bordered pencil [P c; c' 2 alpha], [Q d; d' 2 beta], read back as
// the combination whose last entry is 1 (or, for a homogeneous ratio,
// scaled so that D there is D(y) and y's coefficient is not negative).
// Taken only when every entry is finite, D keeps its sign at y, and R there
// agrees with the Ritz value to ritzAgreement and falls below R(y) by more
// than ritzLeastFall and than four times that disagreement, R and D formed
// from scalars formed afresh: then x, Px and Qx are replaced (the products
// the same combination of the kept products), s becomes the fresh scalars
// and the result is true. Otherwise s is replaced by y's scalars formed
// afresh only where R from it has drifted from R from them by more than
// ritzDrift, relatively, and the result is false. Either way the point kept
// becomes the next sweep start, the oldest start dropped.
bool ritzStep(RitzHistory& h, const RatioProblem& p, double* x, double* Px, double* Qx, Scalars& s);

}  // namespace brelvane

#endif
