// The uninstaller's own removal after it has exited: a hidden batch in the temporary folder
// deletes the executable once it is free, then the install folder if it is empty, then
// itself.
#include "driver.h"
#include "../data/data.h"

// The batch text and, once it is written, the command line. Every path may double in
// length when its percent signs are escaped, and the executable appears three times.
#define BATCH_SIZE 4096

// Placeholders in the batch texts: each stands for one path, quoted and escaped as the
// family's command interpreter needs.
#define EXE "\x01"
#define FOLDER "\x02"
#define BATCH "\x03"

// 95/98/Me: command.com loops until the executable is gone.
static const char batch95[] = "@echo off\r\n"
                              ":Repeat\r\n"
                              "del " EXE "\r\n"
                              "if exist " EXE " goto Repeat\r\n"
                              "rmdir " FOLDER "\r\n"
                              "del " BATCH "\r\n";

// NT family: at most 60 attempts about a second apart, so that an executable that cannot
// be deleted does not keep the batch alive for ever. Each failure adds one "x" to the
// count, which needs no command extensions; ping is the one waiting command that every NT
// system has, and it waits about a second between its two echoes.
static const char batchNT[] =
    "@echo off\r\n"
    "set vanishTries=\r\n"
    ":Repeat\r\n"
    "del " EXE "\r\n"
    "if not exist " EXE " goto Removed\r\n"
    "set vanishTries=%vanishTries%x\r\n"
    "if \"%vanishTries%\"==\"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\" "
    "goto Removed\r\n"
    "ping -n 2 127.0.0.1 >nul\r\n"
    "goto Repeat\r\n"
    ":Removed\r\n"
    "rmdir " FOLDER "\r\n"
    "del " BATCH "\r\n";

static const char interpreter95[] = "command.com /C ";
static const char interpreterNT[] = "\\cmd.exe";

// Characters that end or change an unquoted argument of command.com. Short names hold
// none of them; a path that still does cannot be written safely.
static const char separators95[] = " \t,;=<>|\"";

static int HoldsAny(const char *text, const char *characters) {
    for (; *text; text++)
        for (const char *c = characters; *c; c++)
            if (*text == *c)
                return 1;
    return 0;
}

// Appends a path as the family's interpreter reads it back unchanged: "%" doubled, and on
// NT the whole path in double quotes, which keeps spaces, "&", "^" and parentheses literal.
// Returns 0 when the path cannot be written safely or does not fit.
static int AppendPath(char *buffer, DWORD size, const char *path) {
    if (HoldsAny(path, isNT ? "\"" : separators95))
        return 0;
    if (isNT && !AppendText(buffer, size, "\""))
        return 0;
    for (const char *p = path; *p; p++) {
        char piece[3] = {*p, 0, 0};
        if (*p == '%')
            piece[1] = '%';
        if (!AppendText(buffer, size, piece))
            return 0;
    }
    return !isNT || AppendText(buffer, size, "\"");
}

// The batch text with its placeholders replaced; 0 when it does not fit.
static int FormatBatch(char *buffer, DWORD size, const char *exe, const char *folder,
                       const char *batch) {
    const char *paths[] = {exe, folder, batch};
    buffer[0] = 0;
    for (const char *p = isNT ? batchNT : batch95; *p; p++) {
        if (*p >= 1 && *p <= 3) {
            if (!AppendPath(buffer, size, paths[*p - 1]))
                return 0;
            continue;
        }
        char piece[2] = {*p, 0};
        if (!AppendText(buffer, size, piece))
            return 0;
    }
    return 1;
}

// The interpreter and the batch file's name as one command line. On NT the interpreter is
// COMSPEC's, or the System folder's cmd.exe; the doubled quotes survive cmd's removal of
// the outer pair, so the name stays one argument. The line itself is not a batch, where
// "%%" would help: a name holding "%" is refused.
static int BuildCommandLine(char *buffer, DWORD size, const char *batch) {
    if (HoldsAny(batch, "%\""))
        return 0;
    if (!isNT)
        return !HoldsAny(batch, separators95) && CopyText(buffer, size, interpreter95) &&
               AppendText(buffer, size, batch);
    char program[PATH_SIZE];
    DWORD n = GetEnvironmentVariableA("COMSPEC", program, PATH_SIZE);
    if (n >= PATH_SIZE)
        return 0;
    if (n == 0) {
        n = GetSystemDirectoryA(program, PATH_SIZE);
        if (n == 0 || n >= PATH_SIZE)
            return 0;
        RemoveBackslash(program);
        if (!AppendText(program, PATH_SIZE, interpreterNT))
            return 0;
    }
    return !HoldsAny(program, "\"") && CopyText(buffer, size, "\"") &&
           AppendText(buffer, size, program) && AppendText(buffer, size, "\" /C \"\"") &&
           AppendText(buffer, size, batch) && AppendText(buffer, size, "\"\"");
}

// Replaces path by its short form when the system has one that fits; otherwise the long
// form stays, which is still the right file.
static void ShortenPath(char *path) {
    char shortPath[PATH_SIZE];
    DWORD n = GetShortPathNameA(path, shortPath, PATH_SIZE);
    if (n && n < PATH_SIZE)
        CopyText(path, PATH_SIZE, shortPath);
}

// pattern holds one "%d" and nothing else for wsprintfA; the number adds at most three
// digits.
HANDLE CreateTempBatchFile(char *buffer, const char *pattern) {
    DWORD n = GetTempPathA(PATH_SIZE, buffer);
    buffer[PATH_SIZE - 1] = 0;
    if (n == 0 || n >= PATH_SIZE || TextLength(pattern) >= PATH_SIZE - 3 ||
        !AddBackslash(buffer, PATH_SIZE)) {
        buffer[0] = 0;
        return INVALID_HANDLE_VALUE;
    }
    DWORD folderLength = TextLength(buffer);
    for (int number = 1; number <= 998; number++) {
        char name[PATH_SIZE];
        buffer[folderLength] = 0;
        wsprintfA(name, pattern, number);
        if (!AppendText(buffer, PATH_SIZE, name))
            break;
        HANDLE file = OpenExistingFile(buffer, OPEN_READ);
        if (file != INVALID_HANDLE_VALUE) {
            CloseFile(file); // taken
            continue;
        }
        file = CreateNewFile(buffer);
        if (file != INVALID_HANDLE_VALUE)
            return file;
    }
    buffer[0] = 0;
    return INVALID_HANDLE_VALUE;
}

// Writes the whole text; 0 when any of it is missing.
static int WriteText(HANDLE file, const char *text) {
    DWORD length = TextLength(text);
    DWORD written = 0;
    return WriteFile(file, text, length, &written, 0) && written == length;
}

void ScheduleSelfRemoval() {
    char batchName[PATH_SIZE];
    char batchNameOem[PATH_SIZE];
    char *text = 0;

    ShortenPath(installFolder);
    RemoveBackslash(installFolder);
    DWORD n = GetModuleFileNameA(moduleHandle, workPath, PATH_SIZE);
    if (n == 0 || n >= PATH_SIZE) {
        ReportItem(ITEM_NOTED, "self-removal skipped", 0);
        return; // a cut name would be another file
    }
    // A read-only executable would defeat every attempt to delete it.
    DWORD attributes = GetFileAttributesA(workPath);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesA(workPath, attributes & ~FILE_ATTRIBUTE_READONLY);
    ShortenPath(workPath);

    // The interpreter inherits this directory, so that nothing holds the install folder.
    char current[PATH_SIZE];
    n = isNT ? GetSystemDirectoryA(current, PATH_SIZE) : GetWindowsDirectoryA(current, PATH_SIZE);
    if (n && n < PATH_SIZE) {
        RemoveBackslash(current);
        SetCurrentDirectoryA(current);
    }

    if (!AllocateMemory((void **)&text, BATCH_SIZE)) {
        ReportItem(ITEM_NOTED, "self-removal skipped", 0);
        return;
    }
    HANDLE file = CreateTempBatchFile(batchName, "delme%d.bat");
    if (file == INVALID_HANDLE_VALUE) {
        ReportItem(ITEM_NOTED, "self-removal batch not written, no free name", 0);
        ReleaseMemory((void **)&text);
        return;
    }

    // The interpreter reads the batch in the OEM code page; the command line stays ANSI.
    CharToOemA(installFolder, installFolder);
    CharToOemA(workPath, workPath);
    CharToOemA(batchName, batchNameOem);
    int ready = FormatBatch(text, BATCH_SIZE, workPath, installFolder, batchNameOem) &&
                WriteText(file, text);
    CloseFile(file);

    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    FillBytes(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    if (ready && BuildCommandLine(text, BATCH_SIZE, batchName) &&
        CreateProcessA(0, text, 0, 0, FALSE, 0, 0, 0, &startup, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        ReportItem(ITEM_NOTED, "self-removal batch written and started", batchName);
    } else {
        DeleteFileA(batchName); // a batch that is not complete never runs
        ReportItem(ITEM_NOTED,
                   ready ? "self-removal batch not started, deleted"
                         : "self-removal batch incomplete, deleted",
                   batchName);
    }
    ReleaseMemory((void **)&text);
}
