// The application's program before removal and the closing document after it.
#include "driver.h"
#include "../guards/guards.h"

#define COMMAND_SIZE TEXT_SIZE // a quoted path, a space and arguments; a command and its target
#define WAIT_SLICE 50          // milliseconds between two looks at the message queue

static const char openCommandKey[] = "\\shell\\open\\command";

// The first occurrence of part in text, or null.
static char *FindText(char *text, const char *part) {
    DWORD length = TextLength(part);
    for (; *text; text++) {
        DWORD i = 0;
        while (i < length && text[i] == part[i])
            i++;
        if (i == length)
            return text;
    }
    return 0;
}

static int IsBlank(char c) {
    return c == ' ' || c == '\t';
}

static int HoldsSpace(const char *text) {
    for (; *text; text++)
        if (IsBlank(*text))
            return 1;
    return 0;
}

static int HoldsQuote(const char *text) {
    for (; *text; text++)
        if (*text == '"')
            return 1;
    return 0;
}

// Whether text starts with an extension of a program the system runs when it is named, in
// any case, that ends a word.
static int EndsProgramName(const char *text) {
    static const char extensions[] = ".exe.com.bat.cmd";
    for (const char *extension = extensions; *extension; extension += 4) {
        DWORD i = 0; // a mismatch stops the comparison at the text's terminator at the latest
        while (i < 4 && (text[i] | 0x20) == extension[i])
            i++;
        if (i == 4)
            return !text[4] || IsBlank(text[4]);
    }
    return 0;
}

// The end of an unquoted command's program part: just after the first program extension
// that ends a word (named set), or else the end of the last word before the first that
// starts an argument (a switch, a quoted text or a placeholder).
static DWORD ProgramPartEnd(const char *command, int *named) {
    for (DWORD i = 0; command[i]; i++)
        if (EndsProgramName(command + i)) {
            *named = 1;
            return i + 4;
        }
    *named = 0;
    DWORD end = 0;
    for (DWORD i = 0; command[i];) {
        char c = command[i];
        if (i && (c == '/' || c == '-' || c == '"' || c == '%'))
            break;
        while (command[i] && !IsBlank(command[i]))
            i++;
        end = i;
        while (IsBlank(command[i]))
            i++;
    }
    return end;
}

// The system reads an unquoted "C:\Program Files\X\x.exe" as "C:\Program.exe" first, so a
// registered command's program part that holds a blank is quoted here, up to its program
// extension. A program part that holds a blank but no such extension is refused with 0:
// nobody can tell where its name ends, and guessing would be that same search. So is an
// opening quote never closed. A program part without a blank runs as it stands.
static int QuoteProgram(char *command, DWORD size) {
    if (command[0] == '"')
        return FindText(command + 1, "\"") != 0;
    int named;
    DWORD end = ProgramPartEnd(command, &named);
    DWORD i = 0;
    while (i < end && !IsBlank(command[i]))
        i++;
    if (i == end)
        return 1;
    DWORD length = TextLength(command);
    if (!named || length + 3 > size)
        return 0;
    // Two quotes go in: everything after the name moves by two, the name by one.
    for (i = length + 1; i-- > end;)
        command[i + 2] = command[i];
    command[end + 1] = '"';
    for (i = end; i-- > 0;)
        command[i + 1] = command[i];
    command[0] = '"';
    return 1;
}

// Waits on the process itself: its exit code alone cannot tell a running program from one
// that ended with 259 (STILL_ACTIVE). Between two short waits the queue is peeked, never
// dispatched, so that the system sees the thread as responsive.
static void WaitForProcess(HANDLE process) {
    MSG message;
    while (WaitForSingleObject(process, WAIT_SLICE) == WAIT_TIMEOUT)
        PeekMessageA(&message, 0, 0, 0, PM_NOREMOVE);
}

// The program starts in its own folder; this process's current directory stays as it is.
// On the NT family it is first opened as itself, like every item the run removes: one
// reached through a link is not started (0, with REACHED_THROUGH_LINK as the last error).
// That handle lets others read it, no more, until the process is made, so that what starts
// is what was checked. The program inherits no handle of this process.
int RunProgram(const char *path, const char *arguments, int wait) {
    char *command = 0;
    int started = 0;
    PROCESS_INFORMATION process;

    HANDLE held = OpenByOwnName(path, GENERIC_READ, FILE_SHARE_READ, 0);
    if (held == INVALID_HANDLE_VALUE && GetLastError() == REACHED_THROUGH_LINK)
        return 0;
    if (!AllocateMemory((void **)&command, COMMAND_SIZE + PATH_SIZE)) {
        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
        return 0;
    }
    char *programFolder = command + COMMAND_SIZE;
    // A command that does not fit is not run: a cut line names another program.
    if (CopyText(command, COMMAND_SIZE, "\"") && AppendText(command, COMMAND_SIZE, path) &&
        AppendText(command, COMMAND_SIZE, "\"") &&
        (!arguments || !arguments[0] ||
         (AppendText(command, COMMAND_SIZE, " ") &&
          AppendText(command, COMMAND_SIZE, arguments)))) {
        const char *folder = 0;
        if (CopyText(programFolder, PATH_SIZE, path)) {
            char *last = FindLastBackslash(programFolder);
            if (last) {
                // "C:\app.exe" runs in "C:\", not in the current directory of drive C.
                if (last > programFolder && last[-1] == ':')
                    last++;
                *last = 0;
                folder = programFolder;
            }
        }
        started = SysStartProcess(command, folder, SW_SHOWNORMAL, FALSE, &process);
    }
    ReleaseMemory((void **)&command);
    if (held != INVALID_HANDLE_VALUE)
        CloseHandle(held);
    if (!started)
        return 0;

    if (wait)
        WaitForProcess(process.hProcess);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 1;
}

// A value that cannot be read, or does not fit 260 bytes, leaves an empty text, never the
// buffer's earlier contents.
LONG ReadDefaultValue(HKEY root, const char *subkey, char *buffer) {
    HKEY key;
    LONG result = SysRegOpenKey(root, subkey, KEY_QUERY_VALUE, &key);
    buffer[0] = 0;
    if (result != ERROR_SUCCESS)
        return result;
    DWORD type = 0;
    DWORD size = PATH_SIZE;
    if (SysRegQueryValue(key, "", &type, (BYTE *)buffer, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        buffer[0] = 0;
    RegCloseKey(key);
    return ERROR_SUCCESS;
}

// Runs the command registered for the fallback file type with the target in place of its
// placeholder and whatever followed it.
static void OpenWithFallback(const char *target, const char *extension) {
    char *command = 0;
    if (!AllocateMemory((void **)&command, COMMAND_SIZE))
        return;
    int quote = HoldsSpace(target);
    if (ReadDefaultValue(HKEY_CLASSES_ROOT, extension, command) == ERROR_SUCCESS && command[0] &&
        AppendText(command, COMMAND_SIZE, openCommandKey) &&
        ReadDefaultValue(HKEY_CLASSES_ROOT, command, command) == ERROR_SUCCESS && command[0] &&
        !(quote && HoldsQuote(target))) {
        char *placeholder = FindText(command, "\"%1\"");
        if (!placeholder)
            placeholder = FindText(command, "%1");
        if (placeholder)
            *placeholder = 0;
        // A target with a space is one argument only in quotes.
        if (QuoteProgram(command, COMMAND_SIZE) && AppendText(command, COMMAND_SIZE, " ") &&
            (!quote || AppendText(command, COMMAND_SIZE, "\"")) &&
            AppendText(command, COMMAND_SIZE, target) &&
            (!quote || AppendText(command, COMMAND_SIZE, "\""))) {
            PROCESS_INFORMATION process;
            if (SysStartProcess(command, 0, SW_SHOW, FALSE, &process)) {
                CloseHandle(process.hThread);
                CloseHandle(process.hProcess);
            }
        }
    }
    ReleaseMemory((void **)&command);
}

typedef BOOL(WINAPI *OpenProcessTokenProc)(HANDLE, DWORD, HANDLE *);
typedef BOOL(WINAPI *GetTokenInformationProc)(HANDLE, int, void *, DWORD, DWORD *);

#define TOKEN_USER_CLASS 1       // TokenUser: the account's SID
#define TOKEN_ELEVATION_CLASS 20 // TokenElevation: Vista and later

// What a program this process starts would be allowed: RIGHTS_ELEVATED for an elevated
// token (Vista and later), whose programs get rights the desktop user's own programs lack;
// RIGHTS_SYSTEM for an account of the system itself (LocalSystem, LocalService,
// NetworkService: S-1-5-18 to S-1-5-20), which a deployment tool may use on any NT
// version; RIGHTS_USER otherwise. Before Vista a user's programs all run with the same
// rights, so an administrator's token counts as the user's own (there the elevation cannot
// be asked). A token that cannot be read counts as elevated: in doubt the document goes
// only through the desktop shell, never with this process's rights. The token functions
// exist on the NT family only: looked up, never imported.
int TokenRights(HANDLE token) {
    GetTokenInformationProc query = (GetTokenInformationProc)(void (*)())FindSystemFunction(
        "advapi32.dll", "GetTokenInformation");
    DWORD words[32]; // a TOKEN_USER and its SID; a SID has at most 15 sub-authorities
    DWORD size;
    if (!query || !query(token, TOKEN_USER_CLASS, words, sizeof words, &size))
        return RIGHTS_ELEVATED;
    // Revision 1, one sub-authority, the NT authority (0, 0, 0, 0, 0, 5), then the account.
    static const BYTE systemAccount[8] = {1, 1, 0, 0, 0, 0, 0, 5};
    const BYTE *sid = (const BYTE *)(ULONG_PTR)words[0];
    DWORD i = 0;
    while (i < sizeof systemAccount && sid[i] == systemAccount[i])
        i++;
    DWORD account = *(const DWORD *)(sid + 8);
    if (i == sizeof systemAccount && account >= 18 && account <= 20)
        return RIGHTS_SYSTEM;
    if (query(token, TOKEN_ELEVATION_CLASS, words, sizeof(DWORD), &size) && words[0])
        return RIGHTS_ELEVATED;
    return RIGHTS_USER;
}

// 95/98/Me have no accounts to keep apart: every program has every right.
int RightsOfThisRun() {
    if (!isNT)
        return RIGHTS_USER;
    OpenProcessTokenProc open =
        (OpenProcessTokenProc)(void (*)())FindSystemFunction("advapi32.dll", "OpenProcessToken");
    HANDLE token;
    // (HANDLE)-1 is the handle GetCurrentProcess gives, saving an import.
    if (!open || !open((HANDLE)-1, TOKEN_QUERY, &token))
        return RIGHTS_ELEVATED;
    int rights = TokenRights(token);
    CloseHandle(token);
    return rights;
}

void OpenDocument(const char *target, const char *extension) {
    if (SysShellOpen(target))
        return;
    OpenWithFallback(target, extension);
}
