// The team of threads that shares the per-iteration pass: posting a task, spinning, sleeping.
#include "thread_team.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#if defined(__x86_64__) || defined(_M_X64)
#include <immintrin.h>
#endif
#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#elif defined(__linux__)
#include <sched.h>
#else
#include <unistd.h>
#endif

namespace brelvane {

namespace {

// A waiting thread spins (a few microseconds: longer than the step between
// two passes), then yields the processor a while, to any thread that has
// work, and then, as a worker, sleeps: a team waiting long costs no
// processor time.
constexpr int spinsBeforeYield = 1 << 11;
constexpr int spinsBeforeSleep = 1 << 13;

void pause() {
#if defined(__x86_64__) || defined(_M_X64)
    _mm_pause();
#else
    std::this_thread::yield();
#endif
}

// Waits until a task other than `seen` is posted; returns its number.
std::uint64_t awaitTask(ThreadTeam& team, std::uint64_t seen) {
    for (int i = 0; i < spinsBeforeSleep; ++i) {
        const std::uint64_t posted = team.post.number.load(std::memory_order_acquire);
        if (posted != seen) return posted;
        if (i < spinsBeforeYield)
            pause();
        else
            std::this_thread::yield();
    }
    // Registered as a sleeper before the last look, so that a poster who
    // posts after that look sees the registration and wakes us (both sides
    // sequentially consistent).
    std::unique_lock<std::mutex> lock(team.mutex);
    team.sleepers.fetch_add(1, std::memory_order_seq_cst);
    team.wake.wait(lock, [&] { return team.post.number.load(std::memory_order_seq_cst) != seen; });
    team.sleepers.fetch_sub(1, std::memory_order_relaxed);
    return team.post.number.load(std::memory_order_acquire);
}

// Runs the tasks posted after `seen`, the last one posted before the worker
// was started (a team started again keeps counting).
void work(ThreadTeam* team, int slice, std::uint64_t seen) {
    for (;;) {
        seen = awaitTask(*team, seen);
        if (team->stopping) return;
        ThreadTeam::Done& done = team->done[slice];
        team->task(team->context, slice, team->post.arguments, done.result);
        done.number.store(seen, std::memory_order_release);
    }
}

// Announces the arguments written into team.post (or the stop) to every
// worker.
std::uint64_t post(ThreadTeam& team) {
    const std::uint64_t task = team.post.number.fetch_add(1, std::memory_order_seq_cst) + 1;
    if (team.sleepers.load(std::memory_order_seq_cst) > 0) {
        std::lock_guard<std::mutex> lock(team.mutex);
        team.wake.notify_all();
    }
    return task;
}

}  // namespace

void startTeam(ThreadTeam& team, int size, TeamTask task, void* context) {
    team.size = 1;
    team.task = task;
    team.context = context;
    if (size < 2) return;
    team.done = new (std::nothrow) ThreadTeam::Done[static_cast<std::size_t>(size)];
    team.workers = static_cast<std::thread*>(
        std::malloc(sizeof(std::thread) * static_cast<std::size_t>(size - 1)));
    if (team.done == nullptr || team.workers == nullptr) {
        stopTeam(team);
        return;
    }
    const std::uint64_t seen = team.post.number.load(std::memory_order_relaxed);
    for (int s = 1; s < size; ++s) {
        // The system may refuse the thread (std::system_error) or the memory
        // its start needs (std::bad_alloc): the team is then those started.
        try {
            new (&team.workers[s - 1]) std::thread(work, &team, s, seen);
        } catch (...) {
            break;
        }
        team.size = s + 1;
    }
}

void runOnTeam(ThreadTeam& team, const void* arguments) {
    std::memcpy(team.post.arguments, arguments, teamMessageBytes);
    const std::uint64_t posted = post(team);
    team.task(team.context, 0, team.post.arguments, team.done[0].result);
    for (int s = 1; s < team.size; ++s)
        for (int spins = 0; team.done[s].number.load(std::memory_order_acquire) != posted; ++spins) {
            // A worker that is not running (more threads than free
            // processors) is given the processor.
            if (spins < spinsBeforeYield)
                pause();
            else
                std::this_thread::yield();
        }
}

void stopTeam(ThreadTeam& team) {
    if (team.size > 1) {
        team.stopping = true;
        post(team);
        for (int s = 1; s < team.size; ++s) {
            team.workers[s - 1].join();
            team.workers[s - 1].~thread();
        }
    }
    std::free(team.workers);
    delete[] team.done;
    team.workers = nullptr;
    team.done = nullptr;
    team.size = 1;
    team.stopping = false;
}

int processorsFor(int affinity, const char* ompNumThreads, double quota) {
    int count = affinity > 0 ? affinity : 1;
    if (ompNumThreads != nullptr) {
        char* end = nullptr;
        const long v = std::strtol(ompNumThreads, &end, 10);
        if (end != ompNumThreads && v > 0 && v < count) count = static_cast<int>(v);
    }
    // A quota of 1.5 processors lets two threads run, each part of the time.
    if (quota > 0.0 && quota < count) count = static_cast<int>(std::ceil(quota));
    return count < 1 ? 1 : count;
}

double cgroupCpuQuota(const char* v2, const char* v1) {
    char path[600];
    // cgroup v2: "max 100000" (none) or "<quota> <period>" in microseconds.
    std::snprintf(path, sizeof path, "%s/cpu.max", v2);
    if (std::FILE* f = std::fopen(path, "r")) {
        char quota[32] = "";
        double period = 0.0;
        const int read = std::fscanf(f, "%31s %lf", quota, &period);
        std::fclose(f);
        if (read == 2 && std::strcmp(quota, "max") != 0 && period > 0.0) {
            const double q = std::strtod(quota, nullptr);
            return q > 0.0 ? q / period : 0.0;
        }
        return 0.0;
    }
    // cgroup v1: cpu.cfs_quota_us (-1: none) over cpu.cfs_period_us.
    double quota = -1.0;
    double period = 0.0;
    std::snprintf(path, sizeof path, "%s/cpu.cfs_quota_us", v1);
    if (std::FILE* f = std::fopen(path, "r")) {
        if (std::fscanf(f, "%lf", &quota) != 1) quota = -1.0;
        std::fclose(f);
    }
    std::snprintf(path, sizeof path, "%s/cpu.cfs_period_us", v1);
    if (std::FILE* f = std::fopen(path, "r")) {
        if (std::fscanf(f, "%lf", &period) != 1) period = 0.0;
        std::fclose(f);
    }
    return quota > 0.0 && period > 0.0 ? quota / period : 0.0;
}

namespace {

#if defined(__linux__)
// The quota of this process's own cgroup: its paths from /proc/self/cgroup
// ("0::<path>" for v2, "<n>:<controllers with cpu>:<path>" for v1) below the
// usual mounts. In a container they are its own root.
double ownCgroupCpuQuota() {
    char v2[600] = "/sys/fs/cgroup";
    char v1[600] = "/sys/fs/cgroup/cpu";
    if (std::FILE* f = std::fopen("/proc/self/cgroup", "r")) {
        char line[512];
        while (std::fgets(line, sizeof line, f)) {
            line[std::strcspn(line, "\n")] = '\0';
            const char* first = std::strchr(line, ':');
            const char* second = first ? std::strchr(first + 1, ':') : nullptr;
            if (second == nullptr) continue;
            const std::string controllers(first + 1, second);
            if (std::strncmp(line, "0::", 3) == 0)
                std::snprintf(v2, sizeof v2, "/sys/fs/cgroup%s", second + 1);
            else if (("," + controllers + ",").find(",cpu,") != std::string::npos)
                std::snprintf(v1, sizeof v1, "/sys/fs/cgroup/cpu%s", second + 1);
        }
        std::fclose(f);
    }
    return cgroupCpuQuota(v2, v1);
}
#endif

}  // namespace

int processorsAvailable() {
    int count = 0;
    double quota = 0.0;
#if defined(_WIN32)
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system))
        for (; process != 0; process &= process - 1) ++count;
#elif defined(__linux__)
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) count = CPU_COUNT(&set);
    quota = ownCgroupCpuQuota();
#else
    count = static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN));
#endif
    if (count < 1) count = static_cast<int>(std::thread::hardware_concurrency());
    return processorsFor(count, std::getenv("OMP_NUM_THREADS"), quota);
}

}  // namespace brelvane
