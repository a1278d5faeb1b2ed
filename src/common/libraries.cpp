// Libraries loaded at run time come from the System folder by full path, never by bare
// name: an application folder is often writable by users, and the uninstaller typically
// runs elevated.
#include "common.h"

#define SEARCH_DLL_LOAD_DIR 0x00000100 // LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR
#define SEARCH_SYSTEM32 0x00000800     // LOAD_LIBRARY_SEARCH_SYSTEM32
#define SEARCH_DEFAULT_DIRS 0x00001000 // LOAD_LIBRARY_SEARCH_DEFAULT_DIRS
#define SEARCH_USER_DIRS 0x00000400    // LOAD_LIBRARY_SEARCH_USER_DIRS

typedef BOOL(WINAPI *SetDefaultDllDirectoriesProc)(DWORD);

// The system's call that limits the default DLL search, kept once it has limited it: null
// while the search is the system's own.
static SetDefaultDllDirectoriesProc limitSearch;

// Where the system offers it, the default DLL search is limited to the System folder, as
// hardened installers do. Where it does not (XP SP1 to Vista without the update), an empty
// DLL directory at least takes the current directory out of the search. Older systems
// lack both calls and are unaffected.
void RestrictDllSearch() {
    typedef BOOL(WINAPI * SetDllDirectoryProc)(LPCSTR);
    SetDefaultDllDirectoriesProc restrictSearch =
        (SetDefaultDllDirectoriesProc)(void (*)())FindSystemFunction("kernel32.dll",
                                                                     "SetDefaultDllDirectories");
    if (restrictSearch && restrictSearch(SEARCH_SYSTEM32)) {
        limitSearch = restrictSearch;
        return;
    }
    SetDllDirectoryProc setDirectory =
        (SetDllDirectoryProc)(void (*)())FindSystemFunction("kernel32.dll", "SetDllDirectoryA");
    if (setDirectory)
        setDirectory("");
}

// Loads a library named by full path so that it still finds the DLLs beside it, also
// when the default search is limited.
HMODULE LoadLibraryBeside(const char *path) {
    return SysLoadLibrary(path, limitSearch ? SEARCH_DLL_LOAD_DIR | SEARCH_DEFAULT_DIRS : 0);
}

// While a COM server unregisters itself, the limited search also takes the server's own
// folder: the server may load a DLL it brought along by its bare name. Returns what
// NarrowDllSearch takes to end it, or null when nothing was widened.
void *WidenDllSearch(const char *folder) {
    typedef void *(WINAPI * AddDllDirectoryProc)(LPCWSTR);
    WCHAR name[MAX_PATH];
    if (!limitSearch || !Utf8ToWide(folder, name, MAX_PATH, 1))
        return 0;
    AddDllDirectoryProc add =
        (AddDllDirectoryProc)(void (*)())FindSystemFunction("kernel32.dll", "AddDllDirectory");
    void *cookie = add ? add(name) : 0;
    if (cookie)
        limitSearch(SEARCH_SYSTEM32 | SEARCH_USER_DIRS);
    return cookie;
}

void NarrowDllSearch(void *cookie) {
    typedef BOOL(WINAPI * RemoveDllDirectoryProc)(void *);
    if (!cookie)
        return;
    limitSearch(SEARCH_SYSTEM32);
    RemoveDllDirectoryProc remove = (RemoveDllDirectoryProc)(void (*)())FindSystemFunction(
        "kernel32.dll", "RemoveDllDirectory");
    if (remove)
        remove(cookie);
}
