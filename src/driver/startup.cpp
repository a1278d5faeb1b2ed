// The program's entry point: there is no C runtime, so it finds the command-line tail
// itself and hands the exit code of WinMain to the system.
#include "driver.h"

extern "C" __attribute__((externally_visible)) void WinMainCRTStartup() {
    const char *tail = SkipProgramName(GetCommandLineA());
    ExitProcess((UINT)WinMain(GetModuleHandleA(0), 0, (LPSTR)tail, SW_SHOWDEFAULT));
}
