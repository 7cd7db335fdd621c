// Stand-in libut (libut.dll under Wine, libut.so natively): MATLAB's interrupt
// flag, which the module looks up at run time, and controls for the host to
// raise it as Ctrl+C would and to count the module's polls.
#if defined(_WIN32)
#define STANDIN_EXPORT __declspec(dllexport)
#else
#define STANDIN_EXPORT __attribute__((visibility("default")))
#endif

namespace {
// The poll that raises the flag (0 = the next), counted down; negative: never.
long pollsBeforeInterrupt = -1;
bool pending = false;
long polls = 0;
}  // namespace

extern "C" {

STANDIN_EXPORT bool utIsInterruptPending() {
    ++polls;
    if (pollsBeforeInterrupt >= 0 && --pollsBeforeInterrupt < 0) pending = true;
    return pending;
}

STANDIN_EXPORT bool utSetInterruptPending(bool value) {
    const bool was = pending;
    pending = value;
    return was;
}

// Raises the flag at the poll-th poll from now, lowers it and restarts the count.
STANDIN_EXPORT void standinInterruptAtPoll(long poll) {
    pollsBeforeInterrupt = poll;
    pending = false;
    polls = 0;
}

STANDIN_EXPORT bool standinInterruptPending() { return pending; }

STANDIN_EXPORT long standinInterruptPollCount() { return polls; }

}  // extern "C"
