// Program launch and document opening: real processes started by the program's own
// functions, each leaving a mark that is read back.
#include <gtest/gtest.h>

#include "driver/driver.h"
#include "removal_support.h"
#include "support.h"

#include <string>
#include <vector>

using namespace testing_support;

namespace {

std::string Fixture(const std::string &name) {
    return BuildFolder() + "\\tests\\fixtures\\" + name + ".exe";
}

// Polls for a file, bounded: the machine may be slow, but the file must come.
bool WaitForFile(const std::string &path, DWORD timeoutMs = 60000) {
    for (DWORD waited = 0; waited < timeoutMs; waited += 20) {
        if (FileExists(path))
            return true;
        Sleep(20);
    }
    return FileExists(path);
}

std::string CurrentDirectory() {
    char folder[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, folder);
    return folder;
}

// What the helper wrote: the folder it ran in and its command line.
struct Mark {
    std::string folder, commandLine;
};
Mark ReadMark(const std::string &path) {
    std::string text = ReadFileText(path);
    size_t newline = text.find('\n');
    if (newline == std::string::npos)
        return {text, ""};
    return {text.substr(0, newline), text.substr(newline + 1)};
}

// RunProgram on a worker thread, so that a wait that never ends fails the test instead of
// hanging it.
struct Launch {
    std::string path, arguments;
    int wait;
    int result = -1;
};
DWORD WINAPI LaunchThread(void *parameter) {
    Launch *launch = static_cast<Launch *>(parameter);
    launch->result = RunProgram(launch->path.c_str(), launch->arguments.c_str(), launch->wait);
    return 0;
}
::testing::AssertionResult RunWithin(Launch *launch, DWORD timeoutMs = 60000) {
    HANDLE thread = CreateThread(nullptr, 0, LaunchThread, launch, 0, nullptr);
    if (!thread)
        return ::testing::AssertionFailure() << "no thread";
    DWORD waited = WaitForSingleObject(thread, timeoutMs);
    CloseHandle(thread);
    if (waited != WAIT_OBJECT_0)
        return ::testing::AssertionFailure() << "RunProgram did not return";
    return ::testing::AssertionSuccess();
}

class RunProgramTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (Emulated())
            GTEST_SKIP() << "under a user-mode emulator GoogleTest's watcher of a finished "
                            "thread fails and ends the program; the real uninstaller's runs "
                            "(program_unattended, e2e) start and wait for programs instead";
        folder_ = ScratchFolder(::testing::UnitTest::GetInstance()->current_test_info()->name());
        programs_ = folder_ + "\\my programs (x86)";
        ASSERT_TRUE(CreateDirectoryA(programs_.c_str(), nullptr));
        helper_ = programs_ + "\\launch helper.exe";
        ASSERT_TRUE(CopyFileA(Fixture("launchhelper").c_str(), helper_.c_str(), FALSE));
        mark_ = folder_ + "\\mark.txt";
        go_ = folder_ + "\\go.txt";
        before_ = CurrentDirectory();
    }
    void TearDown() override {
        if (IsSkipped())
            return;
        EXPECT_EQ(before_, CurrentDirectory()) << "the current directory is left unchanged";
        SetCurrentDirectoryA(before_.c_str());
    }
    std::string Arguments(int delay, int exitCode, bool go = false) {
        std::string arguments =
            "\"" + mark_ + "\" " + std::to_string(delay) + " " + std::to_string(exitCode);
        return go ? arguments + " \"" + go_ + "\"" : arguments;
    }
    std::string folder_, programs_, helper_, mark_, go_, before_;
};

// With wait set, the program has ended when RunProgram returns, whatever its exit code,
// including 259, which is also the code of a process still running.
TEST_F(RunProgramTest, WaitSetReturnsOnceTheProgramHasEnded) {
    static const DWORD exitCodes[] = {0, 3, STILL_ACTIVE};
    for (DWORD code : exitCodes) {
        SCOPED_TRACE(code);
        DeleteFileA(mark_.c_str());
        Launch launch = {helper_, Arguments(300, (int)code), 1};
        ASSERT_TRUE(RunWithin(&launch));
        EXPECT_EQ(1, launch.result);
        ASSERT_TRUE(FileExists(mark_)) << "RunProgram returned before the program ended";
        Mark mark = ReadMark(mark_);
        EXPECT_EQ(programs_, mark.folder) << "the program runs in its own folder";
        EXPECT_EQ("\"" + helper_ + "\" " + launch.arguments, mark.commandLine);
    }
}

TEST_F(RunProgramTest, WaitClearReturnsWhileTheProgramRuns) {
    Launch launch = {helper_, Arguments(0, 0, true), 0};
    ASSERT_TRUE(RunWithin(&launch, 30000));
    EXPECT_EQ(1, launch.result);
    EXPECT_FALSE(FileExists(mark_)) << "the program is still waiting for its go";
    ASSERT_TRUE(WriteFileText(go_, "go"));
    EXPECT_TRUE(WaitForFile(mark_));
}

TEST_F(RunProgramTest, MissingProgramIsNotStarted) {
    Launch launch = {programs_ + "\\missing program.exe", "", 1};
    ASSERT_TRUE(RunWithin(&launch));
    EXPECT_EQ(0, launch.result);
}

TEST_F(RunProgramTest, PathWithoutBackslashStartsInTheCurrentDirectory) {
    ASSERT_TRUE(SetCurrentDirectoryA(programs_.c_str()));
    before_ = CurrentDirectory();
    Launch launch = {"launch helper.exe", Arguments(0, 0), 1};
    ASSERT_TRUE(RunWithin(&launch));
    EXPECT_EQ(1, launch.result);
    ASSERT_TRUE(FileExists(mark_));
    EXPECT_EQ(programs_, ReadMark(mark_).folder);
}

// "C:\program.exe" runs in the root folder, not in whatever directory drive C had.
TEST_F(RunProgramTest, ProgramInARootFolderRunsThere) {
    std::string root = "C:\\vanish-launch-" + ProgramName() + ".exe";
    ASSERT_TRUE(CopyFileA(helper_.c_str(), root.c_str(), FALSE));
    ASSERT_TRUE(SetCurrentDirectoryA(folder_.c_str()));
    before_ = CurrentDirectory();
    Launch launch = {root, Arguments(0, 0), 1};
    ASSERT_TRUE(RunWithin(&launch));
    DeleteFileA(root.c_str());
    EXPECT_EQ(1, launch.result);
    ASSERT_TRUE(FileExists(mark_));
    EXPECT_EQ("C:\\", ReadMark(mark_).folder);
}

TEST_F(RunProgramTest, ArgumentsTooLongAreNotCut) {
    // 1,024 bytes hold the quoted path, a space and the arguments with their terminator.
    std::string path = helper_;
    size_t room = 1024 - (path.size() + 2) - 1 - 1;
    Launch fits = {path, Arguments(0, 0), 1};
    fits.arguments += std::string(room - fits.arguments.size(), ' ');
    ASSERT_TRUE(RunWithin(&fits));
    EXPECT_EQ(1, fits.result);
    EXPECT_TRUE(FileExists(mark_));
    DeleteFileA(mark_.c_str());
    Launch tooLong = {path, fits.arguments + " ", 1};
    ASSERT_TRUE(RunWithin(&tooLong));
    EXPECT_EQ(0, tooLong.result);
    EXPECT_FALSE(FileExists(mark_));
}

// The recorder's name holds a space. A decoy sits where the system looks first for an
// unquoted "...\record er.exe ...": "...\record.exe". What it runs leaves a mark in the
// temporary folder, which is the test's own folder here. The same recorder also sits at a
// name without a space ("recorder.exe") and at one with another program extension
// ("record er.com": the system runs a program by its contents, whatever its extension).
class OpenDocumentTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = ScratchFolder(::testing::UnitTest::GetInstance()->current_test_info()->name());
        recorder_ = folder_ + "\\record er.exe";
        for (const std::string &copy :
             {recorder_, folder_ + "\\recorder.exe", folder_ + "\\record er.com"})
            ASSERT_TRUE(CopyFileA(Fixture("recorder").c_str(), copy.c_str(), FALSE));
        ASSERT_TRUE(
            CopyFileA(Fixture("samplecleanup").c_str(), (folder_ + "\\record.exe").c_str(), FALSE));
        record_ = folder_ + "\\record.txt";
        for (const char *variable : {"TMP", "TEMP"}) {
            char value[MAX_PATH] = {};
            DWORD n = GetEnvironmentVariableA(variable, value, MAX_PATH);
            savedTemp_.push_back(n && n < MAX_PATH ? value : "");
            SetEnvironmentVariableA(variable, folder_.c_str()); // the started program inherits it
        }
    }
    void TearDown() override {
        SetEnvironmentVariableA("TMP", savedTemp_[0].empty() ? nullptr : savedTemp_[0].c_str());
        SetEnvironmentVariableA("TEMP", savedTemp_[1].empty() ? nullptr : savedTemp_[1].c_str());
        EXPECT_FALSE(FileExists(folder_ + "\\vanish-sample-cleanup.txt")) << "the decoy ran";
    }
    std::vector<std::string> savedTemp_;
    std::string Recorded() {
        EXPECT_TRUE(WaitForFile(record_)) << "the open command did not run";
        // Wine may show the renamed file a moment before it can be opened.
        std::string text = ReadFileText(record_);
        for (int i = 0; i < 3000 && text.empty(); i++) {
            Sleep(20);
            text = ReadFileText(record_);
        }
        DeleteFileA(record_.c_str());
        return text;
    }
    std::string folder_, recorder_, record_;
};

// A file type of the test's own, registered under a name no system uses, opens through
// the shell with its own command.
TEST_F(OpenDocumentTest, OpensThroughTheShell) {
    static const char extension[] = ".vanishtestdoc";
    static const char type[] = "VanishTests.Document";
    std::string command = "\"" + recorder_ + "\" \"" + record_ + "\" \"%1\"";
    std::string document = folder_ + "\\farewell page" + extension;
    ASSERT_TRUE(WriteFileText(document, "farewell"));
    ASSERT_TRUE(WriteValue(HKEY_CLASSES_ROOT, extension, "", TextValue(type)));
    ASSERT_TRUE(WriteValue(HKEY_CLASSES_ROOT, std::string(type) + "\\shell\\open\\command", "",
                           TextValue(command)));
    OpenDocument(document.c_str(), ".htm");
    std::string line = Recorded();
    RemoveKeyTree(HKEY_CLASSES_ROOT, extension);
    RemoveKeyTree(HKEY_CLASSES_ROOT, type);
    size_t at = line.find(document);
    EXPECT_NE(std::string::npos, at) << line;
}

// When the shell cannot open the target, the command registered for ".htm" runs with the
// target in place of its placeholder. Classes are redirected to a test key, so the system's
// own ".htm" stays untouched.
TEST_F(OpenDocumentTest, FallsBackToTheHtmCommand) {
    std::string start = "\"" + recorder_ + "\" \"" + record_ + "\"";
    std::string plain = folder_ + "\\missing.htm";
    std::string spaced = folder_ + "\\no such page.htm";
    struct Case {
        const char *name;
        std::string command, target, expected;
    } cases[] = {
        {"quoted placeholder and switches", start + " \"%1\" /new -window", plain,
         start + "  " + plain},
        {"bare placeholder and switches", start + " %1 /new", plain, start + "  " + plain},
        {"no placeholder", start, plain, start + " " + plain},
        {"target with spaces", start + " \"%1\"", spaced, start + "  \"" + spaced + "\""},
        // An unquoted program with a blank is quoted up to the first program extension
        // that ends a word.
        {"unquoted program with a space", recorder_ + " " + record_ + " %1", plain,
         "\"" + recorder_ + "\" " + record_ + "  " + plain},
        {"unquoted program, extension in capitals, no placeholder",
         folder_ + "\\record er.EXE " + record_, plain,
         "\"" + folder_ + "\\record er.EXE\" " + record_ + " " + plain},
        {"unquoted program with a space, another program extension",
         folder_ + "\\record er.COM " + record_ + " %1", plain,
         "\"" + folder_ + "\\record er.COM\" " + record_ + "  " + plain},
        // A program part without a blank runs as it stands, with or without an extension;
        // the target is then the recorder's record.
        {"program part without a blank or an extension", folder_ + "\\recorder %1", record_,
         folder_ + "\\recorder  " + record_},
        {"program part without a blank, then a switch", folder_ + "\\recorder /new \"%1\"", record_,
         folder_ + "\\recorder /new  " + record_},
    };
    removal_tests::RootRedirect classes(HKEY_CLASSES_ROOT);
    ASSERT_TRUE(classes.active());
    ASSERT_TRUE(classes.Write(".htm", "", REG_SZ, "VanishTests.Page"));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(classes.Write("VanishTests.Page\\shell\\open\\command", "", REG_SZ, c.command));
        OpenDocument(c.target.c_str(), ".htm");
        EXPECT_EQ(c.expected, Recorded());
    }
}

// Nothing is run when the fallback cannot be read: no type, no command, or a command too
// long for its buffer.
TEST_F(OpenDocumentTest, FallbackGivesUpSilently) {
    std::string start = "\"" + recorder_ + "\" \"" + record_ + "\"";
    std::string target = folder_ + "\\missing.htm";
    removal_tests::RootRedirect classes(HKEY_CLASSES_ROOT);
    ASSERT_TRUE(classes.active());
    OpenDocument(target.c_str(), ".htm"); // no ".htm" at all
    ASSERT_TRUE(classes.Write(".htm", "", REG_SZ, "VanishTests.Page"));
    OpenDocument(target.c_str(), ".htm"); // no command
    // A program that cannot be told apart from its arguments: a program part that holds a
    // blank but no program extension, where the system would try "...\record.exe" first,
    // or an opening quote never closed.
    for (const std::string &command :
         {folder_ + "\\record er " + record_ + " %1", folder_ + "\\record er /new %1",
          "\"" + recorder_ + " " + record_ + " %1"}) {
        ASSERT_TRUE(classes.Write("VanishTests.Page\\shell\\open\\command", "", REG_SZ, command));
        OpenDocument(target.c_str(), ".htm");
    }
    // A command of 800 bytes does not fit the 778 that are read.
    std::string longCommand = start + " " + std::string(800 - start.size() - 1, 'x');
    ASSERT_TRUE(classes.Write("VanishTests.Page\\shell\\open\\command", "", REG_SZ, longCommand));
    OpenDocument(target.c_str(), ".htm");
    // The last attempt with a command that fits shows that the others would have recorded.
    ASSERT_TRUE(classes.Write("VanishTests.Page\\shell\\open\\command", "", REG_SZ, start));
    OpenDocument(target.c_str(), ".htm");
    EXPECT_EQ(start + " " + target, Recorded()) << "only the last command ran";
}

// The closing document's decision on a token: an elevated one is elevated, the limited one
// linked to it is the user's own, and one that cannot be read counts as elevated (the
// document then goes only through the desktop shell). Wine gives this process an elevated
// token with a limited one linked to it, as "Run as administrator" does. The process's own
// decision follows its token on the NT family; 95/98/Me have none.
TEST(RightsTest, TokensAreSortedByWhatTheirProgramsMayDo) {
    const TOKEN_INFORMATION_CLASS elevationType = (TOKEN_INFORMATION_CLASS)18;
    const TOKEN_INFORMATION_CLASS linkedToken = (TOKEN_INFORMATION_CLASS)19;
    const DWORD elevationFull = 2;
    HANDLE own = nullptr, linked = nullptr, unreadable = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &own));
    DWORD type = 0, size = 0;
    if (!GetTokenInformation(own, elevationType, &type, sizeof type, &size) ||
        type != elevationFull ||
        !GetTokenInformation(own, linkedToken, &linked, sizeof linked, &size)) {
        CloseHandle(own);
        GTEST_SKIP() << "this process's token is not an elevated one with a limited one linked";
    }
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE, &unreadable));
    struct Case {
        const char *name;
        HANDLE token;
        int rights;
    } cases[] = {
        {"elevated", own, RIGHTS_ELEVATED},
        {"limited", linked, RIGHTS_USER},
        {"opened without the right to query it", unreadable, RIGHTS_ELEVATED},
        {"no token", nullptr, RIGHTS_ELEVATED},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.rights, TokenRights(c.token));
    }
    int family = isNT;
    isNT = 1;
    EXPECT_EQ(RIGHTS_ELEVATED, RightsOfThisRun());
    isNT = 0;
    EXPECT_EQ(RIGHTS_USER, RightsOfThisRun());
    isNT = family;
    for (HANDLE token : {own, linked, unreadable})
        CloseHandle(token);
}

TEST(ReadDefaultValueTest, EmptiesTheBufferWhenNothingCanBeRead) {
    removal_tests::RootRedirect classes(HKEY_CLASSES_ROOT);
    ASSERT_TRUE(classes.active());
    ASSERT_TRUE(classes.Write("Short", "", REG_SZ, "page"));
    ASSERT_TRUE(classes.Write("Long", "", REG_SZ, std::string(PATH_SIZE, 'y')));
    ASSERT_TRUE(classes.Write("Fits", "", REG_SZ, std::string(PATH_SIZE - 1, 'z')));
    ASSERT_TRUE(classes.Write("Unnamed only\\Sub", "", REG_SZ, "x"));
    struct Case {
        const char *key;
        LONG result;
        std::string text;
    } cases[] = {
        {"Short", 0, "page"},    {"Fits", 0, std::string(PATH_SIZE - 1, 'z')}, {"Long", 0, ""},
        {"Unnamed only", 0, ""}, {"Missing", ERROR_FILE_NOT_FOUND, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.key);
        char buffer[PATH_SIZE + 16];
        FillBytes(buffer, '#', sizeof buffer);
        EXPECT_EQ(c.result, ReadDefaultValue(HKEY_CLASSES_ROOT, c.key, buffer));
        EXPECT_EQ(c.text, std::string(buffer));
        EXPECT_EQ('#', buffer[PATH_SIZE]) << "no more than PATH_SIZE bytes are written";
    }
}

} // namespace
