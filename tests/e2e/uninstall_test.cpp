// End to end: a sample application installed into the machine as an installer would place
// it, removed by its stamped uninstaller through the real dialogs, and the machine compared
// afterwards with the expected state, file by file and key by key.
//
// The sample, named per family and per test so that the two families can run side by side:
// - in Program Files: the program, its clean-up program, read-only files, nested folders of
//   plugins, a COM server (read-only as well), data files, folders of logs and caches named
//   by folder entries, and a file of the user's own that no entry names;
// - in Common Files: two shared DLLs with SharedDLLs counts, one used by this application
//   alone (count 1) and one by two others as well (count 3);
// - a TrueType font in the Fonts folder, listed for both families;
// - a Start-menu group and a desktop shortcut;
// - key trees and values under HKLM and HKCU, an Add/Remove Programs entry, an App Paths
//   entry, a COM class and its program identifier, and values in a key the user keeps;
// - a document type of the machine's own (not the sample's), whose open command records
//   the document the uninstaller opens at the end.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "machine.h"
#include "snapshot.h"
#include "support.h"

using namespace testing_support;
using namespace snapshot;
using namespace e2e;

namespace {

const DWORD kClassesRoot = 0x80000000;
const DWORD kCurrentUser = 0x80000001;
const DWORD kLocalMachine = 0x80000002;
const char kSharedDlls[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const char kUninstall[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char kAppPaths[] = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths";
const char kFontsNT[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
const char kFonts95[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts";
const char kUnregistered[] = "Software\\Vanish Tests\\Unregistered";
const char kCleanupMark[] = "vanish-sample-cleanup.txt";

::testing::Environment *const standIn = ::testing::AddGlobalTestEnvironment(new CommandComStandIn);

std::vector<std::string> Texts() {
    return {"Vanish Sample Uninstall",
            "Remove Vanish Sample and all of its components?",
            "Vanish Sample was removed from your computer.",
            "&Yes",
            "Yes to &all",
            "&No",
            "N&o to all",
            "Out of memory: %s",
            "Cannot read %s",
            "The file %s is read-only. Remove it anyway?",
            "No other program uses %s any more. Remove it?",
            "Removing files...",
            "Removing folders...",
            "Removing program folders...",
            "Removing registry entries...",
            "Vanish Sample is still running. Close it and press Retry."};
}

std::string Fixture(const std::string &name) {
    return BuildFolder() + "\\tests\\fixtures\\" + name;
}

std::string Hex(unsigned value) {
    char text[16];
    wsprintfA(text, "%08X", value);
    return text;
}

unsigned Hash(const std::string &text) {
    unsigned hash = 2166136261u;
    for (unsigned char c : text)
        hash = (hash ^ c) * 16777619u;
    return hash;
}

// What the user answers to the two questions the phases may ask, and how the run goes.
enum class Shared { Yes, No };
enum class ReadOnly { YesToAll, NoToAll, YesThenNo };

class Sample : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(Family().empty()) << "run through the rig, as win98 or win10";
        test_ = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        name_ = "Vanish E2E " + Family() + " " + test_;
        std::string programFiles = RegistryFolder("ProgramFilesDir");
        std::string commonFiles = RegistryFolder("CommonFilesDir");
        ASSERT_FALSE(programFiles.empty());
        ASSERT_FALSE(commonFiles.empty());
        install_ = WithoutBackslash(programFiles) + "\\" + name_;
        shared_ = WithoutBackslash(commonFiles) + "\\" + name_ + " Shared";
        group_ = WithoutBackslash(ShellFolder(CSIDL_PROGRAMS)) + "\\" + name_;
        shortcut_ = WithoutBackslash(ShellFolder(CSIDL_DESKTOPDIRECTORY)) + "\\" + name_ + ".lnk";
        fonts_ = WithoutBackslash(ShellFolder(CSIDL_FONTS));
        fontFile_ = "vanish-e2e-" + Family() + "-" + test_ + ".ttf";
        fontValue_ = "Vanish Sample Font " + Family().substr(3) + " (TrueType)";
        // Without a space: command.com would split the batch file's name at it.
        temp_ = ScratchFolder(test_ + "-temp");
        docs_ = ScratchFolder(test_ + " docs");
        document_ = docs_ + "\\Welcome to Vanish Sample.vanishdoc" + Family();
        record_ = docs_ + "\\opened.txt";
        exeName_ = "uninstall-" + Family() + ".exe";
        exe_ = install_ + "\\" + exeName_;

        vendorKey_ = "Software\\Vanish E2E\\" + Family() + " " + test_;
        otherKey_ = "Software\\Vanish E2E\\Other " + Family() + " " + test_;
        userKey_ = "Software\\Vanish E2E\\" + Family() + " " + test_;
        keptUserKey_ = "Software\\Vanish E2E Shared\\" + Family() + " " + test_;
        uninstallKey_ = std::string(kUninstall) + "\\" + name_;
        appPathsKey_ = std::string(kAppPaths) + "\\vanish-e2e-" + Family() + "-" + test_ + ".exe";
        clsid_ = "CLSID\\{" + Hex(Hash(name_)) + "-E2E0-4000-8000-00005A1E2E00}";
        progId_ = "VanishE2E.Sample." + Family() + "." + test_;
        docType_ = ".vanishdoc" + Family();
        docClass_ = "VanishE2E.Document." + Family();

        CleanUp();
        ASSERT_NO_FATAL_FAILURE(Install());
        ASSERT_NO_FATAL_FAILURE(RegisterDocumentType());
        for (const char *variable : {"TMP", "TEMP"}) {
            char value[MAX_PATH] = {};
            DWORD n = GetEnvironmentVariableA(variable, value, MAX_PATH);
            savedTemp_.push_back(n && n < MAX_PATH ? value : "");
            SetEnvironmentVariableA(variable, temp_.c_str()); // the uninstaller inherits it
        }
    }

    void TearDown() override {
        for (size_t i = 0; i < savedTemp_.size(); i++)
            SetEnvironmentVariableA(i ? "TEMP" : "TMP",
                                    savedTemp_[i].empty() ? nullptr : savedTemp_[i].c_str());
        if (!HasFailure())
            CleanUp();
    }

    // Everything the sample or the test may have left, from this run or an earlier one.
    void CleanUp() {
        for (const std::string &folder : {install_, shared_, group_})
            RemoveTree(folder);
        for (const std::string &file : {shortcut_, fonts_ + "\\" + fontFile_}) {
            SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(file.c_str());
        }
        RemoveKeyTree(HKEY_LOCAL_MACHINE, vendorKey_);
        RemoveKeyTree(HKEY_LOCAL_MACHINE, otherKey_);
        RemoveKeyTree(HKEY_CURRENT_USER, userKey_);
        RemoveKeyTree(HKEY_CURRENT_USER, keptUserKey_);
        RemoveKeyTree(HKEY_LOCAL_MACHINE, uninstallKey_);
        RemoveKeyTree(HKEY_LOCAL_MACHINE, appPathsKey_);
        RemoveKeyTree(HKEY_CLASSES_ROOT, clsid_);
        RemoveKeyTree(HKEY_CLASSES_ROOT, progId_);
        RemoveKeyTree(HKEY_CLASSES_ROOT, docType_);
        RemoveKeyTree(HKEY_CLASSES_ROOT, docClass_);
        for (const char *dll : {"vshared1.dll", "vshared2.dll"})
            DeleteValue(HKEY_LOCAL_MACHINE, kSharedDlls, shared_ + "\\" + dll);
        DeleteValue(HKEY_LOCAL_MACHINE, kFontsNT, fontValue_);
        DeleteValue(HKEY_LOCAL_MACHINE, kFonts95, fontValue_);
        DeleteValue(HKEY_CURRENT_USER, kUnregistered, ComServer());
    }

    std::string ComServer() const {
        return install_ + "\\bin\\vsample.dll";
    }

    void Text(const std::string &path, const std::string &text, bool readOnly = false) {
        ASSERT_TRUE(MakeFolders(path.substr(0, path.rfind('\\')))) << path;
        ASSERT_TRUE(WriteFileText(path, text)) << path;
        if (readOnly) {
            ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY)) << path;
        }
    }
    void Copy(const std::string &from, const std::string &to, bool readOnly = false) {
        ASSERT_TRUE(MakeFolders(to.substr(0, to.rfind('\\')))) << to;
        ASSERT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE)) << from << " to " << to;
        if (readOnly) {
            ASSERT_TRUE(SetFileAttributesA(to.c_str(), FILE_ATTRIBUTE_READONLY)) << to;
        }
    }
    void SetValue(HKEY root, const std::string &key, const std::string &name,
                  const testing_support::Value &value) {
        ASSERT_TRUE(WriteValue(root, key, name, value)) << RootName(root) << "\\" << key;
    }

    // What an installer does, in the order it would do it.
    void Install() {
        if (!SetFamilyOf(exeName_, Family()))
            FAIL() << "could not set the family of " << exeName_;
        Text(install_ + "\\app.exe", "the sample's program");
        Copy(Fixture("samplecleanup.exe"), install_ + "\\cleanup.exe");
        Text(install_ + "\\readme.txt", "Read me first.", true);
        Text(install_ + "\\license.txt", "The sample's licence.");
        Text(install_ + "\\bin\\engine.dll", "engine");
        Text(install_ + "\\bin\\plugins\\export.dll", "export plugin");
        Text(install_ + "\\bin\\plugins\\import.dll", "import plugin");
        Copy(Fixture("comserver.dll"), ComServer(), true);
        Text(install_ + "\\data\\settings.ini", "[window]\r\nx=10\r\n");
        Text(install_ + "\\data\\templates\\letter.dot", "Dear ...", true);
        Text(install_ + "\\logs\\app.log", "started\r\n");
        Text(install_ + "\\cache\\a\\b\\index.dat", "cache index");
        // The user's own file: no entry names it, and it keeps its folders.
        Text(install_ + "\\data\\My Notes.txt", "my own notes");

        Text(shared_ + "\\vshared1.dll", "used by the sample alone");
        Text(shared_ + "\\vshared2.dll", "used by two other programs as well");
        SetValue(HKEY_LOCAL_MACHINE, kSharedDlls, shared_ + "\\vshared1.dll", DwordValue(1));
        SetValue(HKEY_LOCAL_MACHINE, kSharedDlls, shared_ + "\\vshared2.dll", DwordValue(3));

        Copy(SourceFolder() + "\\tests\\fixtures\\fonts\\sample-font-" + Family() + ".ttf",
             fonts_ + "\\" + fontFile_);
        SetValue(HKEY_LOCAL_MACHINE, kFontsNT, fontValue_, TextValue(fontFile_));
        SetValue(HKEY_LOCAL_MACHINE, kFonts95, fontValue_, TextValue(fontFile_));

        Text(group_ + "\\Vanish Sample.lnk", "shortcut to the program");
        Text(group_ + "\\Uninstall Vanish Sample.lnk", "shortcut to the uninstaller");
        Text(shortcut_, "shortcut on the desktop");

        // Sibling subkeys sort with the longer name first: Wine's recursive key deletion for
        // the 95/98/Me family stops at a subkey whose name is not shorter than the one before.
        SetValue(HKEY_LOCAL_MACHINE, vendorKey_, "InstallDir", TextValue(install_));
        SetValue(HKEY_LOCAL_MACHINE, vendorKey_, "Version", DwordValue(0x00010002));
        SetValue(HKEY_LOCAL_MACHINE, vendorKey_ + "\\Components\\Engines", "", TextValue("engine"));
        SetValue(HKEY_LOCAL_MACHINE, vendorKey_ + "\\Components\\Plugin", "", TextValue("plugin"));
        SetValue(HKEY_LOCAL_MACHINE, otherKey_, "InstallDir", TextValue("C:\\Other"));
        SetValue(HKEY_CURRENT_USER, userKey_ + "\\Window", "Width", DwordValue(640));
        SetValue(HKEY_CURRENT_USER, userKey_ + "\\Recently Used\\Files", "1",
                 TextValue("C:\\a.txt"));
        SetValue(HKEY_CURRENT_USER, keptUserKey_, "Sample Version", TextValue("1.2"));
        SetValue(HKEY_CURRENT_USER, keptUserKey_, "", TextValue("the key's default value"));
        SetValue(HKEY_CURRENT_USER, keptUserKey_, "Other Version", TextValue("4.0"));
        SetValue(HKEY_LOCAL_MACHINE, uninstallKey_, "DisplayName", TextValue("Vanish Sample"));
        SetValue(HKEY_LOCAL_MACHINE, uninstallKey_, "UninstallString", TextValue(exe_));
        SetValue(HKEY_LOCAL_MACHINE, appPathsKey_, "", TextValue(install_ + "\\app.exe"));
        SetValue(HKEY_LOCAL_MACHINE, appPathsKey_, "Path", TextValue(install_));
        SetValue(HKEY_CLASSES_ROOT, clsid_, "", TextValue("Vanish Sample Object"));
        SetValue(HKEY_CLASSES_ROOT, clsid_ + "\\InprocServer32", "", TextValue(ComServer()));
        SetValue(HKEY_CLASSES_ROOT, clsid_ + "\\InprocServer32", "ThreadingModel",
                 TextValue("Apartment"));
        SetValue(HKEY_CLASSES_ROOT, progId_ + "\\CLSID", "", TextValue(clsid_.substr(6)));

        pack::Block block;
        block.texts = Texts();
        // As the installer recorded them; phase 1 handles them from the last to the first.
        block.files = {
            {".", "app.exe", pack::FILE_CHECKINUSE},
            {".", "cleanup.exe", 0},
            {".", "readme.txt", 0},
            {".", "license.txt", 0},
            {".\\bin", "engine.dll", 0},
            {".\\bin\\plugins", "", 0}, // the folder, handled after its files
            {".\\bin\\plugins", "export.dll", 0},
            {".\\bin\\plugins", "import.dll", 0},
            {".\\bin", "vsample.dll", pack::FILE_COMSERVER},
            {".\\data", "settings.ini", 0},
            {".\\data\\templates", "letter.dot", 0},
            {shared_, "vshared1.dll", pack::FILE_SHARED},
            {shared_, "vshared2.dll", pack::FILE_SHARED},
            {fonts_, fontFile_, pack::FILE_FONT},
            {group_, "Vanish Sample.lnk", 0},
            {group_, "Uninstall Vanish Sample.lnk", 0},
            {shortcut_.substr(0, shortcut_.rfind('\\')), name_ + ".lnk", 0},
        };
        block.folders = {{0, install_ + "\\logs", "app.log"},
                         {2, install_ + "\\cache\\a\\b", "index.dat"}};
        block.registry = {
            {kLocalMachine, vendorKey_},
            {kCurrentUser, userKey_},
            {kCurrentUser, keptUserKey_ + "\\\\Sample Version"},
            {kCurrentUser, keptUserKey_ + "\\\\"},
            {kLocalMachine, uninstallKey_},
            {kLocalMachine, appPathsKey_},
            {kClassesRoot, clsid_},
            {kClassesRoot, progId_},
        };
        block.optionFlags = pack::OPTION_WAIT;
        block.program = "cleanup.exe";
        block.document = document_;
        ASSERT_TRUE(WriteStampedUninstaller(pack::EncodeBlock(block), exe_));
    }

    // A document type of the machine's own, whose open command records what it opened.
    void RegisterDocumentType() {
        Text(document_, "Thank you for using Vanish Sample.");
        SetValue(HKEY_CLASSES_ROOT, docType_, "", TextValue(docClass_));
        std::string command = "\"" + Fixture("recorder.exe") + "\" \"" + record_ + "\" \"%1\"";
        SetValue(HKEY_CLASSES_ROOT, docClass_ + "\\shell\\open\\command", "", TextValue(command));
    }

    // Everything a run may change, and every protected folder and key.
    Scope SampleScope() const {
        Scope scope;
        for (const std::string &folder : {install_, shared_, group_, temp_})
            scope.Tree(folder);
        scope.Path(shortcut_);
        scope.Path(fonts_ + "\\" + fontFile_);
        for (const std::string &key : {vendorKey_, otherKey_, uninstallKey_, appPathsKey_})
            scope.KeyTree(HKEY_LOCAL_MACHINE, key);
        for (const std::string &key : {userKey_, keptUserKey_})
            scope.KeyTree(HKEY_CURRENT_USER, key);
        for (const std::string &key : {clsid_, progId_})
            scope.KeyTree(HKEY_CLASSES_ROOT, key);
        for (const char *dll : {"vshared1.dll", "vshared2.dll"})
            scope.Value(HKEY_LOCAL_MACHINE, kSharedDlls, shared_ + "\\" + dll);
        scope.Value(HKEY_LOCAL_MACHINE, kFontsNT, fontValue_);
        scope.Value(HKEY_LOCAL_MACHINE, kFonts95, fontValue_);
        scope.Value(HKEY_CURRENT_USER, kUnregistered, ComServer());
        AddProtected(scope);
        return scope;
    }

    // The machine after a completed run, from the state before it.
    Snapshot Removed(const Snapshot &before, Shared shared, ReadOnly readOnly) const {
        Snapshot expected = before;
        for (const char *gone : {"app.exe", "cleanup.exe", "license.txt", "bin",
                                 "data\\settings.ini", "logs", "cache"})
            expected.Remove(install_ + "\\" + gone);
        if (readOnly != ReadOnly::NoToAll)
            expected.Remove(install_ + "\\data\\templates");
        if (readOnly == ReadOnly::YesToAll)
            expected.Remove(install_ + "\\readme.txt");
        expected.Remove(group_);
        expected.Remove(shortcut_);
        expected.Remove(fonts_ + "\\" + fontFile_);
        // Only the running family's list loses the font.
        expected.Remove(ValueItem(HKEY_LOCAL_MACHINE, IsNT() ? kFontsNT : kFonts95, fontValue_));
        // The shared DLL of the sample alone goes on Yes; on No it stays with a count of 0.
        std::string shared1 =
            ValueItem(HKEY_LOCAL_MACHINE, kSharedDlls, shared_ + "\\vshared1.dll");
        if (shared == Shared::Yes) {
            expected.Remove(shared_ + "\\vshared1.dll");
            expected.Remove(shared1);
        } else {
            expected.Set(shared1, DwordDescription(0));
        }
        // The other programs' shared DLL stays, counted once less.
        expected.Set(ValueItem(HKEY_LOCAL_MACHINE, kSharedDlls, shared_ + "\\vshared2.dll"),
                     DwordDescription(2));
        // The read-only COM server was unregistered, then deleted without a question.
        expected.Set(ValueItem(HKEY_CURRENT_USER, kUnregistered, ComServer()), DwordDescription(1));
        for (const std::string &key : {vendorKey_, uninstallKey_, appPathsKey_})
            expected.Remove(KeyItem(HKEY_LOCAL_MACHINE, key));
        expected.Remove(KeyItem(HKEY_CURRENT_USER, userKey_));
        expected.Remove(ValueItem(HKEY_CURRENT_USER, keptUserKey_, "Sample Version"));
        expected.Remove(ValueItem(HKEY_CURRENT_USER, keptUserKey_, ""));
        expected.Remove(KeyItem(HKEY_CLASSES_ROOT, clsid_));
        expected.Remove(KeyItem(HKEY_CLASSES_ROOT, progId_));
        return expected;
    }

    // The program and the document of a run that is not bare, and the self-removal.
    void Launched(Snapshot &expected) const {
        expected.Set(temp_ + "\\" + kCleanupMark, TextFileDescription(install_));
        expected.Remove(exe_);
    }

    // As a user's ordinary program, which opens the document itself (an elevated run hands
    // it to the desktop shell).
    RunResult Run(const std::string &arguments, std::vector<Action> script) {
        AsOrdinaryUser user;
        return RunAndAnswer(exe_, arguments, std::move(script), 120000);
    }

    // After a run that removes the uninstaller: its batch has gone once the file is gone.
    // The journal of the shared counts this uninstaller lowered, beside it.
    std::string Journal() const {
        return exe_.substr(0, exe_.size() - 4) + ".released";
    }

    // The self-removal takes the uninstaller, then its journal, then its folder when empty.
    bool WaitForSelfRemoval() {
        return WaitFor([&] {
            if (FileExists(exe_) || FileExists(Journal()))
                return false;
            for (const std::string &name : ListFolder(temp_))
                if (name.size() > 4 && name.compare(name.size() - 4, 4, ".bat") == 0)
                    return false;
            return true;
        });
    }

    // The document, opened once through its type's command, with its path.
    void ExpectDocumentOpened() {
        ASSERT_TRUE(WaitFor([&] { return FileExists(record_); })) << "the document was not opened";
        std::string line = ReadFileText(record_);
        EXPECT_NE(std::string::npos, line.find(document_)) << line;
    }

    std::string Question(int number, const std::string &path) const {
        std::string text = Texts()[number];
        return text.replace(text.find("%s"), 2, path);
    }

    std::string test_, name_, install_, shared_, group_, shortcut_, fonts_, fontFile_, fontValue_,
        temp_, docs_, document_, record_, exeName_, exe_;
    std::string vendorKey_, otherKey_, userKey_, keptUserKey_, uninstallKey_, appPathsKey_, clsid_,
        progId_, docType_, docClass_;
    std::vector<std::string> savedTemp_;
};

std::vector<std::string> BoxTexts(const RunResult &run) {
    std::vector<std::string> texts;
    for (const Box &box : run.boxes)
        texts.push_back(box.text);
    return texts;
}

// A top-level window, of this process, whose thread takes no messages while it lives: a
// program that hangs somewhere on the machine while the uninstaller broadcasts the change of
// fonts.
class HungWindow {
  public:
    HungWindow() {
        ready_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        release_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        thread_ = std::thread([this] {
            HWND window = CreateWindowExA(0, "STATIC", "hung", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                                          nullptr, nullptr, nullptr);
            SetEvent(ready_);
            WaitForSingleObject(release_, INFINITE);
            if (window)
                DestroyWindow(window);
        });
        WaitForSingleObject(ready_, INFINITE);
    }
    ~HungWindow() {
        SetEvent(release_);
        thread_.join();
        CloseHandle(ready_);
        CloseHandle(release_);
    }

  private:
    HANDLE ready_, release_;
    std::thread thread_;
};

// No switch: confirmation, the shared question (Yes), the read-only query (yes to all),
// completion; the clean-up program runs first, the document opens last, the uninstaller
// removes itself, and the install folder stays for the user's file. A hung program's
// window does not hold the run.
TEST_F(Sample, NoSwitch) {
    Snapshot before = Snapshot::Take(SampleScope());
    RunResult run;
    {
        HungWindow hung;
        run = Run("", {Action::Press(IDOK), Action::Press(IDYES), Action::Press(1001),
                       Action::Press(IDOK)});
    }
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode);
    std::vector<std::string> texts = Texts();
    std::vector<std::string> expectedBoxes = {
        texts[1], Question(10, shared_ + "\\vshared1.dll"),
        Question(9, install_ + "\\data\\templates\\letter.dot"), texts[2]};
    EXPECT_EQ(expectedBoxes, BoxTexts(run));
    for (const Box &box : run.boxes)
        EXPECT_EQ(texts[0], box.caption);
    EXPECT_TRUE(WaitForSelfRemoval()) << "the uninstaller did not remove itself";
    ExpectDocumentOpened();

    Snapshot expected = Removed(before, Shared::Yes, ReadOnly::YesToAll);
    Launched(expected);
    std::string differences = Compare(expected, Snapshot::Take(SampleScope()));
    EXPECT_EQ("", differences) << "the machine after the run differs:\n" << differences;
}

// Quiet: no confirmation, progress or completion, but the phases' own questions still come:
// No keeps the shared DLL with a count of 0, no to all keeps both read-only files (the
// read-only COM server goes all the same). Program, document and self-removal as before.
TEST_F(Sample, Quiet) {
    Snapshot before = Snapshot::Take(SampleScope());
    RunResult run = Run("/Q", {Action::Press(IDNO), Action::Press(1002)});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode);
    std::vector<std::string> expectedBoxes = {
        Question(10, shared_ + "\\vshared1.dll"),
        Question(9, install_ + "\\data\\templates\\letter.dot")};
    EXPECT_EQ(expectedBoxes, BoxTexts(run));
    EXPECT_TRUE(WaitForSelfRemoval()) << "the uninstaller did not remove itself";
    ExpectDocumentOpened();

    Snapshot expected = Removed(before, Shared::No, ReadOnly::NoToAll);
    Launched(expected);
    std::string differences = Compare(expected, Snapshot::Take(SampleScope()));
    EXPECT_EQ("", differences) << "the machine after the run differs:\n" << differences;
}

// Bare: only the phases and their questions. Yes for the first read-only file, No for the
// second, which then stays; no program, no document, and the uninstaller stays.
TEST_F(Sample, Bare) {
    Snapshot before = Snapshot::Take(SampleScope());
    RunResult run = Run("/X", {Action::Press(IDYES), Action::Press(IDYES), Action::Press(IDNO)});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode);
    std::vector<std::string> expectedBoxes = {
        Question(10, shared_ + "\\vshared1.dll"),
        Question(9, install_ + "\\data\\templates\\letter.dot"),
        Question(9, install_ + "\\readme.txt")};
    EXPECT_EQ(expectedBoxes, BoxTexts(run));

    Snapshot expected = Removed(before, Shared::Yes, ReadOnly::YesThenNo);
    // The uninstaller stays, and with it the record of the counts it lowered and the values
    // it left: a second run lowers neither again while they stay so.
    expected.Set(Journal(), TextFileDescription(shared_ + "\\vshared2.dll|2\r\n" + shared_ +
                                                "\\vshared1.dll|0\r\n"));
    std::string differences = Compare(expected, Snapshot::Take(SampleScope()));
    EXPECT_EQ("", differences) << "the machine after the run differs:\n" << differences;
    EXPECT_FALSE(FileExists(record_)) << "a bare run opens no document";
}

// Cancel at the confirmation, or at the in-use question after one Retry while the program
// is held open: nothing on the machine changes, and the uninstaller stays.
TEST_F(Sample, Cancel) {
    static const struct {
        const char *name;
        bool holdProgram;
        std::vector<Action> script;
        size_t boxes;
    } cases[] = {
        {"at the confirmation", false, {Action::Press(IDCANCEL)}, 1},
        {"at the in-use question",
         true,
         {Action::Press(IDOK), Action::Press(IDRETRY), Action::Press(IDCANCEL)},
         3},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Snapshot before = Snapshot::Take(SampleScope());
        HANDLE held = INVALID_HANDLE_VALUE;
        if (c.holdProgram) {
            held = CreateFileA((install_ + "\\app.exe").c_str(), GENERIC_READ, FILE_SHARE_READ,
                               nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(INVALID_HANDLE_VALUE, held);
        }
        RunResult run = Run("", c.script);
        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(0u, run.exitCode);
        ASSERT_EQ(c.boxes, run.boxes.size());
        EXPECT_EQ(Texts()[1], run.boxes[0].text);
        for (size_t i = 1; i < run.boxes.size(); i++)
            EXPECT_EQ(Texts()[15], run.boxes[i].text);
        std::string differences = Compare(before, Snapshot::Take(SampleScope()));
        EXPECT_EQ("", differences) << "the machine after the run differs:\n" << differences;
        EXPECT_FALSE(FileExists(record_));
    }
}

// The log's lines, without their time stamps, of the one log in folder.
std::vector<std::string> LogLinesIn(const std::string &folder) {
    std::vector<std::string> names = ListFolder(folder);
    EXPECT_EQ(1u, names.size()) << "one log in " << folder;
    std::vector<std::string> lines;
    if (names.size() != 1)
        return lines;
    std::string log = ReadFileText(folder + "\\" + names[0]);
    size_t start = log.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
    for (size_t end; (end = log.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(Unstamped(log.substr(start, end - start)));
    return lines;
}

// What a log says went, or would go, as "kind: subject", in the words of a real run.
std::vector<std::string> Removals(const std::vector<std::string> &lines) {
    static const char *const kinds[][2] = {{"would delete: ", "file deleted: "},
                                           {"would remove folder: ", "folder removed: "},
                                           {"would delete key: ", "key deleted: "},
                                           {"would delete value: ", "value deleted: "}};
    std::vector<std::string> removals;
    for (const std::string &line : lines)
        for (const auto &kind : kinds)
            for (const char *text : kind)
                if (line.rfind(text, 0) == 0)
                    removals.push_back(kind[1] + line.substr(strlen(text)));
    std::sort(removals.begin(), removals.end());
    return removals;
}

bool LogHasLine(const std::vector<std::string> &lines, const std::string &line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// A dry run (/N) of the whole sample changes nothing: no file, key, value, shared count,
// journal or restart list; no program, document or self-removal; no box. What its log says
// would go is exactly what a silent run then removes, and both end with the same exit code.
TEST_F(Sample, DryRun) {
    const std::string dryLogs = ScratchFolder(test_ + "-dry"),
                      realLogs = ScratchFolder(test_ + "-real");
    const char kSession[] = "System\\CurrentControlSet\\Control\\Session Manager";
    Value pending = ReadValue(HKEY_LOCAL_MACHINE, kSession, "PendingFileRenameOperations");
    Snapshot before = Snapshot::Take(SampleScope());
    RunResult dry = Run("/N /L=" + dryLogs, {});
    ASSERT_TRUE(dry.finished);
    EXPECT_TRUE(dry.boxes.empty());
    EXPECT_NE(3010u, dry.exitCode);
    std::string differences = Compare(before, Snapshot::Take(SampleScope()));
    EXPECT_EQ("", differences) << "the dry run changed the machine:\n" << differences;
    EXPECT_EQ(pending, ReadValue(HKEY_LOCAL_MACHINE, kSession, "PendingFileRenameOperations"));
    EXPECT_FALSE(FileExists(record_)) << "a dry run opens no document";

    std::vector<std::string> dryLines = LogLinesIn(dryLogs);
    const std::string arrow = " \xE2\x86\x92 ";
    for (const std::string &line :
         {"would lower the shared count 3" + arrow + "2: " + shared_ + "\\vshared2.dll",
          "would lower the shared count 1" + arrow + "0: " + shared_ + "\\vshared1.dll",
          "would run the program: " + install_ + "\\cleanup.exe", "would remove itself: " + exe_})
        EXPECT_TRUE(LogHasLine(dryLines, line)) << line;
    ASSERT_FALSE(dryLines.empty());
    EXPECT_EQ(0u, dryLines.back().rfind("end of the dry run, ", 0)) << dryLines.back();

    RunResult real = Run("/S /L=" + realLogs, {});
    ASSERT_TRUE(real.finished);
    EXPECT_EQ(real.exitCode, dry.exitCode);
    EXPECT_TRUE(WaitForSelfRemoval());
    std::vector<std::string> would = Removals(dryLines), did = Removals(LogLinesIn(realLogs));
    EXPECT_FALSE(would.empty());
    EXPECT_EQ(did, would);
}

} // namespace
