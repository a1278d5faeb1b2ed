// Hostile blocks: entries that name every protected folder, the drive root and every
// protected key, with the largest levels a folder entry can hold, and nothing protected
// goes. Three views:
// - the real uninstaller, run bare, on folders that exist and are empty wherever they can
//   be, so that a removal that should not happen would succeed;
// - the phases in this process with every folder removal recorded and refused, so that not
//   even an attempt on a protected folder, empty or not, can pass unseen;
// - the registry phase in this process with the predefined roots redirected to scratch keys
//   that hold a copy of every protected key.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>

#include "entries_support.h"
#include "machine.h"
#include "removal/removal.h"
#include "removal_support.h"
#include "snapshot.h"
#include "support.h"

using namespace testing_support;
using namespace removal_tests;

namespace {

const BYTE kMostLevels = 255;

std::string Hostile() {
    return "Vanish Hostile " + Family();
}

// A protected folder as it is spelt in entries: as the system reports it, with a trailing
// backslash, and in capitals. Every protected-folder test costs dozens of shell lookups, so
// the in-process test, which only looks for attempts, takes one spelling.
std::vector<std::string> Spellings(const e2e::ProtectedFolder &folder, bool all) {
    if (!all)
        return {e2e::Upper(folder.path) + "\\"};
    return {folder.path, folder.path + "\\", e2e::Upper(folder.path) + "\\"};
}

// Each protected folder as a folder entry, and a walk that starts two levels below it; the
// same for the drive root.
std::vector<FolderRow> HostileFolderEntries(const std::vector<e2e::ProtectedFolder> &folders,
                                            bool allSpellings) {
    std::vector<FolderRow> entries;
    for (const e2e::ProtectedFolder &folder : folders) {
        for (const std::string &spelling : Spellings(folder, allSpellings))
            entries.push_back({kMostLevels, spelling, ""});
        entries.push_back({kMostLevels, folder.path + "\\" + Hostile() + "\\below", ""});
    }
    for (const char *root : {"C:\\", "C:", "c:\\", ""})
        entries.push_back({kMostLevels, root, ""});
    entries.push_back({kMostLevels, "C:\\" + Hostile() + "\\below", ""});
    return entries;
}

// File entries with empty names name folders: the same folders once more.
std::vector<Entry> HostileFileEntries(const std::vector<e2e::ProtectedFolder> &folders,
                                      bool allSpellings) {
    std::vector<Entry> entries;
    for (const e2e::ProtectedFolder &folder : folders)
        for (const std::string &spelling : Spellings(folder, allSpellings))
            entries.push_back({spelling, "", 0});
    for (const char *root : {"C:\\", "C:", ""})
        entries.push_back({root, "", 0});
    return entries;
}

std::string Describe(const std::vector<std::string> &paths) {
    std::string text;
    for (const std::string &path : paths)
        text += "\n  " + path;
    return text;
}

// The real uninstaller, run bare with the hostile entries. Every protected folder exists
// beforehand (created empty where it was missing), and the walks from below each end
// right under it.
TEST(Hostile, RealUninstallerKeepsEveryProtectedFolder) {
    std::vector<e2e::ProtectedFolder> folders = e2e::ProtectedFolders();
    ASSERT_FALSE(folders.empty());
    std::vector<std::string> empty;
    for (const e2e::ProtectedFolder &folder : folders) {
        ASSERT_TRUE(e2e::MakeFolders(folder.path)) << folder.name << ": " << folder.path;
        bool isEmpty = true;
        WIN32_FIND_DATAA data;
        HANDLE find = FindFirstFileA((folder.path + "\\*").c_str(), &data);
        if (find != INVALID_HANDLE_VALUE) {
            do
                isEmpty =
                    isEmpty && (!lstrcmpA(data.cFileName, ".") || !lstrcmpA(data.cFileName, ".."));
            while (FindNextFileA(find, &data));
            FindClose(find);
        }
        if (isEmpty)
            empty.push_back(folder.path);
        ASSERT_TRUE(e2e::MakeFolders(folder.path + "\\" + Hostile() + "\\below"));
    }
    std::string driveChild = "C:\\" + Hostile();
    ASSERT_TRUE(e2e::MakeFolders(driveChild + "\\below"));
    // Without folders that a wrongful removal could take, this test would show nothing.
    ASSERT_FALSE(empty.empty()) << "no protected folder is empty here";
    std::cout << "protected folders that were empty before the run:" << Describe(empty) << "\n";

    snapshot::Scope scope;
    e2e::AddProtected(scope);
    snapshot::Snapshot before = snapshot::Snapshot::Take(scope);

    pack::Block block;
    block.texts = kTexts;
    for (const FolderRow &entry : HostileFolderEntries(folders, true))
        block.folders.push_back({(uint8_t)entry.levels, entry.folder, entry.file});
    for (const Entry &entry : HostileFileEntries(folders, true))
        block.files.push_back({entry.folder, entry.name, entry.flags});
    std::string app = ScratchFolder("app");
    std::string file = "uninstall-" + Family() + ".exe";
    ASSERT_TRUE(SetFamilyOf(file, Family()));
    ASSERT_TRUE(WriteStampedUninstaller(pack::EncodeBlock(block), app + "\\" + file));

    // A dry run first: it says what the walks would take and takes nothing, not even what
    // lies below the protected folders.
    snapshot::Scope below = scope;
    for (const e2e::ProtectedFolder &folder : folders)
        below.Path(folder.path + "\\" + Hostile() + "\\below");
    below.Path(driveChild + "\\below");
    snapshot::Snapshot beforeDry = snapshot::Snapshot::Take(below);
    RunResult dry = RunAndAnswer(app + "\\" + file, "/N /X", {}, 120000);
    ASSERT_TRUE(dry.finished);
    EXPECT_EQ(1u, dry.exitCode) << "as /S would end: the protected folders named stay";
    EXPECT_TRUE(dry.boxes.empty());
    std::string dryChanges = snapshot::Compare(beforeDry, snapshot::Snapshot::Take(below));
    EXPECT_EQ("", dryChanges) << "the dry run changed the machine:\n" << dryChanges;

    RunResult run = RunAndAnswer(app + "\\" + file, "/X", {}, 120000);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_TRUE(run.boxes.empty());

    for (const e2e::ProtectedFolder &folder : folders) {
        SCOPED_TRACE(folder.name + ": " + folder.path);
        EXPECT_TRUE(FileExists(folder.path)) << "a protected folder was removed";
        EXPECT_FALSE(FileExists(folder.path + "\\" + Hostile()))
            << "the walk from below stopped early";
    }
    EXPECT_FALSE(FileExists(driveChild)) << "the walk from below the drive root stopped early";
    std::string differences = snapshot::Compare(before, snapshot::Snapshot::Take(scope));
    EXPECT_EQ("", differences) << "protected folders or keys changed:\n" << differences;
}

// Every folder removal of this process, recorded and refused: the phases run here against
// the machine's own protected folders, empty or not, and none of them is even tried. A
// folder goes by RemoveDirectory, or on the NT family through a handle opened for deletion.
// The system-call layer finds both by name, narrow or wide: the recorder answers for them
// while it lives, and the layer looks its calls up afresh as it comes and goes.
class RemovalRecorder {
  public:
    RemovalRecorder() {
        Hook(0, "RemoveDirectoryA", (ULONG_PTR)&RecordRemoval);
        Hook(1, "CreateFileA", (ULONG_PTR)&RecordOpen);
        Hook(2, "GetProcAddress", (ULONG_PTR)&FindRecorder);
        attempts_ = &attempts;
        InitSystemLayer();
    }
    ~RemovalRecorder() {
        for (int i = 0; i < 3; i++)
            if (slots_[i])
                Patch(slots_[i], originals_[i]);
        attempts_ = nullptr;
        InitSystemLayer();
    }
    bool active() const {
        return slots_[0] && slots_[1] && slots_[2];
    }
    std::vector<std::string> attempts;

  private:
    void Hook(int i, const char *function, ULONG_PTR replacement) {
        slots_[i] = FindImport(function);
        if (slots_[i]) {
            originals_[i] = *slots_[i];
            Patch(slots_[i], replacement);
        }
    }
    static void Patch(ULONG_PTR *slot, ULONG_PTR value) {
        DWORD old;
        VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old);
        *slot = value;
        VirtualProtect(slot, sizeof *slot, old, &old);
    }
    static BOOL WINAPI RecordRemoval(LPCSTR path) {
        if (attempts_)
            attempts_->push_back(path ? path : "(null)");
        SetLastError(ERROR_DIR_NOT_EMPTY);
        return FALSE;
    }
    static HANDLE WINAPI RecordOpen(LPCSTR path, DWORD access, DWORD share,
                                    LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                    HANDLE model) {
        if ((access & DELETE) && (flags & FILE_FLAG_BACKUP_SEMANTICS)) {
            RecordRemoval(path);
            return INVALID_HANDLE_VALUE;
        }
        return ((decltype(&CreateFileA))originals_[1])(path, access, share, security, disposition,
                                                       flags, model);
    }
    static BOOL WINAPI RecordRemovalW(LPCWSTR path) {
        char narrow[MAX_PATH * 3] = "(null)";
        if (path)
            WideCharToMultiByte(CP_UTF8, 0, path, -1, narrow, sizeof narrow, nullptr, nullptr);
        return RecordRemoval(narrow);
    }
    static HANDLE WINAPI RecordOpenW(LPCWSTR path, DWORD access, DWORD share,
                                     LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                     HANDLE model) {
        if ((access & DELETE) && (flags & FILE_FLAG_BACKUP_SEMANTICS)) {
            RecordRemovalW(path);
            return INVALID_HANDLE_VALUE;
        }
        return CreateFileW(path, access, share, security, disposition, flags, model);
    }
    static FARPROC WINAPI FindRecorder(HMODULE module, LPCSTR name) {
        static const struct {
            const char *name;
            FARPROC recorder;
        } recorders[] = {{"RemoveDirectoryA", (FARPROC)(void (*)()) & RecordRemoval},
                         {"RemoveDirectoryW", (FARPROC)(void (*)()) & RecordRemovalW},
                         {"CreateFileA", (FARPROC)(void (*)()) & RecordOpen},
                         {"CreateFileW", (FARPROC)(void (*)()) & RecordOpenW}};
        if (HIWORD((ULONG_PTR)name))
            for (const auto &r : recorders)
                if (!lstrcmpA(name, r.name))
                    return r.recorder;
        return ((decltype(&GetProcAddress))originals_[2])(module, name);
    }
    // The import slot of this program for a kernel32 function, found by its name.
    static ULONG_PTR *FindImport(const char *function) {
        BYTE *base = (BYTE *)GetModuleHandleA(nullptr);
        auto *dos = (IMAGE_DOS_HEADER *)base;
        auto *nt = (IMAGE_NT_HEADERS *)(base + dos->e_lfanew);
        IMAGE_DATA_DIRECTORY directory =
            nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        auto *imports = (IMAGE_IMPORT_DESCRIPTOR *)(base + directory.VirtualAddress);
        for (; imports->Name; imports++) {
            if (lstrcmpiA((const char *)(base + imports->Name), "kernel32.dll") != 0)
                continue;
            auto *names = (IMAGE_THUNK_DATA *)(base + (imports->OriginalFirstThunk
                                                           ? imports->OriginalFirstThunk
                                                           : imports->FirstThunk));
            auto *slots = (IMAGE_THUNK_DATA *)(base + imports->FirstThunk);
            for (; names->u1.AddressOfData; names++, slots++) {
                if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                    continue;
                auto *byName = (IMAGE_IMPORT_BY_NAME *)(base + names->u1.AddressOfData);
                if (!lstrcmpA((const char *)byName->Name, function))
                    return (ULONG_PTR *)&slots->u1.Function;
            }
        }
        return nullptr;
    }
    ULONG_PTR *slots_[3] = {};
    static ULONG_PTR originals_[3];
    static std::vector<std::string> *attempts_;
};
ULONG_PTR RemovalRecorder::originals_[3];
std::vector<std::string> *RemovalRecorder::attempts_ = nullptr;

TEST(Hostile, PhasesNeverTryAProtectedFolder) {
    std::vector<e2e::ProtectedFolder> folders = e2e::ProtectedFolders();
    ASSERT_FALSE(folders.empty());
    std::string install = ScratchFolder("install") + "\\";
    char saved[MAX_PATH] = "";
    GetCurrentDirectoryA(MAX_PATH, saved);

    std::vector<std::string> attempts;
    {
        ProgramState state(install);
        state.SetEntries(HostileFileEntries(folders, false));
        PhaseEntries phases;
        phases.SetFolders(HostileFolderEntries(folders, false));
        RemovalRecorder recorder;
        ASSERT_TRUE(recorder.active()) << "RemoveDirectoryA or CreateFileA is not imported by name";
        RemoveFiles();
        RemoveFolderEntries();
        RemoveFileFolders();
        attempts = recorder.attempts;
    }
    SetCurrentDirectoryA(saved);

    std::vector<std::string> protectedTried;
    for (const std::string &attempt : attempts)
        for (const e2e::ProtectedFolder &folder : folders)
            if (!lstrcmpiA(e2e::WithoutBackslash(attempt).c_str(), folder.path.c_str()) ||
                attempt.size() < 4)
                protectedTried.push_back(attempt);
    EXPECT_TRUE(protectedTried.empty()) << "protected folders tried:" << Describe(protectedTried);

    // Only the walks from below: each tries the two folders under the protected one.
    std::vector<std::string> expected;
    for (const e2e::ProtectedFolder &folder : folders) {
        expected.push_back(folder.path + "\\" + Hostile() + "\\below");
        expected.push_back(folder.path + "\\" + Hostile());
    }
    expected.push_back("C:\\" + Hostile() + "\\below");
    expected.push_back("C:\\" + Hostile());
    EXPECT_EQ(expected, attempts) << "tried:" << Describe(attempts);
}

// Redirects one predefined root of this process to a scratch key of its own.
class ScratchRoot {
  public:
    ScratchRoot(HKEY root, const std::string &name) : root_(root) {
        key_ = "Software\\Vanish Tests\\Hostile keys\\" + ProgramName() + "\\" + name;
        RemoveKeyTree(HKEY_CURRENT_USER, key_);
        HKEY target;
        if (RegCreateKeyA(HKEY_CURRENT_USER, key_.c_str(), &target) != ERROR_SUCCESS)
            return;
        active_ = RegOverridePredefKey(root_, target) == ERROR_SUCCESS;
        RegCloseKey(target);
    }
    ~ScratchRoot() {
        if (active_)
            RegOverridePredefKey(root_, nullptr);
    }
    bool active() const {
        return active_;
    }
    const std::string &key() const {
        return key_;
    }

  private:
    HKEY root_;
    std::string key_;
    bool active_ = false;
};

// A key entry path in other spellings that name the same key.
std::vector<std::string> KeySpellings(const std::string &path) {
    std::vector<std::string> spellings = {path, e2e::Upper(path), path + "\\", "\\" + path};
    size_t first = path.find('\\');
    // Doubling the last separator would turn the entry into a value entry.
    if (first != std::string::npos && first != path.rfind('\\')) {
        std::string doubled = path;
        doubled.insert(first, "\\");
        spellings.push_back(doubled);
    }
    return spellings;
}

TEST(Hostile, RegistryPhaseKeepsEveryProtectedKey) {
    std::vector<e2e::ProtectedKey> keys = e2e::ProtectedKeys();
    // Keys an application may own, below the protected ones: these must go.
    std::vector<e2e::ProtectedKey> owned = {
        {HKEY_LOCAL_MACHINE, "Software\\Vanish Hostile\\App"},
        {HKEY_LOCAL_MACHINE,
         "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vanish Hostile"},
        {HKEY_CURRENT_USER, "Software\\Classes\\CLSID\\{Vanish Hostile}"},
        {HKEY_CLASSES_ROOT, "CLSID\\{Vanish Hostile}"},
    };
    std::vector<std::string> scratch;
    {
        // The scratch keys live under the real HKEY_CURRENT_USER, so it goes last.
        ScratchRoot machine(HKEY_LOCAL_MACHINE, "HKLM"), classes(HKEY_CLASSES_ROOT, "HKCR"),
            user(HKEY_CURRENT_USER, "HKCU");
        scratch = {machine.key(), user.key(), classes.key()};
        ASSERT_TRUE(machine.active() && user.active() && classes.active());
        for (const auto &list : {keys, owned})
            for (const e2e::ProtectedKey &key : list) {
                ASSERT_TRUE(
                    WriteValue(key.root, key.path + "\\Vanish Child", "Vanish", TextValue("x")))
                    << snapshot::KeyItem(key.root, key.path);
                ASSERT_TRUE(WriteValue(key.root, key.path, "Vanish", TextValue("x")));
            }

        PhaseEntries entries;
        std::vector<KeyRow> specs;
        for (const e2e::ProtectedKey &key : keys)
            for (const std::string &spelling : KeySpellings(key.path))
                specs.push_back({key.root, spelling});
        for (HKEY handle : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_CLASSES_ROOT})
            specs.push_back({handle, "\\"}); // the root itself
        for (const e2e::ProtectedKey &key : owned)
            specs.push_back({key.root, key.path});
        entries.SetRegistry(specs);
        RemoveRegistryEntries();

        for (const e2e::ProtectedKey &key : keys) {
            SCOPED_TRACE(snapshot::KeyItem(key.root, key.path));
            EXPECT_TRUE(e2e::KeyExists(key.root, key.path + "\\Vanish Child"))
                << "a protected key or its subkey was deleted";
            EXPECT_TRUE(ReadValue(key.root, key.path, "Vanish").present);
        }
        for (const e2e::ProtectedKey &key : owned)
            EXPECT_FALSE(e2e::KeyExists(key.root, key.path))
                << snapshot::KeyItem(key.root, key.path);
    }
    for (const std::string &key : scratch)
        RemoveKeyTree(HKEY_CURRENT_USER, key);
}

} // namespace
