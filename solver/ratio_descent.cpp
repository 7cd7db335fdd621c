// Driver of the greedy coordinate descent: start-up products, iterations, stopping, finish.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <type_traits>

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

// Why the loop stopped, and where.
struct Outcome {
    std::int64_t iterations;
    RatioDescentStop stop;
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
// compared: Ra - Rb > 2^-49 (mb + ma), m the ratioMagnitude of each state,
// the one after the step bounded from the scalars before it plus the
// magnitudes of the step's corrections, |delta Px_k| + 1/2 |delta^2 P_kk| +
// |delta c_k| and their D counterparts. Each of the two ratios rounds by a
// few units of 2^-53 of m, so 16 of them (2^-49) leave only a real rise, and
// R formed at a cancellation (c'x close to -alpha, say) does not count its
// noise. NaN on either side is no rise. Called only when Ra > Rb, so the
// plain iteration pays one comparison; D before the step is formed here.
bool risesBeyondRounding(const RatioProblem& p, const Scalars& before, double Rb, double Da,
                         double Ra, double delta, double Pxk, double Qxk, double Pkk, double Qkk,
                         std::int64_t k) {
    const double mb = ratioMagnitude(p, before, Rb, denominatorOf(before, p));
    const double ma = ratioMagnitude(
        p, before, Ra, Da,
        std::fabs(delta * Pxk) + 0.5 * std::fabs(delta * delta * Pkk) + std::fabs(delta * p.c[k]),
        std::fabs(delta * Qxk) + 0.5 * std::fabs(delta * delta * Qkk) + std::fabs(delta * p.d[k]));
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
// it (by a Ritz step or fresh products): what the pass last reported no
// longer holds.
void forgetShared(SharedPass* shared) {
    if (shared) shared->lastK = -1;
}

// The coordinate choice: the lowest index of largest |dR/dx_j|, or, Weighted
// (diagonal scaling), of largest |w_j * dR/dx_j|. With ReportNaN, choose and
// updateAndChoose also set anyNaN (whether any value they compared was NaN);
// without, they leave it alone and the pass does not form it.
template <bool Weighted>
struct Choice {
    const IterationKernels& kernels;
    const double* w;     // read when Weighted
    SharedPass* shared;  // the updating pass split over threads, or null

    template <bool ReportNaN>
    std::int64_t choose(const RatioProblem& p, const double* Px, const double* Qx, double D,
                        double R, bool& anyNaN) const {
        forgetShared(shared);
        if constexpr (Weighted && ReportNaN)
            return noteNaN(kernels.chooseWeightedReportingNaN(Px, Qx, p.c, p.d, w, D, R, p.n),
                           anyNaN);
        else if constexpr (Weighted)
            return kernels.chooseWeighted(Px, Qx, p.c, p.d, w, D, R, p.n);
        else if constexpr (ReportNaN)
            return noteNaN(kernels.chooseReportingNaN(Px, Qx, p.c, p.d, D, R, p.n), anyNaN);
        else
            return kernels.choose(Px, Qx, p.c, p.d, D, R, p.n);
    }
    // Applies delta times columns Pk, Qk to Px, Qx, then chooses there.
    template <bool ReportNaN>
    std::int64_t updateAndChoose(const RatioProblem& p, double* Px, double* Qx, const double* Pk,
                                 const double* Qk, double delta, double D, double R,
                                 bool& anyNaN) const {
        if (shared) return noteNaN(sharedUpdateAndChoose(*shared, Px, Qx, Pk, Qk, delta, D, R), anyNaN);
        const double* c = p.c;
        const double* d = p.d;
        if constexpr (Weighted && ReportNaN)
            return noteNaN(kernels.updateAndChooseWeightedReportingNaN(Px, Qx, Pk, Qk, delta, c, d,
                                                                       w, D, R, p.n),
                           anyNaN);
        else if constexpr (Weighted)
            return kernels.updateAndChooseWeighted(Px, Qx, Pk, Qk, delta, c, d, w, D, R, p.n);
        else if constexpr (ReportNaN)
            return noteNaN(kernels.updateAndChooseReportingNaN(Px, Qx, Pk, Qk, delta, c, d, D, R, p.n),
                           anyNaN);
        else
            return kernels.updateAndChoose(Px, Qx, Pk, Qk, delta, c, d, D, R, p.n);
    }
    double productAt(const double* v, std::int64_t k, int which) const {
        return brelvane::productAt(shared, v, k, which);
    }
    // The magnitude the choice compared at k, recomputed by the same formula.
    double magnitudeAt(const RatioProblem& p, const double* Px, const double* Qx, double D, double R,
                       std::int64_t k) const {
        return choiceMagnitude<Weighted>(
            gradientAt(productAt(Px, k, 0), productAt(Qx, k, 1), p.c[k], p.d[k], D, R), w, k);
    }
    // The gradient the next choice sees (gradientOf) at Px, Qx and the D and
    // R they belong to, from a pass of its own.
    double gradient(const RatioProblem& p, const double* Px, const double* Qx, double D,
                    double R) const {
        bool anyNaN = false;
        const std::int64_t k = choose<true>(p, Px, Qx, D, R, anyNaN);
        return gradientOf(magnitudeAt(p, Px, Qx, D, R, k), anyNaN);
    }
};

// w_j from the diagonals, the weights of diagonal scaling.
void diagonalWeights(const RatioProblem& p, double* w) {
    const std::int64_t n = p.n;
    for (std::int64_t j = 0; j < n; ++j) w[j] = weightFor(p.Q[j * (n + 1)], p.P[j * (n + 1)]);
}

// The weights the relative residual is measured with: w_j for x_j and the
// same rule for the bordered coordinate, whose diagonal entries are 2 beta
// and 2 alpha.
struct ResidualWeights {
    const double* w;
    double border;
};

// eta = max(max_j w_j |gN_j - R gD_j|, wb |lN - R lD|) /
//       (max(max_j w_j |gN_j|, wb |lN|) + |R| max(max_j w_j |gD_j|, wb |lD|)),
// with gN = Px + c, gD = Qx + d from the products given, lN = c'x + 2 alpha,
// lD = d'x + 2 beta from the scalars: the gradient of the bordered pencil at
// (x, 1), each entry weighted (w, wb) as in the diagonally scaled variables,
// relative to the two terms it is the difference of. 0 where every term
// vanishes (n < 1 included); NaN when any term is NaN or R is infinite.
double relativeResidual(const RatioProblem& p, const double* Px, const double* Qx,
                        const Scalars& s, double R, const ResidualWeights& rw) {
    const double lN = s.cx + 2.0 * p.alpha;
    const double lD = s.dx + 2.0 * p.beta;
    double top = rw.border * std::fabs(lN - R * lD);
    double gNmax = rw.border * std::fabs(lN);
    double gDmax = rw.border * std::fabs(lD);
    bool nan = std::isnan(top);
    for (std::int64_t j = 0; j < p.n; ++j) {
        const double gN = Px[j] + p.c[j];
        const double gD = Qx[j] + p.d[j];
        const double e = rw.w[j] * std::fabs(gN - R * gD);
        nan = nan || std::isnan(e);
        if (e > top) top = e;
        if (rw.w[j] * std::fabs(gN) > gNmax) gNmax = rw.w[j] * std::fabs(gN);
        if (rw.w[j] * std::fabs(gD) > gDmax) gDmax = rw.w[j] * std::fabs(gD);
    }
    if (nan) return std::numeric_limits<double>::quiet_NaN();
    const double bottom = gNmax + std::fabs(R) * gDmax;
    return bottom == 0.0 ? 0.0 : top / bottom;
}

// log2(v) to within 0.09 for positive finite v, from the exponent and the
// mantissa alone: the same bits on every platform, whatever its libm.
double roughLog2(double v) {
    int e = 0;
    const double m = std::frexp(v, &e);  // v = m 2^e, m in [0.5, 1)
    return (e - 1) + (2.0 * m - 1.0);
}

// A solve with a tolerance is stalled when, over a window of its last
// checkpoints (at least stallWindow, and at least half as many as came before
// the window), R has not fallen by more than the rounding its corrections
// gather (2^-49 times the ratioMagnitude at each end, times the square root
// of the iterations in the window: each correction rounds by a few units of
// 2^-53 of it, in no preferred direction), and eta is not falling fast enough to reach
// the tolerance: at the rate its lowest value fell over the window, it would
// take more checkpoints than the solve has spent so far (none would do when
// it did not fall). The descent then hovers at the floor its own rounding
// sets, or crawls where R can no longer show its progress. A window ends, and
// the next begins, once it is as long as what came before it.
constexpr std::int64_t stallWindow = 5;

struct StallWatch {
    std::int64_t seen = 0;   // checkpoints so far
    std::int64_t start = 0;  // the checkpoint the window starts from
    double lowestBefore = std::numeric_limits<double>::infinity();  // eta up to start
    double lowestSince = std::numeric_limits<double>::infinity();   // eta after it
    double startR = 0.0;
    double startRounding = 0.0;

    bool stalled(double e, double R, double rounding, double tolerance, std::int64_t interval) {
        const std::int64_t c = seen++;
        if (c == 0) {
            lowestBefore = std::fmin(lowestBefore, e);
            startR = R, startRounding = rounding;
            return false;
        }
        lowestSince = std::fmin(lowestSince, e);
        const std::int64_t span = c - start;
        bool stall = false;
        const double gathered = std::sqrt(static_cast<double>(span * interval));
        if (span >= stallWindow && 2 * span >= start &&
            !(startR - R > (startRounding + rounding) * gathered)) {
            if (!(lowestSince < lowestBefore)) {
                stall = true;
            } else {
                // log2 of eta: bits gained per checkpoint, and bits still to go.
                const double rate = (roughLog2(lowestBefore) - roughLog2(lowestSince)) /
                                    static_cast<double>(span);
                stall = roughLog2(lowestSince) - roughLog2(tolerance) > rate * static_cast<double>(c);
            }
        }
        if (span >= stallWindow && span >= start) {
            lowestBefore = std::fmin(lowestBefore, lowestSince);
            lowestSince = std::numeric_limits<double>::infinity();
            start = c, startR = R, startRounding = rounding;
        }
        return stall;
    }
};

// Checkpoints come every `interval` iterations (and the tests also run at
// t = 0): the Ritz step when accelerating, then R's finiteness, the relative
// residual against the tolerance and the stall.
struct Checkpoints {
    std::int64_t interval;
    double tolerance;        // 0: never stops
    RitzHistory* ritz;       // null without acceleration
    std::int64_t accepted;   // Ritz steps taken
    StallWatch stall;
};

// Iterations between checkpoints: a sweep of n steps, each coordinate
// chosen about once, and never fewer than 2.
std::int64_t checkpointInterval(std::int64_t n) { return n > 2 ? n : 2; }

// The state the loop carries: the point, its products and scalars, N and D
// from them, and the next coordinate k with the NaN flag of the pass that
// chose it.
struct State {
    double* x;
    double* Px;
    double* Qx;
    Scalars s;
    double N;
    double D;
    std::int64_t k;
    bool anyNaN;
    bool fresh;             // Px and Qx are the BLAS's products of x: no step since
    bool unverified;        // they hold a Ritz combination not formed afresh since
    std::int64_t formedAt;  // the iteration they were last formed afresh after
};

// Everything of one solve that the loop reads but does not carry.
template <class Choice>
struct Solve {
    const Choice& choice;
    const RatioProblem& p;
    const RatioDescentOptions& options;
    Checkpoints* cp;  // null: no checkpoints
    ResidualWeights weights;
    TraceStorage* trace;  // null: none
    bool wantReport;      // Px and Qx are brought up to date at the end
    std::int64_t rises;

    double residual(const State& st) const {
        return relativeResidual(p, st.Px, st.Qx, st.s, st.N / st.D, weights);
    }
};

// P x and Q x formed afresh after t iterations, and everything that follows
// from them: the scalars, N, D and the choice there.
template <class Choice>
void refresh(const Solve<Choice>& v, State& st, std::int64_t t) {
    formAfresh(v.p, st.x, st.Px, st.Qx, st.s);
    if (v.cp && v.cp->ritz) noteFreshProducts(*v.cp->ritz, st.Px, st.Qx, v.p.n);
    st.N = numeratorOf(st.s, v.p);
    st.D = denominatorOf(st.s, v.p);
    st.k = v.choice.template choose<true>(v.p, st.Px, st.Qx, st.D, st.N / st.D, st.anyNaN);
    st.fresh = true;
    st.unverified = false;
    st.formedAt = t;
}

// The checkpoint after t iterations, with Px and Qx up to date: the Ritz step
// (t > 0), then the tests: R not finite, the tolerance (with Ritz steps
// decided on products formed afresh, which the descent goes on from when
// they do not meet it), the stall. The stop they call for, or iterations
// (none); `changed` says whether the state changed.
template <class Choice>
RatioDescentStop checkpoint(Solve<Choice>& v, State& st, std::int64_t t, bool& changed) {
    const RatioProblem& p = v.p;
    Checkpoints& cp = *v.cp;
    changed = false;
    if (t > 0 && cp.ritz) {
        const RitzOutcome step = ritzStep(*cp.ritz, p, st.x, st.Px, st.Qx, st.s);
        if (step.accepted) ++cp.accepted;
        if (step.changed) {
            changed = true;
            if (step.fresh) {
                st.fresh = true, st.unverified = false, st.formedAt = t;
            } else {
                st.fresh = false, st.unverified = st.unverified || step.accepted;
            }
            st.N = numeratorOf(st.s, p);
            st.D = denominatorOf(st.s, p);
            st.k = v.choice.template choose<true>(p, st.Px, st.Qx, st.D, st.N / st.D, st.anyNaN);
        }
    }
    if (v.trace) v.trace->data[t] = st.N / st.D;
    if (!std::isfinite(st.N / st.D)) return ratioDescentStopNotFinite;
    if (cp.tolerance <= 0.0) return ratioDescentStopIterations;
    double eta = v.residual(st);
    if (eta <= cp.tolerance && cp.ritz && !st.fresh) {
        refresh(v, st, t);
        changed = true;
        if (v.trace) v.trace->data[t] = st.N / st.D;
        eta = v.residual(st);
    }
    if (eta <= cp.tolerance) return ratioDescentStopTolerance;
    const double R = st.N / st.D;
    if (cp.stall.stalled(eta, R, 0x1p-49 * ratioMagnitude(p, st.s, R, st.D), cp.tolerance,
                         cp.interval))
        return ratioDescentStopStalled;
    return ratioDescentStopIterations;
}

// The gradient tolerance before iteration t + 1: met at k, as the choice
// compared it. With Ritz steps the products are formed afresh first where
// they hold an unverified combination or a sweep of corrections since they
// last were, and the test is repeated there.
template <class Choice>
bool meetsGradientTolerance(const Solve<Choice>& v, State& st, std::int64_t t) {
    const double tolerance = v.options.gradientTolerance;
    auto gradient = [&] {
        return gradientOf(v.choice.magnitudeAt(v.p, st.Px, st.Qx, st.D, st.N / st.D, st.k),
                          st.anyNaN);
    };
    if (!(gradient() <= tolerance)) return false;
    if (v.cp && v.cp->ritz && !st.fresh &&
        (st.unverified || t - st.formedAt >= v.cp->interval)) {
        refresh(v, st, t);
        return gradient() <= tolerance;
    }
    return true;
}

// When the progress callback is told of the state: before the first
// iteration, at every interrupt poll, and at a checkpoint once `interval`
// iterations have passed since the last checkpoint told of (every
// checkpoint for n >= 1024, where a sweep is at least a poll interval). So
// at most twice per poll interval, never per iteration; a poll and a
// checkpoint at the same iteration tell once.
struct Progress {
    const RatioDescentOptions& options;
    std::int64_t interval;        // the poll interval
    std::int64_t checkpointTold;  // the checkpoint last told of (0: the start)

    bool on() const { return options.progress != nullptr; }
    bool dueAtCheckpoint(std::int64_t t) const { return on() && t - checkpointTold >= interval; }

    // Tells the state after t iterations, with Px and Qx up to date: the
    // gradient a report there gives, and eta when the solve has checkpoints;
    // true when the callback asks to stop. Reads the state only.
    template <class Choice>
    bool tell(const Solve<Choice>& v, const State& st, std::int64_t t, bool checkpoint) {
        if (checkpoint) checkpointTold = t;
        const double R = st.N / st.D;
        const RatioDescentProgress state{t, R, v.choice.gradient(v.p, st.Px, st.Qx, st.D, R),
                                         v.cp ? v.residual(st) : 0.0};
        return options.progress(state, options.progressContext);
    }
};

// A step changed nothing, bit for bit, after `first` iterations: every
// iteration up to the next checkpoint would repeat it. With Ritz steps and
// that checkpoint within the count the run goes there at once, the trace
// filled: true, with t moved there, when its checkpoint changed the state and
// the descent goes on. Otherwise false with the outcome: stationary from
// `first` (the trace reserved to its end, filled when the solve finishes), or
// the checkpoint's stop.
template <class Choice>
bool fastForward(Solve<Choice>& v, State& st, std::int64_t& t, std::int64_t& nextCheckpoint,
                 std::int64_t iterations, Outcome& out) {
    const std::int64_t first = t;
    TraceStorage* trace = v.trace;
    if (v.cp && v.cp->ritz && nextCheckpoint <= iterations) {
        if (trace) {
            if (!reserveTrace(*trace, nextCheckpoint + 1)) {
                out = {first, ratioDescentStopInterrupted, true};
                return false;
            }
            for (std::int64_t u = t + 1; u < nextCheckpoint; ++u) trace->data[u] = trace->data[t];
        }
        t = nextCheckpoint;
        nextCheckpoint += v.cp->interval;
        bool changed = false;
        const RatioDescentStop stop = checkpoint(v, st, t, changed);
        if (stop != ratioDescentStopIterations) {
            out = {t, stop};
            return false;
        }
        if (changed) {
            if (t == iterations) {
                out = {t, ratioDescentStopIterations};
                return false;
            }
            return true;
        }
    }
    if (trace && v.options.fillStationaryTrace && !reserveTrace(*trace, iterations + 1)) {
        out = {first, ratioDescentStopInterrupted, true};
        return false;
    }
    out = {first, ratioDescentStopStationary};
    return false;
}

// What step t leaves behind: the column update still to apply to Px and Qx
// (delta times columns Pk, Qk), and whether it changed nothing at all.
struct Step {
    const double* Pk;
    const double* Qk;
    double delta;
    bool changedNothing;
};

// Step t along k: x_k moves by ratioStep(a0, a1, a2, b0, b1, b2) with N and D,
// their slopes dN/dx_k, dD/dx_k and their curvatures P_kk / 2, Q_kk / 2; the
// scalars, N, D and trace entry t follow; a rise beyond rounding is counted.
// The stationary test reads the columns only when x_k and the scalars came out
// unchanged; on a step that moves x_k it costs one comparison, as the count
// of rises does.
// Inlined into the loop: as a call of its own it costs a few percent of an
// iteration at n in the hundreds.
template <class Choice>
[[gnu::always_inline]] inline Step takeStep(Solve<Choice>& v, State& st, std::int64_t t) {
    const RatioProblem& p = v.p;
    const std::int64_t n = p.n;
    const std::int64_t k = st.k;
    Scalars& s = st.s;
    const double* Pk = p.P + k * n;
    const double* Qk = p.Q + k * n;
    const double Pkk = Pk[k];
    const double Qkk = Qk[k];
    const double Pxk = v.choice.productAt(st.Px, k, 0);
    const double Qxk = v.choice.productAt(st.Qx, k, 1);
    const double dN = Pxk + p.c[k];
    const double dD = Qxk + p.d[k];
    const double Rb = st.N / st.D;
    const double delta = ratioStep(st.N, dN, 0.5 * Pkk, st.D, dD, 0.5 * Qkk);
    const double xk = st.x[k];
    const Scalars before = s;
    st.x[k] = delta + xk;
    // From Qx[k] and Px[k] before column k is applied to them.
    s.xQx = ((2.0 * delta) * Qxk + s.xQx) + (delta * delta) * Qkk;
    s.xPx = ((2.0 * delta) * Pxk + s.xPx) + (delta * delta) * Pkk;
    s.cx = s.cx + delta * p.c[k];
    s.dx = s.dx + delta * p.d[k];
    st.N = numeratorOf(s, p);
    st.D = denominatorOf(s, p);
    st.fresh = false;
    if (v.trace) v.trace->data[t] = st.N / st.D;
    if (st.N / st.D > Rb &&
        risesBeyondRounding(p, before, Rb, st.D, st.N / st.D, delta, Pxk, Qxk, Pkk, Qkk, k))
        ++v.rises;
    const bool changedNothing = sameBits(st.x[k], xk) && sameScalars(s, before) &&
                                !std::isnan(delta) &&
                                columnUpdateChangesNothing(st.Px, Pk, delta, n) &&
                                columnUpdateChangesNothing(st.Qx, Qk, delta, n);
    return {Pk, Qk, delta, changedNothing};
}

// Iterations from the start-up state, pipelined: step t moves x_k and
// corrects the scalars; the pass that chooses step t + 1's coordinate first
// applies step t's column k of P and Q to Px and Qx, in the same sweep:
//
//   choose k_1 | step 1 | update k_1 + choose k_2 | step 2 | ... | step T
//
// After the last step its column update is still pending; it is applied only
// when a report is wanted, and at a checkpoint. The trace, when there is
// one, receives R after t steps at entry t (after the checkpoint's changes
// at a checkpoint); its storage grows before step t when it ends at t, and
// if it cannot, the solve stops after t - 1 steps, as an interrupt stops it.
// ReportNaN: the per-iteration passes report whether any value they compared
// was NaN, for the gradient tolerance. The progress callback, when there is
// one, is told of the state as Progress schedules it, at the top of the
// iteration after the poll or checkpoint that made it due, where the
// columns are all applied; a true answer stops the solve as an interrupt
// does.
template <bool ReportNaN, class Choice>
Outcome iterate(Solve<Choice>& v, State& st, std::int64_t iterations) {
    const RatioProblem& p = v.p;
    const Choice& choice = v.choice;
    TraceStorage* const trace = v.trace;

    // Start: R(x0), the first choice, the checkpoint's tests at t = 0.
    if (trace) trace->data[0] = st.N / st.D;
    st.k = choice.template choose<ReportNaN>(p, st.Px, st.Qx, st.D, st.N / st.D, st.anyNaN);
    const std::int64_t interval = pollInterval(p.n);
    Progress progress{v.options, interval, 0};
    if (progress.on() && progress.tell(v, st, 0, true)) return {0, ratioDescentStopInterrupted};
    bool changed = false;
    if (v.cp) {
        const RatioDescentStop stop = checkpoint(v, st, 0, changed);
        if (stop != ratioDescentStopIterations) return {0, stop};
    }
    std::int64_t untilPoll = interval;
    // A team of threads adapts at the end of each window of iterations, and
    // at ticks within one may cut it short.
    SharedPass* const shared = choice.shared;
    std::int64_t untilTick =
        shared ? startWindows(*shared, shared->tuning.windowIterations > 0
                                           ? shared->tuning.windowIterations
                                           : interval)
               : 0;
    // t never equals -1: no checkpoint.
    std::int64_t nextCheckpoint = v.cp ? v.cp->interval : -1;
    // Telling the state after the last iteration is due: from a poll (bit
    // 1), from a checkpoint (bit 2).
    unsigned tellDue = 0;
    for (std::int64_t t = 1;; ++t) {
        // Events before step t: the progress due, the gradient tolerance,
        // room in the trace.
        if (tellDue != 0) {
            if (progress.tell(v, st, t - 1, (tellDue & 2u) != 0))
                return {t - 1, ratioDescentStopInterrupted};
            tellDue = 0;
        }
        if (v.options.gradientTolerance > 0.0 && meetsGradientTolerance(v, st, t - 1))
            return {t - 1, ratioDescentStopGradient};
        if (trace && t >= trace->capacity && !reserveTrace(*trace, t + 1))
            return {t - 1, ratioDescentStopInterrupted, true};

        const Step step = takeStep(v, st, t);
        if (step.changedNothing) {
            // The state is the one k was chosen in, so k is the next choice too.
            Outcome out{t, ratioDescentStopStationary};
            if (!fastForward(v, st, t, nextCheckpoint, iterations, out)) return out;
            if (progress.dueAtCheckpoint(t)) tellDue |= 2u;
            continue;
        }

        // Events after step t: the checkpoint, which needs column k applied
        // first; the interrupt poll; the last iteration. Otherwise column k
        // is applied with the next choice.
        bool pending = true;
        if (t == nextCheckpoint) {
            nextCheckpoint += v.cp->interval;
            st.k = choice.template updateAndChoose<ReportNaN>(p, st.Px, st.Qx, step.Pk, step.Qk,
                                                              step.delta, st.D, st.N / st.D,
                                                              st.anyNaN);
            pending = false;
            const RatioDescentStop stop = checkpoint(v, st, t, changed);
            if (stop != ratioDescentStopIterations) return {t, stop};
            if (progress.dueAtCheckpoint(t)) tellDue |= 2u;
        }
        if (shared && --untilTick == 0) untilTick = tickSharedPass(*shared);
        const bool last = t == iterations;
        bool interrupted = false;
        if (!last && --untilPoll == 0) {
            untilPoll = interval;
            interrupted = interruptPending(v.options);
            if (progress.on()) tellDue |= 1u;
        }
        if (last || interrupted) {
            if (v.wantReport && pending)
                st.k = choice.template updateAndChoose<false>(p, st.Px, st.Qx, step.Pk, step.Qk,
                                                              step.delta, st.D, st.N / st.D,
                                                              st.anyNaN);
            return {t, last ? ratioDescentStopIterations : ratioDescentStopInterrupted};
        }
        if (pending)
            st.k = choice.template updateAndChoose<ReportNaN>(p, st.Px, st.Qx, step.Pk, step.Qk,
                                                              step.delta, st.D, st.N / st.D,
                                                              st.anyNaN);
    }
}

// The end of a solve after `out`: with Ritz steps the products are formed
// afresh (unless the solve was cut short), so that what the report and the
// trace's last entry say is true of the x returned; a stationary stop's
// trace is filled out with R there; the report.
template <class Choice>
void finish(Solve<Choice>& v, State& st, const Outcome& out, std::int64_t steps,
            RatioDescentReport* report) {
    const bool cut = out.stop == ratioDescentStopInterrupted || out.traceRefused;
    if (v.cp && v.cp->ritz && !st.fresh && !cut) refresh(v, st, out.iterations);
    const double R = st.N / st.D;
    if (v.trace) {
        v.trace->data[out.iterations] = R;
        if (out.stop == ratioDescentStopStationary && !cut && v.options.fillStationaryTrace)
            for (std::int64_t u = out.iterations + 1; u <= steps; ++u) v.trace->data[u] = R;
    }
    if (report) {
        report->iterations = out.iterations;
        report->stop = out.stop;
        report->gradient = v.choice.gradient(v.p, st.Px, st.Qx, st.D, R);
        report->ratio = R;
        report->residual = v.weights.w ? v.residual(st) : 0.0;
        report->accelerations = v.cp ? v.cp->accepted : 0;
        report->rises = v.rises;
    }
}

// The solve from the start-up state, on the given choice. Only a gradient
// tolerance reads the NaN flag at every iteration: without one the passes
// do not form it.
template <class Choice>
Outcome solveFrom(Solve<Choice>& v, State& st, std::int64_t steps) {
    if (steps == 0) return {0, ratioDescentStopIterations};
    return v.options.gradientTolerance > 0.0 ? iterate<true>(v, st, steps)
                                             : iterate<false>(v, st, steps);
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
        return {0, stop};
    }
    if (trace) {
        const std::int64_t end = options.fillStationaryTrace ? steps : 1;
        if (!reserveTrace(*trace, end + 1)) return {0, ratioDescentStopInterrupted, true};
        for (std::int64_t t = 1; t <= end; ++t) trace->data[t] = R;
    }
    return {1, ratioDescentStopStationary};
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

// The whole solve from x = x0 in the work memory given: Px, Qx (n each), the
// weights w (n, or null when neither the choice, the checkpoints nor a
// report need them) and the Ritz history's slots (with acceleration). The
// start-up products, the team of threads if any, the descent on the choice
// the options ask for, and its finish.
Outcome solveIn(const IterationKernels& kernels, const RatioProblem& p,
                const RatioDescentOptions& o, const TeamTuning& tuning, std::int64_t steps,
                double* x, double* Px, double* Qx, double* w, double* slots, TraceStorage* tr,
                RatioDescentReport* report) {
    State st{x, Px, Qx, {}, 0.0, 0.0, 0, false, true, false, 0};
    formAfresh(p, x, Px, Qx, st.s);
    st.N = numeratorOf(st.s, p);
    st.D = denominatorOf(st.s, p);
    const double startN = st.N;
    const double startD = st.D;
    const bool scaled = o.scaling == ratioDescentScalingDiagonal;
    RitzHistory history;
    Checkpoints cp{checkpointInterval(p.n), o.tolerance, nullptr, 0, {}};
    if (slots) {
        startRitzHistory(history, slots, p, x, Px, Qx, st.s);
        cp.ritz = &history;
    }
    if (w) diagonalWeights(p, w);
    const ResidualWeights weights{w, w ? weightFor(2.0 * p.beta, 2.0 * p.alpha) : 1.0};
    // The start-up products are the longest stretch without a poll.
    const bool interrupted = interruptPending(o);
    const int threads =
        passThreads(o.threads, o.threadLimit, p.n, tuning.minSlice, tuning.capToProcessors);
    SharedPass* shared =
        threads > 1 && steps > 0 && !interrupted
            ? newSharedPass(threads, kernels, p.c, p.d, scaled ? w : nullptr, p.n, tuning)
            : nullptr;
    if (tr) tr->shared = shared;
    Outcome out{0, ratioDescentStopInterrupted};
    auto run = [&](const auto& choice) {
        Solve<std::decay_t<decltype(choice)>> v{
            choice, p, o, slots || o.tolerance > 0.0 ? &cp : nullptr, weights, tr, report != nullptr, 0};
        if (!interrupted) out = solveFrom(v, st, steps);
        finish(v, st, out, steps, report);
    };
    if (scaled)
        run(Choice<true>{kernels, w, shared});
    else
        run(Choice<false>{kernels, nullptr, shared});
    if (report) {
        report->threads = shared ? shared->mostThreads : 1;
        report->sharedIterations = shared ? shared->sharedPasses : 0;
        report->startNumerator = startN;
        report->startDenominator = startD;
    }
    deleteSharedPass(shared);
    if (tr) tr->shared = nullptr;
    return out;
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

double ratioMagnitude(const RatioProblem& p, const Scalars& s, double R, double D, double extraN,
                      double extraD) {
    const double sN = 0.5 * std::fabs(s.xPx) + std::fabs(s.cx) + std::fabs(p.alpha) + extraN;
    const double sD = 0.5 * std::fabs(s.xQx) + std::fabs(s.dx) + std::fabs(p.beta) + extraD;
    return (sN + std::fabs(R) * sD) / std::fabs(D);
}

void formAfresh(const RatioProblem& p, const double* x, double* Px, double* Qx, Scalars& s) {
    symMatVec(p.P, x, Px, p.n);
    symMatVec(p.Q, x, Qx, p.n);
    s = scalarsOf(p, x, Px, Qx);
}

RatioDescentStatus ratioDescentWith(const IterationKernels& kernels, double* x, const double* x0,
                                    const double* P, const double* c, double alpha,
                                    const double* Q, const double* d, double beta,
                                    std::int64_t n, std::int64_t iterations, double* trace,
                                    const RatioDescentOptions* options,
                                    RatioDescentReport* report, const TeamTuning* tuning) {
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
        const Scalars none{0, 0, 0, 0};
        if (report)
            *report = {out.iterations, out.stop, 0.0, ratioOf(none, p), 0.0, 0, 0, 1, 0,
                       numeratorOf(none, p), denominatorOf(none, p)};
        return out.traceRefused ? ratioDescentOutOfMemory : ratioDescentOk;
    }
    if (static_cast<std::uint64_t>(n) > static_cast<std::uint64_t>(std::numeric_limits<BlasInt>::max()))
        return ratioDescentTooLarge;
    const bool scaled = o.scaling == ratioDescentScalingDiagonal;
    const bool accelerated = o.acceleration == ratioDescentAccelerationRitz;
    const bool checkpoints = accelerated || o.tolerance > 0.0;
    // The weights of the choice (scaled) and of the residual (checkpoints, report).
    const bool weighted = scaled || checkpoints || report != nullptr;
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
    double* w = weighted ? static_cast<double*>(allocateWork(o, bytes)) : nullptr;
    double* slots = accelerated ? static_cast<double*>(allocateWork(o, historyBytes)) : nullptr;
    RatioDescentStatus status = ratioDescentOutOfMemory;
    if (products && (w || !weighted) && (slots || !accelerated)) {
        std::memcpy(x, x0, bytes);
        const TeamTuning defaultTuning;
        const Outcome out = solveIn(kernels, p, o, tuning ? *tuning : defaultTuning, steps, x, Px,
                                    Qx, w, slots, tr, report);
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

namespace {

// True for a curvature that can set a weight: positive, finite and normal
// (false for NaN).
bool setsWeight(double q) {
    return q >= std::numeric_limits<double>::min() && q <= std::numeric_limits<double>::max();
}

}  // namespace

// 2^-floor(e/2), e the binary exponent of q = the curvature Qjj, or of |Pjj|
// when Qjj cannot set it; so w^2 q lies in [1, 4). Built from the exponent
// alone, an exact power of two; 1 when neither can set it.
double weightFor(double Qjj, double Pjj) {
    const double q = setsWeight(Qjj) ? Qjj : setsWeight(std::fabs(Pjj)) ? std::fabs(Pjj) : 0.0;
    if (q == 0.0) return 1.0;
    const int e = std::ilogb(q);                      // in [-1022, 1023]
    const int half = e >= 0 ? e / 2 : -((1 - e) / 2);  // floor(e / 2)
    return std::ldexp(1.0, -half);
}

}  // namespace brelvane
