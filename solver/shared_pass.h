// The per-iteration pass split over a team of threads, same bits as the whole pass.
#ifndef BRELVANE_SHARED_PASS_H
#define BRELVANE_SHARED_PASS_H

#include <cstdint>

#include "iteration_kernels.h"
#include "thread_team.h"

namespace brelvane {

// Most threads a pass is split over.
constexpr int maxPassThreads = 64;

// How a team adapts, and what tests and benchmarks see of it; the defaults
// are the solver's.
struct TeamTuning {
    // True: the team measures what sharing buys and runs each window of
    // iterations on the whole team or on the calling thread alone, whichever
    // is faster (see tickSharedPass). False: every pass on the whole team.
    bool adaptive = true;
    // Fewest coordinates a thread is given, and whether the count is cut to
    // the processors the process may run on (passThreads).
    std::int64_t minSlice = 64;
    bool capToProcessors = true;
    // Iterations in a window (0: the solve's poll interval, some 2^20
    // elements of work).
    std::int64_t windowIterations = 0;
    // Asked at the end of window `window` (1, 2, ...) for the slices of the
    // next: 1 the calling thread alone, more the whole team, 0 as measured.
    // With a schedule the first window runs on the team.
    int (*schedule)(void* context, std::int64_t window) = nullptr;
    // Called by each worker before its slice of a pass (slice 1 and up).
    void (*beforeSlice)(void* context, int slice) = nullptr;
    // Told at the end of each window the slices it ran on and its seconds.
    void (*afterWindow)(void* context, int slices, double seconds) = nullptr;
    // The clock the windows are timed by, in seconds, read after `iterations`
    // iterations of the solve (null: a steady clock).
    double (*clock)(void* context, std::int64_t iterations) = nullptr;
    void* context = nullptr;
};

// What an adaptive team has measured: the latest window on the whole team and
// on the calling thread alone, and when to try the other again.
struct TeamAdaptation {
    std::int64_t window = 1;       // iterations in a window
    std::int64_t tick = 1;         // most iterations between a team's timings
    std::int64_t done = 0;         // timed iterations of the window running
    std::int64_t asked = 1;        // iterations to the next tickSharedPass
    bool wakingUp = false;         // the next iteration is not timed
    std::int64_t iterations = 0;   // of the solve, to the latest tick
    double windowStart = 0.0;      // seconds
    double tryStart = 0.0;         // the start of the window running, waking up included
    std::int64_t windows = 0;      // windows ended
    double teamSeconds = -1.0;     // -1: not measured yet
    double soloSeconds = -1.0;
    bool settledOnTeam = true;     // the way chosen
    bool probing = false;          // the window running tries the other way
    std::int64_t gap = 0;          // windows between tries (0: no choice yet)
    std::int64_t untilProbe = 0;
};

// The updating pass of a solve, thread s applying column k to its slice
// [bounds[s], bounds[s + 1]) of Px and Qx and choosing within it; the
// calling thread combines the slices' choices. The slices are contiguous,
// in order, and start at multiples of 8 coordinates (a cache line).
struct SharedPass {
    ThreadTeam team;
    const IterationKernels* kernels = nullptr;
    const double* w = nullptr;  // the weights of a weighted choice, or null
    const double* c = nullptr;
    const double* d = nullptr;
    std::int64_t n = 0;
    int slices = 0;  // bounds are those of this many slices
    std::int64_t bounds[maxPassThreads + 1] = {};
    // The coordinate the last pass chose when a slice's candidate won, with
    // Px and Qx there as that slice's thread left them; -1 otherwise.
    std::int64_t lastK = -1;
    double lastPxk = 0.0;
    double lastQxk = 0.0;
    // The pass runs on the whole team (true) or on the calling thread alone;
    // the results are the same bit for bit either way.
    bool teamOn = false;
    int mostThreads = 1;             // the most threads a pass ran on
    std::int64_t sharedPasses = 0;   // passes run on more than one thread
    TeamTuning tuning;
    TeamAdaptation adaptation;
};

// A pass shared by a team of up to `threads` threads (the calling one among
// them; team.size says how many started) over n coordinates with c, d and
// the weights w (null: none); null when it cannot be made, or no other
// thread could be started: the solve then runs on the calling thread alone.
SharedPass* newSharedPass(int threads, const IterationKernels& kernels, const double* c,
                          const double* d, const double* w, std::int64_t n,
                          const TeamTuning& tuning);
void deleteSharedPass(SharedPass* pass);

// updateAndChooseReportingNaN (or its weighted twin), shared: the same k and
// anyNaN, bit for bit, with Px and Qx updated alike.
ChoiceAndNaN sharedUpdateAndChoose(SharedPass& pass, double* Px, double* Qx, const double* Pk,
                                   const double* Qk, double delta, double D, double R);

// The windows of a solve, of `window` iterations each: the iterations to the
// first tickSharedPass.
std::int64_t startWindows(SharedPass& pass, std::int64_t window);

// A tick ends, the iterations asked for by the previous call (or by
// startWindows) taken: where the team adapts, a window on the team that has
// already taken clearly longer than the latest window alone is cut short, and
// at a window's end its time is compared with the latest window run the
// other way and the next window runs on the faster (see the .cpp for the
// rule). Returns the iterations to the next tick. The workers of a team not
// in use spin a few microseconds and then sleep.
std::int64_t tickSharedPass(SharedPass& pass);

// Ends the team's other threads for now, so that the calling thread can run
// code that may not return; resumeSharedPass starts them again (as many as
// the system allows).
void pauseSharedPass(SharedPass& pass);
void resumeSharedPass(SharedPass& pass);

// The threads a solve with `threads` asked for (0: automatic, up to `limit`
// when nonzero) uses for n coordinates: automatic takes the processors this
// process may run on (processorsAvailable), from n = threadCrossover on; any
// count is cut to those processors (unless `cap` is false), so that each
// thread has at least `fewest` coordinates, and to at most maxPassThreads.
constexpr std::int64_t threadCrossover = ratioDescentThreadsFrom;
constexpr std::int64_t minSlice = 64;
int passThreads(int threads, int limit, std::int64_t n, std::int64_t fewest = minSlice,
                bool cap = true);

// Where slice s of `slices` begins (s = slices: n). Slices are whole cache
// lines. The first is the calling thread's and is longer by up to
// callerLead coordinates: the caller starts on it at once, while another
// thread learns of the pass one cache-line transfer later and its result
// takes one more to come back, so equal slices would leave the caller
// waiting. Every other slice keeps at least minSlice coordinates.
constexpr std::int64_t callerLead = 256;
std::int64_t sliceStart(std::int64_t n, int slices, int s);

}  // namespace brelvane

#endif
