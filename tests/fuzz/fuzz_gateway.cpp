// Fuzz target: mexFunction on the stand-in host, with arbitrary argument
// counts, classes, complexity, sparsity, shapes and values.
//
// Every call must either raise a Brelvane: error (or the host's own
// out-of-memory error) and leave no array behind, or return exactly what
// ratioDescentWithOptions computes from the same data, as an n-by-1 real
// double column, with r and info to match. A P or Q of more than one row is
// accepted only n-by-n or as a column, and Brelvane:sizeMismatch is raised
// only for one that is neither. Name-value options follow the nine arguments
// now and then: known names in any case, unknown ones, names that are not
// text, missing values; 'Display' prints nothing when off, else ends with the
// line that says why the call stopped. Reads past an array are caught by the
// sanitizers and by the host, which refuses raw access to data the gateway
// did not validate.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "brelvane/ratio_descent.h"
#include "fuzz_input.h"
#include "host_standin.h"
#include "test_support.h"

using namespace brelvane;

namespace {

[[noreturn]] void finding(const char* what) {
    std::fprintf(stderr, "fuzz_gateway: %s\n", what);
    std::abort();
}

const char* const otherClasses[] = {"single", "int8",   "uint8",   "int16", "int32", "uint32",
                                    "int64",  "uint64", "logical", "char",  "cell",  "struct"};

bool classIs(const char* a, const char* b) { return std::strcmp(a, b) == 0; }

// v as the host would hold it in an array of that class, converted back to
// double: integers round half away from zero and saturate, NaN becomes 0.
double asClass(double v, const char* className) {
    struct Range {
        const char* name;
        double lowest, highest;
    };
    static const Range integers[] = {{"int8", -128.0, 127.0},
                                     {"uint8", 0.0, 255.0},
                                     {"int16", -32768.0, 32767.0},
                                     {"int32", -2147483648.0, 2147483647.0},
                                     {"uint32", 0.0, 4294967295.0},
                                     {"int64", -9223372036854775808.0, 9223372036854775807.0},
                                     {"uint64", 0.0, 18446744073709551615.0},
                                     {"char", 0.0, 65535.0}};
    if (classIs(className, "single")) {
        if (std::isnan(v) || std::fabs(v) > std::numeric_limits<float>::max())
            return std::isnan(v) ? v : std::copysign(HUGE_VAL, v);
        return static_cast<double>(static_cast<float>(v));
    }
    if (classIs(className, "logical")) return v != 0.0 ? 1.0 : 0.0;
    for (const Range& r : integers)
        if (classIs(className, r.name))
            return std::isnan(v) ? 0.0 : std::fmin(std::fmax(std::round(v), r.lowest), r.highest);
    return v;
}

// Argument roles by position: x0, P, c, alpha, Q, d, beta, n, iterations.
enum Role { vector, matrix, scalar };
const Role roles[9] = {vector, matrix, vector, scalar, matrix, vector, scalar, scalar, scalar};

mxArray_tag* decodeArgument(FuzzInput& in, int position, std::size_t dims) {
    const std::uint8_t kind = in.byte();
    const char* className = kind >= 0xf0 ? otherClasses[kind % 12] : "double";
    const std::uint8_t flags = in.byte();
    const bool isComplex = flags == 1, isSparse = flags == 2;
    // Mostly the shape the argument's role asks for, for the n the input is
    // built around; otherwise any small shape, empty ones included.
    const std::uint8_t shape = in.byte();
    const Role role = position < 9 ? roles[position] : scalar;
    std::size_t m = 1, n = 1, pages = 1;
    if (shape >= 200) {
        m = shape % 10, n = in.below(10);
        if (shape >= 250) pages = 2, n *= 2;  // m-by-(n/2)-by-2
    } else if (role == vector) {
        (shape % 2 ? m : n) = dims;
    } else if (role == matrix) {
        m = n = dims;
    }
    std::vector<double> values(m * n);
    for (std::size_t i = 0; i < values.size(); ++i) {
        // n and iterations: mostly the built-around n and a small count.
        const std::uint8_t pick = i == 0 && (position == 7 || position == 8) ? in.byte() : 255;
        double v;
        if (pick < 128 && position == 7)
            v = static_cast<double>(dims) + (pick % 4 == 3 ? 0.75 : 0.0);
        else if (pick < 128)
            v = static_cast<double>(static_cast<int>(pick % 48) - 6) + (pick >= 96 ? 0.5 : 0.0);
        else
            v = in.value();
        values[i] = asClass(v, className);
    }
    mxArray_tag* a = standin::newArray(className, m, n, values.data(), isComplex, isSparse);
    a->pages = pages;
    return a;
}

// With n >= 1, an iteration count of 2^16 or more would keep one input running
// for minutes, and with r a stationary stop fills r out to the count, so such
// counts are folded below 2^16; except where the gateway refuses the call
// before any solving: 2^63 and beyond. With n = 0 and x alone, any count is
// instant.
void boundWork(std::vector<mxArray_tag*>& args, int nlhs) {
    if (args.size() < 9 || args[7]->m * args[7]->n == 0 || args[8]->m * args[8]->n == 0) return;
    const double n = std::trunc(args[7]->pr[0]);
    double& iterations = args[8]->pr[0];
    const double t = std::trunc(iterations);
    if (std::isfinite(n) && (n >= 1.0 || nlhs >= 2) && t >= 65536.0 && t < 9223372036854775808.0)
        iterations = std::fmod(t, 65536.0);
}

// Also in a block of exactly its elements: r is cut to its length.
bool sameColumn(const mxArray_tag* a, const std::vector<double>& want) {
    if (a == nullptr || !classIs(a->className, "double") || a->isComplex || a->isSparse ||
        a->m != want.size() || a->n != 1 || a->capacity != want.size())
        return false;
    for (std::size_t i = 0; i < want.size(); ++i)
        if (!sameDouble(a->pr[i], want[i])) return false;
    return true;
}

// text with each letter's case flipped where the input says so.
mxArray_tag* mixedCase(FuzzInput& in, const char* text) {
    std::vector<double> codes;
    for (const char* c = text; *c != '\0'; ++c)
        codes.push_back(static_cast<double>(in.byte() % 2 ? *c ^ 0x20 : *c));
    return standin::newArray("char", 1, codes.size(), codes.data());
}

// An option name: one of ours in a random mix of cases, or something the
// gateway must refuse.
mxArray_tag* decodeOptionName(FuzzInput& in) {
    const std::uint8_t kind = in.byte();
    if (kind < 90) return mixedCase(in, "GradientTolerance");
    if (kind < 140) return mixedCase(in, "Scaling");
    if (kind < 160) return mixedCase(in, "Tolerance");
    if (kind < 172) return mixedCase(in, "Acceleration");
    if (kind < 178) return mixedCase(in, "Threads");
    if (kind < 184) return standin::newText("Tolerence");
    if (kind < 192) return standin::newText("");
    if (kind < 208) {
        mxArray_tag* s = standin::newText("GradientTolerance");
        s->className = "string";
        return s;
    }
    if (kind < 224) return mixedCase(in, "Display");
    return decodeArgument(in, 9, 1);
}

// The text of a char row, lower-cased; "" for anything else.
std::string lowerText(const mxArray_tag* a) {
    std::string t;
    if (a == nullptr || !classIs(a->className, "char") || a->m != 1) return t;
    for (std::size_t i = 0; i < a->n; ++i) {
        const int ch = static_cast<int>(a->pr[i]);
        t += static_cast<char>(ch >= 'A' && ch <= 'Z' ? ch + 32 : ch);
    }
    return t;
}

// The value after the option name `name`: mostly what that option takes.
mxArray_tag* decodeOptionValue(FuzzInput& in, const mxArray_tag* name) {
    if (lowerText(name) == "scaling") {
        const std::uint8_t kind = in.byte();
        if (kind < 96) return mixedCase(in, "diagonal");
        if (kind < 192) return mixedCase(in, "none");
        if (kind < 224) return standin::newText("full");
    }
    if (lowerText(name) == "acceleration") {
        const std::uint8_t kind = in.byte();
        if (kind < 128) return mixedCase(in, "ritz");
        if (kind < 192) return mixedCase(in, "none");
        if (kind < 224) return standin::newText("fast");
    }
    if (lowerText(name) == "display") {
        const std::uint8_t kind = in.byte();
        if (kind < 64) return mixedCase(in, "off");
        if (kind < 128) return mixedCase(in, "iter");
        if (kind < 192) return mixedCase(in, "final");
        if (kind < 224) return standin::newText("on");
    }
    return decodeArgument(in, 10, 1);
}

// Whether P or Q may be given so for n (truncated): a row, a column, empty,
// or n-by-n in two dimensions.
bool matrixShapeFits(const mxArray_tag* a, double n) {
    return a->m <= 1 || a->n == 1 ||
           (a->pages == 1 && a->m == a->n && static_cast<double>(a->m) == std::trunc(n));
}

// A call the gateway accepted: it must have had nine arguments, then an
// options struct of one element (the decoder's have no fields) or not, and
// whole name-value pairs, a valid n, iteration count and tolerance, and must
// return the solver's own results.
void checkAccepted(const std::vector<mxArray_tag*>& args, int nrhs, int nlhs,
                   mxArray_tag* const* plhs) {
    const bool withStruct = nrhs > 9 && classIs(args[9]->className, "struct");
    if (withStruct && (args[9]->m * args[9]->n != 1 || args[9]->fieldCount != 0))
        finding("accepted an options struct of other than one element, or read fields it has not");
    const int first = withStruct ? 10 : 9;
    if (nrhs < 9 || (nrhs - first) % 2 != 0 || nlhs > 3) finding("accepted a wrong number of arguments");
    RatioDescentOptions options;
    std::string display = "off";
    for (int i = first; i < nrhs; i += 2) {
        const std::string name = lowerText(args[static_cast<std::size_t>(i)]);
        const mxArray_tag* v = args[static_cast<std::size_t>(i) + 1];
        if (name == "gradienttolerance" || name == "tolerance") {
            if (v->m * v->n != 1 || v->isComplex || classIs(v->className, "logical") ||
                classIs(v->className, "char") || !(v->pr[0] >= 0.0 && std::isfinite(v->pr[0])))
                finding("accepted a tolerance that is not a real finite non-negative scalar");
            (name == "tolerance" ? options.tolerance : options.gradientTolerance) = v->pr[0];
        } else if (name == "threads") {
            const bool automatic = lowerText(v) == "automatic";
            if (!automatic && (v->m * v->n != 1 || v->isComplex || classIs(v->className, "logical") ||
                               classIs(v->className, "char") || !(v->pr[0] >= 1.0 && v->pr[0] <= 1024.0) ||
                               v->pr[0] != std::floor(v->pr[0])))
                finding("accepted a thread count that is not a whole number from 1 to 1024");
            options.threads = automatic ? 0 : static_cast<int>(v->pr[0]);
        } else if (name == "acceleration") {
            const std::string value = lowerText(v);
            if (value != "none" && value != "ritz") finding("accepted an unknown acceleration");
            options.acceleration = value == "ritz" ? ratioDescentAccelerationRitz
                                                   : ratioDescentAccelerationNone;
        } else if (name == "display") {
            const std::string value = lowerText(v);
            if (value != "off" && value != "iter" && value != "final")
                finding("accepted an unknown display level");
            display = value;
        } else if (name == "scaling") {
            const std::string value = lowerText(v);
            if (value != "none" && value != "diagonal") finding("accepted an unknown scaling");
            options.scaling = value == "diagonal" ? ratioDescentScalingDiagonal
                                                  : ratioDescentScalingNone;
        } else {
            finding("accepted an unknown option");
        }
    }
    const double nValue = args[7]->pr[0], iterationsValue = args[8]->pr[0];
    if (!(std::trunc(nValue) >= 0.0 && std::trunc(nValue) < 2147483648.0))
        finding("accepted an n outside [0, 2^31)");
    if (!(std::trunc(iterationsValue) >= -9223372036854775808.0 &&
          std::trunc(iterationsValue) < 9223372036854775808.0))
        finding("accepted an iteration count outside the 64-bit range");
    if (!matrixShapeFits(args[1], nValue) || !matrixShapeFits(args[4], nValue))
        finding("accepted a P or Q of more than one row that is neither n-by-n nor a column");
    const std::int64_t n = static_cast<std::int64_t>(nValue);
    const std::int64_t iterations = static_cast<std::int64_t>(iterationsValue);
    std::vector<double> x(static_cast<std::size_t>(n));
    std::vector<double> trace(
        nlhs >= 2 ? static_cast<std::size_t>(iterations > 0 ? iterations : 0) + 1 : 0);
    // [] for c or d means zeros, for alpha or beta 0.
    const std::vector<double> zeros(static_cast<std::size_t>(n) + 1, 0.0);
    auto empty = [](const mxArray_tag* a) { return a->m * a->n == 0; };
    const double* c = empty(args[2]) ? zeros.data() : args[2]->pr;
    const double* d = empty(args[5]) ? zeros.data() : args[5]->pr;
    const double alpha = empty(args[3]) ? 0.0 : args[3]->pr[0];
    const double beta = empty(args[6]) ? 0.0 : args[6]->pr[0];
    // With info, r ends at a stationary stop as at every other.
    options.fillStationaryTrace = nlhs < 3;
    RatioDescentReport report;
    if (ratioDescentWithOptions(x.data(), nlhs >= 2 ? trace.data() : nullptr, args[0]->pr,
                                args[1]->pr, c, alpha, args[4]->pr, d, beta, n, iterations,
                                options, &report) != ratioDescentOk)
        finding("the gateway returned where the solver fails");
    if (!sameColumn(plhs[0], x)) finding("x differs from the solver's");
    if (nlhs >= 2) {
        if (report.stop != ratioDescentStopIterations &&
            (report.stop != ratioDescentStopStationary || nlhs >= 3))
            trace.resize(static_cast<std::size_t>(report.iterations) + 1);
        if (!sameColumn(plhs[1], trace)) finding("r differs from the solver's trace");
    }
    if (nlhs >= 3) {
        const mxArray_tag* info = plhs[2];
        if (info == nullptr || !classIs(info->className, "struct") || info->fieldCount != 10)
            finding("info is not a struct of ten fields");
        const std::vector<double> values[] = {
            {static_cast<double>(report.iterations)}, {}, {report.gradient}, {report.ratio}, {},
            {report.residual}, {static_cast<double>(report.accelerations)},
            {static_cast<double>(report.rises)},
            {static_cast<double>(report.threads)},
            {static_cast<double>(report.sharedIterations)}};
        for (int f : {0, 2, 3, 5, 6, 7, 8, 9})
            if (!sameColumn(info->fields[f], values[f])) finding("an info field differs from the report");
        if (lowerText(info->fields[4]) !=
            (options.scaling == ratioDescentScalingDiagonal ? "diagonal" : "none"))
            finding("info.scaling is not the scaling asked for");
        if (nlhs >= 2 && !sameDouble(report.ratio, trace.back())) finding("info.ratio is not r(end)");
    }
    // The warnings, each once and in this order, exactly when their conditions
    // hold: an asymmetric P or Q (every pair looked at with info or options),
    // R not finite at the start or the stop for it, a stall, a rise.
    const bool whole = nlhs >= 3 || nrhs > 9;
    std::vector<std::string> expected;
    if (findAsymmetry(args[1]->pr, n, whole).found || findAsymmetry(args[4]->pr, n, whole).found)
        expected.push_back("Brelvane:notSymmetric");
    if (!std::isfinite(report.startNumerator / report.startDenominator) ||
        report.stop == ratioDescentStopNotFinite)
        expected.push_back("Brelvane:ratioNotFinite");
    if (report.stop == ratioDescentStopStalled) expected.push_back("Brelvane:stalled");
    if (report.rises > 0) expected.push_back("Brelvane:rise");
    const std::vector<standin::Warning>& warnings = standin::warningsRaised();
    bool sameWarnings = warnings.size() == expected.size();
    for (std::size_t w = 0; sameWarnings && w < expected.size(); ++w)
        sameWarnings = warnings[w].id == expected[w];
    if (!sameWarnings) finding("the warnings are not those the call's data and stop call for");
    // 'off' prints nothing; otherwise the last line says why the call stopped.
    const std::string& text = standin::textPrinted();
    const std::size_t last = text.rfind('\n', text.size() < 2 ? 0 : text.size() - 2);
    if (display == "off" ? !text.empty()
                         : text.empty() || text.back() != '\n' ||
                               text.compare(last == std::string::npos ? 0 : last + 1, 10,
                                            "Brelvane: ") != 0)
        finding("the display printed other than its level asks");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    const std::size_t dims = in.below(10);
    const int nlhs = static_cast<int>(in.below(5));
    const std::uint8_t count = in.byte();
    // Mostly the nine; then the nine and one to four option words; then any count.
    const int nrhs = count < 160 ? 9 : count < 224 ? 9 + 1 + count % 4 : count % 12;
    std::vector<mxArray_tag*> args;
    for (int i = 0; i < nrhs; ++i)
        args.push_back(i < 9        ? decodeArgument(in, i, dims)
                       : i % 2 == 1 ? decodeOptionName(in)
                                    : decodeOptionValue(in, args.back()));
    boundWork(args, nlhs);

    mxArray_tag* plhs[4] = {nullptr, nullptr, nullptr, nullptr};
    const standin::CallOutcome outcome = standin::callMexFunction(nlhs, plhs, nrhs, args.data());
    if (outcome.errorId.empty()) {
        checkAccepted(args, nrhs, nlhs, plhs);
    } else {
        if (outcome.errorId.rfind("Brelvane:", 0) != 0 && outcome.errorId != "standin:outOfMemory")
            finding("an error without a Brelvane: identifier");
        if (outcome.message.empty()) finding("an error without a message");
        if (outcome.errorId == "Brelvane:sizeMismatch" &&
            (args.size() < 9 || args[7]->m * args[7]->n != 1 ||
             (matrixShapeFits(args[1], args[7]->pr[0]) && matrixShapeFits(args[4], args[7]->pr[0]))))
            finding("sizeMismatch for a P and Q that are n-by-n or vectors");
    }
    for (mxArray_tag* out : plhs) standin::destroyOutput(out);
    for (mxArray_tag* a : args) standin::destroyArray(a);
    if (standin::liveCreatedArrays() != 0) finding("an array outlived its call");
    return 0;
}
