// Greedy coordinate descent on a ratio of two quadratics.
//
//   minimise R(x) = N(x) / D(x),   N(x) = 1/2 x'Px + c'x + alpha,
//                                  D(x) = 1/2 x'Qx + d'x + beta,
//
// with P and Q symmetric n-by-n (column-major, leading dimension n). Each
// iteration takes the coordinate k of largest |dR/dx_k| (Gauss-Southwell;
// optionally weighted, see RatioDescentScaling), moves x_k to the lower of
// the two stationary points of R along e_k (closed form; where R has no
// minimum along e_k that is the line's maximum, see
// RatioDescentReport::rises), and corrects P*x, Q*x and the scalars x'Px,
// x'Qx, c'x, d'x by column k of P and Q, so an iteration costs O(n) after
// one O(n^2) start-up.
//
// All arithmetic is IEEE double, each product rounded before it is added, in
// the order written in the sources, and our own passes give the same bits on
// every SIMD path. The two start-up products are the BLAS's, whose rounding
// depends on its kernel: results are bit-identical for a given BLAS library,
// version, thread count and CPU kernel.
#ifndef BRELVANE_RATIO_DESCENT_H
#define BRELVANE_RATIO_DESCENT_H

#include <cstddef>
#include <cstdint>

namespace brelvane {

enum RatioDescentStatus {
    ratioDescentOk = 0,
    // The work vectors, or the first storage of a growing trace, could not be
    // allocated: x is left untouched. Or a growing trace could not grow
    // further (RatioDescentOptions::growTrace answered null): the solve then
    // ends as an interrupted one does, x and the trace holding the point
    // reached, and the report saying where (stop ratioDescentStopInterrupted).
    ratioDescentOutOfMemory = 1,
    // n is larger than the BLAS this library was built against can index;
    // x is left untouched.
    ratioDescentTooLarge = 2,
    // The interrupt poll of RatioDescentOptions answered true, or its progress
    // callback did; x and the trace hold the point reached so far (see
    // RatioDescentReport::iterations).
    ratioDescentInterrupted = 3,
    // eigenpairs only: a vector v with v'Qv <= 0 (or not finite) was met, so
    // Q is not positive definite; nothing is written.
    ratioDescentNotPositiveDefinite = 4,
    // eigenpairs only: P, Q or the start holds NaN or an infinity, or a
    // value formed from them overflowed; nothing is written.
    ratioDescentNotFinite = 5,
};

// Why a solve stopped.
enum RatioDescentStop {
    // Every requested iteration ran.
    ratioDescentStopIterations = 0,
    // Before an iteration, max_j |dR/dx_j| was <= gradientTolerance, and no
    // dR/dx_j was NaN.
    ratioDescentStopGradient = 1,
    // An iteration left x, P*x, Q*x and the four running scalars unchanged bit
    // for bit, so every later one would repeat it exactly: the result is the
    // one the full count gives, and the trace is filled out with the
    // repeated ratio. With Ritz acceleration the descent first goes on to
    // the next checkpoint within the count, and stops there only if the
    // checkpoint changes nothing either.
    ratioDescentStopStationary = 2,
    // The interrupt poll or the progress callback answered true, or a
    // growing trace could not grow (the status tells which).
    ratioDescentStopInterrupted = 3,
    // At a checkpoint, the relative residual was <= tolerance (with Ritz
    // acceleration, eta of products formed afresh).
    ratioDescentStopTolerance = 4,
    // With a tolerance: over the last 5 checkpoints eta did not come below
    // 7/8 of its lowest before them and R did not fall by more than its
    // rounding, so the tolerance is below what the rounding of this problem
    // lets eta reach.
    ratioDescentStopStalled = 5,
    // With a tolerance or Ritz acceleration: R was NaN or infinite at a
    // checkpoint (at the start included).
    ratioDescentStopNotFinite = 6,
};

// How the coordinate choice weighs the partial derivatives.
enum RatioDescentScaling {
    // k = the lowest index of largest |dR/dx_j|.
    ratioDescentScalingNone = 0,
    // k = the lowest index of largest |w_j * dR/dx_j| (the product rounded,
    // then its magnitude), with weights fixed at the start from the
    // diagonals: w_j = 2^-floor(e/2), where e = ilogb(q) is the binary
    // exponent of q = Q_jj if Q_jj is positive, finite and normal, else of
    // q = |P_jj| if that is, so that w_j^2 q lies in [1, 4); w_j = 1 when
    // neither is. Ties, NaN and the step are as without scaling.
    //
    // This is the unscaled descent in y, x = S y with S = diag(w), on the
    // problem S P S, S c, alpha, S Q S, S d, beta from S^-1 x0, mapped back:
    // every w_j is a power of two, so that run rounds exactly as this one,
    // each of its quantities this one's times w_j or 1 / w_j (N, D and R the
    // same, dR/dy_j = w_j dR/dx_j, the step along y_k this step divided by
    // w_k), unless a scaled value overflows or leaves the normal range. The
    // one exception is the 1e-100 that replaces an exact zero at the end:
    // each run puts it in its own variables, so where y_j ends at zero the
    // run in y, mapped back, has w_j 1e-100 and this one 1e-100.
    // Measuring x_j in units 2^m times larger leaves the choice as it is.
    // Costs one multiplication per coordinate in the choice and n doubles of
    // work memory.
    ratioDescentScalingDiagonal = 1,
};

// What happens at the checkpoints, every max(n, 2) iterations.
enum RatioDescentAcceleration {
    // Nothing: the plain descent.
    ratioDescentAccelerationNone = 0,
    // A Rayleigh-Ritz step: x moves to the lowest point of R on the span of
    // the point reached and the points the last few sweeps started from, as
    // the bordered pencil [P c; c' 2 alpha], [Q d; d' 2 beta] sees them at
    // (x, 1), when that point is finite, keeps the sign of D and lowers R by
    // more than rounding; otherwise the descent goes on as without it. Built
    // from the running products and those kept from earlier checkpoints, so
    // nothing n-by-n is read while they can be trusted: O(m^2 n) per
    // checkpoint for m = 8 vectors, against O(n^2) for the sweep before it,
    // and 21 n doubles of work memory. Products that may have lost digits
    // (a combination that cancels, a descent that went far and came back)
    // are formed afresh through the BLAS, as they are before a tolerance
    // stop and at the end of the solve: everything the report and the
    // trace's last entry say is then true of the x returned, to rounding.
    ratioDescentAccelerationRitz = 1,
};

// The state of a running solve, as RatioDescentOptions::progress is told it.
struct RatioDescentProgress {
    // Iterations done.
    std::int64_t iterations;
    // R at the current point, from the running scalars.
    double ratio;
    // max_j |dR/dx_j| (with diagonal scaling max_j |w_j * dR/dx_j|) at the
    // current point, as RatioDescentReport::gradient gives it there.
    double gradient;
    // eta (see RatioDescentOptions::tolerance) at the current point when the
    // solve has checkpoints (tolerance > 0 or Ritz acceleration), else 0.
    double residual;
};

// The n from which automatic threads share the pass (RatioDescentOptions::
// threads): below it, sharing costs more than it saves.
constexpr std::int64_t ratioDescentThreadsFrom = 2048;

struct RatioDescentOptions {
    // Stop before an iteration once the largest |dR/dx_j| over j (with
    // diagonal scaling |w_j * dR/dx_j|), computed as the coordinate choice
    // computes it, is <= this and none of them is NaN. 0 never stops.
    double gradientTolerance = 0.0;
    // Asked from the calling thread once after the two start-up products
    // (which run without a poll), then every 2^20 / n iterations (every
    // iteration from n = 2^20 on) except after the last; true stops the
    // solve with ratioDescentInterrupted. Null is never asked.
    bool (*interruptPending)(void* context) = nullptr;
    void* interruptContext = nullptr;
    // Any value other than ratioDescentScalingDiagonal chooses without
    // scaling.
    RatioDescentScaling scaling = ratioDescentScalingNone;
    // Stop at a checkpoint (before the first iteration, and every max(n, 2)
    // iterations after the Ritz step if any) once the relative residual of
    // the bordered pencil at (x, 1),
    //   eta = max(max_j w_j |gN_j - R gD_j|, w0 |lN - R lD|)
    //         / (max(max_j w_j |gN_j|, w0 |lN|) + |R| max(max_j w_j |gD_j|, w0 |lD|)),
    //   gN = P x + c, gD = Q x + d (the running products),
    //   lN = c'x + 2 alpha, lD = d'x + 2 beta,
    // is <= this, where w_j are the weights of diagonal scaling (see
    // ratioDescentScalingDiagonal, whatever the scaling of the choice) and
    // w0 the same rule's weight for 2 beta (or |2 alpha|). eta is 0 exactly
    // where R is stationary, at most 1, unchanged when N or D is multiplied
    // by a constant or a variable is measured in units 2^m times larger,
    // and cannot be small far from a stationary point merely because x is
    // large; NaN never stops. 0 never stops. With a tolerance the solve also stops when it has
    // stalled (ratioDescentStopStalled) or R is not finite
    // (ratioDescentStopNotFinite).
    double tolerance = 0.0;
    // Any value other than ratioDescentAccelerationRitz is none.
    RatioDescentAcceleration acceleration = ratioDescentAccelerationNone;
    // At most this many threads share each iteration's pass over the
    // coordinates, the calling one among them, each over its own contiguous
    // slice; the results are the same bit for bit whatever the count, and
    // whenever it changes. 1: the calling thread alone. 0: automatic, the
    // processors this process may run on, at most threadLimit when that is
    // nonzero, from n = ratioDescentThreadsFrom on, and one below. Any count
    // is then cut to those processors (the affinity mask's, fewer where
    // OMP_NUM_THREADS or a container's CPU quota says fewer), to at most 64,
    // and so that each thread has at least 64 coordinates; if threads cannot
    // be started (the system refuses a thread or its memory) the solve runs
    // on fewer, down to the calling thread alone. A team times itself: every
    // so many iterations (some 2^20 elements of work) it compares its pace
    // with the calling thread's alone, runs the next stretch on the faster,
    // and tries the other again now and then (ever more rarely while the
    // choice holds), so that a machine whose cores are busy elsewhere (a
    // BLAS's threads spinning after their call, another process) runs the
    // solve on one thread and takes the team up again once they are free.
    // Other threads run only inside the call.
    int threads = 1;
    int threadLimit = 0;
    // A trace whose storage grows with the solve, for a caller who would
    // rather not hold max(iterations, 0) + 1 doubles for a solve that may
    // stop early; used when the trace argument is null. growTrace(traceContext,
    // length) returns storage for at least `length` doubles that begins with
    // the entries written so far (as realloc keeps them), or null when it
    // cannot, leaving the storage as it was (the solve then returns
    // ratioDescentOutOfMemory). The storage is the caller's throughout: it
    // keeps track of it through the context and frees it. Lengths start at
    // min(256, max(iterations, 0) + 1) and at least double, up to
    // max(iterations, 0) + 1, so growing to m entries copies fewer than 2m;
    // a stationary stop asks at once for what its fill needs (the whole
    // length, or up to the next checkpoint when a Ritz step is to come). The
    // entries written are report->iterations + 1, or all of them after a
    // stationary stop. Null: no trace.
    double* (*growTrace)(void* context, std::int64_t length) = nullptr;
    void* traceContext = nullptr;
    // After a stationary stop the trace is filled out to its whole length
    // with the repeated ratio (true), or ends at the stop, after
    // report->iterations + 1 entries, as after every other stop (false: no
    // storage is asked for beyond them).
    bool fillStationaryTrace = true;
    // Where the work vectors come from (both set), for a caller whose
    // growTrace or interrupt poll may not return: a MEX host abandons a call
    // from inside its own allocator, unwinding through the solve, and memory
    // it reclaims cannot then leak. allocate(allocationContext, bytes)
    // returns a block or null when it cannot; release gives one back. Unset:
    // std::malloc and std::free. With more than one thread, the team's own
    // record (about a kilobyte) and its threads come from the C++ runtime,
    // not from here.
    void* (*allocate)(void* context, std::size_t bytes) = nullptr;
    void (*release)(void* context, void* block) = nullptr;
    void* allocationContext = nullptr;
    // Told the state from the calling thread: before the first iteration
    // (after the start-up products), at every interrupt poll that answers
    // false, and at a checkpoint once 2^20 / n iterations (at least one)
    // have passed since the last checkpoint told of (so at every checkpoint
    // for n >= 1024): at most twice per poll interval, never per iteration,
    // so it may read a clock. Not told at the last iteration, nor when no
    // iteration runs (iterations <= 0 or n < 1). true stops the solve as the
    // interrupt poll does (ratioDescentInterrupted, with x and the trace at
    // the point reached). Telling reads the state and changes no result.
    // Null is never called.
    bool (*progress)(const RatioDescentProgress& state, void* context) = nullptr;
    void* progressContext = nullptr;
};

struct RatioDescentReport {
    // Iterations computed; for a stationary stop, through the first one that
    // changed nothing.
    std::int64_t iterations = 0;
    RatioDescentStop stop = ratioDescentStopIterations;
    // max_j |dR/dx_j| (with diagonal scaling max_j |w_j * dR/dx_j|) at the
    // returned x, from the running products, as the next coordinate choice
    // would compute it; NaN when any of them is NaN (the choice itself passes
    // over a NaN unless it is at index 0); 0 for n < 1.
    double gradient = 0.0;
    // R at the returned x from the running scalars: the last trace entry.
    double ratio = 0.0;
    // eta (see RatioDescentOptions::tolerance) at the returned x; 0 for n < 1.
    // With Ritz acceleration the gradient, ratio and residual come from
    // products formed afresh at the end (unless the solve was interrupted).
    double residual = 0.0;
    // Ritz steps taken.
    std::int64_t accelerations = 0;
    // Steps that raised R by more than rounding: the ratio after the step,
    // from the running scalars, above the ratio before it by more than 2^-49
    // times the magnitudes of the terms the two are summed from (relative to
    // D). The closed-form step goes to the lower stationary point along its
    // line, which is the line's maximum where R has no minimum along it (D
    // constant and N curving downward, say), and a step across a pole of R
    // (D changing sign) can land higher; either means R has no lower bound
    // there. A Ritz step never raises R, and forming the scalars afresh at a
    // checkpoint is not a step.
    std::int64_t rises = 0;
    // The most threads a pass ran on (1 when none ran shared), and the
    // iterations whose pass they shared: a team that timed itself slower than
    // the calling thread alone shares few or none.
    int threads = 1;
    std::int64_t sharedIterations = 0;
    // N(x0) and D(x0) as the start-up forms them (R(x0) is their quotient):
    // why R(x0) is not finite when it is not.
    double startNumerator = 0.0;
    double startDenominator = 0.0;
};

// x <- the point reached from x0 after `iterations` greedy coordinate steps
// on R, with every coordinate that is exactly zero (+0.0 or -0.0) replaced by
// 1e-100.
// Reads x0[0..n-1], c, d (n each), P, Q (n*n each; the lower triangle at the
// start, whole columns afterwards, so P and Q must be symmetric). Writes
// x[0..n-1]; x and x0 must not overlap. iterations <= 0 runs none. n < 1
// touches no memory and returns ratioDescentOk. NaN and infinities are not
// guarded against: they spread through R, the gradient and x. Once an
// iteration leaves the whole state unchanged bit for bit the rest are
// skipped, since they would repeat it exactly.
RatioDescentStatus ratioDescent(double* x, const double* x0, const double* P, const double* c,
                                double alpha, const double* Q, const double* d, double beta,
                                std::int64_t n, std::int64_t iterations);

// As ratioDescent, and also the ratio along the way: trace[t] = R after t
// iterations for t = 0 .. max(iterations, 0), where trace[0] = R(x0). Each is
// N/D formed from the running scalars (x'Px, x'Qx, c'x, d'x as corrected step
// by step, not recomputed), so it costs O(1) per iteration; the last is R at
// the returned x before zeros become 1e-100. trace must hold
// max(iterations, 0) + 1 doubles. For n < 1 every entry is alpha / beta.
RatioDescentStatus ratioDescentTrace(double* x, double* trace, const double* x0, const double* P,
                                     const double* c, double alpha, const double* Q,
                                     const double* d, double beta, std::int64_t n,
                                     std::int64_t iterations);

// ratioDescentTrace with stopping controls: trace (may be null, see
// RatioDescentOptions::growTrace for one that grows) must hold
// max(iterations, 0) + 1 doubles; after a stationary stop all of them are
// written, after any other stop only the first report->iterations + 1, which
// end at the returned x. report (may be null) receives why and where the
// solve stopped. With default options the results are those of
// ratioDescentTrace, whose stationary exit is always on. For n < 1 (no
// coordinate to move) the solve is stationary at the first iteration, or
// stops at once for the tolerance (when > 0, eta = 0) or else for the
// gradient (when gradientTolerance > 0, gradient 0).
RatioDescentStatus ratioDescentWithOptions(double* x, double* trace, const double* x0,
                                           const double* P, const double* c, double alpha,
                                           const double* Q, const double* d, double beta,
                                           std::int64_t n, std::int64_t iterations,
                                           const RatioDescentOptions& options,
                                           RatioDescentReport* report);

// A pair of entries across the diagonal of a square matrix that shows it is
// not symmetric, as findAsymmetry finds it.
struct Asymmetry {
    bool found = false;
    std::int64_t row = 0;  // A(row, column) lies below the diagonal
    std::int64_t column = 0;
    double lower = 0.0;  // A(row, column)
    double upper = 0.0;  // A(column, row)
};

// Whether the n-by-n A (column-major) differs from its transpose by more
// than rounding: a pair with |A_ij - A_ji| > 1e-10 max(|A_ij|, |A_ji|,
// sqrt(|A_ii A_jj|)) (the worst such pair is returned), or one strict
// triangle entirely zero where the other is not (a triangle stored alone;
// its largest entry facing a zero is returned). NaN never counts. whole:
// every pair, about one read of A; otherwise only the pairs of the first
// column, the last row and the first subdiagonal, about 3n entries, which
// still catch a triangle stored alone unless it is zero on all three lines.
// The solver reads A's lower triangle at the start and whole columns after,
// so an asymmetric P or Q gives the result of neither A nor its transpose.
// The whole check is shared by the threads a solve with these `threads` and
// `threadLimit` (RatioDescentOptions) would start, each taking the next
// panel of columns as it is free, so a thread the machine does not serve
// holds up at most one panel; the result is the same whatever the count.
Asymmetry findAsymmetry(const double* A, std::int64_t n, bool whole, int threads = 1,
                        int threadLimit = 0);


// ---- Several eigenpairs ------------------------------------------------------
//
// The k lowest (or highest) eigenpairs of the symmetric-definite pencil
// (P, Q): P v = lambda Q v with Q positive definite, by the same greedy
// coordinate descent run on a block of kb = k + guard vectors at once. Each
// iteration chooses one coordinate j for the whole block: the largest over j
// of sum_i |dR_i/dx_j| / max_l |dR_i/dx_l| (R_i = v_i'Pv_i / v_i'Qv_i, each
// vector's gradient scaled by its largest entry at the iteration before),
// with the weights of diagonal scaling when asked; every vector then takes
// its own closed-form step along e_j, and one read of columns j of P and Q
// updates all their products. Every sweep (n iterations) ends with a
// Rayleigh-Ritz step over the block and the blocks the last three sweeps
// started from, which keeps the vectors apart: without it all would descend
// to the lowest eigenvector. Directions of the basis within 1e-6 of the span
// of the others (whose running products are too inexact to use) are dropped.
// A vector whose backward error is already within a tenth of the tolerance
// sits a sweep out (the pass skips it; the Rayleigh-Ritz step still mixes
// it with the others).

// Why eigenpairs stopped.
enum EigenpairsStop {
    // Every wanted pair's backward error, formed afresh, is <= tolerance.
    eigenpairsStopTolerance = 0,
    // maxSweeps sweeps ran.
    eigenpairsStopSweeps = 1,
    // The largest backward error of the wanted pairs has not come below 0.9
    // of its lowest before over the last 20 sweeps: the tolerance is below
    // what the rounding of this problem lets the block reach.
    eigenpairsStopStalled = 2,
};

struct EigenpairsOptions {
    // The k highest pairs instead of the lowest (the block descends on -P).
    bool largest = false;
    // Stop once every wanted pair's backward error
    //   ||P v - lambda Q v||_2 / ((||P||_1 + |lambda| ||Q||_1) ||v||_2),
    // formed with products formed afresh, is <= this. 0 runs to maxSweeps.
    double tolerance = 1e-10;
    // Most sweeps of n iterations each.
    std::int64_t maxSweeps = 1000;
    // Vectors beyond the k wanted, which speed the descent where the
    // spectrum goes on past lambda_k (at most n - k of them). Negative:
    // max(2, ceil(k / 8)), which measured best over Fisher pencils (where
    // more cost sweeps) and random ones (where fewer do).
    int guard = -1;
    // The choice weighs coordinate j by the diagonal scaling's w_j (see
    // ratioDescentScalingDiagonal) when diagonal.
    RatioDescentScaling scaling = ratioDescentScalingNone;
    // Threads as RatioDescentOptions::threads and threadLimit: at most this
    // many share each pass (0: automatic), the same bits at any count.
    int threads = 1;
    int threadLimit = 0;
    // Asked from the calling thread about once per 2^20 multiply-adds of
    // the passes, and between sweeps; true stops with ratioDescentInterrupted
    // (nothing is written). Null is never asked.
    bool (*interruptPending)(void* context) = nullptr;
    void* interruptContext = nullptr;
    // Told after every sweep: the sweeps done and the largest backward error
    // of the wanted pairs from the running products. true stops as the
    // interrupt poll does. Null is never called.
    bool (*progress)(std::int64_t sweeps, double backwardError, void* context) = nullptr;
    void* progressContext = nullptr;
    // Where the work memory comes from, as in RatioDescentOptions.
    void* (*allocate)(void* context, std::size_t bytes) = nullptr;
    void (*release)(void* context, void* block) = nullptr;
    void* allocationContext = nullptr;
};

struct EigenpairsReport {
    std::int64_t sweeps = 0;
    std::int64_t iterations = 0;
    EigenpairsStop stop = eigenpairsStopSweeps;
    // The vectors in the block (k + guard, at most n).
    int blockSize = 0;
    // Times the block's products were formed afresh.
    std::int64_t refreshes = 0;
    // The largest backward error among the k pairs returned (as written to
    // backwardErrors).
    double backwardError = 0.0;
    // The most threads a pass ran on.
    int threads = 1;
};

// Doubles of work memory eigenpairs takes for these n, k and options: about
// 15 n kb, kb the block size.
std::int64_t eigenpairsWorkDoubles(std::int64_t n, std::int64_t k, const EigenpairsOptions& options);

// V (n-by-k, column-major), lambda (k) and backwardErrors (k) <- the k lowest
// eigenpairs of (P, Q) (the highest with options.largest), lambda ascending
// (descending for the highest), V'QV = I to rounding and lambda their Ritz
// values: the last step is a Rayleigh-Ritz over the block with products
// formed afresh, and each backward error is formed afresh at the v returned.
// P and Q are n-by-n, symmetric (whole columns are read). start (n-by-
// startColumns, column-major, may be null when startColumns = 0) begins the
// block (a column of zeros counts as not given); the other vectors start
// from a fixed pseudo-random sequence, so a
// call repeats its bits. 1 <= k <= n, 0 <= startColumns <= k. The products
// are our own sums in a fixed order: the results are the same bit for bit
// for any thread count, SIMD path and BLAS. Where an eigenvalue is repeated
// across lambda_k, any Q-orthonormal vectors from its space are returned. A
// local method cannot promise that no lower pair exists whose eigenvector
// the start misses entirely; the guard vectors converge above lambda_k,
// which catches a pair the wanted vectors missed but the block did not.
RatioDescentStatus eigenpairs(double* V, double* lambda, double* backwardErrors, const double* P,
                              const double* Q, std::int64_t n, std::int64_t k,
                              const double* start, std::int64_t startColumns,
                              const EigenpairsOptions& options, EigenpairsReport* report);

}  // namespace brelvane

#endif
