// Names that no other process can guess before they exist: the self-removal batch and a
// log that finds its numbered names taken.
#include "common.h"

typedef BOOLEAN(WINAPI *GenerateRandomProc)(void *, ULONG);

// The system's generator where it has one (advapi32's RtlGenRandom, exported under this
// name since XP and 2000 SP2; advapi32 is loaded already for the registry). Elsewhere, and
// if it fails, a hash of what changes between runs and between calls: the performance
// counter, the tick count, the process id and a call counter, each multiplied
// in and folded so that every bit of it reaches every bit of the result.
DWORD RandomNumber() {
    static DWORD calls;
    DWORD value = 0;
    GenerateRandomProc generate =
        (GenerateRandomProc)(void (*)())FindSystemFunction("advapi32.dll", "SystemFunction036");
    if (generate && generate(&value, sizeof value))
        return value;
    LARGE_INTEGER counter;
    counter.QuadPart = 0;
    QueryPerformanceCounter(&counter);
    DWORD parts[] = {counter.LowPart, (DWORD)counter.HighPart, GetTickCount(),
                     GetCurrentProcessId(), ++calls};
    for (DWORD i = 0; i < sizeof parts / sizeof parts[0]; i++) {
        value = (value ^ parts[i]) * 0x9E3779B1;
        value ^= value >> 15;
    }
    return value;
}
