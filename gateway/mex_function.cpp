// MEX entry point:
//   [x, r, info] = Brelvane(x0, P, c, alpha, Q, d, beta, n, iterations, name, value, ...)
//
// Nothing in this file has a destructor: an error leaves mexFunction by the
// host's own unwinding (MATLAB) or a C++ exception (Octave), and a frame of ours
// with cleanup code would hand the host's unwinding to our compiler's runtime.
// Text lives in plain char buffers.
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

#include "brelvane/ratio_descent.h"
#include "mex_api.h"

using namespace brelvane;

namespace {

constexpr int inputCount = 9;
// x, the ratio trace r and the report info; nlhs = 0 still receives x (as ans).
constexpr int maxOutputCount = 3;

constexpr double twoTo31 = 2147483648.0;
constexpr double twoTo63 = 9223372036854775808.0;

// Raises the error `id` in the caller; the host abandons the call. The text is
// formatted here so that every host sees the same message. Messages do not
// begin with the function's name: MATLAB shows "Error using Brelvane" above
// them and Octave prefixes "Brelvane: ".
[[noreturn]] void fail(const char* id, const char* format, ...) {
    char message[320];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    mexErrMsgIdAndTxt(id, "%s", message);
}

void requireArgumentCounts(int nlhs, int nrhs) {
    if (nrhs < inputCount)
        fail("Brelvane:nargin",
             "Expected %d inputs (x0, P, c, alpha, Q, d, beta, n, iterations), optionally "
             "followed by name-value options, but was given %d.",
             inputCount, nrhs);
    if (nlhs > maxOutputCount)
        fail("Brelvane:nargout", "At most %d outputs (x, r, info) are returned, but %d were requested.",
             maxOutputCount, nlhs);
}

// The value of a real numeric scalar of any numeric class, as a double.
double requireRealScalar(const mxArray* a, const char* name) {
    if (!mxIsNumeric(a))
        fail("Brelvane:notNumeric",
             "Argument %s must be a real numeric scalar, but is of class %s.", name,
             mxGetClassName(a));
    if (mxIsComplex(a))
        fail("Brelvane:complex", "Argument %s must be a real numeric scalar, but is complex.",
             name);
    if (mxGetNumberOfElements(a) != 1)
        fail("Brelvane:notScalar",
             "Argument %s must be a real numeric scalar, but has %llu elements.", name,
             static_cast<unsigned long long>(mxGetNumberOfElements(a)));
    return mxGetScalar(a);
}

// trunc(v), required to lie in [lowest, limit), whose bounds are named in the
// message as `range`. Finiteness and range are checked on the double before
// the cast, which is undefined out of range.
std::int64_t truncatedCount(double v, const char* name, double lowest, double limit,
                            const char* range) {
    if (!std::isfinite(v))
        fail("Brelvane:notFinite", "Argument %s must be finite, but is %g.", name, v);
    const double t = std::trunc(v);
    if (!(t >= lowest && t < limit))
        fail("Brelvane:outOfRange",
             "Argument %s must lie in %s after truncation toward zero, but is %.17g.", name,
             range, v);
    return static_cast<std::int64_t>(t);
}

// P or Q: with more than one row and more than one column it is read as a
// matrix, which must then be n-by-n in two dimensions: its first n*n elements
// would otherwise not be its leading block, and a wrong n would give a
// plausible wrong answer. A row or a column holds the matrix's columns one
// after another and is only counted, as the vectors are.
void requireSquareOrVector(const mxArray* a, const char* name, std::int64_t n) {
    const mwSize count = mxGetNumberOfDimensions(a);
    const mwSize* dims = mxGetDimensions(a);
    // Every dimension after the first, as mxGetN counts them. With more than
    // one row their product is at most the element count, or zero.
    std::uint64_t columns = 1;
    for (mwSize k = 1; k < count; ++k) columns *= static_cast<std::uint64_t>(dims[k]);
    const std::uint64_t rows = static_cast<std::uint64_t>(dims[0]);
    const std::uint64_t side = static_cast<std::uint64_t>(n);
    if (rows <= 1 || columns == 1 || (count == 2 && rows == side && columns == side)) return;
    // "3-by-3", "2-by-2-by-2", ...; cut short with "..." past the buffer.
    char size[96];
    std::size_t used = 0;
    for (mwSize k = 0; k < count && used < sizeof size; ++k)
        used += static_cast<std::size_t>(
            std::snprintf(size + used, sizeof size - used, k == 0 ? "%llu" : "-by-%llu",
                          static_cast<unsigned long long>(dims[k])));
    if (used >= sizeof size) std::memcpy(size + sizeof size - 4, "...", 4);
    fail("Brelvane:sizeMismatch",
         "Argument %s must be an n-by-n matrix for n = %lld, or a vector of at least n*n "
         "elements, but is %s.",
         name, static_cast<long long>(n), size);
}

// The data of a real, full double array of at least `needed` elements. Only
// the first `needed` are read, column-major, whatever the array's shape;
// except that a matrix argument (side >= 0) of more than one row must be
// side-by-side unless it is a column.
const double* requireRealDoubleArray(const mxArray* a, const char* name, std::uint64_t needed,
                                     const char* neededName, std::int64_t side = -1) {
    if (!mxIsDouble(a))
        fail("Brelvane:notDouble", "Argument %s must be a real double array, but is of class %s.",
             name, mxGetClassName(a));
    if (mxIsComplex(a))
        fail("Brelvane:complex", "Argument %s must be a real double array, but is complex.", name);
    if (mxIsSparse(a))
        fail("Brelvane:sparse", "Argument %s must be a full double array, but is sparse.", name);
    if (side >= 0) requireSquareOrVector(a, name, side);
    const std::uint64_t numel = mxGetNumberOfElements(a);
    if (numel < needed)
        fail("Brelvane:tooShort",
             "Argument %s must have at least %s = %llu element%s, but has %llu.", name, neededName,
             static_cast<unsigned long long>(needed), needed == 1 ? "" : "s",
             static_cast<unsigned long long>(numel));
    return mxGetPr(a);
}

// ---- Name-value options ---------------------------------------------------

// Longest option name we read, with room for its terminating zero; longer
// text cannot be one of ours.
constexpr std::size_t nameCapacity = 32;

bool equalsIgnoringCase(const char* text, const char* name) {
    for (;; ++text, ++name) {
        char t = *text;
        if (t >= 'A' && t <= 'Z') t = static_cast<char>(t - 'A' + 'a');
        char m = *name;
        if (m >= 'A' && m <= 'Z') m = static_cast<char>(m - 'A' + 'a');
        if (t != m) return false;
        if (t == '\0') return true;
    }
}

// The text of a char row vector into text[nameCapacity]; false when `a` is
// not one, is too long to be one of our names or values, or holds a zero
// character (which would end the C string early: 'GradientTolerance' followed
// by a zero and more is not the name).
bool readText(const mxArray* a, char* text) {
    return mxIsChar(a) && mxGetM(a) == 1 && mxGetNumberOfElements(a) < nameCapacity &&
           mxGetString(a, text, static_cast<mwSize>(nameCapacity)) == 0 &&
           std::strlen(text) == mxGetNumberOfElements(a);
}

bool isString(const mxArray* a) { return std::strcmp(mxGetClassName(a), "string") == 0; }

constexpr const char* optionNames =
    "'GradientTolerance', 'Tolerance', 'Scaling', 'Acceleration', 'Display' or 'Threads'";

// The option name at argument `position` (1-based) into name[nameCapacity]. A
// MATLAB string scalar is refused with the fix spelled out, since the char
// vector is what every host understands.
void readOptionName(const mxArray* a, int position, char* name) {
    if (isString(a))
        fail("Brelvane:unknownOption",
             "Argument %d must be an option name given as a char vector in single quotes, "
             "such as 'GradientTolerance', but is a string.",
             position);
    if (!mxIsChar(a))
        fail("Brelvane:unknownOption",
             "Argument %d must be an option name (a char vector such as 'GradientTolerance'), "
             "but is of class %s.",
             position, mxGetClassName(a));
    if (!readText(a, name))
        fail("Brelvane:unknownOption", "Argument %d is not an option name: expected %s.",
             position, optionNames);
}

// "a logical array of 1 element", "an int8 array of 2 elements", "a complex
// double array of 1 element": what an option value that is not a real
// numeric scalar is, into text[96].
void describeArray(const mxArray* a, char* text) {
    const char* kind = mxIsComplex(a) ? "complex " : "";
    const char* className = mxGetClassName(a);
    const char first = kind[0] != '\0' ? kind[0] : className[0];
    const std::size_t count = mxGetNumberOfElements(a);
    const bool vowel = first != '\0' && std::strchr("aeioAEIO", first) != nullptr;
    std::snprintf(text, 96, "%s %s%s array of %llu element%s", vowel ? "an" : "a", kind,
                  className, static_cast<unsigned long long>(count), count == 1 ? "" : "s");
}

// A real, finite, non-negative scalar of any numeric class.
double requireTolerance(const mxArray* a, const char* option) {
    if (!mxIsNumeric(a) || mxIsComplex(a) || mxGetNumberOfElements(a) != 1) {
        char what[96];
        describeArray(a, what);
        fail("Brelvane:badOption",
             "The value of option '%s' must be a real, finite, non-negative scalar, but is %s.",
             option, what);
    }
    const double v = mxGetScalar(a);
    if (!(std::isfinite(v) && v >= 0.0))
        fail("Brelvane:badOption",
             "The value of option '%s' must be a real, finite, non-negative scalar, but is %g.",
             option, v);
    return v;
}

// One of `count` words (two or more), ignoring case: its index.
int requireWord(const mxArray* a, const char* option, const char* const* words, int count) {
    // "'off', 'iter' or 'final'"
    char expected[96] = "";
    for (int i = 0; i < count; ++i) {
        const std::size_t used = std::strlen(expected);
        std::snprintf(expected + used, sizeof expected - used, "%s'%s'",
                      i == 0 ? "" : i + 1 < count ? ", " : " or ", words[i]);
    }
    char value[nameCapacity];
    if (readText(a, value)) {
        for (int i = 0; i < count; ++i)
            if (equalsIgnoringCase(value, words[i])) return i;
        fail("Brelvane:badOption", "The value of option '%s' must be %s, but is '%s'.", option,
             expected, value);
    }
    if (mxIsChar(a))
        fail("Brelvane:badOption",
             "The value of option '%s' must be %s (a char row vector), but is a char array "
             "that is none of them.",
             option, expected);
    fail("Brelvane:badOption",
         "The value of option '%s' must be %s (a char vector in single quotes), but is of "
         "class %s.",
         option, expected, mxGetClassName(a));
}

// What 'Display' shows: nothing, one line at the end, or also lines while
// the call runs.
enum DisplayLevel { displayOff = 0, displayIter = 1, displayFinal = 2 };

// Most threads a call may be given.
constexpr int mostThreads = 1024;

// A whole number of threads in [1, mostThreads], of any numeric class, or
// 'automatic' (0).
int requireThreads(const mxArray* a) {
    char text[nameCapacity];
    if (readText(a, text) && equalsIgnoringCase(text, "automatic")) return 0;
    if (!mxIsNumeric(a) || mxIsComplex(a) || mxGetNumberOfElements(a) != 1) {
        char what[96];
        describeArray(a, what);
        fail("Brelvane:badOption",
             "The value of option 'Threads' must be a whole number from 1 to %d or 'automatic', "
             "but is %s.",
             mostThreads, what);
    }
    const double v = mxGetScalar(a);
    if (!(v >= 1.0 && v <= mostThreads && v == std::floor(v)))
        fail("Brelvane:badOption",
             "The value of option 'Threads' must be a whole number from 1 to %d or 'automatic', "
             "but is %g.",
             mostThreads, v);
    return static_cast<int>(v);
}

// Name-value pairs after the nine inputs, into the solver's options and the
// display level. Names are matched ignoring case; a later pair overrides an
// earlier one. Threads are automatic unless given.
RatioDescentOptions readOptions(int nrhs, const mxArray* prhs[], DisplayLevel& display) {
    static const char* const names[] = {"GradientTolerance", "Tolerance", "Scaling", "Acceleration",
                                        "Display",           "Threads"};
    constexpr int known = 6;
    static const char* const scalings[] = {"none", "diagonal"};
    static const char* const accelerations[] = {"none", "ritz"};
    static const char* const displayLevels[] = {"off", "iter", "final"};
    RatioDescentOptions options;
    options.threads = 0;
    display = displayOff;
    for (int i = inputCount; i < nrhs; i += 2) {
        char name[nameCapacity];
        readOptionName(prhs[i], i + 1, name);
        int which = 0;
        while (which < known && !equalsIgnoringCase(name, names[which])) ++which;
        if (which == known)
            fail("Brelvane:unknownOption", "Unknown option '%s' (argument %d): expected %s.",
                 name, i + 1, optionNames);
        if (i + 1 >= nrhs)
            fail("Brelvane:badOption", "Option '%s' (argument %d) has no value after it.", name,
                 i + 1);
        const mxArray* value = prhs[i + 1];
        switch (which) {
            case 0: options.gradientTolerance = requireTolerance(value, names[0]); break;
            case 1: options.tolerance = requireTolerance(value, names[1]); break;
            case 2:
                options.scaling = requireWord(value, names[2], scalings, 2) == 1
                                      ? ratioDescentScalingDiagonal
                                      : ratioDescentScalingNone;
                break;
            case 3:
                options.acceleration = requireWord(value, names[3], accelerations, 2) == 1
                                           ? ratioDescentAccelerationRitz
                                           : ratioDescentAccelerationNone;
                break;
            case 4:
                display = static_cast<DisplayLevel>(requireWord(value, names[4], displayLevels, 3));
                break;
            default: options.threads = requireThreads(value);
        }
    }
    return options;
}

// ---- The host's interrupt flag (Ctrl+C) -------------------------------------

// Found at run time, so that the module loads on a host without it (where
// Ctrl+C is then not seen). Octave sets octave_interrupt_state > 0 on SIGINT
// (a sig_atomic_t, an int, defined in its liboctave); MATLAB answers
// utIsInterruptPending() from libut.
struct HostInterrupt {
    int* octaveState;
    bool (*isPending)();
    bool (*setPending)(bool);
};

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

// r holds R(x0) and R after each iteration, at most 2^31 - 1 values (a
// 32-bit dimension, as n has): with r, a count beyond 2^31 - 2 acts as 2^31 - 2.
constexpr std::int64_t maxTraceIterations = 2147483646;

// r's storage; `refused` is the length it could not grow to, 0 if none.
struct TraceStorage {
    double* data;
    std::int64_t refused;
};

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

// The solve's memory from the host, and r's storage when r is asked for.
void useHostMemory(RatioDescentOptions& options, TraceStorage* trace) {
    options.allocate = allocateWork;
    options.release = releaseWork;
    if (trace != nullptr) {
        options.growTrace = growTrace;
        options.traceContext = trace;
    }
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

// The display of one call; plain data, as everything in our frames.
struct Display {
    DisplayLevel level;
    bool withResidual;          // the call has checkpoints, where eta is formed
    const char* gradientLabel;  // weighted under diagonal scaling
    bool refresh;               // evaluate drawnow after a line (not in Octave)
    double start;               // the clock at the start of the call, in seconds
    double lastLine;            // seconds from the start to the last line
    long lines;                 // progress lines shown
    bool refreshFailed;         // drawnow raised an error: the call is abandoned
};

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
    d.lastLine = elapsed;
    ++d.lines;
    if (d.refresh && mexEvalStringWithTrap("drawnow;") != nullptr) {
        d.refreshFailed = true;
        return true;
    }
    return false;
}

// 'final', and the end of 'iter': why and where the call stopped, in one line.
void showFinal(const Display& d, const RatioDescentReport& r, std::int64_t iterations,
               const RatioDescentOptions& o) {
    if (d.level == displayOff) return;
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

// ---- Results ----------------------------------------------------------------

void requireSolved(RatioDescentStatus status, std::int64_t n) {
    if (status == ratioDescentOutOfMemory)
        fail("Brelvane:outOfMemory", "The work vectors for n = %lld could not be allocated.",
             static_cast<long long>(n));
    if (status == ratioDescentTooLarge)
        fail("Brelvane:outOfRange", "n = %lld is more than the BLAS in this build can index.",
             static_cast<long long>(n));
}

const char* stopName(RatioDescentStop stop) {
    switch (stop) {
        case ratioDescentStopGradient: return "gradient";
        case ratioDescentStopStationary: return "stationary";
        case ratioDescentStopTolerance: return "tolerance";
        case ratioDescentStopStalled: return "stalled";
        case ratioDescentStopNotFinite: return "notFinite";
        default: return "iterations";
    }
}

// info = struct('iterations', ..., 'stop', ..., 'gradient', ..., 'ratio', ...,
// 'scaling', ..., 'residual', ..., 'accelerations', ..., 'rises', ...,
// 'threads', ...).
mxArray* reportStruct(const RatioDescentReport& report, RatioDescentScaling scaling) {
    const char* fields[] = {"iterations", "stop",     "gradient",      "ratio",
                            "scaling",    "residual", "accelerations", "rises",
                            "threads"};
    mxArray* info = mxCreateStructMatrix(1, 1, 9, fields);
    mxSetFieldByNumber(info, 0, 0, mxCreateDoubleScalar(static_cast<double>(report.iterations)));
    mxSetFieldByNumber(info, 0, 1, mxCreateString(stopName(report.stop)));
    mxSetFieldByNumber(info, 0, 2, mxCreateDoubleScalar(report.gradient));
    mxSetFieldByNumber(info, 0, 3, mxCreateDoubleScalar(report.ratio));
    mxSetFieldByNumber(info, 0, 4,
                       mxCreateString(scaling == ratioDescentScalingDiagonal ? "diagonal" : "none"));
    mxSetFieldByNumber(info, 0, 5, mxCreateDoubleScalar(report.residual));
    mxSetFieldByNumber(info, 0, 6,
                       mxCreateDoubleScalar(static_cast<double>(report.accelerations)));
    mxSetFieldByNumber(info, 0, 7, mxCreateDoubleScalar(static_cast<double>(report.rises)));
    mxSetFieldByNumber(info, 0, 8, mxCreateDoubleScalar(report.threads));
    return info;
}

// The warnings below come once per call, after the results are stored: a
// warning the user can turn off (or into an error) by its identifier, so it
// must come when nothing of ours is held.

void warnOfRises(const RatioDescentReport& report) {
    if (report.rises == 0) return;
    char message[400];
    std::snprintf(
        message, sizeof message,
        "%lld of the %lld steps computed raised R by more than rounding: along the "
        "coordinate each of them moved, R has no minimum (it is unbounded below along that "
        "line, or D changes sign on it), so the closed-form step went to the line's maximum "
        "or across a pole of R, and x is not a minimiser. info.rises counts these steps.",
        static_cast<long long>(report.rises), static_cast<long long>(report.iterations));
    mexWarnMsgIdAndTxt("Brelvane:rise", "%s", message);
}

// "P(3,1) = 0 but P(1,3) = 0.5" into text[160], 1-based as MATLAB counts.
void describeAsymmetry(const char* name, const Asymmetry& a, char* text) {
    std::snprintf(text, 160, "%s(%lld,%lld) = %.17g but %s(%lld,%lld) = %.17g", name,
                  static_cast<long long>(a.row + 1), static_cast<long long>(a.column + 1), a.lower,
                  name, static_cast<long long>(a.column + 1), static_cast<long long>(a.row + 1),
                  a.upper);
}

void warnOfAsymmetry(const Asymmetry& P, const Asymmetry& Q) {
    if (!P.found && !Q.found) return;
    char pairs[2][160] = {"", ""};
    if (P.found) describeAsymmetry("P", P, pairs[0]);
    if (Q.found) describeAsymmetry("Q", Q, pairs[1]);
    const char* names = P.found && Q.found ? "P and Q are" : P.found ? "P is" : "Q is";
    char message[800];
    std::snprintf(message, sizeof message,
                  "%s not symmetric: %s%s%s (entries across the diagonal differ by more than 1e-10 "
                  "of the larger of them or of the square root of their diagonal entries' "
                  "product, or one triangle is zero and the other is not). The solver reads the "
                  "lower triangle at the start and whole columns after, so the result is that "
                  "of neither the matrix nor its transpose: pass (A + A')/2.",
                  names, pairs[0], P.found && Q.found ? "; " : "", pairs[1]);
    mexWarnMsgIdAndTxt("Brelvane:notSymmetric", "%s", message);
}

// R(x0) not finite, and why; or R becoming so later in a call that stopped
// for it.
void warnOfNonFiniteRatio(const RatioDescentReport& report, double startRatio, bool checkpoints) {
    const double N = report.startNumerator;
    const double D = report.startDenominator;
    char message[600];
    if (!std::isfinite(startRatio)) {
        const char* why =
            D == 0.0 ? "D(x0) = 0: start where the denominator is nonzero (with x0 = zeros(n, 1), "
                       "D(x0) is beta)"
            : std::isnan(N) || std::isnan(D)
                ? "N(x0) or D(x0) is NaN: x0, P, Q, c, d, alpha or beta holds NaN, or infinities "
                  "that cancel"
                : "N(x0) or D(x0) is infinite: x0 or the data hold Inf, or N or D overflows at x0";
        std::snprintf(message, sizeof message, "R(x0) = %g: %s. %s", startRatio, why,
                      checkpoints ? "The call stopped at once (info.stop = 'notFinite')."
                                  : "The descent cannot move from such a point.");
    } else if (report.stop == ratioDescentStopNotFinite) {
        std::snprintf(message, sizeof message,
                      "R became %g by iteration %lld (a step reached a point where D = 0, or N or "
                      "D overflowed), and the call stopped there (info.stop = 'notFinite').",
                      report.ratio, static_cast<long long>(report.iterations));
    } else {
        return;
    }
    mexWarnMsgIdAndTxt("Brelvane:ratioNotFinite", "%s", message);
}

void warnOfStall(const RatioDescentReport& report, double tolerance, RatioDescentScaling scaling) {
    if (report.stop != ratioDescentStopStalled) return;
    char message[600];
    std::snprintf(message, sizeof message,
                  "The relative residual stopped falling at %.3g, above Tolerance = %g, and R "
                  "has not fallen by more than its rounding over the last 5 sweeps: the "
                  "tolerance is below what double precision resolves for this problem, or the "
                  "descent has slowed to a crawl%s. x is the point reached and info.residual its "
                  "residual.",
                  report.residual, tolerance,
                  scaling == ratioDescentScalingDiagonal
                      ? ""
                      : " (on variables in very different units, 'Scaling', 'diagonal' lets it "
                        "go on)");
    mexWarnMsgIdAndTxt("Brelvane:stalled", "%s", message);
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    requireArgumentCounts(nlhs, nrhs);
    // n first, since it fixes how many elements the arrays must hold.
    const std::int64_t n =
        truncatedCount(requireRealScalar(prhs[7], "n"), "n", 0.0, twoTo31, "[0, 2^31)");
    const std::int64_t iterations = truncatedCount(requireRealScalar(prhs[8], "iterations"),
                                                   "iterations", -twoTo63, twoTo63,
                                                   "[-2^63, 2^63)");
    // n < 2^31, so n*n < 2^62 does not overflow.
    const std::uint64_t nn = static_cast<std::uint64_t>(n) * static_cast<std::uint64_t>(n);
    const double* x0 = requireRealDoubleArray(prhs[0], "x0", static_cast<std::uint64_t>(n), "n");
    const double* P = requireRealDoubleArray(prhs[1], "P", nn, "n*n", n);
    const double* c = requireRealDoubleArray(prhs[2], "c", static_cast<std::uint64_t>(n), "n");
    const double alpha = requireRealScalar(prhs[3], "alpha");
    const double* Q = requireRealDoubleArray(prhs[4], "Q", nn, "n*n", n);
    const double* d = requireRealDoubleArray(prhs[5], "d", static_cast<std::uint64_t>(n), "n");
    const double beta = requireRealScalar(prhs[6], "beta");
    DisplayLevel displayLevel;
    RatioDescentOptions options = readOptions(nrhs, prhs, displayLevel);
    // The plain call looks at about 3n pairs, enough to catch a triangle
    // stored alone; a call with info or options at every pair.
    const bool wholeCheck = nlhs >= 3 || nrhs > inputCount;
    const Asymmetry asymmetryP = findAsymmetry(P, n, wholeCheck);
    const Asymmetry asymmetryQ = findAsymmetry(Q, n, wholeCheck);

    HostInterrupt host = findHostInterrupt();
    // Below the size where sharing pays the count stays 1 whatever the
    // limit, so the host is not asked.
    if (options.threads == 0 && n >= ratioDescentThreadsFrom)
        options.threadLimit = hostThreadLimit(host);
    if (host.octaveState != nullptr || host.isPending != nullptr) {
        options.interruptPending = hostInterruptPending;
        options.interruptContext = &host;
    }
    TraceStorage trace{nullptr, 0};
    const bool wantTrace = nlhs >= 2;
    useHostMemory(options, wantTrace ? &trace : nullptr);
    const std::int64_t count =
        wantTrace && iterations > maxTraceIterations ? maxTraceIterations : iterations;

    Display display{displayLevel,
                    options.tolerance > 0.0 || options.acceleration == ratioDescentAccelerationRitz,
                    options.scaling == ratioDescentScalingDiagonal ? "max |w_j dR/dx_j|"
                                                                   : "max |dR/dx_j|",
                    host.octaveState == nullptr, secondsNow(), 0.0, 0, false};
    if (displayLevel == displayIter) {
        options.progress = showProgress;
        options.progressContext = &display;
    }

    // Stored before any computing: from here on the host owns x, as it owns
    // every block of the solve, so nothing leaks if it abandons the call.
    plhs[0] = mxCreateDoubleMatrix(static_cast<mwSize>(n), 1, mxREAL);
    RatioDescentReport report;
    const RatioDescentStatus status = ratioDescentWithOptions(
        mxGetPr(plhs[0]), nullptr, x0, P, c, alpha, Q, d, beta, n, count, options, &report);
    if (status != ratioDescentOk) mxFree(trace.data);
    if (status == ratioDescentInterrupted) {
        acknowledgeInterrupt(host);
        if (display.refreshFailed)
            fail("Brelvane:interrupted",
                 "Interrupted after %lld of %lld iterations: updating the progress display "
                 "(drawnow) raised an error, such as Ctrl+C.",
                 static_cast<long long>(report.iterations), static_cast<long long>(iterations));
        fail("Brelvane:interrupted", "Interrupted by the user after %lld of %lld iterations.",
             static_cast<long long>(report.iterations), static_cast<long long>(iterations));
    }
    if (trace.refused > 0)
        fail("Brelvane:outOfMemory",
             "r could not grow to %lld element%s after %lld iteration%s: not enough memory. Ask "
             "for x alone, or for fewer iterations.",
             static_cast<long long>(trace.refused), trace.refused == 1 ? "" : "s",
             static_cast<long long>(report.iterations), report.iterations == 1 ? "" : "s");
    requireSolved(status, n);
    const double startRatio = report.startNumerator / report.startDenominator;
    // r ends at the returned point, except that a stationary stop fills it out
    // to the full count.
    if (wantTrace)
        plhs[1] = traceColumn(trace.data, report.stop == ratioDescentStopStationary
                                              ? (count > 0 ? count : 0) + 1
                                              : report.iterations + 1);
    if (nlhs >= 3) plhs[2] = reportStruct(report, options.scaling);
    showFinal(display, report, count, options);
    warnOfAsymmetry(asymmetryP, asymmetryQ);
    warnOfNonFiniteRatio(report, startRatio,
                         options.tolerance > 0.0 || options.acceleration == ratioDescentAccelerationRitz);
    warnOfStall(report, options.tolerance, options.scaling);
    warnOfRises(report);
}
