// The four removal phases through the real uninstaller: what the progress dialog shows while
// they run, and what a run leaves of a small installed application.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <fstream>

#include "support.h"

using namespace testing_support;

namespace {

const DWORD kCurrentUser = 0x80000001;
const DWORD kLocalMachine = 0x80000002;

std::vector<std::string> Texts() {
    return {"Phases Uninstall",
            "Remove the Phases application?",
            "Phases was removed.",
            "Yes",
            "Yes to all",
            "No",
            "No to all",
            "Out of memory: %s",
            "Cannot read %s",
            "Read-only: %s",
            "Shared: %s",
            "Removing files",
            "Removing folders",
            "Removing program folders",
            "Removing registry entries",
            "Files in use"};
}

bool KeyExists(HKEY root, const std::string &key) {
    HKEY opened;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return false;
    RegCloseKey(opened);
    return true;
}

bool MakeFolders(const std::string &path) {
    for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
        CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
    CreateDirectoryA(path.c_str(), nullptr);
    return GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY;
}

// Records, from inside the running uninstaller, the status texts and bar positions of its
// progress dialog: a hook DLL is set on the uninstaller's thread while its first box waits
// for an answer, so nothing set after that box can be missed.
class ProgressRecorder {
  public:
    explicit ProgressRecorder(const std::string &log) : log_(log) {
        DeleteFileA(log_.c_str());
        SetEnvironmentVariableA("VANISH_PROGRESS_LOG", log_.c_str()); // inherited by the run
        library_ = LoadLibraryA((BuildFolder() + "\\tests\\fixtures\\progresshook.dll").c_str());
        if (library_)
            procedure_ = (HOOKPROC)(void (*)())GetProcAddress(library_, "RecordProgress");
    }
    ~ProgressRecorder() {
        if (hook_)
            UnhookWindowsHookEx(hook_);
        if (library_)
            FreeLibrary(library_);
        SetEnvironmentVariableA("VANISH_PROGRESS_LOG", nullptr);
    }
    bool ready() const {
        return procedure_ != nullptr;
    }
    // Called for the first box, on the watcher's thread, before the box is answered.
    void Attach(HWND box) {
        if (hook_ || !procedure_)
            return;
        DWORD thread = GetWindowThreadProcessId(box, nullptr);
        hook_ = SetWindowsHookExA(WH_CALLWNDPROC, procedure_, library_, thread);
    }
    bool attached() const {
        return hook_ != nullptr;
    }
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        std::ifstream in(log_);
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            lines.push_back(line);
        }
        return lines;
    }

  private:
    std::string log_;
    HMODULE library_ = nullptr;
    HOOKPROC procedure_ = nullptr;
    HHOOK hook_ = nullptr;
};

class Phases : public ::testing::Test {
  protected:
    void SetUp() override {
        name_ = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        folder_ = ScratchFolder(name_);
        install_ = folder_ + "\\App";
        ASSERT_TRUE(MakeFolders(install_));
        std::string file = "uninstall-" + Family() + ".exe";
        if (!Family().empty()) {
            EXPECT_TRUE(SetFamilyOf(file, Family()));
        }
        exe_ = install_ + "\\" + file;
        keys_ = "Software\\Vanish Tests\\Phases\\" + ProgramName() + "\\" + name_;
        RemoveKeyTree(HKEY_CURRENT_USER, keys_);
    }
    void TearDown() override {
        RemoveKeyTree(HKEY_CURRENT_USER, keys_);
    }
    std::string File(const std::string &relative) {
        std::string path = install_ + "\\" + relative;
        MakeFolders(path.substr(0, path.rfind('\\')));
        EXPECT_TRUE(WriteFileText(path, "content of " + relative)) << path;
        return path;
    }
    bool Key(HKEY root, const std::string &key, const std::string &value = "v") {
        return WriteValue(root, key, value, TextValue("data"));
    }

    std::string name_, folder_, install_, exe_, keys_;
};

std::vector<std::string> Positions(const std::vector<std::string> &lines) {
    std::vector<std::string> positions;
    for (const std::string &line : lines)
        if (line.rfind("position ", 0) == 0)
            positions.push_back(line);
    return positions;
}

// Every status text and every position the run gives the dialog, in order: the four phases'
// shares meet end to end, a value entry and a font entry report no step of their own.
TEST_F(Phases, ProgressDialogShowsEachPhaseInOrder) {
    ProgressRecorder recorder(folder_ + "\\progress.log");
    ASSERT_TRUE(recorder.ready()) << "progresshook.dll did not load";
    File("app.exe");
    File("fonts\\face.ttf");
    MakeFolders(install_ + "\\logs");
    MakeFolders(install_ + "\\cache");
    ASSERT_TRUE(Key(HKEY_CURRENT_USER, keys_ + "\\Tree\\Deep"));
    ASSERT_TRUE(Key(HKEY_CURRENT_USER, keys_ + "\\Values", "Version"));
    ASSERT_TRUE(Key(HKEY_CURRENT_USER, keys_ + "\\Other"));

    pack::Block block;
    block.texts = Texts();
    // Two file entries, two folder entries, three registry entries: a total of 9 steps.
    block.files = {{".", "app.exe", 0}, {".\\fonts", "face.ttf", pack::FILE_FONT}};
    block.folders = {{0, install_ + "\\logs", ""}, {0, install_ + "\\cache", ""}};
    block.registry = {{kCurrentUser, keys_ + "\\Tree"},
                      {kCurrentUser, keys_ + "\\Values\\\\Version"},
                      {kCurrentUser, keys_ + "\\Other"}};
    ASSERT_TRUE(WriteStampedUninstaller(pack::EncodeBlock(block), exe_));

    RunResult run =
        RunAndAnswer(exe_, "", {Action::Press(IDOK), Action::Press(IDOK)}, 30000,
                     Action::Press(IDCANCEL), [&](HWND box, const Box &) { recorder.Attach(box); });
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode);
    ASSERT_EQ(2u, run.boxes.size());
    ASSERT_TRUE(recorder.attached());

    std::vector<std::string> lines = recorder.Lines();
    ASSERT_FALSE(lines.empty()) << "the hook recorded nothing";
    lines.erase(lines.begin()); // the theme line
    // Phase 1 reports 0 (already shown) and 11; phase 2 22 and 33; phase 3 44 and nothing
    // for the font; phase 4 66, nothing for the value, 88.
    std::vector<std::string> expected = {"status Removing files",
                                         "position 11",
                                         "status Removing folders",
                                         "position 22",
                                         "position 33",
                                         "status Removing program folders",
                                         "position 44",
                                         "status Removing registry entries",
                                         "position 66",
                                         "position 88"};
    EXPECT_EQ(expected, lines);
    int previous = -1;
    for (const std::string &line : Positions(lines)) {
        int position = std::stoi(line.substr(9));
        EXPECT_GT(position, previous) << "the bar went back";
        previous = position;
    }

    EXPECT_FALSE(FileExists(install_ + "\\app.exe"));
    EXPECT_FALSE(FileExists(install_ + "\\logs"));
    EXPECT_FALSE(FileExists(install_ + "\\cache"));
    EXPECT_TRUE(FileExists(install_ + "\\fonts")) << "phase 3 passes over a font's folder";
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, keys_ + "\\Tree"));
    EXPECT_FALSE(ReadValue(HKEY_CURRENT_USER, keys_ + "\\Values", "Version").present);
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, keys_ + "\\Values"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, keys_ + "\\Other"));
}

// A bare run removes a small installed application: files, folders, its Start-menu group,
// values, key trees and its Add/Remove Programs key. A user's own file keeps its folders.
TEST_F(Phases, BareRunRemovesTheApplication) {
    char programs[MAX_PATH] = "";
    ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, programs, CSIDL_PROGRAMS, TRUE));
    std::string group = std::string(programs) + "\\Vanish Phases " + ProgramName();
    ASSERT_TRUE(MakeFolders(group));
    ASSERT_TRUE(WriteFileText(group + "\\App.lnk", "shortcut"));
    std::string uninstallKey =
        "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vanish Phases " + ProgramName();
    ASSERT_TRUE(
        WriteValue(HKEY_LOCAL_MACHINE, uninstallKey, "DisplayName", TextValue("Vanish Phases")));
    ASSERT_TRUE(WriteValue(HKEY_LOCAL_MACHINE, uninstallKey, "UninstallString", TextValue(exe_)));

    for (const char *file : {"app.exe", "readme.txt", "data\\settings.ini", "data\\cache\\c.bin",
                             "plugins\\p.dll", "logs\\today.log"})
        File(file);
    std::string userFile = File("data\\my notes.txt");
    std::string app = keys_ + "\\App";
    // One subkey per level: Wine's recursive key deletion for the 95/98/Me family stops
    // at a second subkey whose name is longer than the first.
    ASSERT_TRUE(Key(HKEY_CURRENT_USER, app + "\\Settings\\Window"));
    ASSERT_TRUE(Key(HKEY_CURRENT_USER, app, "Installed"));
    ASSERT_TRUE(WriteValue(HKEY_CURRENT_USER, keys_ + "\\Shared", "AppVersion", TextValue("1")));
    ASSERT_TRUE(WriteValue(HKEY_CURRENT_USER, keys_ + "\\Shared", "", TextValue("default")));
    ASSERT_TRUE(WriteValue(HKEY_CURRENT_USER, keys_ + "\\Shared", "OtherVersion", TextValue("2")));

    pack::Block block;
    block.texts = Texts();
    block.files = {{".", "app.exe", 0},
                   {".", "readme.txt", 0},
                   {".\\data", "settings.ini", 0},
                   {".\\data\\cache", "c.bin", 0},
                   {".\\plugins", "p.dll", 0},
                   {group, "App.lnk", 0}};
    // The group's walk goes on to the Programs folder, which is protected.
    block.folders = {{0, install_ + "\\logs", "today.log"}, {1, group, ""}};
    block.registry = {{kCurrentUser, app},
                      {kCurrentUser, keys_ + "\\Shared\\\\AppVersion"},
                      {kCurrentUser, keys_ + "\\Shared\\\\"},
                      {kLocalMachine, uninstallKey}};
    ASSERT_TRUE(WriteStampedUninstaller(pack::EncodeBlock(block), exe_));

    RunResult run = RunAndAnswer(exe_, "/X", {});
    // Whatever happened, the prefix keeps no Add/Remove Programs entry of this test.
    RemoveKeyTree(HKEY_LOCAL_MACHINE, uninstallKey);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_TRUE(run.boxes.empty());

    for (const char *gone :
         {"app.exe", "readme.txt", "data\\settings.ini", "data\\cache", "plugins", "logs"})
        EXPECT_FALSE(FileExists(install_ + "\\" + gone)) << gone;
    EXPECT_FALSE(FileExists(group));
    EXPECT_TRUE(FileExists(programs)) << "the Programs folder is protected";
    EXPECT_TRUE(FileExists(userFile));
    EXPECT_TRUE(FileExists(exe_)) << "a bare run does not remove the uninstaller";

    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, app));
    EXPECT_FALSE(ReadValue(HKEY_CURRENT_USER, keys_ + "\\Shared", "AppVersion").present);
    EXPECT_FALSE(ReadValue(HKEY_CURRENT_USER, keys_ + "\\Shared", "").present);
    EXPECT_EQ(Describe(TextValue("2")),
              Describe(ReadValue(HKEY_CURRENT_USER, keys_ + "\\Shared", "OtherVersion")));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, uninstallKey));
    EXPECT_TRUE(
        KeyExists(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"));
    RemoveTree(group);
}

// Visual styles are limited to frames unless the options keep the theme; the hook reads the
// theme properties inside the running uninstaller.
TEST_F(Phases, KeepThemeOption) {
    typedef DWORD(WINAPI * GetProperties)();
    HMODULE theme = LoadLibraryA("uxtheme.dll");
    GetProperties get =
        theme ? (GetProperties)(void (*)())GetProcAddress(theme, "GetThemeAppProperties") : nullptr;
    if (!get)
        GTEST_SKIP() << "no theme library here";
    DWORD untouched = get(); // this process never changes its properties
    ASSERT_NE(1u, untouched);
    static const struct {
        const char *name;
        uint32_t flags;
        bool keep;
    } cases[] = {{"no flags", 0, false}, {"keep theme", pack::OPTION_KEEPTHEME, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ProgressRecorder recorder(folder_ + "\\theme.log");
        ASSERT_TRUE(recorder.ready());
        pack::Block block;
        block.texts = Texts();
        block.files = {{".", "app.exe", 0}};
        block.optionFlags = c.flags;
        File("app.exe");
        ASSERT_TRUE(WriteStampedUninstaller(pack::EncodeBlock(block), exe_));
        RunResult run = RunAndAnswer(exe_, "", {Action::Press(IDOK), Action::Press(IDOK)}, 30000,
                                     Action::Press(IDCANCEL),
                                     [&](HWND box, const Box &) { recorder.Attach(box); });
        ASSERT_TRUE(run.finished);
        std::vector<std::string> lines = recorder.Lines();
        ASSERT_FALSE(lines.empty());
        std::string expected = "theme " + std::to_string(c.keep ? untouched : 1);
        EXPECT_EQ(expected, lines[0]);
    }
}

// An empty confirmation text still asks: an empty box whose OK lets the run go on.
TEST_F(Phases, EmptyConfirmationTextShowsAnEmptyBox) {
    std::string app = File("app.exe");
    MakeFolders(install_ + "\\data");
    std::vector<std::string> texts = Texts();
    texts[1] = "";
    pack::Block block;
    block.texts = texts;
    block.files = {{".", "app.exe", 0}};
    block.folders = {{0, install_ + "\\data", ""}};
    ASSERT_TRUE(WriteStampedUninstaller(pack::EncodeBlock(block), exe_));
    RunResult run = RunAndAnswer(exe_, "", {Action::Press(IDOK), Action::Press(IDOK)});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode);
    ASSERT_EQ(2u, run.boxes.size());
    EXPECT_EQ("", run.boxes[0].text);
    EXPECT_EQ(texts[0], run.boxes[0].caption);
    ASSERT_EQ(2u, run.boxes[0].buttons.size()) << "OK and Cancel";
    EXPECT_EQ(texts[2], run.boxes[1].text);
    EXPECT_FALSE(FileExists(app));
    EXPECT_FALSE(FileExists(install_ + "\\data"));
}

} // namespace
