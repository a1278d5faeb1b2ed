// A stand-in for a planted uxtheme.dll: when loaded, it creates the file named by the
// environment variable VANISH_PLANTED_MARK, so a test can tell that it was loaded.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    char mark[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("VANISH_PLANTED_MARK", mark, MAX_PATH);
    if (reason == DLL_PROCESS_ATTACH && n > 0 && n < MAX_PATH) {
        HANDLE file = CreateFileA(mark, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }
    return TRUE;
}
