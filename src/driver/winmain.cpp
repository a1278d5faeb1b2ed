// The main sequence: one fixed order of phases on one thread.
#include "driver.h"
#include "../data/data.h"
#include "../removal/removal.h"
#include "../ui/ui.h"

static const char emptyArguments[] = "";

static void SetStatus(int number) {
    if (progressDialog)
        SetDlgItemTextA(progressDialog, IDC_TEXT, GetMessageText(number));
}

static void OpenProgressDialog() {
    progressDialog = CreateDialogParamA(moduleHandle, MAKEINTRESOURCEA(IDD_PROGRESS), mainWindow,
                                        ProgressDialogProc, 0);
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
    if (!program || !CopyText(workPath, PATH_SIZE, installFolder) ||
        !AddBackslash(workPath, PATH_SIZE) || !AppendText(workPath, PATH_SIZE, program))
        return;
    if (!bareMode)
        RunProgram(workPath, emptyArguments, (GetOptionFlags() & OPTION_WAIT) ? 1 : 0);
}

// The user's answer decides the self-removal: only a confirmed run (quiet mode counts as
// confirmed) removes the uninstaller.
static int Confirm() {
    if (quietMode)
        return IDOK;
    int answer = ShowMessage(GetMessageText(MSG_CONFIRM), MB_OKCANCEL | MB_ICONINFORMATION);
    if (answer != IDOK)
        return answer;
    while (AnyFileInUse()) {
        answer = ShowMessage(GetMessageText(MSG_IN_USE), MB_RETRYCANCEL | MB_ICONINFORMATION);
        // A box that cannot be shown (0) ends the run too, rather than retrying forever.
        if (answer == IDCANCEL || answer == 0)
            return answer;
    }
    return IDOK;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR tail, int) {
    OSVERSIONINFOA version;
    FillBytes(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    isNT = version.dwPlatformId == VER_PLATFORM_WIN32_NT;

    if (!InitApplication(instance))
        return 0;
    ParseCommandLine(tail);
    if (!LoadUninstallData())
        return -1;
    if (!(GetOptionFlags() & OPTION_KEEPTHEME))
        LimitVisualStyles();
    if (!RegisterMainWindowClass())
        return 0;
    // A quiet run shows nothing unless a question comes up: the window is made then.
    if (quietMode)
        makeMainWindow = CreateMainWindow;
    else if (!CreateMainWindow())
        return -1;

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
        if (progressDialog) {
            DestroyWindow(progressDialog);
            progressDialog = 0;
            progressBar = 0;
        }
        if (!quietMode)
            ShowMessage(GetMessageText(MSG_COMPLETE), MB_OK | MB_ICONINFORMATION);
        const char *document = GetDocumentName();
        if (!bareMode && document)
            OpenDocument(document, ".htm");
    }

    CloseMainWindow();
    FreeUninstallData();
    if (answer == IDOK && !bareMode)
        ScheduleSelfRemoval();
    ShutdownApplication();
    return 0;
}
