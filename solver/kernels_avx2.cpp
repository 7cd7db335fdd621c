// The fused pass with AVX2, four lanes. Compiled with -mavx2 (no FMA).
#include "fused_pass.h"
#include "kernels_x86.h"

namespace brelvane {

namespace {

struct Avx2 {
    using Vec = __m256d;
    using Mask = __m256d;
    static constexpr int width = 4;
    static Vec set1(double v) { return _mm256_set1_pd(v); }
    static Vec iota() { return _mm256_setr_pd(0.0, 1.0, 2.0, 3.0); }
    static Vec load(const double* p) { return _mm256_loadu_pd(p); }
    static void store(double* p, Vec v) { _mm256_storeu_pd(p, v); }
    static Vec add(Vec a, Vec b) { return _mm256_add_pd(a, b); }
    static Vec sub(Vec a, Vec b) { return _mm256_sub_pd(a, b); }
    static Vec mul(Vec a, Vec b) { return _mm256_mul_pd(a, b); }
    static Vec div(Vec a, Vec b) { return _mm256_div_pd(a, b); }
    static Vec abs(Vec a) { return _mm256_andnot_pd(_mm256_set1_pd(-0.0), a); }
    // Ordered, quiet: false when either side is NaN.
    static Mask greater(Vec a, Vec b) { return _mm256_cmp_pd(a, b, _CMP_GT_OQ); }
    static Vec select(Mask m, Vec a, Vec b) { return _mm256_blendv_pd(b, a, m); }
    static bool anyNaN(Vec a) { return _mm256_movemask_pd(_mm256_cmp_pd(a, a, _CMP_UNORD_Q)) != 0; }
};

}  // namespace

const IterationKernels avx2IterationKernels = kernelTable<Simd<Avx2>>("avx2");

}  // namespace brelvane
