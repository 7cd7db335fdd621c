// The per-iteration pass split over a team of threads: the slices, and their choices combined.
#include "shared_pass.h"

#include <cstdlib>
#include <cstring>

#include "fused_pass.h"

namespace brelvane {

namespace {

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
    PassArguments a;
    std::memcpy(&a, arguments, sizeof a);
    const auto slice = p.w ? p.kernels->updateAndChooseWeightedSlice : p.kernels->updateAndChooseSlice;
    const SliceChoice choice =
        slice(a.Px, a.Qx, a.Pk, a.Qk, a.delta, p.c, p.d, p.w, a.D, a.R, p.bounds[s], p.bounds[s + 1]);
    std::memcpy(result, &choice, sizeof choice);
}

}  // namespace

SharedPass* newSharedPass(int threads, const IterationKernels& kernels, const double* c,
                          const double* d, const double* w, std::int64_t n) {
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
    // A team that could not start again after a pause: the whole pass here.
    pass.lastK = -1;
    if (pass.team.size == 1) {
        return pass.w ? pass.kernels->updateAndChooseWeightedReportingNaN(
                            Px, Qx, Pk, Qk, delta, pass.c, pass.d, pass.w, D, R, pass.n)
                      : pass.kernels->updateAndChooseReportingNaN(Px, Qx, Pk, Qk, delta, pass.c,
                                                                  pass.d, D, R, pass.n);
    }
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

int passThreads(int threads, int limit, std::int64_t n) {
    std::int64_t count = threads;
    if (threads == 0) {
        count = n >= threadCrossover ? processorsAvailable() : 1;
        if (limit > 0 && count > limit) count = limit;
    }
    const std::int64_t most = n / minSlice > 1 ? n / minSlice : 1;
    if (count > most) count = most;
    if (count > maxPassThreads) count = maxPassThreads;
    return count < 1 ? 1 : static_cast<int>(count);
}

}  // namespace brelvane
