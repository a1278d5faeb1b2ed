// Blocks written to the original format (sixteen texts, no option flags beyond the two it
// defines): each behaves as that format says, through the real uninstaller.
#include "unattended.h"

using namespace unattended;

namespace {

class Faithful : public Unattended {
  protected:
    pack::Block Original() const {
        pack::Block block;
        block.texts = Texts();
        return block;
    }
    // folder: the uninstaller's current directory, when not this program's own.
    RunResult Run(const pack::Block &block, const std::string &switches,
                  std::vector<Action> script = {}, const std::string &folder = "") {
        EXPECT_TRUE(WriteStampedUninstaller(pack::EncodeBlock(block), exe_));
        RemoveLogs();
        return RunAndAnswerIn(folder, exe_, switches, std::move(script), 60000,
                              Action::Press(IDOK));
    }
    std::vector<std::string> Log() const {
        return Lines(ReadFileText(LogPath(0)));
    }
    std::string Journal() const {
        return app_ + "\\" + base_ + ".released";
    }
};

std::string ShortPath(const std::string &path) {
    char shortPath[MAX_PATH] = "";
    DWORD n = GetShortPathNameA(path.c_str(), shortPath, MAX_PATH);
    return n && n < MAX_PATH ? std::string(shortPath, n) : std::string();
}

// An installer runs the uninstaller bare before an upgrade (2 to 1), installs again (1 to 2)
// and the user later removes the application: the count ends at 1, where the other
// application's uninstaller takes it to 0. The journal the bare run left speaks only while
// the count is no higher than it left it: a count another uninstaller lowered since is not
// lowered again.
TEST_F(Faithful, ASharedCountSurvivesAnUpgrade) {
    const std::string dll = common_ + "\\upgrade.dll", held = app_ + "\\held.txt";
    static const struct {
        const char *name;
        DWORD start;
        bool interrupted; // the first run leaves a held file, for a rerun
        DWORD between;    // the count an installer or another uninstaller leaves
        DWORD expected;   // after the second run
    } rows[] = {
        {"installed again after a bare run", 2, false, 2, 1},
        {"lowered by another application after an interrupted run", 3, true, 1, 1},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        DeleteFileA(Journal().c_str());
        ASSERT_TRUE(WriteFileText(dll, "shared"));
        ASSERT_TRUE(WriteFileText(held, "application"));
        Shared(dll, row.start);
        pack::Block block = Original();
        block.files = {{".", "held.txt", 0}, {common_, "upgrade.dll", pack::FILE_SHARED}};
        if (row.interrupted)
            Hold(held);
        RunResult first = Run(block, "/X");
        Release();
        ASSERT_TRUE(first.finished);
        EXPECT_EQ(DwordValue(row.start - 1), SharedCount(dll));
        ASSERT_TRUE(FileExists(Journal())) << "a bare run keeps its journal";
        Shared(dll, row.between);
        ASSERT_TRUE(WriteFileText(held, "application"));
        RunResult second = Run(block, "/S /X");
        ASSERT_TRUE(second.finished);
        EXPECT_EQ(0u, second.exitCode);
        EXPECT_EQ(DwordValue(row.expected), SharedCount(dll)) << Describe(SharedCount(dll));
        EXPECT_TRUE(FileExists(dll));
    }
}

// The count is the value the installer wrote, named by the path exactly as the block spells
// it; the full long form is asked only when that name has none, and never both are lowered.
TEST_F(Faithful, TheCountIsNamedAsTheBlockSpellsIt) {
    const std::string folder = common_ + "\\Acme Shared";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr) ||
                GetLastError() == ERROR_ALREADY_EXISTS);
    const std::string shortFolder = ShortPath(folder);
    ASSERT_FALSE(shortFolder.empty());
    ASSERT_NE(folder, shortFolder);
    const std::string dotted = common_ + "/./x/../Acme Shared";
    static const struct {
        const char *name;
        int spelling;      // 0 short, 1 dots and slashes
        bool spelledCount; // a count under the name as spelled
        bool longCount;    // a count under the full long form
    } rows[] = {
        {"a short folder", 0, true, false},
        {"dots and slashes", 1, true, false},
        {"only the long form has a count", 0, false, true},
        {"both have one: only the spelled one goes down", 1, true, true},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const std::string spelledFolder = row.spelling == 0 ? shortFolder : dotted;
        const std::string file = folder + "\\acme.dll", spelled = spelledFolder + "\\acme.dll";
        ASSERT_TRUE(WriteFileText(file, "shared"));
        DeleteValue(HKEY_LOCAL_MACHINE, kSharedKey, spelled);
        DeleteValue(HKEY_LOCAL_MACHINE, kSharedKey, file);
        if (row.spelledCount)
            Shared(spelled, 2);
        if (row.longCount)
            Shared(file, 2);
        pack::Block block = Original();
        block.files = {{spelledFolder, "acme.dll", pack::FILE_SHARED}};
        RunResult run = Run(block, "/S /X /L");
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(0u, run.exitCode) << Joined(Log());
        EXPECT_TRUE(FileExists(file)) << "another application still counts";
        EXPECT_EQ(row.spelledCount ? DwordValue(1) : NoValue(),
                  ReadValue(HKEY_LOCAL_MACHINE, kSharedKey, spelled));
        EXPECT_EQ(row.longCount ? DwordValue(row.spelledCount ? 2 : 1) : NoValue(),
                  ReadValue(HKEY_LOCAL_MACHINE, kSharedKey, file));
        DeleteFileA(Journal().c_str());
    }
}

// A legacy block written in code page 1252 and read where the ANSI code page is 932: a byte
// pair 932 does not define shows as a stand-in character, and both questions are asked.
// An empty question would remove the shared file and the read-only file without asking.
TEST_F(Faithful, LegacyTextsAreNeverEmptied) {
    if (GetACP() != 932)
        GTEST_SKIP() << "runs where the ANSI code page is 932 (LANG=ja_JP.UTF-8), not " << GetACP();
    const std::string dll = common_ + "\\fr.dll", readOnly = app_ + "\\lecture.txt";
    ASSERT_TRUE(WriteFileText(dll, "shared"));
    ASSERT_TRUE(WriteFileText(readOnly, "application"));
    ASSERT_TRUE(SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    Shared(dll, 1);
    pack::Block block = Original();
    // "é " is a 932 lead byte followed by a byte that cannot follow it.
    block.texts[9] = "Le fichier %s est prot\xE9g\xE9 en \xE9"
                     "criture. Le supprimer ?";
    block.texts[10] = "Supprimer le fichier partag\xE9 %s ?";
    block.files = {{".", "lecture.txt", 0}, {common_, "fr.dll", pack::FILE_SHARED}};
    RunResult run =
        Run(block, "",
            {Action::Press(IDOK), Action::Press(IDNO), Action::Press(IDNO), Action::Press(IDOK)});
    SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(run.finished);
    ASSERT_EQ(4u, run.boxes.size());
    EXPECT_NE(std::string::npos, run.boxes[1].text.find(dll)) << run.boxes[1].text;
    EXPECT_NE(std::string::npos, run.boxes[2].text.find(readOnly)) << run.boxes[2].text;
    EXPECT_TRUE(FileExists(dll)) << "answered No";
    EXPECT_EQ(DwordValue(0), SharedCount(dll));
    EXPECT_TRUE(FileExists(readOnly)) << "answered No";
}

// Folder entries and the folders of file entries walk as the format defines: a trailing
// backslash spends the first level on the same folder, and a bare file name, spelled
// without a backslash, gives phase 3 no folder to walk from.
TEST_F(Faithful, FoldersWalkAsSpelled) {
    const std::string fa = root_ + "\\FA", fb = fa + "\\FB";
    const std::string work = root_ + "\\work", here = work + "\\here";
    for (const std::string &folder : {fa, fb, work, here})
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    ASSERT_TRUE(WriteFileText(here + "\\bare.txt", "application"));
    pack::Block block = Original();
    block.folders = {{1, fb + "\\", ""}};
    block.files = {{"", "bare.txt", 0}};
    RunResult run = Run(block, "/S /X /L", {}, here); // the uninstaller starts there
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode) << Joined(Log());
    EXPECT_FALSE(FileExists(fb));
    EXPECT_TRUE(FileExists(fa)) << "one level, spent on the trailing backslash";
    EXPECT_FALSE(FileExists(here + "\\bare.txt"))
        << "a bare name is a file of the folder it starts in";
    EXPECT_TRUE(FileExists(here)) << "phase 3 removes nothing for a bare name";
    EXPECT_TRUE(FileExists(work));
}

// A file entry whose name is a folder's is never removed as a file and never counts as a
// file in use: phase 1 keeps it and a silent run counts it as left, whether or not it is
// marked for the in-use test, which neither stops a silent run nor asks to retry.
TEST_F(Faithful, AFileEntryNamingAFolderIsKept) {
    const std::string data = app_ + "\\data";
    static const struct {
        const char *name;
        BYTE flags;
        const char *switches;
        DWORD exitCode;
        size_t boxes; // confirmation and completion, nothing between
    } rows[] = {
        {"silent", 0, "/S /X /L", 1, 0},
        {"silent, marked for the in-use test", pack::FILE_CHECKINUSE, "/S /X /L", 1, 0},
        {"asked, marked for the in-use test", pack::FILE_CHECKINUSE, "/L", 0, 2},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(CreateDirectoryA(data.c_str(), nullptr) ||
                    GetLastError() == ERROR_ALREADY_EXISTS);
        pack::Block block = Original();
        block.files = {{".", "data", row.flags}};
        RunResult run = Run(block, row.switches, {Action::Press(IDOK), Action::Press(IDOK)});
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(row.exitCode, run.exitCode);
        EXPECT_EQ(row.boxes, run.boxes.size());
        EXPECT_TRUE(FileExists(data));
        std::vector<std::string> lines = Log();
        EXPECT_TRUE(LogHas(lines, "file entry names a folder, kept: " + data)) << Joined(lines);
        if (row.boxes && NTFamily()) {
            EXPECT_TRUE(WaitUntil([&] { return !FileExists(exe_); }, 60000))
                << "the interactive run's self-removal, before the next row stamps anew";
        }
    }
}

// The uninstaller's own file, listed and marked for the in-use test, is in use by the run
// itself and is the self-removal's to take: it neither stops a silent run nor asks to retry.
TEST_F(Faithful, TheUninstallersOwnFileIsNeverInUse) {
    const std::string readme = app_ + "\\readme.txt";
    for (const char *switches : {"", "/S /L"}) {
        SCOPED_TRACE(switches);
        CreateDirectoryA(app_.c_str(), nullptr);
        ASSERT_TRUE(WriteFileText(readme, "application"));
        pack::Block block = Original();
        block.files = {{".", base_ + ".exe", pack::FILE_CHECKINUSE}, {".", "readme.txt", 0}};
        RunResult run = Run(block, switches, {Action::Press(IDOK), Action::Press(IDOK)});
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(0u, run.exitCode);
        EXPECT_EQ(switches[0] ? 0u : 2u, run.boxes.size()) << "no question about files in use";
        EXPECT_FALSE(FileExists(readme));
        if (NTFamily()) {
            EXPECT_TRUE(WaitUntil([&] { return !FileExists(exe_); }, 60000))
                << "the self-removal takes it";
        }
    }
}

// A registry entry under a root this family does not have names nothing here: what it
// names stays, and a silent run counts it as left.
TEST_F(Faithful, ARootThisFamilyLacksCountsAsLeft) {
    pack::Block block = Original();
    block.registry = {{0x80000006, "Vanish Tests\\Dynamic"}};
    RunResult run = Run(block, "/S /X /L");
    ASSERT_TRUE(run.finished);
    std::vector<std::string> lines = Log();
    if (NTFamily()) {
        EXPECT_EQ(1u, run.exitCode);
        EXPECT_TRUE(LogHas(lines, "entry skipped, root not on this system: HKDD\\Vanish "
                                  "Tests\\Dynamic"))
            << Joined(lines);
    } else {
        EXPECT_EQ(0u, run.exitCode) << Joined(lines);
    }
}

} // namespace
