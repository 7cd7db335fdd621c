// The fused pass with SSE2, two lanes (every x86-64 CPU has it).
#include "fused_pass.h"
#include "kernels_x86.h"

namespace brelvane {

namespace {

struct Sse2 {
    using Vec = __m128d;
    using Mask = __m128d;
    static constexpr int width = 2;
    static Vec set1(double v) { return _mm_set1_pd(v); }
    static Vec iota() { return _mm_setr_pd(0.0, 1.0); }
    static Vec load(const double* p) { return _mm_loadu_pd(p); }
    static void store(double* p, Vec v) { _mm_storeu_pd(p, v); }
    static Vec add(Vec a, Vec b) { return _mm_add_pd(a, b); }
    static Vec sub(Vec a, Vec b) { return _mm_sub_pd(a, b); }
    static Vec mul(Vec a, Vec b) { return _mm_mul_pd(a, b); }
    static Vec div(Vec a, Vec b) { return _mm_div_pd(a, b); }
    static Vec abs(Vec a) { return _mm_andnot_pd(_mm_set1_pd(-0.0), a); }
    static Mask greater(Vec a, Vec b) { return _mm_cmpgt_pd(a, b); }
    static Vec select(Mask m, Vec a, Vec b) { return _mm_or_pd(_mm_and_pd(m, a), _mm_andnot_pd(m, b)); }
    static bool anyNaN(Vec a) { return _mm_movemask_pd(_mm_cmpunord_pd(a, a)) != 0; }
};

}  // namespace

const IterationKernels sse2IterationKernels = kernelTable<Simd<Sse2>>("sse2");

}  // namespace brelvane
