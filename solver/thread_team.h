// A team of threads for the per-iteration pass of one solve.
#ifndef BRELVANE_THREAD_TEAM_H
#define BRELVANE_THREAD_TEAM_H

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace brelvane {

// Bytes of a task's arguments and of a slice's result: each travels between
// threads in one cache line, with the number that announces it.
constexpr int teamMessageBytes = 56;

// A task: the work of slice `slice` of the team, from the arguments the
// caller posted, its result written into `result` (teamMessageBytes).
using TeamTask = void (*)(void* context, int slice, const void* arguments, void* result);

// Runs one task on `size` slices at once, slice 0 on the calling thread and
// slice s on worker s. Workers live from startTeam to stopTeam, within one
// solve; between tasks they spin for a few microseconds, then yield the
// processor, then sleep, so a team that waits long costs no processor time.
struct ThreadTeam {
    int size = 1;
    TeamTask task = nullptr;
    void* context = nullptr;
    std::thread* workers = nullptr;  // size - 1 of them
    bool stopping = false;
    // The task posted last, its number and arguments in one line.
    struct alignas(64) Post {
        std::atomic<std::uint64_t> number{0};
        unsigned char arguments[teamMessageBytes];
    } post;
    // Slice s's result, and the number of the task it belongs to.
    struct alignas(64) Done {
        std::atomic<std::uint64_t> number{0};
        unsigned char result[teamMessageBytes];
    };
    Done* done = nullptr;  // size of them
    alignas(64) std::atomic<int> sleepers{0};
    std::mutex mutex;
    std::condition_variable wake;
};

// Starts up to size - 1 workers for `task` on `context`; the team's size is
// 1 plus those that started (1 when memory or the system refuses threads).
void startTeam(ThreadTeam& team, int size, TeamTask task, void* context);

// Runs the task with `arguments` (teamMessageBytes) on every slice of a
// team of at least 2; returns once all are done, their results in
// team.done[s].result.
void runOnTeam(ThreadTeam& team, const void* arguments);

// Ends and joins the workers; the team is then of size 1.
void stopTeam(ThreadTeam& team);

// The processors this process may run on: those of its affinity mask, fewer
// where OMP_NUM_THREADS says fewer (it never raises the count) or a
// container's CPU quota allows fewer (cgroup v2 cpu.max, v1
// cpu.cfs_quota_us; a quota of 1.5 processors counts as 2); at least 1.
int processorsAvailable();

// The rule processorsAvailable applies: `affinity` processors (at least 1),
// at most OMP_NUM_THREADS's number where that text is a positive number, and
// at most the quota rounded up where that is positive.
int processorsFor(int affinity, const char* ompNumThreads, double quota);

// The CPU quota of a cgroup, in processors: v2's cpu.max in folder v2, or
// else v1's cpu.cfs_quota_us over cpu.cfs_period_us in folder v1; 0 where
// none is set or none can be read.
double cgroupCpuQuota(const char* v2, const char* v1);

}  // namespace brelvane

#endif
