// Phase 1 and the in-use test: real files, real SharedDLLs counts, real COM server DLLs and
// the real read-only query, answered from another thread.
#include "removal_support.h"

#include "guards/guards.h"
#include "removal/removal.h"
#include "support.h"
#include "ui/ui.h"

#include <sddl.h>

#include <commctrl.h>
#include <functional>
#include <memory>

using namespace removal_tests;
using namespace testing_support;

namespace {

const char kSharedKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const char kMarkKey[] = "Software\\Vanish Tests\\Unregistered";

// A handle that keeps a file open; share 0 makes the file "in use" for everyone else.
class Holder {
  public:
    Holder() = default;
    Holder(const std::string &path, DWORD access, DWORD share) {
        handle_ = CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    ~Holder() {
        Release();
    }
    Holder(const Holder &) = delete;
    Holder &operator=(Holder &&other) {
        std::swap(handle_, other.handle_);
        return *this;
    }
    bool held() const {
        return handle_ != INVALID_HANDLE_VALUE;
    }
    void Release() {
        if (handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

  private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// The texts of the boxes and dialogs seen, in order.
::testing::AssertionResult Shown(const std::vector<Box> &boxes,
                                 const std::vector<std::string> &texts) {
    std::vector<std::string> seen;
    for (const Box &box : boxes)
        seen.push_back(box.text);
    if (seen == texts)
        return ::testing::AssertionSuccess();
    auto failure = ::testing::AssertionFailure() << "seen:";
    for (const std::string &text : seen)
        failure << " [" << text << "]";
    return failure;
}

class FilePhase : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = ScratchFolder(::testing::UnitTest::GetInstance()->current_test_info()->name());
        state_.reset(new ProgramState(folder_ + "\\"));
    }
    void TearDown() override {
        for (const std::string &name : shared_)
            DeleteValue(HKEY_LOCAL_MACHINE, kSharedKey, name);
        state_.reset();
    }
    std::string File(const std::string &name, bool readOnly = false) {
        std::string path = folder_ + "\\" + name;
        EXPECT_TRUE(WriteFileText(path, "content of " + name)) << path;
        if (readOnly) {
            EXPECT_TRUE(MakeReadOnly(path)) << path;
        }
        return path;
    }
    void Share(const std::string &path, const Value &count) {
        shared_.push_back(path);
        ASSERT_TRUE(WriteValue(HKEY_LOCAL_MACHINE, kSharedKey, path, count));
    }
    Value Count(const std::string &path) {
        return ReadValue(HKEY_LOCAL_MACHINE, kSharedKey, path);
    }
    // Runs phase 1 while the watcher answers this process's boxes and dialogs.
    std::vector<Box> Run(std::vector<Action> answers, Action fallback = Action::Press(IDNO),
                         std::function<void(HWND, const Box &)> onBox = nullptr) {
        BoxWatcher watcher(GetCurrentProcessId(), std::move(answers), fallback, onBox);
        RemoveFiles();
        return watcher.Stop();
    }

    std::string folder_;
    std::unique_ptr<ProgramState> state_;
    std::vector<std::string> shared_;
};

TEST_F(FilePhase, InUseTest) {
    std::string plain = File("plain.txt");
    std::string readOnly = File("readonly.txt", true);
    std::string heldReadOnly = File("held-readonly.txt", true);
    std::string locked = File("locked.txt");
    std::string reading = File("reading.txt");
    std::string writing = File("writing.txt");
    CreateDirectoryA((folder_ + "\\sub").c_str(), nullptr);
    Holder lock(locked, GENERIC_READ, 0);
    Holder reader(reading, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    Holder writer(writing, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
    Holder readOnlyReader(heldReadOnly, GENERIC_READ, 0);
    ASSERT_TRUE(lock.held() && reader.held() && writer.held() && readOnlyReader.held());
    static const struct {
        std::string path;
        int expected;
        bool readOnlyAfter;
    } cases[] = {
        {plain, 0, false},
        {readOnly, 0, true}, // made writable for the test, read-only again after it
        {heldReadOnly, 1, true},
        {locked, 1, false},
        {reading, 0, false}, // a reader that lets others write does not hold the file
        {writing, 1, false},
        {folder_ + "\\missing.txt", 0, false},
        {folder_ + "\\sub", 1, false}, // a folder cannot be opened as a file
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(IsFileInUse(c.path.c_str()), c.expected);
        EXPECT_EQ(IsReadOnly(c.path), c.readOnlyAfter);
    }
}

TEST_F(FilePhase, AnyFileInUseLooksAtMarkedFilesOnly) {
    std::string free = File("free.txt");
    std::string held = File("held.txt");
    std::string own = File("uninstall.exe"); // the program state's own module name
    CreateDirectoryA((folder_ + "\\sub").c_str(), nullptr);
    Holder lock(held, GENERIC_READ, 0), running(own, GENERIC_READ, 0);
    ASSERT_TRUE(lock.held());
    ASSERT_TRUE(running.held());
    static const struct {
        const char *name;
        std::vector<Entry> entries;
        int expected;
    } cases[] = {
        {"no entries", {}, 0},
        {"held but not marked", {{".", "held.txt", 0}, {".", "free.txt", FILE_CHECKINUSE}}, 0},
        {"held and marked",
         {{".", "free.txt", FILE_CHECKINUSE}, {".", "held.txt", FILE_SHARED | FILE_CHECKINUSE}},
         1},
        {"marked folder entry", {{".\\sub", "", FILE_CHECKINUSE}}, 0},
        // Neither can ever be free: a folder is no file in use, and the uninstaller's own
        // file is held by the run itself and taken by its self-removal.
        {"marked name of a folder", {{".", "sub", FILE_CHECKINUSE}}, 0},
        {"the uninstaller's own file", {{".", "uninstall.exe", FILE_CHECKINUSE}}, 0},
        {"absolute folder", {{folder_, "held.txt", FILE_CHECKINUSE}}, 1},
        {"path too long", {{folder_, std::string(300, 'h'), FILE_CHECKINUSE}}, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        state_->SetEntries(c.entries);
        EXPECT_EQ(AnyFileInUse(), c.expected);
    }
}

TEST_F(FilePhase, EntryPaths) {
    static const struct {
        Entry entry;
        std::string expected;
    } cases[] = {
        {{".", "a.dll"}, folder_ + "\\a.dll"},
        {{".\\", "a.dll"}, folder_ + "\\a.dll"},
        {{".\\sub\\dir", "a.dll"}, folder_ + "\\sub\\dir\\a.dll"},
        {{"..\\other", "a.dll"},
         folder_ + "\\a.dll"}, // any other dotted folder: the install folder
        {{".", ""}, folder_ + "\\"},
        {{"C:\\Shared\\", "a.dll"}, "C:\\Shared\\a.dll"},
        {{"", "a.dll"}, "a.dll"},
        {{"C:\\" + std::string(250, 'x'), "abcdef.dll"}, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.entry.folder + " + " + c.entry.name);
        state_->SetEntries({c.entry});
        EXPECT_EQ(BuildEntryPath(fileEntries[0]), c.expected.empty() ? 0 : 1);
        EXPECT_EQ(std::string(workPath), c.expected);
    }
}

// The outcome table of a FILE_SHARED entry, for counts stored as numbers and as text.
TEST_F(FilePhase, SharedFileOutcomes) {
    enum Answer { NotAsked, Yes, No };
    struct Case {
        const char *name;
        bool inUse;
        bool noKey;
        Value before;
        Answer answer;
        Value after;
        bool fileStays;
    };
    const Value unreadable = BinaryValue({1, 0, 0, 0, 0, 0, 0, 0});
    const std::vector<Case> cases = {
        {"free, count 3", false, false, DwordValue(3), NotAsked, DwordValue(2), true},
        {"free, count 2", false, false, DwordValue(2), NotAsked, DwordValue(1), true},
        {"free, count 1, Yes", false, false, DwordValue(1), Yes, NoValue(), false},
        {"free, count 1, No", false, false, DwordValue(1), No, DwordValue(0), true},
        {"free, count 0, Yes", false, false, DwordValue(0), Yes, NoValue(), false},
        {"free, count 0, No", false, false, DwordValue(0), No, DwordValue(0), true},
        {"free, no value, Yes", false, false, NoValue(), Yes, NoValue(), false},
        {"free, no value, No", false, false, NoValue(), No, NoValue(), true},
        {"free, unreadable, Yes", false, false, unreadable, Yes, NoValue(), false},
        {"free, unreadable, No", false, false, unreadable, No, unreadable, true},
        {"free, no key, Yes", false, true, NoValue(), Yes, NoValue(), false},
        {"free, no key, No", false, true, NoValue(), No, NoValue(), true},
        {"held, count 3", true, false, DwordValue(3), NotAsked, DwordValue(2), true},
        {"held, count 2", true, false, DwordValue(2), NotAsked, DwordValue(1), true},
        {"held, count 1", true, false, DwordValue(1), NotAsked, DwordValue(1), true},
        {"held, count 0", true, false, DwordValue(0), NotAsked, DwordValue(0), true},
        {"held, no value", true, false, NoValue(), NotAsked, NoValue(), true},
        {"held, unreadable", true, false, unreadable, NotAsked, unreadable, true},
        {"held, no key", true, true, NoValue(), NotAsked, NoValue(), true},
        // Counts stored as text are read and written back as decimal text.
        {"free, text 3", false, false, TextValue("3"), NotAsked, TextValue("2"), true},
        {"free, text 10", false, false, TextValue("10"), NotAsked, TextValue("9"), true},
        {"free, text 1, Yes", false, false, TextValue("1"), Yes, NoValue(), false},
        {"free, text 1, No", false, false, TextValue("1"), No, TextValue("0"), true},
        {"free, text 0, No", false, false, TextValue("0"), No, TextValue("0"), true},
        {"free, text not a number, No", false, false, TextValue("two"), No, TextValue("two"), true},
        {"free, text 4294967296, No", false, false, TextValue("4294967296"), No,
         TextValue("4294967296"), true},
        {"held, text 12", true, false, TextValue("12"), NotAsked, TextValue("11"), true},
        {"held, text 1", true, false, TextValue("1"), NotAsked, TextValue("1"), true},
        // Binary counts keep their size.
        {"free, binary 2 bytes", false, false, BinaryValue({5, 0}), NotAsked, BinaryValue({4, 0}),
         true},
        {"free, binary 1 byte, No", false, false, BinaryValue({1}), No, BinaryValue({0}), true},
    };
    for (size_t i = 0; i < cases.size(); i++) {
        const Case &c = cases[i];
        SCOPED_TRACE(c.name);
        std::string path = File("shared" + std::to_string(i) + ".dll");
        Share(path, c.before);
        state_->SetEntries({{".", "shared" + std::to_string(i) + ".dll", FILE_SHARED}});
        Holder lock;
        if (c.inUse) {
            lock = Holder(path, GENERIC_READ, 0);
            ASSERT_TRUE(lock.held());
        }
        std::vector<Box> boxes;
        {
            // The key cannot be deleted for real: the machine root is redirected instead.
            std::unique_ptr<RootRedirect> redirect;
            if (c.noKey) {
                redirect.reset(new RootRedirect(HKEY_LOCAL_MACHINE));
                ASSERT_TRUE(redirect->active());
            }
            boxes = Run({Action::Press(c.answer == Yes ? IDYES : IDNO)});
        }
        lock.Release();
        if (c.answer == NotAsked)
            EXPECT_TRUE(Shown(boxes, {}));
        else
            EXPECT_TRUE(Shown(boxes, {"Shared: " + path}));
        EXPECT_EQ(Describe(Count(path)), Describe(c.after));
        EXPECT_EQ(FileExists(path), c.fileStays);
    }
}

// Several shared files in one run, with a question between them: each count is read and
// written for its own file, also after the user was asked.
TEST_F(FilePhase, SharedFilesInOneRun) {
    struct Case {
        const char *name;
        Value before;
        Value after;
        bool fileStays;
    };
    // Handled from the last to the first: the question comes for "one" and for "none".
    const std::vector<Case> cases = {
        {"text5.dll", TextValue("5"), TextValue("4"), true},
        {"none.dll", NoValue(), NoValue(), true},
        {"two.dll", DwordValue(2), DwordValue(1), true},
        {"one.dll", DwordValue(1), NoValue(), false},
        {"three.dll", DwordValue(3), DwordValue(2), true},
    };
    std::vector<Entry> entries;
    for (const Case &c : cases) {
        Share(File(c.name), c.before);
        entries.push_back({".", c.name, FILE_SHARED});
    }
    state_->SetEntries(entries);
    std::vector<Box> boxes = Run({Action::Press(IDYES), Action::Press(IDNO)});
    EXPECT_TRUE(
        Shown(boxes, {"Shared: " + folder_ + "\\one.dll", "Shared: " + folder_ + "\\none.dll"}));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = folder_ + "\\" + c.name;
        EXPECT_EQ(Describe(Count(path)), Describe(c.after));
        EXPECT_EQ(FileExists(path), c.fileStays);
    }
}

TEST_F(FilePhase, ReadOnlyQueryAnswers) {
    static const struct {
        const char *name;
        Action action;
        bool fileStays;
        int answerAfter;
    } cases[] = {
        {"Yes", Action::Press(IDYES), false, -1},
        {"Yes to all", Action::Press(IDC_YESTOALL), false, 1},
        {"No", Action::Press(IDNO), true, -1},
        {"No to all", Action::Press(IDC_NOTOALL), true, 0},
        {"Esc", Action::Key(Action::Escape), true, -1},
        {"close box", Action::Key(Action::Close), true, -1},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; i++) {
        const auto &c = cases[i];
        SCOPED_TRACE(c.name);
        std::string name = "readonly" + std::to_string(i) + ".txt";
        std::string path = File(name, true);
        state_->SetEntries({{".", name, 0}});
        readOnlyAnswer = -1;
        std::vector<Box> boxes = Run({c.action});
        EXPECT_TRUE(Shown(boxes, {"Read-only: " + path}));
        EXPECT_EQ(FileExists(path), c.fileStays);
        if (c.fileStays) {
            EXPECT_TRUE(IsReadOnly(path)); // restored after the in-use test
        }
        EXPECT_EQ(readOnlyAnswer, c.answerAfter);
    }
}

TEST_F(FilePhase, ReadOnlyAnswerForAllIsRemembered) {
    // The last entry is handled first: its answer decides the two before it.
    static const struct {
        const char *name;
        Action first;
        bool filesStay;
    } cases[] = {
        {"yes to all", Action::Press(IDC_YESTOALL), false},
        {"no to all", Action::Press(IDC_NOTOALL), true},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; i++) {
        const auto &c = cases[i];
        SCOPED_TRACE(c.name);
        std::vector<std::string> paths;
        std::vector<Entry> entries;
        for (int n = 0; n < 3; n++) {
            std::string name = "ro" + std::to_string(i) + "-" + std::to_string(n) + ".txt";
            paths.push_back(File(name, true));
            entries.push_back({".", name, 0});
        }
        // Fonts and COM servers go without a question, even after no to all.
        std::string font = File("font" + std::to_string(i) + ".ttf", true);
        std::string server = File("server" + std::to_string(i) + ".dll", true);
        entries.insert(entries.begin(), {".", "font" + std::to_string(i) + ".ttf", FILE_FONT});
        entries.insert(entries.begin(),
                       {".", "server" + std::to_string(i) + ".dll", FILE_COMSERVER});
        state_->SetEntries(entries);
        readOnlyAnswer = -1;
        std::vector<Box> boxes = Run({c.first}, Action::Press(IDNO));
        EXPECT_TRUE(Shown(boxes, {"Read-only: " + paths[2]}));
        for (const std::string &path : paths)
            EXPECT_EQ(FileExists(path), c.filesStay) << path;
        EXPECT_FALSE(FileExists(font));
        EXPECT_FALSE(FileExists(server));
    }
}

TEST_F(FilePhase, FontsAndServersSkipTheQuery) {
    std::string font = File("font.ttf", true);
    std::string server = File("server.dll", true);
    state_->SetEntries({{".", "font.ttf", FILE_FONT}, {".", "server.dll", FILE_COMSERVER}});
    readOnlyAnswer = -1;
    EXPECT_TRUE(Run({}).empty());
    EXPECT_FALSE(FileExists(font));
    EXPECT_FALSE(FileExists(server));
}

// Yes clears the attribute; when the deletion then fails because another handle holds the
// file, the file stays, writable, and is not asked about again. The handle is taken while
// the shared-file question is up, after the in-use test.
TEST_F(FilePhase, YesOnAFileHeldElsewhereAsksOnce) {
    std::string path = File("held.dll", true);
    state_->SetEntries({{".", "held.dll", FILE_SHARED}});
    DeleteValue(HKEY_LOCAL_MACHINE, kSharedKey, path);
    Holder holder;
    std::vector<Box> boxes = Run({Action::Press(IDYES), Action::Press(IDYES)}, Action::Press(IDNO),
                                 [&](HWND, const Box &box) {
                                     if (box.text == "Shared: " + path)
                                         holder = Holder(path, GENERIC_READ, FILE_SHARE_READ);
                                 });
    ASSERT_TRUE(holder.held());
    holder.Release();
    EXPECT_TRUE(Shown(boxes, {"Shared: " + path, "Read-only: " + path}));
    EXPECT_TRUE(FileExists(path));
    EXPECT_FALSE(IsReadOnly(path));
    EXPECT_EQ(readOnlyAnswer, -1);
}

TEST_F(FilePhase, YesOnAnAttributeThatCannotBeClearedAsksAgain) {
    // The in-use test, which comes first, counts such a file as in use; the query can only
    // come back when the attribute becomes fixed between the two. Wine lets every caller
    // clear the attribute (no ACLs, and the tests run as root), so nothing fixes it here.
    GTEST_SKIP() << "no file attribute can be made impossible to clear under Wine";
}

// A run with an administrator's rights (Wine's every program's) loads no COM server from a
// folder that others may write: its code, and the DLLs it finds beside it, could be anyone's.
// The file still goes; from a folder only administrators write, the server unregisters.
TEST_F(FilePhase, ComServersLoadOnlyWhereOthersCannotWrite) {
    if (!CanCheckNames())
        GTEST_SKIP() << "95/98/Me: every program may change every file";
    ASSERT_TRUE(RunsAsAdministrator());
    RemoveKeyTree(HKEY_CURRENT_USER, kMarkKey);
    std::string fixtures = BuildFolder() + "\\tests\\fixtures\\";
    for (const char *folder : {"\\open", "\\held"}) {
        ASSERT_TRUE(CreateDirectoryA((folder_ + folder).c_str(), nullptr));
        ASSERT_TRUE(CopyFileA((fixtures + "comserver.dll").c_str(),
                              (folder_ + folder + "\\server.dll").c_str(), FALSE));
    }
    PSECURITY_DESCRIPTOR open = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
        "D:(A;OICI;FA;;;WD)", SDDL_REVISION_1, &open, nullptr));
    ASSERT_TRUE(SetFileSecurityA((folder_ + "\\open").c_str(), DACL_SECURITY_INFORMATION, open));
    LocalFree(open);
    state_->SetEntries(
        {{".\\open", "server.dll", FILE_COMSERVER}, {".\\held", "server.dll", FILE_COMSERVER}});
    EXPECT_TRUE(Run({}).empty());
    EXPECT_FALSE(ReadValue(HKEY_CURRENT_USER, kMarkKey, folder_ + "\\open\\server.dll").present)
        << "a server in a folder everyone may write was loaded";
    EXPECT_TRUE(ReadValue(HKEY_CURRENT_USER, kMarkKey, folder_ + "\\held\\server.dll").present);
    EXPECT_FALSE(FileExists(folder_ + "\\open\\server.dll"));
    EXPECT_FALSE(FileExists(folder_ + "\\held\\server.dll"));
}

TEST_F(FilePhase, ComServersUnregisterInProcess) {
    RemoveKeyTree(HKEY_CURRENT_USER, kMarkKey);
    // Start-up limits the DLL search; a server must still find the DLLs beside it, those it
    // imports and those it loads by their bare names while it unregisters.
    RestrictDllSearch();
    std::string fixtures = BuildFolder() + "\\tests\\fixtures\\";
    CreateDirectoryA((folder_ + "\\dep").c_str(), nullptr);
    struct Copy {
        const char *from;
        const char *to;
    };
    static const Copy copies[] = {
        {"comserver.dll", "server.dll"},         {"comdependent.dll", "dep\\dependent.dll"},
        {"comhelper.dll", "dep\\comhelper.dll"}, {"comloader.dll", "dep\\loader.dll"},
        {"blockhost.dll", "noexport.dll"},
    };
    for (const Copy &copy : copies)
        ASSERT_TRUE(
            CopyFileA((fixtures + copy.from).c_str(), (folder_ + "\\" + copy.to).c_str(), FALSE))
            << copy.from;
    std::string notDll = File("notadll.dll");
    // A copy of the dependent server beside the helper, loaded the plain way, shows that the
    // helper is only found when the folder is searched. (A failed load keeps its file mapped
    // under Wine, hence the copy.)
    ASSERT_TRUE(CopyFileA((fixtures + "comdependent.dll").c_str(),
                          (folder_ + "\\dep\\probe.dll").c_str(), FALSE));
    HMODULE plain = LoadLibraryA((folder_ + "\\dep\\probe.dll").c_str());
    EXPECT_EQ(plain, nullptr) << "the plain load found the DLL beside the server";
    if (plain)
        FreeLibrary(plain);
    state_->SetEntries({{".", "server.dll", FILE_COMSERVER},
                        {".\\dep", "dependent.dll", FILE_COMSERVER},
                        {".\\dep", "loader.dll", FILE_COMSERVER},
                        {".", "noexport.dll", FILE_COMSERVER},
                        {".", "notadll.dll", FILE_COMSERVER}});
    EXPECT_TRUE(Run({}).empty());
    static const struct {
        const char *file;
        bool marked;
    } cases[] = {
        {"server.dll", true},      {"dep\\dependent.dll", true},
        {"dep\\loader.dll", true}, // loads the helper by its bare name while it unregisters
        {"noexport.dll", false},   {"notadll.dll", false},
    };
    for (const auto &c : cases) {
        std::string path = folder_ + "\\" + c.file;
        SCOPED_TRACE(path);
        EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kMarkKey, path).present, c.marked);
        EXPECT_EQ(GetModuleHandleA(path.c_str()), nullptr); // freed again
        EXPECT_FALSE(FileExists(path));
    }
    EXPECT_TRUE(FileExists(folder_ + "\\dep\\comhelper.dll")); // not an entry
    RemoveKeyTree(HKEY_CURRENT_USER, kMarkKey);
}

// Makes a folder the current directory for one test.
class CurrentDirectory {
  public:
    explicit CurrentDirectory(const std::string &path) {
        GetCurrentDirectoryA(MAX_PATH, previous_);
        changed_ = SetCurrentDirectoryA(path.c_str()) != 0;
    }
    ~CurrentDirectory() {
        SetCurrentDirectoryA(previous_);
    }
    bool changed() const {
        return changed_;
    }

  private:
    char previous_[MAX_PATH] = "";
    bool changed_;
};

// A server named relative to the current directory (an empty folder and a bare name, or a
// folder without a drive) is unregistered before the file there is deleted; the limited
// DLL search loads only full paths.
TEST_F(FilePhase, ComServersWithRelativePathsUnregister) {
    RemoveKeyTree(HKEY_CURRENT_USER, kMarkKey);
    RestrictDllSearch();
    std::string server = BuildFolder() + "\\tests\\fixtures\\comserver.dll";
    ASSERT_TRUE(CreateDirectoryA((folder_ + "\\sub").c_str(), nullptr));
    static const struct {
        const char *folder;
        const char *name;
        const char *file; // below the current directory
    } cases[] = {{"", "bare.dll", "bare.dll"}, {"sub", "relative.dll", "sub\\relative.dll"}};
    std::vector<Entry> entries;
    for (const auto &c : cases) {
        ASSERT_TRUE(CopyFileA(server.c_str(), (folder_ + "\\" + c.file).c_str(), FALSE));
        entries.push_back({c.folder, c.name, FILE_COMSERVER});
    }
    state_->SetEntries(entries);
    {
        CurrentDirectory current(folder_);
        ASSERT_TRUE(current.changed());
        EXPECT_TRUE(Run({}).empty());
    }
    for (const auto &c : cases) {
        std::string path = folder_ + "\\" + c.file;
        SCOPED_TRACE(path);
        EXPECT_TRUE(ReadValue(HKEY_CURRENT_USER, kMarkKey, path).present) << "not unregistered";
        EXPECT_EQ(GetModuleHandleA(path.c_str()), nullptr); // freed again
        EXPECT_FALSE(FileExists(path));
    }
    RemoveKeyTree(HKEY_CURRENT_USER, kMarkKey);
}

// Links such as a user who can write in a folder of the application could plant; Wine's Unix
// links stand in for junctions and symbolic links. Nothing is deleted or removed through one.
// Wine opens a link's target even when asked for the link itself, so a link that an entry
// names stays as well (on Windows it goes, as the link) and counts as left.
TEST_F(FilePhase, NothingThroughALink) {
    if (!isNT)
        GTEST_SKIP() << "the 95/98/Me family has no links; it removes by the plain calls";
    std::string user = folder_ + "\\user"; // the user's own things, which no entry names
    ASSERT_TRUE(CreateDirectoryA(user.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((user + "\\empty").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((folder_ + "\\plain").c_str(), nullptr));
    File("user\\notes.txt");
    File("user\\own.txt", true); // read-only: the in-use test may clear the attribute
    File("plain\\real.txt");
    UnixLink data(folder_ + "\\data", user);
    UnixLink empty(folder_ + "\\gone", user + "\\empty");
    UnixLink file(folder_ + "\\own-link.txt", user + "\\own.txt");
    ASSERT_TRUE(data.made() && empty.made() && file.made());
    static const struct {
        const char *name;
        Entry entry;
        std::vector<std::string> stay, gone; // below the install folder
        DWORD left;                          // counted as left: folder attempts count later
    } cases[] = {
        {"a file below a link to the user's folder",
         {".\\data", "notes.txt", FILE_SHARED},
         {"user\\notes.txt"},
         {},
         1},
        {"the same without flags", {".\\data", "notes.txt"}, {"user\\notes.txt"}, {}, 1},
        {"a link to the user's file", {".", "own-link.txt"}, {"user\\own.txt"}, {}, 1},
        {"a link to the user's folder, as a folder", {".\\data", ""}, {"user\\notes.txt"}, {}, 0},
        {"a link to an empty folder, as a folder", {".\\gone", ""}, {"user\\empty"}, {}, 0},
        {"a file of a real folder", {".\\plain", "real.txt"}, {}, {"plain\\real.txt"}, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        state_->SetEntries({c.entry});
        DWORD left = itemCounts[ITEM_LEFT];
        EXPECT_TRUE(Run({}).empty()); // no shared-file question either
        EXPECT_EQ(itemCounts[ITEM_LEFT] - left, c.left);
        for (const std::string &path : c.stay)
            EXPECT_TRUE(FileExists(folder_ + "\\" + path)) << path;
        for (const std::string &path : c.gone)
            EXPECT_FALSE(FileExists(folder_ + "\\" + path)) << path;
    }
    EXPECT_TRUE(IsReadOnly(user + "\\own.txt"));
}

// The names of the files whose attributes change in a folder, as the system reports them,
// until the change of one named last: what came before it is all there was by then.
class AttributeChanges {
  public:
    explicit AttributeChanges(const std::string &folder) {
        folder_ =
            CreateFileA(folder.c_str(), FILE_LIST_DIRECTORY,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
        overlapped_.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        Watch();
    }
    ~AttributeChanges() {
        CancelIo(folder_);
        CloseHandle(folder_);
        CloseHandle(overlapped_.hEvent);
    }
    bool watching() const {
        return watching_;
    }
    std::vector<std::string> Until(const std::string &last) {
        std::vector<std::string> names;
        while (watching_ && WaitForSingleObject(overlapped_.hEvent, 30000) == WAIT_OBJECT_0) {
            DWORD got = 0;
            if (!GetOverlappedResult(folder_, &overlapped_, &got, FALSE))
                break;
            bool done = false;
            for (DWORD at = 0; got;) {
                const FILE_NOTIFY_INFORMATION *change =
                    (const FILE_NOTIFY_INFORMATION *)(buffer_ + at);
                char name[MAX_PATH] = "";
                WideCharToMultiByte(CP_ACP, 0, change->FileName,
                                    (int)(change->FileNameLength / sizeof(WCHAR)), name,
                                    MAX_PATH - 1, nullptr, nullptr);
                names.push_back(name);
                done |= last == name;
                if (!change->NextEntryOffset)
                    break;
                at += change->NextEntryOffset;
            }
            if (done)
                break;
            Watch();
        }
        return names;
    }

  private:
    void Watch() {
        ResetEvent(overlapped_.hEvent);
        watching_ = ReadDirectoryChangesW(folder_, buffer_, sizeof buffer_, FALSE,
                                          FILE_NOTIFY_CHANGE_ATTRIBUTES, nullptr, &overlapped_,
                                          nullptr) != 0;
    }
    HANDLE folder_;
    OVERLAPPED overlapped_ = {};
    alignas(DWORD) BYTE buffer_[8192];
    bool watching_ = false;
};

// Attributes are read and changed through the handle that checked the item, never by name:
// the in-use test at the start, and the read-only handling of phase 1, clear no read-only
// bit for a moment of a user's file that a link leads to.
TEST_F(FilePhase, NoAttributeChangesThroughALink) {
    if (!isNT)
        GTEST_SKIP() << "the 95/98/Me family has no links; it removes by the plain calls";
    std::string user = folder_ + "\\user";
    ASSERT_TRUE(CreateDirectoryA(user.c_str(), nullptr));
    File("user\\own.txt", true);
    std::string marker = File("user\\marker.txt");
    UnixLink data(folder_ + "\\data", user);
    ASSERT_TRUE(data.made());
    AttributeChanges changes(user);
    ASSERT_TRUE(changes.watching());
    // Held, so that it cannot be opened for writing: the in-use test then looks at its
    // attributes (Wine runs as the host's root, who may open a read-only file for writing).
    Holder holder(user + "\\own.txt", GENERIC_READ, FILE_SHARE_READ);
    ASSERT_TRUE(holder.held());
    state_->SetEntries({{".\\data", "own.txt", FILE_CHECKINUSE}});
    EXPECT_EQ(0, AnyFileInUse()) << "a file reached through a link is none of the run's";
    readOnlyAnswer = 1; // yes to all: phase 1 would clear the bit of a file it may remove
    EXPECT_TRUE(Run({}).empty());
    ASSERT_TRUE(SetFileAttributesA(marker.c_str(), FILE_ATTRIBUTE_READONLY));
    std::vector<std::string> seen = changes.Until("marker.txt");
    EXPECT_EQ(std::vector<std::string>{"marker.txt"}, seen);
    EXPECT_TRUE(IsReadOnly(user + "\\own.txt"));
    SetFileAttributesA(marker.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// Links above a folder the program protects belong to the system or the user (a profile kept
// on another drive): what lies below that folder goes, as long as nothing below it, and not
// the folder itself, is a link. A folder of the application made a link to a protected folder
// of the same name may count as that folder, but is no protected folder of its own.
TEST_F(FilePhase, LinksAboveAProtectedFolderDoNotCount) {
    for (const char *name :
         {"elsewhere", "elsewhere\\Programs", "elsewhere\\Programs\\App", "user", "common", "inst"})
        ASSERT_TRUE(CreateDirectoryA((folder_ + "\\" + name).c_str(), nullptr)) << name;
    File("elsewhere\\Programs\\App\\app.txt");
    File("user\\notes.txt");
    File("common\\own.txt");
    UnixLink top(folder_ + "\\Top", folder_ + "\\elsewhere");
    UnixLink cache(folder_ + "\\elsewhere\\Programs\\App\\cache", folder_ + "\\user");
    UnixLink common(folder_ + "\\inst\\common", folder_ + "\\common");
    ASSERT_TRUE(top.made() && cache.made() && common.made());
    RootRedirect machine(HKEY_LOCAL_MACHINE);
    if (!machine.active())
        GTEST_SKIP() << "HKEY_LOCAL_MACHINE cannot be redirected here";
    const std::string version = "Software\\Microsoft\\Windows\\CurrentVersion";
    ASSERT_TRUE(machine.Write(version, "ProgramFilesDir", REG_SZ, folder_ + "\\Top\\Programs"));
    ASSERT_TRUE(machine.Write(version, "CommonFilesDir", REG_SZ, folder_ + "\\common"));
    std::string app = folder_ + "\\Top\\Programs\\App";
    state_->SetEntries({{app, "", 0},
                        {app, "app.txt", 0},
                        {app + "\\cache", "notes.txt", 0},
                        {folder_ + "\\inst\\common", "own.txt", 0}});
    DWORD left = itemCounts[ITEM_LEFT];
    EXPECT_TRUE(Run({}).empty());
    EXPECT_FALSE(FileExists(folder_ + "\\elsewhere\\Programs\\App\\app.txt"));
    EXPECT_TRUE(FileExists(folder_ + "\\user\\notes.txt")) << "a link below the protected folder";
    EXPECT_TRUE(FileExists(folder_ + "\\common\\own.txt")) << "a link as the protected folder";
    EXPECT_EQ(itemCounts[ITEM_LEFT] - left, 2u);
    EXPECT_TRUE(FileExists(folder_ + "\\elsewhere\\Programs\\App")) << "it still holds the link";
}

// A COM server is loaded only by its own name: neither one in a folder that a link leads to
// nor a link to one is loaded, so a DLL planted there never runs in the uninstaller.
TEST_F(FilePhase, ComServersThroughALinkAreNotLoaded) {
    RemoveKeyTree(HKEY_CURRENT_USER, kMarkKey);
    RestrictDllSearch();
    std::string server = BuildFolder() + "\\tests\\fixtures\\comserver.dll";
    std::string planted = folder_ + "\\planted";
    ASSERT_TRUE(CreateDirectoryA(planted.c_str(), nullptr));
    ASSERT_TRUE(CopyFileA(server.c_str(), (planted + "\\server.dll").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(server.c_str(), (planted + "\\other.dll").c_str(), FALSE));
    UnixLink plugins(folder_ + "\\plugins", planted);
    UnixLink linked(folder_ + "\\linked.dll", planted + "\\other.dll");
    ASSERT_TRUE(plugins.made() && linked.made());
    state_->SetEntries(
        {{".\\plugins", "server.dll", FILE_COMSERVER}, {".", "linked.dll", FILE_COMSERVER}});
    EXPECT_TRUE(Run({}).empty());
    for (const std::string &path : {planted + "\\server.dll", folder_ + "\\plugins\\server.dll",
                                    planted + "\\other.dll", folder_ + "\\linked.dll"}) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(ReadValue(HKEY_CURRENT_USER, kMarkKey, path).present) << "it ran";
        EXPECT_EQ(GetModuleHandleA(path.c_str()), nullptr);
    }
    EXPECT_TRUE(FileExists(planted + "\\server.dll"));
    EXPECT_TRUE(FileExists(planted + "\\other.dll"));
    RemoveKeyTree(HKEY_CURRENT_USER, kMarkKey);
}

// Deletion by an item's own name fails as the plain calls fail, so the phases tell access
// denied from any other error as before, and refuses what a link leads to.
TEST_F(FilePhase, DeletionByOwnName) {
    for (const char *name : {"empty", "empty2", "as-file", "full", "user"})
        ASSERT_TRUE(CreateDirectoryA((folder_ + "\\" + name).c_str(), nullptr)) << name;
    for (const char *name :
         {"file.txt", "as-folder.txt", "full\\inside.txt", "user\\notes.txt", "relative.txt"})
        File(name);
    UnixLink data(folder_ + "\\data", folder_ + "\\user");
    ASSERT_TRUE(CreateDirectoryA((folder_ + "\\user\\empty").c_str(), nullptr));
    UnixLink empty(folder_ + "\\gone", folder_ + "\\user\\empty");
    ASSERT_TRUE(data.made() && empty.made());
    static const struct {
        const char *path; // below the install folder, or relative to it as the current folder
        int folder;
        DWORD error; // 0: deleted
        const char *stays;
    } cases[] = {
        {"file.txt", 0, 0, nullptr},
        {"empty", 1, 0, nullptr},
        {"empty2\\", 1, 0, nullptr},
        {"as-file", 0, ERROR_ACCESS_DENIED, "as-file"},
        {"as-folder.txt", 1, ERROR_DIRECTORY, "as-folder.txt"},
        {"full", 1, ERROR_DIR_NOT_EMPTY, "full\\inside.txt"},
        {"missing.txt", 0, ERROR_FILE_NOT_FOUND, nullptr},
        {"data\\notes.txt", 0, REACHED_THROUGH_LINK, "user\\notes.txt"},
        {"gone", 1, REACHED_THROUGH_LINK, "user\\empty"},
        {"", 0, 0, nullptr}, // relative.txt, by its bare name
    };
    CurrentDirectory current(folder_);
    ASSERT_TRUE(current.changed());
    for (const auto &c : cases) {
        std::string path = c.path[0] ? folder_ + "\\" + c.path : "relative.txt";
        SCOPED_TRACE(path);
        SetLastError(0);
        int done = DeleteByOwnName(path.c_str(), c.folder);
        DWORD error = GetLastError();
        EXPECT_EQ(done, c.error == 0);
        if (c.error) {
            EXPECT_EQ(error, c.error);
        } else {
            EXPECT_FALSE(FileExists(c.path[0] ? path : folder_ + "\\relative.txt"));
        }
        if (c.stays) {
            EXPECT_TRUE(FileExists(folder_ + "\\" + c.stays));
        }
    }
}

TEST_F(FilePhase, FolderEntriesGoAfterTheFilesListedAfterThem) {
    static const struct {
        const char *name;
        bool folderFirst;
        bool folderStays;
    } cases[] = {
        {"folder listed before its files", true, false},
        {"folder listed after its files", false, true},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; i++) {
        const auto &c = cases[i];
        SCOPED_TRACE(c.name);
        std::string sub = "sub" + std::to_string(i);
        ASSERT_TRUE(CreateDirectoryA((folder_ + "\\" + sub).c_str(), nullptr));
        File(sub + "\\a.txt");
        File(sub + "\\b.txt");
        std::vector<Entry> entries = {{".\\" + sub, "a.txt", 0}, {".\\" + sub, "b.txt", 0}};
        Entry folder{folder_ + "\\" + sub, "", 0};
        if (c.folderFirst)
            entries.insert(entries.begin(), folder);
        else
            entries.push_back(folder);
        state_->SetEntries(entries);
        EXPECT_TRUE(Run({}).empty());
        EXPECT_FALSE(FileExists(folder_ + "\\" + sub + "\\a.txt"));
        EXPECT_FALSE(FileExists(folder_ + "\\" + sub + "\\b.txt"));
        EXPECT_EQ(FileExists(folder_ + "\\" + sub), c.folderStays);
    }
}

TEST_F(FilePhase, ProtectedFolderEntryStays) {
    // An empty folder that the registry names as the Program Files folder.
    std::string empty = folder_ + "\\Programs";
    ASSERT_TRUE(CreateDirectoryA(empty.c_str(), nullptr));
    RootRedirect machine(HKEY_LOCAL_MACHINE);
    if (!machine.active())
        GTEST_SKIP() << "HKEY_LOCAL_MACHINE cannot be redirected here";
    ASSERT_TRUE(machine.Write("Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir",
                              REG_SZ, empty));
    state_->SetEntries({{empty + "\\", "", 0}, {"", "", 0}});
    EXPECT_TRUE(Run({}).empty());
    EXPECT_TRUE(FileExists(empty));
}

TEST_F(FilePhase, PathTooLongIsPassedOver) {
    // Cut to the 259 characters the system takes, each entry would name this file or folder.
    std::string prefix = folder_ + "\\";
    std::string longName = std::string(MAX_PATH - 1 - prefix.size(), 'v');
    std::string cutFile = File(longName);
    ASSERT_EQ(cutFile.size(), MAX_PATH - 1u);
    std::string cutFolder = folder_ + "\\d\\" + std::string(MAX_PATH - 1 - prefix.size() - 2, 'w');
    ASSERT_EQ(cutFolder.size(), MAX_PATH - 1u);
    ASSERT_TRUE(CreateDirectoryA((folder_ + "\\d").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(cutFolder.c_str(), nullptr));
    Share(cutFile, DwordValue(1));
    state_->SetEntries({{".", longName + "xyz.dll", FILE_SHARED}, {cutFolder + "zz", "", 0}});
    RecordingWindow bar;
    ASSERT_TRUE(bar.handle());
    progressBar = bar.handle();
    progressTotal = 2;
    lastPercentage = 100;
    EXPECT_TRUE(Run({}).empty()); // no question for the entry that was passed over
    EXPECT_TRUE(FileExists(cutFile));
    EXPECT_TRUE(FileExists(cutFolder));
    EXPECT_EQ(Describe(Count(cutFile)), Describe(DwordValue(1)));
    std::vector<WPARAM> reported;
    for (auto &message : bar.messages)
        if (message.first == PBM_SETPOS)
            reported.push_back(message.second);
    EXPECT_EQ(reported, (std::vector<WPARAM>{0, 50}));
}

TEST_F(FilePhase, ProgressFigures) {
    static const struct {
        const char *name;
        DWORD total;
        std::vector<WPARAM> expected;
    } cases[] = {
        {"four file entries and nothing else", 8, {0, 12, 25, 37}},
        {"no progress dialog", 0, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Entry> entries;
        for (int n = 0; n < 4; n++) {
            File("p" + std::to_string(n) + ".txt");
            entries.push_back({".", "p" + std::to_string(n) + ".txt", 0});
        }
        state_->SetEntries(entries);
        RecordingWindow bar;
        ASSERT_TRUE(bar.handle());
        progressBar = bar.handle();
        progressTotal = c.total;
        lastPercentage = 100; // so that a first report of 0 reaches the bar
        EXPECT_TRUE(Run({}).empty());
        std::vector<WPARAM> reported;
        for (auto &message : bar.messages)
            if (message.first == PBM_SETPOS)
                reported.push_back(message.second);
        EXPECT_EQ(reported, c.expected);
        for (int n = 0; n < 4; n++)
            EXPECT_FALSE(FileExists(folder_ + "\\p" + std::to_string(n) + ".txt"));
    }
}

} // namespace
