// The uninstaller's own removal after it has exited. On the NT family the System folder's
// cmd.exe runs one command line that deletes the executable once it is free, at most 60
// times about a second apart, then removes the install folder if it is empty: no file holds
// the commands, so no other process can change them, and the wide start carries names in
// any script. On 95/98/Me, whose command.com runs loops only from a file, the Windows
// folder's command.com runs a hidden batch that does the same, made new under a name
// nobody can guess in the temporary folder. Neither interpreter is looked up through
// COMSPEC or PATH: both are named by full path.
#include "driver.h"
#include "../data/data.h"
#include "../removal/removal.h"

// The batch text and, once it is written, the command line. Every path may double in
// length when its percent signs are escaped, and the executable appears three times.
#define BATCH_SIZE 4096
#define BATCH_NAME_TRIES 16 // random names tried before the self-removal gives up

// Placeholders in the batch text: each stands for one path, as command.com reads it.
#define EXE "\x01"
#define FOLDER "\x02"
#define BATCH "\x03"
#define CHOICE "\x04"
#define JOURNAL "\x05"

// 95/98/Me: command.com loops until the executable is gone. choice, from the Windows
// folder's COMMAND folder, is its only way to wait: with it the loop ends after 60 tries
// about a second apart; without it the loop runs until the file goes. command.com has no
// arithmetic: the count is the length of a variable that grows by one "x" per try.
#define TRIES_10 "xxxxxxxxxx"
#define TRIES TRIES_10 TRIES_10 TRIES_10 TRIES_10 TRIES_10 TRIES_10
static const char batchStart95[] = "@echo off\r\n"
                                   "set VANISHTRY=\r\n"
                                   ":Repeat\r\n"
                                   "del " EXE "\r\n"
                                   "if not exist " EXE " goto Done\r\n";
static const char batchWait95[] = "if \"%VANISHTRY%\"==\"" TRIES "\" goto Done\r\n"
                                  "set VANISHTRY=%VANISHTRY%x\r\n" CHOICE " /C:y /T:y,1 >nul\r\n";
static const char batchLoop95[] = "goto Repeat\r\n"
                                  ":Done\r\n";
static const char batchJournal95[] = "if not exist " EXE " del " JOURNAL "\r\n";
static const char batchFolder95[] = "rmdir " FOLDER "\r\n";
static const char batchEnd95[] = "del " BATCH "\r\n";
// The pieces in their order; the wait and the folder's removal are left out where they do
// not apply.
static const char *const batchPieces95[] = {batchStart95,   batchWait95,   batchLoop95,
                                            batchJournal95, batchFolder95, batchEnd95};
enum {
    PIECE_WAIT = 1 << 1,
    PIECE_JOURNAL = 1 << 3,
    PIECE_FOLDER = 1 << 4,
    PIECES_ALWAYS = 1 << 0 | 1 << 2 | 1 << 5
};

// A room of 4,096 bytes for the variable that counts: command.com started by a program
// gets an environment with little space to spare.
static const char interpreter95[] = "\\COMMAND.COM\" /E:4096 /C ";
static const char choice95[] = "\\COMMAND\\CHOICE.COM";

// NT family. The paths reach cmd.exe through its environment, never through the command
// text, so no character of a name can end a quote or start another command. They are
// expanded late (/V:ON and !NAME!), after the loop's own variable: "%", "!", "^", "&", a FOR
// variable such as "%i" and parentheses stay part of the name. /Q keeps the commands from
// being echoed, /D keeps the AutoRun commands of the registry away, /S takes the rest of the
// line as it stands; ping, from the System folder by full path, waits about a second between
// its two echoes. Nothing reaches the console the uninstaller was started from. The loop is
// in parentheses of its own so that the folder's removal follows it once, after the last try.
static const char commandNT[] =
    "\\cmd.exe\" /Q /D /V:ON /S /C \"(for /L %i in (1,1,60) do (if exist \"!VANISH_EXE!\" "
    "(del /F /Q \"!VANISH_EXE!\" 2>nul & \"!VANISH_SYSTEM!\\ping.exe\" -n 2 127.0.0.1 >nul)))";
// The journal of released shared counts goes with the executable, and only then.
static const char removeJournalNT[] =
    " & (if not exist \"!VANISH_EXE!\" del /F /Q \"!VANISH_JOURNAL!\" 2>nul)";
static const char removeFolderNT[] = " & rmdir \"!VANISH_FOLDER!\" 2>nul";
static const char *const variablesNT[] = {"VANISH_EXE", "VANISH_FOLDER", "VANISH_SYSTEM",
                                          "VANISH_JOURNAL"};

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

// The chosen pieces of the batch text with their placeholders replaced; 0 when it does not
// fit. names holds the paths in the order of their placeholders.
static int FormatBatch(char *buffer, DWORD size, char (*names)[MAX_PATH], DWORD pieces) {
    buffer[0] = 0;
    for (DWORD i = 0; i < sizeof batchPieces95 / sizeof batchPieces95[0]; i++) {
        if (!(pieces & (1 << i)))
            continue;
        for (const char *p = batchPieces95[i]; *p; p++) {
            if (*p >= 1 && *p <= 5) {
                if (!AppendPath(buffer, size, names[*p - 1]))
                    return 0;
                continue;
            }
            char piece[2] = {*p, 0};
            if (!AppendText(buffer, size, piece))
                return 0;
        }
    }
    return 1;
}

// A name as the batch holds it: short when asked and the system has a short form that fits
// (otherwise the long form, still the right file), in the OEM code page in which
// command.com reads it. 0 for a name the ANSI code page cannot hold.
static int BatchName(const char *name, char *batchName, int shorten) {
    char shortName[PATH_SIZE];
    DWORD n = shorten ? SysGetPathForm(name, shortName, PATH_SIZE, 0) : 0;
    if (!Utf8ToAnsi(n && n < PATH_SIZE ? shortName : name, batchName, MAX_PATH, 1))
        return 0;
    CharToOemA(batchName, batchName);
    return 1;
}

// A new file under a random name in the temporary folder, never one that exists: a name
// that someone made ahead, a file or a link, is passed over. buffer (PATH_SIZE bytes)
// receives the name, or is emptied when no file could be made.
HANDLE CreateTempBatchFile(char *buffer) {
    DWORD n = SysGetFolder(FOLDER_TEMP, buffer, PATH_SIZE);
    if (n && n < PATH_SIZE && AddBackslash(buffer, PATH_SIZE)) {
        DWORD folderLength = TextLength(buffer);
        for (DWORD i = 0; i < BATCH_NAME_TRIES; i++) {
            char name[16];
            wsprintfA(name, "%08lX.bat", RandomNumber());
            buffer[folderLength] = 0;
            if (!AppendText(buffer, PATH_SIZE, name))
                break;
            HANDLE file = CreateNewFile(buffer);
            if (file != INVALID_HANDLE_VALUE)
                return file;
        }
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

// 95/98/Me: the batch, written while no other process may open it, then command.com from
// the Windows folder on it.
static int ScheduleBatch(const char *exe, const char *folder, const char *windows,
                         const char *journal) {
    // executable, install folder, batch, choice and journal, as the batch holds them
    char names[5][MAX_PATH];
    char batchName[PATH_SIZE], choice[PATH_SIZE];
    char *text = 0;
    DWORD pieces = PIECES_ALWAYS;
    // The folder goes only when empty, and never when protected.
    if (!IsProtectedFolder((char *)folder))
        pieces |= PIECE_FOLDER;
    if (CopyText(choice, PATH_SIZE, windows) && AppendText(choice, PATH_SIZE, choice95)) {
        DWORD attributes = SysGetAttributes(choice);
        if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
            BatchName(choice, names[3], 1))
            pieces |= PIECE_WAIT;
    }
    if (PathExists(journal) && BatchName(journal, names[4], 1))
        pieces |= PIECE_JOURNAL;
    if (!BatchName(exe, names[0], 1) || !BatchName(folder, names[1], 1) ||
        !AllocateMemory((void **)&text, BATCH_SIZE)) {
        ReportItem(ITEM_NOTED, "self-removal skipped", 0);
        return 0;
    }
    HANDLE file = CreateTempBatchFile(batchName);
    if (file == INVALID_HANDLE_VALUE) {
        ReportItem(ITEM_NOTED, "self-removal batch not written, no free name", 0);
        ReleaseMemory((void **)&text);
        return 0;
    }
    int ready = BatchName(batchName, names[2], 0) && FormatBatch(text, BATCH_SIZE, names, pieces) &&
                WriteText(file, text);
    CloseFile(file);
    // The line itself is not a batch, where "%%" would help: a name holding "%" is refused.
    PROCESS_INFORMATION process;
    int started = 0;
    if (ready && !HoldsAny(batchName, "%\"") && !HoldsAny(batchName, separators95) &&
        CopyText(text, BATCH_SIZE, "\"") && AppendText(text, BATCH_SIZE, windows) &&
        AppendText(text, BATCH_SIZE, interpreter95) && AppendText(text, BATCH_SIZE, batchName) &&
        SysStartProcess(text, 0, SW_HIDE, FALSE, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        ReportItem(ITEM_NOTED, "self-removal batch written and started", batchName);
        started = 1;
    } else {
        SysDeleteFile(batchName); // a batch that is not complete never runs
        ReportItem(ITEM_NOTED,
                   ready ? "self-removal batch not started, deleted"
                         : "self-removal batch incomplete, deleted",
                   batchName);
    }
    ReleaseMemory((void **)&text);
    return started;
}

// NT family: the command line, with the paths in cmd.exe's environment. folder and journal
// may be null: the executable alone.
static int ScheduleCommand(const char *exe, const char *folder, const char *system,
                           const char *journal) {
    char command[TEXT_SIZE];
    const char *values[] = {exe, folder ? folder : "", system, journal ? journal : ""};
    int ready = CopyText(command, TEXT_SIZE, "\"") && AppendText(command, TEXT_SIZE, system) &&
                AppendText(command, TEXT_SIZE, commandNT) &&
                (!journal || AppendText(command, TEXT_SIZE, removeJournalNT));
    // The folder goes only when empty, and never when protected.
    if (ready && folder && !IsProtectedFolder((char *)folder))
        ready = AppendText(command, TEXT_SIZE, removeFolderNT);
    ready = ready && AppendText(command, TEXT_SIZE, "\"");
    for (DWORD i = 0; i < 4 && ready; i++)
        ready = SysSetEnvironment(variablesNT[i], values[i]);
    PROCESS_INFORMATION process;
    if (ready && SysStartProcess(command, 0, SW_HIDE, FALSE, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        ReportItem(ITEM_NOTED, "self-removal started", exe);
        return 1;
    }
    ReportItem(ITEM_NOTED, "self-removal not started", exe);
    return 0;
}

// With an administrator's rights on the NT family nothing of the install folder is left to a
// name that another account could change after the uninstaller has ended: the uninstaller's
// own file (a running program's file can be renamed) moves, through a handle opened in its
// folder as itself, into the run's folder for the restart, which only administrators write;
// its journal is deleted through its handle; the install folder is removed through its
// handle when it is empty and not protected. Left for cmd.exe, and for the restart should
// cmd.exe not run, is the one path inside the folder for the restart. moved receives it.
static int MoveOwnFiles(char *moved) {
    char folder[PATH_SIZE], journal[PATH_SIZE];
    if (!CopyText(folder, PATH_SIZE, installFolder) || !GetJournalPath(journal))
        return 0;
    RemoveBackslash(folder);
    HANDLE holder = OpenByOwnName(folder, FILE_READ_ATTRIBUTES | FILE_TRAVERSE, ANY_SHARING,
                                  FILE_FLAG_BACKUP_SEMANTICS);
    if (holder == INVALID_HANDLE_VALUE)
        return 0;
    HANDLE own = OpenInFolder(holder, FindLastBackslash(workPath) + 1,
                              DELETE | FILE_READ_ATTRIBUTES, ANY_SHARING, NT_OPEN, NT_FILE);
    int done = own != INVALID_HANDLE_VALUE && MoveToPendingFolder(own, workPath, moved);
    if (own != INVALID_HANDLE_VALUE)
        CloseHandle(own);
    if (done) {
        ReportItem(ITEM_NOTED, "uninstaller moved for its removal", moved);
        HANDLE file = OpenInFolder(holder, FindLastBackslash(journal) + 1,
                                   DELETE | FILE_READ_ATTRIBUTES, ANY_SHARING, NT_OPEN, NT_FILE);
        if (file != INVALID_HANDLE_VALUE && IsPlainFile(file, journal) && DeleteThroughHandle(file))
            ReportItem(ITEM_NOTED, "journal deleted", journal);
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }
    CloseHandle(holder);
    if (!done)
        return 0;
    // The lock goes with it, so that the folder can be empty now.
    ReleaseOneCopyLock();
    if (!IsProtectedFolder(folder) && DeleteByOwnName(folder, 1))
        ReportItem(ITEM_NOTED, "install folder removed", folder);
    return 1;
}

void ScheduleSelfRemoval() {
    char system[PATH_SIZE], journal[PATH_SIZE], moved[PATH_SIZE];
    RemoveBackslash(installFolder);
    DWORD n = SysGetModuleName(workPath, PATH_SIZE);
    DWORD m = SysGetFolder(isNT ? FOLDER_SYSTEM : FOLDER_WINDOWS, system, PATH_SIZE);
    if (n == 0 || n >= PATH_SIZE || m == 0 || m >= PATH_SIZE || !installFolder[0] ||
        !GetJournalPath(journal) || !FindLastBackslash(workPath)) {
        ReportItem(ITEM_NOTED, "self-removal skipped", 0);
        return; // a cut name would be another file
    }
    // The interpreter inherits this directory, so that nothing holds the install folder.
    RemoveBackslash(system);
    SysSetCurrentFolder(system);
    if (isNT && CanCheckNames() && RunsAsAdministrator()) {
        if (MoveOwnFiles(moved)) {
            SysDeleteAtRestart(
                moved); // should cmd.exe not take it; only administrators write there
            ScheduleCommand(moved, 0, system, 0);
            return;
        }
        // A name is left only where no account but an administrator's can change it.
        if (!PathHeldByAdministrators(workPath)) {
            ReportItem(ITEM_NOTED, "self-removal not started, a name others could change",
                       workPath);
            return;
        }
    }
    if (!isNT) {
        // command.com's del cannot delete a read-only file.
        DWORD attributes = SysGetAttributes(workPath);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
            SysSetAttributes(workPath, attributes & ~FILE_ATTRIBUTE_READONLY);
    }
    if (isNT ? ScheduleCommand(workPath, installFolder, system, journal)
             : ScheduleBatch(workPath, installFolder, system, journal))
        return;
    // Where nothing can run after the uninstaller, a restart takes what it would have taken.
    if (ScheduleAtRestart(workPath, INVALID_HANDLE_VALUE, 0)) {
        if (PathExists(journal))
            ScheduleAtRestart(journal, INVALID_HANDLE_VALUE, 0);
        if (!IsProtectedFolder(installFolder))
            ScheduleAtRestart(installFolder, INVALID_HANDLE_VALUE, 1);
    }
}
