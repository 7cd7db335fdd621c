// The per-iteration pass split over a team of threads: the slices, and their choices combined.
#include "shared_pass.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "fused_pass.h"

namespace brelvane {

namespace {

double secondsNow(const TeamTuning& tuning, std::int64_t iterations) {
    if (tuning.clock) return tuning.clock(tuning.context, iterations);
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void sliceBounds(SharedPass& pass, int slices) {
    for (int s = 0; s <= slices; ++s) pass.bounds[s] = sliceStart(pass.n, slices, s);
    pass.slices = slices;
}

// What a pass posts to the team: one step's column update and the ratio.
struct PassArguments {
    double* Px;
    double* Qx;
    const double* Pk;
    const double* Qk;
    double delta;
    double D;
    double R;
};
static_assert(sizeof(PassArguments) <= teamMessageBytes, "the arguments travel in one line");
static_assert(sizeof(SliceChoice) <= teamMessageBytes, "a slice's result travels in one line");

void runSlice(void* context, int s, const void* arguments, void* result) {
    const SharedPass& p = *static_cast<const SharedPass*>(context);
    if (s > 0 && p.tuning.beforeSlice) p.tuning.beforeSlice(p.tuning.context, s);
    PassArguments a;
    std::memcpy(&a, arguments, sizeof a);
    const auto slice = p.w ? p.kernels->updateAndChooseWeightedSlice : p.kernels->updateAndChooseSlice;
    const SliceChoice choice =
        slice(a.Px, a.Qx, a.Pk, a.Qk, a.delta, p.c, p.d, p.w, a.D, a.R, p.bounds[s], p.bounds[s + 1]);
    std::memcpy(result, &choice, sizeof choice);
}

}  // namespace

SharedPass* newSharedPass(int threads, const IterationKernels& kernels, const double* c,
                          const double* d, const double* w, std::int64_t n,
                          const TeamTuning& tuning) {
    SharedPass* pass = nullptr;
    try {
        pass = new SharedPass;
    } catch (...) {
        return nullptr;
    }
    pass->kernels = &kernels;
    pass->c = c;
    pass->d = d;
    pass->w = w;
    pass->n = n;
    pass->tuning = tuning;
    pass->adaptation.windowStart = secondsNow(tuning, 0);
    // Adapting, the first window runs alone: the start-up's BLAS threads may
    // still be spinning on the other cores.
    pass->teamOn = !tuning.adaptive || tuning.schedule != nullptr;
    startTeam(pass->team, threads < maxPassThreads ? threads : maxPassThreads, runSlice, pass);
    if (pass->team.size == 1) {
        stopTeam(pass->team);
        delete pass;
        return nullptr;
    }
    sliceBounds(*pass, pass->team.size);
    return pass;
}

void deleteSharedPass(SharedPass* pass) {
    if (pass == nullptr) return;
    stopTeam(pass->team);
    delete pass;
}

ChoiceAndNaN sharedUpdateAndChoose(SharedPass& pass, double* Px, double* Qx, const double* Pk,
                                   const double* Qk, double delta, double D, double R) {
    // The calling thread alone, by choice or because the team could not
    // start again after a pause: the whole pass here.
    pass.lastK = -1;
    if (pass.team.size == 1 || !pass.teamOn) {
        return pass.w ? pass.kernels->updateAndChooseWeightedReportingNaN(
                            Px, Qx, Pk, Qk, delta, pass.c, pass.d, pass.w, D, R, pass.n)
                      : pass.kernels->updateAndChooseReportingNaN(Px, Qx, Pk, Qk, delta, pass.c,
                                                                  pass.d, D, R, pass.n);
    }
    if (pass.team.size > pass.mostThreads) pass.mostThreads = pass.team.size;
    ++pass.sharedPasses;
    unsigned char arguments[teamMessageBytes] = {};
    const PassArguments a{Px, Qx, Pk, Qk, delta, D, R};
    std::memcpy(arguments, &a, sizeof a);
    runOnTeam(pass.team, arguments);
    // In order of j: a later slice's candidate only on a strictly larger
    // magnitude, so a tie keeps the lower index, as in the whole pass.
    Argmax m;
    bool anyNaN = false;
    pass.lastK = -1;
    for (int s = 0; s < pass.slices; ++s) {
        SliceChoice r;
        std::memcpy(&r, pass.team.done[s].result, sizeof r);
        if (r.best > m.best) {
            m.best = r.best;
            m.index = r.index;
            pass.lastK = r.index;
            pass.lastPxk = r.Pxk;
            pass.lastQxk = r.Qxk;
        }
        anyNaN = anyNaN || r.anyNaN;
    }
    const double g0 = gradientAt(Px[0], Qx[0], pass.c[0], pass.d[0], D, R);
    const double valueAt0 = pass.w ? choiceValue<true>(g0, pass.w, 0) : g0;
    return {finishChoice(m, valueAt0), anyNaN};
}

// The rule: the first window runs on the calling thread alone, the second on
// the team; from then on a window runs the way chosen, and every `gap`
// windows one runs the other way. A try compares the window just run with
// the latest run the chosen way: the team is kept while it takes less than
// keepTeam of the time alone, and taken up again only when it takes less than
// takeTeam of it, so that noise between the two does not make the choice
// flap. The first choice takes the team below firstChoice. A try that
// confirms the choice doubles the gap, up to mostGap windows (about a
// second); a change of choice sets it back to leastGap. A window on a team
// the machine cannot serve (another process on the cores, a BLAS spinning
// after its call) can take many times as long as one alone; it is cut short
// once it has taken twice the pace alone plus a quarter of a window, and
// counted at its pace so far, and the team is dropped as at a try. A failed
// try of the team (not a cut of a team settled on) also sets the gap to at
// least what keeps such tries to tryShare of the time alone, up to
// mostCostGap windows: on a machine whose cores are all busy a worker waits
// a time slice of the other process to wake up or to run, milliseconds
// however soon the try is cut. So such a team costs a fraction of a window in
// so many, and one that becomes worth it again (the BLAS quiet, the neighbour
// gone) is taken up within about a second. The first iteration of a team's
// window after one alone is not timed: the workers wake up in it.
namespace {

constexpr double keepTeam = 0.95;
constexpr double takeTeam = 0.85;
constexpr double firstChoice = 0.9;
constexpr std::int64_t leastGap = 4;
constexpr std::int64_t mostGap = 1024;
constexpr double tryShare = 0.05;
constexpr std::int64_t mostCostGap = 256;

// `lost`: the seconds a window on the team took, its workers' waking up
// included, beyond what its iterations take alone.
void endWindow(SharedPass& pass, bool ranOnTeam, double seconds, bool cut, double lost) {
    TeamAdaptation& a = pass.adaptation;
    if (pass.tuning.afterWindow)
        pass.tuning.afterWindow(pass.tuning.context, ranOnTeam ? pass.team.size : 1, seconds);
    ++a.windows;
    if (!pass.tuning.adaptive || pass.team.size == 1) return;
    if (pass.tuning.schedule) {
        const int slices = pass.tuning.schedule(pass.tuning.context, a.windows);
        if (slices > 0) {
            pass.teamOn = slices > 1;
            return;
        }
    }
    (ranOnTeam ? a.teamSeconds : a.soloSeconds) = seconds;
    if (a.teamSeconds < 0.0 || a.soloSeconds < 0.0) {  // one way measured: now the other
        pass.teamOn = a.teamSeconds < 0.0;
        return;
    }
    if (a.gap == 0 || a.probing || cut) {
        // A try of the team, not a window of one settled on that was cut.
        const bool tried = ranOnTeam && (a.gap == 0 || !a.settledOnTeam);
        const bool team = a.gap == 0       ? a.teamSeconds < firstChoice * a.soloSeconds
                          : a.settledOnTeam ? a.teamSeconds < keepTeam * a.soloSeconds
                                            : a.teamSeconds < takeTeam * a.soloSeconds;
        a.gap = a.gap == 0 || team != a.settledOnTeam ? leastGap
                                                      : (2 * a.gap < mostGap ? 2 * a.gap : mostGap);
        // A try of the team that failed costs `lost`; on a busy machine that
        // is a time slice of the other process (milliseconds) however soon it
        // is cut. The gap keeps such tries to tryShare of the time alone. A
        // team settled on and cut once (the machine stalled it a moment) is
        // tried again soon.
        if (tried && !team && lost > 0.0) {
            const double windows = lost / (tryShare * a.soloSeconds);
            if (windows > static_cast<double>(a.gap))
                a.gap = windows < static_cast<double>(mostCostGap)
                            ? static_cast<std::int64_t>(windows) + 1
                            : (a.gap > mostCostGap ? a.gap : mostCostGap);
        }
        a.settledOnTeam = team;
        a.untilProbe = a.gap;
        a.probing = false;
        pass.teamOn = team;
        return;
    }
    if (--a.untilProbe > 0) {
        pass.teamOn = a.settledOnTeam;
        return;
    }
    a.probing = true;
    pass.teamOn = !a.settledOnTeam;
}

}  // namespace

std::int64_t startWindows(SharedPass& pass, std::int64_t window) {
    TeamAdaptation& a = pass.adaptation;
    a.window = window;
    a.tick = window >= 64 ? window / 64 : 1;
    a.done = 0;
    a.asked = window;
    return a.asked;
}

std::int64_t tickSharedPass(SharedPass& pass) {
    TeamAdaptation& a = pass.adaptation;
    a.iterations += a.asked;
    const bool ranOnTeam = pass.teamOn && pass.team.size > 1;
    const bool watched = ranOnTeam && pass.tuning.adaptive && !pass.tuning.schedule;
    if (a.wakingUp) {
        // The workers' waking up after a stretch alone is not the team's pace
        // (though it counts in what a failed try lost).
        a.wakingUp = false;
        a.windowStart = secondsNow(pass.tuning, a.iterations);
        a.asked = 1;
        return a.asked;
    }
    a.done += a.asked;
    const bool ended = a.done >= a.window;
    // A team that may be cut short is timed at ticks of 1, 2, 4, ... up to
    // `tick` iterations; otherwise the clock is read at the window's end.
    if (!ended && !watched) {
        a.asked = a.window - a.done;
        return a.asked;
    }
    const double now = secondsNow(pass.tuning, a.iterations);
    double seconds = now - a.windowStart;
    // The part of the window timed: its seconds over that are the window's.
    const double part = static_cast<double>(a.done) / static_cast<double>(a.window);
    bool cut = false;
    if (!ended) {
        if (a.soloSeconds < 0.0 || seconds <= (2.0 * part + 0.25) * a.soloSeconds) {
            const std::int64_t next = a.done < a.tick ? a.done : a.tick;
            a.asked = next < a.window - a.done ? next : a.window - a.done;
            return a.asked;
        }
        cut = true;
    }
    const double lost =
        ranOnTeam && a.soloSeconds >= 0.0
            ? now - a.tryStart -
                  static_cast<double>(a.done + 1) / static_cast<double>(a.window) * a.soloSeconds
            : 0.0;
    seconds /= part;
    a.done = 0;
    a.windowStart = now;
    endWindow(pass, ranOnTeam, seconds, cut, lost);
    // A window on the team after one alone begins with an untimed iteration.
    const bool team = pass.teamOn && pass.team.size > 1;
    a.wakingUp = team && !ranOnTeam;
    a.tryStart = now;
    a.asked = a.wakingUp || (team && pass.tuning.adaptive && !pass.tuning.schedule) ? 1 : a.window;
    return a.asked;
}

void pauseSharedPass(SharedPass& pass) { stopTeam(pass.team); }

void resumeSharedPass(SharedPass& pass) {
    startTeam(pass.team, pass.slices, runSlice, &pass);
    if (pass.team.size != pass.slices) sliceBounds(pass, pass.team.size);
}

std::int64_t sliceStart(std::int64_t n, int slices, int s) {
    if (s <= 0) return 0;
    const std::int64_t room = n - slices * minSlice;
    const std::int64_t lead = (room < callerLead ? room : callerLead) / 8;
    const std::int64_t leadLines = lead > 0 ? lead : 0;
    const std::int64_t lines = (n + 7) / 8;
    const std::int64_t b = (leadLines + (lines - leadLines) * s / slices) * 8;
    return b < n ? b : n;
}

int passThreads(int threads, int limit, std::int64_t n, std::int64_t fewest, bool cap) {
    if (threads == 0 && n < threadCrossover) return 1;
    if (threads == 1) return 1;
    // Asked of the system only for a team: it reads the cgroup's files.
    const int processors = cap || threads == 0 ? processorsAvailable() : 0;
    std::int64_t count = threads == 0 ? processors : threads;
    if (threads == 0 && limit > 0 && count > limit) count = limit;
    if (cap && count > processors) count = processors;
    const std::int64_t most = n / fewest > 1 ? n / fewest : 1;
    if (count > most) count = most;
    if (count > maxPassThreads) count = maxPassThreads;
    return count < 1 ? 1 : static_cast<int>(count);
}

}  // namespace brelvane
