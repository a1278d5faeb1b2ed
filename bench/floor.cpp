// benchfloor: the floor the uninstaller is measured against. It removes the benchmark
// application with as few system calls as the removal takes, from a manifest read in one
// piece; no C runtime, no window, only kernel32 and advapi32 (shell32 at run time).
//   benchfloor c0 MANIFEST INSTALLFOLDER    the bare floor: every path is known, so each
//       file, shared-file value, folder (deepest first) and key (deepest first) is removed
//       by one call, and nothing is checked.
//   benchfloor c MANIFEST INSTALLFOLDER     the floor with the checks the uninstaller must
//       make, knowing only what its uninstall data says:
//       - each file: the in-use open (read and write, others may read), the name the system
//         gives that handle compared with the name its path spells (no link on the way),
//         the deletion through the same handle and its close; a file in use is kept;
//       - each shared file: the SharedDLLs key opened once for the run, the count read,
//         written back one lower, and the value deleted at 0 (the file is kept above 0);
//       - the protected folders looked up once (Windows, System, the twelve shell folders
//         of the NT family, the two Quick Launch folders, ProgramFilesDir and
//         CommonFilesDir, and every folder the shell knows by an identifier of its own),
//         and every folder compared with them before it is removed, then opened, its
//         handle's name compared as a file's, and removed through that handle;
//       - the folders found as the folder phase finds them: from each file's folder up,
//         while removals succeed, passing over a folder just removed;
//       - the key trees found by enumeration, deepest key first, as the block names trees
//         and not their keys.
#include <windows.h>
#include <shlobj.h>

#define PATH_SIZE 260

static const char sharedKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

struct Line {
    char kind;
    char *text; // after "K " / "F " etc.
};

static Line *lines;
static DWORD lineCount;
static char installFolder[PATH_SIZE]; // with a trailing backslash
static char work[PATH_SIZE];

static DWORD Length(const char *s) {
    DWORD n = 0;
    while (s[n])
        n++;
    return n;
}

static int Join(char *buffer, const char *a, const char *b) {
    DWORD la = Length(a), lb = Length(b);
    if (la + lb + 1 > PATH_SIZE)
        return 0;
    for (DWORD i = 0; i < la; i++)
        buffer[i] = a[i];
    for (DWORD i = 0; i <= lb; i++)
        buffer[la + i] = b[i];
    return 1;
}

static char Fold(char c) {
    return (c >= 'A' && c <= 'Z') ? (char)(c + 32) : c;
}

static int Same(const char *a, const char *b) {
    for (; Fold(*a) == Fold(*b); a++, b++)
        if (!*a)
            return 1;
    return 0;
}

static char *LastBackslash(char *s) {
    char *last = 0;
    for (; *s; s++)
        if (*s == '\\')
            last = s;
    return last;
}

static DWORD Hex(const char *s) {
    DWORD v = 0;
    for (int i = 0; i < 8; i++) {
        char c = s[i];
        v = v * 16 + (DWORD)(c <= '9' ? c - '0' : c - 'A' + 10);
    }
    return v;
}

// ".\x" relative to the install folder.
static int FullPath(char *buffer, const char *relative) {
    return Join(buffer, installFolder,
                relative[0] == '.' && relative[1] == '\\' ? relative + 2 : relative);
}

// Splits "flags .\folder|name" into the full path of the file; returns the flags.
static int FilePath(char *text, char *buffer) {
    int flags = text[0] - '0';
    char *bar = text + 2;
    while (*bar != '|')
        bar++;
    *bar = '\\';
    int fits = FullPath(buffer, text + 2);
    *bar = '|';
    return fits ? flags : -1;
}

static int ReadManifest(const char *name) {
    HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD size = GetFileSize(file, 0), got = 0;
    char *text = (char *)HeapAlloc(GetProcessHeap(), 0, size + 1);
    int ok = text && ReadFile(file, text, size, &got, 0) && got == size;
    CloseHandle(file);
    if (!ok)
        return 0;
    text[size] = 0;
    DWORD count = 0;
    for (DWORD i = 0; i < size; i++)
        if (text[i] == '\n')
            count++;
    lines = (Line *)HeapAlloc(GetProcessHeap(), 0, (count + 1) * sizeof(Line));
    if (!lines)
        return 0;
    char *p = text;
    while (*p) {
        char *end = p;
        while (*end && *end != '\n')
            end++;
        if (*end)
            *end++ = 0;
        if (p[0] && p[1] == ' ') {
            lines[lineCount].kind = p[0];
            lines[lineCount].text = p + 2;
            lineCount++;
        }
        p = end;
    }
    return 1;
}

// --- the bare floor ---

static void BareFloor() {
    HKEY shared = 0;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, sharedKey, 0, KEY_ALL_ACCESS, &shared);
    for (DWORD i = lineCount; i-- > 0;) {
        if (lines[i].kind != 'F')
            continue;
        int flags = FilePath(lines[i].text, work);
        if (flags < 0)
            continue;
        if ((flags & 1) && shared)
            RegDeleteValueA(shared, work);
        DeleteFileA(work);
    }
    if (shared)
        RegCloseKey(shared);
    for (DWORD i = 0; i < lineCount; i++)
        if (lines[i].kind == 'D' && FullPath(work, lines[i].text))
            RemoveDirectoryA(work);
    for (DWORD i = 0; i < lineCount; i++)
        if (lines[i].kind == 'K')
            RegDeleteKeyA((HKEY)(ULONG_PTR)Hex(lines[i].text), lines[i].text + 9);
}

// --- the floor with the checks ---

#define PROTECTED_MAX 512
static char (*protectedFolders)[PATH_SIZE]; // PROTECTED_MAX of them, from the heap
static DWORD protectedCount;

static void RemoveTrailingBackslash(char *path) {
    DWORD n = Length(path);
    if (n >= 4 && path[n - 1] == '\\')
        path[n - 1] = 0;
}

static void AddProtected(const char *folder, int trim) {
    if (protectedCount >= PROTECTED_MAX)
        return;
    char *slot = protectedFolders[protectedCount++];
    Join(slot, folder, "");
    if (trim)
        RemoveTrailingBackslash(slot);
}

// The known folder manager (Vista on), called through its table of methods: Release is the
// third, GetFolderIds the sixth.
typedef HRESULT(STDMETHODCALLTYPE *FolderIdsProc)(void *, GUID **, UINT *);
typedef ULONG(STDMETHODCALLTYPE *ReleaseProc)(void *);
static const GUID knownFolderManager = {
    0x4df0c730, 0xdf9d, 0x4ae3, {0x91, 0x53, 0xaa, 0x6b, 0x82, 0xe9, 0x79, 0x5a}};
static const GUID knownFolderManagerInterface = {
    0x8be2d872, 0x86aa, 0x4d47, {0xb7, 0x76, 0x32, 0xcc, 0xa4, 0x0c, 0x70, 0x18}};

// Every folder the shell knows by an identifier of its own, as the uninstaller must protect
// them: listed once, each asked for its path.
static void LookUpKnownFolders() {
    typedef HRESULT(WINAPI * PathOfProc)(const GUID &, DWORD, HANDLE, WCHAR **);
    typedef HRESULT(WINAPI * InitProc)(void *);
    typedef HRESULT(WINAPI * CreateProc)(const GUID &, IUnknown *, DWORD, const GUID &, void **);
    typedef void(WINAPI * FreeProc)(void *);
    HMODULE shell = LoadLibraryA("shell32.dll"), ole = LoadLibraryA("ole32.dll");
    PathOfProc pathOf = (PathOfProc)(void (*)())GetProcAddress(shell, "SHGetKnownFolderPath");
    InitProc init = (InitProc)(void (*)())GetProcAddress(ole, "CoInitialize");
    CreateProc create = (CreateProc)(void (*)())GetProcAddress(ole, "CoCreateInstance");
    FreeProc release = (FreeProc)(void (*)())GetProcAddress(ole, "CoTaskMemFree");
    void ***manager = 0;
    GUID *ids = 0;
    UINT count = 0;
    if (!pathOf || !init || !create || !release || FAILED(init(0)) ||
        create(knownFolderManager, 0, CLSCTX_INPROC_SERVER, knownFolderManagerInterface,
               (void **)&manager) != S_OK ||
        ((FolderIdsProc)(*manager)[5])(manager, &ids, &count) != S_OK)
        count = 0;
    for (UINT i = 0; i < count; i++) {
        WCHAR *path = 0;
        char folder[PATH_SIZE];
        if (pathOf(ids[i], 0x4000 /* KF_FLAG_DONT_VERIFY */, 0, &path) == S_OK &&
            WideCharToMultiByte(CP_ACP, 0, path, -1, folder, PATH_SIZE, 0, 0))
            AddProtected(folder, 1);
        release(path);
    }
    release(ids);
    if (manager)
        ((ReleaseProc)(*manager)[2])(manager);
}

static void LookUpProtectedFolders() {
    protectedFolders =
        (char(*)[PATH_SIZE])HeapAlloc(GetProcessHeap(), 0, PROTECTED_MAX * PATH_SIZE);
    if (!protectedFolders)
        ExitProcess(3);
    static const int shellFolders[] = {0x00, 0x10, 0x19, 0x14, 0x02, 0x17,
                                       0x0B, 0x16, 0x07, 0x18, 0x1A, 0x23};
    char folder[PATH_SIZE];
    if (GetWindowsDirectoryA(folder, PATH_SIZE))
        AddProtected(folder, 1);
    if (GetSystemDirectoryA(folder, PATH_SIZE))
        AddProtected(folder, 1);
    typedef HRESULT(WINAPI * LocationProc)(HWND, int, LPITEMIDLIST *);
    typedef BOOL(WINAPI * PathProc)(LPCITEMIDLIST, LPSTR);
    typedef HRESULT(WINAPI * MallocProc)(IMalloc **);
    HMODULE shell = LoadLibraryA("shell32.dll");
    LocationProc location =
        (LocationProc)(void (*)())GetProcAddress(shell, "SHGetSpecialFolderLocation");
    PathProc path = (PathProc)(void (*)())GetProcAddress(shell, "SHGetPathFromIDListA");
    MallocProc getMalloc = (MallocProc)(void (*)())GetProcAddress(shell, "SHGetMalloc");
    IMalloc *allocator = 0;
    if (location && path && getMalloc && getMalloc(&allocator) == S_OK) {
        for (DWORD i = 0; i < sizeof shellFolders / sizeof shellFolders[0]; i++) {
            LPITEMIDLIST list = 0;
            if (location(0, shellFolders[i], &list) != S_OK || !list)
                continue;
            if (path(list, folder)) {
                AddProtected(folder, 1);
                if (shellFolders[i] == 0x1A || shellFolders[i] == 0x23) {
                    char quick[PATH_SIZE];
                    RemoveTrailingBackslash(folder);
                    if (Join(quick, folder, "\\Microsoft\\Internet Explorer\\Quick Launch"))
                        AddProtected(quick, 0);
                }
            }
            allocator->Free(list);
        }
        allocator->Release();
    }
    HKEY key;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", &key) ==
        0) {
        static const char *const names[] = {"ProgramFilesDir", "CommonFilesDir"};
        for (int i = 0; i < 2; i++) {
            DWORD type = 0, size = PATH_SIZE - 1;
            if (RegQueryValueExA(key, names[i], 0, &type, (BYTE *)folder, &size) == 0) {
                folder[size < PATH_SIZE ? size : PATH_SIZE - 1] = 0;
                AddProtected(folder, 0);
            }
        }
        RegCloseKey(key);
    }
    LookUpKnownFolders();
}

static int IsProtected(const char *path) {
    if (Length(path) < 4)
        return 1;
    for (DWORD i = 0; i < protectedCount; i++)
        if (Same(protectedFolders[i], path))
            return 1;
    return 0;
}

static LONG DeleteTree(HKEY parent, const char *subkey) {
    HKEY key;
    LONG result = RegOpenKeyExA(parent, subkey, 0, DELETE | KEY_ENUMERATE_SUB_KEYS, &key);
    if (result)
        return result;
    for (;;) {
        char name[PATH_SIZE];
        DWORD size = PATH_SIZE;
        result = RegEnumKeyExA(key, 0, name, &size, 0, 0, 0, 0);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result || (result = DeleteTree(key, name)) != 0) {
            RegCloseKey(key);
            return result;
        }
    }
    result = RegDeleteKeyA(parent, subkey);
    RegCloseKey(key);
    return result;
}

// --- the link check: the name the system gives a handle against the name its path spells ---

typedef LONG(WINAPI *QueryObjectProc)(HANDLE, int, void *, ULONG, ULONG *);
typedef LONG(WINAPI *SetInformationProc)(HANDLE, void *, void *, ULONG, int);
static QueryObjectProc queryObject;
static SetInformationProc setInformation;
static WCHAR rootName[PATH_SIZE]; // the device name of the install folder's drive root, "\\"
static DWORD rootLength;

static int HandleName(HANDLE handle, WCHAR *name) {
    struct {
        USHORT length, room;
        WCHAR *text;
        WCHAR units[PATH_SIZE * 2];
    } info;
    ULONG size;
    if (queryObject(handle, 1 /* ObjectNameInformation */, &info, sizeof info, &size) ||
        info.length / 2 >= PATH_SIZE * 2)
        return 0;
    for (DWORD i = 0; i < info.length / 2u; i++)
        name[i] = info.units[i];
    name[info.length / 2] = 0;
    return 1;
}

static WCHAR FoldWide(WCHAR c) {
    return (c >= 'A' && c <= 'Z') ? (WCHAR)(c + 32) : c;
}

// The handle's name is the root's name and then the path after "C:\".
static int ReachedByOwnName(HANDLE handle, const char *path) {
    WCHAR name[PATH_SIZE * 2];
    if (!HandleName(handle, name))
        return 0;
    for (DWORD i = 0; i < rootLength; i++)
        if (FoldWide(name[i]) != FoldWide(rootName[i]))
            return 0;
    const WCHAR *rest = name + rootLength;
    for (path += 3; *path; path++, rest++)
        if (FoldWide((WCHAR)(BYTE)*path) != FoldWide(*rest))
            return 0;
    return !*rest;
}

static int LookUpLinkCheck() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    queryObject = (QueryObjectProc)(void (*)())GetProcAddress(ntdll, "NtQueryObject");
    setInformation = (SetInformationProc)(void (*)())GetProcAddress(ntdll, "NtSetInformationFile");
    char root[4] = {installFolder[0], ':', '\\', 0};
    HANDLE handle =
        CreateFileA(root, FILE_READ_ATTRIBUTES, 7, 0, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, 0);
    int named = queryObject && setInformation && handle != INVALID_HANDLE_VALUE &&
                HandleName(handle, rootName);
    if (handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
    if (!named)
        return 0;
    while (rootName[rootLength])
        rootLength++;
    if (rootLength && rootName[rootLength - 1] != '\\')
        rootName[rootLength++] = '\\';
    return 1;
}

// The item the handle holds goes at its close, if the name checked; 1 when it was marked.
static int DeleteThrough(HANDLE handle, const char *path) {
    ULONG_PTR status[2];
    BOOLEAN yes = TRUE;
    return ReachedByOwnName(handle, path) &&
           !setInformation(handle, status, &yes, sizeof yes, 13 /* FileDispositionInformation */);
}

// A folder, through a handle of its own.
static int RemoveFolder(const char *path) {
    HANDLE handle = CreateFileA(path, DELETE | FILE_READ_ATTRIBUTES, 7, 0, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, 0);
    if (handle == INVALID_HANDLE_VALUE)
        return 0;
    int done = DeleteThrough(handle, path);
    CloseHandle(handle);
    return done;
}

static void CheckedFloor() {
    LookUpProtectedFolders();
    if (!LookUpLinkCheck())
        ExitProcess(3);
    HKEY shared = 0;
    int sharedOpened = 0;
    for (DWORD i = lineCount; i-- > 0;) {
        if (lines[i].kind != 'F')
            continue;
        int flags = FilePath(lines[i].text, work);
        if (flags < 0)
            continue;
        HANDLE file = CreateFileA(work, GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, 0,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, 0);
        if (file == INVALID_HANDLE_VALUE)
            continue; // in use: kept
        if (flags & 1) {
            if (!sharedOpened) {
                sharedOpened = 1;
                if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, sharedKey, 0, KEY_ALL_ACCESS, &shared))
                    shared = 0;
            }
            if (shared) {
                DWORD count = 1, type = 0, size = sizeof count;
                if (RegQueryValueExA(shared, work, 0, &type, (BYTE *)&count, &size) == 0) {
                    if (count > 0)
                        count--;
                    RegSetValueExA(shared, work, 0, type, (const BYTE *)&count, size);
                    if (count > 0) {
                        CloseHandle(file);
                        continue;
                    }
                }
                RegDeleteValueA(shared, work);
            }
        }
        DeleteThrough(file, work);
        CloseHandle(file);
    }
    if (shared)
        RegCloseKey(shared);

    // The folders, as the folder phase finds them.
    char last[PATH_SIZE];
    last[0] = 0;
    RemoveTrailingBackslash(installFolder);
    SetCurrentDirectoryA(installFolder);
    SetCurrentDirectoryA("..");
    Join(installFolder, installFolder, "\\");
    for (DWORD i = 0; i < lineCount; i++) {
        if (lines[i].kind != 'F' || FilePath(lines[i].text, work) < 0)
            continue;
        char *cut = LastBackslash(work);
        if (!cut)
            continue;
        *cut = 0;
        if (Same(work, last))
            continue;
        int first = 1;
        while (!IsProtected(work) && RemoveFolder(work)) {
            if (first) {
                Join(last, work, "");
                first = 0;
            }
            cut = LastBackslash(work);
            if (!cut)
                break;
            *cut = 0;
        }
    }

    for (DWORD i = 0; i < lineCount; i++)
        if (lines[i].kind == 'R')
            DeleteTree((HKEY)(ULONG_PTR)Hex(lines[i].text), lines[i].text + 9);
}

// --- entry point ---

static char *NextWord(char **p) {
    char *s = *p;
    while (*s == ' ')
        s++;
    if (!*s)
        return 0;
    char *word = s;
    if (*s == '"') {
        word = ++s;
        while (*s && *s != '"')
            s++;
    } else {
        while (*s && *s != ' ')
            s++;
    }
    if (*s)
        *s++ = 0;
    *p = s;
    return word;
}

extern "C" void FloorStart() {
    char *p = GetCommandLineA();
    NextWord(&p); // the program's own name
    char *mode = NextWord(&p), *manifest = NextWord(&p), *install = NextWord(&p);
    if (!mode || !manifest || !install || !Join(installFolder, install, "\\") ||
        !ReadManifest(manifest))
        ExitProcess(2);
    if (mode[0] == 'c' && mode[1] == '0')
        BareFloor();
    else
        CheckedFloor();
    ExitProcess(0);
}
