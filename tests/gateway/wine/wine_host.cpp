// Host program for Brelvane.mexw64 under Wine: loads the module as MATLAB would,
// calls mexFunction on recorded problems and compares with the native solver.
//
//   brelvane_wine_host <module.mexw64> <cases file>
//
// Each line of the cases file is one problem: n and iterations in decimal,
// then the bit patterns (16 hex digits) of x0[n], P[n*n], c[n], alpha, Q[n*n],
// d[n], beta and the expected x[n].
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "standin_array.h"

namespace {

using MexFunction = void (*)(int, mxArray_tag**, int, const mxArray_tag**);

struct Problem {
    std::int64_t n = 0;
    std::int64_t iterations = 0;
    std::vector<double> x0, P, c, alpha, Q, d, beta, expected;
};

std::vector<double> readDoubles(std::istringstream& in, std::int64_t count) {
    std::vector<double> values(static_cast<std::size_t>(count));
    for (double& v : values) {
        std::string token;
        in >> token;
        const std::uint64_t bits = std::stoull(token, nullptr, 16);
        std::memcpy(&v, &bits, sizeof v);
    }
    return values;
}

std::vector<Problem> readProblems(const char* path) {
    std::vector<Problem> problems;
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);) {
        std::istringstream in(line);
        Problem p;
        if (!(in >> p.n >> p.iterations)) continue;
        p.x0 = readDoubles(in, p.n);
        p.P = readDoubles(in, p.n * p.n);
        p.c = readDoubles(in, p.n);
        p.alpha = readDoubles(in, 1);
        p.Q = readDoubles(in, p.n * p.n);
        p.d = readDoubles(in, p.n);
        p.beta = readDoubles(in, 1);
        p.expected = readDoubles(in, p.n);
        problems.push_back(p);
    }
    return problems;
}

// Bit-identical, where any two NaNs count as equal: which NaN an operation
// returns may depend on the order its compiler gave the operands.
bool sameDouble(double a, double b) {
    return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

mxArray_tag arrayOf(std::vector<double>& data, std::size_t m, std::size_t n) {
    return mxArray_tag{"double", false, false, m, n, data.data()};
}

// The nine arguments of a problem; x0 as a row, the rest as columns; then
// any options, whose values are held in `extra`.
struct Arguments {
    std::vector<double> nValue, iterationsValue;
    std::vector<mxArray_tag> arrays;
    std::vector<std::vector<double>> extra;

    void add(const char* className, std::vector<double> values) {
        extra.push_back(std::move(values));
        arrays.push_back(mxArray_tag{className, false, false, 1, extra.back().size(),
                                     extra.back().data()});
    }
    void addText(const char* text, const char* className = "char") {
        add(className, std::vector<double>(text, text + std::strlen(text)));
    }
};

Arguments argumentsOf(Problem& p) {
    Arguments a;
    a.nValue = {static_cast<double>(p.n)};
    a.iterationsValue = {static_cast<double>(p.iterations)};
    const std::size_t n = static_cast<std::size_t>(p.n);
    a.extra.reserve(8);  // the arrays point into it
    a.arrays = {arrayOf(p.x0, 1, n),    arrayOf(p.P, n, n),      arrayOf(p.c, n, 1),
                arrayOf(p.alpha, 1, 1), arrayOf(p.Q, n, n),      arrayOf(p.d, n, 1),
                arrayOf(p.beta, 1, 1),  arrayOf(a.nValue, 1, 1), arrayOf(a.iterationsValue, 1, 1)};
    return a;
}

// Calls the module; returns the error identifier it raised, or "" on success.
std::string call(MexFunction mexFunction, int nlhs, mxArray_tag** plhs,
                 const std::vector<mxArray_tag>& inputs, int nrhs) {
    std::vector<const mxArray_tag*> prhs;
    for (const mxArray_tag& a : inputs) prhs.push_back(&a);
    try {
        mexFunction(nlhs, plhs, nrhs, prhs.data());
    } catch (const StandinMexError& e) {
        std::printf("    raised %s: %s\n", e.id, e.message);
        return e.id;
    }
    return "";
}

// An output of the module, with a struct's names and values.
void destroy(mxArray_tag* a) {
    if (a == nullptr) return;
    for (std::size_t i = 0; a->fields != nullptr && i < a->m * a->n * a->fieldCount; ++i)
        destroy(a->fields[i]);
    for (int f = 0; f < a->fieldCount; ++f) std::free(a->fieldNames[f]);
    std::free(a->fieldNames);
    std::free(a->fields);
    std::free(a->pr);
    std::free(a);
}

const mxArray_tag* field(const mxArray_tag* s, const char* name) {
    for (int f = 0; f < s->fieldCount; ++f)
        if (std::strcmp(s->fieldNames[f], name) == 0) return s->fields[f];
    return nullptr;
}

std::string textOf(const mxArray_tag* a) {
    std::string t;
    for (std::size_t i = 0; a != nullptr && i < a->m * a->n; ++i) t += static_cast<char>(a->pr[i]);
    return t;
}

// Solves p through the module; true when x is an n-by-1 double column equal
// bit for bit to the native result.
bool solvesLikeNative(MexFunction mexFunction, Problem& p) {
    Arguments a = argumentsOf(p);
    mxArray_tag* plhs[1] = {nullptr};
    if (!call(mexFunction, 1, plhs, a.arrays, 9).empty() || plhs[0] == nullptr) return false;
    const mxArray_tag* x = plhs[0];
    const std::size_t n = static_cast<std::size_t>(p.n);
    bool same = x->m == n && x->n == 1 && std::strcmp(x->className, "double") == 0;
    for (std::size_t i = 0; same && i < n; ++i) same = sameDouble(x->pr[i], p.expected[i]);
    if (!same)
        for (std::size_t i = 0; i < n && i < x->m; ++i)
            std::printf("    x[%zu] = %.17g, native %.17g\n", i, x->pr[i], p.expected[i]);
    destroy(plhs[0]);
    return same;
}

// One bad call, which must raise `id`, followed by a good one, which must
// still give the native answer. nrhs < 0: as many as the spoiled arguments.
bool rejects(MexFunction mexFunction, Problem& good, const char* id, int nlhs, int nrhs,
             void (*spoil)(Arguments&)) {
    Arguments a = argumentsOf(good);
    spoil(a);
    mxArray_tag* plhs[4] = {nullptr, nullptr, nullptr, nullptr};
    const std::string raised =
        call(mexFunction, nlhs, plhs, a.arrays, nrhs < 0 ? static_cast<int>(a.arrays.size()) : nrhs);
    for (mxArray_tag* out : plhs) destroy(out);
    const bool ok = raised == id && solvesLikeNative(mexFunction, good);
    std::printf("%s: %s\n", ok ? "ok  " : "FAIL", id);
    return ok;
}

int checkErrors(MexFunction mexFunction, Problem& good) {
    static double nan = std::nan("");
    int failures = 0;
    failures += !rejects(mexFunction, good, "Brelvane:nargin", 1, 8, [](Arguments&) {});
    failures += !rejects(mexFunction, good, "Brelvane:nargout", 4, 9, [](Arguments&) {});
    failures += !rejects(mexFunction, good, "Brelvane:unknownOption", 1, -1, [](Arguments& a) {
        a.addText("Tolerence"), a.add("double", {1.0});
    });
    failures += !rejects(mexFunction, good, "Brelvane:unknownOption", 1, -1, [](Arguments& a) {
        a.addText("GradientTolerance", "string"), a.add("double", {1.0});
    });
    failures += !rejects(mexFunction, good, "Brelvane:badOption", 1, -1,
                         [](Arguments& a) { a.addText("gradienttolerance"); });
    failures += !rejects(mexFunction, good, "Brelvane:badOption", 1, -1, [](Arguments& a) {
        a.addText("GradientTolerance"), a.add("double", {-1.0});
    });
    failures += !rejects(mexFunction, good, "Brelvane:notDouble", 1, 9,
                         [](Arguments& a) { a.arrays[1].className = "single"; });
    failures += !rejects(mexFunction, good, "Brelvane:complex", 1, 9,
                         [](Arguments& a) { a.arrays[4].isComplex = true; });
    failures += !rejects(mexFunction, good, "Brelvane:sparse", 1, 9,
                         [](Arguments& a) { a.arrays[5].isSparse = true; });
    failures += !rejects(mexFunction, good, "Brelvane:tooShort", 1, 9,
                         [](Arguments& a) { a.arrays[2].m -= 1; });
    // P or Q of more than one row must be n-by-n (n = 2 here) or a column.
    failures += !rejects(mexFunction, good, "Brelvane:sizeMismatch", 1, 9, [](Arguments& a) {
        a.extra.push_back(std::vector<double>(9, 1.0));
        a.arrays[1] = mxArray_tag{"double", false, false, 3, 3, a.extra.back().data()};
    });
    failures += !rejects(mexFunction, good, "Brelvane:sizeMismatch", 1, 9, [](Arguments& a) {
        a.extra.push_back(std::vector<double>(8, 1.0));
        a.arrays[4] = mxArray_tag{"double", false, false, 2, 4, a.extra.back().data()};
        a.arrays[4].pages = 2;
    });
    failures += !rejects(mexFunction, good, "Brelvane:notFinite", 1, 9,
                         [](Arguments& a) { a.arrays[7].pr = &nan; });
    return failures;
}

// A tolerance of 0 changes nothing, and info reports the run; then Ctrl+C as
// the stand-in libut raises it at the poll after the start-up products.
int checkOptionsAndInterrupt(MexFunction mexFunction, Problem& good, HMODULE libut) {
    int failures = 0;
    Arguments a = argumentsOf(good);
    a.addText("GRADIENTtolerance"), a.add("double", {0.0});
    mxArray_tag* plhs[3] = {nullptr, nullptr, nullptr};
    bool ok = call(mexFunction, 3, plhs, a.arrays, 11).empty() && plhs[0] != nullptr &&
              plhs[1] != nullptr && plhs[2] != nullptr;
    if (ok) {
        const mxArray_tag* info = plhs[2];
        const mxArray_tag* ratio = field(info, "ratio");
        const mxArray_tag* iterations = field(info, "iterations");
        const std::string stop = textOf(field(info, "stop"));
        ok = std::strcmp(info->className, "struct") == 0 && info->fieldCount == 10 && textOf(field(info, "scaling")) == "none" &&
             field(info, "gradient") != nullptr && ratio != nullptr && iterations != nullptr &&
             sameDouble(ratio->pr[0], plhs[1]->pr[plhs[1]->m - 1]) &&
             (stop == "iterations" || stop == "stationary") &&
             plhs[1]->m == static_cast<std::size_t>(std::max<std::int64_t>(good.iterations, 0)) + 1;
        for (std::size_t i = 0; ok && i < good.expected.size(); ++i)
            ok = sameDouble(plhs[0]->pr[i], good.expected[i]);
        std::printf("    info.stop = %s, info.iterations = %g\n", stop.c_str(),
                    iterations ? iterations->pr[0] : -1.0);
    }
    for (mxArray_tag* out : plhs) destroy(out);
    std::printf("%s: options and info\n", ok ? "ok  " : "FAIL");
    failures += !ok;

    using InterruptAtPoll = void (*)(long);
    using Pending = bool (*)();
    const auto interruptAtPoll = reinterpret_cast<InterruptAtPoll>(
        reinterpret_cast<void*>(GetProcAddress(libut, "standinInterruptAtPoll")));
    const auto pending = reinterpret_cast<Pending>(
        reinterpret_cast<void*>(GetProcAddress(libut, "standinInterruptPending")));
    interruptAtPoll(0);
    Arguments b = argumentsOf(good);
    b.iterationsValue[0] = 1e15;
    mxArray_tag* x[1] = {nullptr};
    ok = call(mexFunction, 0, x, b.arrays, 9) == "Brelvane:interrupted" && !pending();
    destroy(x[0]);
    interruptAtPoll(-1);
    ok = ok && solvesLikeNative(mexFunction, good);
    std::printf("%s: Brelvane:interrupted, the flag lowered, the next call right\n",
                ok ? "ok  " : "FAIL");
    return failures + !ok;
}

// r grows with the descent and is handed out in a block of exactly its
// elements: the worked example stops for the gradient after 2 of 10^8
// iterations (r of 3), and is stationary long before 1000 (r filled out to
// 1001, past the first storage of 256, when info is not asked for).
int checkTraceLength(MexFunction mexFunction, Problem& example) {
    int failures = 0;
    for (const double cap : {1e8, 1000.0}) {
        Arguments a = argumentsOf(example);
        a.iterationsValue[0] = cap;
        if (cap == 1e8) a.addText("GradientTolerance"), a.add("double", {1e-3});
        const int nlhs = cap == 1e8 ? 3 : 2;
        mxArray_tag* plhs[3] = {nullptr, nullptr, nullptr};
        bool ok = call(mexFunction, nlhs, plhs, a.arrays, nlhs == 3 ? static_cast<int>(a.arrays.size()) : 9).empty() &&
                  plhs[1] != nullptr && (nlhs == 2 || plhs[2] != nullptr);
        const std::size_t rows = cap == 1e8 ? 3 : 1001;
        const std::string stop = ok && nlhs == 3 ? textOf(field(plhs[2], "stop")) : "stationary";
        ok = ok && plhs[1]->m == rows && plhs[1]->n == 1 && plhs[1]->capacity == rows &&
             stop == (cap == 1e8 ? "gradient" : "stationary") &&
             (nlhs == 2 || sameDouble(plhs[1]->pr[rows - 1], field(plhs[2], "ratio")->pr[0]));
        for (mxArray_tag* out : plhs) destroy(out);
        std::printf("%s: r of %zu elements for a cap of %g (%s)\n", ok ? "ok  " : "FAIL", rows, cap,
                    stop.c_str());
        failures += !ok;
    }
    return failures;
}

// A host control exported by a stand-in DLL, or null.
template <typename Function>
Function* control(const char* dll, const char* name) {
    HMODULE module = GetModuleHandleA(dll);
    return module == nullptr ? nullptr
                             : reinterpret_cast<Function*>(
                                   reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// A step to the line's maximum: D = 1 and N = (x1^2 - x2^2) / 2 from (1, 1),
// whose second step raises R from -0.5 to 0 (the third changes nothing).
// info.rises counts it, and the module warns once with Brelvane:rise; a call
// without a rise does not warn.
int checkRiseWarning(MexFunction mexFunction, Problem& good) {
    const auto count = control<int()>("libmex.dll", "standinWarningCount");
    const auto lastId = control<const char*()>("libmex.dll", "standinLastWarningId");
    const auto last = control<const char*()>("libmex.dll", "standinLastWarning");
    const auto reset = control<void()>("libmex.dll", "standinResetShown");
    if (count == nullptr || lastId == nullptr || last == nullptr || reset == nullptr) {
        std::printf("FAIL: libmex.dll lacks the stand-in's controls\n");
        return 1;
    }
    Problem p;
    p.n = 2, p.iterations = 4;
    p.x0 = {1, 1}, p.P = {1, 0, 0, -1}, p.c = {0, 0}, p.alpha = {0};
    p.Q = {0, 0, 0, 0}, p.d = {0, 0}, p.beta = {1};
    Arguments a = argumentsOf(p);
    mxArray_tag* plhs[3] = {nullptr, nullptr, nullptr};
    reset();
    bool ok = call(mexFunction, 3, plhs, a.arrays, 9).empty() && plhs[2] != nullptr;
    const mxArray_tag* rises = ok ? field(plhs[2], "rises") : nullptr;
    ok = ok && rises != nullptr && rises->pr[0] == 1.0 && count() == 1 &&
         std::strcmp(lastId(), "Brelvane:rise") == 0 &&
         std::strstr(last(), "1 of the 3 steps computed raised R") != nullptr;
    std::printf("    warning %s: %s\n", lastId(), last());
    for (mxArray_tag* out : plhs) destroy(out);
    reset();
    ok = ok && solvesLikeNative(mexFunction, good) && count() == 0;
    std::printf("%s: Brelvane:rise once, with info.rises; none without a rise\n",
                ok ? "ok  " : "FAIL");
    return !ok;
}

// 'Display' as MATLAB sees it (libut loaded): 'iter' prints a header, the
// start's line and the final line and evaluates drawnow once, 'final' prints
// one line and evaluates nothing; x is as without. An error from drawnow
// (Ctrl+C's, say) ends the call with Brelvane:interrupted, and the next call
// is right.
int checkDisplay(MexFunction mexFunction, Problem& good) {
    const auto printed = control<const char*()>("libmex.dll", "standinPrinted");
    const auto evaluations = control<int()>("libmex.dll", "standinEvaluations");
    const auto lastEvaluated = control<const char*()>("libmex.dll", "standinLastEvaluated");
    const auto failAt = control<void(long)>("libmex.dll", "standinFailEvaluationAt");
    const auto reset = control<void()>("libmex.dll", "standinResetShown");
    if (!printed || !evaluations || !lastEvaluated || !failAt || !reset) {
        std::printf("FAIL: libmex.dll lacks the stand-in's display controls\n");
        return 1;
    }
    int failures = 0;
    for (const char* level : {"iter", "Final"}) {
        const bool iter = level[0] == 'i';
        Arguments a = argumentsOf(good);
        a.addText("display"), a.addText(level);
        mxArray_tag* x[1] = {nullptr};
        reset();
        bool ok = call(mexFunction, 1, x, a.arrays, 11).empty() && x[0] != nullptr;
        for (std::size_t i = 0; ok && i < good.expected.size(); ++i)
            ok = sameDouble(x[0]->pr[i], good.expected[i]);
        destroy(x[0]);
        const char* text = printed();
        const char* final = std::strstr(text, "Brelvane: ");
        ok = ok && final != nullptr && std::strchr(final, '\n') == text + std::strlen(text) - 1 &&
             (std::strstr(text, "iteration") == text + 3) == iter &&
             evaluations() == (iter ? 1 : 0) &&
             (!iter || std::strcmp(lastEvaluated(), "drawnow;") == 0);
        std::printf("%s: Display '%s' printed:\n%s", ok ? "ok  " : "FAIL", level, text);
        failures += !ok;
    }
    Arguments b = argumentsOf(good);
    b.iterationsValue[0] = 1e15;
    b.addText("Display"), b.addText("iter");
    mxArray_tag* x[1] = {nullptr};
    failAt(0);
    bool ok = call(mexFunction, 0, x, b.arrays, 11) == "Brelvane:interrupted";
    destroy(x[0]);
    failAt(-1);
    ok = ok && solvesLikeNative(mexFunction, good);
    std::printf("%s: an error from drawnow: Brelvane:interrupted, the next call right\n",
                ok ? "ok  " : "FAIL");
    return failures + !ok;
}

// Octave on Windows, after libut.dll is gone: with no host flag at all the
// module runs as usual; with the stand-in liboctave loaded, a raised
// octave_interrupt_state ends the call at its first poll, after the start-up
// products, and is lowered.
int checkOctaveInterrupt(MexFunction mexFunction, Problem& good) {
    bool ok = solvesLikeNative(mexFunction, good);
    std::printf("%s: runs with neither libut nor liboctave loaded\n", ok ? "ok  " : "FAIL");
    int failures = !ok;
    HMODULE liboctave = LoadLibraryA("liboctave-standin.dll");
    int* state = liboctave == nullptr ? nullptr
                                      : reinterpret_cast<int*>(reinterpret_cast<void*>(
                                            GetProcAddress(liboctave, "octave_interrupt_state")));
    if (state == nullptr) {
        std::printf("FAIL: no octave_interrupt_state in liboctave-standin.dll\n");
        return failures + 1;
    }
    *state = 1;
    Arguments b = argumentsOf(good);
    b.iterationsValue[0] = 1e15;
    mxArray_tag* x[1] = {nullptr};
    ok = call(mexFunction, 0, x, b.arrays, 9) == "Brelvane:interrupted" && *state == 0;
    destroy(x[0]);
    ok = ok && solvesLikeNative(mexFunction, good);
    std::printf("%s: Octave's flag: Brelvane:interrupted, the flag lowered, the next call right\n",
                ok ? "ok  " : "FAIL");
    failures += !ok;
    // In Octave 'iter' prints, and evaluates nothing.
    const auto printed = control<const char*()>("libmex.dll", "standinPrinted");
    const auto evaluations = control<int()>("libmex.dll", "standinEvaluations");
    const auto reset = control<void()>("libmex.dll", "standinResetShown");
    Arguments c = argumentsOf(good);
    c.addText("Display"), c.addText("iter");
    if (reset) reset();
    ok = printed && evaluations && reset && call(mexFunction, 0, x, c.arrays, 11).empty() &&
         std::strstr(printed(), "iteration") != nullptr && evaluations() == 0;
    destroy(x[0]);
    std::printf("%s: Octave's host: Display 'iter' prints and evaluates nothing\n",
                ok ? "ok  " : "FAIL");
    FreeLibrary(liboctave);
    return failures + !ok;
}

// The pass shared among threads: the native answer, bit for bit, from the
// module's own threads (MinGW-w64's, linked in), and info.threads says how
// many ran: at most the processors the process may use.
int checkThreads(MexFunction mexFunction, Problem& wide) {
    DWORD_PTR process = 0, system = 0;
    double processors = 1.0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0)
        processors = __builtin_popcountll(process);
    bool ok = true;
    for (const double threads : {1.0, 3.0}) {
        Arguments a = argumentsOf(wide);
        a.addText("Threads"), a.add("double", {threads});
        mxArray_tag* plhs[3] = {nullptr, nullptr, nullptr};
        ok = ok && call(mexFunction, 3, plhs, a.arrays, 11).empty() && plhs[2] != nullptr &&
             field(plhs[2], "threads")->pr[0] == std::min(threads, processors);
        for (std::size_t i = 0; ok && i < wide.expected.size(); ++i)
            ok = sameDouble(plhs[0]->pr[i], wide.expected[i]);
        for (mxArray_tag* out : plhs) destroy(out);
    }
    std::printf("%s: n = %lld on 1 and 3 threads (at most %g), the native answer\n",
                ok ? "ok  " : "FAIL", static_cast<long long>(wide.n), processors);
    return !ok;
}

// Brelvane('eigenpairs', P, Q, 2, 'sa', 'Threads', 2), as BrelvaneEigs.m
// calls it, on P = diag(3, 1, 2, 5, 4) and Q = 2 I: lambda = (0.5, 1) and V
// the unit vectors 2 and 3 over sqrt(2), up to sign; with -Q the error
// Brelvane:notPositiveDefinite.
int checkEigenpairs(MexFunction mexFunction) {
    const std::size_t n = 5;
    const double diagonal[n] = {3, 1, 2, 5, 4};
    bool ok = true;
    for (const double q : {2.0, -2.0}) {
        Arguments a;
        a.extra.reserve(8);
        a.addText("eigenpairs");
        std::vector<double> P(n * n, 0.0), Q(n * n, 0.0);
        for (std::size_t i = 0; i < n; ++i) P[i * (n + 1)] = diagonal[i], Q[i * (n + 1)] = q;
        a.add("double", P), a.arrays.back().m = n, a.arrays.back().n = n;
        a.add("double", Q), a.arrays.back().m = n, a.arrays.back().n = n;
        a.add("double", {2.0});
        a.addText("sa");
        a.addText("Threads"), a.add("double", {2.0});
        mxArray_tag* plhs[3] = {nullptr, nullptr, nullptr};
        const std::string id = call(mexFunction, 3, plhs, a.arrays, 7);
        if (q < 0.0) {
            ok = ok && id == "Brelvane:notPositiveDefinite";
        } else {
            ok = ok && id.empty() && plhs[1] != nullptr && plhs[2] != nullptr &&
                 std::fabs(plhs[1]->pr[0] - 0.5) < 1e-12 && std::fabs(plhs[1]->pr[1] - 1.0) < 1e-12 &&
                 textOf(field(plhs[2], "stop")) == "tolerance";
            for (std::size_t i = 0; ok && i < 2 * n; ++i) {
                const std::size_t one = i < n ? 1 : n + 2;  // rows 2 and 3, 0-based 1 and 2
                const double want = i == one ? std::sqrt(0.5) : 0.0;
                ok = std::fabs(std::fabs(plhs[0]->pr[i]) - want) < 1e-9;
            }
        }
        if (!ok && id.empty() && plhs[2] != nullptr)
            std::printf("    lambda = (%.17g, %.17g), stop '%s', V(:, 1) = (%g, %g, %g, %g, %g)\n",
                        plhs[1]->pr[0], plhs[1]->pr[1], textOf(field(plhs[2], "stop")).c_str(),
                        plhs[0]->pr[0], plhs[0]->pr[1], plhs[0]->pr[2], plhs[0]->pr[3],
                        plhs[0]->pr[4]);
        for (mxArray_tag* out : plhs) destroy(out);
    }
    std::printf("%s: eigenpairs of a diagonal pencil, and -Q refused as not positive definite\n",
                ok ? "ok  " : "FAIL");
    return !ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <module.mexw64> <cases file>\n", argv[0]);
        return 2;
    }
    // MATLAB has libut loaded before any MEX file; the module finds it by name.
    HMODULE libut = LoadLibraryA("libut.dll");
    if (libut == nullptr) {
        std::fprintf(stderr, "LoadLibrary(libut.dll) failed: error %lu\n", GetLastError());
        return 1;
    }
    HMODULE module = LoadLibraryA(argv[1]);
    if (module == nullptr) {
        std::fprintf(stderr, "LoadLibrary(%s) failed: error %lu\n", argv[1], GetLastError());
        return 1;
    }
    const auto mexFunction = reinterpret_cast<MexFunction>(
        reinterpret_cast<void*>(GetProcAddress(module, "mexFunction")));
    std::vector<Problem> problems = readProblems(argv[2]);
    if (mexFunction == nullptr || problems.empty()) {
        std::fprintf(stderr, "no mexFunction in the module, or no problems in %s\n", argv[2]);
        return 1;
    }
    int failures = 0;
    for (std::size_t i = 0; i < problems.size(); ++i) {
        const bool ok = solvesLikeNative(mexFunction, problems[i]);
        std::printf("%s: problem %zu (n = %lld, iterations = %lld)\n", ok ? "ok  " : "FAIL", i,
                    static_cast<long long>(problems[i].n),
                    static_cast<long long>(problems[i].iterations));
        failures += !ok;
    }
    failures += checkErrors(mexFunction, problems.front());
    failures += checkOptionsAndInterrupt(mexFunction, problems.front(), libut);
    failures += checkTraceLength(mexFunction, problems.front());
    failures += checkRiseWarning(mexFunction, problems.front());
    failures += checkDisplay(mexFunction, problems.front());
    failures += checkThreads(mexFunction, problems.back());
    failures += checkEigenpairs(mexFunction);
    FreeLibrary(libut);
    failures += checkOctaveInterrupt(mexFunction, problems.front());
    FreeLibrary(module);
    std::printf("%d failure(s)\n", failures);
    return failures == 0 ? 0 : 1;
}
