// The one place where names meet the system. Inside, every name and text is UTF-8; here it
// becomes UTF-16 for the wide call on the NT family, or the ANSI code page for the narrow
// call on 95/98/Me. The wide functions are looked up at start-up, never imported, so the
// same program still loads on Windows 95, whose DLLs lack most of them.
//
// On 95/98/Me a name the code page cannot hold is not tried: the call fails with
// ERROR_NO_UNICODE_TRANSLATION and nothing else is touched in its place.
#include "common.h"
#include <shlobj.h>

// The wide functions, in the order of wideNames: each DLL's name, its functions, an empty
// name. All seven DLLs are imported by the program, so they are loaded already.
enum {
    W_CREATE_FILE,
    W_CREATE_DIRECTORY,
    W_DELETE_FILE,
    W_REMOVE_DIRECTORY,
    W_GET_ATTRIBUTES,
    W_SET_ATTRIBUTES,
    W_GET_CURRENT_DIRECTORY,
    W_SET_CURRENT_DIRECTORY,
    W_GET_MODULE_NAME,
    W_GET_TEMP_PATH,
    W_GET_FULL_PATH,
    W_GET_SHORT_PATH,
    W_GET_WINDOWS_DIRECTORY,
    W_GET_SYSTEM_DIRECTORY,
    W_FIND_FIRST,
    W_FIND_NEXT,
    W_CREATE_PROCESS,
    W_LOAD_LIBRARY_EX,
    W_SET_ENVIRONMENT,
    W_GET_COMMAND_LINE,
    W_FORMAT_MESSAGE,
    W_REG_OPEN_KEY,
    W_REG_DELETE_VALUE,
    W_REG_DELETE_KEY,
    W_REG_QUERY_VALUE,
    W_REG_ENUM_KEY,
    W_REG_SET_VALUE,
    W_MESSAGE_BOX,
    W_SET_ITEM_TEXT,
    W_SET_WINDOW_TEXT,
    W_CHAR_UPPER,
    W_PATH_FROM_LIST,
    W_SHELL_EXECUTE,
    W_REMOVE_FONT,
    WIDE_COUNT
};

static const char wideNames[] = "kernel32.dll\0"
                                "CreateFileW\0"
                                "CreateDirectoryW\0"
                                "DeleteFileW\0"
                                "RemoveDirectoryW\0"
                                "GetFileAttributesW\0"
                                "SetFileAttributesW\0"
                                "GetCurrentDirectoryW\0"
                                "SetCurrentDirectoryW\0"
                                "GetModuleFileNameW\0"
                                "GetTempPathW\0"
                                "GetFullPathNameW\0"
                                "GetShortPathNameW\0"
                                "GetWindowsDirectoryW\0"
                                "GetSystemDirectoryW\0"
                                "FindFirstFileW\0"
                                "FindNextFileW\0"
                                "CreateProcessW\0"
                                "LoadLibraryExW\0"
                                "SetEnvironmentVariableW\0"
                                "GetCommandLineW\0"
                                "FormatMessageW\0"
                                "\0"
                                "advapi32.dll\0"
                                "RegOpenKeyExW\0"
                                "RegDeleteValueW\0"
                                "RegDeleteKeyW\0"
                                "RegQueryValueExW\0"
                                "RegEnumKeyExW\0"
                                "RegSetValueExW\0"
                                "\0"
                                "user32.dll\0"
                                "MessageBoxW\0"
                                "SetDlgItemTextW\0"
                                "SetWindowTextW\0"
                                "CharUpperW\0"
                                "\0"
                                "shell32.dll\0"
                                "SHGetPathFromIDListW\0"
                                "ShellExecuteW\0"
                                "\0"
                                "gdi32.dll\0"
                                "RemoveFontResourceW\0"
                                "\0";

static FARPROC wide[WIDE_COUNT]; // filled on the NT family only, and only all together

#define CALL(index, type) ((type)(void (*)())wide[index])

// A path in UTF-16: 259 units and the terminator, the most the system accepts. Any other
// name or text, a registry path or a message, gets a text's room.
#define WIDE_PATH MAX_PATH

void InitSystemLayer() {
    if (!isNT)
        return;
    FARPROC found[WIDE_COUNT];
    DWORD n = 0;
    for (const char *p = wideNames; *p; p += TextLength(p) + 1) {
        HMODULE library = GetModuleHandleA(p);
        for (p += TextLength(p) + 1; *p; p += TextLength(p) + 1) {
            if (n >= WIDE_COUNT)
                return;
            found[n] = library ? GetProcAddress(library, p) : 0;
            if (!found[n++])
                return; // a system without one of them keeps the narrow calls
        }
    }
    if (n != WIDE_COUNT)
        return;
    CopyBytes(wide, found, sizeof wide);
    wideCharUpper = CALL(W_CHAR_UPPER, LPWSTR(WINAPI *)(LPWSTR));
}

// 1 when the wide calls are in use.
int UsesWideCalls() {
    return wide[0] != 0;
}

// A name's length as the system counts it: UTF-16 units for the wide calls, bytes of the
// ANSI code page for the narrow ones (two for a double-byte character); 0xFFFFFFFF for
// text that is not UTF-8.
static DWORD SystemLength(const char *name) {
    DWORD units = Utf16Length(name);
    WCHAR text[TEXT_SIZE];
    if (wide[0] || units == 0xFFFFFFFF || !Utf8ToWide(name, text, TEXT_SIZE, 1))
        return units; // one too long to widen is too long in either count
    return (DWORD)WideCharToMultiByte(CP_ACP, 0, text, -1, 0, 0, 0, 0) - 1;
}

int FitsSystemPath(const char *path) {
    return SystemLength(path) < MAX_PATH; // also refuses text that is not UTF-8
}

// Each name goes one way or the other; 0, with the last error set, when it cannot: a name
// too long for the system, or one it cannot spell.
static int Refuse(const char *name, DWORD size) {
    DWORD length = SystemLength(name);
    SetLastError(length != 0xFFFFFFFF && length >= size ? ERROR_FILENAME_EXCED_RANGE
                                                        : ERROR_NO_UNICODE_TRANSLATION);
    return 0;
}

static int ToWide(const char *name, WCHAR *buffer, DWORD size) {
    return Utf8ToWide(name, buffer, size, 1) || Refuse(name, size);
}

static int ToAnsi(const char *name, char *buffer, DWORD size) {
    return Utf8ToAnsi(name, buffer, size, 1) || Refuse(name, size);
}

// What a call that fills a buffer returns: the length without the terminator, or a length
// of size or more when it does not fit, as the system's own calls do; 0 on failure.
static DWORD FromWide(const WCHAR *text, DWORD length, DWORD limit, char *buffer, DWORD size) {
    if (length == 0 || length >= limit)
        return 0;
    if (!WideToUtf8(text, buffer, size))
        return size;
    return TextLength(buffer);
}

static DWORD FromAnsi(const char *text, DWORD length, DWORD limit, char *buffer, DWORD size) {
    if (length == 0 || length >= limit)
        return 0;
    if (!AnsiToUtf8(text, buffer, size))
        return size;
    return TextLength(buffer);
}

HANDLE SysCreateFile(const char *path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    if (wide[0]) {
        WCHAR name[WIDE_PATH];
        if (!ToWide(path, name, WIDE_PATH))
            return INVALID_HANDLE_VALUE;
        return CALL(W_CREATE_FILE,
                    HANDLE(WINAPI *)(LPCWSTR, DWORD, DWORD, void *, DWORD, DWORD, HANDLE))(
            name, access, share, 0, disposition, flags, 0);
    }
    char name[MAX_PATH];
    if (!ToAnsi(path, name, MAX_PATH))
        return INVALID_HANDLE_VALUE;
    return CreateFileA(name, access, share, 0, disposition, flags, 0);
}

// The calls that take one path and answer with a BOOL or a DWORD.
typedef BOOL(WINAPI *PathCallW)(LPCWSTR);
typedef BOOL(WINAPI *PathCallA)(LPCSTR);

static DWORD CallOnPath(int index, PathCallA narrow, const char *path, DWORD failure) {
    if (wide[0]) {
        WCHAR name[WIDE_PATH];
        if (!ToWide(path, name, WIDE_PATH))
            return failure;
        return (DWORD)CALL(index, PathCallW)(name);
    }
    char name[MAX_PATH];
    if (!ToAnsi(path, name, MAX_PATH))
        return failure;
    return (DWORD)narrow(name);
}

// A new folder with the security descriptor given, or the one the folder above passes down
// (null).
int SysCreateFolder(const char *path, void *security) {
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, security, FALSE};
    if (wide[0]) {
        WCHAR name[WIDE_PATH];
        return ToWide(path, name, WIDE_PATH) &&
               CALL(W_CREATE_DIRECTORY,
                    BOOL(WINAPI *)(LPCWSTR, SECURITY_ATTRIBUTES *))(name, &attributes);
    }
    char name[MAX_PATH];
    return ToAnsi(path, name, MAX_PATH) && CreateDirectoryA(name, &attributes);
}

// The root of the volume that holds path, with its backslash: "C:\", or the folder another
// volume is mounted on where the system can tell (2000 and later). 0 when it is neither.
int SysGetVolumeRoot(const char *path, char *buffer) {
    typedef BOOL(WINAPI * VolumeProc)(LPCWSTR, LPWSTR, DWORD);
    VolumeProc volume =
        (VolumeProc)(void (*)())FindSystemFunction("kernel32.dll", "GetVolumePathNameW");
    WCHAR name[WIDE_PATH], root[WIDE_PATH];
    if (wide[0] && volume && ToWide(path, name, WIDE_PATH) && volume(name, root, WIDE_PATH) &&
        WideToUtf8(root, buffer, PATH_SIZE))
        return AddBackslash(buffer, PATH_SIZE);
    if (!path[0] || path[1] != ':' || path[2] != '\\')
        return 0;
    CopyBytes(buffer, path, 3);
    buffer[3] = 0;
    return 1;
}

int SysDeleteFile(const char *path) {
    return (int)CallOnPath(W_DELETE_FILE, DeleteFileA, path, 0);
}

int SysRemoveFolder(const char *path) {
    return (int)CallOnPath(W_REMOVE_DIRECTORY, RemoveDirectoryA, path, 0);
}

int SysSetCurrentFolder(const char *path) {
    return (int)CallOnPath(W_SET_CURRENT_DIRECTORY, SetCurrentDirectoryA, path, 0);
}

DWORD SysGetAttributes(const char *path) {
    return CallOnPath(W_GET_ATTRIBUTES, (PathCallA)(void (*)())GetFileAttributesA, path,
                      INVALID_FILE_ATTRIBUTES);
}

// A file or folder counts as still there unless the system says it is not: attributes that
// are refused (access denied, a sharing violation) mean something is there.
int PathExists(const char *path) {
    if (SysGetAttributes(path) != INVALID_FILE_ATTRIBUTES)
        return 1;
    // A name this system cannot spell was never tried: whatever it names is still there.
    DWORD error = GetLastError();
    return IsAccessDenied(error) || error == ERROR_NO_UNICODE_TRANSLATION;
}

int SysSetAttributes(const char *path, DWORD attributes) {
    if (wide[0]) {
        WCHAR name[WIDE_PATH];
        return ToWide(path, name, WIDE_PATH) &&
               CALL(W_SET_ATTRIBUTES, BOOL(WINAPI *)(LPCWSTR, DWORD))(name, attributes);
    }
    char name[MAX_PATH];
    return ToAnsi(path, name, MAX_PATH) && SetFileAttributesA(name, attributes);
}

// The folder queries: the current directory, the temporary, Windows and System folders.
DWORD SysGetFolder(int which, char *buffer, DWORD size) {
    static const BYTE wideIndex[] = {W_GET_CURRENT_DIRECTORY, W_GET_TEMP_PATH,
                                     W_GET_WINDOWS_DIRECTORY, W_GET_SYSTEM_DIRECTORY};
    buffer[0] = 0;
    if (wide[0]) {
        WCHAR name[WIDE_PATH];
        DWORD n;
        if (which >= FOLDER_WINDOWS)
            n = CALL(wideIndex[which], UINT(WINAPI *)(LPWSTR, UINT))(name, WIDE_PATH);
        else
            n = CALL(wideIndex[which], DWORD(WINAPI *)(DWORD, LPWSTR))(WIDE_PATH, name);
        return FromWide(name, n, WIDE_PATH, buffer, size);
    }
    char name[MAX_PATH];
    DWORD n = which == FOLDER_CURRENT   ? GetCurrentDirectoryA(MAX_PATH, name)
              : which == FOLDER_TEMP    ? GetTempPathA(MAX_PATH, name)
              : which == FOLDER_WINDOWS ? GetWindowsDirectoryA(name, MAX_PATH)
                                        : GetSystemDirectoryA(name, MAX_PATH);
    return FromAnsi(name, n, MAX_PATH, buffer, size);
}

// The program's own file in its long form where the system has one: started by its short
// (8.3) name, it still goes by its long one, and so do its journal, log and lock.
DWORD SysGetModuleName(char *buffer, DWORD size) {
    DWORD n;
    buffer[0] = 0;
    if (wide[0]) {
        WCHAR name[WIDE_PATH];
        n = CALL(W_GET_MODULE_NAME, DWORD(WINAPI *)(HMODULE, LPWSTR, DWORD))(moduleHandle, name,
                                                                             WIDE_PATH);
        name[WIDE_PATH - 1] = 0; // older systems do not terminate a cut name
        n = FromWide(name, n, WIDE_PATH, buffer, size);
    } else {
        char name[MAX_PATH];
        n = GetModuleFileNameA(moduleHandle, name, MAX_PATH);
        name[MAX_PATH - 1] = 0;
        n = FromAnsi(name, n, MAX_PATH, buffer, size);
    }
    char longName[PATH_SIZE];
    DWORD m = n && n < size ? SysGetPathForm(buffer, longName, PATH_SIZE, 1) : 0;
    if (m && m < size && CopyText(buffer, size, longName))
        n = m;
    return n;
}

// The system's own words for an error, in the user's language where it has them; empty when
// it has none.
void SysErrorText(DWORD error, char *buffer, DWORD size) {
    const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    buffer[0] = 0;
    if (wide[0]) {
        WCHAR text[TEXT_SIZE];
        if (CALL(W_FORMAT_MESSAGE,
                 DWORD(WINAPI *)(DWORD, const void *, DWORD, DWORD, LPWSTR, DWORD, void *))(
                flags, 0, error, 0, text, TEXT_SIZE, 0) &&
            !WideToUtf8(text, buffer, size))
            buffer[0] = 0;
        return;
    }
    char text[TEXT_SIZE];
    if (FormatMessageA(flags, 0, error, 0, text, TEXT_SIZE, 0) &&
        !AnsiToUtf8(text, buffer, size, 0))
        buffer[0] = 0;
}

// The command line as UTF-8: on the NT family from its wide form, so that a path given to a
// switch keeps every character. 0 when it does not fit.
int SysGetCommandLine(char *buffer, DWORD size) {
    buffer[0] = 0;
    if (wide[0])
        return WideToUtf8(CALL(W_GET_COMMAND_LINE, LPCWSTR(WINAPI *)())(), buffer, size);
    return AnsiToUtf8(GetCommandLineA(), buffer, size, 0);
}

DWORD SysGetFullPath(const char *path, char *buffer, DWORD size) {
    buffer[0] = 0;
    if (wide[0]) {
        WCHAR name[WIDE_PATH], full[WIDE_PATH];
        LPWSTR part;
        if (!ToWide(path, name, WIDE_PATH))
            return 0;
        DWORD n = CALL(W_GET_FULL_PATH, DWORD(WINAPI *)(LPCWSTR, DWORD, LPWSTR, LPWSTR *))(
            name, WIDE_PATH, full, &part);
        return FromWide(full, n, WIDE_PATH, buffer, size);
    }
    char name[MAX_PATH], full[MAX_PATH];
    LPSTR part;
    if (!ToAnsi(path, name, MAX_PATH))
        return 0;
    return FromAnsi(full, GetFullPathNameA(name, MAX_PATH, full, &part), MAX_PATH, buffer, size);
}

// The short (8.3) or long form of an existing path, where the system has that form: 95
// and NT 4.0 have no long-name call. 0 when there is none or the path does not exist.
DWORD SysGetPathForm(const char *path, char *buffer, DWORD size, int longForm) {
    typedef DWORD(WINAPI * FormProc)(const void *, void *, DWORD);
    buffer[0] = 0;
    if (wide[0]) {
        WCHAR name[WIDE_PATH], other[WIDE_PATH];
        FormProc form =
            longForm ? (FormProc)(void (*)())FindSystemFunction("kernel32.dll", "GetLongPathNameW")
                     : CALL(W_GET_SHORT_PATH, FormProc);
        if (!form || !ToWide(path, name, WIDE_PATH))
            return 0;
        return FromWide(other, form(name, other, WIDE_PATH), WIDE_PATH, buffer, size);
    }
    char name[MAX_PATH], other[MAX_PATH];
    FormProc form =
        longForm ? (FormProc)(void (*)())FindSystemFunction("kernel32.dll", "GetLongPathNameA")
                 : (FormProc)(void (*)())GetShortPathNameA;
    if (!form || !ToAnsi(path, name, MAX_PATH))
        return 0;
    return FromAnsi(other, form(name, other, MAX_PATH), MAX_PATH, buffer, size);
}

// Marks a file, or a folder that will be empty, for deletion at the next restart: the NT
// family's pending operations, which need administrator rights. 0 where that fails.
int SysDeleteAtRestart(const char *path) {
    typedef BOOL(WINAPI * MoveProc)(const void *, const void *, DWORD);
    if (wide[0]) {
        WCHAR name[WIDE_PATH];
        MoveProc move = (MoveProc)(void (*)())FindSystemFunction("kernel32.dll", "MoveFileExW");
        return move && ToWide(path, name, WIDE_PATH) && move(name, 0, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
    char name[MAX_PATH];
    MoveProc move = (MoveProc)(void (*)())FindSystemFunction("kernel32.dll", "MoveFileExA");
    return move && ToAnsi(path, name, MAX_PATH) && move(name, 0, MOVEFILE_DELAY_UNTIL_REBOOT);
}

// Adds a line to a section of a profile file, keeping every line already there: the
// section is read and written whole, since a key may stand in it many times. Only the
// 95/98/Me family asks (its WININIT.INI), and its profile files hold ANSI text.
#define PROFILE_SECTION_SIZE 32768 // the most a profile section holds
int SysAddProfileLine(const char *file, const char *section, const char *line) {
    char name[MAX_PATH], text[MAX_PATH + 8], *lines = 0;
    if (!ToAnsi(file, name, MAX_PATH) || !ToAnsi(line, text, sizeof text) ||
        !AllocateZeroed((void **)&lines, PROFILE_SECTION_SIZE))
        return 0;
    DWORD used = GetPrivateProfileSectionA(section, lines, PROFILE_SECTION_SIZE, name);
    DWORD length = TextLength(text) + 1;
    int done = used + length + 1 < PROFILE_SECTION_SIZE; // read whole, and room after it
    if (done) {
        CopyBytes(lines + used, text, length);
        lines[used + length] = 0;
        done = WritePrivateProfileSectionA(section, lines, name) != 0;
    }
    ReleaseMemory((void **)&lines);
    return done;
}

// A name found in a folder, long and short, as UTF-8; a name that cannot be written so is
// empty, which matches nothing.
static void KeepFound(const void *found, char *name, char *shortName) {
    if (wide[0]) {
        const WIN32_FIND_DATAW *data = (const WIN32_FIND_DATAW *)found;
        if (!WideToUtf8(data->cFileName, name, PATH_SIZE))
            name[0] = 0;
        if (!WideToUtf8(data->cAlternateFileName, shortName, SHORT_NAME_SIZE))
            shortName[0] = 0;
        return;
    }
    const WIN32_FIND_DATAA *data = (const WIN32_FIND_DATAA *)found;
    if (!AnsiToUtf8(data->cFileName, name, PATH_SIZE))
        name[0] = 0;
    if (!AnsiToUtf8(data->cAlternateFileName, shortName, SHORT_NAME_SIZE))
        shortName[0] = 0;
}

HANDLE SysFindFirst(const char *pattern, char *name, char *shortName) {
    HANDLE search = INVALID_HANDLE_VALUE;
    if (wide[0]) {
        WIN32_FIND_DATAW found;
        WCHAR text[WIDE_PATH];
        if (ToWide(pattern, text, WIDE_PATH))
            search =
                CALL(W_FIND_FIRST, HANDLE(WINAPI *)(LPCWSTR, WIN32_FIND_DATAW *))(text, &found);
        if (search != INVALID_HANDLE_VALUE)
            KeepFound(&found, name, shortName);
        return search;
    }
    WIN32_FIND_DATAA found;
    char text[MAX_PATH];
    if (ToAnsi(pattern, text, MAX_PATH))
        search = FindFirstFileA(text, &found);
    if (search != INVALID_HANDLE_VALUE)
        KeepFound(&found, name, shortName);
    return search;
}

int SysFindNext(HANDLE search, char *name, char *shortName) {
    if (wide[0]) {
        WIN32_FIND_DATAW found;
        if (!CALL(W_FIND_NEXT, BOOL(WINAPI *)(HANDLE, WIN32_FIND_DATAW *))(search, &found))
            return 0;
        KeepFound(&found, name, shortName);
        return 1;
    }
    WIN32_FIND_DATAA found;
    if (!FindNextFileA(search, &found))
        return 0;
    KeepFound(&found, name, shortName);
    return 1;
}

// command is changed by the system while the process starts, so it is converted into a
// buffer of this layer's own. folder may be null: the current directory.
int SysStartProcess(const char *command, const char *folder, int show, int inherit,
                    PROCESS_INFORMATION *process) {
    STARTUPINFOA startup; // the wide structure has the same size and layout
    FillBytes(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = (WORD)show;
    if (wide[0]) {
        WCHAR line[TEXT_SIZE];
        WCHAR directory[WIDE_PATH];
        if (!ToWide(command, line, TEXT_SIZE) || (folder && !ToWide(folder, directory, WIDE_PATH)))
            return 0;
        return CALL(W_CREATE_PROCESS,
                    BOOL(WINAPI *)(LPCWSTR, LPWSTR, void *, void *, BOOL, DWORD, void *, LPCWSTR,
                                   STARTUPINFOA *, PROCESS_INFORMATION *))(
                   0, line, 0, 0, inherit, 0, 0, folder ? directory : 0, &startup, process) != 0;
    }
    char line[TEXT_SIZE];
    char directory[MAX_PATH];
    if (!ToAnsi(command, line, TEXT_SIZE) || (folder && !ToAnsi(folder, directory, MAX_PATH)))
        return 0;
    return CreateProcessA(0, line, 0, 0, inherit, 0, 0, folder ? directory : 0, &startup,
                          process) != 0;
}

int SysSetEnvironment(const char *name, const char *value) {
    if (wide[0]) {
        WCHAR text[WIDE_PATH], content[WIDE_PATH];
        return ToWide(name, text, WIDE_PATH) && ToWide(value, content, WIDE_PATH) &&
               CALL(W_SET_ENVIRONMENT, BOOL(WINAPI *)(LPCWSTR, LPCWSTR))(text, content);
    }
    char text[MAX_PATH], content[MAX_PATH];
    return ToAnsi(name, text, MAX_PATH) && ToAnsi(value, content, MAX_PATH) &&
           SetEnvironmentVariableA(text, content);
}

HMODULE SysLoadLibrary(const char *path, DWORD flags) {
    if (wide[0]) {
        WCHAR name[WIDE_PATH];
        if (!ToWide(path, name, WIDE_PATH))
            return 0;
        return CALL(W_LOAD_LIBRARY_EX, HMODULE(WINAPI *)(LPCWSTR, HANDLE, DWORD))(name, 0, flags);
    }
    char name[MAX_PATH];
    if (!ToAnsi(path, name, MAX_PATH))
        return 0;
    return flags ? LoadLibraryExA(name, 0, flags) : LoadLibraryA(name);
}

// A library of the System folder, by its full path.
HMODULE LoadSystemLibrary(const char *name) {
    char path[PATH_SIZE];
    DWORD n = SysGetFolder(FOLDER_SYSTEM, path, PATH_SIZE);
    if (n == 0 || n >= PATH_SIZE || !AddBackslash(path, PATH_SIZE) ||
        !AppendText(path, PATH_SIZE, name))
        return 0;
    return SysLoadLibrary(path, 0);
}

int SysRemoveFont(const char *path) {
    return (int)CallOnPath(W_REMOVE_FONT, (PathCallA)(void (*)())RemoveFontResourceA, path, 0);
}

int SysShellPath(const struct _ITEMIDLIST *list, char *buffer) {
    buffer[0] = 0;
    if (wide[0]) {
        WCHAR name[WIDE_PATH];
        return CALL(W_PATH_FROM_LIST, BOOL(WINAPI *)(LPCITEMIDLIST, LPWSTR))(list, name) &&
               WideToUtf8(name, buffer, PATH_SIZE);
    }
    char name[MAX_PATH];
    return SHGetPathFromIDListA(list, name) && AnsiToUtf8(name, buffer, PATH_SIZE);
}

int SysShellOpen(const char *target) {
    if (wide[0]) {
        WCHAR name[TEXT_SIZE];
        static const WCHAR open[] = {'o', 'p', 'e', 'n', 0};
        return ToWide(target, name, TEXT_SIZE) &&
               (INT_PTR)CALL(W_SHELL_EXECUTE,
                             HINSTANCE(WINAPI *)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT))(
                   0, open, name, 0, 0, SW_SHOW) > 32;
    }
    char name[TEXT_SIZE];
    return ToAnsi(target, name, TEXT_SIZE) &&
           (INT_PTR)ShellExecuteA(0, "open", name, 0, 0, SW_SHOW) > 32;
}

// A method or property of an automation object, by its name.
static HRESULT InvokeByName(IDispatch *object, const WCHAR *name, WORD kind, DISPPARAMS *arguments,
                            VARIANT *result) {
    DISPID id;
    LPOLESTR names = (LPOLESTR)name;
    HRESULT status = object->GetIDsOfNames(IID_NULL, &names, 1, 0, &id);
    return FAILED(status) ? status : object->Invoke(id, IID_NULL, 0, kind, arguments, result, 0, 0);
}

// Opens target through the shell's application object that view (an automation object of a
// shell's folder view) names, so that its ShellExecute runs in the shell's own process.
// Called by name: the system marshals IDispatch between any two processes, not always the
// shell's own interfaces. The NT family only, where the strings are wide.
int SysShellOpenVia(IDispatch *view, const char *target) {
    typedef BSTR(WINAPI * AllocateStringProc)(const OLECHAR *);
    typedef void(WINAPI * FreeStringProc)(BSTR);
    WCHAR name[TEXT_SIZE];
    if (!wide[0] || !ToWide(target, name, TEXT_SIZE))
        return 0;
    HMODULE library = LoadSystemLibrary("oleaut32.dll"); // a BSTR comes from its allocator
    if (!library)
        return 0;
    AllocateStringProc allocate =
        (AllocateStringProc)(void (*)())GetProcAddress(library, "SysAllocString");
    FreeStringProc release = (FreeStringProc)(void (*)())GetProcAddress(library, "SysFreeString");
    int opened = 0;
    DISPPARAMS none = {0, 0, 0, 0};
    VARIANT application, result;
    FillBytes(&application, 0, sizeof application); // VT_EMPTY
    if (allocate && release &&
        SUCCEEDED(InvokeByName(view, L"Application", DISPATCH_PROPERTYGET, &none, &application)) &&
        application.vt == VT_DISPATCH && application.pdispVal) {
        // Last argument first: show, operation, folder and parameters left out, file.
        VARIANT arguments[5];
        FillBytes(arguments, 0, sizeof arguments);
        arguments[0].vt = VT_I4;
        arguments[0].lVal = SW_SHOW;
        arguments[1].vt = VT_BSTR;
        arguments[1].bstrVal = allocate(L"open");
        arguments[2].vt = arguments[3].vt = VT_ERROR;
        arguments[2].scode = arguments[3].scode = DISP_E_PARAMNOTFOUND;
        arguments[4].vt = VT_BSTR;
        arguments[4].bstrVal = allocate(name);
        DISPPARAMS call = {arguments, 0, 5, 0};
        FillBytes(&result, 0, sizeof result);
        opened = arguments[1].bstrVal && arguments[4].bstrVal &&
                 SUCCEEDED(InvokeByName(application.pdispVal, L"ShellExecute", DISPATCH_METHOD,
                                        &call, &result));
        release(arguments[1].bstrVal);
        release(arguments[4].bstrVal);
        application.pdispVal->Release();
    }
    FreeLibrary(library);
    return opened;
}

// Texts shown to the user: a character the code page lacks may be shown as the system
// chooses, since no file is named by it.
int SysMessageBox(HWND owner, const char *text, const char *caption, UINT style) {
    if (wide[0]) {
        WCHAR body[TEXT_SIZE], title[TEXT_SIZE];
        Utf8ToWide(text, body, TEXT_SIZE, 0);
        Utf8ToWide(caption, title, TEXT_SIZE, 0);
        return CALL(W_MESSAGE_BOX, int(WINAPI *)(HWND, LPCWSTR, LPCWSTR, UINT))(owner, body, title,
                                                                                style);
    }
    char body[TEXT_SIZE], title[TEXT_SIZE];
    Utf8ToAnsi(text, body, TEXT_SIZE, 0);
    Utf8ToAnsi(caption, title, TEXT_SIZE, 0);
    return MessageBoxA(owner, body, title, style);
}

// item 0 sets the window's own text.
int SysSetText(HWND window, int item, const char *text) {
    if (wide[0]) {
        WCHAR content[TEXT_SIZE];
        Utf8ToWide(text, content, TEXT_SIZE, 0);
        if (!item)
            return CALL(W_SET_WINDOW_TEXT, BOOL(WINAPI *)(HWND, LPCWSTR))(window, content);
        return CALL(W_SET_ITEM_TEXT, BOOL(WINAPI *)(HWND, int, LPCWSTR))(window, item, content);
    }
    char content[TEXT_SIZE];
    Utf8ToAnsi(text, content, TEXT_SIZE, 0);
    if (!item)
        return SetWindowTextA(window, content);
    return SetDlgItemTextA(window, item, content);
}

// The registry. Key and value names are converted like paths; text data too, so that a
// count stored as text reads as it does through the narrow calls.
LONG SysRegOpenKey(HKEY root, const char *path, REGSAM access, HKEY *key) {
    return SysRegOpenKeyWith(root, path, 0, access, key);
}

LONG SysRegOpenKeyWith(HKEY root, const char *path, DWORD options, REGSAM access, HKEY *key) {
    if (wide[0]) {
        WCHAR name[TEXT_SIZE];
        if (!ToWide(path, name, TEXT_SIZE))
            return ERROR_NO_UNICODE_TRANSLATION;
        return CALL(W_REG_OPEN_KEY, LONG(WINAPI *)(HKEY, LPCWSTR, DWORD, REGSAM, HKEY *))(
            root, name, options, access, key);
    }
    char name[TEXT_SIZE];
    if (!ToAnsi(path, name, TEXT_SIZE))
        return ERROR_NO_UNICODE_TRANSLATION;
    return RegOpenKeyExA(root, name, options, access, key);
}

static LONG RegCallOnName(int index, LONG(WINAPI *narrow)(HKEY, LPCSTR), HKEY key,
                          const char *name) {
    if (wide[0]) {
        WCHAR text[TEXT_SIZE];
        if (!ToWide(name, text, TEXT_SIZE))
            return ERROR_NO_UNICODE_TRANSLATION;
        return CALL(index, LONG(WINAPI *)(HKEY, LPCWSTR))(key, text);
    }
    char text[TEXT_SIZE];
    if (!ToAnsi(name, text, TEXT_SIZE))
        return ERROR_NO_UNICODE_TRANSLATION;
    return narrow(key, text);
}

LONG SysRegDeleteValue(HKEY key, const char *name) {
    return RegCallOnName(W_REG_DELETE_VALUE, RegDeleteValueA, key, name);
}

LONG SysRegDeleteKey(HKEY key, const char *name) {
    return RegCallOnName(W_REG_DELETE_KEY, RegDeleteKeyA, key, name);
}

static int IsText(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ;
}

// data may be null to ask only whether the value is there. Text comes back as UTF-8 with
// its terminator, *size counting it; text that does not fit fails with ERROR_MORE_DATA.
LONG SysRegQueryValue(HKEY key, const char *name, DWORD *type, BYTE *data, DWORD *size) {
    DWORD kind = 0;
    BYTE raw[2 * TEXT_SIZE];
    DWORD length = sizeof raw - 2;
    LONG result;
    if (wide[0]) {
        WCHAR text[TEXT_SIZE];
        if (!ToWide(name, text, TEXT_SIZE))
            return ERROR_NO_UNICODE_TRANSLATION;
        result = CALL(W_REG_QUERY_VALUE,
                      LONG(WINAPI *)(HKEY, LPCWSTR, DWORD *, DWORD *, BYTE *, DWORD *))(
            key, text, 0, &kind, data ? raw : 0, data ? &length : 0);
    } else {
        char text[TEXT_SIZE];
        if (!ToAnsi(name, text, TEXT_SIZE))
            return ERROR_NO_UNICODE_TRANSLATION;
        result = RegQueryValueExA(key, text, 0, &kind, data ? raw : 0, data ? &length : 0);
    }
    if (type)
        *type = kind;
    if (result != ERROR_SUCCESS || !data)
        return result;
    raw[length] = raw[length + 1] = 0; // the system need not terminate what it stored
    if (IsText(kind)) {
        int fits = wide[0] ? WideToUtf8((const WCHAR *)raw, (char *)data, *size)
                           : AnsiToUtf8((const char *)raw, (char *)data, *size);
        if (!fits)
            return ERROR_MORE_DATA;
        *size = TextLength((const char *)data) + 1;
        return ERROR_SUCCESS;
    }
    if (length > *size)
        return ERROR_MORE_DATA;
    CopyBytes(data, raw, length);
    *size = length;
    return ERROR_SUCCESS;
}

LONG SysRegSetValue(HKEY key, const char *name, DWORD type, const BYTE *data, DWORD size) {
    if (wide[0]) {
        WCHAR text[TEXT_SIZE], content[TEXT_SIZE];
        if (!ToWide(name, text, TEXT_SIZE))
            return ERROR_NO_UNICODE_TRANSLATION;
        if (IsText(type)) {
            if (!ToWide((const char *)data, content, TEXT_SIZE))
                return ERROR_NO_UNICODE_TRANSLATION;
            DWORD units = 0;
            while (content[units])
                units++;
            data = (const BYTE *)content;
            size = 2 * (units + 1);
        }
        return CALL(W_REG_SET_VALUE, LONG(WINAPI *)(HKEY, LPCWSTR, DWORD, DWORD, const BYTE *,
                                                    DWORD))(key, text, 0, type, data, size);
    }
    char text[TEXT_SIZE];
    if (!ToAnsi(name, text, TEXT_SIZE))
        return ERROR_NO_UNICODE_TRANSLATION;
    return RegSetValueExA(key, text, 0, type, data, size);
}

// The subkey at index as UTF-8; a name that cannot be written so fails like a name that
// does not fit.
LONG SysRegEnumKey(HKEY key, DWORD index, char *name, DWORD size) {
    LONG result;
    if (wide[0]) {
        WCHAR text[TEXT_SIZE];
        DWORD length = TEXT_SIZE;
        result = CALL(W_REG_ENUM_KEY, LONG(WINAPI *)(HKEY, DWORD, LPWSTR, DWORD *, DWORD *, LPWSTR,
                                                     DWORD *, FILETIME *))(key, index, text,
                                                                           &length, 0, 0, 0, 0);
        if (result == ERROR_SUCCESS && !WideToUtf8(text, name, size))
            result = ERROR_MORE_DATA;
        return result;
    }
    char text[TEXT_SIZE];
    DWORD length = TEXT_SIZE;
    result = RegEnumKeyExA(key, index, text, &length, 0, 0, 0, 0);
    if (result == ERROR_SUCCESS && !AnsiToUtf8(text, name, size))
        result = ERROR_MORE_DATA;
    return result;
}
