// Protected folders, against the folders that Wine itself reports, on both families.
#include "removal_support.h"

#include <shlobj.h>

#include <memory>

#include "removal/removal.h"
#include "support.h"

using namespace removal_tests;
using namespace testing_support;

namespace {

const char kVersionKey[] = "Software\\Microsoft\\Windows\\CurrentVersion";
const char kQuickLaunch[] = "\\Microsoft\\Internet Explorer\\Quick Launch";

// Asks the question on a copy in a buffer of exactly the path's size followed by canary
// bytes, and checks that the caller's text comes back unchanged.
::testing::AssertionResult Protection(const std::string &path, int expected) {
    std::vector<char> buffer(path.size() + 1 + 8, '\x5A');
    CopyMemory(buffer.data(), path.c_str(), path.size() + 1);
    int answer = IsProtectedFolder(buffer.data());
    if (std::string(buffer.data()) != path)
        return ::testing::AssertionFailure()
               << "\"" << path << "\" came back as \"" << buffer.data() << "\"";
    for (size_t i = path.size() + 1; i < buffer.size(); i++)
        if (buffer[i] != '\x5A')
            return ::testing::AssertionFailure() << "wrote past \"" << path << "\"";
    if (answer != expected)
        return ::testing::AssertionFailure()
               << "\"" << path << "\" answered " << answer << ", expected " << expected;
    return ::testing::AssertionSuccess();
}

std::string ShellFolder(int identifier) {
    char path[MAX_PATH] = "";
    if (!SHGetSpecialFolderPathA(nullptr, path, identifier, FALSE))
        return "";
    return path;
}

std::string RegistryFolder(const char *name) {
    Value value = ReadValue(HKEY_LOCAL_MACHINE, kVersionKey, name);
    if (!value.present || value.data.empty())
        return "";
    return std::string((const char *)value.data.data());
}

std::string WithoutBackslash(std::string path) {
    if (path.size() >= 4 && path.back() == '\\')
        path.pop_back();
    return path;
}

struct Row {
    const char *name;
    std::string folder;
    bool ntOnly;
};

// Every row, resolved here through other calls than the program's own.
std::vector<Row> ResolvedRows() {
    char windows[MAX_PATH] = "", system[MAX_PATH] = "";
    GetWindowsDirectoryA(windows, MAX_PATH);
    GetSystemDirectoryA(system, MAX_PATH);
    std::string appData = ShellFolder(0x1A), commonAppData = ShellFolder(0x23);
    return {
        {"Windows", windows, false},
        {"System", system, false},
        {"desktop", ShellFolder(0x00), false},
        {"desktop folder", ShellFolder(0x10), false},
        {"all users' desktop", ShellFolder(0x19), true},
        {"fonts", ShellFolder(0x14), false},
        {"programs", ShellFolder(0x02), false},
        {"all users' programs", ShellFolder(0x17), true},
        {"start menu", ShellFolder(0x0B), false},
        {"all users' start menu", ShellFolder(0x16), true},
        {"startup", ShellFolder(0x07), false},
        {"all users' startup", ShellFolder(0x18), true},
        {"application data", appData, false},
        {"Quick Launch", appData.empty() ? "" : WithoutBackslash(appData) + kQuickLaunch, false},
        {"all users' application data", commonAppData, false},
        {"all users' Quick Launch",
         commonAppData.empty() ? "" : WithoutBackslash(commonAppData) + kQuickLaunch, false},
        {"My Documents", ShellFolder(0x05), false},
        {"favorites", ShellFolder(0x06), false},
        {"recent", ShellFolder(0x08), false},
        {"send to", ShellFolder(0x09), false},
        {"My Music", ShellFolder(0x0D), false},
        {"My Videos", ShellFolder(0x0E), false},
        {"network shortcuts", ShellFolder(0x13), false},
        {"templates", ShellFolder(0x15), false},
        {"printer shortcuts", ShellFolder(0x1B), false},
        {"local application data", ShellFolder(0x1C), false},
        {"internet cache", ShellFolder(0x20), false},
        {"cookies", ShellFolder(0x21), false},
        {"history", ShellFolder(0x22), false},
        {"Windows, as the shell names it", ShellFolder(0x24), false},
        {"System, as the shell names it", ShellFolder(0x25), false},
        {"program files, as the shell names it", ShellFolder(0x26), false},
        {"My Pictures", ShellFolder(0x27), false},
        {"profile", ShellFolder(0x28), false},
        {"System of 32-bit programs", ShellFolder(0x29), false},
        {"program files of 32-bit programs", ShellFolder(0x2A), false},
        {"common files, as the shell names it", ShellFolder(0x2B), false},
        {"common files of 32-bit programs", ShellFolder(0x2C), false},
        {"administrative tools", ShellFolder(0x30), false},
        {"all users' favorites", ShellFolder(0x1F), true},
        {"all users' templates", ShellFolder(0x2D), true},
        {"all users' documents", ShellFolder(0x2E), true},
        {"all users' administrative tools", ShellFolder(0x2F), true},
        {"Program Files", RegistryFolder("ProgramFilesDir"), false},
        {"Common Files", RegistryFolder("CommonFilesDir"), false},
    };
}

// While a phase holds the protected folders, the answers come from memory; they must be the
// answers the lookups give.
class HeldFolders {
  public:
    HeldFolders() {
        HoldProtectedFolders();
    }
    ~HeldFolders() {
        ReleaseProtectedFolders();
    }
};

void CheckEveryRow() {
    std::vector<Row> rows = ResolvedRows();
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.name) + ": " + row.folder);
        if (row.folder.empty()) {
            ADD_FAILURE() << "the system did not resolve this folder";
            continue;
        }
        int expected = !row.ntOnly || isNT;
        if (!expected) {
            // Not tested here; it must not be protected through another row either.
            bool elsewhere = false;
            for (const Row &other : rows)
                if (!other.ntOnly && lstrcmpiA(WithoutBackslash(other.folder).c_str(),
                                               WithoutBackslash(row.folder).c_str()) == 0)
                    elsewhere = true;
            if (elsewhere)
                continue;
        }
        std::string folder = WithoutBackslash(row.folder);
        EXPECT_TRUE(Protection(folder, expected));
        EXPECT_TRUE(Protection(folder + "\\", expected));
        EXPECT_TRUE(Protection(Upper(folder), expected));
        EXPECT_TRUE(Protection(Upper(folder) + "\\", expected));
        // Only one trailing backslash is ignored, and nothing inside a folder is protected.
        EXPECT_TRUE(Protection(folder + "\\\\", 0));
        EXPECT_TRUE(Protection(folder + "\\Vanish Group", 0));
    }
}

TEST(ProtectedFolders, EveryRowResolvedByTheSystem) {
    CheckEveryRow();
}

TEST(ProtectedFolders, EveryRowWhileHeld) {
    HeldFolders held;
    CheckEveryRow();
    CheckEveryRow(); // from memory now
}

TEST(ProtectedFolders, ShortPathsAndOtherSpellings) {
    char windows[MAX_PATH];
    ASSERT_GT(GetWindowsDirectoryA(windows, MAX_PATH), 3u);
    std::string slashed = windows;
    for (char &c : slashed)
        if (c == '\\')
            c = '/';
    std::string programFiles = RegistryFolder("ProgramFilesDir");
    char shortForm[MAX_PATH] = "";
    GetShortPathNameA(programFiles.c_str(), shortForm, MAX_PATH);
    static const struct {
        std::string path;
        int expected;
    } cases[] = {
        {"", 1},
        {"C", 1},
        {"C:", 1},
        {"C:\\", 1},
        {"D:\\", 1},
        {"abc", 1},
        {"C:\\a", 0},
        {"C:\\a\\", 0},
        {slashed, 0},
        {std::string(windows) + "\\.", 0},
        {std::string(windows) + "\\system32\\..", 0},
        {shortForm, programFiles == shortForm ? 1 : 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_TRUE(Protection(c.path, c.expected));
    }
}

TEST(ProtectedFolders, RegistryFoldersComparedAsStored) {
    RootRedirect machine(HKEY_LOCAL_MACHINE);
    if (!machine.active())
        GTEST_SKIP() << "HKEY_LOCAL_MACHINE cannot be redirected here";
    char windows[MAX_PATH];
    ASSERT_GT(GetWindowsDirectoryA(windows, MAX_PATH), 3u);

    // The key is missing: the registry rows protect nothing, the others still do.
    EXPECT_TRUE(Protection("C:\\Vanish Program Files", 0));
    EXPECT_TRUE(Protection(windows, 1));

    ASSERT_TRUE(
        machine.Write(kVersionKey, "ProgramFilesDir", REG_SZ, "C:\\Vanish Program Files\\"));
    ASSERT_TRUE(
        machine.Write(kVersionKey, "CommonFilesDir", REG_EXPAND_SZ, "%SystemDrive%\\Common"));
    static const struct {
        const char *path;
        int expected;
    } cases[] = {
        {"C:\\Vanish Program Files", 0},   // stored with a trailing backslash
        {"C:\\Vanish Program Files\\", 0}, // the path loses its backslash before comparing
        {"C:\\Common", 0},                 // variables are not expanded
        {"%SYSTEMDRIVE%\\COMMON", 1},
        {"%SystemDrive%\\Common\\", 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_TRUE(Protection(c.path, c.expected));
    }
    EXPECT_TRUE(Protection(windows, 1));
}

// A phase sees the folders as its first test found them; the next phase looks them up again.
TEST(ProtectedFolders, HeldUntilReleased) {
    RootRedirect machine(HKEY_LOCAL_MACHINE);
    if (!machine.active())
        GTEST_SKIP() << "HKEY_LOCAL_MACHINE cannot be redirected here";
    char windows[MAX_PATH];
    ASSERT_GT(GetWindowsDirectoryA(windows, MAX_PATH), 3u);
    {
        HeldFolders held;
        EXPECT_TRUE(Protection("C:\\Vanish Held", 0));
        ASSERT_TRUE(machine.Write(kVersionKey, "ProgramFilesDir", REG_SZ, "C:\\Vanish Held"));
        EXPECT_TRUE(Protection("C:\\Vanish Held", 0));
        EXPECT_TRUE(Protection(windows, 1));
    }
    EXPECT_TRUE(Protection("C:\\Vanish Held", 1));
    HeldFolders next;
    EXPECT_TRUE(Protection("C:\\Vanish Held", 1));
    ASSERT_TRUE(machine.Write(kVersionKey, "CommonFilesDir", REG_SZ, "C:\\Vanish Common"));
    EXPECT_TRUE(Protection("C:\\Vanish Common", 0));
    ReleaseProtectedFolders();
    HoldProtectedFolders();
    EXPECT_TRUE(Protection("C:\\Vanish Common", 1));
    EXPECT_TRUE(Protection("C:\\Vanish Held\\", 1));
}

// Changes a value of the user's shell folders for one test. The old value is kept in a
// backup key first, so that a run killed midway is repaired by the next one: the Wine
// prefix outlives the run.
class SavedUserValue {
  public:
    SavedUserValue(const std::string &key, const std::string &name)
        : key_(key), name_(name), backup_(key + "\\" + name) {
        Value leftover = ReadValue(HKEY_CURRENT_USER, kBackupKey, backup_);
        if (leftover.present)
            Restore(leftover);
        saved_ = ReadValue(HKEY_CURRENT_USER, key_, name_);
        WriteValue(HKEY_CURRENT_USER, kBackupKey, backup_, saved_);
    }
    ~SavedUserValue() {
        Restore(saved_);
    }

  private:
    void Restore(const Value &value) {
        WriteValue(HKEY_CURRENT_USER, key_, name_, value);
        DeleteValue(HKEY_CURRENT_USER, kBackupKey, backup_);
    }
    static constexpr const char *kBackupKey = "Software\\Vanish Tests\\Saved values";
    std::string key_, name_, backup_;
    Value saved_;
};

TEST(ProtectedFolders, QuickLaunchPathBeyondTheSystemsLimitStillMatchesWhole) {
    // An application data folder of 230 characters: its Quick Launch path needs 271, more
    // than the system takes but within the program's buffers, which hold any path in UTF-8.
    // The whole path is protected; cut to 259 characters it names another folder.
    std::string base = ScratchFolder("long");
    std::string appData = base + "\\" + std::string(230 - base.size() - 1, 'q');
    ASSERT_EQ(appData.size(), 230u);
    ASSERT_TRUE(CreateDirectoryA(appData.c_str(), nullptr));
    const std::string explorer = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer";
    SavedUserValue userShellFolder(explorer + "\\User Shell Folders", "AppData");
    SavedUserValue shellFolder(explorer + "\\Shell Folders", "AppData");
    ASSERT_TRUE(WriteValue(HKEY_CURRENT_USER, explorer + "\\User Shell Folders", "AppData",
                           TextValue(appData)));
    ASSERT_TRUE(
        WriteValue(HKEY_CURRENT_USER, explorer + "\\Shell Folders", "AppData", TextValue(appData)));
    char resolved[PATH_SIZE] = "";
    if (!GetSpecialFolderPath(resolved, 0x1A) || appData != resolved)
        GTEST_SKIP() << "the shell here does not take the application data folder from the "
                        "user's registry (it gave \""
                     << resolved << "\")";
    EXPECT_TRUE(Protection(appData, 1));
    std::string quickLaunch = appData + kQuickLaunch;
    EXPECT_TRUE(Protection(quickLaunch, 1));
    EXPECT_TRUE(Protection(quickLaunch.substr(0, MAX_PATH - 1), 0));
    EXPECT_TRUE(Protection(appData + "\\Microsoft", 0));
}

// Damaged or hostile data naming the user's own shell folders as folder entries: they
// stay, even when empty. Each is first pointed at an empty scratch folder, so that a fault
// removes nothing of the prefix's own.
TEST(ProtectedFolders, FileEntriesNamingShellFoldersLeaveThem) {
    static const struct {
        const char *value; // its name under the user's shell folders
        int identifier;
    } folders[] = {{"Favorites", 0x06}, {"SendTo", 0x09}, {"Personal", 0x05}};
    const std::string explorer = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer";
    std::string base = ScratchFolder("shell");
    std::vector<std::unique_ptr<SavedUserValue>> saved;
    std::vector<Entry> entries;
    for (const auto &folder : folders) {
        std::string path = base + "\\" + folder.value;
        ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr));
        for (const char *key : {"\\User Shell Folders", "\\Shell Folders"}) {
            saved.emplace_back(new SavedUserValue(explorer + key, folder.value));
            ASSERT_TRUE(
                WriteValue(HKEY_CURRENT_USER, explorer + key, folder.value, TextValue(path)));
        }
        if (ShellFolder(folder.identifier) != path)
            GTEST_SKIP() << "the shell here does not take " << folder.value
                         << " from the user's registry";
        entries.push_back({path, "", 0});
        entries.push_back({path + "\\", "", 0});
    }
    std::string application = base + "\\Personal\\Application";
    ASSERT_TRUE(CreateDirectoryA(application.c_str(), nullptr));
    entries.push_back({application, "", 0}); // handled first, so My Documents is empty after it
    ProgramState state(base + "\\");
    state.SetEntries(entries);
    RemoveFiles();
    EXPECT_FALSE(FileExists(application)) << "an ordinary empty folder goes";
    for (const auto &folder : folders)
        EXPECT_TRUE(FileExists(base + "\\" + folder.value)) << folder.value;
}

TEST(ProtectedFolders, SpecialFolderLookup) {
    char buffer[PATH_SIZE];
    FillMemory(buffer, sizeof buffer, 'x');
    ASSERT_EQ(GetSpecialFolderPath(buffer, 0x14), 1);
    EXPECT_STREQ(buffer, ShellFolder(0x14).c_str());
    // An identifier the shell does not know leaves the buffer as it was.
    FillMemory(buffer, sizeof buffer, 'x');
    EXPECT_EQ(GetSpecialFolderPath(buffer, 0x7F), 0);
    EXPECT_EQ(buffer[0], 'x');
}

} // namespace

namespace {

// The rig runs each program as one family; the program must see it as WinMain would.
TEST(Family, AsTheRigReportsIt) {
    std::string name = ProgramName();
    if (name.size() > 6 && name.substr(name.size() - 6) == "_win98")
        EXPECT_EQ(isNT, 0);
    else if (name.size() > 6 && name.substr(name.size() - 6) == "_win10")
        EXPECT_EQ(isNT, 1);
    else
        GTEST_SKIP() << "not started by the rig";
}

} // namespace
