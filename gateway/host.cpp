// The host's services to a call: errors, the interrupt flag, memory, the display, threads.
#include "host.h"

#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// EnumProcessModules as KERNEL32 exports it (K32EnumProcessModules), so that
// psapi.dll is not imported; psapi.h comes after windows.h, which it needs.
#define PSAPI_VERSION 2
#include <psapi.h>
#else
#include <dlfcn.h>
#endif

namespace brelvane {
namespace gateway {

[[noreturn]] void fail(const char* id, const char* format, ...) {
    char message[320];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    mexErrMsgIdAndTxt(id, "%s", message);
}

// ---- The host's interrupt flag (Ctrl+C) -------------------------------------

namespace {

#if defined(_WIN32)
// libut.dll is MATLAB's; its being loaded already is what tells us the host.
void* libutSymbol(const char* name) {
    HMODULE libut = GetModuleHandleA("libut.dll");
    if (libut == nullptr) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(libut, name));
}

// Octave's liboctave-<version>.dll changes its name with every release, so
// each module loaded into the process is asked for the name in turn, in load
// order. liboctave comes with Octave itself, well within the first 1024.
void* octaveSymbol(const char* name) {
    HMODULE modules[1024];
    DWORD bytes = 0;
    if (!EnumProcessModules(GetCurrentProcess(), modules, sizeof modules, &bytes))
        return nullptr;
    const DWORD count = (bytes < sizeof modules ? bytes : sizeof modules) / sizeof(HMODULE);
    for (DWORD i = 0; i < count; ++i)
        if (FARPROC symbol = GetProcAddress(modules[i], name))
            return reinterpret_cast<void*>(symbol);
    return nullptr;
}
#else
// Octave's libraries are in the global scope, as the program links them.
void* octaveSymbol(const char* name) { return dlsym(RTLD_DEFAULT, name); }

// libut is in the global scope only if MATLAB loaded it there; otherwise it
// is asked for by name among the libraries already loaded (RTLD_NOLOAD never
// loads one). Closing the handle only gives back the reference it took: the
// host's own keeps the library, and so the symbol, where it is.
void* libutSymbol(const char* name) {
    if (void* symbol = dlsym(RTLD_DEFAULT, name)) return symbol;
#if defined(__APPLE__)
    void* libut = dlopen("libut.dylib", RTLD_LAZY | RTLD_NOLOAD);
#else
    void* libut = dlopen("libut.so", RTLD_LAZY | RTLD_NOLOAD);
#endif
    if (libut == nullptr) return nullptr;
    void* symbol = dlsym(libut, name);
    dlclose(libut);
    return symbol;
}
#endif

// MATLAB's pair from libut; false without it.
bool findLibut(HostInterrupt& h) {
    h.isPending = reinterpret_cast<bool (*)()>(libutSymbol("utIsInterruptPending"));
    if (h.isPending != nullptr)
        h.setPending = reinterpret_cast<bool (*)(bool)>(libutSymbol("utSetInterruptPending"));
    return h.isPending != nullptr;
}

}  // namespace

// The quicker lookup first: on Windows libut.dll by its name, elsewhere
// Octave's flag in the global scope.
HostInterrupt findHostInterrupt() {
    HostInterrupt h{nullptr, nullptr, nullptr};
#if defined(_WIN32)
    if (!findLibut(h)) h.octaveState = static_cast<int*>(octaveSymbol("octave_interrupt_state"));
#else
    h.octaveState = static_cast<int*>(octaveSymbol("octave_interrupt_state"));
    if (h.octaveState == nullptr) findLibut(h);
#endif
    return h;
}

// The solver's poll: a load or one call, a few times per millisecond at most.
bool hostInterruptPending(void* context) {
    const HostInterrupt* h = static_cast<const HostInterrupt*>(context);
    if (h->octaveState != nullptr) return __atomic_load_n(h->octaveState, __ATOMIC_RELAXED) > 0;
    return h->isPending();
}

// The interrupt is ours to report: the flag goes back to "none pending", so
// that the host takes our error rather than starting its own interrupt, and
// the next call and the next Ctrl+C work as the first. Octave's other flag,
// octave_signal_caught, is left for Octave to clear: with no interrupt
// pending, its handler then does nothing.
void acknowledgeInterrupt(const HostInterrupt& h) {
    if (h.octaveState != nullptr) __atomic_store_n(h.octaveState, 0, __ATOMIC_RELAXED);
    if (h.setPending != nullptr) h.setPending(false);
}

// ---- Memory of the solve, and r grown as the descent runs -------------------

namespace {

// The host's allocators do not tell us of a failure: MATLAB's abandon the
// call with the host's own error, and so does Octave's mxMalloc (its
// mxRealloc answers null, leaving the block). So the size is first taken from
// the C library and given straight back: a refusal there is reported as
// ours, Brelvane:outOfMemory. The rest is the host's memory, which it
// reclaims when it abandons the call, so that no error, ours or the host's
// (its allocator refusing what the C library just gave), leaks any of it:
// the solver's work vectors and r's storage come from here. Null when the C
// library refuses, or Octave's mxRealloc does.
void* hostMemory(void* block, std::uint64_t bytes) {
    if (bytes > SIZE_MAX) return nullptr;
    // volatile: a compiler may drop a malloc whose block is only freed.
    void* volatile room = std::malloc(static_cast<std::size_t>(bytes));
    if (room == nullptr) return nullptr;
    std::free(room);
    return block == nullptr ? mxMalloc(static_cast<std::size_t>(bytes))
                            : mxRealloc(block, static_cast<std::size_t>(bytes));
}

void* allocateWork(void*, std::size_t bytes) { return hostMemory(nullptr, bytes); }
void releaseWork(void*, void* block) { mxFree(block); }

// The solver's growTrace: the storage moves to a larger host block, at the
// lengths the solver asks for (doubling, so r costs what its entries do).
double* growTrace(void* context, std::int64_t length) {
    TraceStorage* r = static_cast<TraceStorage*>(context);
    void* grown = hostMemory(r->data, static_cast<std::uint64_t>(length) * sizeof(double));
    if (grown == nullptr) {
        r->refused = length;
        return nullptr;
    }
    r->data = static_cast<double*>(grown);
    return r->data;
}

}  // namespace

void useHostMemory(RatioDescentOptions& options, TraceStorage* trace) {
    options.allocate = allocateWork;
    options.release = releaseWork;
    if (trace != nullptr) {
        options.growTrace = growTrace;
        options.traceContext = trace;
    }
}

void useHostMemory(EigenpairsOptions& options) {
    options.allocate = allocateWork;
    options.release = releaseWork;
}

// r as an m-by-1 column that takes the storage over, cut to its m entries
// first: mxSetM alone gives no memory back, so r would keep the whole block.
mxArray* traceColumn(double* data, std::int64_t m) {
    void* exact = mxRealloc(data, static_cast<std::size_t>(m) * sizeof(double));
    mxArray* r = mxCreateDoubleMatrix(0, 1, mxREAL);
    // Whatever the host holds for an empty array (Octave: a block) goes first.
    mxFree(mxGetPr(r));
    mxSetPr(r, static_cast<double*>(exact != nullptr ? exact : data));
    mxSetM(r, static_cast<mwSize>(m));
    return r;
}

// ---- Progress display ('Display') -------------------------------------------

double secondsNow() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The solver's progress callback under 'Display', 'iter', called a few times
// a millisecond at most: a header and the start's line, then a line when a
// second has passed since the last one. MATLAB's desktop may hold mexPrintf's
// text until its event queue runs, so drawnow is evaluated after a line,
// through mexEvalStringWithTrap: an error raised there (Ctrl+C raises one)
// comes back to us rather than leaving through the solver's frames, and the
// answer true ends the solve, which gives its work memory back before the
// call reports Brelvane:interrupted. Octave shows the text at once, and its
// evaluation would not trap an interrupt (Octave's own, not an error, would
// leave through those frames and end the call as Octave's, not ours), so
// nothing is evaluated there.
namespace {

// A progress line was printed at `elapsed` seconds: counted, and drawnow
// evaluated where the host wants it; true when that raised an error.
bool lineShown(Display& d, double elapsed) {
    d.lastLine = elapsed;
    ++d.lines;
    if (d.refresh && mexEvalStringWithTrap("drawnow;") != nullptr) {
        d.refreshFailed = true;
        return true;
    }
    return false;
}

}  // namespace

bool showProgress(const RatioDescentProgress& state, void* context) {
    Display& d = *static_cast<Display*>(context);
    const double elapsed = secondsNow() - d.start;
    if (d.lines > 0 && elapsed - d.lastLine < 1.0) return false;
    char line[160];
    if (d.lines == 0) {
        std::snprintf(line, sizeof line, "%12s  %16s  %17s%s  %9s\n", "iteration", "R",
                      d.gradientLabel, d.withResidual ? "    residual" : "", "seconds");
        mexPrintf("%s", line);
    }
    char residual[16] = "";
    if (d.withResidual) std::snprintf(residual, sizeof residual, "  %10.3e", state.residual);
    std::snprintf(line, sizeof line, "%12lld  %16.9e  %17.3e%s  %9.2f\n",
                  static_cast<long long>(state.iterations), state.ratio, state.gradient, residual,
                  elapsed);
    mexPrintf("%s", line);
    return lineShown(d, elapsed);
}

bool showSweep(std::int64_t sweeps, double backwardError, void* context) {
    Display& d = *static_cast<Display*>(context);
    const double elapsed = secondsNow() - d.start;
    if (d.lines > 0 && elapsed - d.lastLine < 1.0) return false;
    if (d.lines == 0) mexPrintf("%8s  %22s  %9s\n", "sweep", "largest backward error", "seconds");
    mexPrintf("%8lld  %22.3e  %9.2f\n", static_cast<long long>(sweeps), backwardError, elapsed);
    return lineShown(d, elapsed);
}

void showFinal(const Display& d, const RatioDescentReport& r, std::int64_t iterations,
               const RatioDescentOptions& o) {
    if (d.level == displayOff) return;
    // 'notify': only where a tolerance given was not met.
    const bool toleranceGiven = o.tolerance > 0.0 || o.gradientTolerance > 0.0;
    const bool unmet = r.stop == ratioDescentStopIterations || r.stop == ratioDescentStopStalled ||
                       r.stop == ratioDescentStopNotFinite;
    if (d.level == displayNotify && !(toleranceGiven && unmet)) return;
    const long long done = static_cast<long long>(r.iterations);
    const long long asked = static_cast<long long>(iterations > 0 ? iterations : 0);
    char why[160];
    switch (r.stop) {
        case ratioDescentStopGradient:
            std::snprintf(why, sizeof why,
                          "stopped after %lld of %lld iterations: %s <= GradientTolerance = %g",
                          done, asked, d.gradientLabel, o.gradientTolerance);
            break;
        case ratioDescentStopTolerance:
            std::snprintf(why, sizeof why,
                          "stopped after %lld of %lld iterations: residual <= Tolerance = %g", done,
                          asked, o.tolerance);
            break;
        case ratioDescentStopStationary:
            std::snprintf(why, sizeof why,
                          "stationary after %lld of %lld iterations (the last changed nothing, bit "
                          "for bit; the rest would repeat it)",
                          done, asked);
            break;
        case ratioDescentStopStalled:
            std::snprintf(why, sizeof why,
                          "stalled after %lld of %lld iterations: the residual stopped falling "
                          "above Tolerance = %g",
                          done, asked, o.tolerance);
            break;
        case ratioDescentStopNotFinite:
            std::snprintf(why, sizeof why,
                          "stopped after %lld of %lld iterations: R is not finite", done, asked);
            break;
        default: std::snprintf(why, sizeof why, "ran all %lld iterations", asked);
    }
    char line[400];
    std::snprintf(line, sizeof line,
                  "Brelvane: %s; R = %.9e, %s = %.3e, residual = %.3e, %.2f s.\n", why, r.ratio,
                  d.gradientLabel, r.gradient, r.residual, secondsNow() - d.start);
    mexPrintf("%s", line);
}

// ---- Warnings -------------------------------------------------------------------

namespace {

// "P(3,1) = 0 but P(1,3) = 0.5" into text[160], 1-based as MATLAB counts.
void describeAsymmetry(const char* name, const Asymmetry& a, char* text) {
    std::snprintf(text, 160, "%s(%lld,%lld) = %.17g but %s(%lld,%lld) = %.17g", name,
                  static_cast<long long>(a.row + 1), static_cast<long long>(a.column + 1), a.lower,
                  name, static_cast<long long>(a.column + 1), static_cast<long long>(a.row + 1),
                  a.upper);
}

}  // namespace

void warnOfAsymmetry(const Asymmetry& P, const Asymmetry& Q, const char* howRead) {
    if (!P.found && !Q.found) return;
    char pairs[2][160] = {"", ""};
    if (P.found) describeAsymmetry("P", P, pairs[0]);
    if (Q.found) describeAsymmetry("Q", Q, pairs[1]);
    const char* names = P.found && Q.found ? "P and Q are" : P.found ? "P is" : "Q is";
    char message[800];
    std::snprintf(message, sizeof message,
                  "%s not symmetric: %s%s%s (entries across the diagonal differ by more than 1e-10 "
                  "of the larger of them or of the square root of their diagonal entries' "
                  "product, or one triangle is zero and the other is not). %s: pass (A + A')/2.",
                  names, pairs[0], P.found && Q.found ? "; " : "", pairs[1], howRead);
    mexWarnMsgIdAndTxt("Brelvane:notSymmetric", "%s", message);
}

// ---- Threads -----------------------------------------------------------------

// The host's setting for computational threads, for the automatic count:
// MATLAB's maxNumCompThreads (1 in a parfor worker), asked of the
// interpreter on the calling thread; 0, no limit beyond the processors the
// process may run on (or OMP_NUM_THREADS), elsewhere (Octave, whose own
// maxNumCompThreads answers just that) and when MATLAB gives no answer.
int hostThreadLimit(const HostInterrupt& host) {
    if (host.octaveState != nullptr || host.isPending == nullptr) return 0;
    mxArray* out[1] = {nullptr};
    mxArray* failure = mexCallMATLABWithTrap(1, out, 0, nullptr, "maxNumCompThreads");
    if (failure != nullptr) {
        mxDestroyArray(failure);
        return 0;
    }
    double v = 0.0;
    if (out[0] != nullptr) {
        if (mxIsNumeric(out[0]) && !mxIsComplex(out[0]) && mxGetNumberOfElements(out[0]) == 1)
            v = mxGetScalar(out[0]);
        mxDestroyArray(out[0]);
    }
    return v >= 1.0 && v <= mostThreads ? static_cast<int>(v) : 0;
}

}  // namespace gateway
}  // namespace brelvane
