// The running copy: one copy of an uninstaller at a time, and a second copy started by the
// user shows the running one instead of ending without a trace. The copies find each other
// by the identity of their file, which every name and link that leads to it shares: the
// running copy marks its hidden main window with it, and a second copy looks for that mark
// among the top-level windows.
#include "driver.h"
#include "../data/data.h"
#include "../guards/guards.h"

static const char copyMark[] = "Vanish uninstaller"; // the main window's property
// The main window's class, by which a second copy finds the running one's window.
const char mainWindowClass[] = "UninstItClass";

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

// One copy of an uninstaller at a time. On the NT family the lock is a file beside the
// uninstaller, opened in its folder as itself with no sharing for writing or deleting and
// deleted when the process ends, however it ends. It is the file's own, whatever name the
// uninstaller was started by, and a process of another account cannot make or hold it ahead:
// where the uninstaller is installed for every user, only administrators write its folder.
// The running copy writes its process and the identity of its file into it, so that a
// process that holds the name and is no running copy keeps no run from its work: that is
// logged, and the run goes on without the lock. 95/98/Me keep a named mutex, keyed on the
// file's long name as the system folds its case; they have no accounts to keep apart.

static HANDLE heldLock; // the lock file this copy holds; null without one

struct LockRecord {
    DWORD process;
    DWORD identity;
};

#define LOCK_READ_TRIES 40 // a new lock's record is written at once: a moment to read it
#define LOCK_READ_PAUSE 50 // milliseconds

static int ProcessRuns(DWORD process) {
    HANDLE handle = OpenProcess(SYNCHRONIZE, FALSE, process);
    if (!handle)
        return GetLastError() == ERROR_ACCESS_DENIED; // there, and not ours to look at
    int runs = WaitForSingleObject(handle, 0) == WAIT_TIMEOUT;
    CloseHandle(handle);
    return runs;
}

// Whether the lock another process holds is a running copy's.
static int HeldByCopy(HANDLE folder, const char *name) {
    LockRecord record;
    for (DWORD i = 0; i < LOCK_READ_TRIES; i++) {
        HANDLE other = OpenInFolder(folder, name, GENERIC_READ, ANY_SHARING, NT_OPEN, NT_FILE);
        if (other == INVALID_HANDLE_VALUE)
            return 0;
        int read = !ReadExactly(other, &record, sizeof record);
        CloseHandle(other);
        if (read)
            return record.identity == FileIdentity() && ProcessRuns(record.process);
        Sleep(LOCK_READ_PAUSE);
    }
    return 0;
}

static int LockByFile(DWORD *error) {
    char folder[PATH_SIZE], path[PATH_SIZE];
    if (!GetOwnFilePath(path, LOCK_EXTENSION) || !CopyText(folder, PATH_SIZE, installFolder) ||
        !FileIdentity()) {
        *error = ERROR_INVALID_NAME;
        return COPY_UNLOCKED;
    }
    RemoveBackslash(folder);
    HANDLE holder = OpenByOwnName(folder, FILE_READ_ATTRIBUTES | FILE_TRAVERSE, ANY_SHARING,
                                  FILE_FLAG_BACKUP_SEMANTICS);
    if (holder == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return COPY_UNLOCKED;
    }
    const char *name = FindLastBackslash(path) + 1;
    HANDLE file = OpenInFolder(holder, name, GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                               NT_OPEN_IF, NT_FILE | NT_DELETE_ON_CLOSE);
    *error = GetLastError();
    int state = COPY_UNLOCKED;
    if (file != INVALID_HANDLE_VALUE) {
        LockRecord record = {GetCurrentProcessId(), FileIdentity()};
        DWORD written;
        if (IsPlainFile(file, path) && WriteFile(file, &record, sizeof record, &written, 0) &&
            written == sizeof record) {
            heldLock = file; // held until the process ends, or the self-removal lets it go
            state = COPY_LOCKED;
        } else {
            *error = ERROR_INVALID_DATA;
            CloseHandle(file);
        }
    } else if (*error == ERROR_SHARING_VIOLATION && HeldByCopy(holder, name)) {
        state = COPY_RUNNING;
    }
    CloseHandle(holder);
    return state;
}

static int LockByMutex() {
    char name[48];
    DWORD hash = 2166136261u;
    for (const char *p = modulePath; *p;) {
        DWORD c = (DWORD)TakeFolded(&p);
        for (DWORD i = 0; i < 4; i++, c >>= 8)
            hash = (hash ^ (c & 0xFF)) * 16777619u;
    }
    wsprintfA(name, "Vanish uninstaller %08lX", hash);
    HANDLE mutex = SysCreateMutex(name); // held until the process ends
    return mutex && GetLastError() == ERROR_ALREADY_EXISTS ? COPY_RUNNING : COPY_LOCKED;
}

int LockOneCopy(DWORD *error) {
    *error = 0;
    if (!modulePath[0])
        return COPY_LOCKED; // no name to meet another copy by: the loader will fail on it too
    return CanCheckNames() ? LockByFile(error) : LockByMutex();
}

// The lock file goes at once: the self-removal empties the install folder before it ends.
void ReleaseOneCopyLock() {
    if (heldLock)
        CloseHandle(heldLock);
    heldLock = 0;
}
