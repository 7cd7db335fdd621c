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

// R at the Ritz point, formed from its combined products, is taken as it
// stands only when it agrees with the Ritz value to this, relatively;
// otherwise the point's products are formed afresh before it is judged.
constexpr double ritzAgreement = 1e-8;

// The least relative fall of R for which the Ritz point is taken. A step
// that gains less comes only within about this of a minimum, where the
// descent finishes alone.
constexpr double ritzLeastFall = 1e-12;

// Relative difference between R from the corrected scalars and R formed
// afresh beyond which a sweep goes on from the fresh ones.
constexpr double ritzDrift = 1e-10;

// Products are used as they stand while the largest magnitude they were
// summed at (their scale, see RitzHistory) is at most this many times their
// largest entry now (their amplification): they have then lost at most
// about 20 bits, some 2e-10 of their size, to cancellation. Beyond it they
// are formed afresh. Below it the rounding they carry is allowed for where
// a Ritz point is judged.
constexpr double ritzTrustedAmplification = 0x1p20;

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
//
// The scale of a product vector estimates the magnitude its rounding is
// relative to: the largest magnitude its entries were summed at since it
// was last formed afresh (its largest entry then). A sweep's corrections pass
// through at least the magnitudes at its two ends; a combination sum_i u_i b_i
// adds its own rounding, relative to sum_i |u_i| max_j |b_ij|, to the errors
// the b_i carry, which came mostly from the history they share and so
// combine as the coefficients do: its scale is the larger of that and
// |sum_i u_i scale_i|. A scale far above the vector's own largest entry means
// digits lost to cancellation.
struct RitzHistory {
    double* slots;
    int count;   // starts kept, at most ritzKeptStarts
    int newest;  // slot of the newest
    bool homogeneous;  // c = d = 0, alpha = beta = 0: R is unchanged by scaling x
    double cx[ritzKeptStarts];
    double dx[ritzKeptStarts];
    double xPx[ritzKeptStarts][ritzKeptStarts];
    double xQx[ritzKeptStarts][ritzKeptStarts];
    double scaleP[ritzKeptStarts];  // of each slot's P x_i and Q x_i
    double scaleQ[ritzKeptStarts];
    double largestP[ritzKeptStarts];  // their largest entries
    double largestQ[ritzKeptStarts];
    double runningScaleP;  // of the running P x and Q x, and their largest
    double runningScaleQ;  // entries as last measured
    double runningLargestP;
    double runningLargestQ;
};

// Doubles of memory `slots` needs.
constexpr std::int64_t ritzHistoryDoubles(std::int64_t n) { return 3 * ritzKeptStarts * n; }

// Keeps the start-up point x (with its products and scalars s) as the first
// sweep start.
void startRitzHistory(RitzHistory& h, double* slots, const RatioProblem& p, const double* x,
                      const double* Px, const double* Qx, const Scalars& s);

// The running products Px and Qx (n each) were just formed afresh.
void noteFreshProducts(RitzHistory& h, const double* Px, const double* Qx, std::int64_t n);

// What a Ritz step did to the state.
struct RitzOutcome {
    bool accepted;  // x moved to the Ritz point
    bool fresh;     // Px and Qx are now the BLAS's products of x (formed afresh)
    bool changed;   // x, Px, Qx or the scalars changed
};

// At a checkpoint, with Px and Qx up to date for the point y = x reached.
// First, where y's products have lost too many digits to cancellation
// (their scale above ritzTrustedAmplification times their largest entry),
// they and the scalars are formed afresh. Then the lowest point of R on
// span{(y, 1), (x_i, 1)} over the kept starts x_i, in the bordered pencil
// [P c; c' 2 alpha], [Q d; d' 2 beta], read back as the combination whose
// last entry is 1 (or, for a homogeneous ratio, scaled so that D there is
// D(y) and y's coefficient is not negative), with its products the same
// combination of the kept ones. Those products are formed afresh when the
// combination may have lost digits (its scale above the trusted
// amplification) or R from them disagrees with the Ritz value by more than
// ritzAgreement, relatively. The point is taken when every entry is finite,
// D keeps its sign at y, and R there falls below R(y) by more than
// ritzLeastFall relatively, than the rounding of both ratios (grown with the
// rounding their products carry) and, where the products are not fresh, than
// four times that disagreement, R and D formed from scalars formed afresh
// from the products: then x, Px, Qx and s are replaced. Otherwise s
// is replaced by y's scalars formed afresh only where R from it has drifted
// from R from them by more than ritzDrift, relatively. Either way the point
// kept becomes the next sweep start, the oldest start dropped.
RitzOutcome ritzStep(RitzHistory& h, const RatioProblem& p, double* x, double* Px, double* Qx,
                     Scalars& s);

}  // namespace brelvane

#endif
