#include "ui_support.h"

#include "data/data.h"

using namespace testing_support;

namespace ui_tests {

const std::vector<std::string> kTexts = {
    "Example Uninstall",
    "Remove Example and all of its components?",
    "Example was removed from your computer.",
    "&Yes",
    "Yes to &all",
    "&No",
    "N&o to all",
    "Out of memory while reading %s",
    "Cannot read %s",
    "The file %s is read-only. Do you want to remove it anyway?",
    "The shared file %s is no longer used. Remove it?",
    "Removing R&D files...",
    "Removing folders...",
    "Removing the folders of the files...",
    "Removing registry entries...",
    "Example is still running. Close it and press Retry.",
};

void UiTest::SetUp() {
    ASSERT_NE(nullptr, ProgramResources()) << "cannot load uninstall.exe from " << BuildFolder();
    moduleHandle = ProgramResources();
    progressDialog = nullptr;
    progressBar = nullptr;
    progressTotal = 0;
    lastPercentage = 0;
    dialogFont = nullptr;
    InitVisualStyles();
    table_.Install();
    mainWindow = CreateWindowExA(0, "STATIC", "owner", WS_POPUP, 100, 100, 320, 200, nullptr,
                                 nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, mainWindow);
}

void UiTest::TearDown() {
    if (progressDialog && IsWindow(progressDialog))
        DestroyWindow(progressDialog);
    progressDialog = nullptr;
    progressBar = nullptr;
    if (mainWindow)
        DestroyWindow(mainWindow);
    mainWindow = nullptr;
    ReleaseUiResources();
    stringTable = nullptr;
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&message);
}

// Opens the progress dialog as the main sequence does.
HWND UiTest::OpenProgressDialog(DLGPROC procedure) {
    progressDialog =
        CreateDialogParamA(moduleHandle, MAKEINTRESOURCEA(IDD_PROGRESS), mainWindow, procedure, 0);
    if (progressDialog)
        progressBar = GetDlgItem(progressDialog, IDC_PROGRESS);
    return progressDialog;
}

void UiTest::UseTexts(const std::vector<std::string> &texts) {
    table_ = TextTable(texts);
    table_.Install();
}

} // namespace ui_tests
