// Shows one of the program's boxes or dialogs with sample texts for a few seconds, and
// writes its screen rectangle ("left top right bottom") to a file, so that a screenshot can
// be cut to it. Used by docs/screenshots.sh.
//
//     showcase confirm|progress|readonly[-rtl] RECTFILE
//
// The -rtl modes show the same in Hebrew, mirrored as the program shows texts written right
// to left; the confirmation then comes from a block with an English and a Hebrew table, in
// the locale the caller gives (LANG=he_IL.UTF-8).
#include <cstdio>
#include <cstring>

#include "driver/driver.h"
#include "support.h"
#include "ui/ui.h"

using namespace testing_support;

static const char *kTexts[] = {
    "Example Uninstall",
    "Remove Example Editor 2.1 and all of its components from this computer?",
    "Example Editor 2.1 was removed from your computer.",
    "&Yes",
    "Yes to &All",
    "&No",
    "N&o to All",
    "Out of memory while reading %s.",
    "Cannot read the uninstall data in %s.",
    "The file %s is read-only. Do you want to remove it anyway?",
    "The shared file %s is no longer used by any program. Remove it?",
    "Removing files...",
    "Removing folders...",
    "Removing program folders...",
    "Removing registry entries...",
    "Example Editor is still running. Close it, then press Retry.",
    nullptr,
};

static const char *kHebrew[] = {
    "הסרת ההתקנה של Example Editor 2.1",
    "האם להסיר את Example Editor 2.1 ואת כל הרכיבים שלו?",
    "Example Editor 2.1 הוסר מהמחשב.",
    "&כן",
    "כן לכ&ולם",
    "&לא",
    "ל&א לכולם",
    "%s",
    "%s",
    "הקובץ %s מוגדר לקריאה בלבד. האם להסיר אותו בכל זאת?",
    "%s",
    "מסיר קבצים...",
    "מסיר תיקיות...",
    "מסיר תיקיות של התוכנית...",
    "מסיר ערכי רישום...",
    "Example Editor עדיין פועל.",
    nullptr,
};

static bool mirrored; // the -rtl modes
static const char **Shown() {
    return mirrored ? kHebrew : kTexts;
}

static const DWORD kShowMs = 5000;
static const char *rectFile;

static void WriteRect(HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    FILE *out = std::fopen(rectFile, "w");
    if (out) {
        std::fprintf(out, "%ld %ld %ld %ld\n", r.left, r.top, r.right, r.bottom);
        std::fclose(out);
    }
}

// Holds each box for a while before it is answered.
static void Hold(HWND window, const Box &) {
    WriteRect(window);
    Sleep(kShowMs);
}

// The real program, stamped with the sample texts; its confirmation is cancelled.
static int ShowConfirmation() {
    pack::Block block;
    for (int i = 0; kTexts[i]; i++)
        block.texts.push_back(kTexts[i]);
    if (mirrored) {
        block.furtherTexts.emplace_back();
        for (int i = 0; kHebrew[i]; i++)
            block.furtherTexts[0].push_back(kHebrew[i]);
        block.languages = {0x0409, 0x040D};
        block.optionFlags = pack::OPTION_UTF8;
    }
    std::string folder = ScratchFolder("showcase");
    std::string program = folder + "\\uninstall.exe";
    if (!WriteStampedUninstaller(pack::EncodeBlock(block), program))
        return 1;
    RunResult run =
        RunAndAnswer(program, "", {Action::Press(IDCANCEL)}, 30000, Action::Press(IDCANCEL), Hold);
    return run.started ? 0 : 1;
}

// This program carries the same resources as the uninstaller, manifest included, and
// starts as it does.
static int Start() {
    if (!InitApplication(GetModuleHandleA(nullptr)))
        return 0;
    InitInterface();
    stringTable = (char **)Shown();
    rightToLeft = mirrored;
    if (mirrored)
        MirrorWindowLayout();
    LimitVisualStyles();
    return RegisterMainWindowClass() && CreateMainWindow();
}

static void Finish() {
    CloseMainWindow();
    stringTable = nullptr;
    ShutdownApplication();
}

// The progress dialog as the file phase leaves it about halfway through.
static int ShowProgress() {
    if (!Start())
        return 1;
    progressDialog = OpenDialog(IDD_PROGRESS, mainWindow, ProgressDialogProc);
    if (!progressDialog)
        return 1;
    progressBar = GetDlgItem(progressDialog, IDC_PROGRESS);
    SysSetText(progressDialog, IDC_TEXT, Shown()[11]);
    WriteRect(progressDialog);
    for (DWORD percent = 1; percent <= 45; percent++) {
        SetProgress(percent);
        Sleep(20);
    }
    for (DWORD waited = 0; waited < kShowMs; waited += 50) {
        DrainMessages();
        Sleep(50);
    }
    DestroyWindow(progressDialog);
    progressDialog = nullptr;
    Finish();
    return 0;
}

static int ShowReadOnlyQuery() {
    if (!Start())
        return 1;
    {
        BoxWatcher watcher(GetCurrentProcessId(), {Action::Press(IDNO)}, Action::Press(IDCANCEL),
                           Hold);
        AskReadOnly("C:\\Program Files\\Example Editor\\Templates\\letter.dot");
    }
    Finish();
    return 0;
}

int main(int argc, char **argv) {
    if (argc < 3)
        return 2;
    rectFile = argv[2];
    size_t length = std::strlen(argv[1]);
    mirrored = length > 4 && !std::strcmp(argv[1] + length - 4, "-rtl");
    if (mirrored)
        argv[1][length - 4] = 0;
    if (!std::strcmp(argv[1], "confirm"))
        return ShowConfirmation();
    if (!std::strcmp(argv[1], "progress"))
        return ShowProgress();
    if (!std::strcmp(argv[1], "readonly"))
        return ShowReadOnlyQuery();
    return 2;
}
