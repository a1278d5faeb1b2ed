// The one place where names meet the system. Inside, every name and text is UTF-8; here it
// becomes UTF-16 for the wide call on the NT family, or the ANSI code page for the narrow
// call on 95/98/Me. The wide functions are looked up at start-up, never imported, so the
// same program still loads on Windows 95, whose DLLs lack most of them.
//
// On 95/98/Me a name the code page cannot hold is not tried: the call fails with
// ERROR_NO_UNICODE_TRANSLATION and nothing else is touched in its place.
#include "common.h"
#include <shlobj.h>
#include <stddef.h>

// The calls, in the order of callNames: each DLL's name, its functions, an empty name. The
// names are the wide ones; on 95/98/Me the same names ending in "A" fill the table, so
// each wrapper below converts a name once and makes one call for both families.
enum {
    C_CREATE_FILE,
    C_CREATE_DIRECTORY,
    C_DELETE_FILE,
    C_REMOVE_DIRECTORY,
    C_GET_ATTRIBUTES,
    C_SET_ATTRIBUTES,
    C_GET_CURRENT_DIRECTORY,
    C_SET_CURRENT_DIRECTORY,
    C_GET_MODULE_NAME,
    C_GET_TEMP_PATH,
    C_GET_FULL_PATH,
    C_GET_SHORT_PATH,
    C_GET_WINDOWS_DIRECTORY,
    C_GET_SYSTEM_DIRECTORY,
    C_FIND_FIRST,
    C_FIND_NEXT,
    C_CREATE_PROCESS,
    C_LOAD_LIBRARY_EX,
    C_SET_ENVIRONMENT,
    C_GET_COMMAND_LINE,
    C_FORMAT_MESSAGE,
    C_CREATE_MUTEX,
    C_REG_OPEN_KEY,
    C_REG_DELETE_VALUE,
    C_REG_DELETE_KEY,
    C_REG_QUERY_VALUE,
    C_REG_ENUM_KEY,
    C_REG_SET_VALUE,
    C_MESSAGE_BOX,
    C_SET_ITEM_TEXT,
    C_SET_WINDOW_TEXT,
    C_CHAR_UPPER,
    C_PATH_FROM_LIST,
    C_SHELL_EXECUTE,
    C_REMOVE_FONT,
    CALL_COUNT
};

static const char callNames[] = "kernel32.dll\0"
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
                                "CreateMutexW\0"
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

static FARPROC calls[CALL_COUNT]; // the wide calls on the NT family, else the narrow ones
static int wideCalls;             // 1 when calls holds the wide ones

// A path in UTF-16: 259 units and the terminator, the most the system accepts. Any other
// name or text, a registry path or a message, gets a text's room. A buffer of WCHARs holds
// the narrow form too, counted in bytes.
#define WIDE_PATH MAX_PATH

// A system DLL the program imports is loaded already; a program that links only part of
// this code may not import it, and loads it from the System folder.
static HMODULE SystemLibrary(const char *name) {
    HMODULE library = GetModuleHandleA(name);
    char path[MAX_PATH];
    UINT n = library ? 0 : GetSystemDirectoryA(path, MAX_PATH);
    if (n && n < MAX_PATH && CopyText(path + n, MAX_PATH - n, "\\") &&
        AppendText(path, MAX_PATH, name))
        library = LoadLibraryA(path);
    return library;
}

// Fills the table with the names ending in ending; 0 when one of them is missing.
static int FindCalls(char ending) {
    DWORD n = 0;
    for (const char *p = callNames; *p; p += TextLength(p) + 1) {
        HMODULE library = SystemLibrary(p);
        for (p += TextLength(p) + 1; *p; p += TextLength(p) + 1) {
            char name[32]; // the longest name and its terminator
            DWORD length = TextLength(p);
            if (n >= CALL_COUNT || length >= sizeof name || !library)
                return 0;
            CopyBytes(name, p, length + 1);
            name[length - 1] = ending;
            if (!(calls[n++] = GetProcAddress(library, name)))
                return 0;
        }
    }
    return n == CALL_COUNT;
}

void InitSystemLayer() {
    // A system without one of the wide calls keeps the narrow ones.
    wideCalls = isNT && FindCalls('W');
    if (!wideCalls)
        FindCalls('A');
    wideCharUpper = wideCalls ? (LPWSTR(WINAPI *)(LPWSTR))(void (*)())calls[C_CHAR_UPPER] : 0;
}

// A call of the table; the narrow ones until the layer is set up.
static FARPROC SystemCall(int index) {
    if (!calls[index])
        FindCalls('A');
    return calls[index];
}

#define CALL(index, type) ((type)(void (*)())SystemCall(index))

// 1 when the wide calls are in use.
int UsesWideCalls() {
    return wideCalls;
}

// A name's length as the system counts it: UTF-16 units for the wide calls, bytes of the
// ANSI code page for the narrow ones (two for a double-byte character); 0xFFFFFFFF for
// text that is not UTF-8.
static DWORD SystemLength(const char *name) {
    DWORD units = Utf16Length(name);
    WCHAR text[TEXT_SIZE];
    if (wideCalls || units == 0xFFFFFFFF || !Utf8ToWide(name, text, TEXT_SIZE, 1))
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

// A name in the form the calls of the table take; size counts characters of that form.
static int ToSystem(const char *name, WCHAR *buffer, DWORD size) {
    return wideCalls ? ToWide(name, buffer, size) : ToAnsi(name, (char *)buffer, size);
}

// A text shown to the user: a character the code page lacks may be shown as the system
// chooses, since no file is named by it.
static void ToSystemText(const char *text, WCHAR *buffer, DWORD size) {
    if (wideCalls)
        Utf8ToWide(text, buffer, size, 0);
    else
        Utf8ToAnsi(text, (char *)buffer, size, 0);
}

static int FromSystemText(const void *text, char *buffer, DWORD size, int strict) {
    return wideCalls ? WideToUtf8((const WCHAR *)text, buffer, size)
                     : AnsiToUtf8((const char *)text, buffer, size, strict);
}

// What a call that fills a buffer returns: the length without the terminator, or a length
// of size or more when it does not fit, as the system's own calls do; 0 on failure.
static DWORD FromSystem(const WCHAR *text, DWORD length, DWORD limit, char *buffer, DWORD size) {
    if (length == 0 || length >= limit)
        return 0;
    if (!FromSystemText(text, buffer, size, 1))
        return size;
    return TextLength(buffer);
}

HANDLE SysCreateFile(const char *path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    WCHAR name[WIDE_PATH];
    if (!ToSystem(path, name, WIDE_PATH))
        return INVALID_HANDLE_VALUE;
    return CALL(C_CREATE_FILE,
                HANDLE(WINAPI *)(const void *, DWORD, DWORD, void *, DWORD, DWORD, HANDLE))(
        name, access, share, 0, disposition, flags, 0);
}

// The calls that take one path and answer with a BOOL or a DWORD.
static DWORD CallOnPath(int index, const char *path, DWORD failure) {
    WCHAR name[WIDE_PATH];
    if (!ToSystem(path, name, WIDE_PATH))
        return failure;
    return (DWORD)CALL(index, BOOL(WINAPI *)(const void *))(name);
}

// A new folder with the security descriptor given, or the one the folder above passes down
// (null).
int SysCreateFolder(const char *path, void *security) {
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, security, FALSE};
    WCHAR name[WIDE_PATH];
    return ToSystem(path, name, WIDE_PATH) &&
           CALL(C_CREATE_DIRECTORY,
                BOOL(WINAPI *)(const void *, SECURITY_ATTRIBUTES *))(name, &attributes);
}

// The root of the volume that holds path, with its backslash: "C:\", or the folder another
// volume is mounted on where the system can tell (2000 and later). 0 when it is neither.
int SysGetVolumeRoot(const char *path, char *buffer) {
    typedef BOOL(WINAPI * VolumeProc)(LPCWSTR, LPWSTR, DWORD);
    VolumeProc volume =
        (VolumeProc)(void (*)())FindSystemFunction("kernel32.dll", "GetVolumePathNameW");
    WCHAR name[WIDE_PATH], root[WIDE_PATH];
    if (wideCalls && volume && ToWide(path, name, WIDE_PATH) && volume(name, root, WIDE_PATH) &&
        WideToUtf8(root, buffer, PATH_SIZE))
        return AddBackslash(buffer, PATH_SIZE);
    if (!path[0] || path[1] != ':' || path[2] != '\\')
        return 0;
    CopyBytes(buffer, path, 3);
    buffer[3] = 0;
    return 1;
}

int SysDeleteFile(const char *path) {
    return (int)CallOnPath(C_DELETE_FILE, path, 0);
}

int SysRemoveFolder(const char *path) {
    return (int)CallOnPath(C_REMOVE_DIRECTORY, path, 0);
}

int SysSetCurrentFolder(const char *path) {
    return (int)CallOnPath(C_SET_CURRENT_DIRECTORY, path, 0);
}

DWORD SysGetAttributes(const char *path) {
    return CallOnPath(C_GET_ATTRIBUTES, path, INVALID_FILE_ATTRIBUTES);
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
    WCHAR name[WIDE_PATH];
    return ToSystem(path, name, WIDE_PATH) &&
           CALL(C_SET_ATTRIBUTES, BOOL(WINAPI *)(const void *, DWORD))(name, attributes);
}

// The folder queries: the current directory, the temporary, Windows and System folders.
DWORD SysGetFolder(int which, char *buffer, DWORD size) {
    static const BYTE callIndex[] = {C_GET_CURRENT_DIRECTORY, C_GET_TEMP_PATH,
                                     C_GET_WINDOWS_DIRECTORY, C_GET_SYSTEM_DIRECTORY};
    WCHAR name[WIDE_PATH];
    DWORD n;
    buffer[0] = 0;
    if (which >= FOLDER_WINDOWS)
        n = CALL(callIndex[which], UINT(WINAPI *)(void *, UINT))(name, WIDE_PATH);
    else
        n = CALL(callIndex[which], DWORD(WINAPI *)(DWORD, void *))(WIDE_PATH, name);
    return FromSystem(name, n, WIDE_PATH, buffer, size);
}

// The program's own file in its long form where the system has one: started by its short
// (8.3) name, it still goes by its long one, and so do its journal, log and lock.
DWORD SysGetModuleName(char *buffer, DWORD size) {
    WCHAR name[WIDE_PATH];
    buffer[0] = 0;
    DWORD n = CALL(C_GET_MODULE_NAME, DWORD(WINAPI *)(HMODULE, void *, DWORD))(moduleHandle, name,
                                                                               WIDE_PATH);
    // Older systems do not terminate a cut name.
    if (wideCalls)
        name[WIDE_PATH - 1] = 0;
    else
        ((char *)name)[MAX_PATH - 1] = 0;
    n = FromSystem(name, n, WIDE_PATH, buffer, size);
    char longName[PATH_SIZE];
    DWORD m = n && n < size ? SysGetPathForm(buffer, longName, PATH_SIZE, 1) : 0;
    if (m && m < size && CopyText(buffer, size, longName))
        n = m;
    return n;
}

// The system's own words for an error, in the user's language where it has them; empty when
// it has none.
void SysErrorText(DWORD error, char *buffer, DWORD size) {
    WCHAR text[TEXT_SIZE];
    buffer[0] = 0;
    if (CALL(C_FORMAT_MESSAGE,
             DWORD(WINAPI *)(DWORD, const void *, DWORD, DWORD, void *, DWORD, void *))(
            FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, 0, error, 0, text,
            TEXT_SIZE, 0) &&
        !FromSystemText(text, buffer, size, 0))
        buffer[0] = 0;
}

// The command line as UTF-8: on the NT family from its wide form, so that a path given to a
// switch keeps every character. 0 when it does not fit.
int SysGetCommandLine(char *buffer, DWORD size) {
    buffer[0] = 0;
    return FromSystemText(CALL(C_GET_COMMAND_LINE, const void *(WINAPI *)())(), buffer, size, 0);
}

DWORD SysGetFullPath(const char *path, char *buffer, DWORD size) {
    WCHAR name[WIDE_PATH], full[WIDE_PATH];
    void *part;
    buffer[0] = 0;
    if (!ToSystem(path, name, WIDE_PATH))
        return 0;
    DWORD n = CALL(C_GET_FULL_PATH, DWORD(WINAPI *)(const void *, DWORD, void *, void **))(
        name, WIDE_PATH, full, &part);
    return FromSystem(full, n, WIDE_PATH, buffer, size);
}

// The short (8.3) or long form of an existing path, where the system has that form: 95
// and NT 4.0 have no long-name call. 0 when there is none or the path does not exist.
DWORD SysGetPathForm(const char *path, char *buffer, DWORD size, int longForm) {
    typedef DWORD(WINAPI * FormProc)(const void *, void *, DWORD);
    WCHAR name[WIDE_PATH], other[WIDE_PATH];
    buffer[0] = 0;
    FormProc form = longForm
                        ? (FormProc)(void (*)())FindSystemFunction(
                              "kernel32.dll", wideCalls ? "GetLongPathNameW" : "GetLongPathNameA")
                        : CALL(C_GET_SHORT_PATH, FormProc);
    if (!form || !ToSystem(path, name, WIDE_PATH))
        return 0;
    return FromSystem(other, form(name, other, WIDE_PATH), WIDE_PATH, buffer, size);
}

// Marks a file, or a folder that will be empty, for deletion at the next restart: the NT
// family's pending operations, which need administrator rights. 0 where that fails.
int SysDeleteAtRestart(const char *path) {
    typedef BOOL(WINAPI * MoveProc)(const void *, const void *, DWORD);
    WCHAR name[WIDE_PATH];
    MoveProc move = (MoveProc)(void (*)())FindSystemFunction(
        "kernel32.dll", wideCalls ? "MoveFileExW" : "MoveFileExA");
    return move && ToSystem(path, name, WIDE_PATH) && move(name, 0, MOVEFILE_DELAY_UNTIL_REBOOT);
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
// empty, which matches nothing. Both forms of the found data hold the long name at the same
// place, each of its MAX_PATH characters one or two bytes long.
static_assert(offsetof(WIN32_FIND_DATAA, cFileName) == offsetof(WIN32_FIND_DATAW, cFileName),
              "the found names start at the same place");
static void KeepFound(const WIN32_FIND_DATAW *found, char *name, char *shortName) {
    const BYTE *names = (const BYTE *)found->cFileName;
    if (!FromSystemText(names, name, PATH_SIZE, 1))
        name[0] = 0;
    if (!FromSystemText(names + MAX_PATH * (wideCalls ? 2 : 1), shortName, SHORT_NAME_SIZE, 1))
        shortName[0] = 0;
}

HANDLE SysFindFirst(const char *pattern, char *name, char *shortName) {
    HANDLE search = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAW found; // room for either form
    WCHAR text[WIDE_PATH];
    if (ToSystem(pattern, text, WIDE_PATH))
        search = CALL(C_FIND_FIRST, HANDLE(WINAPI *)(const void *, void *))(text, &found);
    if (search != INVALID_HANDLE_VALUE)
        KeepFound(&found, name, shortName);
    return search;
}

int SysFindNext(HANDLE search, char *name, char *shortName) {
    WIN32_FIND_DATAW found;
    if (!CALL(C_FIND_NEXT, BOOL(WINAPI *)(HANDLE, void *))(search, &found))
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
    WCHAR line[TEXT_SIZE];
    WCHAR directory[WIDE_PATH];
    if (!ToSystem(command, line, TEXT_SIZE) || (folder && !ToSystem(folder, directory, WIDE_PATH)))
        return 0;
    return CALL(C_CREATE_PROCESS,
                BOOL(WINAPI *)(const void *, void *, void *, void *, BOOL, DWORD, void *,
                               const void *, STARTUPINFOA *, PROCESS_INFORMATION *))(
               0, line, 0, 0, inherit, 0, 0, folder ? directory : 0, &startup, process) != 0;
}

int SysSetEnvironment(const char *name, const char *value) {
    WCHAR text[WIDE_PATH], content[WIDE_PATH];
    return ToSystem(name, text, WIDE_PATH) && ToSystem(value, content, WIDE_PATH) &&
           CALL(C_SET_ENVIRONMENT, BOOL(WINAPI *)(const void *, const void *))(text, content);
}

// A named mutex, not owned; null when it cannot be made. The last error tells whether it
// was there already.
HANDLE SysCreateMutex(const char *name) {
    WCHAR text[WIDE_PATH];
    if (!ToSystem(name, text, WIDE_PATH))
        return 0;
    return CALL(C_CREATE_MUTEX, HANDLE(WINAPI *)(void *, BOOL, const void *))(0, FALSE, text);
}

// Flags 0 loads as the plain call does.
HMODULE SysLoadLibrary(const char *path, DWORD flags) {
    WCHAR name[WIDE_PATH];
    if (!ToSystem(path, name, WIDE_PATH))
        return 0;
    return CALL(C_LOAD_LIBRARY_EX, HMODULE(WINAPI *)(const void *, HANDLE, DWORD))(name, 0, flags);
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
    return (int)CallOnPath(C_REMOVE_FONT, path, 0);
}

int SysShellPath(const struct _ITEMIDLIST *list, char *buffer) {
    WCHAR name[WIDE_PATH];
    buffer[0] = 0;
    return CALL(C_PATH_FROM_LIST, BOOL(WINAPI *)(LPCITEMIDLIST, void *))(list, name) &&
           FromSystemText(name, buffer, PATH_SIZE, 1);
}

int SysShellOpen(const char *target) {
    static const WCHAR openWide[] = {'o', 'p', 'e', 'n', 0};
    WCHAR name[TEXT_SIZE];
    return ToSystem(target, name, TEXT_SIZE) &&
           (INT_PTR)CALL(C_SHELL_EXECUTE, HINSTANCE(WINAPI *)(HWND, const void *, const void *,
                                                              const void *, const void *, INT))(
               0, wideCalls ? (const void *)openWide : "open", name, 0, 0, SW_SHOW) > 32;
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
    if (!wideCalls || !ToWide(target, name, TEXT_SIZE))
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

int SysMessageBox(HWND owner, const char *text, const char *caption, UINT style) {
    WCHAR body[TEXT_SIZE], title[TEXT_SIZE];
    ToSystemText(text, body, TEXT_SIZE);
    ToSystemText(caption, title, TEXT_SIZE);
    return CALL(C_MESSAGE_BOX, int(WINAPI *)(HWND, const void *, const void *, UINT))(owner, body,
                                                                                      title, style);
}

// item 0 sets the window's own text.
int SysSetText(HWND window, int item, const char *text) {
    WCHAR content[TEXT_SIZE];
    ToSystemText(text, content, TEXT_SIZE);
    if (!item)
        return CALL(C_SET_WINDOW_TEXT, BOOL(WINAPI *)(HWND, const void *))(window, content);
    return CALL(C_SET_ITEM_TEXT, BOOL(WINAPI *)(HWND, int, const void *))(window, item, content);
}

// The registry. Key and value names are converted like paths; text data too, so that a
// count stored as text reads as it does through the narrow calls.
LONG SysRegOpenKey(HKEY root, const char *path, REGSAM access, HKEY *key) {
    return SysRegOpenKeyWith(root, path, 0, access, key);
}

LONG SysRegOpenKeyWith(HKEY root, const char *path, DWORD options, REGSAM access, HKEY *key) {
    WCHAR name[TEXT_SIZE];
    if (!ToSystem(path, name, TEXT_SIZE))
        return ERROR_NO_UNICODE_TRANSLATION;
    return CALL(C_REG_OPEN_KEY, LONG(WINAPI *)(HKEY, const void *, DWORD, REGSAM, HKEY *))(
        root, name, options, access, key);
}

static LONG RegCallOnName(int index, HKEY key, const char *name) {
    WCHAR text[TEXT_SIZE];
    if (!ToSystem(name, text, TEXT_SIZE))
        return ERROR_NO_UNICODE_TRANSLATION;
    return CALL(index, LONG(WINAPI *)(HKEY, const void *))(key, text);
}

LONG SysRegDeleteValue(HKEY key, const char *name) {
    return RegCallOnName(C_REG_DELETE_VALUE, key, name);
}

LONG SysRegDeleteKey(HKEY key, const char *name) {
    return RegCallOnName(C_REG_DELETE_KEY, key, name);
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
    WCHAR text[TEXT_SIZE];
    if (!ToSystem(name, text, TEXT_SIZE))
        return ERROR_NO_UNICODE_TRANSLATION;
    LONG result = CALL(C_REG_QUERY_VALUE,
                       LONG(WINAPI *)(HKEY, const void *, DWORD *, DWORD *, BYTE *, DWORD *))(
        key, text, 0, &kind, data ? raw : 0, data ? &length : 0);
    if (type)
        *type = kind;
    if (result != ERROR_SUCCESS || !data)
        return result;
    raw[length] = raw[length + 1] = 0; // the system need not terminate what it stored
    if (IsText(kind)) {
        if (!FromSystemText(raw, (char *)data, *size, 1))
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

// Text data goes to the wide call in UTF-16; the narrow call stores it as it is.
LONG SysRegSetValue(HKEY key, const char *name, DWORD type, const BYTE *data, DWORD size) {
    WCHAR text[TEXT_SIZE], content[TEXT_SIZE];
    if (!ToSystem(name, text, TEXT_SIZE))
        return ERROR_NO_UNICODE_TRANSLATION;
    if (wideCalls && IsText(type)) {
        if (!ToWide((const char *)data, content, TEXT_SIZE))
            return ERROR_NO_UNICODE_TRANSLATION;
        DWORD units = 0;
        while (content[units])
            units++;
        data = (const BYTE *)content;
        size = 2 * (units + 1);
    }
    return CALL(C_REG_SET_VALUE, LONG(WINAPI *)(HKEY, const void *, DWORD, DWORD, const BYTE *,
                                                DWORD))(key, text, 0, type, data, size);
}

// The subkey at index as UTF-8; a name that cannot be written so fails like a name that
// does not fit.
LONG SysRegEnumKey(HKEY key, DWORD index, char *name, DWORD size) {
    WCHAR text[TEXT_SIZE];
    DWORD length = TEXT_SIZE;
    LONG result =
        CALL(C_REG_ENUM_KEY, LONG(WINAPI *)(HKEY, DWORD, void *, DWORD *, DWORD *, void *, DWORD *,
                                            FILETIME *))(key, index, text, &length, 0, 0, 0, 0);
    if (result == ERROR_SUCCESS && !FromSystemText(text, name, size, 1))
        result = ERROR_MORE_DATA;
    return result;
}
