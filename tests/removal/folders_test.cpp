// Phases 2 and 3 on real folders: the walks up the parent chain, the current directory, the
// protected folders on the way, paths that do not fit, and progress.
#include "entries_support.h"
#include "removal_support.h"

#include "removal/removal.h"
#include "support.h"

#include <commctrl.h>
#include <shlobj.h>

#include <functional>
#include <memory>

using namespace removal_tests;
using namespace testing_support;

namespace {

std::string CurrentDirectory() {
    char path[MAX_PATH];
    DWORD n = GetCurrentDirectoryA(MAX_PATH, path);
    return std::string(path, n < MAX_PATH ? n : 0);
}

bool SamePath(const std::string &a, const std::string &b) {
    return lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

// A window that stands in for the progress bar: it records each position and lets the test
// act between two entries of a phase, while the phase drains its messages.
class StepWindow {
  public:
    StepWindow() {
        static ATOM windowClass = [] {
            WNDCLASSA description = {};
            description.lpfnWndProc = Procedure;
            description.hInstance = GetModuleHandleA(nullptr);
            description.lpszClassName = "VanishStepWindow";
            return RegisterClassA(&description);
        }();
        window_ = CreateWindowExA(0, MAKEINTATOM(windowClass), "", WS_OVERLAPPED, 0, 0, 10, 10,
                                  nullptr, nullptr, GetModuleHandleA(nullptr), this);
    }
    ~StepWindow() {
        if (window_)
            DestroyWindow(window_);
    }
    HWND handle() const {
        return window_;
    }
    std::vector<WPARAM> positions;
    std::function<void(WPARAM)> onStep;

  private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE)
            SetWindowLongPtrA(window, GWLP_USERDATA,
                              (LONG_PTR)((CREATESTRUCTA *)lParam)->lpCreateParams);
        auto *self = (StepWindow *)GetWindowLongPtrA(window, GWLP_USERDATA);
        if (self && message == PBM_SETPOS) {
            self->positions.push_back(wParam);
            if (self->onStep)
                self->onStep(wParam);
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }
    HWND window_ = nullptr;
};

class FolderPhases : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = CurrentDirectory();
        SetCurrentDirectoryA("C:\\"); // never inside a scratch folder that is wiped
        folder_ = ScratchFolder(::testing::UnitTest::GetInstance()->current_test_info()->name());
        install_ = folder_ + "\\inst";
        ASSERT_TRUE(CreateDirectoryA(install_.c_str(), nullptr));
        state_.reset(new ProgramState(install_ + "\\"));
    }
    void TearDown() override {
        SetCurrentDirectoryA(saved_.c_str());
        progressTotal = 0;
        progressBar = nullptr;
        state_.reset();
    }
    std::string Path(const std::string &relative) const {
        return relative.empty() ? folder_ : folder_ + "\\" + relative;
    }
    void Make(const std::string &relative) {
        std::string path = Path(relative);
        for (size_t at = folder_.size() + 1; (at = path.find('\\', at)) != std::string::npos; at++)
            CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
        ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr) ||
                    GetLastError() == ERROR_ALREADY_EXISTS)
            << path;
    }
    void Put(const std::string &relative) {
        size_t slash = relative.rfind('\\');
        if (slash != std::string::npos)
            Make(relative.substr(0, slash));
        ASSERT_TRUE(WriteFileText(Path(relative), "content")) << relative;
    }
    // Every relative path in gone is absent, every one in kept is present.
    ::testing::AssertionResult Left(const std::vector<std::string> &gone,
                                    const std::vector<std::string> &kept) {
        auto result = ::testing::AssertionSuccess();
        bool ok = true;
        for (const std::string &path : gone)
            if (FileExists(Path(path))) {
                ok = false;
                result = ::testing::AssertionFailure() << "still there: " << path;
            }
        for (const std::string &path : kept)
            if (!FileExists(Path(path))) {
                ok = false;
                result = ::testing::AssertionFailure() << "removed: " << path;
            }
        return ok ? ::testing::AssertionSuccess() : result;
    }

    std::string saved_, folder_, install_;
    std::unique_ptr<ProgramState> state_;
    PhaseEntries entries_;
};

struct Layout {
    std::vector<std::string> folders; // relative to the test's scratch folder
    std::vector<std::string> files;
};

TEST_F(FolderPhases, FolderEntryWalks) {
    struct Case {
        const char *name;
        Layout layout;
        FolderRow entry; // its folder relative to the scratch folder
        std::vector<std::string> gone, kept;
        std::string folderAfter; // relative
        DWORD levelsAfter;
    };
    const std::vector<Case> cases = {
        {"levels 0 removes the folder only",
         {{"A\\B\\C"}, {}},
         {0, "A\\B\\C", ""},
         {"A\\B\\C"},
         {"A\\B"},
         "A\\B\\C",
         0},
        {"levels 2 tries the folder and two parents",
         {{"A\\B\\C"}, {}},
         {2, "A\\B\\C", ""},
         {"A\\B\\C", "A\\B", "A"},
         {""},
         "A",
         0},
        {"levels 1 leaves the grandparent",
         {{"A\\B\\C"}, {}},
         {1, "A\\B\\C", ""},
         {"A\\B\\C", "A\\B"},
         {"A"},
         "A\\B",
         0},
        {"a folder that is gone does not end the walk",
         {{"A\\B"}, {}},
         {2, "A\\B\\C", ""},
         {"A\\B", "A"},
         {""},
         "A",
         0},
        {"a trailing backslash spends a level on the same folder",
         {{"A\\B"}, {}},
         {1, "A\\B\\", ""},
         {"A\\B"},
         {"A"},
         "A\\B",
         0},
        {"the extra file goes first",
         {{}, {"A\\B\\app.log"}},
         {1, "A\\B", "app.log"},
         {"A\\B\\app.log", "A\\B", "A"},
         {""},
         "A",
         0},
        {"a user's file keeps the folders, the walk still goes up",
         {{}, {"A\\B\\app.log", "A\\B\\mine.txt"}},
         {2, "A\\B", "app.log"},
         {"A\\B\\app.log"},
         {"A\\B\\mine.txt", "A\\B", "A", ""},
         "",
         0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        RemoveTree(Path("A"));
        for (const std::string &f : c.layout.folders)
            Make(f);
        for (const std::string &f : c.layout.files)
            Put(f);
        entries_.SetFolders({{c.entry.levels, Path(c.entry.folder), c.entry.file}});
        RemoveFolderEntries();
        EXPECT_TRUE(Left(c.gone, c.kept));
        EXPECT_EQ(Path(c.folderAfter), entries_.Folder(0));
        EXPECT_EQ(c.levelsAfter, entries_.Levels(0));
    }
}

// With levels to spare, the walk goes up to the drive and stops there: "C:" is protected.
TEST_F(FolderPhases, FolderEntryWalkStopsAtTheDrive) {
    Put("keep.txt"); // the scratch folder and those above it stay: they are not empty
    Make("A\\B");
    std::string folder = Path("A\\B");
    DWORD cuts = 0;
    for (char c : folder)
        cuts += c == '\\';
    entries_.SetFolders({{255, folder, ""}});
    RemoveFolderEntries();
    EXPECT_TRUE(Left({"A\\B", "A"}, {"keep.txt"}));
    EXPECT_EQ("C:", entries_.Folder(0));
    EXPECT_EQ(255 - cuts, entries_.Levels(0));
}

TEST_F(FolderPhases, FolderEntryLeavesTheCurrentDirectory) {
    struct Case {
        const char *name;
        Layout layout;
        std::string current; // relative
        FolderRow entry;
        std::vector<std::string> gone, kept;
        std::string currentAfter;
    };
    const std::vector<Case> cases = {
        {"the folder is current, in another case",
         {{"Cur"}, {}},
         "Cur",
         {0, "CUR", ""},
         {"Cur"},
         {},
         ""},
        {"a folder below the folder is current",
         {{"Cur\\Below"}, {}},
         "Cur\\Below",
         {0, "Cur", ""},
         {},
         {"Cur\\Below"},
         "Cur\\Below"},
        {"a trailing backslash: the second try steps up",
         {{"Cur"}, {}},
         "Cur",
         {1, "Cur\\", ""},
         {"Cur"},
         {},
         ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SetCurrentDirectoryA(folder_.c_str());
        RemoveTree(Path("Cur"));
        for (const std::string &f : c.layout.folders)
            Make(f);
        ASSERT_TRUE(SetCurrentDirectoryA(Path(c.current).c_str()));
        std::string folder = c.entry.folder == "CUR" ? Upper(Path("Cur")) : Path(c.entry.folder);
        entries_.SetFolders({{c.entry.levels, folder, c.entry.file}});
        RemoveFolderEntries();
        EXPECT_TRUE(Left(c.gone, c.kept));
        EXPECT_TRUE(SamePath(Path(c.currentAfter), CurrentDirectory())) << CurrentDirectory();
    }
}

// An empty folder and an extra file: the file is found through the current directory, and
// no folder is removed.
TEST_F(FolderPhases, EmptyFolderWithAFile) {
    Put("rel.txt");
    Put("other.txt");
    ASSERT_TRUE(SetCurrentDirectoryA(folder_.c_str()));
    entries_.SetFolders({{3, "", "rel.txt"}});
    RemoveFolderEntries();
    EXPECT_TRUE(Left({"rel.txt"}, {"other.txt", ""}));
    EXPECT_EQ("", entries_.Folder(0));
    EXPECT_EQ(3u, entries_.Levels(0));
}

// Both phases stop at a protected folder, even an empty one: here the folder the registry
// names as Program Files, and the shell's real Programs folder.
TEST_F(FolderPhases, ProtectedFoldersOnTheWayStay) {
    Make("Programs\\Group\\Sub");
    Make("Programs\\Other");
    {
        RootRedirect machine(HKEY_LOCAL_MACHINE);
        if (!machine.active())
            GTEST_SKIP() << "HKEY_LOCAL_MACHINE cannot be redirected here";
        ASSERT_TRUE(machine.Write("Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir",
                                  REG_SZ, Path("Programs")));
        entries_.SetFolders({{5, Path("Programs\\Group\\Sub"), ""}, {0, Path("Programs"), ""}});
        RemoveFolderEntries();
        EXPECT_TRUE(Left({"Programs\\Group"}, {"Programs"}));
        EXPECT_EQ(Path("Programs"), entries_.Folder(0));
        EXPECT_EQ(3u, entries_.Levels(0));
        EXPECT_EQ(Path("Programs"), entries_.Folder(1));

        state_->SetEntries({{Path("Programs\\Other"), "tool.exe", 0}});
        RemoveFileFolders();
        EXPECT_TRUE(Left({"Programs\\Other"}, {"Programs"}));
    }
    char programs[MAX_PATH] = "";
    ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, programs, CSIDL_PROGRAMS, TRUE));
    std::string group = std::string(programs) + "\\Vanish Walk " + ProgramName();
    ASSERT_TRUE(CreateDirectoryA(group.c_str(), nullptr));
    entries_.SetFolders({{2, group, ""}});
    RemoveFolderEntries();
    EXPECT_FALSE(FileExists(group));
    EXPECT_TRUE(FileExists(programs));
    EXPECT_EQ(std::string(programs), entries_.Folder(0)) << "the walk ends at Programs";
    EXPECT_EQ(1u, entries_.Levels(0));
}

TEST_F(FolderPhases, FileFolderWalks) {
    struct Case {
        const char *name;
        Layout layout;
        std::vector<Entry> entries; // a folder that begins with '|' is relative to the scratch
        std::vector<std::string> gone, kept;
    };
    const std::vector<Case> cases = {
        {"a name with a subfolder starts at the subfolder",
         {{"inst\\sub"}, {}},
         {{".", "sub\\file.dll"}},
         {"inst\\sub"},
         {"inst"}},
        {"a folder entry with an empty name",
         {{"inst\\empty"}, {}},
         {{".\\empty", ""}},
         {"inst\\empty"},
         {"inst"}},
        {"a user's file keeps its folder and all above",
         {{"inst\\data\\deep"}, {"inst\\data\\mine.txt"}},
         {{".\\data\\deep", "x.dat"}, {".\\data", "s.ini"}},
         {"inst\\data\\deep"},
         {"inst\\data\\mine.txt", "inst\\data", "inst"}},
        {"the walk goes up while folders come out",
         {{"out\\A\\B"}, {}},
         {{"|out\\A\\B", "x"}},
         {"out\\A\\B", "out\\A", "out"},
         {"inst"}},
        {"the first folder that does not go ends the walk",
         {{"out\\A"}, {}},
         {{"|out\\A\\B", "x"}},
         {},
         {"out\\A"}},
    };
    Put("inst\\uninstall.exe"); // the uninstaller is still in its folder
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        RemoveTree(Path("out"));
        for (const std::string &f : c.layout.folders)
            Make(f);
        for (const std::string &f : c.layout.files)
            Put(f);
        std::vector<Entry> entries = c.entries;
        for (Entry &e : entries)
            if (!e.folder.empty() && e.folder[0] == '|')
                e.folder = Path(e.folder.substr(1));
        state_->SetEntries(entries);
        RemoveFileFolders();
        EXPECT_TRUE(Left(c.gone, c.kept));
    }
}

// The install folder cannot go while the uninstaller is in it, and phase 3 no longer holds
// it as the current directory: an empty one goes.
TEST_F(FolderPhases, InstallFolderAndTheCurrentDirectory) {
    static const struct {
        const char *name;
        bool uninstallerInside;
    } cases[] = {{"the uninstaller is in it", true}, {"it is empty", false}};
    Put("keep.txt");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Make("inst");
        if (c.uninstallerInside)
            Put("inst\\uninstall.exe");
        ASSERT_TRUE(SetCurrentDirectoryA(install_.c_str()));
        state_->SetEntries({{".", "app.exe", 0}});
        RemoveFileFolders();
        EXPECT_EQ(c.uninstallerInside, FileExists(install_));
        EXPECT_TRUE(SamePath(folder_, CurrentDirectory())) << CurrentDirectory();
        EXPECT_EQ(install_ + "\\", std::string(installFolder));
        RemoveTree(install_);
    }
}

// Once a walk has removed a folder, the next entries of that folder (in any case) are not
// tried again; an entry elsewhere takes its place only if its own walk removed something.
// Between entries the folder is made again, so a second attempt would show.
TEST_F(FolderPhases, FileFolderTriedOncePerRun) {
    Put("keep.txt");
    Put("B\\mine.txt");
    Make("A");
    Make("C");
    std::string a = Path("A");
    state_->SetEntries(
        {{a, "1"}, {a, "2"}, {Path("B"), "3"}, {Upper(a), "4"}, {Path("C"), "5"}, {a + "\\", "6"}});
    StepWindow bar;
    ASSERT_TRUE(bar.handle());
    std::vector<bool> present;
    bar.onStep = [&](WPARAM) {
        present.push_back(FileExists(a));
        CreateDirectoryA(a.c_str(), nullptr);
    };
    progressBar = bar.handle();
    progressTotal = 12; // six file entries: every report differs
    lastPercentage = 0;
    RemoveFileFolders();
    EXPECT_EQ((std::vector<WPARAM>{50, 58, 66, 75, 83, 91}), bar.positions);
    // 1 removes A; 2 is passed over; 3 removes nothing; 4 is A again; 5 removes C; 6 is
    // tried again and removes A.
    EXPECT_EQ((std::vector<bool>{false, true, true, true, true, false}), present);
}

// Entries whose path is longer than the 259 characters the system takes: nothing is removed for
// them, not even what the path cut to 259 characters would name, and their steps still count.
TEST_F(FolderPhases, PathsTooLongRemoveNothing) {
    std::string prefix = folder_ + "\\";
    std::string cutFolder = prefix + std::string(MAX_PATH - 1 - prefix.size(), 'w');
    ASSERT_EQ(MAX_PATH - 1u, cutFolder.size());
    ASSERT_TRUE(CreateDirectoryA(cutFolder.c_str(), nullptr));
    Make("E");
    std::string extra = std::string(MAX_PATH - 1 - Path("E\\").size(), 'f');
    Put("E\\" + extra); // the extra file's name cut to fit
    // Its parent P is empty: a walk on the entry would remove it.
    Make("P");
    std::string tooLong = Path("P\\") + std::string(MAX_PATH + 1 - Path("P\\").size(), 'l');
    entries_.SetFolders({{1, tooLong, ""}, {0, Path("E"), extra + "gh"}});
    state_->SetEntries({{cutFolder + "zz", "", 0}, {cutFolder, "x.dll", 0}});
    StepWindow bar;
    ASSERT_TRUE(bar.handle());
    progressBar = bar.handle();
    progressTotal = 6; // two file entries and two folder entries
    lastPercentage = 0;
    RemoveFolderEntries();
    RemoveFileFolders();
    EXPECT_TRUE(FileExists(cutFolder));
    EXPECT_TRUE(Left({}, {"E\\" + extra, "P"}));
    EXPECT_EQ((std::vector<WPARAM>{33, 50, 66, 83}), bar.positions);
    EXPECT_EQ(tooLong, entries_.Folder(0)) << "the entry is left whole";
    EXPECT_EQ(1u, entries_.Levels(0));
}

// The example of the manifest's documentation: a data folder that an installer made with
// the default permissions, where a user made the cache folder a link to their Documents.
// Neither the extra file nor the folder the link leads to is removed through it, whether that
// folder holds anything or not, by a folder entry or as the folder of a file.
TEST_F(FolderPhases, FolderEntriesThroughALink) {
    if (!isNT)
        GTEST_SKIP() << "the 95/98/Me family has no links; it removes by the plain calls";
    std::string data = "C:\\ProgramData\\Vanish Tests " + ProgramName();
    std::string notes = data + "\\Acme\\Notes";
    RemoveTree(data);
    ASSERT_TRUE(CreateDirectoryA(data.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((data + "\\Acme").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(notes.c_str(), nullptr));
    Put("Documents\\index.db");
    Put("Documents\\letter.txt");
    Make("Empty");
    {
        UnixLink cache(notes + "\\cache", Path("Documents"));
        UnixLink empty(notes + "\\empty", Path("Empty"));
        ASSERT_TRUE(cache.made() && empty.made());
        entries_.SetFolders({{1, notes + "\\cache", "index.db"}, {2, notes + "\\empty", ""}});
        RemoveFolderEntries();
        state_->SetEntries({{notes + "\\empty", "gone.dat", 0}});
        RemoveFileFolders();
        EXPECT_TRUE(Left({}, {"Documents\\index.db", "Documents\\letter.txt", "Empty"}));
        EXPECT_TRUE(FileExists(notes)) << "it still holds the links";
    }
    RemoveTree(data);
}

// Walks of both phases that reach a link to one of the user's shell folders, named as the
// folder of an entry or found on the way up from below it: the shell folder stays. The links
// live outside the scratch folder, which is wiped by calls that would follow them.
TEST_F(FolderPhases, WalksNeverGoThroughALink) {
    if (!isNT)
        GTEST_SKIP() << "the 95/98/Me family has no links; it removes by the plain calls";
    static const int shellFolders[] = {CSIDL_FAVORITES, CSIDL_SENDTO};
    std::vector<std::string> targets;
    for (int id : shellFolders) {
        char path[MAX_PATH] = "";
        ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, path, id, FALSE)) << id;
        DWORD attributes = GetFileAttributesA(path);
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
            !ListFolder(path).empty())
            GTEST_SKIP() << path << " is no empty folder of the prefix's own";
        targets.push_back(path);
    }
    std::string links = "C:\\vanish-tests\\" + ProgramName() + "\\links";
    CreateDirectoryA(links.c_str(), nullptr);
    {
        UnixLink favorites(links + "\\favorites", targets[0]);
        UnixLink sendTo(links + "\\sendto", targets[1]);
        ASSERT_TRUE(favorites.made() && sendTo.made());
        entries_.SetFolders({{0, links + "\\favorites", ""}, {1, links + "\\sendto\\Acme", ""}});
        RemoveFolderEntries();
        state_->SetEntries({{links + "\\favorites", "acme.url", 0}, {links + "\\sendto", "", 0}});
        RemoveFileFolders();
    }
    for (const std::string &target : targets) {
        EXPECT_TRUE(FileExists(target)) << target;
        CreateDirectoryA(target.c_str(), nullptr); // for the tests after this one
    }
}

// Phase 2 starts after the file entries' share, phase 3 after the folder entries'; a font
// entry reports no step and the next entry catches up; without a dialog nothing is reported.
TEST_F(FolderPhases, ProgressOffsets) {
    static const struct {
        const char *name;
        DWORD total;
        std::vector<WPARAM> expected;
    } cases[] = {
        // 3 file entries, 2 folder entries, 1 registry entry: 9 steps.
        {"with a dialog", 9, {33, 44, 55, 77}},
        {"no progress dialog", 0, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Make("F");
        Make("G");
        state_->SetEntries(
            {{".", "a.exe", 0}, {Path("F"), "face.ttf", FILE_FONT}, {".", "b.exe", 0}});
        entries_.SetFolders({{0, Path("D1"), ""}, {0, Path("D2"), ""}});
        StepWindow bar;
        ASSERT_TRUE(bar.handle());
        progressBar = bar.handle();
        progressTotal = c.total;
        lastPercentage = 0;
        RemoveFolderEntries();
        RemoveFileFolders();
        EXPECT_EQ(c.expected, bar.positions);
        EXPECT_TRUE(Left({}, {"F"})) << "a font's folder is not tried";
    }
}

// File and folder entries in blocks of the program's heap, as the loader makes them: the
// pass before the first phase replaces entries and drops others, releasing their blocks.
class LoadedEntries {
  public:
    LoadedEntries(const std::vector<Entry> &files, const std::vector<FolderRow> &folders) {
        for (const Entry &entry : files) {
            FileEntry *made = (FileEntry *)Allocate(sizeof(FileEntry), entry.folder, entry.name);
            made->folder = (char *)(made + 1);
            made->name = made->folder + entry.folder.size() + 1;
            made->flags = entry.flags;
            files_.push_back(made);
        }
        for (const FolderRow &row : folders) {
            FolderEntry *made = (FolderEntry *)Allocate(sizeof(FolderEntry), row.folder, row.file);
            made->folder = (char *)(made + 1);
            made->file = made->folder + row.folder.size() + 1;
            made->levels = row.levels;
            folders_.push_back(made);
        }
        fileEntries = files_.data();
        fileEntryCount = (DWORD)files_.size();
        folderEntries = folders_.data();
        folderEntryCount = (DWORD)folders_.size();
    }
    ~LoadedEntries() {
        for (DWORD i = 0; i < fileEntryCount; i++)
            ReleaseMemory((void **)&fileEntries[i]);
        for (DWORD i = 0; i < folderEntryCount; i++)
            ReleaseMemory((void **)&folderEntries[i]);
        fileEntries = nullptr;
        fileEntryCount = 0;
        folderEntries = nullptr;
        folderEntryCount = 0;
    }
    LoadedEntries(const LoadedEntries &) = delete;
    LoadedEntries &operator=(const LoadedEntries &) = delete;

  private:
    static void *Allocate(size_t fixed, const std::string &first, const std::string &second) {
        char *block = nullptr;
        EXPECT_TRUE(
            AllocateZeroed((void **)&block, (DWORD)(fixed + first.size() + second.size() + 2)));
        CopyMemory(block + fixed, first.c_str(), first.size() + 1);
        CopyMemory(block + fixed + first.size() + 1, second.c_str(), second.size() + 1);
        return block;
    }
    std::vector<FileEntry *> files_;
    std::vector<FolderEntry *> folders_;
};

std::string ShortForm(const std::string &path) {
    char shortForm[MAX_PATH] = "";
    GetShortPathNameA(path.c_str(), shortForm, MAX_PATH);
    return shortForm;
}

// Before the first phase every entry names one place, however it is written: relative to the
// current directory at start (or to the install folder, for "."), with ".", "..", slashes,
// trailing dots and spaces resolved and short names made long as far as the folders exist.
// Literal and device paths and streams are dropped and count as left.
TEST_F(FolderPhases, EntriesMadeFullOnceBeforeThePhases) {
    Make("Long Folder Name\\sub dir");
    std::string longFolder = Path("Long Folder Name"), shortFolder = ShortForm(longFolder);
    ASSERT_FALSE(shortFolder.empty());
    ASSERT_TRUE(SetCurrentDirectoryA(folder_.c_str()));
    const struct {
        Entry given;
        Entry made; // an empty folder: dropped
    } files[] = {
        {{"data", "x.dat"}, {Path("data"), "x.dat"}},
        {{".", "x.dat"}, {install_, "x.dat"}},
        {{".\\sub", "x.dat"}, {install_ + "\\sub", "x.dat"}},
        {{"..\\elsewhere", "x.dat"}, {install_, "x.dat"}},
        {{folder_ + "/a//b/./c/../d. ", ""}, {Path("a\\b\\d"), ""}},
        {{folder_, "sub\\..\\g.txt"}, {folder_, "g.txt"}},
        {{ShortForm(longFolder + "\\sub dir"), "f"}, {longFolder + "\\sub dir", "f"}},
        {{shortFolder + "\\not there\\deeper", "f"}, {longFolder + "\\not there\\deeper", "f"}},
        {{shortFolder + "\\.", ""}, {longFolder, ""}},
        {{"\\\\?\\" + folder_, "x.dat"}, {"", ""}},
        {{"//./" + folder_, ""}, {"", ""}},
        {{Path("x.dat:stream"), ""}, {"", ""}},
    };
    const struct {
        FolderRow given;
        FolderRow made;
    } folders[] = {
        {{0, "data\\..\\data2", "f"}, {0, Path("data2"), "f"}},
        // A trailing backslash stays: the walk spends its first level on it.
        {{2, shortFolder + "\\", ""}, {2, longFolder + "\\", ""}},
        {{1, shortFolder + "/", ""}, {1, longFolder, ""}},
        {{0, "", "f"}, {0, "", "f"}},
        {{1, "\\??\\" + folder_, ""}, {0, "", ""}},
    };
    std::vector<Entry> fileRows;
    std::vector<FolderRow> folderRows;
    std::vector<Entry> madeFiles;
    std::vector<FolderRow> madeFolders;
    for (const auto &row : files) {
        fileRows.push_back(row.given);
        if (!row.made.folder.empty())
            madeFiles.push_back(row.made);
    }
    for (const auto &row : folders) {
        folderRows.push_back(row.given);
        if (row.made.folder.size() || row.made.file.size())
            madeFolders.push_back(row.made);
    }
    LoadedEntries loaded(fileRows, folderRows);
    DWORD left = itemCounts[ITEM_LEFT];
    MakeEntryPathsFull();
    EXPECT_EQ(4u, itemCounts[ITEM_LEFT] - left) << "the dropped entries count as left";
    ASSERT_EQ(madeFiles.size(), fileEntryCount);
    for (size_t i = 0; i < madeFiles.size(); i++) {
        SCOPED_TRACE(madeFiles[i].folder + " | " + madeFiles[i].name);
        EXPECT_EQ(madeFiles[i].folder, fileEntries[i]->folder);
        EXPECT_EQ(madeFiles[i].name, fileEntries[i]->name);
    }
    ASSERT_EQ(madeFolders.size(), folderEntryCount);
    for (size_t i = 0; i < madeFolders.size(); i++) {
        SCOPED_TRACE(madeFolders[i].folder + " | " + madeFolders[i].file);
        EXPECT_EQ(madeFolders[i].folder, folderEntries[i]->folder);
        EXPECT_EQ(madeFolders[i].file, folderEntries[i]->file);
        EXPECT_EQ(madeFolders[i].levels, folderEntries[i]->levels);
    }
}

// Made full, a file entry still knows how the block spelled it: the path itself where it
// differs (a shared file's count is named so), a bare name that gives phase 3 no folder, and
// a name that names a folder, which phase 1 keeps and phase 3 walks from where it stands.
TEST_F(FolderPhases, FileEntriesKeepTheirSpelling) {
    Make("Long Folder Name");
    Make("sub");
    std::string longFolder = Path("Long Folder Name"), shortFolder = ShortForm(longFolder);
    ASSERT_FALSE(shortFolder.empty());
    ASSERT_TRUE(SetCurrentDirectoryA(folder_.c_str()));
    const struct {
        Entry given;
        std::string folder, name, spelled; // spelled: empty when it is the full path
        BYTE form;
    } rows[] = {
        {{folder_, "a.dll"}, folder_, "a.dll", "", 0},
        {{shortFolder, "a.dll"}, longFolder, "a.dll", shortFolder + "\\a.dll", 0},
        {{folder_ + "/x/..", "a.dll"}, folder_, "a.dll", folder_ + "/x/..\\a.dll", 0},
        {{"", "bare.txt"}, folder_, "bare.txt", "bare.txt", FORM_BARE_NAME},
        {{"", "sub/bare.txt"}, Path("sub"), "bare.txt", "sub/bare.txt", FORM_BARE_NAME},
        {{folder_, "sub\\"}, Path("sub"), "", folder_ + "\\sub\\", FORM_FOLDER_NAME},
        {{folder_, "sub\\.."}, Path("sub"), "", folder_ + "\\sub\\..", FORM_FOLDER_NAME},
        {{folder_, ""}, folder_, "", "", 0},
    };
    std::vector<Entry> given;
    for (const auto &row : rows)
        given.push_back(row.given);
    LoadedEntries loaded(given, {});
    MakeEntryPathsFull();
    ASSERT_EQ(sizeof rows / sizeof rows[0], fileEntryCount);
    for (size_t i = 0; i < fileEntryCount; i++) {
        SCOPED_TRACE(rows[i].given.folder + " | " + rows[i].given.name);
        EXPECT_EQ(rows[i].folder, fileEntries[i]->folder);
        EXPECT_EQ(rows[i].name, fileEntries[i]->name);
        EXPECT_EQ(rows[i].spelled, fileEntries[i]->spelled ? fileEntries[i]->spelled : "");
        EXPECT_EQ(rows[i].form, fileEntries[i]->form);
    }
}

// A relative folder means the folder below the current directory at start in phase 3 as in
// phase 1, although phase 3 runs after the current directory has moved to the install
// folder's parent: the application's data goes, an empty folder of the same name there stays.
TEST_F(FolderPhases, RelativeFolderIsOnePlaceInEveryPhase) {
    Put("inst\\data\\x.dat");
    Put("inst\\uninstall.exe");
    Make("data");
    ASSERT_TRUE(SetCurrentDirectoryA(install_.c_str())); // as an installer starts it
    LoadedEntries loaded({{"data", "x.dat"}}, {});
    MakeEntryPathsFull();
    RemoveFiles();
    RemoveFolderEntries();
    RemoveFileFolders();
    EXPECT_TRUE(SamePath(folder_, CurrentDirectory())) << "phase 3 moved";
    EXPECT_TRUE(Left({"inst\\data"}, {"data", "inst"}));
}

} // namespace
