// Stand-in for Octave's liboctave-<version>.dll: only the interrupt flag that
// Octave raises on Ctrl+C and the module looks up at run time. The host sets
// it directly.
extern "C" {
__declspec(dllexport) int octave_interrupt_state = 0;
}
