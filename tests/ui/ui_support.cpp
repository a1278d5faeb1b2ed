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

HMODULE ProgramResources() {
    static HMODULE resources = LoadLibraryExA((BuildFolder() + "\\uninstall.exe").c_str(), nullptr,
                                              LOAD_LIBRARY_AS_DATAFILE);
    return resources;
}

TextTable::TextTable(const std::vector<std::string> &texts) : texts(texts) {}

void TextTable::Install() {
    slots_.clear();
    for (std::string &text : texts)
        slots_.push_back(&text[0]);
    slots_.push_back(nullptr);
    stringTable = slots_.data();
}

std::string WindowText(HWND window) {
    char text[TEXT_SIZE];
    int n = GetWindowTextA(window, text, sizeof text);
    return std::string(text, n > 0 ? n : 0);
}

std::string ClassOf(HWND window) {
    char name[256];
    int n = GetClassNameA(window, name, sizeof name);
    return std::string(name, n > 0 ? n : 0);
}

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
