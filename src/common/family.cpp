// The system family, told by the system itself. A compatibility mode on the NT family makes
// GetVersion and GetVersionEx report 95/98/Me to the program it is applied to, but not
// ntdll's RtlGetVersion, which 95/98/Me do not have: taken for 95/98/Me, the program would
// use the narrow calls and lose what only the NT family can open and compare.
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
