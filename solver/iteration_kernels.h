// The per-iteration pass over the vectors, in one portable and several SIMD variants.
#ifndef BRELVANE_ITERATION_KERNELS_H
#define BRELVANE_ITERATION_KERNELS_H

#include <cstdint>

#include "block_pass.h"
#include "brelvane/ratio_descent.h"

namespace brelvane {

// The whole passes below return k, the lowest index of largest |dR/dx_j| with
//   dR/dx_j = (Px[j] + c[j]) / D - ((Qx[j] + d[j]) * R) / D,
// chosen exactly as indexOfMaxAbs would choose it over that gradient (strict
// >, NaN never chosen unless at index 0, which then wins), without storing
// the gradient. n >= 1.
//
// The updating ones first apply the previous step: Px[j] += delta * Pk[j] and
// Qx[j] += delta * Qk[j] (the whole columns Pk, Qk), then choose on the
// updated vectors, in the same pass.
//
// The weighted pair chooses in the same way over |w[j] * dR/dx_j| (the
// product rounded, then its magnitude): the choice of diagonal scaling.
//
// The four ...ReportingNaN are the same passes, k bit for bit, that also say
// whether any value they compared (dR/dx_j, or w[j] * dR/dx_j) was NaN,
// wherever it was: the choice takes a NaN only at index 0, but a NaN anywhere
// leaves the gradient without a largest magnitude. Passes over disjoint
// ranges of j combine their anyNaN by OR.
struct ChoiceAndNaN {
    std::int64_t k;
    bool anyNaN;
};

// One slice's share of a pass over j in [from, to): the largest magnitude
// compared (-1 when none was taken) at its lowest index, whether any value
// compared was NaN, and the running products there. Slices combine, in
// increasing order of j, by taking a later one's candidate only on a
// strictly larger magnitude, and their anyNaN by OR; the NaN at index 0 is
// then looked at as in the whole pass. The result is the whole pass's,
// whatever the slices.
struct SliceChoice {
    double best;
    std::int64_t index;
    bool anyNaN;
    double Pxk;  // Px and Qx at index, updated, when a candidate was taken
    double Qxk;
};

struct IterationKernels {
    const char* name;
    std::int64_t (*choose)(const double* Px, const double* Qx, const double* c, const double* d,
                           double D, double R, std::int64_t n);
    std::int64_t (*updateAndChoose)(double* Px, double* Qx, const double* Pk, const double* Qk,
                                    double delta, const double* c, const double* d, double D,
                                    double R, std::int64_t n);
    std::int64_t (*chooseWeighted)(const double* Px, const double* Qx, const double* c,
                                   const double* d, const double* w, double D, double R,
                                   std::int64_t n);
    std::int64_t (*updateAndChooseWeighted)(double* Px, double* Qx, const double* Pk,
                                            const double* Qk, double delta, const double* c,
                                            const double* d, const double* w, double D, double R,
                                            std::int64_t n);
    ChoiceAndNaN (*chooseReportingNaN)(const double* Px, const double* Qx, const double* c,
                                       const double* d, double D, double R, std::int64_t n);
    ChoiceAndNaN (*updateAndChooseReportingNaN)(double* Px, double* Qx, const double* Pk,
                                                const double* Qk, double delta, const double* c,
                                                const double* d, double D, double R,
                                                std::int64_t n);
    ChoiceAndNaN (*chooseWeightedReportingNaN)(const double* Px, const double* Qx, const double* c,
                                               const double* d, const double* w, double D, double R,
                                               std::int64_t n);
    ChoiceAndNaN (*updateAndChooseWeightedReportingNaN)(double* Px, double* Qx, const double* Pk,
                                                        const double* Qk, double delta,
                                                        const double* c, const double* d,
                                                        const double* w, double D, double R,
                                                        std::int64_t n);
    // updateAndChooseReportingNaN over [from, to) alone, without the NaN at
    // index 0; w is read only by the weighted one.
    SliceChoice (*updateAndChooseSlice)(double* Px, double* Qx, const double* Pk,
                                        const double* Qk, double delta, const double* c,
                                        const double* d, const double* w, double D, double R,
                                        std::int64_t from, std::int64_t to);
    SliceChoice (*updateAndChooseWeightedSlice)(double* Px, double* Qx, const double* Pk,
                                                const double* Qk, double delta, const double* c,
                                                const double* d, const double* w, double D,
                                                double R, std::int64_t from, std::int64_t to);
    // The block descent's pass over tiles [fromTile, toTile) (block_pass.h).
    BlockChoice (*blockPass)(const BlockPassArguments& arguments, std::int64_t fromTile,
                             std::int64_t toTile);
};

enum class KernelVariant { portable, sse2, avx2, avx512 };

// The variant's kernels, or nullptr when this build or this CPU lacks it.
const IterationKernels* iterationKernels(KernelVariant variant);

// The widest variant this CPU runs.
const IterationKernels& fastestIterationKernels();

struct TeamTuning;

// ratioDescent (trace null), ratioDescentTrace or, with options,
// ratioDescentWithOptions, on the given kernels, for tests and benchmarks
// that pin a variant, and with the team of threads tuned (null: as the
// solver tunes it); identical results whichever run.
RatioDescentStatus ratioDescentWith(const IterationKernels& kernels, double* x, const double* x0,
                                    const double* P, const double* c, double alpha,
                                    const double* Q, const double* d, double beta,
                                    std::int64_t n, std::int64_t iterations,
                                    double* trace = nullptr,
                                    const RatioDescentOptions* options = nullptr,
                                    RatioDescentReport* report = nullptr,
                                    const TeamTuning* tuning = nullptr);

// eigenpairs on the given kernels, for tests and benchmarks that pin a
// variant; identical results whichever run.
RatioDescentStatus eigenpairsWith(const IterationKernels& kernels, double* V, double* lambda,
                                  double* backwardErrors, const double* P, const double* Q,
                                  std::int64_t n, std::int64_t k, const double* start,
                                  std::int64_t startColumns, const EigenpairsOptions& options,
                                  EigenpairsReport* report);

}  // namespace brelvane

#endif
