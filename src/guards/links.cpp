// Items acted on by their own name, never through a link. On the NT family a file, folder or
// COM server is reached through a handle, and the name the system gives that handle must be
// the name its path spells: a junction, symbolic link or mount point on the way makes the
// system name the place it leads to instead. The test runs on the handle that then does the
// work, so nothing can change between the two. The item itself is opened as it is, so a link
// that an entry names is the link. 95/98/Me have no links; there the plain calls act.
#include "guards.h"

#define OBJECT_NAME_INFORMATION 1
#define FILE_BASIC_INFORMATION 4
#define FILE_RENAME_INFORMATION 10
#define FILE_DISPOSITION_INFORMATION 13
#define NAME_UNITS (MAX_PATH + 100) // a path and the longest device prefix before it
// What a file opened relative to a folder is opened as: the item itself, synchronously.
#define FILE_OPEN_AS_ITSELF (0x00200000 /* FILE_OPEN_REPARSE_POINT */ | 0x20 /* synchronous */)

// ntdll's calls, which every NT system has; looked up at the first need.
enum {
    QUERY_OBJECT,
    QUERY_FILE_INFORMATION,
    SET_FILE_INFORMATION,
    STATUS_TO_ERROR,
    CREATE_FILE,
    NATIVE_COUNT
};
static const char nativeNames[] = "NtQueryObject\0NtQueryInformationFile\0NtSetInformationFile\0"
                                  "RtlNtStatusToDosError\0NtCreateFile\0";
typedef LONG(WINAPI *FileInformationProc)(HANDLE, void *, void *, ULONG, int);
static FARPROC native[NATIVE_COUNT];
static int canCheck = -1; // the calls are there: 1 or 0, asked at the first need
#define NATIVE(index, type) ((type)(void (*)())native[index])

// The folder whose name was last asked for, then that name: usually the drive root, which
// every path of a run shares. Kept for the run once allocated.
static char *known;

int CanCheckNames() {
    if (canCheck < 0) {
        const char *name = nativeNames;
        canCheck = isNT;
        for (int i = 0; i < NATIVE_COUNT && canCheck; i++, name += TextLength(name) + 1)
            canCheck = (native[i] = FindSystemFunction("ntdll.dll", name)) != 0;
    }
    return canCheck;
}

// The name the system gives the object behind a handle, every link on the way followed: its
// device and its path there, as UTF-8 in SCRATCH_SIZE bytes.
static int GetHandleName(HANDLE handle, char *name) {
    struct {
        USHORT length, room;
        WCHAR *text;
        WCHAR units[NAME_UNITS];
    } info;
    ULONG size;
    if (NATIVE(QUERY_OBJECT, LONG(WINAPI *)(HANDLE, int, void *, ULONG, ULONG *))(
            handle, OBJECT_NAME_INFORMATION, &info, sizeof info, &size) ||
        info.text != info.units || info.length / 2 >= NAME_UNITS)
        return 0;
    info.units[info.length / 2] = 0;
    return WideToUtf8(info.units, name, SCRATCH_SIZE);
}

// The length of the drive root ("C:\") or share ("\\server\share\") that a full path begins
// with; 0 for a path that is not full.
static DWORD RootLength(const char *path) {
    if (path[0] && path[1] == ':' && path[2] == '\\')
        return 3;
    DWORD n = 2, backslashes = 0;
    if (path[0] == '\\' && path[1] == '\\')
        for (; path[n]; n++)
            if (path[n] == '\\' && ++backslashes == 2)
                return n + 1;
    return 0;
}

// The name the system would give path if nothing below its first length characters led
// elsewhere: the name of that folder, as the system resolves it, and the rest of path. The
// folder itself must be no link: see ReachedByOwnName.
static int ExpectName(char *path, DWORD length, char *expected) {
    char kept = path[length];
    path[length] = 0;
    int named = known && PathsEqual(path, known);
    if (named) {
        CopyText(expected, SCRATCH_SIZE, known + PATH_SIZE);
    } else {
        HANDLE handle = SysCreateFile(path, FILE_READ_ATTRIBUTES, ANY_SHARING, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
        if (handle != INVALID_HANDLE_VALUE) {
            named = !(GetHandleAttributes(handle) & FILE_ATTRIBUTE_REPARSE_POINT) &&
                    GetHandleName(handle, expected);
            CloseHandle(handle);
        }
        if (named && (known || AllocateMemory((void **)&known, PATH_SIZE + SCRATCH_SIZE))) {
            CopyText(known, PATH_SIZE, path);
            CopyText(known + PATH_SIZE, SCRATCH_SIZE, expected);
        }
    }
    path[length] = kept;
    return named && AddBackslash(expected, SCRATCH_SIZE) &&
           AppendText(expected, SCRATCH_SIZE, path + length + (kept == '\\'));
}

// 1 when no folder of path, from below its deepest protected folder down, and not the item
// itself unless opened as it is, led the handle elsewhere. Links above that folder are the
// system's or the user's own (a profile kept on another drive) and count as its name. That
// folder must not be a link itself: a folder may count as protected by what it leads to, and
// a user can make a folder of the application a link named like the shell folder it leads to.
// Wine opens a link's target where asked for the link, so its attributes are asked by name too.
static int ReachedByOwnName(HANDLE handle, const char *path) {
    char full[PATH_SIZE], name[SCRATCH_SIZE], expected[SCRATCH_SIZE];
    DWORD root = RootLength(path);
    if (!root) {
        // A relative path, as the open resolved it.
        DWORD n = SysGetFullPath(path, full, PATH_SIZE);
        root = n && n < PATH_SIZE ? RootLength(full) : 0;
    } else {
        CopyText(full, PATH_SIZE, path);
    }
    RemoveBackslash(full); // the system names no folder with one
    if (!root || !GetHandleName(handle, name))
        return 0;
    if (ExpectName(full, root, expected) && NamesEqual(name, expected))
        return 1;
    for (char *cut = full + TextLength(full); --cut > full + root;) {
        if (*cut != '\\')
            continue;
        *cut = 0;
        int found =
            IsProtectedFolder(full) && !(SysGetAttributes(full) & FILE_ATTRIBUTE_REPARSE_POINT);
        *cut = '\\';
        if (found)
            return ExpectName(full, (DWORD)(cut - full), expected) && NamesEqual(name, expected);
    }
    return 0;
}

HANDLE OpenByOwnName(const char *path, DWORD access, DWORD share, DWORD flags) {
    if (!CanCheckNames()) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE handle =
        SysCreateFile(path, access, share, OPEN_EXISTING, flags | FILE_FLAG_OPEN_REPARSE_POINT);
    if (handle == INVALID_HANDLE_VALUE || ReachedByOwnName(handle, path))
        return handle;
    CloseHandle(handle);
    SetLastError(REACHED_THROUGH_LINK);
    return INVALID_HANDLE_VALUE;
}

// The attributes alone: the system's fuller query also asks the volume, which costs more.
DWORD GetHandleAttributes(HANDLE handle) {
    ULONG_PTR status[2];
    struct {
        LARGE_INTEGER times[4];
        ULONG attributes, padding;
    } information;
    return NATIVE(QUERY_FILE_INFORMATION, FileInformationProc)(
               handle, status, &information, sizeof information, FILE_BASIC_INFORMATION)
               ? 0
               : information.attributes;
}

// Only the attributes change: times of 0 leave the times as they are.
int SetHandleAttributes(HANDLE handle, DWORD attributes) {
    ULONG_PTR status[2];
    struct {
        LARGE_INTEGER times[4];
        ULONG attributes, padding;
    } information;
    FillBytes(&information, 0, sizeof information);
    information.attributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
    LONG result = NATIVE(SET_FILE_INFORMATION, FileInformationProc)(
        handle, status, &information, sizeof information, FILE_BASIC_INFORMATION);
    if (result)
        SetLastError(NATIVE(STATUS_TO_ERROR, ULONG(WINAPI *)(LONG))(result));
    return !result;
}

// The item the handle holds (opened with DELETE) gets the name given inside the folder the
// second handle holds, on the same volume; an item of that name is never replaced.
int MoveThroughHandle(HANDLE handle, HANDLE folder, const char *name) {
    ULONG_PTR status[2];
    struct {
        BOOLEAN replace;
        HANDLE root;
        ULONG length;
        WCHAR name[MAX_PATH];
    } information;
    FillBytes(&information, 0, sizeof information);
    information.root = folder;
    if (!Utf8ToWide(name, information.name, MAX_PATH, 1)) {
        SetLastError(ERROR_INVALID_NAME);
        return 0;
    }
    while (information.name[information.length / 2])
        information.length += 2;
    LONG result = NATIVE(SET_FILE_INFORMATION, FileInformationProc)(
        handle, status, &information, sizeof information, FILE_RENAME_INFORMATION);
    if (result)
        SetLastError(NATIVE(STATUS_TO_ERROR, ULONG(WINAPI *)(LONG))(result));
    return !result;
}

// A file of the folder a handle holds, opened by its name there, never found again from the
// root: what was proved of the folder holds for the file. The item itself, a link as the link.
HANDLE OpenInFolder(HANDLE folder, const char *name, DWORD access, DWORD share, DWORD disposition,
                    DWORD options) {
    struct {
        USHORT length, room;
        WCHAR *text;
    } unicodeName;
    struct {
        ULONG length;
        HANDLE root;
        void *name;
        ULONG attributes, descriptor, quality;
    } object = {sizeof object, folder, &unicodeName, 0x40 /* OBJ_CASE_INSENSITIVE */, 0, 0};
    WCHAR text[MAX_PATH];
    ULONG_PTR status[2];
    HANDLE handle = INVALID_HANDLE_VALUE;
    if (!Utf8ToWide(name, text, MAX_PATH, 1)) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    unicodeName.length = 0;
    while (text[unicodeName.length / 2])
        unicodeName.length += 2;
    unicodeName.room = unicodeName.length;
    unicodeName.text = text;
    LONG result = NATIVE(CREATE_FILE, LONG(WINAPI *)(HANDLE *, DWORD, void *, void *, void *, ULONG,
                                                     ULONG, ULONG, ULONG, void *, ULONG))(
        &handle, access | SYNCHRONIZE, &object, status, 0, FILE_ATTRIBUTE_NORMAL, share,
        disposition, options | FILE_OPEN_AS_ITSELF, 0, 0);
    if (result) {
        SetLastError(NATIVE(STATUS_TO_ERROR, ULONG(WINAPI *)(LONG))(result));
        return INVALID_HANDLE_VALUE;
    }
    return handle;
}

// The item a handle holds, opened again with other access: by the handle itself where the
// system can (an empty name relative to it), else by its own name, then taken only when it
// is the same file. An item that is another file now fails as reached through a link.
HANDLE ReopenItem(HANDLE item, const char *path, DWORD access, DWORD share) {
    HANDLE handle = OpenInFolder(item, "", access, share, NT_OPEN, NT_FILE);
    DWORD error = GetLastError();
    if (handle != INVALID_HANDLE_VALUE || IsAccessDenied(error) || error == ERROR_FILE_NOT_FOUND)
        return handle;
    BY_HANDLE_FILE_INFORMATION first, second;
    handle = OpenByOwnName(path, access, share, 0);
    if (handle == INVALID_HANDLE_VALUE)
        return handle;
    if (!GetFileInformationByHandle(item, &first) || !GetFileInformationByHandle(handle, &second) ||
        first.dwVolumeSerialNumber != second.dwVolumeSerialNumber ||
        first.nFileIndexHigh != second.nFileIndexHigh ||
        first.nFileIndexLow != second.nFileIndexLow) {
        CloseHandle(handle);
        SetLastError(REACHED_THROUGH_LINK);
        return INVALID_HANDLE_VALUE;
    }
    return handle;
}

int DeleteThroughHandle(HANDLE handle) {
    ULONG_PTR status[2];
    BOOLEAN yes = TRUE;
    LONG result = NATIVE(SET_FILE_INFORMATION, FileInformationProc)(
        handle, status, &yes, sizeof yes, FILE_DISPOSITION_INFORMATION);
    if (result)
        SetLastError(NATIVE(STATUS_TO_ERROR, ULONG(WINAPI *)(LONG))(result));
    return !result;
}

// A file with one name that is neither a link nor a folder: one this program writes, and
// only where it means to. Wine opens what a link leads to where asked for the link, so the
// attributes are asked by name too.
int IsPlainFile(HANDLE file, const char *path) {
    BY_HANDLE_FILE_INFORMATION information;
    DWORD byName = CanCheckNames() ? SysGetAttributes(path) : 0;
    return GetFileInformationByHandle(file, &information) && information.nNumberOfLinks == 1 &&
           !((information.dwFileAttributes | byName) &
             (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY));
}

// A name of the other kind fails as the plain calls fail: a folder cannot be opened as a
// file, and a file is no folder.
int DeleteByOwnName(const char *path, int folder) {
    if (!CanCheckNames())
        return folder ? SysRemoveFolder(path) : SysDeleteFile(path);
    HANDLE handle = OpenByOwnName(path, DELETE | FILE_READ_ATTRIBUTES, ANY_SHARING,
                                  folder ? FILE_FLAG_BACKUP_SEMANTICS : 0);
    if (handle == INVALID_HANDLE_VALUE)
        return 0;
    int done = 0;
    DWORD error = ERROR_DIRECTORY;
    if (!folder || (GetHandleAttributes(handle) & FILE_ATTRIBUTE_DIRECTORY)) {
        done = DeleteThroughHandle(handle);
        error = GetLastError();
    }
    CloseHandle(handle);
    SetLastError(error);
    return done;
}
