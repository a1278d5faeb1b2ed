// Self-removal through the real uninstaller: after it has exited, cmd.exe's command line (NT
// family) or the batch it left (95/98/Me) deletes its file, then its folder when empty. Each
// test gives the uninstaller a temporary folder of its own, so that a batch can be found and
// nothing else shares it; on the NT family it stays empty.
#include <gtest/gtest.h>

#include <windows.h>

#include <tlhelp32.h>

#include "driver/driver.h"
#include "support.h"

#include <algorithm>
#include <string>
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

// Wine has no command.com; the 95/98/Me runs get a stand-in in the Windows folder that
// hands the batch to cmd.exe. It is this test's own and goes again afterwards.
class CommandComStandIn : public ::testing::Environment {
  public:
    void SetUp() override {
        if (Family() != "win98")
            return;
        char windows[MAX_PATH];
        UINT n = GetWindowsDirectoryA(windows, MAX_PATH);
        ASSERT_TRUE(n && n < MAX_PATH);
        path_ = std::string(windows) + "\\command.com";
        // A real one is left alone; a copy of the stand-in is one that a stopped run left.
        if (FileExists(path_) && ReadFileText(path_) != ReadFileText(Fixture("commandcom"))) {
            path_.clear();
            return;
        }
        ASSERT_TRUE(CopyFileA(Fixture("commandcom").c_str(), path_.c_str(), FALSE));
    }
    void TearDown() override {
        // The last batch's interpreter may still be ending.
        if (path_.empty())
            return;
        EXPECT_TRUE(
            WaitFor([&] { return DeleteFileA(path_.c_str()) || !FileExists(path_); }, 30000))
            << "the stand-in stays in the Windows folder";
    }

  private:
    std::string path_;
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
        folder_ = apps_ + "\\" + folderName;
        ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr)) << folder_;
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

// A batch name that is taken, even by a file nobody may open, is skipped: the next one is
// used and the existing file stays as it was.
TEST_F(SelfRemoval, TakenBatchNameIsSkipped) {
    for (bool locked : {false, true}) {
        SCOPED_TRACE(locked ? "locked" : "readable");
        std::string taken = temp_ + "\\delme1.bat";
        ASSERT_TRUE(WriteFileText(taken, "rem someone else's"));
        HANDLE lock = INVALID_HANDLE_VALUE;
        if (locked) {
            lock = CreateFileA(taken.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(INVALID_HANDLE_VALUE, lock);
        }
        Install(locked ? "locked" : "readable");
        RunQuiet();
        EXPECT_TRUE(WaitFor([&] { return !FileExists(folder_) && BatchDone({"delme1.bat"}); }));
        if (lock != INVALID_HANDLE_VALUE)
            CloseHandle(lock);
        EXPECT_EQ("rem someone else's", ReadFileText(taken));
        DeleteFileA(taken.c_str());
    }
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

// Numbers 1 to 998 are tried; with all of them taken nothing is scheduled.
TEST_F(SelfRemoval, NoFreeBatchNameSchedulesNothing) {
    for (int number = 2; number <= 998; number++)
        ASSERT_TRUE(WriteFileText(temp_ + "\\delme" + std::to_string(number) + ".bat", "rem"));
    char name[PATH_SIZE];
    HANDLE file = CreateTempBatchFile(name, "delme%d.bat");
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);
    EXPECT_EQ(temp_ + "\\delme1.bat", std::string(name));

    FillBytes(name, '#', sizeof name);
    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateTempBatchFile(name, "delme%d.bat"));
    EXPECT_EQ("", std::string(name));
    EXPECT_FALSE(FileExists(temp_ + "\\delme999.bat")) << "999 is never tried";

    Install("Vanish App");
    RunQuiet();
    if (Family() != "win98") {
        // The NT family needs no batch file: its command line removes the uninstaller.
        EXPECT_TRUE(WaitFor([&] { return !FileExists(folder_); })) << "the folder stays";
        return;
    }
    EXPECT_TRUE(FileExists(exe_));
    EXPECT_EQ(998u, ListFolder(temp_).size());
    ASSERT_TRUE(DeleteFileA((temp_ + "\\delme998.bat").c_str()));
    HANDLE last = CreateTempBatchFile(name, "delme%d.bat");
    ASSERT_NE(INVALID_HANDLE_VALUE, last);
    CloseHandle(last);
    EXPECT_EQ(temp_ + "\\delme998.bat", std::string(name));
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

// The command interpreters running now.
size_t CountInterpreters() {
    size_t count = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        count += lstrcmpiA(entry.szExeFile, "cmd.exe") == 0;
    CloseHandle(snapshot);
    return count;
}

// An uninstaller that cannot be deleted does not keep the NT command alive: it gives up
// after about a minute; the uninstaller and its folder stay.
TEST_F(SelfRemoval, UndeletableUninstallerEndsTheCommand) {
    if (Family() == "win98")
        GTEST_SKIP() << "the 95/98/Me batch keeps trying until the file goes, as designed";
    Install("Held");
    // Held open without delete sharing: every attempt to delete it fails.
    HANDLE held = CreateFileA(exe_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    size_t before = CountInterpreters();
    RunQuiet();
    EXPECT_TRUE(BatchDone()) << "no batch file on the NT family";
    ASSERT_EQ(before + 1, CountInterpreters()) << "the interpreter runs once the uninstaller ends";
    DWORD start = GetTickCount();
    EXPECT_TRUE(WaitFor([&] { return CountInterpreters() == before; }, 300000))
        << "the command never gave up";
    DWORD seconds = (GetTickCount() - start) / 1000;
    EXPECT_GE(seconds, 30u) << "the batch waits between attempts rather than spinning";
    EXPECT_TRUE(FileExists(exe_));
    CloseHandle(held);
    EXPECT_EQ((std::vector<std::string>{"uninstall-" + Family() + ".exe"}), ListFolder(folder_));
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

// The main sequence runs the application's program first and opens the document last,
// except in bare mode.
TEST_F(SelfRemoval, ProgramAndDocumentRunUnlessBare) {
    static const char extension[] = ".vanishtestpage";
    static const char type[] = "VanishTests.Page";
    std::string recorder = apps_ + "\\recorder.exe";
    std::string record = apps_ + "\\record.txt";
    std::string document = apps_ + "\\farewell" + extension;
    ASSERT_TRUE(CopyFileA(Fixture("recorder").c_str(), recorder.c_str(), FALSE));
    ASSERT_TRUE(WriteFileText(document, "farewell"));
    ASSERT_TRUE(WriteValue(HKEY_CLASSES_ROOT, extension, "", TextValue(type)));
    ASSERT_TRUE(WriteValue(HKEY_CLASSES_ROOT, std::string(type) + "\\shell\\open\\command", "",
                           TextValue("\"" + recorder + "\" \"" + record + "\" \"%1\"")));
    pack::Block block;
    block.optionFlags = pack::OPTION_WAIT;
    block.program = "cleanup.exe";
    block.document = document;
    std::string mark = temp_ + "\\vanish-sample-cleanup.txt";
    for (const char *arguments : {"/X", "/Q"}) {
        SCOPED_TRACE(arguments);
        bool bare = arguments[1] == 'X';
        Install(bare ? "bare" : "quiet", block);
        ASSERT_TRUE(CopyFileA(Fixture("samplecleanup").c_str(), (folder_ + "\\cleanup.exe").c_str(),
                              FALSE));
        RunResult run = RunAndAnswer(exe_, arguments, {});
        ASSERT_TRUE(run.finished);
        if (bare) {
            EXPECT_FALSE(FileExists(mark)) << "bare mode runs no program";
            EXPECT_FALSE(FileExists(record)) << "bare mode opens no document";
            continue;
        }
        // Waited for: the mark is there as soon as the uninstaller has ended.
        EXPECT_TRUE(FileExists(mark));
        EXPECT_EQ(folder_, ReadFileText(mark)) << "the program runs in the install folder";
        EXPECT_TRUE(WaitFor([&] { return FileExists(record); })) << "the document was not opened";
        EXPECT_NE(std::string::npos, ReadFileText(record).find(document));
    }
    RemoveKeyTree(HKEY_CLASSES_ROOT, extension);
    RemoveKeyTree(HKEY_CLASSES_ROOT, type);
}

} // namespace
