#include "removal_support.h"

#include "removal/removal.h"

#include "support.h"

using namespace testing_support;

namespace {

// The family decides which folders and keys the program uses, as WinMain decides it.
class FamilyEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        OSVERSIONINFOA version;
        DetectSystemFamily(&version);
    }
};
::testing::Environment *const family = ::testing::AddGlobalTestEnvironment(new FamilyEnvironment);

} // namespace

namespace removal_tests {

const std::vector<std::string> kTexts = {"Vanish test",
                                         "Remove the application?",
                                         "Done.",
                                         "&Yes",
                                         "Yes to &all",
                                         "&No",
                                         "N&o to all",
                                         "No memory",
                                         "Unreadable",
                                         "Read-only: %s",
                                         "Shared: %s",
                                         "Removing files",
                                         "Removing folders",
                                         "Removing file folders",
                                         "Removing registry entries",
                                         "Files in use"};

ProgramState::ProgramState(const std::string &folder) {
    texts_.Install();
    FillBytes(work_, 0, PATH_SIZE);
    FillBytes(install_, 0, PATH_SIZE);
    lstrcpynA(install_, folder.c_str(), PATH_SIZE);
    workPath = work_;
    installFolder = install_;
    FillBytes(module_, 0, PATH_SIZE);
    std::string separator = !folder.empty() && folder.back() == '\\' ? "" : "\\";
    lstrcpynA(module_, (folder + separator + "uninstall.exe").c_str(), PATH_SIZE);
    modulePath = module_;
    readOnlyAnswer = -1;
    progressTotal = 0;
    progressBar = nullptr;
    mainWindow = nullptr;
    moduleHandle = ProgramResources();
}

ProgramState::~ProgramState() {
    fileEntries = nullptr;
    fileEntryCount = 0;
    stringTable = nullptr;
    workPath = nullptr;
    installFolder = nullptr;
    modulePath = nullptr;
    readOnlyAnswer = -1;
    progressTotal = 0;
    progressBar = nullptr;
}

// New entries are a new installation: no count of theirs was lowered before.
void ProgramState::SetEntries(const std::vector<Entry> &entries) {
    char journal[PATH_SIZE];
    if (GetJournalPath(journal))
        DeleteFileA(journal);
    entries_ = entries;
    stored_.clear();
    pointers_.clear();
    for (Entry &entry : entries_)
        stored_.push_back({&entry.folder[0], &entry.name[0], entry.flags, 0, nullptr});
    for (FileEntry &entry : stored_)
        pointers_.push_back(&entry);
    fileEntries = pointers_.data();
    fileEntryCount = (DWORD)pointers_.size();
}

// One key per test program: programs that run at the same time must not share it.
static std::string RedirectKey() {
    return "Software\\Vanish Tests\\Redirected root\\" + testing_support::ProgramName();
}

RootRedirect::RootRedirect(HKEY root) : root_(root) {
    RemoveKeyTree(HKEY_CURRENT_USER, RedirectKey());
    HKEY target;
    if (RegCreateKeyA(HKEY_CURRENT_USER, RedirectKey().c_str(), &target) != ERROR_SUCCESS)
        return;
    active_ = RegOverridePredefKey(root_, target) == ERROR_SUCCESS;
    RegCloseKey(target);
}

RootRedirect::~RootRedirect() {
    if (active_)
        RegOverridePredefKey(root_, nullptr);
    RemoveKeyTree(HKEY_CURRENT_USER, RedirectKey());
}

bool RootRedirect::Write(const std::string &key, const std::string &name, DWORD type,
                         const std::string &text) {
    HKEY target;
    std::string path = RedirectKey() + "\\" + key;
    if (RegCreateKeyA(HKEY_CURRENT_USER, path.c_str(), &target) != ERROR_SUCCESS)
        return false;
    LONG result = RegSetValueExA(target, name.c_str(), 0, type, (const BYTE *)text.c_str(),
                                 (DWORD)text.size() + 1);
    RegCloseKey(target);
    return result == ERROR_SUCCESS;
}

// The Unix name of a Windows path, from Wine's own export; empty elsewhere.
bool IsReadOnly(const std::string &path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

bool MakeReadOnly(const std::string &path) {
    return SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY) != 0;
}

std::string Upper(std::string text) {
    for (char &c : text)
        if (c >= 'a' && c <= 'z')
            c = (char)(c - 'a' + 'A');
    return text;
}

RecordingWindow::RecordingWindow() {
    static ATOM windowClass = [] {
        WNDCLASSA description = {};
        description.lpfnWndProc = Procedure;
        description.hInstance = GetModuleHandleA(nullptr);
        description.lpszClassName = "VanishRecordingWindow";
        return RegisterClassA(&description);
    }();
    window_ = CreateWindowExA(0, MAKEINTATOM(windowClass), "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                              nullptr, GetModuleHandleA(nullptr), this);
}

RecordingWindow::~RecordingWindow() {
    if (window_)
        DestroyWindow(window_);
}

LRESULT CALLBACK RecordingWindow::Procedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
    if (message == WM_NCCREATE)
        SetWindowLongPtrA(window, GWLP_USERDATA,
                          (LONG_PTR)((CREATESTRUCTA *)lParam)->lpCreateParams);
    auto *self = (RecordingWindow *)GetWindowLongPtrA(window, GWLP_USERDATA);
    if (self && message != WM_NCCREATE && message != WM_NCDESTROY)
        self->messages.push_back({message, wParam});
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace removal_tests
