// The real gateway on the stand-in host: results as the solver's, each bad
// argument's identifier, and no array left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "host_standin.h"
#include "random_problems.h"
#include "ratio_descent.h"
#include "test_support.h"

#if defined(BRELVANE_WRAP_MALLOC)
// The solver's allocations can be made to fail (linked with -Wl,--wrap=malloc,
// which reroutes only the calls from the objects linked in, not the host's).
namespace {
bool failMalloc = false;
}
extern "C" void* __real_malloc(std::size_t size);
extern "C" void* __wrap_malloc(std::size_t size) {
    return failMalloc ? nullptr : __real_malloc(size);
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
    mxArray_tag* plhs[3] = {nullptr, nullptr, nullptr};
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
        {"Brelvane:nargin", "given 10", 1, 10, [](Arguments& a) { a.a.push_back(scalar(1)); }},
        {"Brelvane:nargin", "given 0", 1, 0, [](Arguments&) {}},
        {"Brelvane:nargout", "3 were requested", 3, 9, [](Arguments&) {}},
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
        {"Brelvane:tooShort", "c must have at least n = 2 elements, but has 1", 1, 9,
         set(2, [&] { return array(two, 1, 1); })},
        {"Brelvane:tooShort", "n*n = 4", 1, 9, set(1, [&] { return array(three, 3, 1); })},
        {"Brelvane:tooShort", "x0", 1, 9, set(0, [&] { return array({}, 0, 0); })},
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
        // With r, whose length iterations + 1 must fit a 32-bit dimension.
        {"Brelvane:outOfRange", "2147483647", 2, 9, set(8, [&] { return scalar(twoTo31 - 1); })},
        // The largest r accepted is more than the host will allocate: the call is
        // abandoned after x was created, and the host must reclaim x.
        {"standin:outOfMemory", "Out of memory", 2, 9, set(8, [&] { return scalar(twoTo31 - 2); })},
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
        EXPECT_EQ(out.plhs[0], nullptr) << bad.id;
        EXPECT_EQ(standin::liveCreatedArrays(), 0u) << bad.id;
    }
}

#if defined(BRELVANE_WRAP_MALLOC)
TEST(GatewayOnStandinHost, OutOfMemoryInTheSolverIsRaisedAndTheHostReclaimsTheResults) {
    // x (and r) exist before the solver allocates: the abandoned call must
    // leave them to the host, which reclaims them.
    const Problem good{2, {1, 2}, {1, 0, 0, 1}, {0, 0}, 1.0, {0, 0, 0, 0}, {0, 0}, 1.0, 3};
    for (int nlhs : {1, 2}) {
        Arguments args(good, 2.0, 3.0);
        Outputs out;
        failMalloc = true;
        const standin::CallOutcome outcome =
            standin::callMexFunction(nlhs, out.plhs, 9, args.a.data());
        failMalloc = false;
        EXPECT_EQ(outcome.errorId, "Brelvane:outOfMemory") << outcome.message;
        EXPECT_NE(outcome.message.find("n = 2"), std::string::npos) << outcome.message;
        EXPECT_EQ(standin::liveCreatedArrays(), 0u);
    }
}
#endif
