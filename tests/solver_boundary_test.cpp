// What the solver asks of the system: allocations (each failed in turn), threads and its BLAS calls.
// Linked with -Wl,--wrap=malloc,--wrap=free, and with a dsymv of its own that
// records each call before handing it to the real BLAS.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <new>
#include <vector>

#include "blas_dsymv.h"
#include "iteration_kernels.h"
#include "shared_pass.h"
#include "brelvane/ratio_descent.h"
#include "test_support.h"
#include "vector_kernels.h"

using namespace brelvane;

namespace {

// Allocation accounting, active only while `armed`.
bool armed = false;
int mallocCalls = 0;
int failAt = 0;  // the failAt-th call returns null (0: none fails)
int live = 0;

struct DsymvCall {
    char uplo;
    BlasInt n, lda, incx, incy;
    double alpha, beta;
    BlasStringLength uploLength;
};
std::vector<DsymvCall> dsymvCalls;

}  // namespace

extern "C" void* __real_malloc(std::size_t size);
extern "C" void __real_free(void* p);

extern "C" void* __wrap_malloc(std::size_t size) {
    if (!armed) return __real_malloc(size);
    if (++mallocCalls == failAt) return nullptr;
    void* p = __real_malloc(size);
    if (p) ++live;
    return p;
}

extern "C" void __wrap_free(void* p) {
    if (armed && p) --live;
    __real_free(p);
}

extern "C" void BRELVANE_DSYMV(const char* uplo, const BlasInt* n, const double* alpha,
                               const double* a, const BlasInt* lda, const double* x,
                               const BlasInt* incx, const double* beta, double* y,
                               const BlasInt* incy, BlasStringLength uploLength) {
    using Dsymv = void (*)(const char*, const BlasInt*, const double*, const double*,
                           const BlasInt*, const double*, const BlasInt*, const double*, double*,
                           const BlasInt*, BlasStringLength);
    static const auto real = reinterpret_cast<Dsymv>(dlsym(RTLD_NEXT, BRELVANE_DSYMV_NAME));
    dsymvCalls.push_back({*uplo, *n, *lda, *incx, *incy, *alpha, *beta, uploLength});
    real(uplo, n, alpha, a, lda, x, incx, beta, y, incy, uploLength);
}

namespace {

const std::vector<double> x0{1, 2, 3}, c{1, 0, -1}, d{0, 1, 0};
const std::vector<double> P{2, 1, 0, 1, 3, 1, 0, 1, 4}, Q{1, 0, 0, 0, 1, 0, 0, 0, 1};

RatioDescentStatus solveArmed(std::vector<double>& x, int failingCall,
                              RatioDescentScaling scaling = ratioDescentScalingNone) {
    mallocCalls = 0, failAt = failingCall, live = 0;
    RatioDescentOptions options;
    options.scaling = scaling;
    armed = true;
    const RatioDescentStatus s = ratioDescentWithOptions(
        x.data(), nullptr, x0.data(), P.data(), c.data(), 0.5, Q.data(), d.data(), 2.0, 3, 10,
        options, nullptr);
    armed = false;
    return s;
}

}  // namespace

TEST(SolverBoundary, EachFailedAllocationIsReportedLeavesXAloneAndLeaksNothing) {
    int unscaledAllocations = 0;
    for (RatioDescentScaling scaling : {ratioDescentScalingNone, ratioDescentScalingDiagonal}) {
        std::vector<double> want(3);
        ASSERT_EQ(solveArmed(want, 0, scaling), ratioDescentOk);
        const int allocations = mallocCalls;
        ASSERT_GT(allocations, 0);
        // Only diagonal scaling allocates its weights, one vector more.
        if (scaling == ratioDescentScalingNone) unscaledAllocations = allocations;
        else EXPECT_EQ(allocations, unscaledAllocations + 1);
        EXPECT_EQ(live, 0);
        for (int k = 1; k <= allocations; ++k) {
            std::vector<double> x(3, -7.0);
            EXPECT_EQ(solveArmed(x, k, scaling), ratioDescentOutOfMemory) << "allocation " << k;
            EXPECT_EQ(live, 0) << "allocation " << k;
            EXPECT_EQ(x, std::vector<double>(3, -7.0)) << "allocation " << k;
        }
    }
}

// With an allocator in the options (as a MEX host's memory), every work
// vector comes from it, none from malloc, and each goes back to it, also when
// one of them cannot be had.
TEST(SolverBoundary, AnAllocatorInTheOptionsServesEveryWorkVector) {
    struct Counts {
        int calls, live, failAt;
    };
    RatioDescentOptions options;
    options.scaling = ratioDescentScalingDiagonal;
    options.acceleration = ratioDescentAccelerationRitz;
    options.allocate = [](void* context, std::size_t bytes) -> void* {
        Counts& k = *static_cast<Counts*>(context);
        if (++k.calls == k.failAt) return nullptr;
        ++k.live;
        return __real_malloc(bytes);
    };
    options.release = [](void* context, void* block) {
        --static_cast<Counts*>(context)->live;
        __real_free(block);
    };
    RatioDescentOptions plain = options;
    plain.allocate = nullptr, plain.release = nullptr;
    std::vector<double> want(3);
    ASSERT_EQ(ratioDescentWithOptions(want.data(), nullptr, x0.data(), P.data(), c.data(), 0.5,
                                      Q.data(), d.data(), 2.0, 3, 10, plain, nullptr),
              ratioDescentOk);
    for (int refuse = 0; refuse <= 3; ++refuse) {
        Counts counts{0, 0, refuse};
        options.allocationContext = &counts;
        std::vector<double> x(3, -7.0);
        mallocCalls = 0, failAt = 0, live = 0;
        armed = true;
        const RatioDescentStatus s = ratioDescentWithOptions(
            x.data(), nullptr, x0.data(), P.data(), c.data(), 0.5, Q.data(), d.data(), 2.0, 3, 10,
            options, nullptr);
        armed = false;
        EXPECT_EQ(mallocCalls, 0) << refuse;
        EXPECT_EQ(counts.live, 0) << refuse;
        EXPECT_EQ(s, refuse == 0 ? ratioDescentOk : ratioDescentOutOfMemory) << refuse;
        EXPECT_EQ(x, refuse == 0 ? want : std::vector<double>(3, -7.0)) << refuse;
        if (refuse == 0) EXPECT_EQ(counts.calls, 3);  // P*x and Q*x, the weights, the Ritz slots
    }
}

TEST(SolverBoundary, SizesNoMachineCanHoldAreRefusedBeforeAnyAllocation) {
    const std::int64_t huge[] = {std::int64_t{1} << 31, std::numeric_limits<std::int64_t>::max()};
    for (std::int64_t n : huge) {
        mallocCalls = 0, failAt = 0;
        armed = true;
        const RatioDescentStatus s =
            ratioDescent(nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr, 1, n, 1);
        armed = false;
        if (sizeof(BlasInt) == 4 || n > (std::numeric_limits<std::int64_t>::max() >> 3)) {
            EXPECT_NE(s, ratioDescentOk) << n;
            EXPECT_EQ(mallocCalls, 0) << n;
        }
    }
}

TEST(SolverBoundary, StartUpCallsDsymvTwiceOnTheLowerTriangle) {
    dsymvCalls.clear();
    std::vector<double> x(3);
    ASSERT_EQ(solveArmed(x, 0), ratioDescentOk);
    ASSERT_EQ(dsymvCalls.size(), 2u);
    for (const DsymvCall& call : dsymvCalls) {
        EXPECT_EQ(call.uplo, 'L');
        EXPECT_EQ(call.n, 3);
        EXPECT_EQ(call.lda, 3);
        EXPECT_EQ(call.incx, 1);
        EXPECT_EQ(call.incy, 1);
        EXPECT_EQ(call.alpha, 1.0);
        EXPECT_EQ(bitsOf(call.beta), bitsOf(0.0));
        EXPECT_EQ(call.uploLength, 1u);  // the hidden length of "L" for a Fortran BLAS
    }
}

TEST(SolverBoundary, EmptyProblemsCallNoBlasAndAllocateNothing) {
    dsymvCalls.clear();
    mallocCalls = 0, failAt = 0;
    armed = true;
    for (std::int64_t n : {std::int64_t{0}, std::int64_t{-1}}) {
        EXPECT_EQ(ratioDescent(nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr, 1, n, 5),
                  ratioDescentOk);
        symMatVec(nullptr, nullptr, nullptr, n);
    }
    armed = false;
    EXPECT_EQ(mallocCalls, 0);
    EXPECT_TRUE(dsymvCalls.empty());
}

// Threads the system refuses: pthread_create, interposed in
// refused_threads.cpp, fails from its refuseFrom-th call on, with EAGAIN or
// std::bad_alloc. The solve runs on the threads that did start, down to the
// calling thread alone, with the same bits.
namespace refused_threads {
extern int creations;
extern int refuseFrom;
extern bool withBadAlloc;
}  // namespace refused_threads

#if defined(__SANITIZE_THREAD__)
#define BRELVANE_UNDER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define BRELVANE_UNDER_TSAN 1
#endif
#endif

TEST(SolverBoundary, ThreadsTheSystemRefusesLeaveTheBitsAndFewerThreads) {
#if defined(BRELVANE_UNDER_TSAN)
    GTEST_SKIP() << "ThreadSanitizer's own pthread_create cannot be interposed";
#endif
    const std::int64_t n = 300;
    std::vector<double> x0(n), P(n * n), c(n), Q(n * n), d(n), want(n), x(n);
    for (std::int64_t i = 0; i < n; ++i) {
        x0[i] = static_cast<double>(i % 7) - 3, c[i] = static_cast<double>(i % 5) / 4, d[i] = 0;
        for (std::int64_t j = 0; j < n; ++j) {
            P[i + j * n] = static_cast<double>((i + j) % 9) - 4;
            Q[i + j * n] = i == j ? 400.0 : static_cast<double>((i * j) % 3) / 8;
        }
    }
    RatioDescentOptions options;
    RatioDescentReport report;
    ASSERT_EQ(ratioDescentWithOptions(want.data(), nullptr, x0.data(), P.data(), c.data(), 1.0,
                                      Q.data(), d.data(), 2.0, n, 2000, options, &report),
              ratioDescentOk);
    options.threads = 4;
    TeamTuning tuning;  // four threads whatever this machine's processors, on every pass
    tuning.capToProcessors = false;
    tuning.adaptive = false;
    // No exception leaves the solve; the sanitizer builds check that no
    // thread or record is left behind.
    for (bool badAlloc : {false, true})
        for (int refuse : {1, 2, 3}) {
            refused_threads::creations = 0;
            refused_threads::refuseFrom = refuse;
            refused_threads::withBadAlloc = badAlloc;
            const RatioDescentStatus status = ratioDescentWith(
                fastestIterationKernels(), x.data(), x0.data(), P.data(), c.data(), 1.0, Q.data(),
                d.data(), 2.0, n, 2000, nullptr, &options, &report, &tuning);
            refused_threads::refuseFrom = 0;
            ASSERT_EQ(status, ratioDescentOk);
            EXPECT_EQ(report.threads, refuse) << "the first " << refuse - 1 << " threads started";
            EXPECT_EQ(x, want) << refuse;
        }
}
