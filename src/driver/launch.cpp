// The application's program before removal and the closing document after it.
#include "driver.h"

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

static int HoldsSpace(const char *text) {
    for (; *text; text++)
        if (*text == ' ' || *text == '\t')
            return 1;
    return 0;
}

static int HoldsQuote(const char *text) {
    for (; *text; text++)
        if (*text == '"')
            return 1;
    return 0;
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
int RunProgram(const char *path, const char *arguments, int wait) {
    char *command = 0;
    int started = 0;
    PROCESS_INFORMATION process;

    if (!AllocateMemory((void **)&command, COMMAND_SIZE + PATH_SIZE))
        return 0;
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
        started = SysStartProcess(command, folder, SW_SHOWNORMAL, TRUE, &process);
    }
    ReleaseMemory((void **)&command);
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
        if (AppendText(command, COMMAND_SIZE, " ") &&
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

void OpenDocument(const char *target, const char *extension) {
    if (SysShellOpen(target))
        return;
    OpenWithFallback(target, extension);
}
