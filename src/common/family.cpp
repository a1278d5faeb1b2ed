// The system family, told by the system itself. A compatibility layer on the NT family
// (Windows' own modes for older programs, or a setting that names a version for one
// program) reports 95/98/Me through GetVersion and GetVersionEx, but not through ntdll's
// RtlGetVersion, which 95/98/Me do not have: taken for 95/98/Me, the program would use the
// narrow calls and lose what only the NT family opens and compares.
#include "common.h"

void DetectSystemFamily(OSVERSIONINFOA *version) {
    typedef LONG(WINAPI * RtlGetVersionProc)(OSVERSIONINFOW *);
    FillBytes(version, 0, sizeof *version);
    version->dwOSVersionInfoSize = sizeof *version;
    // ntdll is in every process of the NT family; it is looked for, never loaded.
    RtlGetVersionProc systemVersion =
        (RtlGetVersionProc)(void (*)())FindSystemFunction("ntdll.dll", "RtlGetVersion");
    OSVERSIONINFOW own;
    FillBytes(&own, 0, sizeof own);
    own.dwOSVersionInfoSize = sizeof own;
    if (systemVersion && systemVersion(&own) == 0) { // STATUS_SUCCESS
        version->dwMajorVersion = own.dwMajorVersion;
        version->dwMinorVersion = own.dwMinorVersion;
        version->dwBuildNumber = own.dwBuildNumber;
        version->dwPlatformId = own.dwPlatformId;
    } else {
        GetVersionExA(version); // a failed call leaves the platform 0: not NT
    }
    isNT = version->dwPlatformId == VER_PLATFORM_WIN32_NT;
}
