// Stand-in libut.dll: MATLAB's interrupt flag, which the module looks up at run
// time, and a control for the host to raise it as Ctrl+C would.
namespace {
// The poll that raises the flag (0 = the next), counted down; negative: never.
long pollsBeforeInterrupt = -1;
bool pending = false;
}  // namespace

extern "C" {

__declspec(dllexport) bool utIsInterruptPending() {
    if (pollsBeforeInterrupt >= 0 && --pollsBeforeInterrupt < 0) pending = true;
    return pending;
}

__declspec(dllexport) bool utSetInterruptPending(bool value) {
    const bool was = pending;
    pending = value;
    return was;
}

__declspec(dllexport) void standinInterruptAtPoll(long poll) {
    pollsBeforeInterrupt = poll;
    pending = false;
}

__declspec(dllexport) bool standinInterruptPending() { return pending; }

}  // extern "C"
