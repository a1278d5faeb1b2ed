// The real uninstaller, stamped with a block and run under Wine; its boxes are read and
// answered from outside.
#include <gtest/gtest.h>

#include "support.h"

using namespace testing_support;

namespace {

const std::vector<std::string> kTexts = {
    "Sample Uninstall",    "Remove Sample and all of its components?",
    "Sample was removed.", "Yes",
    "Yes to all",          "No",
    "No to all",           "Out of memory: %s",
    "Cannot read %s"};

struct Expected {
    DWORD exitCode;
    std::vector<std::string> texts; // the boxes shown, in order
};

class Program : public ::testing::Test {
  protected:
    // The uninstaller runs as the same system family as this test program: Wine chooses
    // the reported family by the program's file name.
    std::string Place(const std::string &name) {
        folder_ = ScratchFolder(name);
        std::string file = "uninstall-" + Family() + ".exe";
        if (!Family().empty()) {
            EXPECT_TRUE(SetFamilyOf(file, Family()));
        }
        exe_ = folder_ + "\\" + file;
        return exe_;
    }
    // A scratch folder holding the stamped uninstaller and one application file.
    std::string Prepare(const std::string &name, const pack::Bytes &block) {
        Place(name);
        EXPECT_TRUE(WriteFileText(folder_ + "\\app.txt", "application data"));
        EXPECT_TRUE(WriteStampedUninstaller(block, exe_));
        return exe_;
    }
    pack::Bytes SampleBlock() {
        pack::Block block;
        block.texts = kTexts;
        block.files = {{".", "app.txt", 0}};
        return pack::EncodeBlock(block);
    }
    static void Check(const RunResult &run, const Expected &expected, const std::string &caption) {
        ASSERT_TRUE(run.started);
        ASSERT_TRUE(run.finished) << "the program did not end";
        EXPECT_EQ(expected.exitCode, run.exitCode);
        ASSERT_EQ(expected.texts.size(), run.boxes.size());
        for (size_t i = 0; i < run.boxes.size(); i++) {
            EXPECT_EQ(expected.texts[i], run.boxes[i].text) << "box " << i;
            EXPECT_EQ(caption, run.boxes[i].caption) << "box " << i;
        }
    }
    std::string folder_, exe_;
};

TEST_F(Program, CancelAtTheConfirmationEndsTheRun) {
    Prepare("cancel", SampleBlock());
    RunResult run = RunAndAnswer(exe_, "", {Action::Press(IDCANCEL)});
    Check(run, {0, {kTexts[1]}}, kTexts[0]);
    EXPECT_TRUE(FileExists(folder_ + "\\app.txt"));
    EXPECT_TRUE(FileExists(exe_));
}

TEST_F(Program, ConfirmedRunReportsCompletion) {
    Prepare("confirmed", SampleBlock());
    RunResult run = RunAndAnswer(exe_, "", {Action::Press(IDOK), Action::Press(IDOK)});
    Check(run, {0, {kTexts[1], kTexts[2]}}, kTexts[0]);
}

TEST_F(Program, QuietAndBareRunsShowNoBoxes) {
    int run = 0;
    for (const char *arguments : {"/Q", "-x", "/Quiet /X"}) {
        SCOPED_TRACE(arguments);
        // A folder per run: the quiet run's self-removal may still be at work on its own.
        Prepare("quiet" + std::to_string(++run), SampleBlock());
        Check(RunAndAnswer(exe_, arguments, {}), {0, {}}, kTexts[0]);
    }
}

TEST_F(Program, LoaderFailuresShowTheirTextAndExitWithMinusOne) {
    pack::Record refused = pack::MakeRecord(pack::TAG_OPTIONS, pack::OptionsPayload(0, "", ""));
    refused.flags = 1;
    pack::Bytes refusedBlock = pack::EncodeRecords(
        {pack::MakeRecord(pack::TAG_STRINGS, pack::StringTablePayload(kTexts)), refused});
    pack::Bytes noEnd = pack::EncodeRecords(
        {pack::MakeRecord(pack::TAG_STRINGS, pack::StringTablePayload(kTexts))});

    Prepare("refused", refusedBlock);
    Check(RunAndAnswer(exe_, "", {}, 30000, Action::Press(IDOK)),
          {0xFFFFFFFF, {"Remove Sample and all of its components?"}}, kTexts[0]);

    Prepare("no-end", noEnd);
    Check(RunAndAnswer(exe_, "/Q", {}, 30000, Action::Press(IDOK)),
          {0xFFFFFFFF, {"Cannot read " + exe_}}, kTexts[0]);
}

TEST_F(Program, NothingAppendedShowsAnEmptyBox) {
    Place("as-built");
    ASSERT_TRUE(CopyFileA((BuildFolder() + "\\uninstall.exe").c_str(), exe_.c_str(), FALSE));
    Check(RunAndAnswer(exe_, "", {}, 30000, Action::Press(IDOK)), {0xFFFFFFFF, {""}}, "");
}

TEST_F(Program, AnOffsetOfZeroEndsSilently) {
    pack::Bytes image;
    Place("offset-zero");
    ASSERT_TRUE(pack::ReadWholeFile(BuildFolder() + "\\uninstall.exe", &image, nullptr));
    ASSERT_TRUE(pack::Stamp(image, SampleBlock(), nullptr));
    ASSERT_TRUE(pack::WriteOffset(image, 0, nullptr));
    ASSERT_TRUE(pack::WriteWholeFile(exe_, image, nullptr));
    Check(RunAndAnswer(exe_, "", {}), {0xFFFFFFFF, {}}, "");
}

// The progress dialog is open, captioned and labelled while phase 1 asks about a read-only
// file, and gone before the completion box.
TEST_F(Program, ShowsTheProgressDialogWhileThePhasesRun) {
    std::vector<std::string> texts = kTexts;
    texts.resize(16);
    texts[9] = "Read-only: %s";
    texts[11] = "Removing files & more...";
    pack::Block block;
    block.texts = texts;
    block.files = {{".", "locked.txt", 0}};
    Prepare("progress", pack::EncodeBlock(block));
    std::string locked = folder_ + "\\locked.txt";
    ASSERT_TRUE(WriteFileText(locked, "read-only"));
    ASSERT_TRUE(SetFileAttributesA(locked.c_str(), FILE_ATTRIBUTE_READONLY));

    struct Seen {
        bool open = false;
        std::string caption, status;
    } atQuery, atCompletion;
    auto look = [](HWND box, Seen *seen) {
        DWORD pid = 0;
        GetWindowThreadProcessId(box, &pid);
        HWND dialog = FindProgressDialog(pid);
        seen->open = dialog != nullptr;
        if (dialog) {
            Box read = ReadBox(dialog);
            seen->caption = read.caption;
            seen->status = read.text;
        }
    };
    RunResult run =
        RunAndAnswer(exe_, "", {Action::Press(IDOK), Action::Press(IDYES), Action::Press(IDOK)},
                     30000, Action::Press(IDCANCEL), [&](HWND box, const Box &seen) {
                         if (seen.text == "Read-only: " + locked)
                             look(box, &atQuery);
                         else if (seen.text == texts[2])
                             look(box, &atCompletion);
                     });
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode);
    ASSERT_EQ(3u, run.boxes.size());
    EXPECT_TRUE(atQuery.open);
    EXPECT_EQ(texts[0], atQuery.caption);
    EXPECT_EQ(texts[11], atQuery.status) << "the status shows its ampersand as it is";
    EXPECT_FALSE(atCompletion.open) << "the dialog is destroyed before the completion box";
    EXPECT_FALSE(FileExists(locked));
}

// A quiet run makes its hidden window only when a question needs an owner; the question is
// then owned by it, as in a run with boxes, and placed the same.
TEST_F(Program, QuietRunsMakeTheirWindowForAQuestion) {
    std::vector<std::string> texts = kTexts;
    texts.resize(10);
    texts[9] = "Read-only: %s";
    pack::Block block;
    block.texts = texts;
    block.files = {{".", "locked.txt", 0}};
    for (const char *arguments : {"/Q", "/X"}) {
        SCOPED_TRACE(arguments);
        Prepare(std::string("quietowner") + (arguments[1] == 'Q' ? "q" : "x"),
                pack::EncodeBlock(block));
        std::string locked = folder_ + "\\locked.txt";
        ASSERT_TRUE(WriteFileText(locked, "read-only"));
        ASSERT_TRUE(SetFileAttributesA(locked.c_str(), FILE_ATTRIBUTE_READONLY));
        std::string ownerClass, ownerText;
        bool ownerVisible = true;
        RunResult run = RunAndAnswer(exe_, arguments, {Action::Press(IDYES)}, 30000,
                                     Action::Press(IDCANCEL), [&](HWND box, const Box &) {
                                         HWND owner = GetWindow(box, GW_OWNER);
                                         char name[64] = "", text[64] = "";
                                         GetClassNameA(owner, name, sizeof name);
                                         GetWindowTextA(owner, text, sizeof text);
                                         ownerClass = name;
                                         ownerText = text;
                                         ownerVisible = IsWindowVisible(owner) != FALSE;
                                     });
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(0u, run.exitCode);
        ASSERT_EQ(1u, run.boxes.size());
        EXPECT_EQ("Read-only: " + locked, run.boxes[0].text);
        EXPECT_EQ("UninstItClass", ownerClass);
        EXPECT_EQ(texts[0], ownerText);
        EXPECT_FALSE(ownerVisible);
        EXPECT_FALSE(FileExists(locked));
    }
}

struct ClassSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindMainWindow(HWND window, LPARAM data) {
    ClassSearch *search = (ClassSearch *)data;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == search->processId && ClassOf(window) == "UninstItClass") {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// A program that closes other programs' windows sends WM_CLOSE to the hidden main window
// while a box it owns is open: the box stays, the run completes and the process ends.
// Closed at the read-only query, the window's quit message would be drained with the
// progress of the next entry, and the final loop would wait for it for ever.
TEST_F(Program, ACloseRequestToTheMainWindowIsIgnored) {
    std::vector<std::string> texts = kTexts;
    texts.resize(16);
    texts[9] = "Read-only: %s";
    pack::Block block;
    block.texts = texts;
    block.files = {{".", "app.txt", 0}, {".", "locked.txt", 0}}; // the last entry goes first
    static const struct {
        const char *name;
        size_t box; // the close request comes while this box is open
    } cases[] = {{"at the confirmation", 0}, {"at the read-only query", 1}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Prepare("close-request" + std::to_string(c.box), pack::EncodeBlock(block));
        std::string locked = folder_ + "\\locked.txt";
        ASSERT_TRUE(WriteFileText(locked, "read-only"));
        ASSERT_TRUE(SetFileAttributesA(locked.c_str(), FILE_ATTRIBUTE_READONLY));
        size_t seen = 0;
        bool delivered = false, survived = false;
        RunResult run = RunAndAnswer(
            exe_, "", {Action::Press(IDOK), Action::Press(IDYES), Action::Press(IDOK)}, 30000,
            Action::Press(IDCANCEL), [&](HWND box, const Box &) {
                if (seen++ != c.box)
                    return;
                ClassSearch search{0, nullptr};
                GetWindowThreadProcessId(box, &search.processId);
                EnumWindows(FindMainWindow, (LPARAM)&search);
                DWORD_PTR result;
                delivered = search.found && SendMessageTimeoutA(search.found, WM_CLOSE, 0, 0,
                                                                SMTO_NORMAL, 20000, &result);
                survived = IsWindow(search.found) && IsWindow(box) && IsWindowVisible(box);
            });
        EXPECT_TRUE(delivered);
        EXPECT_TRUE(survived) << "the main window or the box went with the close request";
        Check(run, {0, {texts[1], "Read-only: " + locked, texts[2]}}, texts[0]);
        EXPECT_FALSE(FileExists(locked));
        EXPECT_FALSE(FileExists(folder_ + "\\app.txt"));
    }
}

// The sequence detects the system family before anything else: a font leaves the list of
// installed fonts of the running family only.
TEST_F(Program, UnregistersFontsFromTheRunningFamilysList) {
    if (Family().empty())
        GTEST_SKIP() << "not started by the rig";
    static const char ntKey[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
    static const char key95[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts";
    static const char value[] = "Vanish Table Forty (TrueType)";
    pack::Block block;
    block.texts = kTexts;
    block.files = {{".", "forty.ttf", pack::FILE_FONT}};
    Prepare("font-family", pack::EncodeBlock(block));
    std::string font = folder_ + "\\forty.ttf";
    ASSERT_TRUE(CopyFileA((SourceFolder() + "\\tests\\fixtures\\fonts\\probe-table40.ttf").c_str(),
                          font.c_str(), FALSE));
    for (const char *key : {ntKey, key95})
        ASSERT_TRUE(WriteValue(HKEY_LOCAL_MACHINE, key, value, TextValue("forty.ttf")));

    Check(RunAndAnswer(exe_, "/Q", {}), {0, {}}, kTexts[0]);

    bool nt = Family() == "win10";
    EXPECT_EQ(!nt, ReadValue(HKEY_LOCAL_MACHINE, ntKey, value).present);
    EXPECT_EQ(nt, ReadValue(HKEY_LOCAL_MACHINE, key95, value).present);
    EXPECT_FALSE(FileExists(font));
    for (const char *key : {ntKey, key95})
        DeleteValue(HKEY_LOCAL_MACHINE, key, value);
}

} // namespace
