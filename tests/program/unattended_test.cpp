// Unattended removal through the real uninstaller: /S answers every question itself, shows
// nothing and tells by its exit code what stayed; /L writes a log that matches the machine.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

#include "unattended.h"

#include <sddl.h>

using namespace unattended;

namespace {

// The application of the silent runs: a shared file at count 1, a read-only file, a file
// that may be held open, a data folder that may hold a user's file, and the install folder
// itself, named by an entry.
class Silent : public Unattended {
  protected:
    void SetUp() override {
        Unattended::SetUp();
        shared_ = common_ + "\\vshared.dll";
        readOnly_ = app_ + "\\readonly.txt";
        heldFile_ = app_ + "\\held.txt";
        data_ = app_ + "\\data";
        logs_ = root_ + "\\logs";
        CreateDirectoryA(data_.c_str(), nullptr);
        CreateDirectoryA(logs_.c_str(), nullptr);
        for (const std::string &file :
             {shared_, readOnly_, heldFile_, data_ + "\\app.dat", logs_ + "\\today.log"})
            ASSERT_TRUE(WriteFileText(file, "application"));
        ASSERT_TRUE(SetFileAttributesA(readOnly_.c_str(), FILE_ATTRIBUTE_READONLY));
        Shared(shared_, 1);
        Stamp(true);
    }
    // The block; a bare run (/X) leaves the install folder that holds the uninstaller, so
    // bare runs that should end with 0 take a block that does not name it.
    void Stamp(bool namesInstallFolder) {
        pack::Block block;
        block.texts = Texts();
        block.files = {{".\\data", "", 0},
                       {".\\data", "app.dat", 0},
                       {".", "readonly.txt", 0},
                       {".", "held.txt", 0},
                       {common_, "vshared.dll", pack::FILE_SHARED}};
        if (namesInstallFolder)
            block.files.insert(block.files.begin(), {".", "", 0});
        block.folders = {{0, logs_, "today.log"}};
        AddRegistry(&block);
        ASSERT_TRUE(WriteStampedUninstaller(pack::EncodeBlock(block), exe_));
    }
    // No window of the uninstaller's is ever visible, not even the progress dialog.
    static void ExpectNothingShown(const RunResult &run) {
        EXPECT_TRUE(run.boxes.empty())
            << run.boxes.size()
            << " boxes, the first: " << (run.boxes.empty() ? "" : run.boxes[0].text);
        EXPECT_TRUE(run.windows.empty())
            << run.windows.size()
            << " windows, the first: " << (run.windows.empty() ? "" : run.windows[0]);
    }
    // The fixed answers: the shared file stays with its count at 0, the read-only file goes.
    void ExpectFixedAnswers() {
        EXPECT_TRUE(FileExists(shared_)) << "the shared question is answered No";
        EXPECT_EQ(DwordValue(0), SharedCount(shared_)) << Describe(SharedCount(shared_));
        EXPECT_FALSE(FileExists(readOnly_)) << "read-only files are removed, yes to all";
        EXPECT_FALSE(FileExists(data_ + "\\app.dat"));
        EXPECT_FALSE(FileExists(logs_ + "\\today.log"));
        ExpectRegistryGone();
    }
    std::string shared_, readOnly_, heldFile_, data_, logs_;
};

TEST_F(Silent, HeldFileAndUserFileGiveExitCodeOne) {
    ASSERT_TRUE(WriteFileText(logs_ + "\\user.txt", "the user's own"));
    Hold(heldFile_);
    RunResult run = RunAndAnswer(exe_, "/S", {}, 30000, Action::Press(IDOK));
    Release();
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(1u, run.exitCode);
    ExpectNothingShown(run);
    ExpectFixedAnswers();
    EXPECT_TRUE(FileExists(heldFile_));
    EXPECT_TRUE(FileExists(logs_ + "\\user.txt"));
}

// A held file alone is enough for 1; a user's own file in a folder that a file entry or a
// folder entry names keeps that folder, rightly, and the run ends with 0.
TEST_F(Silent, AHeldFileGivesOneAUsersFileKeepsItsFolder) {
    for (int round = 0; round < 3; round++) {
        SCOPED_TRACE(round);
        SetUp();
        Stamp(false);
        if (round == 0)
            Hold(heldFile_);
        else
            ASSERT_TRUE(WriteFileText((round == 1 ? data_ : logs_) + "\\user.txt", "user's"));
        // Bare, so that no self-removal races the next round's files.
        RunResult run =
            RunAndAnswer(exe_, round ? "-s/X" : "/Silent /X", {}, 30000, Action::Press(IDOK));
        Release();
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(round ? 0u : 1u, run.exitCode);
        ExpectNothingShown(run);
    }
}

TEST_F(Silent, EverythingGoneGivesExitCodeZero) {
    Stamp(false);
    RunResult run = RunAndAnswer(exe_, "/S /X", {}, 30000, Action::Press(IDOK));
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode);
    ExpectNothingShown(run);
    ExpectFixedAnswers();
    EXPECT_FALSE(FileExists(heldFile_));
    EXPECT_FALSE(FileExists(data_));
    EXPECT_FALSE(FileExists(logs_));
    EXPECT_TRUE(FileExists(exe_)) << "the install folder stays for the self-removal";
}

// Without /S the same application asks both questions, and the exit code stays 0.
TEST_F(Silent, WithoutSilentTheQuestionsAreAskedAndTheExitCodeStaysZero) {
    Hold(heldFile_);
    RunResult run = RunAndAnswer(exe_, "/Q /X", {Action::Press(IDNO), Action::Press(IDNO)});
    Release();
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode);
    std::vector<std::string> texts;
    for (const Box &box : run.boxes)
        texts.push_back(box.text);
    EXPECT_EQ((std::vector<std::string>{"Shared: " + shared_, "Read-only: " + readOnly_}), texts);
    EXPECT_TRUE(FileExists(readOnly_));
}

TEST_F(Silent, DamagedBlockExitsWithMinusOneAndNoBox) {
    pack::Bytes noEnd = pack::EncodeRecords(
        {pack::MakeRecord(pack::TAG_STRINGS, pack::StringTablePayload(Texts()))});
    ASSERT_TRUE(WriteStampedUninstaller(noEnd, exe_));
    RunResult run = RunAndAnswer(exe_, "/S", {}, 30000, Action::Press(IDOK));
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0xFFFFFFFFu, run.exitCode);
    ExpectNothingShown(run);
    EXPECT_TRUE(FileExists(readOnly_));

    // With /L the log says why.
    run = RunAndAnswer(exe_, "/S/L", {}, 30000, Action::Press(IDOK));
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0xFFFFFFFFu, run.exitCode);
    std::vector<std::string> lines = Lines(ReadFileText(LogPath(0)));
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ("uninstall data could not be read: " + exe_, lines[1]);
    EXPECT_EQ("end, 0 removed, 0 kept, 0 left, exit code -1", lines[2]);
}

// The error mode that errormode.exe, started in folder by this process or by the
// uninstaller, reports.
UINT ReportedErrorMode(const std::string &folder) {
    std::ifstream in(folder + "\\errormode.txt");
    UINT mode = 0xFFFFFFFF;
    in >> mode;
    return mode;
}

// The system's own boxes are off in a silent run too: the application's program inherits
// the uninstaller's error mode, with critical-error and open-file boxes turned off.
TEST_F(Silent, SystemErrorBoxesAreOff) {
    std::string fixture = BuildFolder() + "\\tests\\fixtures\\errormode.exe";
    ASSERT_TRUE(CopyFileA(fixture.c_str(), (app_ + "\\cleanup.exe").c_str(), FALSE));
    // First whether this system hands the error mode on at all, from this process.
    std::string probe = app_ + "\\cleanup.exe";
    UINT before = SetErrorMode(SEM_NOGPFAULTERRORBOX);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::vector<char> line(probe.begin(), probe.end());
    line.push_back(0);
    BOOL started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                  app_.c_str(), &startup, &process);
    SetErrorMode(before);
    ASSERT_TRUE(started);
    WaitForSingleObject(process.hProcess, 30000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    UINT inherited = ReportedErrorMode(app_);
    ASSERT_NE(0xFFFFFFFFu, inherited) << "the probe did not run";
    if (!(inherited & SEM_NOGPFAULTERRORBOX))
        GTEST_SKIP() << "this system does not hand the error mode on to a started program, "
                        "so a silent run's cannot be seen from outside";

    DeleteFileA((app_ + "\\errormode.txt").c_str());
    pack::Block block;
    block.texts = Texts();
    block.optionFlags = pack::OPTION_WAIT;
    block.program = "cleanup.exe";
    ASSERT_TRUE(WriteStampedUninstaller(pack::EncodeBlock(block), exe_));
    RunResult run = RunAndAnswer(exe_, "/S", {}, 30000, Action::Press(IDOK));
    ASSERT_TRUE(run.finished);
    UINT boxesOff = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;
    EXPECT_EQ(boxesOff, ReportedErrorMode(app_) & boxesOff);
}

// Each entry names one place however it is spelled: a relative folder means the folder below
// the current directory at start in every phase (phase 3 runs after it has moved), "." and
// ".." and forward slashes are resolved before the protection test, and literal and device
// paths are refused whole. What an entry refuses counts as left: exit code 1.
TEST_F(Unattended, EveryPathMeansOnePlace) {
    char favorites[MAX_PATH] = "";
    ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, favorites, CSIDL_FAVORITES, TRUE));
    const std::string shell = favorites;
    // The test needs Favorites as an empty folder, one that a removal would take.
    if (!RemoveDirectoryA(shell.c_str()))
        GTEST_SKIP() << "Favorites is not an empty folder here";
    ASSERT_TRUE(CreateDirectoryA(shell.c_str(), nullptr));
    const std::string data = app_ + "\\data", unrelated = root_ + "\\data";
    const std::string literal = root_ + "\\literal", device = root_ + "\\device";
    for (const std::string &folder : {data, unrelated, literal, device})
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << folder;
    ASSERT_TRUE(WriteFileText(data + "\\x.dat", "application"));
    std::string forward = shell;
    for (char &c : forward)
        if (c == '\\')
            c = '/';
    pack::Block block;
    block.texts = Texts();
    block.files = {{"data", "", 0},
                   {"data", "x.dat", 0},
                   {shell + "\\.", "", 0},
                   {forward, "", 0},
                   {"\\\\?\\" + literal, "", 0}};
    block.folders = {{0, shell + "\\sub\\..", ""}, {0, "\\\\.\\" + device, ""}};
    ASSERT_TRUE(WriteStampedUninstaller(pack::EncodeBlock(block), exe_));
    std::string saved(MAX_PATH, '\0');
    saved.resize(GetCurrentDirectoryA(MAX_PATH, &saved[0]));
    ASSERT_TRUE(SetCurrentDirectoryA(app_.c_str())); // as an installer starts it
    RunResult run = RunAndAnswer(exe_, "/S /X", {}, 30000, Action::Press(IDOK));
    SetCurrentDirectoryA(saved.c_str());
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(1u, run.exitCode) << "the refused entries count as left";
    EXPECT_FALSE(FileExists(data)) << "the application's data folder goes";
    EXPECT_TRUE(FileExists(unrelated)) << "the same name below another folder stays";
    EXPECT_TRUE(FileExists(shell)) << "a protected folder stays under every spelling";
    EXPECT_TRUE(FileExists(literal));
    EXPECT_TRUE(FileExists(device));
}

// The machine as the log describes it: the last line about each path or key says whether
// it is still there.
::testing::AssertionResult MatchesTheMachine(const std::vector<std::string> &lines) {
    static const struct {
        const char *what;
        bool there;
    } kinds[] = {
        {"file deleted", false},  {"file not found", false},    {"file kept", true},
        {"file left", true},      {"folder removed", false},    {"folder not found", false},
        {"folder left", true},    {"folder still there", true}, {"folder kept", true},
        {"value deleted", false}, {"value not found", false},   {"value left", true},
        {"key deleted", false},   {"key not found", false},     {"key left", true}};
    std::map<std::string, bool> last;
    for (const std::string &line : lines) {
        size_t mark = line.find(": ");
        if (mark == std::string::npos)
            continue;
        std::string what = line.substr(0, mark), subject = line.substr(mark + 2);
        for (const auto &kind : kinds)
            if (what.compare(0, strlen(kind.what), kind.what) == 0)
                last[subject] = kind.there;
    }
    for (const auto &[subject, there] : last) {
        bool found;
        if (subject.compare(0, 5, "HKCU\\") == 0) {
            std::string path = subject.substr(5);
            size_t pair = path.rfind("\\\\");
            found = pair == std::string::npos
                        ? KeyExists(HKEY_CURRENT_USER, path)
                        : ReadValue(HKEY_CURRENT_USER, path.substr(0, pair), path.substr(pair + 2))
                              .present;
        } else {
            found = FileExists(subject);
        }
        if (found != there)
            return ::testing::AssertionFailure()
                   << subject << (found ? " is still there" : " is gone");
    }
    return ::testing::AssertionSuccess() << last.size() << " subjects";
}

class LogFile : public Unattended {};

// Ends the process that shows a box, as a crash or a user ending it would: exit code 42.
// A run that removes files and folders, leaves a file in use and answers two shared
// questions: every line, and the machine afterwards.
TEST_F(LogFile, MatchesTheMachineLineForLine) {
    std::string a = app_ + "\\a.txt", b = app_ + "\\b.txt", held = app_ + "\\held.txt";
    std::string data = app_ + "\\data", dat = data + "\\app.dat";
    std::string logs = root_ + "\\logs", today = logs + "\\today.log";
    std::string yes = common_ + "\\yes.dll", no = common_ + "\\no.dll";
    std::string two = common_ + "\\two.dll";
    CreateDirectoryA(data.c_str(), nullptr);
    CreateDirectoryA(logs.c_str(), nullptr);
    for (const std::string &file : {a, b, held, dat, yes, no, two, today})
        ASSERT_TRUE(WriteFileText(file, "application"));
    Shared(yes, 1);
    Shared(no, 1);
    Shared(two, 3);
    std::string goneShared = common_ + "\\gone.dll"; // listed, counted, but not on disk
    Shared(goneShared, 2);
    pack::Block block;
    block.texts = Texts();
    block.files = {{".", "", 0},
                   {".\\data", "", 0},
                   {".\\data", "app.dat", 0},
                   {".", "a.txt", 0},
                   {".", "b.txt", 0},
                   {".", "held.txt", 0},
                   {".", "gone.txt", 0},
                   {common_, "yes.dll", pack::FILE_SHARED},
                   {common_, "no.dll", pack::FILE_SHARED},
                   {common_, "two.dll", pack::FILE_SHARED},
                   {common_, "gone.dll", pack::FILE_SHARED}};
    block.folders = {{0, logs, "today.log"}};
    AddRegistry(&block);
    block.registry.push_back({0x80000001, keys_ + "\\Common\\\\Missing"});
    block.registry.push_back({0x80000001, keys_ + "\\Nothing"});
    ASSERT_TRUE(WriteStampedUninstaller(pack::EncodeBlock(block), exe_));
    Hold(held);
    RunResult run = RunAndAnswer(exe_, "/X /L", {Action::Press(IDNO), Action::Press(IDYES)});
    Release();
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode);
    ASSERT_EQ(2u, run.boxes.size());

    std::string log = ReadFileText(LogPath(0));
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(0u, log.rfind(kByteOrderMark, 0)) << "UTF-8 with a byte order mark";
    EXPECT_EQ(std::string::npos, log.find(kByteOrderMark, 1)) << "only at the start";
    EXPECT_EQ("\r\n", log.substr(log.size() - 2));
    std::vector<std::string> lines = Lines(log);
    std::string family = Family() == "win98" ? "95/98/Me family" : "NT family";
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(0u, lines[0].find("Vanish 1.0 removal log, switches /Q /X /L, Windows ")) << lines[0];
    EXPECT_NE(std::string::npos, lines[0].find(", " + family + ": " + app_ + "\\")) << lines[0];
    std::vector<std::string> expected = {
        "file not found, shared count now 1: " + goneShared,
        "file kept, shared count now 2: " + two,
        "file kept, answered No: " + no,
        "file deleted: " + yes,
        "file not found: " + app_ + "\\gone.txt",
        "file kept, in use: " + held,
        "file deleted: " + b,
        "file deleted: " + a,
        "file deleted: " + dat,
        "folder removed: " + data,
        "folder left, error 145: " + app_ + "\\",
        // Phase 2: the folder entry.
        "file deleted: " + today,
        "folder removed: " + logs,
        // Phase 3: the folders of the files, each failure logged once in a row.
        "folder left, error 145: " + app_,
        "folder not found: " + data,
        "folder left, error 145: " + app_,
        "folder left, error 145: " + common_,
        // Phase 4.
        "key deleted: HKCU\\" + keys_ + "\\App",
        "value deleted: HKCU\\" + keys_ + "\\Common\\\\Version",
        "value not found: HKCU\\" + keys_ + "\\Common\\\\Missing",
        "key not found: HKCU\\" + keys_ + "\\Nothing",
        // The listed folders that stand after all phases.
        "folder kept, not empty: " + app_ + "\\", // the file in use counts for itself
        "end, 9 removed, 3 kept, 1 left, exit code 0",
    };
    lines.erase(lines.begin());
    EXPECT_EQ(expected, lines);
    EXPECT_TRUE(MatchesTheMachine(lines));
    EXPECT_TRUE(FileExists(held));
    EXPECT_EQ(DwordValue(2), SharedCount(two));
    EXPECT_EQ(DwordValue(1), SharedCount(goneShared));
    EXPECT_EQ(DwordValue(0), SharedCount(no));
    EXPECT_FALSE(SharedCount(yes).present);
    ExpectRegistryGone();
}

// Each run writes a log of its own, and a run without /L writes none.
TEST_F(LogFile, ASecondRunWritesASecondLog) {
    pack::Block block;
    block.texts = Texts();
    block.files = {{".", "a.txt", 0}};
    ASSERT_TRUE(WriteStampedUninstaller(pack::EncodeBlock(block), exe_));
    for (const char *arguments : {"/X", "/X /L", "/L /X"}) {
        ASSERT_TRUE(WriteFileText(app_ + "\\a.txt", "application"));
        RunResult run = RunAndAnswer(exe_, arguments, {});
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(0u, run.exitCode);
    }
    std::vector<std::string> first = Lines(ReadFileText(LogPath(0)));
    std::vector<std::string> second = Lines(ReadFileText(LogPath(1)));
    EXPECT_FALSE(FileExists(LogPath(2)));
    ASSERT_EQ(4u, first.size());
    EXPECT_EQ("file deleted: " + app_ + "\\a.txt", first[1]);
    EXPECT_EQ("folder left, error 145: " + app_, first[2]) << "phase 3 tries the install folder";
    EXPECT_EQ("end, 1 removed, 0 kept, 0 left, exit code 0", first[3]);
    ASSERT_EQ(4u, second.size());
    EXPECT_EQ(0u, second[0].find("Vanish 1.0 removal log, switches /Q /X /L,"));
    EXPECT_EQ(std::vector<std::string>(first.begin() + 1, first.end()),
              std::vector<std::string>(second.begin() + 1, second.end()));
}

// Killed while the shared question is open, the run leaves every line up to the last
// completed entry, each whole, and nothing after it.
TEST_F(LogFile, AKilledRunEndsAtItsLastCompletedEntry) {
    std::string a = app_ + "\\a.txt", b = app_ + "\\b.txt", shared = common_ + "\\s.dll";
    for (const std::string &file : {a, b, shared})
        ASSERT_TRUE(WriteFileText(file, "application"));
    Shared(shared, 1);
    pack::Block block;
    block.texts = Texts();
    block.files = {{common_, "s.dll", pack::FILE_SHARED}, {".", "a.txt", 0}, {".", "b.txt", 0}};
    ASSERT_TRUE(WriteStampedUninstaller(pack::EncodeBlock(block), exe_));
    std::vector<std::string> atKill;
    RunResult run = RunAndAnswer(exe_, "/L", {Action::Press(IDOK)}, 30000,
                                 Action::Key(Action::Leave), [&](HWND box, const Box &seen) {
                                     if (seen.text != "Shared: " + shared)
                                         return;
                                     atKill = Lines(ReadFileText(LogPath(0)));
                                     KillOwnerOf(box);
                                 });
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(42u, run.exitCode);
    std::string log = ReadFileText(LogPath(0));
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ("\r\n", log.substr(log.size() - 2)) << "the last line is whole";
    std::vector<std::string> lines = Lines(log);
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ(0u, lines[0].find("Vanish 1.0 removal log, switches /L,"));
    EXPECT_EQ("file deleted: " + b, lines[1]);
    EXPECT_EQ("file deleted: " + a, lines[2]);
    EXPECT_EQ(lines, atKill) << "nothing was written after the question opened";
    EXPECT_TRUE(FileExists(shared));
    EXPECT_TRUE(MatchesTheMachine(lines));
}

// An install folder whose name holds format conversions, a path of 259 characters, and
// entries that do not fit a path, up to the longest texts an entry can hold. (Lines too long
// for the log's line buffer are cut; the log's own tests show that.)
TEST_F(LogFile, OddAndLongNamesAreWrittenSafely) {
    std::string odd = root_ + "\\odd %s%n%x%%";
    CreateDirectoryA(odd.c_str(), nullptr);
    exe_ = odd + "\\" + base_ + ".exe";
    std::string percent = odd + "\\100%s.txt";
    std::string longName(259 - odd.size() - 1, 'n');
    std::string longest = odd + "\\" + longName;
    ASSERT_EQ(259u, longest.size());
    for (const std::string &file : {percent, longest})
        ASSERT_TRUE(WriteFileText(file, "application"));
    std::string tooLong(300, 't');
    // Each fits the program's entry buffer, but not the 259 characters the system takes.
    std::string folder(300, 'u'), name(210, 'v');
    pack::Block block;
    block.texts = Texts();
    block.files = {{folder, name, 0},
                   {"C:\\" + tooLong, "x.txt", 0},
                   {".", longName, 0},
                   {".", "100%s.txt", 0}};
    ASSERT_TRUE(WriteStampedUninstaller(pack::EncodeBlock(block), exe_));
    RunResult run = RunAndAnswer(exe_, "/S/X/L", {}, 30000, Action::Press(IDOK));
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(1u, run.exitCode) << "entries that do not fit count as left";
    std::string log = ReadFileText(LogPath(0));
    std::vector<std::string> lines = Lines(log);
    ASSERT_EQ(7u, lines.size()) << log;
    EXPECT_NE(std::string::npos, lines[0].find(": " + odd + "\\"));
    EXPECT_EQ("file deleted: " + percent, lines[1]);
    EXPECT_EQ("file deleted: " + longest, lines[2]);
    EXPECT_EQ("entry skipped, path too long: C:\\" + tooLong + "|x.txt", lines[3]);
    EXPECT_EQ("entry skipped, path too long: " + folder + "|" + name, lines[4]);
    EXPECT_EQ("folder left, error 145: " + odd, lines[5]);
    EXPECT_EQ("end, 2 removed, 0 kept, 2 left, exit code 1", lines[6]);
    EXPECT_FALSE(FileExists(percent));
    EXPECT_FALSE(FileExists(longest));
}

// The program run first and its wait, the document a silent run does not open, and the
// self-removal batch, in the order the run meets them.
TEST_F(LogFile, ProgramDocumentAndSelfRemovalAreLogged) {
    std::string program = app_ + "\\cleanup.exe";
    ASSERT_TRUE(CopyFileA((BuildFolder() + "\\tests\\fixtures\\launchhelper.exe").c_str(),
                          program.c_str(), FALSE));
    ASSERT_TRUE(WriteFileText(app_ + "\\a.txt", "application"));
    pack::Block block;
    block.texts = Texts();
    block.files = {{".", "a.txt", 0}};
    block.optionFlags = pack::OPTION_WAIT;
    block.program = "cleanup.exe";
    block.document = "http://vanish.invalid/removed.htm";
    ASSERT_TRUE(WriteStampedUninstaller(pack::EncodeBlock(block), exe_));
    RunResult run = RunAndAnswer(exe_, "/S /L", {}, 30000, Action::Press(IDOK));
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode);
    std::vector<std::string> lines = Lines(ReadFileText(LogPath(0)));
    ASSERT_EQ(Family() == "win98" ? 7u : 8u, lines.size()) << Joined(lines);
    EXPECT_EQ("program started and ended: " + program, lines[1]);
    EXPECT_EQ("file deleted: " + app_ + "\\a.txt", lines[2]);
    EXPECT_EQ("folder left, error 145: " + app_, lines[3]);
    EXPECT_EQ("document not opened, silent: http://vanish.invalid/removed.htm", lines[4]);
    if (Family() == "win98") {
        // Wine has no command.com for the 95 family unless the self-removal tests put their
        // stand-in there for a while; the batch is then deleted again.
        // Its name is eight random hexadecimal digits.
        std::string started = "self-removal batch written and started: " + TempFolder();
        std::string deleted = "self-removal batch not started, deleted: " + TempFolder();
        size_t at = lines[5].rfind('\\') + 1;
        std::string said = lines[5].substr(0, at), name = lines[5].substr(at);
        EXPECT_TRUE(said == started || said == deleted) << lines[5];
        ASSERT_EQ(12u, name.size()) << name;
        EXPECT_EQ(std::string::npos, name.substr(0, 8).find_first_not_of("0123456789ABCDEF"))
            << name;
        EXPECT_EQ(".bat", name.substr(8));
    } else {
        // The NT family writes no batch: cmd.exe gets the whole loop on its command line. With
        // an administrator's rights (Wine's every program's) the uninstaller is moved first
        // into a folder of the run's own that only administrators write, and that name alone
        // is left for cmd.exe; the install folder stays, since it holds the program.
        const std::string moved = "uninstaller moved for its removal: C:\\Vanish.";
        ASSERT_EQ(moved, lines[5].substr(0, moved.size()));
        EXPECT_EQ("self-removal started: " + lines[5].substr(moved.size() - 10), lines[6]);
        EXPECT_TRUE(FileExists(program));
    }
    EXPECT_EQ("end, 1 removed, 0 kept, 0 left, exit code 0", lines.back());
}

// The application's program is opened as itself before it starts, like every item the run
// removes: reached through a link (its folder swapped for one to another's program), it is
// not started.
TEST_F(LogFile, AProgramReachedThroughALinkIsNotStarted) {
    if (!NTFamily())
        GTEST_SKIP() << "the 95/98/Me family has no links";
    const std::string other = root_ + "\\other", tools = app_ + "\\tools";
    ASSERT_TRUE(CreateDirectoryA(other.c_str(), nullptr));
    ASSERT_TRUE(CopyFileA((BuildFolder() + "\\tests\\fixtures\\launchhelper.exe").c_str(),
                          (other + "\\cleanup.exe").c_str(), FALSE));
    UnixLink link(tools, other);
    ASSERT_TRUE(link.made());
    pack::Block block;
    block.texts = Texts();
    block.optionFlags = pack::OPTION_WAIT;
    block.program = "tools\\cleanup.exe";
    ASSERT_TRUE(WriteStampedUninstaller(pack::EncodeBlock(block), exe_));
    RunResult run = RunAndAnswer(exe_, "/S /L", {}, 30000, Action::Press(IDOK));
    ASSERT_TRUE(run.finished);
    std::vector<std::string> lines = Lines(ReadFileText(LogPath(0)));
    EXPECT_TRUE(
        LogHas(lines, "program not started, reached through a link: " + tools + "\\cleanup.exe"))
        << Joined(lines);
}

// ---- What deployment tools rely on: restart-pending removal, silent runs that orphan
// nothing, folder tokens, exit codes that tell the truth, and a count lowered once. ----

const char kSessionManager[] = "System\\CurrentControlSet\\Control\\Session Manager";
const char kPending[] = "PendingFileRenameOperations";

std::string WininitPath() {
    char windows[MAX_PATH] = "";
    GetWindowsDirectoryA(windows, MAX_PATH);
    return std::string(windows) + "\\WININIT.INI";
}

std::string LongPath(const std::string &path) {
    char full[MAX_PATH] = "";
    DWORD n = GetLongPathNameA(path.c_str(), full, MAX_PATH);
    return n && n < MAX_PATH ? std::string(full, n) : path;
}

// What the system deletes at its next restart, as full long paths: the NT family's pending
// operations (a source whose target is empty), or the NUL= lines of WININIT.INI.
std::vector<std::string> PendingDeletions() {
    std::vector<std::string> paths;
    if (NTFamily()) {
        Value value = ReadValue(HKEY_LOCAL_MACHINE, kSessionManager, kPending);
        std::vector<std::string> texts;
        for (size_t at = 0; value.present && at < value.data.size();) {
            std::string text((const char *)value.data.data() + at);
            at += text.size() + 1;
            texts.push_back(text);
        }
        for (size_t i = 0; i + 1 < texts.size(); i += 2)
            if (texts[i + 1].empty() && texts[i].rfind("\\??\\", 0) == 0)
                paths.push_back(texts[i].substr(4));
    } else {
        std::vector<char> section(32768);
        DWORD n = GetPrivateProfileSectionA("rename", section.data(), (DWORD)section.size(),
                                            WininitPath().c_str());
        for (size_t at = 0; at < n;) {
            std::string line(section.data() + at);
            at += line.size() + 1;
            if (line.rfind("NUL=", 0) == 0)
                paths.push_back(LongPath(line.substr(4)));
        }
    }
    return paths;
}

bool Pending(const std::string &path) {
    for (const std::string &pending : PendingDeletions())
        if (!lstrcmpiA(pending.c_str(), path.c_str()))
            return true;
    return false;
}

// The restart-pending list as it was, put back when the test ends: Wine would act on it at
// the prefix's next start.
class PendingSaved {
  public:
    PendingSaved() : value_(ReadValue(HKEY_LOCAL_MACHINE, kSessionManager, kPending)) {
        ini_ = ReadFileText(WininitPath());
        hadIni_ = FileExists(WininitPath());
    }
    ~PendingSaved() {
        if (value_.present)
            WriteValue(HKEY_LOCAL_MACHINE, kSessionManager, kPending, value_);
        else
            DeleteValue(HKEY_LOCAL_MACHINE, kSessionManager, kPending);
        if (hadIni_)
            WriteFileText(WininitPath(), ini_);
        else
            DeleteFileA(WininitPath().c_str());
    }

  private:
    Value value_;
    std::string ini_;
    bool hadIni_;
};

HANDLE HoldOpen(const std::string &path) {
    return CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

// A file in use at its deletion goes at the next restart when the block allows it, and so
// does a folder that then holds nothing else (the NT family; WININIT.INI deletes files
// only): exit code 3010, and the restart text in place of the completion text. Without the
// option the file stays and counts as left, as before.
TEST_F(Unattended, InUseFilesGoAtRestartWhenTheBlockAllows) {
    PendingSaved saved;
    const std::string held = app_ + "\\held.exe", other = app_ + "\\other.txt";
    const std::string sub = app_ + "\\sub", lib = sub + "\\lib.dll";
    static const struct {
        bool allowed;
        const char *switches;
        DWORD exitCode;
    } rows[] = {{false, "/S /X /L", 1}, {true, "/S /X /L", 3010}, {true, "/L", 0}};
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string(row.switches) + (row.allowed ? ", allowed" : ""));
        CreateDirectoryA(sub.c_str(), nullptr);
        for (const std::string &file : {held, other, lib})
            ASSERT_TRUE(WriteFileText(file, "application"));
        pack::Block block;
        block.texts = Texts();
        block.texts.push_back("Restart to finish removing Sample.");
        block.files = {{app_, "held.exe", 0}, {app_, "other.txt", 0}, {sub, "lib.dll", 0}};
        block.optionFlags = row.allowed ? pack::OPTION_RESTART_DELETE : 0;
        ASSERT_TRUE(WriteStampedUninstaller(pack::EncodeBlock(block), exe_));
        HANDLE first = HoldOpen(held), second = HoldOpen(lib);
        RunResult run =
            RunAndAnswer(exe_, row.switches, {Action::Press(IDOK)}, 30000, Action::Press(IDOK));
        CloseHandle(first);
        CloseHandle(second);
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(row.exitCode, run.exitCode);
        EXPECT_FALSE(FileExists(other));
        EXPECT_TRUE(FileExists(held) && FileExists(lib)) << "in use: they stay until a restart";
        EXPECT_EQ(row.allowed, Pending(held));
        EXPECT_EQ(row.allowed, Pending(lib));
        EXPECT_EQ(row.allowed && NTFamily(), Pending(sub)) << "a folder goes after what it holds";
        EXPECT_FALSE(Pending(app_)) << "it holds the uninstaller, which a bare run keeps";
        std::vector<std::string> lines = Lines(ReadFileText(LogPath(0)));
        EXPECT_EQ(row.allowed, LogHas(lines, "file goes at restart: " + held));
        if (std::string(row.switches).find("/S") == std::string::npos) {
            ASSERT_EQ(2u, run.boxes.size());
            EXPECT_EQ("Restart to finish removing Sample.", run.boxes[1].text);
        }
        RemoveLogs();
    }
}

// Runs the system's restart-time work as a restart would, and waits for it.
bool RestartWork() {
    char system[MAX_PATH];
    GetSystemDirectoryA(system, MAX_PATH);
    std::string line = std::string(system) + "\\wineboot.exe -r";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return false;
    bool ended = WaitForSingleObject(process.hProcess, 120000) == WAIT_OBJECT_0;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return ended;
}

// With an administrator's rights, a file in use is moved, through the handle that proved it,
// into a folder the run makes for itself that only administrators can write, and only that
// name is left for the restart: the application's folder, swapped for a link to another
// before the restart, leads the restart nowhere. A file that cannot be moved (its holder
// denies deleting) keeps its own name only where nothing on its path can be replaced by an
// account that is no administrator; where its folder lets everyone write, it stays.
TEST_F(Unattended, RestartDeletesOnlyWhatWasChecked) {
    if (!NTFamily())
        GTEST_SKIP() << "95/98/Me delete by name through WININIT.INI: no accounts to keep apart";
    PendingSaved saved;
    const std::string data = app_ + "\\data", held = data + "\\helper.dll";
    const std::string victim = root_ + "\\victim", bait = victim + "\\helper.dll";
    static const struct {
        const char *name;
        DWORD share;       // the holder's
        bool openToOthers; // the folder lets everyone write
        DWORD exitCode;
        bool moved;
    } rows[] = {
        {"the holder lets it be renamed", FILE_SHARE_READ | FILE_SHARE_DELETE, false, 3010, true},
        {"the holder denies it, held by administrators", FILE_SHARE_READ, false, 3010, false},
        {"the holder denies it, everyone writes", FILE_SHARE_READ, true, 1, false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        DeleteValue(HKEY_LOCAL_MACHINE, kSessionManager, kPending); // this run's alone
        CreateDirectoryA(data.c_str(), nullptr);
        CreateDirectoryA(victim.c_str(), nullptr);
        ASSERT_TRUE(WriteFileText(held, "application"));
        ASSERT_TRUE(WriteFileText(bait, "the victim's own"));
        if (row.openToOthers) {
            PSECURITY_DESCRIPTOR open = nullptr;
            ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
                "D:(A;OICI;FA;;;WD)", SDDL_REVISION_1, &open, nullptr));
            ASSERT_TRUE(SetFileSecurityA(data.c_str(), DACL_SECURITY_INFORMATION, open));
            LocalFree(open);
        }
        pack::Block block;
        block.texts = Texts();
        block.files = {{".\\data", "", 0}, {".\\data", "helper.dll", 0}};
        block.optionFlags = pack::OPTION_RESTART_DELETE;
        ASSERT_TRUE(WriteStampedUninstaller(pack::EncodeBlock(block), exe_));
        HANDLE holder =
            CreateFileA(held.c_str(), GENERIC_READ, row.share, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, holder);
        RunResult run = RunAndAnswer(exe_, "/S /X /L", {}, 30000, Action::Press(IDOK));
        CloseHandle(holder);
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(row.exitCode, run.exitCode) << Joined(Lines(ReadFileText(LogPath(0))));
        std::vector<std::string> pending = PendingDeletions();
        // Moved: the file and the folder it waits in. Left under its own name: the file and
        // the folder that holds nothing else.
        for (const std::string &path : pending)
            EXPECT_TRUE(row.moved ? path.rfind("C:\\Vanish.", 0) == 0
                                  : !lstrcmpiA(path.c_str(), held.c_str()) ||
                                        !lstrcmpiA(path.c_str(), data.c_str()))
                << path;
        EXPECT_EQ(row.exitCode == 1 ? 0u : 2u, pending.size());
        EXPECT_EQ(!row.moved, FileExists(held));
        if (row.moved) {
            EXPECT_FALSE(FileExists(data)) << "empty once the file was moved";
            // Between the run and the restart, the folder becomes a link to another.
            UnixLink link(data, victim);
            ASSERT_TRUE(link.made());
            ASSERT_TRUE(RestartWork());
            EXPECT_TRUE(FileExists(bait)) << "the restart acts on what was checked alone";
            for (const std::string &path : pending)
                EXPECT_FALSE(FileExists(path)) << path;
        }
        if (row.exitCode == 1) {
            EXPECT_TRUE(LogHas(Lines(ReadFileText(LogPath(0))),
                               "not left for the restart, a name others could change: " + held));
        }
        DeleteFileA(held.c_str());
        RemoveDirectoryA(data.c_str());
        RemoveLogs();
    }
}

// A silent run waits for no one: a file marked for the in-use test that is in use at the
// start stops it before anything is removed, with exit code 2 and the file in the log.
TEST_F(Unattended, AMarkedFileInUseStopsASilentRunWhole) {
    const std::string program = app_ + "\\app.exe", readme = app_ + "\\readme.txt";
    for (const std::string &file : {program, readme})
        ASSERT_TRUE(WriteFileText(file, "application"));
    pack::Block block;
    block.texts = Texts();
    block.files = {{".", "app.exe", pack::FILE_CHECKINUSE}, {".", "readme.txt", 0}};
    ASSERT_TRUE(WriteStampedUninstaller(pack::EncodeBlock(block), exe_));
    Hold(program);
    RunResult run = RunAndAnswer(exe_, "/S /L", {}, 30000, Action::Press(IDOK));
    Release();
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(2u, run.exitCode);
    EXPECT_TRUE(FileExists(readme)) << "nothing is removed";
    EXPECT_TRUE(FileExists(exe_)) << "nor the uninstaller";
    std::vector<std::string> lines = Lines(ReadFileText(LogPath(0)));
    EXPECT_TRUE(LogHas(lines, "nothing removed, file in use: " + program));
    EXPECT_TRUE(LogHas(lines, "end, 0 removed, 0 kept, 0 left, exit code 2"));
}

// Folder tokens name the folders of the system that runs the uninstaller, as the shell
// names them; a token this system cannot resolve, or one nobody knows, leaves its entry.
TEST_F(Unattended, FolderTokensNameThisSystemsFolders) {
    static const struct {
        const char *token;
        int csidl; // -1 the Windows folder, -2 the System folder
    } tokens[] = {{"programfiles", 0x26},   {"commonfiles", 0x2B},   {"programs", 0x02},
                  {"commonprograms", 0x17}, {"startmenu", 0x0B},     {"commonstartmenu", 0x16},
                  {"desktop", 0x10},        {"commondesktop", 0x19}, {"startup", 0x07},
                  {"commonstartup", 0x18},  {"appdata", 0x1A},       {"localappdata", 0x1C},
                  {"commonappdata", 0x23},  {"documents", 0x05},     {"fonts", 0x14},
                  {"windows", -1},          {"system", -2}};
    const std::string mine = "Vanish token " + Family();
    pack::Block block;
    block.texts = Texts();
    block.optionFlags = pack::OPTION_FOLDER_TOKENS;
    std::vector<std::string> made, unresolved;
    for (const auto &t : tokens) {
        char folder[MAX_PATH] = "";
        bool found = t.csidl == -1   ? GetWindowsDirectoryA(folder, MAX_PATH) != 0
                     : t.csidl == -2 ? GetSystemDirectoryA(folder, MAX_PATH) != 0
                                     : SHGetSpecialFolderPathA(nullptr, folder, t.csidl, FALSE);
        // Written in capitals half the time: names are not case-sensitive.
        std::string token = "{" + std::string(t.token) + "}";
        if (made.size() % 2)
            CharUpperA(&token[0]);
        block.files.push_back({token + "\\" + mine, "", 0});
        block.files.push_back({token + "\\" + mine, "x.txt", 0});
        if (!found) {
            unresolved.push_back(token);
            continue;
        }
        std::string place = std::string(folder) + "\\" + mine;
        ASSERT_TRUE(CreateDirectoryA(place.c_str(), nullptr) ||
                    GetLastError() == ERROR_ALREADY_EXISTS)
            << place;
        ASSERT_TRUE(WriteFileText(place + "\\x.txt", "application"));
        made.push_back(place);
    }
    block.files.push_back({"{nowhere}\\" + mine, "x.txt", 0});
    block.files.push_back({"{windows}", "", 0}); // protected: it stays
    unresolved.push_back("{nowhere}");

    // Without the option a brace is part of a name, and nothing of the machine's is named.
    pack::Block plain = block;
    plain.optionFlags = 0;
    ASSERT_TRUE(WriteStampedUninstaller(pack::EncodeBlock(plain), exe_));
    RunResult run = RunAndAnswer(exe_, "/S /X", {}, 30000, Action::Press(IDOK));
    ASSERT_TRUE(run.finished);
    for (const std::string &place : made)
        EXPECT_TRUE(FileExists(place + "\\x.txt")) << place;

    ASSERT_TRUE(WriteStampedUninstaller(pack::EncodeBlock(block), exe_));
    run = RunAndAnswer(exe_, "/S /X /L", {}, 30000, Action::Press(IDOK));
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(1u, run.exitCode) << "the entries of tokens not known here count as left";
    for (const std::string &place : made)
        EXPECT_FALSE(FileExists(place)) << place;
    char windows[MAX_PATH] = "";
    GetWindowsDirectoryA(windows, MAX_PATH);
    EXPECT_TRUE(FileExists(windows));
    std::string log = ReadFileText(LogPath(0));
    for (const std::string &token : unresolved)
        EXPECT_NE(std::string::npos,
                  log.find("entry skipped, folder token not known here: " + token))
            << token;
}

// A silent run's exit code tells what stayed of what the block lists, and only that.
TEST_F(Unattended, ExitCodesTellTheTruth) {
    const std::string data = app_ + "\\data", sub = app_ + "\\sub";
    const std::string longName(1600, 'n'); // more than an entry's texts may hold
    static const struct {
        const char *name;
        const char *switches;
        DWORD exitCode;
        const char *logged; // a line of the log, with its subject appended
        int subject; // 0 data, 1 the install folder, 2 sub, 3 the shared file, 4 none, 5 sub\.
    } rows[] = {
        {"a user's file keeps its folder, rightly", "/S /X /L", 0, "folder kept, not empty: ", 0},
        {"bare: nothing removes the install folder", "/S /X /L", 1, "folder still there: ", 1},
        {"a name that ends in \\. names a folder, kept", "/S /X /L", 1,
         "file entry names a folder, kept: ", 5},
        {"a name that is a folder's names a folder, kept", "/S /X /L", 1,
         "file entry names a folder, kept: ", 2},
        {"an entry the loader drops counts as left", "/S /X /L", 1,
         "entry skipped, a text too long or holding a zero byte", 4},
        {"an empty shared question removes the file", "/S /X /L", 0, "file deleted: ", 3},
    };
    const std::string shared = common_ + "\\empty-question.dll";
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; i++) {
        const auto &row = rows[i];
        SCOPED_TRACE(row.name);
        CreateDirectoryA(data.c_str(), nullptr);
        ASSERT_TRUE(WriteFileText(data + "\\app.dat", "application"));
        pack::Block block;
        block.texts = Texts();
        block.files = {{".\\data", "", 0}, {".\\data", "app.dat", 0}};
        if (i == 0) {
            ASSERT_TRUE(WriteFileText(data + "\\mine.txt", "the user's own"));
        }
        if (i == 1)
            block.files.insert(block.files.begin(), {".", "", 0});
        if (i == 2 || i == 3) {
            ASSERT_TRUE(CreateDirectoryA(sub.c_str(), nullptr));
            block.files.push_back({".", i == 2 ? "sub\\." : "sub", 0});
        }
        if (i == 4)
            block.files.push_back({".", longName, 0});
        if (i == 5) {
            ASSERT_TRUE(WriteFileText(shared, "shared"));
            Shared(shared, 1);
            block.texts[10] = "";
            block.files.push_back({common_, "empty-question.dll", pack::FILE_SHARED});
        }
        ASSERT_TRUE(WriteStampedUninstaller(pack::EncodeBlock(block), exe_));
        RunResult run = RunAndAnswer(exe_, row.switches, {}, 30000, Action::Press(IDOK));
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(row.exitCode, run.exitCode);
        const std::string subjects[] = {data, app_, sub, shared, "", sub + "\\."};
        std::vector<std::string> lines = Lines(ReadFileText(LogPath(0)));
        EXPECT_TRUE(LogHas(lines, row.logged + subjects[row.subject])) << Joined(lines);
        if (i == 2 || i == 3) {
            for (const std::string &line : lines)
                EXPECT_EQ(std::string::npos, line.find("in use")) << line;
        }
        if (i == 3) {
            EXPECT_TRUE(FileExists(sub)) << "phase 3 walks from the folder that holds it";
            RemoveDirectoryA(sub.c_str());
        }
        if (i == 5) {
            EXPECT_FALSE(SharedCount(shared).present) << "its count goes with it";
        }
        DeleteFileA((data + "\\mine.txt").c_str());
        RemoveLogs();
    }
}

// The uninstaller's own file in the block is the self-removal's to take, not left.
TEST_F(Unattended, TheUninstallerInItsBlockIsNotLeft) {
    pack::Block block;
    block.texts = Texts();
    block.files = {{".", base_ + ".exe", 0}, {".", "", 0}};
    ASSERT_TRUE(WriteStampedUninstaller(pack::EncodeBlock(block), exe_));
    RunResult run = RunAndAnswer(exe_, "/S /L", {}, 30000, Action::Press(IDOK));
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode);
    std::vector<std::string> lines = Lines(ReadFileText(LogPath(0)));
    EXPECT_TRUE(LogHas(lines, "file left to the self-removal: " + exe_));
    // Wine has no command.com for the 95/98/Me family's self-removal.
    if (NTFamily()) {
        EXPECT_TRUE(WaitUntil([&] { return !FileExists(app_); }, 120000))
            << "the self-removal takes the uninstaller and its folder";
    }
}

// A shared count is lowered once per installation: a run that left something and is run
// again, a run killed in phase 1 and run again, and two copies started at once each lower a
// count of 2 to 1, never to 0.
TEST_F(Unattended, ASharedCountIsLoweredOnce) {
    const std::string shared = common_ + "\\once.dll", held = app_ + "\\held.txt";
    const std::string readOnly = app_ + "\\readonly.txt";
    const std::string journal = app_ + "\\" + base_ + ".released";
    enum { RERUN, KILLED, TWO_AT_ONCE };
    for (int way : {RERUN, KILLED, TWO_AT_ONCE}) {
        SCOPED_TRACE(way);
        DeleteFileA(journal.c_str());
        for (const std::string &file : {shared, held, readOnly})
            ASSERT_TRUE(WriteFileText(file, "application"));
        ASSERT_TRUE(SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
        Shared(shared, 2);
        pack::Block block;
        block.texts = Texts();
        // The last entry goes first: the count, then the read-only file's question.
        block.files = {{".", "held.txt", 0},
                       {".", "readonly.txt", 0},
                       {common_, "once.dll", pack::FILE_SHARED}};
        ASSERT_TRUE(WriteStampedUninstaller(pack::EncodeBlock(block), exe_));
        if (way == RERUN) {
            Hold(held);
            RunResult first = RunAndAnswer(exe_, "/S /X", {}, 30000, Action::Press(IDOK));
            Release();
            ASSERT_TRUE(first.finished);
            EXPECT_EQ(1u, first.exitCode) << "the held file stayed";
            EXPECT_TRUE(FileExists(journal));
        } else if (way == KILLED) {
            RunResult first =
                RunAndAnswer(exe_, "/X", {Action::Press(IDOK)}, 30000, Action::Key(Action::Leave),
                             [&](HWND box, const Box &seen) {
                                 if (seen.text != "Read-only: " + readOnly)
                                     return;
                                 KillOwnerOf(box);
                             });
            ASSERT_TRUE(first.finished);
            EXPECT_EQ(42u, first.exitCode);
            EXPECT_EQ(DwordValue(1), SharedCount(shared)) << "lowered before the kill";
        }
        RunResult others[2];
        auto runCopy = [&](int i) {
            others[i] = RunAndAnswer(exe_, "/S /X", {}, 60000, Action::Press(IDOK));
        };
        if (way == TWO_AT_ONCE) {
            std::thread second(runCopy, 1);
            runCopy(0);
            second.join();
            for (const RunResult &run : others)
                EXPECT_TRUE(run.exitCode == 0 || run.exitCode == 1618) << run.exitCode;
        } else {
            runCopy(0);
            EXPECT_EQ(0u, others[0].exitCode);
        }
        EXPECT_EQ(DwordValue(1), SharedCount(shared)) << "another application still counts";
        EXPECT_TRUE(FileExists(shared));
        EXPECT_FALSE(FileExists(held));
        SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

// A second copy of the same uninstaller, started while the first waits at its confirmation,
// ends at once with 1618 and touches nothing.
BOOL CALLBACK FindVisibleWindow(HWND window, LPARAM context) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != *(DWORD *)context || !IsWindowVisible(window))
        return TRUE;
    *(DWORD *)context = 0;
    return FALSE;
}

bool HasVisibleWindow(DWORD pid) {
    EnumWindows(FindVisibleWindow, (LPARAM)&pid);
    return pid == 0;
}

// By whatever name it was started, its long one or its short (8.3) one.
TEST_F(Unattended, ASecondCopyEndsAtOnce) {
    const std::string readme = app_ + "\\readme.txt";
    ASSERT_TRUE(WriteFileText(readme, "application"));
    pack::Block block;
    block.texts = Texts();
    block.files = {{".", "readme.txt", 0}};
    ASSERT_TRUE(WriteStampedUninstaller(pack::EncodeBlock(block), exe_));
    char shortName[MAX_PATH] = "";
    DWORD n = GetShortPathNameA(exe_.c_str(), shortName, MAX_PATH);
    ASSERT_TRUE(n && n < MAX_PATH);
    ASSERT_NE(exe_, std::string(shortName));
    for (const std::string &second : {exe_, std::string(shortName)}) {
        SCOPED_TRACE(second);
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION first = {};
        std::string line = "\"" + exe_ + "\""; // interactive: it waits at its confirmation
        ASSERT_TRUE(CreateProcessA(exe_.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                                   app_.c_str(), &startup, &first));
        EXPECT_TRUE(WaitUntil([&] { return HasVisibleWindow(first.dwProcessId); }, 60000))
            << "the first copy shows its confirmation";
        RunResult run = RunAndAnswer(second, "/S /X /L", {}, 30000);
        TerminateProcess(first.hProcess, 0);
        WaitForSingleObject(first.hProcess, 30000);
        CloseHandle(first.hThread);
        CloseHandle(first.hProcess);
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(1618u, run.exitCode);
        EXPECT_TRUE(FileExists(readme));
        std::vector<std::string> lines = Lines(ReadFileText(LogPath(0)));
        EXPECT_TRUE(LogHas(lines, "nothing done, this uninstaller runs already: " + exe_))
            << Joined(lines);
        RemoveLogs();
    }
}

// Two silent copies while a marked file is in use: the lock is the first thing each takes,
// so a second copy that starts while the first one lives ends with 1618, before it looks at
// any file; the first ends with 2 for the file in use. The first copy is held still, once
// its lock stands with its record in it, until the second has ended.
TEST_F(Unattended, ASecondCopyMeetsTheLockBeforeAnythingElse) {
    if (!NTFamily())
        GTEST_SKIP() << "95/98/Me keep a mutex, which has no file to wait for";
    const std::string program = app_ + "\\app.exe", lock = app_ + "\\" + base_ + ".lock";
    ASSERT_TRUE(WriteFileText(program, "application"));
    pack::Block block;
    block.texts = Texts();
    block.files = {{".", "app.exe", pack::FILE_CHECKINUSE}};
    ASSERT_TRUE(WriteStampedUninstaller(pack::EncodeBlock(block), exe_));
    Hold(program);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION first = {};
    std::string line = "\"" + exe_ + "\" /S /X";
    ASSERT_TRUE(CreateProcessA(exe_.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                               app_.c_str(), &startup, &first));
    WIN32_FILE_ATTRIBUTE_DATA data;
    bool locked = WaitUntil(
        [&] {
            return GetFileAttributesExA(lock.c_str(), GetFileExInfoStandard, &data) &&
                   data.nFileSizeLow == 8;
        },
        60000);
    if (locked)
        SuspendThread(first.hThread);
    RunResult second = RunAndAnswer(exe_, "/S /X /L", {}, 30000);
    ResumeThread(first.hThread);
    DWORD firstCode = 0;
    WaitForSingleObject(first.hProcess, 60000);
    GetExitCodeProcess(first.hProcess, &firstCode);
    CloseHandle(first.hThread);
    CloseHandle(first.hProcess);
    Release();
    ASSERT_TRUE(locked) << "the first copy's lock, with the copy's process and file in it";
    ASSERT_TRUE(second.finished);
    EXPECT_EQ(1618u, second.exitCode);
    EXPECT_EQ(2u, firstCode);
    EXPECT_FALSE(FileExists(lock)) << "the lock goes with its process";
}

// The lock is the uninstaller's file beside it, opened there as itself: a process that holds
// the name a copy of old went by (a mutex named after the path), or that holds the lock's
// file without being a running copy, keeps no run from its work; the run says so.
TEST_F(Unattended, NoOtherProcessHoldsTheLock) {
    if (!NTFamily())
        GTEST_SKIP() << "95/98/Me keep a mutex: they have no accounts to keep apart";
    const std::string readme = app_ + "\\readme.txt";
    ASSERT_TRUE(WriteFileText(readme, "application"));
    pack::Block block;
    block.texts = Texts();
    block.files = {{".", "readme.txt", 0}};
    ASSERT_TRUE(WriteStampedUninstaller(pack::EncodeBlock(block), exe_));
    // The name the lock had: a hash of the path's spelling, in the namespace all share.
    DWORD hash = 2166136261u;
    for (char c : exe_)
        hash = (hash ^ (BYTE)(c >= 'a' && c <= 'z' ? c - 32 : c)) * 16777619u;
    char name[64];
    wsprintfA(name, "Global\\Vanish uninstaller %08lX", hash);
    HANDLE squatter = CreateMutexA(nullptr, FALSE, name);
    ASSERT_TRUE(squatter);
    // The lock's own file, made and held by a process that is no copy of the uninstaller.
    const std::string lock = app_ + "\\" + base_ + ".lock";
    HANDLE held = CreateFileA(lock.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    RunResult run = RunAndAnswer(exe_, "/S /X /L", {}, 30000);
    CloseHandle(held);
    CloseHandle(squatter);
    DeleteFileA(lock.c_str());
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_FALSE(FileExists(readme));
    std::vector<std::string> lines = Lines(ReadFileText(LogPath(0)));
    EXPECT_TRUE(LogHas(
        lines, "one copy at a time not kept, the lock could not be taken, error 32: " + exe_))
        << Joined(lines);
}

// A journal this run cannot trust lowers no count, and says so: a folder or a second name
// for another file in its place, or an install folder reached through a link, through which
// the journal would be written elsewhere.
TEST_F(Unattended, AJournalThatCannotBeUsedLowersNoCount) {
    const std::string shared = common_ + "\\kept.dll", journal = app_ + "\\" + base_ + ".released";
    const std::string elsewhere = root_ + "\\elsewhere", linked = root_ + "\\linked";
    ASSERT_TRUE(CreateDirectoryA(elsewhere.c_str(), nullptr));
    enum { FOLDER, SECOND_NAME, LINKED_FOLDER };
    for (int way : {FOLDER, SECOND_NAME, LINKED_FOLDER}) {
        SCOPED_TRACE(way);
        if (way != FOLDER && !NTFamily())
            continue; // 95/98/Me have neither second names nor links
        ASSERT_TRUE(WriteFileText(shared, "shared"));
        Shared(shared, 2);
        pack::Block block;
        block.texts = Texts();
        block.files = {{common_, "kept.dll", pack::FILE_SHARED}};
        ASSERT_TRUE(WriteStampedUninstaller(pack::EncodeBlock(block), exe_));
        std::string program = exe_;
        std::unique_ptr<UnixLink> link;
        if (way == FOLDER) {
            ASSERT_TRUE(CreateDirectoryA(journal.c_str(), nullptr));
        } else if (way == SECOND_NAME) {
            ASSERT_TRUE(WriteFileText(elsewhere + "\\other.txt", "another file"));
            ASSERT_TRUE(
                CreateHardLinkA(journal.c_str(), (elsewhere + "\\other.txt").c_str(), nullptr));
        } else {
            link.reset(new UnixLink(linked, app_));
            ASSERT_TRUE(link->made());
            program = linked + "\\" + base_ + ".exe";
        }
        RunResult run = RunAndAnswer(program, "/S /X /L", {}, 30000);
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(1u, run.exitCode);
        EXPECT_EQ(DwordValue(2), SharedCount(shared)) << "the count was lowered";
        std::vector<std::string> lines = Lines(ReadFileText(LogPath(0)));
        bool told = false;
        for (const std::string &line : lines)
            told |= line.rfind("shared counts not lowered: the journal cannot be used: ", 0) == 0;
        EXPECT_TRUE(told) << Joined(lines);
        if (way == SECOND_NAME) {
            EXPECT_EQ("another file", ReadFileText(elsewhere + "\\other.txt"));
            DeleteFileA(journal.c_str());
        }
        RemoveDirectoryA(journal.c_str());
        RemoveLogs();
    }
}

} // namespace
