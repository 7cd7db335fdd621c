// Solves on several threads at once give the results of the same solves run one after another.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <random>
#include <thread>
#include <vector>

#include "brelvane/ratio_descent.h"
#include "random_problems.h"
#include "test_support.h"

using namespace brelvane;

namespace {

struct Solution {
    std::vector<double> x, trace;
    RatioDescentStatus status = ratioDescentOk;
};

// Odd problems through ratioDescentTrace, even ones through ratioDescent.
Solution solve(const Problem& p, std::size_t index) {
    Solution s;
    s.x.assign(static_cast<std::size_t>(p.n), -7.0);
    if (index % 2 == 1) {
        s.trace.assign(static_cast<std::size_t>(p.iterations > 0 ? p.iterations : 0) + 1, -7.0);
        s.status =
            ratioDescentTrace(s.x.data(), s.trace.data(), p.x0.data(), p.P.data(), p.c.data(),
                              p.alpha, p.Q.data(), p.d.data(), p.beta, p.n, p.iterations);
    } else {
        s.status = ratioDescent(s.x.data(), p.x0.data(), p.P.data(), p.c.data(), p.alpha,
                                p.Q.data(), p.d.data(), p.beta, p.n, p.iterations);
    }
    return s;
}

bool sameSolution(const Solution& a, const Solution& b) {
    if (a.status != b.status || a.x.size() != b.x.size() || a.trace.size() != b.trace.size())
        return false;
    for (std::size_t i = 0; i < a.x.size(); ++i)
        if (!sameDouble(a.x[i], b.x[i])) return false;
    for (std::size_t t = 0; t < a.trace.size(); ++t)
        if (!sameDouble(a.trace[t], b.trace[t])) return false;
    return true;
}

}  // namespace

// The first solves in this process are the concurrent ones, released together,
// so the choice of the pass variant is made under contention too.
TEST(Concurrency, SimultaneousSolvesMatchTheSameSolvesRunOneAfterAnother) {
    std::mt19937_64 rng(testSeed("SimultaneousSolvesMatchTheSameSolvesRunOneAfterAnother", 2718));
    for (unsigned threads : {8u, 2u, 3u, 5u}) {
        // Each thread solves its own problems: sizes across every SIMD tail,
        // some large enough for the BLAS to take its blocked path.
        const std::size_t perThread = 6;
        std::vector<Problem> problems;
        for (std::size_t i = 0; i < threads * perThread; ++i)
            problems.push_back(i % 3 == 0 ? dyadicProblem(rng, 17) : generalProblem(rng, 1, 300));

        std::vector<Solution> concurrent(problems.size());
        std::atomic<unsigned> waiting{threads};
        std::vector<std::thread> pool;
        for (unsigned t = 0; t < threads; ++t)
            pool.emplace_back([&, t] {
                waiting.fetch_sub(1);
                while (waiting.load() != 0) std::this_thread::yield();
                for (std::size_t i = t; i < problems.size(); i += threads)
                    concurrent[i] = solve(problems[i], i);
            });
        for (std::thread& thread : pool) thread.join();

        for (std::size_t i = 0; i < problems.size(); ++i)
            EXPECT_TRUE(sameSolution(concurrent[i], solve(problems[i], i)))
                << threads << " threads, problem " << i << " (n = " << problems[i].n
                << ", iterations = " << problems[i].iterations << ")";
    }
}
