// The real gateway on the stand-in host: results as the solver's, each bad
// argument's identifier, and no array left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "brelvane/ratio_descent.h"
#include "host_standin.h"
#include "random_problems.h"
#include "test_support.h"
#include "thread_team.h"

#if defined(BRELVANE_WRAP_MALLOC)

using namespace brelvane;
// The gateway's and the solver's allocations can be made to fail, all or
// those of at least failFrom bytes (linked with -Wl,--wrap=malloc, which
// reroutes only the calls from the objects linked in, not the host's
// operator new), and the largest is recorded.
namespace {
bool failMalloc = false;
std::size_t failFrom = 0;
std::size_t largestMalloc = 0;
}
extern "C" void* __real_malloc(std::size_t size);
extern "C" void* __wrap_malloc(std::size_t size) {
    largestMalloc = std::max(largestMalloc, size);
    return failMalloc || (failFrom > 0 && size >= failFrom) ? nullptr : __real_malloc(size);
}
#endif

namespace {

mxArray_tag* array(const std::vector<double>& v, std::size_t m, std::size_t n,
                   const char* className = "double") {
    return standin::newArray(className, m, n, v.data());
}

mxArray_tag* scalar(double v, const char* className = "double") {
    return standin::newArray(className, 1, 1, &v);
}

// The nine arguments, owned. x0 is a row: only the element count matters.
struct Arguments {
    std::vector<mxArray_tag*> a;
    Arguments(const Problem& p, double n, double iterations, std::size_t padding = 0) {
        const std::size_t m = static_cast<std::size_t>(p.n);
        // Padding is NaN: a read of any element past the first n (or n*n) would show.
        auto padded = [&](std::vector<double> v) {
            v.resize(v.size() + padding, kNaN);
            return v;
        };
        a = {array(padded(p.x0), 1, m + padding),
             array(padded(p.P), m * m + padding, 1),
             array(padded(p.c), m + padding, 1),
             scalar(p.alpha),
             array(padded(p.Q), 1, m * m + padding),
             array(padded(p.d), m + padding, 1),
             scalar(p.beta),
             scalar(n),
             scalar(iterations)};
    }
    ~Arguments() {
        for (mxArray_tag* p : a) standin::destroyArray(p);
    }
    void replace(std::size_t i, mxArray_tag* v) {
        standin::destroyArray(a[i]);
        a[i] = v;
    }
};

struct Outputs {
    mxArray_tag* plhs[4] = {nullptr, nullptr, nullptr, nullptr};
    ~Outputs() {
        for (mxArray_tag* p : plhs) standin::destroyOutput(p);
    }
};

void expectColumn(const mxArray_tag* a, std::size_t rows, const std::vector<double>& want,
                  const std::string& what) {
    ASSERT_NE(a, nullptr) << what;
    ASSERT_STREQ(a->className, "double") << what;
    ASSERT_FALSE(a->isComplex || a->isSparse) << what;
    ASSERT_EQ(a->m, rows) << what;
    ASSERT_EQ(a->n, 1u) << what;
    for (std::size_t i = 0; i < rows; ++i)
        ASSERT_TRUE(sameDouble(a->pr[i], want[i]))
            << what << "[" << i << "] = " << describe(a->pr[i]) << ", want " << describe(want[i]);
}

}  // namespace

TEST(GatewayOnStandinHost, SolvesAsTheSolverDoesBitForBit) {
    // Every other problem is given with fractional n and iterations and with
    // longer arrays, whose extra elements must not be read.
    std::mt19937_64 rng(testSeed("SolvesAsTheSolverDoesBitForBit", 5));
    for (int i = 0; i < 400; ++i) {
        const Problem p = dyadicProblem(rng, 17);
        const bool loose = i % 2 == 1;
        Arguments args(p, static_cast<double>(p.n) + (loose ? 0.75 : 0.0),
                       static_cast<double>(p.iterations) + (loose ? 0.5 : 0.0), loose ? 3 : 0);
        const int nlhs = i % 3;
        Outputs out;
        const standin::CallOutcome outcome =
            standin::callMexFunction(nlhs, out.plhs, 9, args.a.data());
        ASSERT_EQ(outcome.errorId, "") << "problem " << i << ": " << outcome.message;

        const std::size_t n = static_cast<std::size_t>(p.n);
        // Truncation keeps n and a positive count; a negative count runs none either way.
        std::vector<double> x(n),
            trace(static_cast<std::size_t>(std::max<std::int64_t>(p.iterations, 0)) + 1);
        ASSERT_EQ(ratioDescentTrace(x.data(), trace.data(), p.x0.data(), p.P.data(), p.c.data(),
                                    p.alpha, p.Q.data(), p.d.data(), p.beta, p.n, p.iterations),
                  ratioDescentOk);
        expectColumn(out.plhs[0], n, x, "problem " + std::to_string(i) + ": x");
        if (nlhs == 2)
            expectColumn(out.plhs[1], trace.size(), trace, "problem " + std::to_string(i) + ": r");
    }
    EXPECT_EQ(standin::liveCreatedArrays(), 0u);
}

TEST(GatewayOnStandinHost, EmptyProblemGivesAnEmptyColumnAndTheConstantRatio) {
    const Problem p{0, {}, {}, {}, 3.0, {}, {}, 4.0, 0};
    Arguments args(p, 0.0, 2.0);
    Outputs out;
    ASSERT_EQ(standin::callMexFunction(2, out.plhs, 9, args.a.data()).errorId, "");
    expectColumn(out.plhs[0], 0, {}, "x");
    expectColumn(out.plhs[1], 3, {0.75, 0.75, 0.75}, "r");
}

namespace {

struct BadCall {
    const char* id;
    const char* mentions;  // a part of the message that names what is wrong
    int nlhs;
    int nrhs;
    std::function<void(Arguments&)> spoil;
};

}  // namespace

TEST(GatewayOnStandinHost, EachBadArgumentRaisesItsIdentifierAndTheHostReclaimsEverything) {
    const Problem good{2, {1, 2}, {1, 0, 0, 1}, {0, 0}, 1.0, {0, 0, 0, 0}, {0, 0}, 1.0, 3};
    const double twoTo31 = 2147483648.0, twoTo63 = 9223372036854775808.0;
    auto set = [](std::size_t i, std::function<mxArray_tag*()> make) {
        return [i, make](Arguments& a) { a.replace(i, make()); };
    };
    const std::vector<double> two{1, 2}, three{1, 2, 3}, four{1, 0, 0, 1};
    const BadCall cases[] = {
        {"Brelvane:nargin", "given 8", 1, 8, [](Arguments&) {}},
        {"Brelvane:nargin", "given 0", 1, 0, [](Arguments&) {}},
        {"Brelvane:nargout", "4 were requested", 4, 9, [](Arguments&) {}},
        // Name-value options: the name is text, known, and followed by a value
        // that is a real, finite, non-negative scalar.
        {"Brelvane:unknownOption", "Argument 10", 1, 11,
         [](Arguments& a) { a.a.push_back(scalar(1)), a.a.push_back(scalar(1)); }},
        {"Brelvane:unknownOption", "a string array of 2 elements", 1, 11,
         [](Arguments& a) {
             a.a.push_back(standin::newStrings({"GradientTolerance", "Tolerance"}));
             a.a.push_back(scalar(1));
         }},
        {"Brelvane:badOption", "'none' or 'diagonal', a single string or char vector, but is a string array of 2",
         1, 11,
         [](Arguments& a) {
             a.a.push_back(standin::newStrings({"Scaling"}));
             a.a.push_back(standin::newStrings({"none", "diagonal"}));
         }},
        // An options struct: known fields only (optimset's names say what to
        // use instead), one struct, and values as the pairs'.
        {"Brelvane:unknownOption", "use 'Tolerance' (the relative residual)", 1, 10,
         [](Arguments& a) { a.a.push_back(standin::newStruct({"Display", "TolFun"}, {nullptr, scalar(1e-6)})); }},
        {"Brelvane:unknownOption", "the ninth argument, iterations", 1, 10,
         [](Arguments& a) { a.a.push_back(standin::newStruct({"MaxIter"}, {scalar(100)})); }},
        {"Brelvane:badOption", "struct array of 2 elements", 1, 10,
         [](Arguments& a) {
             mxArray_tag* s = standin::newStruct({"Tolerance"}, {scalar(1e-6)});
             s->n = 2;  // refused before any field is read
             a.a.push_back(s);
         }},
        {"Brelvane:badOption", "'Tolerance' must be a real, finite, non-negative scalar, but is -1", 1, 10,
         [](Arguments& a) { a.a.push_back(standin::newStruct({"tolerance"}, {scalar(-1)})); }},
        {"Brelvane:badOption", "'off', 'iter', 'final', 'none' or 'notify', but is 'on'", 1, 11,
         [](Arguments& a) { a.a.push_back(standin::newText("Display")), a.a.push_back(standin::newText("on")); }},
        {"Brelvane:unknownOption", "'Tolerence'", 1, 11,
         [](Arguments& a) { a.a.push_back(standin::newText("Tolerence")), a.a.push_back(scalar(1)); }},
        {"Brelvane:unknownOption", "not an option name", 1, 11,
         [](Arguments& a) {
             a.a.push_back(standin::newText("GradientToleranceGradientTolerance"));
             a.a.push_back(scalar(1));
         }},
        // Text the C string would misread: a zero inside the name, a character
        // beyond ASCII.
        {"Brelvane:unknownOption", "not an option name", 1, 11,
         [](Arguments& a) {
             std::vector<double> codes(std::begin("GradientTolerance"), std::end("GradientTolerance"));
             codes.push_back('x');  // after the terminating zero
             a.a.push_back(standin::newArray("char", 1, codes.size(), codes.data()));
             a.a.push_back(scalar(1));
         }},
        {"Brelvane:unknownOption", "not an option name", 1, 11,
         [](Arguments& a) {
             const std::vector<double> codes{'S', 'c', 'a', 'l', 'i', 'n', 'g', 65535};
             a.a.push_back(standin::newArray("char", 1, codes.size(), codes.data()));
             a.a.push_back(scalar(1));
         }},
        {"Brelvane:badOption", "no value", 1, 10,
         [](Arguments& a) { a.a.push_back(standin::newText("gradienttolerance")); }},
        {"Brelvane:badOption", "-1", 1, 11,
         [](Arguments& a) { a.a.push_back(standin::newText("GRADIENTTOLERANCE")), a.a.push_back(scalar(-1)); }},
        {"Brelvane:badOption", "inf", 1, 11,
         [](Arguments& a) { a.a.push_back(standin::newText("GradientTolerance")), a.a.push_back(scalar(kInf)); }},
        {"Brelvane:badOption", "nan", 1, 11,
         [](Arguments& a) { a.a.push_back(standin::newText("GradientTolerance")), a.a.push_back(scalar(kNaN)); }},
        {"Brelvane:badOption", "scalar, but is a logical array of 1 element.", 1, 11,
         [](Arguments& a) { a.a.push_back(standin::newText("GradientTolerance")), a.a.push_back(scalar(1, "logical")); }},
        {"Brelvane:badOption", "'automatic', but is an int8 array of 2 elements.", 1, 11,
         [&](Arguments& a) { a.a.push_back(standin::newText("Threads")), a.a.push_back(array(two, 1, 2, "int8")); }},
        {"Brelvane:badOption", "'none' or 'diagonal' (a char row vector or a string), but is text that is none of them.",
         1, 11,
         [](Arguments& a) {
             const std::vector<double> codes{'n', 'd', 'o', 'i', 'n', 'a', 'e', 'g'};
             a.a.push_back(standin::newText("Scaling"));
             a.a.push_back(standin::newArray("char", 2, 4, codes.data()));
         }},
        {"Brelvane:badOption", "'full'", 1, 11,
         [](Arguments& a) { a.a.push_back(standin::newText("Scaling")), a.a.push_back(standin::newText("full")); }},
        {"Brelvane:badOption", "'none' or 'diagonal'", 1, 11,
         [](Arguments& a) { a.a.push_back(standin::newText("scaling")), a.a.push_back(scalar(1)); }},
        {"Brelvane:badOption", "'none' or 'ritz', but is 'fast'", 1, 11,
         [](Arguments& a) { a.a.push_back(standin::newText("Acceleration")), a.a.push_back(standin::newText("fast")); }},
        {"Brelvane:badOption", "'Tolerance' must be a real, finite, non-negative scalar, but is -1", 1, 11,
         [](Arguments& a) { a.a.push_back(standin::newText("tolerance")), a.a.push_back(scalar(-1)); }},
        {"Brelvane:badOption", "2 elements", 1, 11,
         [&](Arguments& a) { a.a.push_back(standin::newText("GradientTolerance")), a.a.push_back(array(two, 2, 1)); }},
        // A good pair first does not let a bad one after it through.
        {"Brelvane:badOption", "no value", 1, 12,
         [](Arguments& a) {
             a.a.push_back(standin::newText("GradientTolerance")), a.a.push_back(scalar(0.5));
             a.a.push_back(standin::newText("GradientTolerance"));
         }},
        {"Brelvane:notDouble", "P must be a real double array, but is of class single", 1, 9,
         set(1, [&] { return array(four, 2, 2, "single"); })},
        {"Brelvane:notDouble", "x0", 1, 9, set(0, [&] { return array(two, 2, 1, "int32"); })},
        {"Brelvane:notDouble", "logical", 1, 9,
         set(5, [&] { return array(two, 2, 1, "logical"); })},
        {"Brelvane:notDouble", "char", 1, 9, set(2, [&] { return array(two, 1, 2, "char"); })},
        {"Brelvane:notDouble", "cell", 1, 9, set(4, [&] { return array(four, 2, 2, "cell"); })},
        {"Brelvane:complex", "Q", 1, 9,
         set(4, [&] { return standin::newArray("double", 2, 2, four.data(), true); })},
        {"Brelvane:complex", "alpha", 1, 9,
         set(3, [&] { return standin::newArray("double", 1, 1, four.data(), true); })},
        {"Brelvane:sparse", "d", 1, 9,
         set(5, [&] { return standin::newArray("double", 2, 1, two.data(), false, true); })},
        {"Brelvane:sparse", "pass full(Q), whose n*n = 4 doubles take 0 kB", 1, 9,
         set(4, [&] { return standin::newArray("double", 2, 2, four.data(), false, true); })},
        // [] stands for an absent term; '' is char, refused as before.
        {"Brelvane:notDouble", "c must be a real double array, but is of class char", 1, 9,
         set(2, [&] { return array({}, 0, 0, "char"); })},
        {"Brelvane:tooShort", "c must have at least n = 2 elements, but has 1", 1, 9,
         set(2, [&] { return array(two, 1, 1); })},
        {"Brelvane:tooShort", "n*n = 4", 1, 9, set(1, [&] { return array(three, 3, 1); })},
        {"Brelvane:tooShort", "x0", 1, 9, set(0, [&] { return array({}, 0, 0); })},
        {"Brelvane:tooShort", "x0 must have at least n = 1 element, but has 0.", 1, 9,
         [](Arguments& a) { a.replace(0, array({}, 0, 0)), a.replace(7, scalar(1)); }},
        // P and Q with more than one row: n-by-n, or a column. Each of these
        // holds at least n*n elements, which a larger n would explain.
        {"Brelvane:sizeMismatch",
         "P must be an n-by-n matrix for n = 2, or a vector of at least n*n elements, but is "
         "3-by-3",
         1, 9, set(1, [] { return array(std::vector<double>(9, 1.0), 3, 3); })},
        {"Brelvane:sizeMismatch",
         "Q must be an n-by-n matrix for n = 2, or a vector of at least n*n elements, but is "
         "2-by-3",
         1, 9, set(4, [] { return array(std::vector<double>(6, 1.0), 2, 3); })},
        {"Brelvane:sizeMismatch", "but is 2-by-2-by-2", 1, 9,
         set(4, [] {
             mxArray_tag* q = array(std::vector<double>(8, 1.0), 2, 4);
             q->pages = 2;
             return q;
         })},
        {"Brelvane:sizeMismatch", "for n = 1, or a vector of at least n*n elements, but is 2-by-2",
         1, 9,
         [](Arguments& a) { a.replace(1, array({1, 0, 0, 1}, 2, 2)), a.replace(7, scalar(1)); }},
        {"Brelvane:notNumeric", "logical", 1, 9, set(7, [] { return scalar(2, "logical"); })},
        {"Brelvane:notNumeric", "beta", 1, 9, set(6, [] { return scalar(49, "char"); })},
        {"Brelvane:notNumeric", "cell", 1, 9, set(8, [] { return scalar(3, "cell"); })},
        {"Brelvane:notNumeric", "struct", 1, 9, set(3, [] { return scalar(1, "struct"); })},
        {"Brelvane:notScalar", "2 elements", 1, 9, set(7, [&] { return array(two, 1, 2); })},
        {"Brelvane:notScalar", "0 elements", 1, 9, set(8, [&] { return array({}, 0, 0); })},
        {"Brelvane:notFinite", "n must be finite", 1, 9, set(7, [] { return scalar(kNaN); })},
        {"Brelvane:notFinite", "inf", 1, 9, set(8, [] { return scalar(kInf); })},
        {"Brelvane:notFinite", "-inf", 1, 9, set(7, [] { return scalar(-kInf); })},
        {"Brelvane:outOfRange", "-1", 1, 9, set(7, [] { return scalar(-1); })},
        {"Brelvane:outOfRange", "2147483648", 1, 9, set(7, [&] { return scalar(twoTo31); })},
        {"Brelvane:outOfRange", "1e+300", 1, 9, set(7, [] { return scalar(1e300); })},
        {"Brelvane:outOfRange", "iterations", 1, 9, set(8, [&] { return scalar(twoTo63); })},
        {"Brelvane:outOfRange", "iterations", 1, 9, set(8, [] { return scalar(-1e300); })},
        {"Brelvane:outOfRange", "iterations", 3, 9, set(8, [&] { return scalar(twoTo63); })},
        // 2^31 - 0.5 truncates to 2^31 - 1, which is in range; the arrays are short.
        {"Brelvane:tooShort", "2147483647", 1, 9, set(7, [&] { return scalar(twoTo31 - 0.5); })},
        // n = 2^16: a 32-bit n*n would wrap to 0 and let a one-element P through.
        {"Brelvane:tooShort", "P", 1, 9,
         [](Arguments& a) {
             const std::vector<double> big(65536, 1.0);
             for (std::size_t i : {0, 2, 5}) a.replace(i, array(big, big.size(), 1));
             a.replace(1, scalar(1)), a.replace(4, scalar(1)), a.replace(7, scalar(65536));
         }},
    };
    for (const BadCall& bad : cases) {
        Arguments args(good, 2.0, 3.0);
        bad.spoil(args);
        Outputs out;
        const standin::CallOutcome outcome =
            standin::callMexFunction(bad.nlhs, out.plhs, bad.nrhs, args.a.data());
        EXPECT_EQ(outcome.errorId, bad.id) << outcome.message;
        EXPECT_NE(outcome.message.find(bad.mentions), std::string::npos)
            << bad.id << ": \"" << outcome.message << "\" does not mention \"" << bad.mentions
            << "\"";
        // Both hosts put the function's name in front of the message themselves.
        EXPECT_NE(outcome.message.rfind("Brelvane", 0), 0u) << outcome.message;
        EXPECT_EQ(out.plhs[0], nullptr) << bad.id;
        EXPECT_EQ(standin::liveCreatedArrays(), 0u) << bad.id;
    }
}

namespace {

const mxArray_tag* field(const mxArray_tag* s, const char* name) {
    for (int f = 0; f < s->fieldCount; ++f)
        if (std::string(s->fieldNames[f]) == name) return s->fields[f];
    return nullptr;
}

std::string textOf(const mxArray_tag* a) {
    std::string t;
    for (std::size_t i = 0; a != nullptr && i < a->m * a->n; ++i) t += static_cast<char>(a->pr[i]);
    return t;
}

}  // namespace

TEST(GatewayOnStandinHost, ToleranceAndInfoAgreeWithTheSolverBitForBit) {
    // The gradient tolerance is the gradient half way through an unlimited
    // run, so that some calls stop for it, some run out of iterations and
    // some go stationary; the relative tolerance likewise from the residual;
    // with and without scaling and acceleration, which the gateway passes on.
    std::mt19937_64 rng(testSeed("ToleranceAndInfoAgreeWithTheSolverBitForBit", 11));
    int stops[7] = {};
    int rises = 0;
    for (int i = 0; i < 300; ++i) {
        Problem p = i % 2 ? dyadicProblem(rng, 9) : generalProblem(rng, 1, 12);
        p.iterations = 1 + static_cast<std::int64_t>(rng() % 300);
        const std::size_t n = static_cast<std::size_t>(p.n);
        std::vector<double> x(n), trace(static_cast<std::size_t>(p.iterations) + 1);
        RatioDescentOptions options;
        const bool scaled = i % 5 >= 3;
        options.scaling = scaled ? ratioDescentScalingDiagonal : ratioDescentScalingNone;
        const bool accelerated = i % 7 >= 4;
        options.acceleration = accelerated ? ratioDescentAccelerationRitz : ratioDescentAccelerationNone;
        RatioDescentReport half;
        ASSERT_EQ(ratioDescentWithOptions(x.data(), trace.data(), p.x0.data(), p.P.data(),
                                          p.c.data(), p.alpha, p.Q.data(), p.d.data(), p.beta,
                                          p.n, p.iterations / 2, options, &half),
                  ratioDescentOk);
        options.gradientTolerance = i % 3 == 0 ? 0.0 : std::isfinite(half.gradient) ? half.gradient : 1.0;
        if (i % 11 >= 6) {
            options.gradientTolerance = 0.0;
            options.tolerance = std::isfinite(half.residual) ? half.residual : 0.5;
        }
        RatioDescentReport want;
        ASSERT_EQ(ratioDescentWithOptions(x.data(), trace.data(), p.x0.data(), p.P.data(),
                                          p.c.data(), p.alpha, p.Q.data(), p.d.data(), p.beta,
                                          p.n, p.iterations, options, &want),
                  ratioDescentOk);
        ++stops[want.stop];
        // With info, r ends where the run ended, after every stop.
        const bool cut = want.stop != ratioDescentStopIterations;
        const std::size_t rows = static_cast<std::size_t>(cut ? want.iterations : p.iterations) + 1;

        Arguments args(p, static_cast<double>(p.n), static_cast<double>(p.iterations));
        args.a.push_back(standin::newText(i % 2 ? "GradientTolerance" : "gradientTOLERANCE"));
        args.a.push_back(scalar(options.gradientTolerance, i % 4 == 1 ? "single" : "double"));
        if (scaled || i % 5 == 2) {
            args.a.push_back(standin::newText(i % 2 ? "Scaling" : "SCALING"));
            args.a.push_back(standin::newText(scaled ? (i % 2 ? "Diagonal" : "diagonal") : "none"));
        }
        if (accelerated || i % 7 == 3) {
            args.a.push_back(standin::newText(i % 2 ? "Acceleration" : "acceleration"));
            args.a.push_back(standin::newText(accelerated ? (i % 2 ? "Ritz" : "ritz") : "NONE"));
        }
        if (options.tolerance > 0.0) {
            args.a.push_back(standin::newText("Tolerance"));
            args.a.push_back(scalar(options.tolerance));
        }
        Outputs out;
        const standin::CallOutcome outcome = standin::callMexFunction(
            3, out.plhs, static_cast<int>(args.a.size()), args.a.data());
        ASSERT_EQ(outcome.errorId, "") << outcome.message;
        const std::string what = "problem " + std::to_string(i);
        expectColumn(out.plhs[0], n, x, what + ": x");
        expectColumn(out.plhs[1], rows, trace, what + ": r");
        const mxArray_tag* info = out.plhs[2];
        ASSERT_TRUE(info != nullptr && std::string(info->className) == "struct" && info->m == 1 &&
                    info->n == 1 && info->fieldCount == 10)
            << what;
        EXPECT_EQ(textOf(field(info, "scaling")), scaled ? "diagonal" : "none") << what;
        const char* const stopNames[] = {"iterations", "gradient",  "stationary", "",
                                         "tolerance",  "stalled", "notFinite"};
        EXPECT_EQ(textOf(field(info, "stop")), stopNames[want.stop]) << what;
        expectColumn(field(info, "iterations"), 1, {static_cast<double>(want.iterations)}, what);
        expectColumn(field(info, "gradient"), 1, {want.gradient}, what + ": gradient");
        expectColumn(field(info, "ratio"), 1, {trace[rows - 1]}, what + ": ratio");
        expectColumn(field(info, "residual"), 1, {want.residual}, what + ": residual");
        expectColumn(field(info, "accelerations"), 1, {static_cast<double>(want.accelerations)},
                     what + ": accelerations");
        expectColumn(field(info, "rises"), 1, {static_cast<double>(want.rises)}, what + ": rises");
        rises += want.rises > 0;
        // The warnings, each once, in this order, when and only when its
        // condition holds: an asymmetric P or Q, R not finite at the start or
        // the stop for it, a stall, a step that raised R.
        std::vector<std::string> warnings;
        if (findAsymmetry(p.P.data(), p.n, true).found || findAsymmetry(p.Q.data(), p.n, true).found)
            warnings.push_back("Brelvane:notSymmetric");
        if (!std::isfinite(trace[0]) || want.stop == ratioDescentStopNotFinite)
            warnings.push_back("Brelvane:ratioNotFinite");
        if (want.stop == ratioDescentStopStalled) warnings.push_back("Brelvane:stalled");
        if (want.rises > 0) warnings.push_back("Brelvane:rise");
        ASSERT_EQ(standin::warningsRaised().size(), warnings.size()) << what;
        for (std::size_t w = 0; w < warnings.size(); ++w)
            EXPECT_EQ(standin::warningsRaised()[w].id, warnings[w]) << what;
        expectColumn(field(info, "threads"), 1, {1.0}, what + ": threads");
        expectColumn(field(info, "sharedIterations"), 1, {0.0}, what + ": sharedIterations");
        // A gradient stop gives the point the call without a tolerance gives with
        // that count.
        if (want.stop == ratioDescentStopGradient && !accelerated) {
            Arguments plain(p, static_cast<double>(p.n), static_cast<double>(want.iterations));
            if (scaled) {
                plain.a.push_back(standin::newText("Scaling"));
                plain.a.push_back(standin::newText("diagonal"));
            }
            Outputs again;
            ASSERT_EQ(standin::callMexFunction(1, again.plhs, static_cast<int>(plain.a.size()),
                                               plain.a.data())
                          .errorId,
                      "");
            expectColumn(again.plhs[0], n, x, what + ": nine-argument call");
        }
    }
    EXPECT_GE(stops[ratioDescentStopIterations], 20);
    EXPECT_GE(stops[ratioDescentStopGradient], 20);
    EXPECT_GE(stops[ratioDescentStopStationary], 10);
    EXPECT_GE(stops[ratioDescentStopTolerance], 10);
    EXPECT_GE(rises, 5);
    EXPECT_EQ(standin::liveCreatedArrays(), 0u);
}

TEST(GatewayOnStandinHost, AStepThatRaisesTheRatioWarnsOnceWithTheCount) {
    // D = 1 and N = (x1^2 - x2^2) / 2 from (1, 1): the second step goes to the
    // maximum of N along x2, from R = -0.5 to 0; the third changes nothing.
    const Problem p{2, {1, 1}, {1, 0, 0, -1}, {0, 0}, 0.0, {0, 0, 0, 0}, {0, 0}, 1.0, 4};
    for (int nlhs : {0, 3}) {
        Arguments args(p, 2.0, 4.0);
        Outputs out;
        ASSERT_EQ(standin::callMexFunction(nlhs, out.plhs, 9, args.a.data()).errorId, "");
        ASSERT_EQ(standin::warningsRaised().size(), 1u);
        EXPECT_EQ(standin::warningsRaised()[0].id, "Brelvane:rise");
        const std::string& message = standin::warningsRaised()[0].message;
        EXPECT_NE(message.find("1 of the 3 steps computed raised R"), std::string::npos) << message;
        EXPECT_NE(message.find("no minimum"), std::string::npos) << message;
        if (nlhs == 3) {
            expectColumn(out.plhs[1], 4, {0, -0.5, 0, 0}, "r");  // with info, ends at the stop
            expectColumn(field(out.plhs[2], "rises"), 1, {1}, "info.rises");
        }
    }
}

// 'Display': 'off' prints nothing, 'final' one line, 'iter' a header, the
// start's line and the final line, then evaluates drawnow once (MATLAB's
// host here: libut is loaded); no result changes. An error raised by that
// drawnow (Ctrl+C's, say) ends the call with Brelvane:interrupted, and the
// host reclaims everything.
TEST(GatewayOnStandinHost, DisplayPrintsItsLinesChangesNothingAndStopsOnAnEvaluationError) {
    std::mt19937_64 rng(
        testSeed("DisplayPrintsItsLinesChangesNothingAndStopsOnAnEvaluationError", 8));
    const char* const levels[] = {"off", "final", "iter"};
    for (int i = 0; i < 60; ++i) {
        const Problem p = dyadicProblem(rng, 9);
        Arguments plain(p, static_cast<double>(p.n), static_cast<double>(p.iterations));
        Outputs want;
        ASSERT_EQ(standin::callMexFunction(3, want.plhs, 9, plain.a.data()).errorId, "");
        const int level = i % 3;
        Arguments shown(p, static_cast<double>(p.n), static_cast<double>(p.iterations));
        shown.a.push_back(standin::newText(i % 2 ? "Display" : "DISPLAY"));
        shown.a.push_back(standin::newText(levels[level]));
        Outputs got;
        ASSERT_EQ(standin::callMexFunction(3, got.plhs, 11, shown.a.data()).errorId, "");
        const std::string what = "problem " + std::to_string(i) + ", " + levels[level];
        for (int o : {0, 1}) {
            const mxArray_tag* w = want.plhs[o];
            expectColumn(got.plhs[o], w->m, std::vector<double>(w->pr, w->pr + w->m),
                         what + (o == 0 ? ": x" : ": r"));
        }
        const std::string& text = standin::textPrinted();
        std::vector<std::string> lines;
        for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos;
             at = end + 1)
            lines.push_back(text.substr(at, end - at));
        const bool rows = level == 2 && p.n > 0 && p.iterations > 0;
        ASSERT_EQ(lines.size(), level == 0 ? 0u : rows ? 3u : 1u) << what << ":\n" << text;
        EXPECT_EQ(standin::commandsEvaluated(), rows ? std::vector<std::string>{"drawnow;"}
                                                     : std::vector<std::string>{})
            << what;
        if (level == 0) continue;
        EXPECT_EQ(lines.back().rfind("Brelvane: ", 0), 0u) << what << ": " << lines.back();
        if (rows) {
            EXPECT_NE(lines[0].find("iteration"), std::string::npos) << what << ": " << lines[0];
            // "0", then R(x0) as r(1) holds it.
            char start[64];
            std::snprintf(start, sizeof start, "%12d  %16.9e  ", 0, want.plhs[1]->pr[0]);
            EXPECT_EQ(lines[1].rfind(start, 0), 0u) << what << ": " << lines[1];
        }
    }
    EXPECT_EQ(standin::liveCreatedArrays(), 0u);

    std::mt19937_64 big(3);
    const Problem p = generalProblem(big, 300, 300);
    for (int nlhs : {0, 2}) {
        Arguments args(p, 300.0, 1e6);
        args.a.push_back(standin::newText("Display"));
        args.a.push_back(standin::newText("iter"));
        Outputs out;
        standin::failEvaluationAt(0);
        const standin::CallOutcome outcome =
            standin::callMexFunction(nlhs, out.plhs, 11, args.a.data());
        EXPECT_EQ(outcome.errorId, "Brelvane:interrupted") << outcome.message;
        EXPECT_NE(outcome.message.find(
                      "after 0 of 1000000 iterations: updating the progress display"),
                  std::string::npos)
            << outcome.message;
        EXPECT_EQ(out.plhs[0], nullptr);
        EXPECT_EQ(standin::liveCreatedArrays(), 0u);
    }
}

TEST(GatewayOnStandinHost, AnInterruptIsRaisedWithTheCountAndLowered) {
    // With linear terms and random constants the descent is not exactly
    // stationary within the 10^6 iterations asked for: only the interrupt ends
    // it early. n = 1024 polls every 1024 iterations, after the start-up's poll.
    std::mt19937_64 rng(testSeed("AnInterruptIsRaisedWithTheCountAndLowered", 3));
    Problem p = generalProblem(rng, 1024, 1024);
    for (int nlhs : {0, 1}) {
        for (long poll : {0L, 3L}) {
            Arguments args(p, 1024.0, 1e6);
            Outputs out;
            standin::interruptAtPoll(poll);
            const standin::CallOutcome outcome =
                standin::callMexFunction(nlhs, out.plhs, 9, args.a.data());
            EXPECT_EQ(outcome.errorId, "Brelvane:interrupted") << outcome.message;
            const std::string count = std::to_string(poll * 1024) + " of 1000000 ";
            EXPECT_NE(outcome.message.find(count), std::string::npos) << outcome.message;
            EXPECT_EQ(standin::interruptPollCount(), poll + 1);
            EXPECT_FALSE(standin::interruptPending()) << "the flag is left raised";
            EXPECT_EQ(standin::liveCreatedArrays(), 0u);
        }
    }
    // Afterwards calls run as before, still polling.
    standin::interruptAtPoll(-1);
    p.iterations = 5000;
    Arguments args(p, 1024.0, 5000.0);
    Outputs out;
    ASSERT_EQ(standin::callMexFunction(1, out.plhs, 9, args.a.data()).errorId, "");
    std::vector<double> x(1024);
    ASSERT_EQ(ratioDescent(x.data(), p.x0.data(), p.P.data(), p.c.data(), p.alpha, p.Q.data(),
                           p.d.data(), p.beta, p.n, p.iterations),
              ratioDescentOk);
    expectColumn(out.plhs[0], 1024, x, "x after the interrupts");
    EXPECT_EQ(standin::interruptPollCount(), 5);
}

#if defined(BRELVANE_WRAP_MALLOC)
namespace {

// R = (|x|^2/2 + 1) / 1 from (1, 2): exactly stationary at x = 0 after two
// iterations.
const Problem stationary{2, {1, 2}, {1, 0, 0, 1}, {0, 0}, 1.0, {0, 0, 0, 0}, {0, 0}, 1.0, 3};

standin::CallOutcome callWith(int nlhs, Outputs& out, Arguments& args) {
    largestMalloc = 0;
    const standin::CallOutcome outcome =
        standin::callMexFunction(nlhs, out.plhs, static_cast<int>(args.a.size()), args.a.data());
    failMalloc = false, failFrom = 0;
    return outcome;
}

}  // namespace

// A cap is only a cap: r grows with the descent, is handed out at its exact
// length, and neither the host nor the C library is asked for memory in
// proportion to the cap, whichever outputs are asked for. Only a stationary
// stop, whose r is filled out to the full count, costs its length.
TEST(GatewayOnStandinHost, AGenerousCountCostsNothingUntilItIsUsed) {
    const Problem example{2, {1, 1}, {2, 0, 0, 4}, {1, 0}, 1.0, {1, 0, 0, 1}, {0, 0}, 1.0, 0};
    const std::size_t tenMegabytes = 10u << 20;
    for (int nlhs : {1, 2, 3}) {
        Arguments args(example, 2.0, nlhs == 1 ? 4611686018427387904.0 : 1e8);
        args.a.push_back(standin::newText("GradientTolerance"));
        args.a.push_back(scalar(1e-3));
        Outputs out;
        ASSERT_EQ(callWith(nlhs, out, args).errorId, "");
        EXPECT_LT(standin::peakCallBytes(), tenMegabytes) << nlhs;
        EXPECT_LT(largestMalloc, tenMegabytes) << nlhs;
        if (nlhs >= 2) {
            EXPECT_EQ(out.plhs[1]->m, 3u);  // stopped after 2 iterations
            EXPECT_EQ(out.plhs[1]->capacity, 3u) << "r keeps a block beyond its elements";
        }
    }
    Arguments args(stationary, 2.0, 1e5);
    Outputs out;
    ASSERT_EQ(callWith(2, out, args).errorId, "");
    EXPECT_EQ(out.plhs[1]->m, 100001u);
    EXPECT_EQ(out.plhs[1]->capacity, 100001u);
    EXPECT_GE(standin::peakCallBytes(), 100001u * sizeof(double));
}

// Whichever allocation fails, the call raises an error and the host reclaims
// everything: the solver's work vectors or r's first storage (our
// Brelvane:outOfMemory), r's growth in the middle of a run, r's fill after a
// stationary stop (which asks for the whole count, at most 2^31 - 1 values),
// and the host's own allocator refusing after the C library agreed (the
// host's error).
TEST(GatewayOnStandinHost, OutOfMemoryIsRaisedAndTheHostReclaimsEverything) {
    std::mt19937_64 rng(2727);
    const Problem running = generalProblem(rng, 30, 30);  // not stationary in 5000 iterations
    struct Case {
        const Problem& p;
        double iterations;
        int nlhs;
        bool all;         // every malloc fails
        std::size_t from; // or those of at least this many bytes
        const char* id;
        const char* mentions;
    } cases[] = {
        {stationary, 3, 1, true, 0, "Brelvane:outOfMemory", "work vectors for n = 2"},
        {stationary, 3, 2, true, 0, "Brelvane:outOfMemory", "r could not grow to 4 elements after 0"},
        {stationary, 0, 2, true, 0, "Brelvane:outOfMemory", "r could not grow to 1 element after 0 iterations:"},
        // 256, 512 and 1024 values (8 KiB), then 2048 refused.
        {running, 5000, 3, false, 8193, "Brelvane:outOfMemory", "grow to 2048 elements after 1023 iterations"},
        {stationary, 1e15, 2, false, 1u << 20, "Brelvane:outOfMemory", "grow to 2147483647 elements after 3"},
        {stationary, 1u << 23, 2, false, 0, "standin:outOfMemory", "Out of memory"},
    };
    for (const Case& c : cases) {
        Arguments args(c.p, static_cast<double>(c.p.n), c.iterations);
        Outputs out;
        failMalloc = c.all, failFrom = c.from;
        const standin::CallOutcome outcome = callWith(c.nlhs, out, args);
        EXPECT_EQ(outcome.errorId, c.id) << outcome.message;
        EXPECT_NE(outcome.message.find(c.mentions), std::string::npos) << outcome.message;
        EXPECT_EQ(standin::liveCreatedArrays(), 0u);
    }
}
#endif

// Threads: automatic asks the host's maxNumCompThreads only from the size
// where sharing pays (at most that many, and the processors there are), an
// explicit count not at all and is at most the processors; every count gives
// the one-thread bits. The calls outlast the team's first window, which runs
// alone.
TEST(GatewayOnStandinHost, ThreadsFollowTheHostsSettingAndKeepTheBits) {
    std::mt19937_64 rng(testSeed("ThreadsFollowTheHostsSettingAndKeepTheBits", 64));
    Problem p = generalProblem(rng, ratioDescentThreadsFrom, ratioDescentThreadsFrom);
    const std::size_t n = static_cast<std::size_t>(p.n);
    std::vector<double> want;
    for (const double limit : {1.0, 8.0, kNaN}) {
        standin::maxNumCompThreads = limit;
        for (const char* threads : {"automatic", "1", "3"}) {
            Arguments args(p, static_cast<double>(p.n), 600);
            args.a.push_back(standin::newText("Threads"));
            args.a.push_back(threads[0] == 'a' ? standin::newText(threads) : scalar(std::atof(threads)));
            const long calls = standin::hostFunctionCalls;
            Outputs out;
            ASSERT_EQ(standin::callMexFunction(3, out.plhs, static_cast<int>(args.a.size()), args.a.data())
                          .errorId,
                      "");
            const std::string what = std::string(threads) + " threads, limit " + std::to_string(limit);
            const bool automatic = threads[0] == 'a';
            EXPECT_EQ(standin::hostFunctionCalls - calls, automatic ? 1 : 0) << what;
            const int processors = processorsAvailable();
            const double used = field(out.plhs[2], "threads")->pr[0];
            if (!automatic) EXPECT_EQ(used, std::min<double>(processors, std::atof(threads))) << what;
            else if (limit == 1.0) EXPECT_EQ(used, 1.0) << what;
            else EXPECT_EQ(used, std::min(processors, 8)) << what;
            if (want.empty()) want.assign(out.plhs[0]->pr, out.plhs[0]->pr + n);
            expectColumn(out.plhs[0], n, want, what);
        }
    }
    standin::maxNumCompThreads = 8;
    // Below the crossover the host is not asked.
    Problem small = generalProblem(rng, 50, 50);
    Arguments args(small, 50, 40);
    Outputs out;
    const long calls = standin::hostFunctionCalls;
    ASSERT_EQ(standin::callMexFunction(3, out.plhs, 9, args.a.data()).errorId, "");
    EXPECT_EQ(standin::hostFunctionCalls, calls);
    EXPECT_EQ(field(out.plhs[2], "threads")->pr[0], 1.0);
}

namespace {

// Every field of info, the stop as text and the rest as numbers.
std::string describeInfo(const mxArray_tag* info) {
    std::string text;
    for (int f = 0; f < info->fieldCount; ++f) {
        const mxArray_tag* v = info->fields[f];
        text += std::string(info->fieldNames[f]) + "=";
        text += std::strcmp(v->className, "char") == 0 ? textOf(v) : describe(v->pr[0]);
        text += " ";
    }
    return text;
}

}  // namespace

// The ways MATLAB users write a call give the char call's results bit for
// bit: names and values as string scalars (Name=Value), an options struct
// with empty fields and a pair after it that overrides a field, and [] for
// c, d, alpha and beta where they are zero.
TEST(GatewayOnStandinHost, StringsStructsAndEmptyTermsAreTheCharCall) {
    std::mt19937_64 rng(testSeed("StringsStructsAndEmptyTermsAreTheCharCall", 24));
    Problem p = generalProblem(rng, 12, 12);
    std::fill(p.c.begin(), p.c.end(), 0.0), std::fill(p.d.begin(), p.d.end(), 0.0);
    p.alpha = p.beta = 0.0;
    const std::size_t n = static_cast<std::size_t>(p.n);
    auto run = [&](const std::function<void(Arguments&)>& options, Outputs& out) {
        Arguments args(p, static_cast<double>(p.n), 600);
        options(args);
        const standin::CallOutcome outcome =
            standin::callMexFunction(3, out.plhs, static_cast<int>(args.a.size()), args.a.data());
        ASSERT_EQ(outcome.errorId, "") << outcome.message;
    };
    Outputs want;
    run([](Arguments& a) {
        for (const char* t : {"Acceleration", "ritz", "Scaling", "diagonal"}) a.a.push_back(standin::newText(t));
        a.a.push_back(standin::newText("Tolerance")), a.a.push_back(scalar(1e-9));
    }, want);
    const std::size_t rows = want.plhs[1]->m;
    const std::vector<double> x(want.plhs[0]->pr, want.plhs[0]->pr + n);
    const std::vector<double> r(want.plhs[1]->pr, want.plhs[1]->pr + rows);
    const std::pair<const char*, std::function<void(Arguments&)>> forms[] = {
        {"strings", [](Arguments& a) {
             for (const char* t : {"Acceleration", "ritz", "SCALING", "Diagonal"})
                 a.a.push_back(standin::newStrings({t}));
             a.a.push_back(standin::newStrings({"tolerance"})), a.a.push_back(scalar(1e-9));
         }},
        {"struct", [](Arguments& a) {
             a.a.push_back(standin::newStruct(
                 {"Display", "acceleration", "Scaling", "TolFun", "Tolerance"},
                 {array({}, 0, 0), standin::newText("ritz"), standin::newStrings({"diagonal"}),
                  array({}, 0, 0), scalar(1e-9)}));
         }},
        {"struct and a pair", [](Arguments& a) {
             a.a.push_back(standin::newStruct({"Acceleration", "Scaling", "Tolerance"},
                                              {standin::newText("ritz"), standin::newText("diagonal"),
                                               scalar(0.5)}));
             a.a.push_back(standin::newText("Tolerance")), a.a.push_back(scalar(1e-9));
         }},
        {"[] terms", [](Arguments& a) {
             a.replace(2, array({}, 0, 0)), a.replace(3, array({}, 0, 0));
             a.replace(5, array({}, 0, 1)), a.replace(6, array({}, 0, 0));
             for (const char* t : {"Acceleration", "ritz", "Scaling", "diagonal"}) a.a.push_back(standin::newText(t));
             a.a.push_back(standin::newText("Tolerance")), a.a.push_back(scalar(1e-9));
         }},
    };
    for (const auto& [what, form] : forms) {
        Outputs got;
        run(form, got);
        expectColumn(got.plhs[0], n, x, std::string(what) + ": x");
        expectColumn(got.plhs[1], rows, r, std::string(what) + ": r");
        EXPECT_EQ(describeInfo(got.plhs[2]), describeInfo(want.plhs[2])) << what;
    }
}

// Brelvane('eigenpairs', P, Q, k, sigma, ...), as BrelvaneEigs.m calls it:
// V and lambda as the solver gives them, bit for bit, info's fields, and a
// run-time error after the outputs were made, with everything reclaimed.
TEST(GatewayOnStandinHost, EigenpairsAreTheSolversBitForBit) {
    std::mt19937_64 rng(testSeed("EigenpairsAreTheSolversBitForBit", 29));
    Problem p = generalProblem(rng, 20, 20);
    const std::size_t n = static_cast<std::size_t>(p.n);
    for (std::size_t i = 0; i < n; ++i) p.Q[i * (n + 1)] += 4.0 * static_cast<double>(n);
    const std::int64_t k = 3;
    EigenpairsOptions options;
    options.largest = true;
    options.tolerance = 1e-11;
    options.threads = 2;
    std::vector<double> V(n * k), lambda(k), errors(k);
    ASSERT_EQ(eigenpairs(V.data(), lambda.data(), errors.data(), p.P.data(), p.Q.data(), p.n, k,
                         nullptr, 0, options, nullptr),
              ratioDescentOk);
    auto call = [&](const mxArray_tag* Q, Outputs& out) {
        std::vector<mxArray_tag*> a = {standin::newText("eigenpairs"), array(p.P, n, n),
                                       standin::newArray("double", n, n, Q->pr), scalar(3),
                                       standin::newStrings({"la"}), standin::newText("Tolerance"),
                                       scalar(1e-11), standin::newText("Threads"), scalar(2)};
        const standin::CallOutcome outcome =
            standin::callMexFunction(3, out.plhs, static_cast<int>(a.size()), a.data());
        for (mxArray_tag* x : a) standin::destroyArray(x);
        return outcome;
    };
    mxArray_tag* Q = array(p.Q, n, n);
    {
        Outputs out;
        const standin::CallOutcome outcome = call(Q, out);
        ASSERT_EQ(outcome.errorId, "") << outcome.message;
        ASSERT_EQ(out.plhs[0]->m, n);
        ASSERT_EQ(out.plhs[0]->n, static_cast<std::size_t>(k));
        for (std::size_t i = 0; i < n * k; ++i)
            ASSERT_TRUE(sameDouble(out.plhs[0]->pr[i], V[i])) << i;
        expectColumn(out.plhs[1], k, lambda, "lambda");
        expectColumn(field(out.plhs[2], "backwardError"), k, errors, "info.backwardError");
        EXPECT_EQ(textOf(field(out.plhs[2], "stop")), "tolerance");
        for (const char* name : {"sweeps", "iterations", "blockSize", "refreshes", "threads"})
            EXPECT_NE(field(out.plhs[2], name), nullptr) << name;
    }
    // -Q: not positive definite, met while running.
    for (std::size_t i = 0; i < n * n; ++i) Q->pr[i] = -Q->pr[i];
    Outputs failed;
    const standin::CallOutcome outcome = call(Q, failed);
    standin::destroyArray(Q);
    EXPECT_EQ(outcome.errorId, "Brelvane:notPositiveDefinite") << outcome.message;
    EXPECT_EQ(failed.plhs[0], nullptr);
    EXPECT_EQ(standin::liveCreatedArrays(), 0u);
}
