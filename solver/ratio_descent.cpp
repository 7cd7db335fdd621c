// Driver of the greedy coordinate descent: start-up products, iterations, stopping, finish.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "blas_dsymv.h"
#include "brelvane/ratio_descent.h"
#include "descent_state.h"
#include "fused_pass.h"
#include "iteration_kernels.h"
#include "ratio_step.h"
#include "ritz_step.h"
#include "shared_pass.h"
#include "vector_kernels.h"

namespace brelvane {

namespace {

// Equal bit patterns: -0.0 differs from +0.0.
bool sameBits(double a, double b) {
    std::uint64_t ua;
    std::uint64_t ub;
    std::memcpy(&ua, &a, sizeof ua);
    std::memcpy(&ub, &b, sizeof ub);
    return ua == ub;
}

bool sameScalars(const Scalars& a, const Scalars& b) {
    return sameBits(a.xPx, b.xPx) && sameBits(a.xQx, b.xQx) && sameBits(a.cx, b.cx) &&
           sameBits(a.dx, b.dx);
}

// True when y[j] <- delta * Ak[j] + y[j], the column update, would leave every
// y[j] as it is, bit for bit. A NaN sum counts as a change, since which NaN
// an addition returns may depend on the order of its operands; so the answer
// errs only towards "changed". Stops at the first change.
bool columnUpdateChangesNothing(const double* y, const double* Ak, double delta, std::int64_t n) {
    for (std::int64_t j = 0; j < n; ++j) {
        const double v = delta * Ak[j] + y[j];
        if (std::isnan(v) || !sameBits(v, y[j])) return false;
    }
    return true;
}

// About 2^20 elements of work between two interrupt polls: a few
// milliseconds at any n, so a poll costs nothing measurable.
std::int64_t pollInterval(std::int64_t n) {
    constexpr std::int64_t work = std::int64_t{1} << 20;
    return n < work ? work / n : 1;
}

bool interruptPending(const RatioDescentOptions& o) {
    return o.interruptPending != nullptr && o.interruptPending(o.interruptContext);
}

struct Outcome {
    std::int64_t iterations;
    RatioDescentStop stop;
    double gradient;  // set when asked for
    bool traceRefused = false;  // the trace could not grow: stop is then interrupted
};

// The trace as the solve writes it: entries [0, capacity) of data exist. A
// caller's buffer holds every entry from the start (capacity = length, grow
// null); storage grown through RatioDescentOptions::growTrace is extended
// before an entry past it is written.
struct TraceStorage {
    double* data;
    std::int64_t capacity;
    std::int64_t length;  // max(iterations, 0) + 1: no entry beyond
    double* (*grow)(void* context, std::int64_t length);
    void* context;
    // The other threads of a shared pass are stopped while the caller's
    // growTrace runs, which may not return (a host that abandons the call).
    SharedPass* shared = nullptr;
};

// The first storage a growing trace asks for: R(x0) and 255 iterations, 2 KiB.
constexpr std::int64_t firstTraceLength = 256;

// Makes entries [0, end) writable, end <= length. Growing storage at least
// doubles, so reaching m entries copies fewer than 2m. False when it cannot
// grow; it then stays as it was.
bool reserveTrace(TraceStorage& tr, std::int64_t end) {
    if (end <= tr.capacity) return true;
    std::int64_t want = tr.capacity > tr.length / 2 ? tr.length : 2 * tr.capacity;
    if (want < end) want = end;
    if (want < firstTraceLength) want = tr.length < firstTraceLength ? tr.length : firstTraceLength;
    if (tr.shared) pauseSharedPass(*tr.shared);
    double* grown = tr.grow(tr.context, want);
    if (tr.shared) resumeSharedPass(*tr.shared);
    if (grown == nullptr) return false;
    tr.data = grown;
    tr.capacity = want;
    return true;
}

// k from a pass that reported NaN, its flag into anyNaN.
std::int64_t noteNaN(const ChoiceAndNaN& chosen, bool& anyNaN) {
    anyNaN = chosen.anyNaN;
    return chosen.k;
}

// The gradient a tolerance is compared with and a report gives: the
// magnitude the choice compared at k, or NaN when any value it compared was
// NaN (the one at k kept as it is when it is NaN itself).
double gradientOf(double magnitudeAtK, bool anyNaN) {
    return anyNaN && !std::isnan(magnitudeAtK) ? std::numeric_limits<double>::quiet_NaN()
                                               : magnitudeAtK;
}

// True when a step raised R by more than the rounding of the two ratios
// compared: Ra - Rb > 2^-49 (mb + ma), where for each state
// m = (sN + |R| sD) / |D| bounds, to first order, how R = N / D moves with
// the rounding of N and D, and sN, sD are the sums of the magnitudes of the
// terms N and D are added from: 1/2 |x'Px|, |c'x|, |alpha| and 1/2 |x'Qx|,
// |d'x|, |beta| before the step (sNb, sDb), and after it those plus the
// magnitudes of the step's corrections, |delta Px_k| + 1/2 |delta^2 P_kk| +
// |delta c_k| and its D counterpart, which bound the terms after it. Each of
// the two ratios rounds by a few units of 2^-53 of m, so 16 of them (2^-49)
// leave only a real rise, and R formed at a cancellation (c'x close to
// -alpha, say) does not count its noise. NaN on either side is no rise.
// Called only when Ra > Rb, so the plain iteration pays one comparison; D
// before the step is formed here, from the scalars before it.
bool risesBeyondRounding(const RatioProblem& p, const Scalars& before, double Rb, double Da,
                         double Ra, double delta, double Pxk, double Qxk, double Pkk, double Qkk,
                         std::int64_t k) {
    const double Db = denominatorOf(before, p);
    const double sNb = 0.5 * std::fabs(before.xPx) + std::fabs(before.cx) + std::fabs(p.alpha);
    const double sDb = 0.5 * std::fabs(before.xQx) + std::fabs(before.dx) + std::fabs(p.beta);
    const double sNa = sNb + std::fabs(delta * Pxk) + 0.5 * std::fabs(delta * delta * Pkk) +
                       std::fabs(delta * p.c[k]);
    const double sDa = sDb + std::fabs(delta * Qxk) + 0.5 * std::fabs(delta * delta * Qkk) +
                       std::fabs(delta * p.d[k]);
    const double mb = (sNb + std::fabs(Rb) * sDb) / std::fabs(Db);
    const double ma = (sNa + std::fabs(Ra) * sDa) / std::fabs(Da);
    return Ra - Rb > 0x1p-49 * (mb + ma);
}

// v[k] for v = Px (which 0) or Qx (1), as the last shared pass left it: the
// thread whose slice holds k reported it, so the calling thread need not
// fetch it from that thread's cache.
double productAt(const SharedPass* shared, const double* v, std::int64_t k, int which) {
    if (shared && k == shared->lastK) return which == 0 ? shared->lastPxk : shared->lastQxk;
    return v[k];
}

// A choice made outside the shared pass follows Px and Qx changed outside
// it (by a Ritz step): what the pass last reported no longer holds.
void forgetShared(SharedPass* shared) {
    if (shared) shared->lastK = -1;
}

// The coordinate choice of a solve without scaling: the lowest index of
// largest |dR/dx_j|. With ReportNaN, choose and updateAndChoose also set
// anyNaN (whether any |dR/dx_j| they compared was NaN); without, they leave
// it alone and the pass does not form it.
struct PlainChoice {
    const IterationKernels& kernels;
    SharedPass* shared;  // the updating pass split over threads, or null

    template <bool ReportNaN>
    std::int64_t choose(const RatioProblem& p, const double* Px, const double* Qx, double D,
                        double R, bool& anyNaN) const {
        forgetShared(shared);
        if constexpr (ReportNaN)
            return noteNaN(kernels.chooseReportingNaN(Px, Qx, p.c, p.d, D, R, p.n), anyNaN);
        else
            return kernels.choose(Px, Qx, p.c, p.d, D, R, p.n);
    }
    template <bool ReportNaN>
    std::int64_t updateAndChoose(const RatioProblem& p, double* Px, double* Qx, const double* Pk,
                                 const double* Qk, double delta, double D, double R,
                                 bool& anyNaN) const {
        if (shared) return noteNaN(sharedUpdateAndChoose(*shared, Px, Qx, Pk, Qk, delta, D, R), anyNaN);
        if constexpr (ReportNaN)
            return noteNaN(
                kernels.updateAndChooseReportingNaN(Px, Qx, Pk, Qk, delta, p.c, p.d, D, R, p.n),
                anyNaN);
        else
            return kernels.updateAndChoose(Px, Qx, Pk, Qk, delta, p.c, p.d, D, R, p.n);
    }
    double productAt(const double* v, std::int64_t k, int which) const {
        return brelvane::productAt(shared, v, k, which);
    }
    // The magnitude the choice compared at k, recomputed by the same formula.
    double magnitudeAt(const RatioProblem& p, const double* Px, const double* Qx, double D, double R,
                       std::int64_t k) const {
        return choiceMagnitude<false>(
            gradientAt(productAt(Px, k, 0), productAt(Qx, k, 1), p.c[k], p.d[k], D, R),
            nullptr, k);
    }
};

// With diagonal scaling: the lowest index of largest |w_j * dR/dx_j|.
struct WeightedChoice {
    const IterationKernels& kernels;
    const double* w;
    SharedPass* shared;

    template <bool ReportNaN>
    std::int64_t choose(const RatioProblem& p, const double* Px, const double* Qx, double D,
                        double R, bool& anyNaN) const {
        forgetShared(shared);
        if constexpr (ReportNaN)
            return noteNaN(kernels.chooseWeightedReportingNaN(Px, Qx, p.c, p.d, w, D, R, p.n),
                           anyNaN);
        else
            return kernels.chooseWeighted(Px, Qx, p.c, p.d, w, D, R, p.n);
    }
    template <bool ReportNaN>
    std::int64_t updateAndChoose(const RatioProblem& p, double* Px, double* Qx, const double* Pk,
                                 const double* Qk, double delta, double D, double R,
                                 bool& anyNaN) const {
        if (shared) return noteNaN(sharedUpdateAndChoose(*shared, Px, Qx, Pk, Qk, delta, D, R), anyNaN);
        if constexpr (ReportNaN)
            return noteNaN(kernels.updateAndChooseWeightedReportingNaN(Px, Qx, Pk, Qk, delta, p.c,
                                                                       p.d, w, D, R, p.n),
                           anyNaN);
        else
            return kernels.updateAndChooseWeighted(Px, Qx, Pk, Qk, delta, p.c, p.d, w, D, R, p.n);
    }
    double productAt(const double* v, std::int64_t k, int which) const {
        return brelvane::productAt(shared, v, k, which);
    }
    double magnitudeAt(const RatioProblem& p, const double* Px, const double* Qx, double D, double R,
                       std::int64_t k) const {
        return choiceMagnitude<true>(
            gradientAt(productAt(Px, k, 0), productAt(Qx, k, 1), p.c[k], p.d[k], D, R),
            w, k);
    }
};

// True for a curvature that can set a weight: positive, finite and normal
// (false for NaN).
bool setsWeight(double q) {
    return q >= std::numeric_limits<double>::min() && q <= std::numeric_limits<double>::max();
}

// w_j = 2^-floor(e/2), e the binary exponent of q = Q_jj, or of |P_jj| when
// Q_jj cannot set it; so w_j^2 q lies in [1, 4). Built from the exponent
// alone, so every w_j is an exact power of two; 1 when neither diagonal
// entry can set it.
void diagonalWeights(const RatioProblem& p, double* w) {
    const std::int64_t n = p.n;
    for (std::int64_t j = 0; j < n; ++j) {
        const double Qjj = p.Q[j * (n + 1)];
        const double Pjj = std::fabs(p.P[j * (n + 1)]);
        const double q = setsWeight(Qjj) ? Qjj : setsWeight(Pjj) ? Pjj : 0.0;
        if (q == 0.0) {
            w[j] = 1.0;
            continue;
        }
        const int e = std::ilogb(q);                      // in [-1022, 1023]
        const int half = e >= 0 ? e / 2 : -((1 - e) / 2);  // floor(e / 2)
        w[j] = std::ldexp(1.0, -half);
    }
}

// Checkpoints come every `interval` iterations (and the tolerance is also
// tested at t = 0): the Ritz step when accelerating, then the relative
// residual against the tolerance.
struct Checkpoints {
    std::int64_t interval;
    double tolerance;        // 0: never stops
    RitzHistory* ritz;       // null without acceleration
    std::int64_t accepted;   // Ritz steps taken
};

// Iterations between checkpoints: a sweep of n steps, each coordinate
// chosen about once, and never fewer than 2.
std::int64_t checkpointInterval(std::int64_t n) { return n > 2 ? n : 2; }

// eta = max_j |gN_j - R gD_j| / (max_j |gN_j| + |R| max_j |gD_j|), with
// gN = Px + c and gD = Qx + d from the running products: |dR/dx_j| times |D|,
// relative to the two terms it is the difference of. 0 where every gN_j and
// R gD_j vanish (n < 1 included); NaN when any term is NaN or R is infinite.
double relativeResidual(const RatioProblem& p, const double* Px, const double* Qx, double R) {
    double top = 0.0;
    double gNmax = 0.0;
    double gDmax = 0.0;
    bool nan = false;
    for (std::int64_t j = 0; j < p.n; ++j) {
        const double gN = Px[j] + p.c[j];
        const double gD = Qx[j] + p.d[j];
        const double e = std::fabs(gN - R * gD);
        nan = nan || std::isnan(e);
        if (e > top) top = e;
        if (std::fabs(gN) > gNmax) gNmax = std::fabs(gN);
        if (std::fabs(gD) > gDmax) gDmax = std::fabs(gD);
    }
    if (nan) return std::numeric_limits<double>::quiet_NaN();
    const double bottom = gNmax + std::fabs(R) * gDmax;
    return bottom == 0.0 ? 0.0 : top / bottom;
}

bool meetsTolerance(const Checkpoints& cp, const RatioProblem& p, const double* Px, const double* Qx,
                    double R) {
    return cp.tolerance > 0.0 && relativeResidual(p, Px, Qx, R) <= cp.tolerance;
}

// The Ritz step at a checkpoint, with Px and Qx up to date. True when it
// changed the state: the Ritz point was taken, or the scalars formed afresh.
// N, D and the choice k then follow, k from a pass that reports NaN into
// anyNaN.
template <class Choice>
bool takeRitzStep(Checkpoints& cp, const Choice& choice, const RatioProblem& p, double* x, double* Px,
                  double* Qx, Scalars& s, double& N, double& D, std::int64_t& k, bool& anyNaN) {
    if (cp.ritz == nullptr) return false;
    const Scalars before = s;
    const bool accepted = ritzStep(*cp.ritz, p, x, Px, Qx, s);
    if (accepted) ++cp.accepted;
    if (!accepted && sameScalars(s, before)) return false;
    N = numeratorOf(s, p);
    D = denominatorOf(s, p);
    k = choice.template choose<true>(p, Px, Qx, D, N / D, anyNaN);
    return true;
}

// The gradient the next choice sees (gradientOf) at the running products
// Px, Qx and the D and R they belong to, from a pass of its own.
template <class Choice>
double gradientOfChoice(const Choice& choice, const RatioProblem& p, const double* Px,
                        const double* Qx, double D, double R) {
    bool anyNaN = false;
    const std::int64_t k = choice.template choose<true>(p, Px, Qx, D, R, anyNaN);
    return gradientOf(choice.magnitudeAt(p, Px, Qx, D, R, k), anyNaN);
}

// When the progress callback is told of the state: before the first
// iteration, at every interrupt poll, and at a checkpoint once `interval`
// iterations have passed since the last checkpoint told of (every
// checkpoint for n >= 1024, where a sweep is at least a poll interval). So
// at most twice per poll interval, never per iteration; a poll and a
// checkpoint at the same iteration tell once.
struct Progress {
    const RatioDescentOptions& options;
    bool withResidual;            // the solve has checkpoints: eta is part of the state
    std::int64_t interval;        // the poll interval
    std::int64_t checkpointTold;  // the checkpoint last told of (0: the start)

    bool dueAtCheckpoint(std::int64_t t) const { return t - checkpointTold >= interval; }

    // Tells the state after t iterations, with Px and Qx up to date: the
    // gradient a report there gives (a choice pass of its own, for its NaN
    // rule); true when the callback asks to stop. Reads the state only.
    template <class Choice>
    bool tell(const Choice& choice, const RatioProblem& p, const double* Px, const double* Qx,
              double N, double D, std::int64_t t, bool checkpoint) {
        if (checkpoint) checkpointTold = t;
        const double R = N / D;
        const RatioDescentProgress state{t, R, gradientOfChoice(choice, p, Px, Qx, D, R),
                                         withResidual ? relativeResidual(p, Px, Qx, R) : 0.0};
        return options.progress(state, options.progressContext);
    }
};

// Iterations from the start-up state, pipelined: step t moves x_k and
// corrects the scalars; the pass that chooses step t + 1's coordinate first
// applies step t's column k of P and Q to Px and Qx, in the same sweep:
//
//   choose k_1 | step 1 | update k_1 + choose k_2 | step 2 | ... | step T
//
// After the last step its column update is still pending; it is applied only
// when the gradient at the returned x is asked for (wantGradient), and at a
// checkpoint (cp, null for none). With Trace, entry t of the trace receives R
// after t steps (after the Ritz step at a checkpoint); the storage holds
// entry 0 on entry and grows before step t when it ends at t. If it cannot,
// the solve stops after t - 1 steps, as an interrupt stops it. The
// stationary test reads the columns only when x_k and the scalars came out
// unchanged; on a step that moves x_k it costs one comparison. Steps that
// raised R by more than rounding (to the line's maximum, or across a pole of
// R) are counted in `rises`, for one comparison per step. ReportNaN: the
// passes report whether any value they compared was NaN, for the gradient
// tolerance; the gradient reported at the end comes from a reporting pass of
// its own. With Told, the progress callback is told of the state as Progress
// schedules it, at the top of the iteration after the poll or checkpoint
// that made it due, where the columns are all applied; a true answer stops
// the solve as an interrupt does. Without it (no callback) none of that is
// compiled into the loop.
template <bool Trace, bool ReportNaN, bool Told, class Choice>
Outcome iterate(const Choice& choice, const RatioProblem& p, double* x, double* Px, double* Qx,
                Scalars& s, std::int64_t iterations, const RatioDescentOptions& options,
                Checkpoints* cp, bool wantGradient, TraceStorage* trace, std::int64_t& rises) {
    const std::int64_t n = p.n;
    double N = numeratorOf(s, p);
    double D = denominatorOf(s, p);
    if (Trace) trace->data[0] = N / D;
    bool anyNaN = false;  // with ReportNaN, of the pass that chose k
    std::int64_t k = choice.template choose<ReportNaN>(p, Px, Qx, D, N / D, anyNaN);
    // At every return Px and Qx are up to date, and k is the choice there.
    auto gradient = [&] {
        return wantGradient ? gradientOfChoice(choice, p, Px, Qx, D, N / D) : 0.0;
    };
    const std::int64_t interval = pollInterval(n);
    Progress progress{options, cp != nullptr, interval, 0};
    if (Told && progress.tell(choice, p, Px, Qx, N, D, 0, true))
        return {0, ratioDescentStopInterrupted, gradient()};
    if (cp && meetsTolerance(*cp, p, Px, Qx, N / D))
        return {0, ratioDescentStopTolerance, gradient()};
    std::int64_t untilPoll = interval;
    // t never equals -1: no checkpoint.
    std::int64_t nextCheckpoint = cp ? cp->interval : -1;
    // Telling the state after the last iteration is due: from a poll (bit
    // 1), from a checkpoint (bit 2).
    unsigned tellDue = 0;
    for (std::int64_t t = 1;; ++t) {
        if (Told && tellDue != 0) {
            if (progress.tell(choice, p, Px, Qx, N, D, t - 1, (tellDue & 2u) != 0))
                return {t - 1, ratioDescentStopInterrupted, gradient()};
            tellDue = 0;
        }
        if (options.gradientTolerance > 0.0) {
            const double g = gradientOf(choice.magnitudeAt(p, Px, Qx, D, N / D, k), anyNaN);
            if (g <= options.gradientTolerance) return {t - 1, ratioDescentStopGradient, g};
        }
        if (Trace && t >= trace->capacity && !reserveTrace(*trace, t + 1))
            return {t - 1, ratioDescentStopInterrupted, gradient(), true};
        const double* Pk = p.P + k * n;
        const double* Qk = p.Q + k * n;
        const double Pkk = Pk[k];
        const double Qkk = Qk[k];
        // ratioStep(a0, a1, a2, b0, b1, b2) along e_k: N and D, their slopes
        // dN/dx_k, dD/dx_k and their curvatures P_kk / 2, Q_kk / 2.
        const double Pxk = choice.productAt(Px, k, 0);
        const double Qxk = choice.productAt(Qx, k, 1);
        const double dN = Pxk + p.c[k];
        const double dD = Qxk + p.d[k];
        const double Rb = N / D;
        const double delta = ratioStep(N, dN, 0.5 * Pkk, D, dD, 0.5 * Qkk);
        const double xk = x[k];
        const Scalars before = s;
        x[k] = delta + xk;
        // From Qx[k] and Px[k] before column k is applied to them.
        s.xQx = ((2.0 * delta) * Qxk + s.xQx) + (delta * delta) * Qkk;
        s.xPx = ((2.0 * delta) * Pxk + s.xPx) + (delta * delta) * Pkk;
        s.cx = s.cx + delta * p.c[k];
        s.dx = s.dx + delta * p.d[k];
        N = numeratorOf(s, p);
        D = denominatorOf(s, p);
        if (Trace) trace->data[t] = N / D;
        if (N / D > Rb &&
            risesBeyondRounding(p, before, Rb, D, N / D, delta, Pxk, Qxk, Pkk, Qkk, k))
            ++rises;
        if (sameBits(x[k], xk) && sameScalars(s, before) && !std::isnan(delta) &&
            columnUpdateChangesNothing(Px, Pk, delta, n) &&
            columnUpdateChangesNothing(Qx, Qk, delta, n)) {
            // The state is the one k was chosen in, so k is the next choice
            // too, and every iteration up to the next checkpoint repeats this
            // one: the run goes there at once. If the checkpoint changes the
            // state the descent goes on from there; otherwise it stops.
            const std::int64_t first = t;
            if (cp && cp->ritz && nextCheckpoint <= iterations) {
                if (Trace) {
                    if (!reserveTrace(*trace, nextCheckpoint + 1))
                        return {first, ratioDescentStopInterrupted, gradient(), true};
                    for (std::int64_t u = t + 1; u < nextCheckpoint; ++u)
                        trace->data[u] = trace->data[t];
                }
                t = nextCheckpoint;
                nextCheckpoint += cp->interval;
                if (takeRitzStep(*cp, choice, p, x, Px, Qx, s, N, D, k, anyNaN)) {
                    if (Trace) trace->data[t] = N / D;
                    if (meetsTolerance(*cp, p, Px, Qx, N / D))
                        return {t, ratioDescentStopTolerance, gradient()};
                    if (t == iterations) return {t, ratioDescentStopIterations, gradient()};
                    if (Told && progress.dueAtCheckpoint(t)) tellDue |= 2u;
                    continue;
                }
            }
            if (Trace) {
                if (!reserveTrace(*trace, iterations + 1))
                    return {first, ratioDescentStopInterrupted, gradient(), true};
                for (std::int64_t u = first + 1; u <= iterations; ++u)
                    trace->data[u] = trace->data[first];
            }
            return {first, ratioDescentStopStationary, gradient()};
        }
        // Column k of step t is applied with the next choice, or here at a
        // checkpoint, which needs the products up to date.
        bool pending = true;
        if (t == nextCheckpoint) {
            nextCheckpoint += cp->interval;
            k = choice.template updateAndChoose<ReportNaN>(p, Px, Qx, Pk, Qk, delta, D, N / D,
                                                           anyNaN);
            pending = false;
            takeRitzStep(*cp, choice, p, x, Px, Qx, s, N, D, k, anyNaN);
            if (Trace) trace->data[t] = N / D;
            if (meetsTolerance(*cp, p, Px, Qx, N / D))
                return {t, ratioDescentStopTolerance, gradient()};
            if (Told && progress.dueAtCheckpoint(t)) tellDue |= 2u;
        }
        const bool last = t == iterations;
        bool interrupted = false;
        if (!last && --untilPoll == 0) {
            untilPoll = interval;
            interrupted = interruptPending(options);
            if (Told) tellDue |= 1u;
        }
        if (last || interrupted) {
            if (wantGradient && pending)
                k = choice.template updateAndChoose<false>(p, Px, Qx, Pk, Qk, delta, D, N / D,
                                                           anyNaN);
            return {t, last ? ratioDescentStopIterations : ratioDescentStopInterrupted, gradient()};
        }
        if (pending)
            k = choice.template updateAndChoose<ReportNaN>(p, Px, Qx, Pk, Qk, delta, D, N / D,
                                                           anyNaN);
    }
}

// The solve from the start-up state, on the given choice.
template <class Choice>
Outcome solveFrom(const Choice& choice, const RatioProblem& p, double* x, double* Px, double* Qx,
                  Scalars& s, std::int64_t steps, const RatioDescentOptions& o,
                  Checkpoints* cp, RatioDescentReport* report, TraceStorage* trace,
                  std::int64_t& rises) {
    if (steps == 0) {
        Outcome out{0, ratioDescentStopIterations, 0.0};
        if (report)
            out.gradient = gradientOfChoice(choice, p, Px, Qx, denominatorOf(s, p), ratioOf(s, p));
        return out;
    }
    // Only a gradient tolerance reads the NaN flag at every iteration: without
    // one the passes do not form it. The progress code is compiled only into
    // the solves with a callback.
    const bool want = report != nullptr;
    if (o.progress != nullptr) {
        if (o.gradientTolerance > 0.0)
            return trace ? iterate<true, true, true>(choice, p, x, Px, Qx, s, steps, o, cp, want,
                                                     trace, rises)
                         : iterate<false, true, true>(choice, p, x, Px, Qx, s, steps, o, cp, want,
                                                      nullptr, rises);
        return trace ? iterate<true, false, true>(choice, p, x, Px, Qx, s, steps, o, cp, want,
                                                  trace, rises)
                     : iterate<false, false, true>(choice, p, x, Px, Qx, s, steps, o, cp, want,
                                                   nullptr, rises);
    }
    if (o.gradientTolerance > 0.0) {
        if (trace)
            return iterate<true, true, false>(choice, p, x, Px, Qx, s, steps, o, cp, want, trace,
                                              rises);
        return iterate<false, true, false>(choice, p, x, Px, Qx, s, steps, o, cp, want, nullptr,
                                           rises);
    }
    if (trace)
        return iterate<true, false, false>(choice, p, x, Px, Qx, s, steps, o, cp, want, trace,
                                           rises);
    return iterate<false, false, false>(choice, p, x, Px, Qx, s, steps, o, cp, want, nullptr,
                                        rises);
}

// No coordinate to move, and dsymv rejects lda = 0: R stays alpha / beta,
// formed as from empty sums, and the gradient and residual are the empty
// ones, 0.
Outcome emptySolve(const RatioProblem& p, std::int64_t steps, const RatioDescentOptions& options,
                   TraceStorage* trace) {
    const double R = ratioOf(Scalars{0, 0, 0, 0}, p);
    if (trace) trace->data[0] = R;
    if (steps == 0 || options.tolerance > 0.0 || options.gradientTolerance > 0.0) {
        const RatioDescentStop stop = steps == 0                  ? ratioDescentStopIterations
                                      : options.tolerance > 0.0 ? ratioDescentStopTolerance
                                                                  : ratioDescentStopGradient;
        return {0, stop, 0.0};
    }
    if (trace && !reserveTrace(*trace, steps + 1))
        return {0, ratioDescentStopInterrupted, 0.0, true};
    if (trace)
        for (std::int64_t t = 1; t <= steps; ++t) trace->data[t] = R;
    return {1, ratioDescentStopStationary, 0.0};
}

// The work vectors' memory: the caller's allocator when it gives one.
void* allocateWork(const RatioDescentOptions& o, std::size_t bytes) {
    if (o.allocate && o.release) return o.allocate(o.allocationContext, bytes);
    return std::malloc(bytes);
}

void releaseWork(const RatioDescentOptions& o, void* block) {
    if (block == nullptr) return;
    if (o.allocate && o.release) return o.release(o.allocationContext, block);
    std::free(block);
}

// Bytes of n doubles times `count`, or 0 when that does not fit a size_t.
std::size_t bytesFor(std::int64_t n, std::int64_t count) {
    const std::uint64_t limit = std::numeric_limits<std::size_t>::max() / sizeof(double);
    if (static_cast<std::uint64_t>(n) > limit / static_cast<std::uint64_t>(count)) return 0;
    return static_cast<std::size_t>(n) * static_cast<std::size_t>(count) * sizeof(double);
}

}  // namespace

// The four sums of dotProduct(x, Px), dotProduct(x, c), dotProduct(x, Qx) and
// dotProduct(d, x), each in its own accumulator, in one pass.
Scalars scalarsOf(const RatioProblem& p, const double* x, const double* Px, const double* Qx) {
    Scalars s{0.0, 0.0, 0.0, 0.0};
    for (std::int64_t j = 0; j < p.n; ++j) {
        s.xPx += x[j] * Px[j];
        s.cx += x[j] * p.c[j];
        s.xQx += x[j] * Qx[j];
        s.dx += p.d[j] * x[j];
    }
    return s;
}

RatioDescentStatus ratioDescentWith(const IterationKernels& kernels, double* x, const double* x0,
                                    const double* P, const double* c, double alpha,
                                    const double* Q, const double* d, double beta,
                                    std::int64_t n, std::int64_t iterations, double* trace,
                                    const RatioDescentOptions* options,
                                    RatioDescentReport* report) {
    const RatioDescentOptions defaults;
    const RatioDescentOptions& o = options ? *options : defaults;
    const RatioProblem p{P, c, alpha, Q, d, beta, n};
    const std::int64_t steps = iterations > 0 ? iterations : 0;
    // The caller's buffer, storage that grows, or none. The first storage
    // comes before anything else is touched; none holds 2^63 entries.
    TraceStorage storage{trace, 0, 0, nullptr, nullptr};
    TraceStorage* tr = nullptr;
    if (trace || o.growTrace) {
        if (steps == std::numeric_limits<std::int64_t>::max()) return ratioDescentOutOfMemory;
        storage = trace ? TraceStorage{trace, steps + 1, steps + 1, nullptr, nullptr}
                        : TraceStorage{nullptr, 0, steps + 1, o.growTrace, o.traceContext};
        tr = &storage;
        if (!reserveTrace(storage, 1)) return ratioDescentOutOfMemory;
    }
    if (n < 1) {
        const Outcome out = emptySolve(p, steps, o, tr);
        if (report)
            *report = {out.iterations, out.stop, out.gradient, ratioOf(Scalars{0, 0, 0, 0}, p),
                       0.0, 0, 0, 1};
        return out.traceRefused ? ratioDescentOutOfMemory : ratioDescentOk;
    }
    if (static_cast<std::uint64_t>(n) > static_cast<std::uint64_t>(std::numeric_limits<BlasInt>::max()))
        return ratioDescentTooLarge;
    const bool scaled = o.scaling == ratioDescentScalingDiagonal;
    const bool accelerated = o.acceleration == ratioDescentAccelerationRitz;
    const std::size_t bytes = bytesFor(n, 1);
    const std::size_t historyBytes = accelerated ? bytesFor(n, ritzHistoryDoubles(1)) : 0;
    if (bytes == 0 || (accelerated && historyBytes == 0)) return ratioDescentOutOfMemory;
    // P*x and Q*x in one block, each starting on a cache line: threads that
    // share the pass then write whole lines of their own.
    const std::size_t lineBytes = 64;
    const std::size_t productBytes = (bytes + lineBytes - 1) / lineBytes * lineBytes;
    void* products = productBytes <= (std::numeric_limits<std::size_t>::max() - lineBytes) / 2
                         ? allocateWork(o, 2 * productBytes + lineBytes)
                         : nullptr;
    double* Px = products ? reinterpret_cast<double*>(
                                (reinterpret_cast<std::uintptr_t>(products) + lineBytes - 1) /
                                lineBytes * lineBytes)
                          : nullptr;
    double* Qx = Px ? Px + productBytes / sizeof(double) : nullptr;
    double* w = scaled ? static_cast<double*>(allocateWork(o, bytes)) : nullptr;
    double* slots = accelerated ? static_cast<double*>(allocateWork(o, historyBytes)) : nullptr;
    RatioDescentStatus status = ratioDescentOutOfMemory;
    if (products && (w || !scaled) && (slots || !accelerated)) {
        std::memcpy(x, x0, bytes);
        symMatVec(P, x, Px, n);
        symMatVec(Q, x, Qx, n);
        Scalars s = scalarsOf(p, x, Px, Qx);
        RitzHistory history;
        Checkpoints checkpoints{checkpointInterval(n), o.tolerance, nullptr, 0};
        if (accelerated) {
            startRitzHistory(history, slots, p, x, Px, Qx, s);
            checkpoints.ritz = &history;
        }
        Checkpoints* cp = accelerated || o.tolerance > 0.0 ? &checkpoints : nullptr;
        Outcome out{0, ratioDescentStopIterations, 0.0};
        std::int64_t rises = 0;
        const int threads = passThreads(o.threads, o.threadLimit, n);
        int used = 1;
        // The start-up products are the longest stretch without a poll.
        if (interruptPending(o)) {
            out.stop = ratioDescentStopInterrupted;
        } else {
            if (scaled) diagonalWeights(p, w);
            SharedPass* shared =
                threads > 1 && steps > 0 ? newSharedPass(threads, kernels, c, d, w, n) : nullptr;
            if (tr) tr->shared = shared;
            used = shared ? shared->team.size : 1;
            if (scaled)
                out = solveFrom(WeightedChoice{kernels, w, shared}, p, x, Px, Qx, s, steps, o, cp,
                                report, tr, rises);
            else
                out = solveFrom(PlainChoice{kernels, shared}, p, x, Px, Qx, s, steps, o, cp, report,
                                tr, rises);
            deleteSharedPass(shared);
            if (tr) tr->shared = nullptr;
        }
        if (tr && out.iterations == 0) tr->data[0] = ratioOf(s, p);
        if (report)
            *report = {out.iterations, out.stop, out.gradient, ratioOf(s, p),
                       relativeResidual(p, Px, Qx, ratioOf(s, p)), checkpoints.accepted, rises,
                       used};
        // Exact zeros (+0.0 and -0.0; never NaN) become 1e-100.
        for (std::int64_t i = 0; i < n; ++i)
            if (x[i] == 0.0) x[i] = 1e-100;
        status = out.traceRefused                          ? ratioDescentOutOfMemory
                 : out.stop == ratioDescentStopInterrupted ? ratioDescentInterrupted
                                                           : ratioDescentOk;
    }
    releaseWork(o, products);
    releaseWork(o, w);
    releaseWork(o, slots);
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

RatioDescentStatus ratioDescentWithOptions(double* x, double* trace, const double* x0,
                                           const double* P, const double* c, double alpha,
                                           const double* Q, const double* d, double beta,
                                           std::int64_t n, std::int64_t iterations,
                                           const RatioDescentOptions& options,
                                           RatioDescentReport* report) {
    return ratioDescentWith(fastestIterationKernels(), x, x0, P, c, alpha, Q, d, beta, n,
                            iterations, trace, &options, report);
}

}  // namespace brelvane
