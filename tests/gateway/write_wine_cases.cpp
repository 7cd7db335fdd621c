// Writes problems and the native solver's answers for the Wine host to replay.
//
//   brelvane_write_wine_cases <cases file> [seed]
//
// Random problems use small integers, so the start-up products are exact
// whichever dsymv sums them: the Windows module's answers must then agree bit
// for bit. Output format: see wine/wine_host.cpp.
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "brelvane/ratio_descent.h"

using namespace brelvane;

namespace {

struct Problem {
    std::int64_t n;
    std::int64_t iterations;
    std::vector<double> x0, P, c, Q, d;
    double alpha, beta;
};

void writeDoubles(std::FILE* out, const double* v, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        std::uint64_t bits;
        std::memcpy(&bits, &v[i], sizeof bits);
        std::fprintf(out, " %016" PRIx64, bits);
    }
}

bool writeProblem(std::FILE* out, const Problem& p) {
    const std::size_t n = static_cast<std::size_t>(p.n);
    std::vector<double> x(n);
    if (ratioDescent(x.data(), p.x0.data(), p.P.data(), p.c.data(), p.alpha, p.Q.data(), p.d.data(),
                     p.beta, p.n, p.iterations) != ratioDescentOk)
        return false;
    std::fprintf(out, "%" PRId64 " %" PRId64, p.n, p.iterations);
    writeDoubles(out, p.x0.data(), n);
    writeDoubles(out, p.P.data(), n * n);
    writeDoubles(out, p.c.data(), n);
    writeDoubles(out, &p.alpha, 1);
    writeDoubles(out, p.Q.data(), n * n);
    writeDoubles(out, p.d.data(), n);
    writeDoubles(out, &p.beta, 1);
    writeDoubles(out, x.data(), n);
    std::fprintf(out, "\n");
    return true;
}

// Symmetric P, Q (integers in [-4, 4]) with a positive diagonal, so most
// iterations take finite steps; integer vectors and constants in [-4, 4].
// Of n and iterations as given, else small and random.
Problem randomProblem(std::mt19937_64& rng, std::int64_t order = 0, std::int64_t iterations = 0) {
    std::uniform_int_distribution<int> size(1, 7), steps(0, 12), entry(-4, 4), diagonal(1, 6);
    Problem p;
    p.n = order > 0 ? order : size(rng);
    p.iterations = order > 0 ? iterations : steps(rng);
    const std::size_t n = static_cast<std::size_t>(p.n);
    p.P.assign(n * n, 0.0);
    p.Q.assign(n * n, 0.0);
    for (std::size_t j = 0; j < n; ++j)
        for (std::size_t i = j; i < n; ++i) {
            p.P[i + j * n] = p.P[j + i * n] = i == j ? diagonal(rng) : entry(rng);
            p.Q[i + j * n] = p.Q[j + i * n] = i == j ? diagonal(rng) : entry(rng);
        }
    for (std::vector<double>* v : {&p.x0, &p.c, &p.d})
        for (std::size_t i = 0; i < n; ++i) v->push_back(entry(rng));
    p.alpha = entry(rng);
    p.beta = diagonal(rng);
    return p;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <cases file> [seed]\n", argv[0]);
        return 2;
    }
    const unsigned long long seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 20240611ULL;
    std::printf("seed %llu\n", seed);
    std::FILE* out = std::fopen(argv[1], "w");
    if (out == nullptr) return 1;
    // The worked example: two iterations reach [1 - sqrt(3); 1e-100]. It comes
    // first, since the host also uses it as the good call beside its bad ones.
    bool ok =
        writeProblem(out, Problem{2, 2, {1, 1}, {2, 0, 0, 4}, {1, 0}, {1, 0, 0, 1}, {0, 0}, 1, 1});
    ok = ok && writeProblem(out, Problem{0, 3, {}, {}, {}, {}, {}, 1, 1});
    std::mt19937_64 rng(seed);
    for (int i = 0; i < 40 && ok; ++i) ok = writeProblem(out, randomProblem(rng));
    // Last, one large enough for the host to share its pass among threads,
    // and long enough for the team to run after its first window alone.
    ok = ok && writeProblem(out, randomProblem(rng, 300, 4000));
    return std::fclose(out) == 0 && ok ? 0 : 1;
}
