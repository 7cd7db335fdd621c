// The call's arguments and options: checked in order, each failure raised as an error
// that names the argument, what was expected and what was given.
#include "arguments.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "host.h"

namespace brelvane {
namespace gateway {

namespace {

constexpr double twoTo31 = 2147483648.0;
constexpr double twoTo63 = 9223372036854775808.0;

}  // namespace

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

namespace {

// An empty, real, full double array: [] or zeros(0, 1), which stands for an
// absent term ('' is char, and is refused as any other class is).
bool isEmptyDouble(const mxArray* a) {
    return mxIsDouble(a) && !mxIsComplex(a) && !mxIsSparse(a) && mxGetNumberOfElements(a) == 0;
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

// "7.6 MB", "1.2 GB": the bytes of `count` doubles, into text[32].
void describeBytes(std::uint64_t count, char* text) {
    const double bytes = 8.0 * static_cast<double>(count);
    if (bytes < 1e6)
        std::snprintf(text, 32, "%.0f kB", bytes / 1e3);
    else if (bytes < 1e9)
        std::snprintf(text, 32, "%.1f MB", bytes / 1e6);
    else
        std::snprintf(text, 32, "%.1f GB", bytes / 1e9);
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
    if (mxIsSparse(a)) {
        char size[32];
        describeBytes(needed, size);
        fail("Brelvane:sparse",
             "Argument %s must be a full double array, but is sparse: pass full(%s), whose %s = "
             "%llu doubles take %s.",
             name, name, neededName, static_cast<unsigned long long>(needed), size);
    }
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
bool readCharRow(const mxArray* a, char* text) {
    return mxIsChar(a) && mxGetM(a) == 1 && mxGetNumberOfElements(a) < nameCapacity &&
           mxGetString(a, text, static_cast<mwSize>(nameCapacity)) == 0 &&
           std::strlen(text) == mxGetNumberOfElements(a);
}

// A MATLAB string (Name=Value passes names so, and "ritz" is one). Octave has
// no such class.
bool isString(const mxArray* a) { return std::strcmp(mxGetClassName(a), "string") == 0; }

// The text of a char row vector, or of a string scalar, which the C API
// cannot read: the host's char() turns it into a char row first (the array it
// returns is destroyed at once; an error it raises means no text). A string
// array of other than one element is refused: `what` ("Argument 10", "The
// value of option 'Scaling'") and `expected` name it in the message.
bool readText(const mxArray* a, char* text, const char* what = nullptr,
              const char* expected = nullptr) {
    if (!isString(a)) return readCharRow(a, text);
    const std::size_t count = mxGetNumberOfElements(a);
    if (count != 1 && what != nullptr)
        fail(expected == nullptr ? "Brelvane:unknownOption" : "Brelvane:badOption",
             "%s must be %s, a single string or char vector, but is a string array of %llu "
             "elements.",
             what, expected == nullptr ? "an option name" : expected,
             static_cast<unsigned long long>(count));
    if (count != 1) return false;
    mxArray* in[1] = {const_cast<mxArray*>(a)};
    mxArray* out[1] = {nullptr};
    mxArray* failure = mexCallMATLABWithTrap(1, out, 1, in, "char");
    if (failure != nullptr) {
        mxDestroyArray(failure);
        return false;
    }
    const bool read = out[0] != nullptr && readCharRow(out[0], text);
    if (out[0] != nullptr) mxDestroyArray(out[0]);
    return read;
}

constexpr const char* optionNames =
    "'GradientTolerance', 'Tolerance', 'Scaling', 'Acceleration', 'Display' or 'Threads'";

// The option name at argument `position` (1-based) into name[nameCapacity]:
// a char row vector or a string scalar (MATLAB's Name=Value syntax).
void readOptionName(const mxArray* a, int position, char* name) {
    char what[32];
    std::snprintf(what, sizeof what, "Argument %d", position);
    if (readText(a, name, what)) return;
    if (!mxIsChar(a) && !isString(a))
        fail("Brelvane:unknownOption",
             "Argument %d must be an option name (a char vector such as 'GradientTolerance', "
             "or a string), but is of class %s.",
             position, mxGetClassName(a));
    fail("Brelvane:unknownOption", "Argument %d is not an option name: expected %s.", position,
         optionNames);
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
    char what[64];
    std::snprintf(what, sizeof what, "The value of option '%s'", option);
    if (readText(a, value, what, expected)) {
        for (int i = 0; i < count; ++i)
            if (equalsIgnoringCase(value, words[i])) return i;
        fail("Brelvane:badOption", "The value of option '%s' must be %s, but is '%s'.", option,
             expected, value);
    }
    if (mxIsChar(a) || isString(a))
        fail("Brelvane:badOption",
             "The value of option '%s' must be %s (a char row vector or a string), but is text "
             "that is none of them.",
             option, expected);
    fail("Brelvane:badOption",
         "The value of option '%s' must be %s (a char vector or a string), but is of class %s.",
         option, expected, mxGetClassName(a));
}

// A whole number of threads in [1, mostThreads], of any numeric class, or
// 'automatic' (0).
int requireThreads(const mxArray* a) {
    char text[nameCapacity];
    if (readText(a, text, "The value of option 'Threads'", "a whole number from 1 to 1024 or 'automatic'") &&
        equalsIgnoringCase(text, "automatic"))
        return 0;
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

}  // namespace

namespace {

constexpr const char* optionTable[] = {"GradientTolerance", "Tolerance", "Scaling", "Acceleration",
                                       "Display",           "Threads"};
constexpr int optionCount = 6;

// The index of a known option name (ignoring case), or optionCount.
int optionIndex(const char* name) {
    int which = 0;
    while (which < optionCount && !equalsIgnoringCase(name, optionTable[which])) ++which;
    return which;
}

// Option `which` set from `value`.
void applyOption(int which, const mxArray* value, RatioDescentOptions& options,
                 DisplayLevel& display) {
    static const char* const scalings[] = {"none", "diagonal"};
    static const char* const accelerations[] = {"none", "ritz"};
    // fminunc's words too: 'none' is 'off', 'notify' the final line when a
    // tolerance given was not met.
    static const char* const displayWords[] = {"off", "iter", "final", "none", "notify"};
    static const DisplayLevel displayLevels[] = {displayOff, displayIter, displayFinal, displayOff,
                                                 displayNotify};
    const char* name = optionTable[which];
    switch (which) {
        case 0: options.gradientTolerance = requireTolerance(value, name); break;
        case 1: options.tolerance = requireTolerance(value, name); break;
        case 2:
            options.scaling = requireWord(value, name, scalings, 2) == 1 ? ratioDescentScalingDiagonal
                                                                         : ratioDescentScalingNone;
            break;
        case 3:
            options.acceleration = requireWord(value, name, accelerations, 2) == 1
                                       ? ratioDescentAccelerationRitz
                                       : ratioDescentAccelerationNone;
            break;
        case 4: display = displayLevels[requireWord(value, name, displayWords, 5)]; break;
        default: options.threads = requireThreads(value);
    }
}

// What an optimset name means here, for a field of an options struct that is
// not one of ours: optimset's names are not taken, since what they measure
// differs.
const char* optimsetAdvice(const char* name) {
    if (equalsIgnoringCase(name, "TolFun") || equalsIgnoringCase(name, "FunctionTolerance") ||
        equalsIgnoringCase(name, "OptimalityTolerance"))
        return " For a tolerance use 'Tolerance' (the relative residual) or 'GradientTolerance' "
               "(the largest |dR/dx_j|).";
    if (equalsIgnoringCase(name, "TolX") || equalsIgnoringCase(name, "StepTolerance"))
        return " There is no step tolerance: use 'Tolerance' or 'GradientTolerance'.";
    if (equalsIgnoringCase(name, "MaxIter") || equalsIgnoringCase(name, "MaxFunEvals") ||
        equalsIgnoringCase(name, "MaxIterations") || equalsIgnoringCase(name, "MaxFunctionEvaluations"))
        return " The most iterations are the ninth argument, iterations.";
    return "";
}

// The fields of the options struct at argument 10, each an option name
// (ignoring case) with its value; empty fields are skipped, as optimset
// leaves the fields it was not given.
void applyOptionsStruct(const mxArray* a, RatioDescentOptions& options, DisplayLevel& display) {
    if (mxGetNumberOfElements(a) != 1)
        fail("Brelvane:badOption",
             "An options struct (argument 10) must be a single struct, but is a struct array of "
             "%llu elements.",
             static_cast<unsigned long long>(mxGetNumberOfElements(a)));
    const int fields = mxGetNumberOfFields(a);
    for (int f = 0; f < fields; ++f) {
        const mxArray* value = mxGetFieldByNumber(a, 0, f);
        if (value == nullptr || mxIsEmpty(value)) continue;
        const char* name = mxGetFieldNameByNumber(a, f);
        const int which = optionIndex(name);
        if (which == optionCount)
            fail("Brelvane:unknownOption",
                 "Unknown option '%s' (a field of the options struct, argument 10): expected "
                 "%s.%s",
                 name, optionNames, optimsetAdvice(name));
        applyOption(which, value, options, display);
    }
}

}  // namespace

RatioDescentOptions readOptions(int nrhs, const mxArray* prhs[], DisplayLevel& display) {
    RatioDescentOptions options;
    options.threads = 0;
    display = displayOff;
    int first = inputCount;
    if (nrhs > inputCount && mxIsStruct(prhs[inputCount])) {
        applyOptionsStruct(prhs[inputCount], options, display);
        ++first;
    }
    for (int i = first; i < nrhs; i += 2) {
        char name[nameCapacity];
        readOptionName(prhs[i], i + 1, name);
        const int which = optionIndex(name);
        if (which == optionCount)
            fail("Brelvane:unknownOption", "Unknown option '%s' (argument %d): expected %s.",
                 name, i + 1, optionNames);
        if (i + 1 >= nrhs)
            fail("Brelvane:badOption", "Option '%s' (argument %d) has no value after it.",
                 optionTable[which], i + 1);
        applyOption(which, prhs[i + 1], options, display);
    }
    return options;
}

namespace {

// c or d: [] (an empty double array) stands for zeros(n, 1), which both
// share, made at the first that needs them (in.zeros).
const double* requireLinearTerm(const mxArray* a, const char* name, Inputs& in) {
    if (!isEmptyDouble(a))
        return requireRealDoubleArray(a, name, static_cast<std::uint64_t>(in.n), "n");
    if (in.zeros == nullptr) {
        const std::size_t bytes = static_cast<std::size_t>(in.n) * sizeof(double);
        in.zeros = static_cast<double*>(mxMalloc(bytes > 0 ? bytes : sizeof(double)));
        std::memset(in.zeros, 0, bytes);
    }
    return in.zeros;
}

// alpha or beta: [] stands for 0.
double requireConstant(const mxArray* a, const char* name) {
    return isEmptyDouble(a) ? 0.0 : requireRealScalar(a, name);
}

}  // namespace

Inputs readInputs(const mxArray* prhs[]) {
    Inputs in;
    in.zeros = nullptr;
    in.n = truncatedCount(requireRealScalar(prhs[7], "n"), "n", 0.0, twoTo31, "[0, 2^31)");
    in.iterations = truncatedCount(requireRealScalar(prhs[8], "iterations"), "iterations",
                                   -twoTo63, twoTo63, "[-2^63, 2^63)");
    // n < 2^31, so n*n < 2^62 does not overflow.
    const std::uint64_t n = static_cast<std::uint64_t>(in.n);
    const std::uint64_t nn = n * n;
    in.x0 = requireRealDoubleArray(prhs[0], "x0", n, "n");
    in.P = requireRealDoubleArray(prhs[1], "P", nn, "n*n", in.n);
    in.c = requireLinearTerm(prhs[2], "c", in);
    in.alpha = requireConstant(prhs[3], "alpha");
    in.Q = requireRealDoubleArray(prhs[4], "Q", nn, "n*n", in.n);
    in.d = requireLinearTerm(prhs[5], "d", in);
    in.beta = requireConstant(prhs[6], "beta");
    return in;
}

}  // namespace gateway
}  // namespace brelvane

// ---- BrelvaneEigs: Brelvane('eigenpairs', P, Q, k, sigma, name, value, ...) ----

namespace brelvane {
namespace gateway {

namespace {

// P or Q of the eigenpairs call: a real, full, n-by-n double matrix.
const double* requireSquareMatrix(const mxArray* a, const char* name, std::int64_t& n) {
    const mwSize count = mxGetNumberOfDimensions(a);
    const mwSize* dims = mxGetDimensions(a);
    const std::uint64_t rows = static_cast<std::uint64_t>(dims[0]);
    const std::uint64_t columns = count == 2 ? static_cast<std::uint64_t>(dims[1]) : 0;
    const bool full = mxIsDouble(a) && !mxIsComplex(a) && !mxIsSparse(a);
    if (full && (count != 2 || rows != columns))
        fail("Brelvane:sizeMismatch",
             "Argument %s must be a square matrix, but is %llu-by-%llu%s.", name,
             static_cast<unsigned long long>(rows),
             static_cast<unsigned long long>(count >= 2 ? dims[1] : 1), count > 2 ? "-by-..." : "");
    if (full && n >= 0 && rows != static_cast<std::uint64_t>(n))
        fail("Brelvane:sizeMismatch",
             "Argument %s must be of the size of P (%lld-by-%lld), but is %llu-by-%llu.", name,
             static_cast<long long>(n), static_cast<long long>(n),
             static_cast<unsigned long long>(rows), static_cast<unsigned long long>(columns));
    const std::uint64_t side = count == 2 ? rows : 0;
    const double* data = requireRealDoubleArray(a, name, side * side, "n*n");
    n = static_cast<std::int64_t>(side);
    return data;
}

constexpr const char* eigenpairsOptionNames =
    "'Tolerance', 'MaxIterations', 'StartVectors', 'Threads', 'Display' or 'Scaling'";
constexpr const char* eigenpairsOptionTable[] = {"Tolerance", "MaxIterations", "StartVectors",
                                                 "Threads",   "Display",       "Scaling"};
constexpr int eigenpairsOptionCount = 6;

// eigs' names for what these options do.
const char* eigsAdvice(const char* name) {
    if (equalsIgnoringCase(name, "Tol")) return " For eigs' 'Tol' use 'Tolerance'.";
    if (equalsIgnoringCase(name, "MaxIt") || equalsIgnoringCase(name, "MaxIter"))
        return " For eigs' 'MaxIterations' ('maxit') use 'MaxIterations' (block sweeps).";
    if (equalsIgnoringCase(name, "StartVector") || equalsIgnoringCase(name, "v0"))
        return " For a start use 'StartVectors' (n-by-j, j <= k).";
    if (equalsIgnoringCase(name, "p") || equalsIgnoringCase(name, "SubspaceDimension"))
        return " The block holds k + max(2, ceil(k/8)) vectors (at most n); it is not set.";
    return "";
}

struct EigenpairsCall {
    EigenpairsOptions& options;
    DisplayLevel& display;
    std::int64_t n;
    std::int64_t k;
    const double** start;
    std::int64_t* startColumns;
};

void applyEigenpairsOption(int which, const mxArray* value, EigenpairsCall& call) {
    static const char* const scalings[] = {"none", "diagonal"};
    static const char* const displayWords[] = {"off", "iter", "final", "none", "notify"};
    static const DisplayLevel displayLevels[] = {displayOff, displayIter, displayFinal, displayOff,
                                                 displayNotify};
    const char* name = eigenpairsOptionTable[which];
    switch (which) {
        case 0: call.options.tolerance = requireTolerance(value, name); break;
        case 1: {
            const double v = requireTolerance(value, name);
            if (v != std::floor(v) || v >= twoTo63)
                fail("Brelvane:badOption",
                     "The value of option 'MaxIterations' must be a whole number of sweeps, but "
                     "is %g.",
                     v);
            call.options.maxSweeps = static_cast<std::int64_t>(v);
            break;
        }
        case 2: {
            if (isEmptyDouble(value)) {
                *call.start = nullptr, *call.startColumns = 0;
                break;
            }
            const mwSize count = mxGetNumberOfDimensions(value);
            const mwSize* dims = mxGetDimensions(value);
            const std::uint64_t columns = count == 2 ? static_cast<std::uint64_t>(dims[1]) : 0;
            if (mxIsDouble(value) && !mxIsComplex(value) && !mxIsSparse(value) &&
                (count != 2 || static_cast<std::uint64_t>(dims[0]) != static_cast<std::uint64_t>(call.n) ||
                 columns > static_cast<std::uint64_t>(call.k)))
                fail("Brelvane:badOption",
                     "The value of option 'StartVectors' must be an n-by-j matrix with n = %lld "
                     "and j <= k = %lld, but is %llu-by-%llu%s.",
                     static_cast<long long>(call.n), static_cast<long long>(call.k),
                     static_cast<unsigned long long>(dims[0]),
                     static_cast<unsigned long long>(count >= 2 ? dims[1] : 1),
                     count > 2 ? "-by-..." : "");
            *call.start = requireRealDoubleArray(value, "StartVectors (option)",
                                                 static_cast<std::uint64_t>(call.n) * columns, "n*j");
            for (std::uint64_t e = 0; e < static_cast<std::uint64_t>(call.n) * columns; ++e)
                if (!std::isfinite((*call.start)[e]))
                    fail("Brelvane:badOption",
                         "The value of option 'StartVectors' must be finite, but holds %g.",
                         (*call.start)[e]);
            *call.startColumns = static_cast<std::int64_t>(columns);
            break;
        }
        case 3: call.options.threads = requireThreads(value); break;
        case 4: call.display = displayLevels[requireWord(value, name, displayWords, 5)]; break;
        default:
            call.options.scaling = requireWord(value, name, scalings, 2) == 1
                                       ? ratioDescentScalingDiagonal
                                       : ratioDescentScalingNone;
    }
}

int eigenpairsOptionIndex(const char* name) {
    int which = 0;
    while (which < eigenpairsOptionCount && !equalsIgnoringCase(name, eigenpairsOptionTable[which]))
        ++which;
    return which;
}

}  // namespace

bool isEigenpairsCall(int nrhs, const mxArray* prhs[]) {
    char word[nameCapacity];
    return nrhs >= 1 && !mxIsDouble(prhs[0]) && readText(prhs[0], word) &&
           equalsIgnoringCase(word, "eigenpairs");
}

EigenpairsInputs readEigenpairsCall(int nlhs, int nrhs, const mxArray* prhs[],
                                    EigenpairsOptions& options, DisplayLevel& display) {
    if (nrhs < 3)
        fail("Brelvane:nargin",
             "Expected P, Q and k, optionally followed by sigma ('smallestreal' or "
             "'largestreal') and name-value options, but was given %d input%s.",
             nrhs, nrhs == 1 ? "" : "s");
    if (nlhs > 3)
        fail("Brelvane:nargout",
             "At most 3 outputs (V, lambda, info) are returned, but %d were requested.", nlhs);
    EigenpairsInputs in;
    in.n = -1;
    in.P = requireSquareMatrix(prhs[0], "P", in.n);
    in.Q = requireSquareMatrix(prhs[1], "Q", in.n);
    const double k = requireRealScalar(prhs[2], "k");
    if (!(k >= 1.0 && k <= static_cast<double>(in.n) && k == std::floor(k)))
        fail("Brelvane:outOfRange",
             "Argument k must be a whole number from 1 to n = %lld (the size of P), but is %.17g.",
             static_cast<long long>(in.n), k);
    in.k = static_cast<std::int64_t>(k);
    in.start = nullptr;
    in.startColumns = 0;
    options = EigenpairsOptions();
    options.threads = 0;
    display = displayOff;
    int next = 3;
    // sigma: eigs' words for the smallest and the largest, or their short forms.
    static const char* const sigmas[] = {"smallestreal", "largestreal", "sa", "la"};
    char word[nameCapacity];
    // Argument 4 is sigma when it is one of sigma's words, or when it is
    // followed by an even number of arguments (pairs, or a struct and pairs)
    // and so cannot begin a pair itself.
    const bool oddRest = (nrhs - next) % 2 == 1;
    if (nrhs > next && !mxIsStruct(prhs[next])) {
        const bool text = readText(prhs[next], word, "Argument 4",
                                   "sigma ('smallestreal' or 'largestreal') or an option name");
        int which = 0;
        while (text && which < 4 && !equalsIgnoringCase(word, sigmas[which])) ++which;
        if (text && which < 4) {
            options.largest = which % 2 == 1;
            ++next;
        } else if (oddRest && !(text && eigenpairsOptionIndex(word) < eigenpairsOptionCount)) {
            if (!text && !mxIsChar(prhs[next]) && !isString(prhs[next]))
                fail("Brelvane:badSigma",
                     "Argument sigma (4) must be 'smallestreal' or 'largestreal' ('sa' or 'la'), "
                     "but is of class %s: a numeric shift is not offered.",
                     mxGetClassName(prhs[next]));
            fail("Brelvane:badSigma",
                 "Argument sigma (4) must be 'smallestreal', 'largestreal', 'sa' or 'la', but is "
                 "%s%s%s.",
                 text ? "'" : "", text ? word : "other text", text ? "'" : "");
        }
    }
    EigenpairsCall call{options, display, in.n, in.k, &in.start, &in.startColumns};
    if (nrhs > next && mxIsStruct(prhs[next])) {
        const mxArray* a = prhs[next];
        if (mxGetNumberOfElements(a) != 1)
            fail("Brelvane:badOption",
                 "An options struct (argument %d) must be a single struct, but is a struct array "
                 "of %llu elements.",
                 next + 1, static_cast<unsigned long long>(mxGetNumberOfElements(a)));
        for (int f = 0; f < mxGetNumberOfFields(a); ++f) {
            const mxArray* value = mxGetFieldByNumber(a, 0, f);
            if (value == nullptr || mxIsEmpty(value)) continue;
            const char* name = mxGetFieldNameByNumber(a, f);
            const int which = eigenpairsOptionIndex(name);
            if (which == eigenpairsOptionCount)
                fail("Brelvane:unknownOption",
                     "Unknown option '%s' (a field of the options struct, argument %d): expected "
                     "%s.%s",
                     name, next + 1, eigenpairsOptionNames, eigsAdvice(name));
            applyEigenpairsOption(which, value, call);
        }
        ++next;
    }
    for (int i = next; i < nrhs; i += 2) {
        char what[32];
        std::snprintf(what, sizeof what, "Argument %d", i + 1);
        if (!readText(prhs[i], word, what))
            fail("Brelvane:unknownOption",
                 "Argument %d must be an option name (%s), but is %s.", i + 1,
                 eigenpairsOptionNames,
                 mxIsChar(prhs[i]) || isString(prhs[i]) ? "other text" : mxGetClassName(prhs[i]));
        const int which = eigenpairsOptionIndex(word);
        if (which == eigenpairsOptionCount)
            fail("Brelvane:unknownOption", "Unknown option '%s' (argument %d): expected %s.%s",
                 word, i + 1, eigenpairsOptionNames, eigsAdvice(word));
        if (i + 1 >= nrhs)
            fail("Brelvane:badOption", "Option '%s' (argument %d) has no value after it.",
                 eigenpairsOptionTable[which], i + 1);
        applyEigenpairsOption(which, prhs[i + 1], call);
    }
    return in;
}

}  // namespace gateway
}  // namespace brelvane
