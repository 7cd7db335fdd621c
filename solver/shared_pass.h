// The per-iteration pass split over a team of threads, same bits as the whole pass.
#ifndef BRELVANE_SHARED_PASS_H
#define BRELVANE_SHARED_PASS_H

#include <cstdint>

#include "iteration_kernels.h"
#include "thread_team.h"

namespace brelvane {

// Most threads a pass is split over.
constexpr int maxPassThreads = 64;

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
};

// A pass shared by a team of up to `threads` threads (the calling one among
// them; team.size says how many started) over n coordinates with c, d and
// the weights w (null: none); null when it cannot be made, or no other
// thread could be started: the solve then runs on the calling thread alone.
SharedPass* newSharedPass(int threads, const IterationKernels& kernels, const double* c,
                          const double* d, const double* w, std::int64_t n);
void deleteSharedPass(SharedPass* pass);

// updateAndChooseReportingNaN (or its weighted twin), shared: the same k and
// anyNaN, bit for bit, with Px and Qx updated alike.
ChoiceAndNaN sharedUpdateAndChoose(SharedPass& pass, double* Px, double* Qx, const double* Pk,
                                   const double* Qk, double delta, double D, double R);

// Ends the team's other threads for now, so that the calling thread can run
// code that may not return; resumeSharedPass starts them again (as many as
// the system allows).
void pauseSharedPass(SharedPass& pass);
void resumeSharedPass(SharedPass& pass);

// The threads a solve with `threads` asked for (0: automatic, up to `limit`
// when nonzero) uses for n coordinates: automatic takes the processors this
// process may run on (or OMP_NUM_THREADS when set), from n =
// threadCrossover on; any count is cut so that each thread has at least
// minSlice coordinates, and to at most maxPassThreads.
constexpr std::int64_t threadCrossover = ratioDescentThreadsFrom;
constexpr std::int64_t minSlice = 64;
int passThreads(int threads, int limit, std::int64_t n);

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
