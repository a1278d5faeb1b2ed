// Set-up and release of the process-wide state.
#include "driver.h"
#include "../ui/ui.h"

// The buffers and the program's own name: what the one-copy lock needs, which comes before
// anything else (InitInterface follows it).
int InitApplication(HINSTANCE instance) {
    moduleHandle = instance;
    InitSystemLayer();
    RestrictDllSearch();
    if (!AllocateZeroed((void **)&modulePath, PATH_SIZE) ||
        !AllocateZeroed((void **)&workPath, PATH_SIZE) ||
        !AllocateZeroed((void **)&installFolder, PATH_SIZE))
        return 0;
    // A name that cannot be read whole leaves the install folder empty: nothing relative to
    // it is then removed, rather than something relative to a wrong folder.
    DWORD n = SysGetModuleName(modulePath, PATH_SIZE);
    if (n == 0 || n >= PATH_SIZE)
        modulePath[0] = 0;
    CopyText(installFolder, PATH_SIZE, modulePath);
    char *last = FindLastBackslash(installFolder);
    if (last)
        *last = 0;
    AddBackslash(installFolder, PATH_SIZE); // fits: it replaces the name's backslash
    return 1;
}

void InitInterface() {
    OleInitialize(0);
    InitVisualStyles();
}

void ShutdownApplication() {
    OleUninitialize();
    ReleaseMemory((void **)&modulePath);
    ReleaseMemory((void **)&installFolder);
    ReleaseMemory((void **)&workPath);
    ReleaseUiResources();
}
