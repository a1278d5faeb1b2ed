// The uninstaller's own removal after it has exited. On the NT family the System folder's
// cmd.exe runs one command line that deletes the executable once it is free, at most 60
// times about a second apart, then removes the install folder if it is empty: no file holds
// the commands, so no other process can change them, and the wide start carries names in
// any script. On 95/98/Me a hidden batch in the temporary folder does the same.
#include "driver.h"
#include "../data/data.h"
#include "../removal/removal.h"

// The batch text and, once it is written, the command line. Every path may double in
// length when its percent signs are escaped, and the executable appears three times.
#define BATCH_SIZE 4096

// Placeholders in the batch text: each stands for one path, as command.com reads it.
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

static const char interpreter95[] = "command.com /C ";

// NT family. The paths reach cmd.exe through its environment, never through the command
// text, so no character of a name can end a quote or start another command: "%", "&", "^"
// and parentheses stay part of the name. /Q keeps the commands from being echoed, /D keeps
// the AutoRun commands of the registry away, /V:OFF leaves "!" alone, /S takes the rest of
// the line as it stands; ping, from the System folder by full path, waits about a second
// between its two echoes. The loop is in parentheses of its own so that the folder's removal
// follows it once, after the last attempt.
static const char commandNT[] =
    "\\cmd.exe\" /Q /D /V:OFF /S /C \"(for /L %i in (1,1,60) do (if exist \"%VANISH_EXE%\" "
    "(del /F /Q \"%VANISH_EXE%\" & \"%VANISH_SYSTEM%\\ping.exe\" -n 2 127.0.0.1 >nul)))";
static const char removeFolderNT[] = " & rmdir \"%VANISH_FOLDER%\"";
static const char *const variablesNT[] = {"VANISH_EXE", "VANISH_FOLDER", "VANISH_SYSTEM"};

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

// Appends a path as command.com reads it back unchanged: "%" doubled. Returns 0 when the
// path cannot be written safely or does not fit.
static int AppendPath(char *buffer, DWORD size, const char *path) {
    if (HoldsAny(path, separators95))
        return 0;
    for (const char *p = path; *p; p++) {
        char piece[3] = {*p, 0, 0};
        if (*p == '%')
            piece[1] = '%';
        if (!AppendText(buffer, size, piece))
            return 0;
    }
    return 1;
}

// The batch text with its placeholders replaced; 0 when it does not fit.
static int FormatBatch(char *buffer, DWORD size, const char *exe, const char *folder,
                       const char *batch) {
    const char *paths[] = {exe, folder, batch};
    buffer[0] = 0;
    for (const char *p = batch95; *p; p++) {
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

// Replaces an ANSI path by its short form when the system has one that fits; otherwise the
// long form stays, which is still the right file.
static void ShortenPath(char *path) {
    char shortPath[MAX_PATH];
    DWORD n = GetShortPathNameA(path, shortPath, MAX_PATH);
    if (n && n < MAX_PATH)
        CopyText(path, MAX_PATH, shortPath);
}
// pattern holds one "%d" and nothing else for wsprintfA; the number adds at most three
// digits.
HANDLE CreateTempBatchFile(char *buffer, const char *pattern) {
    DWORD n = SysGetFolder(FOLDER_TEMP, buffer, PATH_SIZE);
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

// 95/98/Me: the batch, in the OEM code page in which command.com reads it. Names reach it
// in the ANSI code page; one it cannot hold is not written.
static void ScheduleBatch(const char *exe, const char *folder) {
    char exeName[MAX_PATH], folderName[MAX_PATH];
    char batchName[PATH_SIZE], batchAnsi[MAX_PATH], batchOem[MAX_PATH];
    char *text = 0;
    if (!Utf8ToAnsi(exe, exeName, MAX_PATH, 1) || !Utf8ToAnsi(folder, folderName, MAX_PATH, 1) ||
        !AllocateMemory((void **)&text, BATCH_SIZE)) {
        ReportItem(ITEM_NOTED, "self-removal skipped", 0);
        return;
    }
    ShortenPath(exeName);
    ShortenPath(folderName);
    HANDLE file = CreateTempBatchFile(batchName, "delme%d.bat");
    if (file == INVALID_HANDLE_VALUE) {
        ReportItem(ITEM_NOTED, "self-removal batch not written, no free name", 0);
        ReleaseMemory((void **)&text);
        return;
    }
    int ready = Utf8ToAnsi(batchName, batchAnsi, MAX_PATH, 1);
    if (ready) {
        CharToOemA(exeName, exeName);
        CharToOemA(folderName, folderName);
        CharToOemA(batchAnsi, batchOem);
        ready =
            FormatBatch(text, BATCH_SIZE, exeName, folderName, batchOem) && WriteText(file, text);
    }
    CloseFile(file);
    // The line itself is not a batch, where "%%" would help: a name holding "%" is refused.
    PROCESS_INFORMATION process;
    if (ready && !HoldsAny(batchName, "%\"") && !HoldsAny(batchName, separators95) &&
        CopyText(text, BATCH_SIZE, interpreter95) && AppendText(text, BATCH_SIZE, batchName) &&
        SysStartProcess(text, 0, SW_HIDE, FALSE, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        ReportItem(ITEM_NOTED, "self-removal batch written and started", batchName);
    } else {
        SysDeleteFile(batchName); // a batch that is not complete never runs
        ReportItem(ITEM_NOTED,
                   ready ? "self-removal batch not started, deleted"
                         : "self-removal batch incomplete, deleted",
                   batchName);
    }
    ReleaseMemory((void **)&text);
}

// NT family: the command line, with the paths in cmd.exe's environment.
static void ScheduleCommand(const char *exe, const char *folder, const char *system) {
    char command[TEXT_SIZE];
    const char *values[] = {exe, folder, system};
    int ready = CopyText(command, TEXT_SIZE, "\"") && AppendText(command, TEXT_SIZE, system) &&
                AppendText(command, TEXT_SIZE, commandNT);
    // The folder goes only when empty, and never when protected.
    if (ready && !IsProtectedFolder((char *)folder))
        ready = AppendText(command, TEXT_SIZE, removeFolderNT);
    ready = ready && AppendText(command, TEXT_SIZE, "\"");
    for (DWORD i = 0; i < 3 && ready; i++)
        ready = SysSetEnvironment(variablesNT[i], values[i]);
    PROCESS_INFORMATION process;
    if (ready && SysStartProcess(command, 0, SW_HIDE, FALSE, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        ReportItem(ITEM_NOTED, "self-removal started", exe);
    } else {
        ReportItem(ITEM_NOTED, "self-removal not started", exe);
    }
}

void ScheduleSelfRemoval() {
    char system[PATH_SIZE];
    RemoveBackslash(installFolder);
    DWORD n = SysGetModuleName(workPath, PATH_SIZE);
    DWORD m = SysGetFolder(isNT ? FOLDER_SYSTEM : FOLDER_WINDOWS, system, PATH_SIZE);
    if (n == 0 || n >= PATH_SIZE || m == 0 || m >= PATH_SIZE || !installFolder[0]) {
        ReportItem(ITEM_NOTED, "self-removal skipped", 0);
        return; // a cut name would be another file
    }
    // A read-only executable would defeat every attempt to delete it.
    DWORD attributes = SysGetAttributes(workPath);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SysSetAttributes(workPath, attributes & ~FILE_ATTRIBUTE_READONLY);
    // The interpreter inherits this directory, so that nothing holds the install folder.
    RemoveBackslash(system);
    SysSetCurrentFolder(system);
    if (isNT)
        ScheduleCommand(workPath, installFolder, system);
    else
        ScheduleBatch(workPath, installFolder);
}
