// Self-removal through the real uninstaller: after it has exited, cmd.exe's command line (NT
// family) or the batch it left (95/98/Me) deletes its file, then its folder when empty. Each
// test gives the uninstaller a temporary folder of its own, so that a batch can be found and
// nothing else shares it; on the NT family it stays empty.
#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include "driver/driver.h"
#include "support.h"

#include <algorithm>
#include <cstdlib>
#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace testing_support;

namespace {

const std::vector<std::string> kTexts = {"Vanish test", "Remove the application?", "Done."};

std::string Fixture(const std::string &name) {
    return BuildFolder() + "\\tests\\fixtures\\" + name + ".exe";
}

// Polls for a state, bounded: the machine may be slow, but the state must come.
template <typename Condition> bool WaitFor(Condition condition, DWORD timeoutMs = 120000) {
    for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
        if (condition())
            return true;
        Sleep(50);
    }
    return condition();
}

// Wine has neither command.com nor choice; the 95/98/Me runs get stand-ins where the
// uninstaller looks for them: command.com in the Windows folder, which hands the batch to
// cmd.exe, and choice in its COMMAND folder. They are this test's own and go again
// afterwards, with the COMMAND folder if this test made it.
class CommandComStandIn : public ::testing::Environment {
  public:
    void SetUp() override {
        if (Family() != "win98")
            return;
        char windows[MAX_PATH];
        UINT n = GetWindowsDirectoryA(windows, MAX_PATH);
        ASSERT_TRUE(n && n < MAX_PATH);
        std::string command = std::string(windows) + "\\COMMAND";
        if (CreateDirectoryA(command.c_str(), nullptr))
            madeFolder_ = command;
        Place("commandcom", std::string(windows) + "\\command.com");
        Place("choicecom", command + "\\CHOICE.COM");
    }
    void TearDown() override {
        // The last batch's interpreter may still be ending.
        for (const std::string &path : placed_)
            EXPECT_TRUE(
                WaitFor([&] { return DeleteFileA(path.c_str()) || !FileExists(path); }, 30000))
                << path << " stays";
        if (!madeFolder_.empty())
            RemoveDirectoryA(madeFolder_.c_str());
    }

  private:
    // A real program is left alone; a copy of the stand-in is one that a stopped run left.
    void Place(const std::string &fixture, const std::string &path) {
        if (FileExists(path) && ReadFileText(path) != ReadFileText(Fixture(fixture)))
            return;
        ASSERT_TRUE(CopyFileA(Fixture(fixture).c_str(), path.c_str(), FALSE)) << path;
        placed_.push_back(path);
    }
    std::vector<std::string> placed_;
    std::string madeFolder_;
};
::testing::Environment *const standIn = ::testing::AddGlobalTestEnvironment(new CommandComStandIn);

class SelfRemoval : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        temp_ = ScratchFolder(name + "-temp");
        apps_ = ScratchFolder(name);
        for (const char *variable : {"TMP", "TEMP"}) {
            char value[MAX_PATH] = {};
            DWORD n = GetEnvironmentVariableA(variable, value, MAX_PATH);
            saved_.push_back(n && n < MAX_PATH ? value : "");
            SetEnvironmentVariableA(variable, temp_.c_str()); // the uninstaller inherits it
        }
    }
    void TearDown() override {
        SetEnvironmentVariableA("TMP", saved_[0].empty() ? nullptr : saved_[0].c_str());
        SetEnvironmentVariableA("TEMP", saved_[1].empty() ? nullptr : saved_[1].c_str());
    }
    // An install folder with the stamped uninstaller and one application file it removes.
    void Install(const std::string &folderName, const pack::Block &extra = pack::Block()) {
        std::string folder = apps_ + "\\" + folderName;
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << folder;
        InstallInto(folder, extra);
    }
    void InstallInto(const std::string &folder, const pack::Block &extra = pack::Block()) {
        folder_ = folder;
        std::string file = "uninstall-" + Family() + ".exe";
        if (!Family().empty()) {
            ASSERT_TRUE(SetFamilyOf(file, Family()));
        }
        exe_ = folder_ + "\\" + file;
        pack::Block block = extra;
        block.texts = kTexts;
        block.files.push_back({".", "app.txt", 0});
        ASSERT_TRUE(WriteFileText(folder_ + "\\app.txt", "application"));
        ASSERT_TRUE(WriteStampedUninstaller(pack::EncodeBlock(block), exe_));
    }
    void RunQuiet() {
        RunResult run = RunAndAnswer(exe_, "/Q", {});
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(0u, run.exitCode);
    }
    bool BatchDone(const std::vector<std::string> &keep = {}) {
        return ListFolder(temp_) == keep;
    }
    std::string temp_, apps_, folder_, exe_;
    std::vector<std::string> saved_;
};

// Whether this is Wine, whose cmd.exe expands variables again inside the value of one it has
// just substituted ("%VANISH_EXE%" holding "%PATH%" becomes the search path); the cmd.exe of
// Windows substitutes once.
bool WineCommandInterpreter() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// Spaces, "&", "%", "^" and parentheses: on NT the paths reach cmd.exe through its
// environment, never through the command text. The 95/98/Me batch writes short names unquoted, as
// command.com reads them; the stand-in hands them to cmd.exe, which would misread "&", "^" and
// parentheses that command.com takes literally, so those rows run on NT only. A folder named
// like a defined variable between two "%" cannot be shown on NT under Wine (see above).
TEST_F(SelfRemoval, RemovesTheUninstallerItsFolderAndTheBatch) {
    static const struct {
        const char *folder;
        bool ntOnly;
        bool namesAVariable;
    } cases[] = {
        {"Vanish App", false},
        {"100% sure", false},
        {"%PATH%", false, true},
        {"Tom & Jerry", true},
        {"x^y", true},
        {"Tools (x86)", true},
        {"A&B (100%) ^C %TMP% !x!", true, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.folder);
        if (c.ntOnly && Family() == "win98")
            continue;
        if (c.namesAVariable && Family() != "win98" && WineCommandInterpreter())
            continue;
        Install(c.folder);
        RunQuiet();
        EXPECT_TRUE(WaitFor([&] { return !FileExists(folder_); })) << "the folder stays";
        EXPECT_FALSE(FileExists(exe_));
        EXPECT_TRUE(WaitFor([&] { return BatchDone(); })) << "the batch stays";
        EXPECT_EQ(std::vector<std::string>{}, ListFolder(apps_)) << "nothing else was removed";
    }
}

TEST_F(SelfRemoval, FolderWithAUsersFileStays) {
    Install("Vanish App");
    ASSERT_TRUE(WriteFileText(folder_ + "\\notes.txt", "the user's"));
    RunQuiet();
    EXPECT_TRUE(WaitFor([&] { return !FileExists(exe_) && BatchDone(); }));
    EXPECT_EQ(std::vector<std::string>{"notes.txt"}, ListFolder(folder_));
    EXPECT_EQ("the user's", ReadFileText(folder_ + "\\notes.txt"));
}

TEST_F(SelfRemoval, ReadOnlyUninstallerGoesToo) {
    Install("Vanish App");
    ASSERT_TRUE(SetFileAttributesA(exe_.c_str(), FILE_ATTRIBUTE_READONLY));
    RunQuiet();
    EXPECT_TRUE(WaitFor([&] { return !FileExists(folder_) && BatchDone(); }));
}

// The batch is a new file under a random name: no name someone made ahead, a file or a
// link, is ever opened, and while the batch is written nobody else can open it.
TEST_F(SelfRemoval, BatchIsANewFileUnderAnUnguessableName) {
    std::set<std::string> names;
    for (int i = 0; i < 3; i++) {
        char name[PATH_SIZE];
        HANDLE file = CreateTempBatchFile(name);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        std::string path = name;
        HANDLE other = CreateFileA(name, GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(INVALID_HANDLE_VALUE, other) << "the batch could be opened while written";
        if (other != INVALID_HANDLE_VALUE)
            CloseHandle(other);
        CloseHandle(file);
        ASSERT_EQ(temp_ + "\\", path.substr(0, temp_.size() + 1));
        std::string base = path.substr(temp_.size() + 1);
        ASSERT_EQ(12u, base.size()) << base;
        EXPECT_EQ(std::string::npos, base.substr(0, 8).find_first_not_of("0123456789ABCDEF"))
            << base;
        EXPECT_EQ(".bat", base.substr(8));
        EXPECT_EQ("", ReadFileText(path)) << "not a new file";
        names.insert(base);
    }
    EXPECT_EQ(3u, names.size()) << "a name came twice";
}

// The batch file's own name is not shortened. On NT it is quoted; command.com would split
// it at a space, so on 95/98/Me such a name schedules nothing rather than run "C:\My".
TEST_F(SelfRemoval, TemporaryFolderWithASpace) {
    temp_ = ScratchFolder("Temporary Files (x86) & more");
    SetEnvironmentVariableA("TMP", temp_.c_str());
    SetEnvironmentVariableA("TEMP", temp_.c_str());
    Install("Vanish App");
    RunQuiet();
    if (Family() == "win98") {
        EXPECT_TRUE(BatchDone());
        EXPECT_TRUE(FileExists(exe_));
        return;
    }
    EXPECT_TRUE(WaitFor([&] { return !FileExists(folder_) && BatchDone(); }));
}

// A temporary folder that takes no file: 95/98/Me then schedule nothing and the uninstaller
// stays; the NT family needs no file.
TEST_F(SelfRemoval, TemporaryFolderThatTakesNoFile) {
    std::string missing = temp_ + "\\missing";
    SetEnvironmentVariableA("TMP", missing.c_str());
    SetEnvironmentVariableA("TEMP", missing.c_str());
    char name[PATH_SIZE];
    FillBytes(name, '#', sizeof name);
    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateTempBatchFile(name));
    EXPECT_EQ("", std::string(name));

    Install("Vanish App");
    RunQuiet();
    if (Family() == "win98") {
        EXPECT_TRUE(FileExists(exe_));
        EXPECT_FALSE(FileExists(missing));
        return;
    }
    EXPECT_TRUE(WaitFor([&] { return !FileExists(folder_); })) << "the folder stays";
}

// The interpreter reads the batch in the OEM code page: every path in it, the batch's own
// name included, is converted, so letters beyond ASCII name the same files.
TEST_F(SelfRemoval, NamesBeyondAsciiAreWrittenForTheInterpreter) {
    temp_ = ScratchFolder("Temp-\xe9t\xe9");
    SetEnvironmentVariableA("TMP", temp_.c_str());
    SetEnvironmentVariableA("TEMP", temp_.c_str());
    Install("Caf\xe9 Cr\xe8me");
    RunQuiet();
    EXPECT_TRUE(WaitFor([&] { return !FileExists(folder_); })) << "the folder stays";
    EXPECT_TRUE(WaitFor([&] { return BatchDone(); })) << "the batch stays";
}

// The command interpreters running now, by process id; on 95/98/Me the stand-in hands
// the batch to one.
std::set<DWORD> Interpreters() {
    std::set<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return ids;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        if (lstrcmpiA(entry.szExeFile, "cmd.exe") == 0)
            ids.insert(entry.th32ProcessID);
    CloseHandle(snapshot);
    return ids;
}

// How many interpreters run now that did not before.
size_t NewInterpreters(const std::set<DWORD> &before) {
    size_t count = 0;
    for (DWORD id : Interpreters())
        count += before.count(id) == 0;
    return count;
}

// Nothing is left to a name another account could change once the uninstaller has ended.
// With an administrator's rights (Wine's every program's) the uninstaller is moved before it
// ends into a folder of the run's own that only administrators write, and its install folder
// is removed at once: a link put in the install folder's place once the uninstaller has ended
// leads cmd.exe nowhere. An uninstaller that cannot be moved (held without delete sharing) is
// left to its name only where no account but an administrator's could swap its folder; here
// everyone may, so no interpreter starts. Elevated or not, a FOR variable in the folder's
// name ("%i") never turns into the loop's count.
TEST_F(SelfRemoval, NothingIsLeftToANameOthersCouldChange) {
    if (Family() == "win98")
        GTEST_SKIP() << "95/98/Me have no accounts to keep apart";
    const std::string file = "uninstall-" + Family() + ".exe";
    const std::string journal = "uninstall-" + Family() + ".released";
    const std::string victim = apps_ + "\\victim";
    ASSERT_TRUE(CreateDirectoryA(victim.c_str(), nullptr));
    for (const std::string &name : {file, journal})
        ASSERT_TRUE(WriteFileText(victim + "\\" + name, "the victim's own"));
    for (int held = 0; held < 2; held++) {
        SCOPED_TRACE(held ? "held, in a folder everyone may change" : "moved");
        Install(held ? "Held" : "Moved");
        HANDLE holder = INVALID_HANDLE_VALUE;
        if (held) {
            PSECURITY_DESCRIPTOR open = nullptr;
            ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
                "D:(A;OICI;FA;;;WD)", SDDL_REVISION_1, &open, nullptr));
            ASSERT_TRUE(SetFileSecurityA(folder_.c_str(), DACL_SECURITY_INFORMATION, open));
            LocalFree(open);
            holder = CreateFileA(exe_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(INVALID_HANDLE_VALUE, holder);
        }
        std::set<DWORD> before = Interpreters();
        RunQuiet();
        EXPECT_EQ(held != 0, FileExists(folder_)) << "removed before the uninstaller ended";
        // The swap, the moment the uninstaller has ended.
        std::string away = folder_ + ".away";
        if (FileExists(folder_)) {
            ASSERT_TRUE(MoveFileA(folder_.c_str(), away.c_str()));
        }
        {
            UnixLink link(folder_, victim);
            ASSERT_TRUE(link.made());
            if (holder != INVALID_HANDLE_VALUE)
                CloseHandle(holder);
            EXPECT_TRUE(WaitFor([&] { return NewInterpreters(before) == 0; }, 180000))
                << "cmd.exe never ended";
        }
        EXPECT_EQ((std::vector<std::string>{file, journal}), ListFolder(victim))
            << "the victim's files were deleted through the link";
        EXPECT_EQ(held != 0, FileExists(away + "\\" + file));
    }
    // "%i" in the install folder, beside a folder named as the loop would spell it.
    const std::string named = apps_ + "\\Acme1";
    ASSERT_TRUE(CreateDirectoryA(named.c_str(), nullptr));
    ASSERT_TRUE(WriteFileText(named + "\\" + file, "another application's"));
    for (int ordinary = 0; ordinary < 2; ordinary++) {
        SCOPED_TRACE(ordinary ? "as an ordinary user" : "elevated");
        std::unique_ptr<AsOrdinaryUser> user;
        if (ordinary) {
            user.reset(new AsOrdinaryUser);
            if (!user->active())
                GTEST_SKIP() << "this process's token has no limited token linked";
        }
        std::set<DWORD> before = Interpreters();
        Install("Acme%i");
        RunQuiet();
        EXPECT_TRUE(WaitFor([&] { return !FileExists(folder_); })) << "the folder stays";
        EXPECT_TRUE(WaitFor([&] { return NewInterpreters(before) == 0; })) << "cmd.exe runs on";
        EXPECT_TRUE(FileExists(named + "\\" + file)) << "Acme1's file was deleted";
    }
}

// Sets an environment variable of this process, which the uninstaller inherits, and puts
// the old value back.
class ScopedVariable {
  public:
    ScopedVariable(const char *name, const std::string &value) : name_(name) {
        char old[4096];
        DWORD n = GetEnvironmentVariableA(name, old, sizeof old);
        had_ = n > 0 && n < sizeof old;
        old_ = had_ ? old : "";
        SetEnvironmentVariableA(name, value.c_str());
    }
    ~ScopedVariable() {
        SetEnvironmentVariableA(name_, had_ ? old_.c_str() : nullptr);
    }

  private:
    const char *name_;
    bool had_;
    std::string old_;
};

// The NT family's wait, the System folder's ping.exe, swapped for the stand-in for as long as
// this lives. Without VANISH_COUNT_WAITS the stand-in waits as ping does, so a self-removal
// of another test program meanwhile runs as it would. A swap a stopped run left is undone
// first. Wine runs its own ping for a file of that name in the System folder unless its
// registry tells it to load the file, for as long as the swap lasts.
class StandInPing {
  public:
    StandInPing() {
        char system[MAX_PATH];
        UINT n = GetSystemDirectoryA(system, MAX_PATH);
        if (!n || n >= MAX_PATH)
            return;
        ping_ = std::string(system) + "\\ping.exe";
        saved_ = ping_ + ".vanish-saved";
        if (FileExists(saved_) &&
            !MoveFileExA(saved_.c_str(), ping_.c_str(), MOVEFILE_REPLACE_EXISTING))
            return;
        // Copied beside it first, so that ping.exe is missing for no more than a moment.
        std::string next = ping_ + ".vanish-next";
        if (!CopyFileA(Fixture("pingexe").c_str(), next.c_str(), FALSE))
            return;
        if (!MoveFileA(ping_.c_str(), saved_.c_str())) {
            DeleteFileA(next.c_str());
            return;
        }
        placed_ = MoveFileA(next.c_str(), ping_.c_str()) != 0;
        if (placed_ && WineCommandInterpreter()) {
            override_ = ReadValue(HKEY_CURRENT_USER, kOverrides, "ping.exe");
            placed_ = WriteValue(HKEY_CURRENT_USER, kOverrides, "ping.exe", TextValue("native"));
        }
    }
    ~StandInPing() {
        if (WineCommandInterpreter()) {
            if (override_.present)
                WriteValue(HKEY_CURRENT_USER, kOverrides, "ping.exe", override_);
            else
                DeleteValue(HKEY_CURRENT_USER, kOverrides, "ping.exe");
        }
        if (saved_.empty() || !FileExists(saved_))
            return;
        EXPECT_TRUE(WaitFor(
            [&] {
                return MoveFileExA(saved_.c_str(), ping_.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
            },
            30000))
            << "ping.exe not put back";
    }
    bool placed() const {
        return placed_;
    }
    StandInPing(const StandInPing &) = delete;
    StandInPing &operator=(const StandInPing &) = delete;

  private:
    static constexpr const char *kOverrides = "Software\\Wine\\DllOverrides";
    std::string ping_, saved_;
    bool placed_ = false;
    Value override_ = NoValue();
};

// An uninstaller that cannot be deleted does not keep the interpreter alive: it gives up
// after 60 tries, each followed by a wait of about a second; the uninstaller and its folder
// stay, and the 95/98/Me batch deletes itself. The waits are counted, not sat through: the
// stand-ins for choice and ping record their arguments and return at once.
TEST_F(SelfRemoval, UndeletableUninstallerEndsTheCommand) {
    std::unique_ptr<StandInPing> ping;
    if (Family() != "win98") {
        ping.reset(new StandInPing);
        ASSERT_TRUE(ping->placed()) << "the stand-in for ping.exe could not be placed";
    }
    std::string waits = ScratchFolder("waits") + "\\waits.txt";
    ScopedVariable counted("VANISH_COUNT_WAITS", waits);
    Install("Held");
    // Held open without delete sharing: every attempt to delete it fails.
    HANDLE held = CreateFileA(exe_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    std::set<DWORD> before = Interpreters();
    RunQuiet();
    if (Family() != "win98") {
        EXPECT_TRUE(BatchDone()) << "no batch file on the NT family";
    }
    ASSERT_TRUE(WaitFor([&] { return NewInterpreters(before) > 0; }, 30000))
        << "the interpreter runs once the uninstaller ends";
    EXPECT_TRUE(WaitFor([&] { return NewInterpreters(before) == 0; }, 300000))
        << "the command never gave up";
    // Each try but the last waits about a second: "-n 2" is one second between ping's two
    // echoes, "/T:y,1" one second before choice takes its default.
    std::string wait = Family() == "win98" ? "/C:y /T:y,1" : "-n 2 127.0.0.1";
    std::string expected;
    for (int i = 0; i < 60; i++)
        expected += wait + "\r\n";
    EXPECT_EQ(expected, ReadFileText(waits));
    EXPECT_TRUE(FileExists(exe_));
    CloseHandle(held);
    EXPECT_TRUE(WaitFor([&] { return BatchDone(); }, 30000)) << "the batch stays";
    EXPECT_EQ((std::vector<std::string>{"uninstall-" + Family() + ".exe"}), ListFolder(folder_));
}

// An uninstaller in a protected folder that is empty once it is gone, the user's
// Favorites, deletes itself and leaves the folder.
TEST_F(SelfRemoval, ProtectedFolderStays) {
    char path[MAX_PATH] = "";
    ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, path, CSIDL_FAVORITES, FALSE));
    std::string favorites = path;
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        GTEST_SKIP() << favorites << " is not a real folder of the test prefix";
    if (!ListFolder(favorites).empty())
        GTEST_SKIP() << favorites << " is not empty: a removal could not show";
    std::set<DWORD> before = Interpreters();
    InstallInto(favorites);
    RunQuiet();
    // The folder's removal would come right after the file's, before the interpreter ends.
    EXPECT_TRUE(WaitFor([&] {
        return !FileExists(exe_) && BatchDone() && NewInterpreters(before) == 0;
    })) << "the self-removal did not end";
    bool stays = FileExists(favorites);
    if (!stays)
        CreateDirectoryA(favorites.c_str(), nullptr); // the prefix keeps its folder
    EXPECT_TRUE(stays) << "the protected folder was removed";
    EXPECT_EQ(std::vector<std::string>{}, ListFolder(favorites));
}

// The interpreter is named by full path, never looked up: a COMSPEC in the environment or in
// the user's registry, and a command.com or cmd.exe in the install folder (where a bare
// name is looked for first) or on PATH, never run.
TEST_F(SelfRemoval, InterpreterIsNeverLookedUp) {
    std::string planted = ScratchFolder("planted");
    std::string decoy = Fixture("samplecleanup");
    std::string mark = temp_ + "\\vanish-sample-cleanup.txt"; // what a decoy leaves
    for (const char *name : {"command.com", "cmd.exe", "shell.exe"})
        ASSERT_TRUE(CopyFileA(decoy.c_str(), (planted + "\\" + name).c_str(), FALSE));
    std::string comspec = planted + "\\shell.exe";
    Value userComspec = ReadValue(HKEY_CURRENT_USER, "Environment", "COMSPEC");
    ASSERT_TRUE(WriteValue(HKEY_CURRENT_USER, "Environment", "COMSPEC", TextValue(comspec)));
    char path[8192] = "";
    GetEnvironmentVariableA("PATH", path, sizeof path);
    bool removed = false;
    {
        ScopedVariable variable("COMSPEC", comspec);
        ScopedVariable searched("PATH", planted + ";" + path);
        Install("Vanish App");
        for (const char *name : {"command.com", "cmd.exe"})
            ASSERT_TRUE(CopyFileA(decoy.c_str(), (folder_ + "\\" + name).c_str(), FALSE));
        RunQuiet();
        removed = WaitFor([&] {
            if (FileExists(exe_))
                return false;
            for (const std::string &name : ListFolder(temp_))
                if (name.size() > 4 && name.compare(name.size() - 4, 4, ".bat") == 0)
                    return false;
            return true;
        });
    }
    if (userComspec.present)
        WriteValue(HKEY_CURRENT_USER, "Environment", "COMSPEC", userComspec);
    else
        DeleteValue(HKEY_CURRENT_USER, "Environment", "COMSPEC");
    EXPECT_FALSE(FileExists(mark)) << "a planted interpreter ran";
    EXPECT_TRUE(removed) << "the uninstaller was not removed";
    EXPECT_EQ((std::vector<std::string>{"cmd.exe", "command.com"}), ListFolder(folder_))
        << "the planted files stay, the application's file and the uninstaller go";
}

// Nothing that runs can be changed from the temporary folder: a watcher rewrites every file
// it can open there, from before the uninstaller starts until its removal has ended. The NT
// family writes no file at all.
TEST_F(SelfRemoval, WatcherInTheTemporaryFolderChangesNothing) {
    if (Family() == "win98")
        GTEST_SKIP()
            << "95/98/Me let every program write every file, the uninstaller's own "
               "among them: their batch is made new under a name nobody can guess and "
               "cannot be opened while it is written (BatchIsANewFileUnderAnUnguessableName), "
               "but once closed it can be rewritten";
    std::string decoy = Fixture("samplecleanup");
    std::string mark = temp_ + "\\vanish-sample-cleanup.txt";
    std::string payload = "@\"" + decoy + "\"\r\n";
    std::atomic<bool> stop{false};
    std::atomic<int> found{0};
    std::thread watcher([&] {
        while (!stop) {
            for (const std::string &name : ListFolder(temp_)) {
                std::string path = temp_ + "\\" + name;
                HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, 0, nullptr);
                if (file == INVALID_HANDLE_VALUE)
                    continue;
                DWORD written = 0;
                WriteFile(file, payload.data(), (DWORD)payload.size(), &written, nullptr);
                CloseHandle(file);
                found++;
            }
            Sleep(1); // a look every millisecond leaves the emulated machine room to run
        }
    });
    std::set<DWORD> before = Interpreters();
    Install("Vanish App");
    RunQuiet();
    bool ended = WaitFor([&] { return !FileExists(folder_) && NewInterpreters(before) == 0; });
    stop = true;
    watcher.join();
    EXPECT_TRUE(ended) << "the self-removal did not end";
    EXPECT_EQ(0, found.load()) << "a file in the temporary folder";
    EXPECT_FALSE(FileExists(mark)) << "the watcher's command ran";
}

// Only a confirmed run removes the uninstaller: Cancel at the confirmation and bare mode
// leave it, with no batch.
TEST_F(SelfRemoval, CancelAndBareModeScheduleNothing) {
    static const struct {
        const char *name, *arguments;
        std::vector<Action> script;
    } cases[] = {
        {"cancel", "", {Action::Press(IDCANCEL)}},
        {"bare", "/X", {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Install(c.name);
        RunResult run = RunAndAnswer(exe_, c.arguments, c.script);
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(0u, run.exitCode);
        // A scheduled batch is written before the uninstaller exits and deletes its file only
        // afterwards: one of the two would show now.
        EXPECT_TRUE(BatchDone());
        EXPECT_TRUE(FileExists(exe_));
    }
}

// The process that owns the desktop window, and its file name: under Wine explorer.exe
// /desktop, which draws the desktop and serves the shell's list of windows, stands in for
// the desktop shell.
DWORD DesktopShellProcess(std::string *name) {
    DWORD shell = 0;
    GetWindowThreadProcessId(GetDesktopWindow(), &shell);
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        if (entry.th32ProcessID == shell)
            *name = entry.szExeFile;
    CloseHandle(snapshot);
    return shell;
}

// A document type whose open command is the recorder, which writes the id of the process
// that started it and its command line.
class ClosingDocument : public SelfRemoval {
  protected:
    void SetUp() override {
        SelfRemoval::SetUp();
        recorder_ = apps_ + "\\recorder.exe";
        record_ = apps_ + "\\record.txt";
        document_ = apps_ + "\\farewell" + kExtension;
        ASSERT_TRUE(CopyFileA(Fixture("recorder").c_str(), recorder_.c_str(), FALSE));
        ASSERT_TRUE(WriteFileText(document_, "farewell"));
        ASSERT_TRUE(WriteValue(HKEY_CLASSES_ROOT, kExtension, "", TextValue(kType)));
        ASSERT_TRUE(
            WriteValue(HKEY_CLASSES_ROOT, std::string(kType) + "\\shell\\open\\command", "",
                       TextValue("\"" + recorder_ + "\" /parent \"" + record_ + "\" \"%1\"")));
    }
    void TearDown() override {
        RemoveKeyTree(HKEY_CLASSES_ROOT, kExtension);
        RemoveKeyTree(HKEY_CLASSES_ROOT, kType);
        SelfRemoval::TearDown();
    }
    std::string LogPath() const {
        return temp_ + "\\uninstall-" + Family() + ".log";
    }
    static constexpr const char *kExtension = ".vanishtestpage";
    static constexpr const char *kType = "VanishTests.Page";
    std::string recorder_, record_, document_;
};

// The main sequence runs the application's program first and opens the document last,
// except in bare mode. A run with the user's own rights opens the document itself; an
// elevated run (NT family) hands it to the desktop shell, which opens it as the signed-in
// user. Wine gives every program an elevated token unless it is started with the limited
// one linked to it. 95/98/Me have no such rights to keep apart and open it themselves.
TEST_F(ClosingDocument, ProgramAndDocumentRunUnlessBareAndElevatedRunsUseTheDesktopShell) {
    pack::Block block;
    block.optionFlags = pack::OPTION_WAIT;
    block.program = "cleanup.exe";
    block.document = document_;
    std::string mark = temp_ + "\\vanish-sample-cleanup.txt";
    bool nt = Family() != "win98";
    std::string shellName;
    DWORD shell = DesktopShellProcess(&shellName);
    ASSERT_NE(0u, shell) << "no process owns the desktop window";
    static const struct {
        const char *name, *arguments;
        bool ordinary, opened, throughDesktopShell;
    } cases[] = {
        {"bare", "/X /L", true, false, false},
        {"ordinary", "/Q /L", true, true, false},
        {"elevated", "/Q /L", false, true, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        DeleteFileA(mark.c_str());
        DeleteFileA(record_.c_str());
        DeleteFileA(LogPath().c_str());
        Install(c.name, block);
        ASSERT_TRUE(CopyFileA(Fixture("samplecleanup").c_str(), (folder_ + "\\cleanup.exe").c_str(),
                              FALSE));
        RunResult run;
        {
            std::unique_ptr<AsOrdinaryUser> user;
            if (c.ordinary)
                user.reset(new AsOrdinaryUser);
            else if (nt && !AsOrdinaryUser().active())
                GTEST_SKIP() << "this process's token is not an elevated one with a limited "
                                "token linked to it";
            run = RunAndAnswer(exe_, c.arguments, {});
        }
        ASSERT_TRUE(run.finished);
        bool bare = std::string(c.arguments).find("/X") != std::string::npos;
        // Waited for: the mark is there as soon as the uninstaller has ended.
        EXPECT_EQ(!bare, FileExists(mark)) << "the program";
        if (!bare) {
            EXPECT_EQ(folder_, ReadFileText(mark)) << "the program runs in the install folder";
        }
        std::string log = ReadFileText(LogPath());
        if (!c.opened) {
            EXPECT_FALSE(FileExists(record_)) << "bare mode opens no document";
            EXPECT_EQ(std::string::npos, log.find(": " + document_)) << log;
            continue;
        }
        ASSERT_TRUE(WaitFor([&] { return FileExists(record_); })) << "the document was not opened";
        std::string record = ReadFileText(record_);
        EXPECT_NE(std::string::npos, record.find(document_)) << record;
        DWORD parent = std::strtoul(record.c_str(), nullptr, 10);
        if (c.throughDesktopShell && nt) {
            EXPECT_EQ(shell, parent)
                << "opened by a process other than the desktop shell (" << shellName << ")";
            EXPECT_EQ(0, lstrcmpiA(shellName.c_str(), "explorer.exe")) << shellName;
            EXPECT_NE(std::string::npos,
                      log.find("document handed to the desktop shell: " + document_ + "\r\n"))
                << log;
        } else {
            EXPECT_NE(shell, parent) << "the uninstaller opens it itself";
            EXPECT_NE(std::string::npos,
                      log.find("document handed to the shell: " + document_ + "\r\n"))
                << log;
        }
    }
}

// Where no desktop shell serves the run (a service's window station, which nobody sees), an
// elevated run opens nothing and its log says why. The run gets a window station and
// desktop of its own, where no shell runs.
TEST_F(ClosingDocument, AnElevatedRunWithoutADesktopShellOpensNothing) {
    if (Family() == "win98")
        GTEST_SKIP() << "95/98/Me have neither window stations nor rights to keep apart: they "
                        "open the document themselves (the test above)";
    if (!AsOrdinaryUser().active())
        GTEST_SKIP() << "this process's token is not an elevated one with a limited token "
                        "linked to it";
    pack::Block block;
    block.document = document_;
    Install("unseen", block);
    HWINSTA own = GetProcessWindowStation();
    HWINSTA unseen = CreateWindowStationA("vanish-unseen", 0, WINSTA_ALL_ACCESS, nullptr);
    ASSERT_NE(nullptr, unseen) << GetLastError();
    ASSERT_TRUE(SetProcessWindowStation(unseen));
    HDESK desktop = CreateDesktopA("Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    ASSERT_TRUE(SetProcessWindowStation(own));
    ASSERT_NE(nullptr, desktop) << GetLastError();
    USEROBJECTFLAGS flags = {};
    DWORD size = 0;
    ASSERT_TRUE(GetUserObjectInformationA(unseen, UOI_FLAGS, &flags, sizeof flags, &size));
    ASSERT_FALSE(flags.dwFlags & WSF_VISIBLE) << "a new window station is one nobody sees";

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.lpDesktop = const_cast<char *>("vanish-unseen\\Default");
    PROCESS_INFORMATION process = {};
    std::string line = "\"" + exe_ + "\" /Q /L";
    ASSERT_TRUE(CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 120000));
    DWORD code = 99;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseDesktop(desktop);
    CloseWindowStation(unseen);
    EXPECT_EQ(0u, code);
    EXPECT_FALSE(FileExists(folder_ + "\\app.txt")) << "the removal ran";
    std::string log = ReadFileText(LogPath());
    EXPECT_NE(std::string::npos,
              log.find("document not opened, no desktop shell: " + document_ + "\r\n"))
        << log;
    EXPECT_FALSE(FileExists(record_)) << "the document was opened";
}

} // namespace
