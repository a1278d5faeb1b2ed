// A second copy of one uninstaller started by the user shows the running copy instead of
// ending without a trace. The copies find each other by the identity of their file, which
// every name and link that leads to it shares: the running copy marks its hidden main
// window with it, and a second copy looks for that mark among the top-level windows.
#include "driver.h"
#include "../data/data.h"

static const char copyMark[] = "Vanish uninstaller"; // the main window's property

// A hash of the volume and file index of the uninstaller's file, never 0 (a property of 0
// reads as none); 0 when the file cannot be asked.
static DWORD FileIdentity() {
    static DWORD identity;
    if (identity || !modulePath[0])
        return identity;
    HANDLE file = OpenExistingFile(modulePath, OPEN_READ);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    BY_HANDLE_FILE_INFORMATION information;
    if (GetFileInformationByHandle(file, &information)) {
        DWORD parts[3] = {information.dwVolumeSerialNumber, information.nFileIndexHigh,
                          information.nFileIndexLow};
        DWORD hash = 2166136261u;
        for (DWORD i = 0; i < sizeof parts; i++)
            hash = (hash ^ ((const BYTE *)parts)[i]) * 16777619u;
        identity = hash ? hash : 1;
    }
    CloseFile(file);
    return identity;
}

void MarkMainWindow(HWND window) {
    DWORD identity = FileIdentity();
    if (identity)
        SetPropA(window, copyMark, (HANDLE)(ULONG_PTR)identity);
}

void UnmarkMainWindow(HWND window) {
    RemovePropA(window, copyMark);
}

static BOOL CALLBACK FindRunningCopy(HWND window, LPARAM found) {
    char name[32]; // longer than the class name: a longer one, cut, still differs
    if (!GetClassNameA(window, name, sizeof name) || !PathsEqual(name, mainWindowClass) ||
        (DWORD)(ULONG_PTR)GetPropA(window, copyMark) != FileIdentity())
        return TRUE;
    *(HWND *)found = window;
    return FALSE;
}

// The running copy's main window is never shown; what the user looks at is the box or
// dialog it owns that was active last: its question, the read-only query or the progress.
void ShowRunningCopy() {
    HWND main = 0;
    if (!FileIdentity())
        return;
    EnumWindows(FindRunningCopy, (LPARAM)&main);
    if (!main)
        return;
    HWND shown = GetLastActivePopup(main);
    if (shown == main || !IsWindowVisible(shown))
        return;
    if (IsIconic(shown))
        ShowWindow(shown, SW_RESTORE);
    SetForegroundWindow(shown);
}
