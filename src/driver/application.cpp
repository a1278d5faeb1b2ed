// Set-up and release of the process-wide state.
#include "driver.h"
#include "../ui/ui.h"

int InitApplication(HINSTANCE instance) {
    moduleHandle = instance;
    RestrictDllSearch();
    OleInitialize(0);
    InitVisualStyles();
    if (!AllocateZeroed((void **)&modulePath, PATH_SIZE) ||
        !AllocateZeroed((void **)&workPath, PATH_SIZE) ||
        !AllocateZeroed((void **)&installFolder, PATH_SIZE))
        return 0;
    GetModuleFileNameA(moduleHandle, installFolder, PATH_SIZE);
    installFolder[PATH_SIZE - 1] = 0;
    char *last = FindLastBackslash(installFolder);
    if (last)
        *last = 0;
    AddBackslash(installFolder, PATH_SIZE); // fits: it replaces the name's backslash
    return 1;
}

void ShutdownApplication() {
    OleUninitialize();
    ReleaseMemory((void **)&modulePath);
    ReleaseMemory((void **)&installFolder);
    ReleaseMemory((void **)&workPath);
    ReleaseUiResources();
}
