// benchprobe: what single steps of the uninstaller cost on this system, in process, to tell
// where a run's time goes. Start-up steps are timed once each, as a fresh process meets
// them; the rest are repeated and given per call.
//   benchprobe SCRATCHFOLDER
#include "common/common.h"
#include "driver/driver.h"
#include "guards/guards.h"
#include "removal/removal.h"
#include "ui/ui.h"

#include <cstdio>
#include <string>

static LARGE_INTEGER frequency;

static double Now() {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) * 1000.0 / double(frequency.QuadPart);
}

template <class F> static void Once(const char *what, F step) {
    double start = Now();
    step();
    std::printf("once %-44s %9.3f ms\n", what, Now() - start);
}

template <class F> static void PerCall(const char *what, int count, F step) {
    double start = Now();
    for (int i = 0; i < count; i++)
        step(i);
    std::printf("each %-44s %9.3f us\n", what, (Now() - start) * 1000.0 / count);
}

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: benchprobe SCRATCHFOLDER\n");
        return 2;
    }
    QueryPerformanceFrequency(&frequency);
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    isNT = version.dwPlatformId == VER_PLATFORM_WIN32_NT;
    HINSTANCE instance = GetModuleHandleA(nullptr);
    moduleHandle = instance;
    Once("OleInitialize", [] { OleInitialize(nullptr); });
    Once("InitVisualStyles", [] { InitVisualStyles(); });
    Once("RegisterMainWindowClass", [] { RegisterMainWindowClass(); });
    Once("CreateMainWindow", [] { CreateMainWindow(); });
    Once("CloseMainWindow", [] { CloseMainWindow(); });
    Once("OleUninitialize", [] { OleUninitialize(); });

    std::string folder = argv[1];
    static char path[PATH_SIZE];
    std::snprintf(path, sizeof path, "%s\\probe-folder", folder.c_str());
    CreateDirectoryA(path, nullptr);
    PerCall("IsProtectedFolder (no match)", 200, [](int) { IsProtectedFolder(path); });
    const int files = 2000;
    auto name = [&](int i) {
        static char file[PATH_SIZE];
        std::snprintf(file, sizeof file, "%s\\probe%04d.dat", path, i);
        return file;
    };
    PerCall("CreateFileA (new file) + write + close", files, [&](int i) {
        HANDLE h = CreateFileA(name(i), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written;
        WriteFile(h, "probe", 5, &written, nullptr);
        CloseHandle(h);
    });
    PerCall("GetFileAttributesA", files, [&](int i) { GetFileAttributesA(name(i)); });
    PerCall("CreateFileA read-write + CloseHandle", files, [&](int i) {
        CloseHandle(CreateFileA(name(i), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    });
    PerCall("IsFileInUse", files, [&](int i) { IsFileInUse(name(i)); });
    PerCall("DeleteFileA", files, [&](int i) { DeleteFileA(name(i)); });
    PerCall("RegOpenKeyExA SharedDLLs + RegCloseKey", 2000, [](int) {
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                          "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs", 0,
                          KEY_ALL_ACCESS, &key) == ERROR_SUCCESS)
            RegCloseKey(key);
    });
    RemoveDirectoryA(path);
    return 0;
}
