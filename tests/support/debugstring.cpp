// GoogleTest hands every failure and skip to OutputDebugStringA as well, for a debugger's
// window. Under Wine that call raises and catches an exception, and Wine run by a user-mode
// emulator (on machines whose kernel runs no 32-bit code) cannot unwind one: the test
// program dies at its first skip. The tests print everything to their output anyway, so
// they take this quiet stand-in instead of the system's call.
#include <windows.h>

static void WINAPI KeepDebugStringQuiet(LPCSTR) {}

extern "C" {
void(WINAPI *testDebugString)(LPCSTR) __asm__("__imp__OutputDebugStringA@4") = KeepDebugStringQuiet;
}
