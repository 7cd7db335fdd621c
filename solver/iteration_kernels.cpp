// The portable pass and the choice of the variant the CPU runs.
#include "iteration_kernels.h"

#include <initializer_list>

#include "fused_pass.h"
#if defined(BRELVANE_X86_KERNELS)
#include "kernels_x86.h"
#endif

namespace brelvane {

namespace {

constexpr IterationKernels portableIterationKernels = kernelTable<Portable>("portable");

}  // namespace

const IterationKernels* iterationKernels(KernelVariant variant) {
    switch (variant) {
        case KernelVariant::portable:
            return &portableIterationKernels;
#if defined(BRELVANE_X86_KERNELS)
        case KernelVariant::sse2:
            return &sse2IterationKernels;
        case KernelVariant::avx2:
            return __builtin_cpu_supports("avx2") ? &avx2IterationKernels : nullptr;
        case KernelVariant::avx512:
            // Checks the OS saves the AVX-512 state too, not only CPUID.
            return __builtin_cpu_supports("avx512f") ? &avx512IterationKernels : nullptr;
#endif
        default:
            return nullptr;
    }
}

const IterationKernels& fastestIterationKernels() {
    // Computed once; the CPU does not change under a running process.
    static const IterationKernels* const fastest = [] {
        for (KernelVariant v : {KernelVariant::avx512, KernelVariant::avx2, KernelVariant::sse2})
            if (const IterationKernels* k = iterationKernels(v)) return k;
        return &portableIterationKernels;
    }();
    return *fastest;
}

}  // namespace brelvane
