// The fused pass with AVX-512F, eight lanes. -ffp-contract=off keeps the
// separate multiply and add although the instruction set has FMA.
#include "fused_pass.h"
#include "kernels_x86.h"

namespace brelvane {

namespace {

struct Avx512 {
    using Vec = __m512d;
    using Mask = __mmask8;
    static constexpr int width = 8;
    static Vec set1(double v) { return _mm512_set1_pd(v); }
    static Vec iota() { return _mm512_setr_pd(0.0, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0); }
    static Vec load(const double* p) { return _mm512_loadu_pd(p); }
    static void store(double* p, Vec v) { _mm512_storeu_pd(p, v); }
    static Vec add(Vec a, Vec b) { return _mm512_add_pd(a, b); }
    static Vec sub(Vec a, Vec b) { return _mm512_sub_pd(a, b); }
    static Vec mul(Vec a, Vec b) { return _mm512_mul_pd(a, b); }
    static Vec div(Vec a, Vec b) { return _mm512_div_pd(a, b); }
    static Vec abs(Vec a) { return _mm512_abs_pd(a); }
    static Mask greater(Vec a, Vec b) { return _mm512_cmp_pd_mask(a, b, _CMP_GT_OQ); }
    static Vec select(Mask m, Vec a, Vec b) { return _mm512_mask_blend_pd(m, b, a); }
    static bool anyNaN(Vec a) { return _mm512_cmp_pd_mask(a, a, _CMP_UNORD_Q) != 0; }
};

}  // namespace

const IterationKernels avx512IterationKernels = kernelTable<Simd<Avx512>>("avx512");

}  // namespace brelvane
