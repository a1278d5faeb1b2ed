// What deployment admins and installer authors reach for, through the real uninstaller: the
// log where /L= puts it, keys removed only when empty, and what /S does with a shared file
// whose count reached 0.
#include "unattended.h"

using namespace unattended;

namespace {

class Admin : public Unattended {
  protected:
    RunResult Run(const pack::Block &block, const std::string &switches,
                  std::vector<Action> script = {}) {
        EXPECT_TRUE(WriteStampedUninstaller(pack::EncodeBlock(block), exe_));
        RemoveLogs();
        return RunAndAnswer(exe_, switches, std::move(script), 60000, Action::Press(IDOK));
    }
    pack::Block Sample() {
        pack::Block block;
        block.texts = Texts();
        block.files = {{app_, "app.dat", 0}};
        EXPECT_TRUE(WriteFileText(app_ + "\\app.dat", "application"));
        return block;
    }
};

// Every line of a log, stamped with the local time to the millisecond and its offset; the
// end line gives the run's duration.
void ExpectStampedWithDuration(const std::string &log) {
    std::vector<std::string> raw;
    size_t start = log.rfind(kByteOrderMark, 0) == 0 ? 3 : 0;
    for (size_t end; (end = log.find("\r\n", start)) != std::string::npos; start = end + 2)
        raw.push_back(log.substr(start, end - start));
    ASSERT_FALSE(raw.empty());
    for (const std::string &line : raw) {
        bool stamped = false;
        Unstamped(line, &stamped);
        EXPECT_TRUE(stamped) << line;
    }
    std::string last = Unstamped(raw.back());
    EXPECT_NE(last, WithoutDuration(last)) << "the end line gives no duration: " << last;
}

// /L= names a folder (the log gets its usual name there), a file (made, then added to) or a
// place it cannot go: then the run is refused with 1622 under /S, or a box naming the path
// in a run that shows boxes, and nothing is removed or logged anywhere else. A folder reached
// through a link is refused on the NT family, where the run is elevated and names are
// checked; 95/98/Me has no such links and writes there.
TEST_F(Admin, TheLogGoesWhereAskedOrNowhere) {
    const std::string folder = root_ + "\\logs", target = root_ + "\\elsewhere";
    const std::string file = root_ + "\\fleet log.txt", missing = root_ + "\\missing\\x.log";
    CreateDirectoryA(folder.c_str(), nullptr);
    CreateDirectoryA(target.c_str(), nullptr);
    UnixLink link(root_ + "\\linked", target);
    ASSERT_TRUE(link.made());
    const std::string inFolder = folder + "\\" + base_ + ".log";
    static const struct Row {
        const char *name;
        int where; // 0 the folder, 1 the file, 2 missing, 3 the linked folder
        const char *switches;
        bool refused;
    } rows[] = {
        {"a folder", 0, "/S /L=", false},
        {"a file with a space, quoted", 1, "/S /L=", false},
        {"the same file again", 1, "/S /L=", false},
        {"a folder that is not there, silent", 2, "/S /L=", true},
        {"a folder that is not there, with boxes", 2, "/Q /L=", true},
        {"a folder reached through a link", 3, "/S /L=", NTFamily()},
    };
    DeleteFileA(file.c_str());
    int fileRuns = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const std::string paths[] = {folder, "\"" + file + "\"", missing, root_ + "\\linked"};
        DeleteFileA(inFolder.c_str());
        DeleteFileA((target + "\\" + base_ + ".log").c_str());
        std::vector<Action> script;
        if (row.where == 2 && std::string(row.switches) == "/Q /L=")
            script.push_back(Action::Press(IDOK));
        RunResult run = Run(Sample(), row.switches + paths[row.where] + " /X", script);
        ASSERT_TRUE(run.finished);
        EXPECT_FALSE(FileExists(LogPath(0))) << "no log in the temporary folder";
        if (row.refused) {
            EXPECT_EQ(1622u, run.exitCode);
            EXPECT_TRUE(FileExists(app_ + "\\app.dat")) << "a refused run removes nothing";
            if (!script.empty()) {
                ASSERT_EQ(1u, run.boxes.size());
                EXPECT_NE(std::string::npos, run.boxes[0].text.find(missing)) << run.boxes[0].text;
            }
            EXPECT_FALSE(FileExists(target + "\\" + base_ + ".log"));
            continue;
        }
        EXPECT_EQ(0u, run.exitCode);
        EXPECT_FALSE(FileExists(app_ + "\\app.dat"));
        std::string written = row.where == 0   ? inFolder
                              : row.where == 1 ? file
                                               : target + "\\" + base_ + ".log";
        std::string log = ReadFileText(written);
        ExpectStampedWithDuration(log);
        std::vector<std::string> lines = Lines(log);
        EXPECT_TRUE(LogHas(lines, "file deleted: " + app_ + "\\app.dat")) << Joined(lines);
        if (row.where == 1) {
            // The file keeps what earlier runs wrote and has one byte order mark.
            fileRuns++;
            size_t starts = 0;
            for (const std::string &line : lines)
                starts += line.rfind("Vanish ", 0) == 0;
            EXPECT_EQ((size_t)fileRuns, starts) << Joined(lines);
            EXPECT_EQ(std::string::npos, log.find(kByteOrderMark, 1));
        }
    }
    DeleteFileA(file.c_str());
}

// An empty-key entry deletes its key, then its parents up to its levels, each only while it
// holds no subkey and no value; one that holds something is kept and keeps those above it,
// and a protected key ends the walk whatever it holds.
TEST_F(Admin, KeysGoOnlyWhenEmpty) {
    const std::string top = "Software\\VanishEmpty-" + base_;
    RemoveKeyTree(HKEY_CURRENT_USER, top);
    ASSERT_TRUE(WriteValue(HKEY_CURRENT_USER, keys_, "keep", TextValue("1")));
    ASSERT_TRUE(WriteValue(HKEY_CURRENT_USER, keys_ + "\\Full", "Setting", DwordValue(1)));
    ASSERT_TRUE(WriteValue(HKEY_CURRENT_USER, keys_ + "\\Vendor\\App\\Sub", "x", DwordValue(1)));
    DeleteValue(HKEY_CURRENT_USER, keys_ + "\\Vendor\\App\\Sub", "x");
    ASSERT_TRUE(WriteValue(HKEY_CURRENT_USER, top, "x", DwordValue(1)));
    DeleteValue(HKEY_CURRENT_USER, top, "x");
    pack::Block block = Sample();
    block.emptyKeys = {{9, 0x80000001, keys_ + "\\Vendor\\App\\Sub"},
                       {0, 0x80000001, keys_ + "\\Full"},
                       {4, 0x80000001, top}};
    RunResult run = Run(block, "/S /X /L");
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, keys_ + "\\Vendor"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, keys_)) << "a key with a value stays";
    EXPECT_TRUE(ReadValue(HKEY_CURRENT_USER, keys_ + "\\Full", "Setting").present);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, top));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software"));
    std::vector<std::string> lines = Lines(ReadFileText(LogPath(0)));
    for (const std::string &line :
         {"key deleted, empty: HKCU\\" + keys_ + "\\Vendor\\App\\Sub",
          "key deleted, empty: HKCU\\" + keys_ + "\\Vendor", "key kept, not empty: HKCU\\" + keys_,
          "key kept, not empty: HKCU\\" + keys_ + "\\Full", "key deleted, empty: HKCU\\" + top,
          std::string("key protected: HKCU\\Software")})
        EXPECT_TRUE(LogHas(lines, line)) << line << Joined(lines);
}

// What /S does with a shared file whose count reached 0 follows the block's silentShared
// bit; a run that shows boxes asks as it always did, whatever the bit says.
TEST_F(Admin, SharedFilesUnderSilentRuns) {
    const std::string dll = common_ + "\\runtime.dll";
    static const struct {
        const char *name;
        bool removeSilently;
        const char *switches;
        std::vector<Action> script;
        bool gone;
    } rows[] = {
        {"silent, the bit set", true, "/S /X", {}, true},
        {"silent, without the bit", false, "/S /X", {}, false},
        {"with boxes, the bit set, No", true, "/Q /X", {Action::Press(IDNO)}, false},
        {"with boxes, the bit set, Yes", true, "/Q /X", {Action::Press(IDYES)}, true},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        CreateDirectoryA(common_.c_str(), nullptr); // the last run's phase 3 took it
        ASSERT_TRUE(WriteFileText(dll, "runtime"));
        Shared(dll, 1);
        pack::Block block = Sample();
        block.files.push_back({common_, "runtime.dll", pack::FILE_SHARED});
        if (row.removeSilently)
            block.optionFlags |= pack::OPTION_SILENT_SHARED;
        RunResult run = Run(block, row.switches, row.script);
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(0u, run.exitCode);
        EXPECT_EQ(row.script.size(), run.boxes.size());
        EXPECT_EQ(!row.gone, FileExists(dll));
        Value count = SharedCount(dll);
        if (row.gone)
            EXPECT_FALSE(count.present) << Describe(count);
        else
            EXPECT_EQ(DwordValue(0), count);
    }
}

} // namespace
