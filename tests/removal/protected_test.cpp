// Protected folders, against the folders that Wine itself reports, on both families: every
// folder the shell names, by every spelling the system resolves to it.
#include "removal_support.h"

#include <shlobj.h>

#include <functional>
#include <iostream>
#include <memory>

#include "guards/guards.h"
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

// A folder the shell knows by an identifier of its own, from Vista on; empty where the shell
// cannot say.
std::string KnownFolder(const GUID &id) {
    typedef HRESULT(WINAPI * PathOf)(const GUID &, DWORD, HANDLE, WCHAR **);
    auto pathOf =
        (PathOf)(void (*)())GetProcAddress(GetModuleHandleA("shell32.dll"), "SHGetKnownFolderPath");
    WCHAR *path = nullptr;
    char folder[MAX_PATH] = "";
    if (pathOf && pathOf(id, 0x4000 /* whether it exists or not */, nullptr, &path) == S_OK)
        WideCharToMultiByte(CP_ACP, 0, path, -1, folder, MAX_PATH, nullptr, nullptr);
    CoTaskMemFree(path);
    return folder;
}

// The known folders that no shell folder identifier names.
const struct {
    const char *name;
    GUID id;
} kKnownFolders[] = {
    {"Downloads", {0x374de290, 0x123f, 0x4565, {0x91, 0x64, 0x39, 0xc4, 0x92, 0x5e, 0x46, 0x7b}}},
    {"Links", {0xbfb9d5e0, 0xc6a9, 0x404c, {0xb2, 0xb2, 0xae, 0x6d, 0xb6, 0xaf, 0x49, 0x68}}},
    {"Saved Games", {0x4c5c32ff, 0xbb9d, 0x43b0, {0xb5, 0xb4, 0x2d, 0x72, 0xe5, 0x4e, 0xaa, 0xa4}}},
    {"Searches", {0x7d1d3a04, 0xdebb, 0x4115, {0x95, 0xcf, 0x2f, 0x29, 0xda, 0x29, 0x20, 0xda}}},
    {"Contacts", {0x56784854, 0xc6cb, 0x462b, {0x81, 0x69, 0x88, 0xe3, 0x50, 0xac, 0xb8, 0x82}}},
    {"LocalLow", {0xa520a1a4, 0x1780, 0x4ff6, {0xbd, 0x18, 0x16, 0x73, 0x43, 0xc5, 0xaf, 0x16}}},
    {"Public", {0xdfdf76a2, 0xc82a, 0x4d63, {0x90, 0x6a, 0x56, 0x44, 0xac, 0x45, 0x73, 0x85}}},
    {"Public Music",
     {0x3214fab5, 0x9757, 0x4298, {0xbb, 0x61, 0x92, 0xa9, 0xde, 0xaa, 0x44, 0xff}}},
    {"Public Pictures",
     {0xb6ebfb86, 0x6907, 0x413c, {0x9a, 0xf7, 0x4f, 0xc2, 0xab, 0xf0, 0x7c, 0xc5}}},
    {"Public Videos",
     {0x2400183a, 0x6185, 0x49fb, {0xa2, 0xd8, 0x4a, 0x39, 0x2a, 0x60, 0x2b, 0xa3}}},
    {"Public Downloads",
     {0x3d644c9b, 0x1fb8, 0x4f30, {0x9b, 0x45, 0xf6, 0x70, 0x23, 0x5f, 0x79, 0xc0}}},
    {"user profiles",
     {0x0762d272, 0xc50a, 0x4bb0, {0xa3, 0x82, 0x69, 0x7d, 0xcd, 0x72, 0x9b, 0x80}}},
};

std::string ProfilesDirectory() {
    Value value = ReadValue(HKEY_LOCAL_MACHINE,
                            "Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList",
                            "ProfilesDirectory");
    char expanded[MAX_PATH] = "";
    if (value.present && !value.data.empty())
        ExpandEnvironmentStringsA((const char *)value.data.data(), expanded, MAX_PATH);
    return expanded;
}

struct Row {
    const char *name;
    std::string folder;
};

bool HasKnownFolders() {
    return GetProcAddress(GetModuleHandleA("shell32.dll"), "SHGetKnownFolderPath") != nullptr;
}

// Every row, resolved here through other calls than the program's own. Each is protected
// whatever family the system reports: a compatibility layer can make the NT family report
// 95/98/Me, and the all-users folders, the known folders and the profiles are still there.
std::vector<Row> ResolvedRows() {
    char windows[MAX_PATH] = "", system[MAX_PATH] = "";
    GetWindowsDirectoryA(windows, MAX_PATH);
    GetSystemDirectoryA(system, MAX_PATH);
    std::string appData = ShellFolder(0x1A), commonAppData = ShellFolder(0x23);
    std::vector<Row> rows = {
        {"Windows", windows},
        {"System", system},
        {"desktop", ShellFolder(0x00)},
        {"desktop folder", ShellFolder(0x10)},
        {"all users' desktop", ShellFolder(0x19)},
        {"fonts", ShellFolder(0x14)},
        {"programs", ShellFolder(0x02)},
        {"all users' programs", ShellFolder(0x17)},
        {"start menu", ShellFolder(0x0B)},
        {"all users' start menu", ShellFolder(0x16)},
        {"startup", ShellFolder(0x07)},
        {"all users' startup", ShellFolder(0x18)},
        {"application data", appData},
        {"Quick Launch", appData.empty() ? "" : WithoutBackslash(appData) + kQuickLaunch},
        {"all users' application data", commonAppData},
        {"all users' Quick Launch",
         commonAppData.empty() ? "" : WithoutBackslash(commonAppData) + kQuickLaunch},
        {"My Documents", ShellFolder(0x05)},
        {"favorites", ShellFolder(0x06)},
        {"recent", ShellFolder(0x08)},
        {"send to", ShellFolder(0x09)},
        {"My Music", ShellFolder(0x0D)},
        {"My Videos", ShellFolder(0x0E)},
        {"network shortcuts", ShellFolder(0x13)},
        {"templates", ShellFolder(0x15)},
        {"printer shortcuts", ShellFolder(0x1B)},
        {"local application data", ShellFolder(0x1C)},
        {"internet cache", ShellFolder(0x20)},
        {"cookies", ShellFolder(0x21)},
        {"history", ShellFolder(0x22)},
        {"Windows, as the shell names it", ShellFolder(0x24)},
        {"System, as the shell names it", ShellFolder(0x25)},
        {"program files, as the shell names it", ShellFolder(0x26)},
        {"My Pictures", ShellFolder(0x27)},
        {"profile", ShellFolder(0x28)},
        {"System of 32-bit programs", ShellFolder(0x29)},
        {"program files of 32-bit programs", ShellFolder(0x2A)},
        {"common files, as the shell names it", ShellFolder(0x2B)},
        {"common files of 32-bit programs", ShellFolder(0x2C)},
        {"administrative tools", ShellFolder(0x30)},
        {"all users' favorites", ShellFolder(0x1F)},
        {"all users' templates", ShellFolder(0x2D)},
        {"all users' documents", ShellFolder(0x2E)},
        {"all users' administrative tools", ShellFolder(0x2F)},
        {"Program Files", RegistryFolder("ProgramFilesDir")},
        {"Common Files", RegistryFolder("CommonFilesDir")},
    };
    // Where the system keeps a list of profiles and knows folders by their own identifiers
    // (a real 95/98/Me has neither; Wine has both for either family).
    if (!ProfilesDirectory().empty())
        rows.push_back({"profiles", ProfilesDirectory()});
    if (HasKnownFolders())
        for (const auto &known : kKnownFolders)
            rows.push_back({known.name, KnownFolder(known.id)});
    return rows;
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
    for (const Row &row : ResolvedRows()) {
        SCOPED_TRACE(std::string(row.name) + ": " + row.folder);
        if (row.folder.empty()) {
            ADD_FAILURE() << "the system did not resolve this folder";
            continue;
        }
        std::string folder = WithoutBackslash(row.folder);
        EXPECT_TRUE(Protection(folder, 1));
        EXPECT_TRUE(Protection(folder + "\\", 1));
        EXPECT_TRUE(Protection(Upper(folder), 1));
        EXPECT_TRUE(Protection(Upper(folder) + "\\", 1));
        // Nothing inside a folder is protected.
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

TEST(ProtectedFolders, RootsAndPathsThatResolveToThem) {
    static const struct {
        const char *path;
        int expected;
    } cases[] = {
        {"", 1},         {"C", 1},     {"C:", 1},           {"C:\\", 1},      {"D:\\", 1},
        {"abc", 1},      {"C:\\a", 0}, {"C:\\a\\", 0},      {"C:\\a\\..", 1}, {"C:\\.\\", 1},
        {"C:\\a\\.", 0}, {"C://", 1},  {"C:\\a\\b\\..", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_TRUE(Protection(c.path, c.expected));
    }
}

// Another drive letter onto the prefix's drive C:, made as Wine maps its drives: a link in
// the prefix's dosdevices folder. Empty where it cannot be made.
class MappedDrive {
  public:
    MappedDrive() {
        std::string c = UnixName("C:\\"); // <prefix>/dosdevices/c:/
        size_t at = c.rfind("/c:/");
        DWORD taken = GetLogicalDrives();
        char letter = 'Q';
        while (letter < 'Z' && (taken & (1u << (letter - 'A'))))
            letter++;
        if (at == std::string::npos || letter == 'Z')
            return;
        link_ = c.substr(0, at + 1) + (char)(letter - 'A' + 'a') + ":";
        std::string probe = std::string(1, letter) + ":\\windows";
        if (RunUnix("/bin/ln", "-sfn ../drive_c \"" + link_ + "\"") &&
            WaitUntil([&] { return GetFileAttributesA(probe.c_str()) != INVALID_FILE_ATTRIBUTES; }))
            drive_ = std::string(1, letter) + ":";
    }
    ~MappedDrive() {
        std::string probe = drive_ + "\\windows";
        if (!link_.empty() && RunUnix("/bin/rm", "-f \"" + link_ + "\"") && !drive_.empty())
            WaitUntil([&] { return GetFileAttributesA(probe.c_str()) == INVALID_FILE_ATTRIBUTES; });
    }
    MappedDrive(const MappedDrive &) = delete;
    MappedDrive &operator=(const MappedDrive &) = delete;
    const std::string &drive() const {
        return drive_;
    }

  private:
    std::string link_, drive_;
};

// The current directory, set for one test and put back after it.
class CurrentFolder {
  public:
    explicit CurrentFolder(const std::string &folder) {
        char saved[MAX_PATH] = "";
        GetCurrentDirectoryA(MAX_PATH, saved);
        saved_ = saved;
        set_ = SetCurrentDirectoryA(folder.c_str()) != 0;
    }
    ~CurrentFolder() {
        SetCurrentDirectoryA(saved_.c_str());
    }
    bool set() const {
        return set_;
    }

  private:
    std::string saved_;
    bool set_ = false;
};

// One way of writing a folder's path that the system resolves to that folder, or that the
// program refuses whole: a literal or device path, a stream.
struct Spelling {
    const char *name;
    bool refused;
    std::function<std::string(const std::string &)> spell;
};

std::string BeforeLastName(const std::string &folder, const std::string &inserted) {
    size_t at = folder.rfind('\\');
    return folder.substr(0, at) + inserted + folder.substr(at + 1);
}

// Every spelling of a full path on drive C:; relative ones are relative to a current
// directory depth names below the drive's root, and drive names another letter onto C:.
std::vector<Spelling> Spellings(size_t depth, const std::string &drive) {
    std::string up;
    for (size_t i = 0; i < depth; i++)
        up += "..\\";
    std::vector<Spelling> spellings = {
        {"8.3 short names", false,
         [](const std::string &folder) {
             char shortForm[MAX_PATH] = "";
             GetShortPathNameA(folder.c_str(), shortForm, MAX_PATH);
             return std::string(shortForm);
         }},
        {"forward slashes", false,
         [](std::string folder) {
             for (char &c : folder)
                 if (c == '\\')
                     c = '/';
             return folder;
         }},
        {"a trailing dot", false, [](const std::string &folder) { return folder + "."; }},
        {"a trailing space", false, [](const std::string &folder) { return folder + " "; }},
        {"a doubled backslash", false,
         [](const std::string &folder) { return BeforeLastName(folder, "\\\\"); }},
        {"\\.\\ inside", false,
         [](const std::string &folder) { return BeforeLastName(folder, "\\.\\"); }},
        {"x\\..\\ inside", false,
         [](const std::string &folder) { return BeforeLastName(folder, "\\x\\..\\"); }},
        {"relative ..\\..\\", false,
         [up](const std::string &folder) { return "x\\..\\" + up + folder.substr(3); }},
        {"\\\\?\\ before it", true, [](const std::string &folder) { return "\\\\?\\" + folder; }},
        {"//?/ before it", true, [](const std::string &folder) { return "//?/" + folder; }},
        {"\\\\.\\ before it", true, [](const std::string &folder) { return "\\\\.\\" + folder; }},
        {"\\??\\ before it", true, [](const std::string &folder) { return "\\??\\" + folder; }},
        {"its index stream", true,
         [](const std::string &folder) { return folder + "::$INDEX_ALLOCATION"; }},
    };
    if (!drive.empty())
        spellings.push_back({"another drive letter", false, [drive](const std::string &folder) {
                                 return drive + folder.substr(2);
                             }});
    return spellings;
}

size_t Depth(const std::string &folder) {
    size_t depth = 0;
    for (size_t i = 3; i <= folder.size(); i++)
        depth += i == folder.size() || folder[i] == '\\';
    return depth;
}

struct NamedFolder {
    std::string name, folder;
};

// Protected folders that are empty folders of drive C: of the test prefix (the rig makes
// Wine's links to the Unix home real folders), so that only the protection keeps them.
std::vector<NamedFolder> EmptyProtectedFolders() {
    std::vector<NamedFolder> found;
    auto add = [&](const std::string &name, const std::string &folder) {
        if (folder.size() > 3 && folder.compare(0, 3, "C:\\") == 0 && FileExists(folder) &&
            ListFolder(folder).empty())
            found.push_back({name, WithoutBackslash(folder)});
        else
            std::cout << "not an empty folder on C: here, not tried: " << name << " (" << folder
                      << ")\n";
    };
    add("favorites", ShellFolder(0x06));
    add("send to", ShellFolder(0x09));
    add("templates", ShellFolder(0x15));
    add("startup", ShellFolder(0x07));
    add("My Music", ShellFolder(0x0D));
    add("all users' desktop", ShellFolder(0x19));
    add("all users' startup", ShellFolder(0x18));
    add("all users' templates", ShellFolder(0x2D));
    if (HasKnownFolders())
        for (const auto &known : kKnownFolders)
            add(known.name, KnownFolder(known.id));
    return found;
}

// Spelled every way, every protected folder is still protected, and an ordinary folder is
// not: the spellings alone decide nothing but refusal. On 95/98/Me no folder can be opened
// to tell what it is, so another drive letter is tried on the NT family only.
TEST(ProtectedFolders, EverySpellingOfEveryFolder) {
    std::string here = ScratchFolder("spellings");
    std::string ordinary = here + "\\an ordinary folder";
    ASSERT_TRUE(CreateDirectoryA(ordinary.c_str(), nullptr));
    CurrentFolder current(here);
    ASSERT_TRUE(current.set());
    MappedDrive mapped;
    if (isNT) {
        ASSERT_FALSE(mapped.drive().empty()) << "no drive letter could be mapped onto C:";
    }
    std::vector<NamedFolder> folders = EmptyProtectedFolders();
    ASSERT_FALSE(folders.empty());
    folders.push_back({"an ordinary folder", ordinary});
    HeldFolders held;
    for (const Spelling &spelling : Spellings(Depth(here), isNT ? mapped.drive() : "")) {
        for (const NamedFolder &folder : folders) {
            std::string spelled = spelling.spell(folder.folder);
            SCOPED_TRACE(folder.name + ", " + spelling.name + ": " + spelled);
            ASSERT_FALSE(spelled.empty());
            bool protectedFolder = folder.folder != ordinary;
            EXPECT_TRUE(Protection(spelled, protectedFolder || spelling.refused));
        }
    }
}

// The same as entries of a run of the uninstaller: each protected folder named by every
// spelling, as a folder entry and as a file entry with an empty name, stays; an ordinary
// empty folder named the same way goes, unless the spelling is refused, which counts as left.
TEST(ProtectedFolders, EverySpellingAsAnEntryLeavesTheFolder) {
    std::string root = ScratchFolder("entries"), app = root + "\\app";
    ASSERT_TRUE(CreateDirectoryA(app.c_str(), nullptr));
    std::string base = "spelled-" + (Family().empty() ? std::string("any") : Family());
    if (!Family().empty()) {
        ASSERT_TRUE(SetFamilyOf(base + ".exe", Family()));
    }
    MappedDrive mapped;
    if (isNT) {
        ASSERT_FALSE(mapped.drive().empty()) << "no drive letter could be mapped onto C:";
    }
    std::vector<NamedFolder> folders = EmptyProtectedFolders();
    ASSERT_FALSE(folders.empty());
    std::vector<Spelling> spellings = Spellings(Depth(app), isNT ? mapped.drive() : "");
    pack::Block block;
    block.texts = kTexts;
    std::vector<std::string> ordinary;
    for (size_t i = 0; i < spellings.size(); i++) {
        for (const char *kind : {"file", "folder"}) {
            ordinary.push_back(root + "\\ordinary " + kind + " " + std::to_string(i));
            ASSERT_TRUE(CreateDirectoryA(ordinary.back().c_str(), nullptr));
        }
        std::vector<std::string> named = {ordinary[2 * i], ordinary[2 * i + 1]};
        for (const NamedFolder &folder : folders) {
            named.push_back(folder.folder);
            named.push_back(folder.folder);
        }
        for (size_t k = 0; k < named.size(); k += 2) {
            std::string first = spellings[i].spell(named[k]),
                        second = spellings[i].spell(named[k + 1]);
            ASSERT_FALSE(first.empty() || second.empty()) << spellings[i].name;
            block.files.push_back({first, "", 0});
            block.folders.push_back({0, second, ""});
        }
    }
    std::string exe = app + "\\" + base + ".exe";
    ASSERT_TRUE(WriteStampedUninstaller(pack::EncodeBlock(block), exe));
    RunResult run;
    {
        CurrentFolder current(app); // as an installer starts it
        ASSERT_TRUE(current.set());
        run = RunAndAnswer(exe, "/S /X", {}, 120000);
    }
    for (const NamedFolder &folder : folders) {
        EXPECT_TRUE(FileExists(folder.folder)) << folder.name << ": " << folder.folder;
        CreateDirectoryA(folder.folder.c_str(), nullptr); // the prefix as it was, whatever
    }
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(1u, run.exitCode) << "what stays counts as left";
    for (size_t i = 0; i < ordinary.size(); i++)
        EXPECT_EQ(spellings[i / 2].refused, FileExists(ordinary[i]))
            << spellings[i / 2].name << ": " << ordinary[i];
}

// The registry's folders as the system resolves them: a trailing backslash, variables where
// the value is stored to hold them, any spelling of the folder named.
TEST(ProtectedFolders, RegistryFoldersByTheirOneName) {
    RootRedirect machine(HKEY_LOCAL_MACHINE);
    if (!machine.active())
        GTEST_SKIP() << "HKEY_LOCAL_MACHINE cannot be redirected here";
    char windows[MAX_PATH], common[MAX_PATH];
    ASSERT_GT(GetWindowsDirectoryA(windows, MAX_PATH), 3u);
    ASSERT_GT(ExpandEnvironmentStringsA("%SystemDrive%\\Common", common, MAX_PATH), 3u);

    // The key is missing: the registry rows protect nothing, the others still do.
    EXPECT_TRUE(Protection("C:\\Vanish Program Files", 0));
    EXPECT_TRUE(Protection(windows, 1));

    ASSERT_TRUE(
        machine.Write(kVersionKey, "ProgramFilesDir", REG_SZ, "C:\\Vanish Program Files\\"));
    ASSERT_TRUE(
        machine.Write(kVersionKey, "CommonFilesDir", REG_EXPAND_SZ, "%SystemDrive%\\Common"));
    std::string expanded = common;
    const struct {
        std::string path;
        int expected;
    } cases[] = {
        {"C:\\Vanish Program Files", 1},
        {"C:\\Vanish Program Files\\", 1},
        {"c:/vanish program files/.", 1},
        {"C:\\Vanish Program Files\\x", 0},
        {expanded, 1},
        {expanded + "\\", 1},
        // A name with a percent sign is a folder below the current directory.
        {"%SystemDrive%\\Common", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_TRUE(Protection(c.path, c.expected));
    }
    EXPECT_TRUE(Protection(windows, 1));
}

// The profiles as the NT family's registry lists them, whatever family the system reports:
// the folder that holds them, with its variables expanded, and each profile's own folder;
// not what lies inside or above them.
TEST(ProtectedFolders, ProfilesFromTheRegistry) {
    RootRedirect machine(HKEY_LOCAL_MACHINE);
    if (!machine.active())
        GTEST_SKIP() << "HKEY_LOCAL_MACHINE cannot be redirected here";
    const std::string list = "Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
    std::string scratch = ScratchFolder("profiles");
    char profiles[MAX_PATH];
    ASSERT_GT(ExpandEnvironmentStringsA("%SystemDrive%\\Vanish Profiles", profiles, MAX_PATH), 3u);
    ASSERT_TRUE(
        machine.Write(list, "ProfilesDirectory", REG_EXPAND_SZ, "%SystemDrive%\\Vanish Profiles"));
    ASSERT_TRUE(machine.Write(list + "\\S-1-5-21-1-2-3-1001", "ProfileImagePath", REG_SZ,
                              scratch + "\\someone"));
    ASSERT_TRUE(machine.Write(list + "\\S-1-5-21-1-2-3-1002", "ProfileImagePath", REG_EXPAND_SZ,
                              scratch + "\\%USERNAME%-other"));
    char other[MAX_PATH];
    ASSERT_GT(ExpandEnvironmentStringsA((scratch + "\\%USERNAME%-other").c_str(), other, MAX_PATH),
              3u);
    const struct {
        std::string path;
        int expected;
    } cases[] = {
        {profiles, 1},
        {scratch + "\\someone", 1},
        {scratch + "\\someone\\", 1},
        {other, 1},
        {scratch + "\\someone\\Documents", 0},
        {scratch, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_TRUE(Protection(c.path, c.expected));
    }
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

// Runs a block on a copy of the uninstaller that Wine runs as this program's family, from
// its install folder, as an installer starts it.
RunResult RunAsThisFamily(const pack::Block &block, const std::string &name,
                          const std::string &switches) {
    std::string app = ScratchFolder(name);
    std::string base = name + "-" + (Family().empty() ? std::string("any") : Family());
    std::string exe = app + "\\" + base + ".exe";
    if ((!Family().empty() && !SetFamilyOf(base + ".exe", Family())) ||
        !WriteStampedUninstaller(pack::EncodeBlock(block), exe))
        return {};
    CurrentFolder current(app);
    return current.set() ? RunAndAnswer(exe, switches, {}, 120000) : RunResult();
}

// An installer's own block, with folder tokens, names a shortcut on every user's desktop and
// in every user's Startup group. The shortcuts go; the folders, empty after them, stay on
// both families: the 95/98/Me setting on an NT system still has them.
TEST(ProtectedFolders, AllUsersFoldersStayWhenTheirLastShortcutGoes) {
    static const struct {
        const char *token;
        int identifier;
    } places[] = {{"{commondesktop}", 0x19}, {"{commonstartup}", 0x18}};
    pack::Block block;
    block.texts = kTexts;
    block.optionFlags = pack::OPTION_FOLDER_TOKENS;
    std::vector<std::string> folders;
    for (const auto &place : places) {
        std::string folder = WithoutBackslash(ShellFolder(place.identifier));
        SCOPED_TRACE(std::string(place.token) + ": " + folder);
        ASSERT_TRUE(FileExists(folder));
        ASSERT_TRUE(ListFolder(folder).empty()) << "only an empty folder shows the fault";
        ASSERT_TRUE(WriteFileText(folder + "\\Vanish App.lnk", "a shortcut"));
        block.files.push_back({place.token, "Vanish App.lnk", 0});
        folders.push_back(folder);
    }
    RunResult run = RunAsThisFamily(block, "all-users", "/S /X");
    for (const std::string &folder : folders) {
        EXPECT_FALSE(FileExists(folder + "\\Vanish App.lnk")) << folder;
        EXPECT_TRUE(FileExists(folder)) << folder;
        DeleteFileA((folder + "\\Vanish App.lnk").c_str());
        CreateDirectoryA(folder.c_str(), nullptr); // the prefix as it was, whatever
    }
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode) << "the shortcuts are gone; the folders a walk tries do not count";
}

std::string Encoded(const std::wstring &text, UINT page) {
    char bytes[4 * MAX_PATH] = "";
    WideCharToMultiByte(page, 0, text.c_str(), -1, bytes, sizeof bytes, nullptr, nullptr);
    return bytes;
}

// 95/98/Me compare names with their code page's case rules, as their own calls do. My
// Documents redirected to a Cyrillic folder and named in small letters stays, as a folder
// entry and as a file entry without a name; an ordinary folder named so goes.
TEST(ProtectedFolders, CyrillicDocumentsNamedInSmallLettersStay) {
    if (GetACP() != 1251)
        GTEST_SKIP() << "runs where the ANSI code page is 1251 (LANG=ru_RU.UTF-8), not "
                     << GetACP();
    const std::wstring documents = L"C:\\\u041c\u043e\u0438 \u0434\u043e\u043a\u0443\u043c\u0435"
                                   L"\u043d\u0442\u044b"; // C:\Мои документы
    const std::wstring named = L"C:\\\u043c\u043e\u0438 \u0434\u043e\u043a\u0443\u043c\u0435"
                               L"\u043d\u0442\u044b"; // C:\мои документы
    const std::string scratch = ScratchFolder("cyrillic-folder");
    const std::wstring ordinary =
        std::wstring(scratch.begin(), scratch.end()) + L"\\\u041f\u0430\u043f\u043a\u0430"; // Папка
    const std::wstring ordinaryNamed =
        std::wstring(scratch.begin(), scratch.end()) + L"\\\u043f\u0410\u041f\u041a\u0410"; // пАПКА
    struct Folders {
        std::vector<std::wstring> made;
        ~Folders() {
            for (const std::wstring &folder : made)
                RemoveDirectoryW(folder.c_str());
        }
    } folders;
    for (const std::wstring *folder : {&documents, &ordinary}) {
        ASSERT_TRUE(CreateDirectoryW(folder->c_str(), nullptr) ||
                    GetLastError() == ERROR_ALREADY_EXISTS);
        folders.made.push_back(*folder);
    }
    const std::string explorer = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer";
    std::vector<std::unique_ptr<SavedUserValue>> saved;
    for (const char *key : {"\\User Shell Folders", "\\Shell Folders"}) {
        saved.emplace_back(new SavedUserValue(explorer + key, "Personal"));
        ASSERT_TRUE(WriteValue(HKEY_CURRENT_USER, explorer + key, "Personal",
                               TextValue(Encoded(documents, CP_ACP))));
    }
    if (ShellFolder(0x05) != Encoded(documents, CP_ACP))
        GTEST_SKIP() << "the shell here does not take My Documents from the user's registry";
    pack::Block block;
    block.texts = kTexts;
    block.optionFlags = pack::OPTION_UTF8;
    for (const std::wstring *folder : {&named, &ordinaryNamed}) {
        block.files.push_back({Encoded(*folder, CP_UTF8), "", 0});
        block.folders.push_back({0, Encoded(*folder, CP_UTF8), ""});
    }
    RunResult run = RunAsThisFamily(block, "cyrillic", "/S /X");
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(documents.c_str()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(ordinary.c_str()))
        << "an ordinary folder named in other letters goes";
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(1u, run.exitCode) << "what stays counts as left";
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

// The rig runs each program as one family, which Wine reports through every version call;
// the program must see it, and the numbers its log gives, as WinMain does.
TEST(Family, AsTheRigReportsIt) {
    OSVERSIONINFOA version;
    DetectSystemFamily(&version);
    if (Family() == "win98") {
        EXPECT_EQ(isNT, 0);
        EXPECT_EQ(4u, version.dwMajorVersion);
        EXPECT_EQ(10u, version.dwMinorVersion);
    } else if (Family() == "win10") {
        EXPECT_EQ(isNT, 1);
        EXPECT_EQ(10u, version.dwMajorVersion);
        EXPECT_EQ(0u, version.dwMinorVersion);
    } else {
        GTEST_SKIP() << "not started by the rig";
    }
}

} // namespace
