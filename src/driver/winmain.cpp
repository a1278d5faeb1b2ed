// The main sequence: one fixed order of phases on one thread.
#include "driver.h"
#include "../data/data.h"
#include "../removal/removal.h"
#include "../ui/ui.h"

static const char emptyArguments[] = "";

// The switches as they took effect, for the log's first line.
static const struct {
    int *flag;
    const char *text;
} switchTexts[] = {{&quietMode, " /Q"},
                   {&bareMode, " /X"},
                   {&silentMode, " /S"},
                   {&logMode, " /L"},
                   {&dryRun, " /N"}};

static DWORD startTick; // for the log's last line

static void SetStatus(int number) {
    if (progressDialog)
        SysSetText(progressDialog, IDC_TEXT, GetMessageText(number));
}

static void OpenProgressDialog() {
    progressDialog = OpenDialog(IDD_PROGRESS, mainWindow, ProgressDialogProc);
    if (!progressDialog)
        return; // the phases run without dialog, status texts or progress
    progressBar = GetDlgItem(progressDialog, IDC_PROGRESS);
    progressTotal = registryEntryCount + 2 * fileEntryCount + folderEntryCount;
    SetStatus(MSG_STATUS_FILES);
}

// Runs the application's own program before anything is removed. A name that does not fit
// the work path is not run: a cut path names another program.
static void RunApplicationProgram() {
    const char *program = GetProgramName();
    if (!program || !installFolder[0] || !CopyText(workPath, PATH_SIZE, installFolder) ||
        !AddBackslash(workPath, PATH_SIZE) || !AppendText(workPath, PATH_SIZE, program))
        return;
    if (bareMode) {
        ReportItem(ITEM_NOTED, "program not run, bare mode", workPath);
        return;
    }
    if (dryRun) {
        ReportItem(ITEM_NOTED, "would run the program", workPath);
        return;
    }
    int wait = (GetOptionFlags() & OPTION_WAIT) ? 1 : 0;
    if (!RunProgram(workPath, emptyArguments, wait))
        ReportItem(ITEM_NOTED,
                   GetLastError() == REACHED_THROUGH_LINK
                       ? "program not started, reached through a link"
                       : "program not started",
                   workPath);
    else
        ReportItem(ITEM_NOTED,
                   wait ? "program started and ended" : "program started, not waited for",
                   workPath);
}

// A silent run opens nothing: a page opened on a machine nobody watches stays open. The
// program that opens the document comes from file associations its user may change, so it
// never runs with this run's raised rights: an elevated run hands the document to the
// desktop shell, which opens it as the signed-in user, and a system account (a deployment
// tool's) opens nothing, since the user on the screen, if any, did not ask for it.
static void OpenClosingDocument() {
    const char *document = GetDocumentName();
    if (bareMode || !document)
        return;
    if (dryRun) {
        ReportItem(ITEM_NOTED, "would not open the document, silent", document);
        return;
    }
    if (silentMode) {
        ReportItem(ITEM_NOTED, "document not opened, silent", document);
        return;
    }
    int rights = RightsOfThisRun();
    if (rights == RIGHTS_USER) {
        OpenDocument(document, ".htm");
        ReportItem(ITEM_NOTED, "document handed to the shell", document);
        return;
    }
    static const char *const outcomes[] = {"document handed to the desktop shell",
                                           "document not opened, no desktop shell",
                                           "document not opened, the desktop shell refused it"};
    ReportItem(ITEM_NOTED,
               rights == RIGHTS_SYSTEM ? "document not opened, system account"
                                       : outcomes[OpenThroughDesktopShell(document)],
               document);
}

static void LogStartOfRun(const OSVERSIONINFOA *version) {
    if (!LogStart("Vanish " VANISH_VERSION " removal log, switches"))
        return;
    for (DWORD i = 0; i < sizeof switchTexts / sizeof switchTexts[0]; i++)
        if (*switchTexts[i].flag)
            LogText(switchTexts[i].text);
    LogText(", Windows ");
    LogNumber(version->dwMajorVersion);
    LogText(".");
    LogNumber(version->dwMinorVersion);
    LogText(".");
    LogNumber(version->dwBuildNumber & 0xFFFF); // the 95 family keeps the version above it
    LogText(isNT ? ", NT family: " : ", 95/98/Me family: ");
    LogText(installFolder);
    LogFinish();
}

// Without /S the exit code stays as it always was; the log's last line has the counts and
// how long the run took.
static int EndRun(int code) {
    if (LogStart(dryRun ? "end of the dry run, " : "end, ")) {
        LogNumber(itemCounts[ITEM_REMOVED]);
        LogText(dryRun ? " would be removed, " : " removed, ");
        LogNumber(itemCounts[ITEM_KEPT]);
        LogText(" kept, ");
        LogNumber(itemCounts[ITEM_LEFT]);
        LogText(" left, ");
        if (itemCounts[ITEM_AT_RESTART]) {
            LogNumber(itemCounts[ITEM_AT_RESTART]);
            LogText(" at restart, ");
        }
        LogText("exit code ");
        LogSigned(code);
        DWORD elapsed = GetTickCount() - startTick;
        char seconds[32];
        wsprintfA(seconds, ", %lu.%03lu s", elapsed / 1000, elapsed % 1000);
        LogText(seconds);
        LogFinish();
    }
    CloseRemovalLog();
    return code;
}

// A log asked for at a place it cannot go stops the run before anything is done, and says
// why: the place and the system's own words for the error, under the uninstaller's name.
static int RefuseLog(DWORD error) {
    char text[TEXT_SIZE], reason[TEXT_SIZE];
    const char *name = FindLastBackslash(modulePath);
    if (!silentMode && CopyText(text, TEXT_SIZE, logPath) &&
        AppendText(text, TEXT_SIZE, "\r\n\r\n")) {
        SysErrorText(error, reason, TEXT_SIZE);
        AppendText(text, TEXT_SIZE, reason);
        SysMessageBox(0, text, name ? name + 1 : modulePath, MB_OK | MB_ICONERROR);
    }
    return EXIT_LOG_REFUSED;
}

// The user's answer decides the self-removal: only a confirmed run (quiet mode counts as
// confirmed) removes the uninstaller.
static int Confirm() {
    // A silent run waits for no one: a marked file in use at the start stops it whole.
    if (silentMode && AnyFileInUse()) {
        ReportItem(ITEM_NOTED, "nothing removed, file in use", workPath);
        return IDABORT;
    }
    if (quietMode)
        return IDOK;
    int answer = ShowMessage(GetMessageText(MSG_CONFIRM), MB_OKCANCEL | MB_ICONINFORMATION);
    if (answer != IDOK) {
        ReportItem(ITEM_NOTED, "cancelled at the confirmation", 0);
        return answer;
    }
    while (AnyFileInUse()) {
        answer = ShowMessage(GetMessageText(MSG_IN_USE), MB_RETRYCANCEL | MB_ICONINFORMATION);
        // A box that cannot be shown (0) ends the run too, rather than retrying forever.
        if (answer == IDCANCEL || answer == 0) {
            ReportItem(ITEM_NOTED, "cancelled, files in use", 0);
            return answer;
        }
    }
    return IDOK;
}

// Only a silent run tells a partial removal by its exit code; callers of the other modes
// rely on 0.
// A dry run gives the code the silent run would give, where it can tell: never 3010, since
// whether the restart takes an item is settled only by the run that schedules it.
static int ExitCode(int answer) {
    if (answer == IDABORT)
        return EXIT_IN_USE;
    if (!silentMode)
        return 0;
    return itemCounts[ITEM_LEFT]                    ? EXIT_LEFT
           : itemCounts[ITEM_AT_RESTART] && !dryRun ? EXIT_RESTART
                                                    : 0;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR tail, int) {
    OSVERSIONINFOA version;
    DetectSystemFamily(&version);

    startTick = GetTickCount();
    if (!InitApplication(instance))
        return 0;
    // The switches as UTF-8, so that a log's path keeps every character; the tail as the
    // start-up gave it should the command line not fit.
    char line[TEXT_SIZE];
    ParseCommandLine(SysGetCommandLine(line, TEXT_SIZE) ? SkipProgramName(line) : tail);
    // The lock comes before anything the run decides: a second copy decides nothing. A dry
    // run changes nothing, and makes no lock either.
    DWORD lockError = 0;
    int copy = dryRun ? COPY_LOCKED : LockOneCopy(&lockError);
    InitInterface();
    // Nor does the system show its own boxes for a silent run: no "insert a disk" for a
    // path on an empty drive, no missing-file box when a COM server's DLL will not load.
    if (silentMode)
        SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    if (logMode && OpenLog())
        LogStartOfRun(&version);
    else if (logMode && logPath)
        return RefuseLog(GetLastError());
    if (copy == COPY_UNLOCKED)
        ReportItemCode(ITEM_NOTED,
                       "one copy at a time not kept, the lock could not be taken, error", lockError,
                       modulePath);
    if (copy == COPY_RUNNING) {
        // A user who starts it again is looking for it; a silent or quiet caller is not.
        if (!quietMode)
            ShowRunningCopy();
        ReportItem(ITEM_NOTED, "nothing done, this uninstaller runs already", modulePath);
        return EndRun(EXIT_ALREADY_RUNNING);
    }
    if (!LoadUninstallData()) {
        ReportItem(ITEM_NOTED, "uninstall data could not be read", modulePath);
        return EndRun(-1);
    }
    MakeEntryPathsFull();
    if (rightToLeft)
        MirrorWindowLayout();
    if (!(GetOptionFlags() & OPTION_KEEPTHEME))
        LimitVisualStyles();
    // A silent caller must not read "everything is gone" from a run that removed nothing.
    if (!RegisterMainWindowClass())
        return EndRun(silentMode ? -1 : 0);
    // A quiet run shows nothing unless a question comes up: the window is made then.
    if (quietMode)
        makeMainWindow = CreateMainWindow;
    else if (!CreateMainWindow())
        return EndRun(-1);

    int answer = Confirm();
    if (answer == IDOK) {
        RunApplicationProgram();
        if (!quietMode)
            OpenProgressDialog();
        RemoveFiles();
        SetStatus(MSG_STATUS_FOLDERS);
        RemoveFolderEntries();
        SetStatus(MSG_STATUS_FILE_FOLDERS);
        RemoveFileFolders();
        SetStatus(MSG_STATUS_REGISTRY);
        RemoveRegistryEntries();
        CountFoldersLeft();
        if (progressDialog) {
            DestroyWindow(progressDialog);
            progressDialog = 0;
            progressBar = 0;
        }
        int done = itemCounts[ITEM_AT_RESTART] && GetMessageText(MSG_RESTART_NEEDED)[0]
                       ? MSG_RESTART_NEEDED
                       : MSG_COMPLETE;
        if (!quietMode)
            ShowMessage(GetMessageText(done), MB_OK | MB_ICONINFORMATION);
        OpenClosingDocument();
    }

    CloseMainWindow();
    FreeUninstallData();
    if (answer == IDOK && !bareMode && dryRun)
        ReportItem(ITEM_NOTED, "would remove itself", modulePath);
    else if (answer == IDOK && !bareMode)
        ScheduleSelfRemoval();
    FinishRestartRemoval(); // after all that waits for the restart, the folder it waits in
    ShutdownApplication();
    return EndRun(ExitCode(answer));
}
