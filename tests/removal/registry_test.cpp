// Phase 4 on a real registry: value or key by the form of the path, key trees, the
// 95/98/Me branch and the protected keys. Every key lives below a scratch key that serves as
// the entries' root, or below HKEY_CLASSES_ROOT redirected to a scratch key.
#include "entries_support.h"
#include "removal_support.h"

#include "removal/removal.h"
#include "support.h"

#include <aclapi.h>
#include <commctrl.h>

#include <functional>
#include <memory>
#include <set>

using namespace removal_tests;
using namespace testing_support;

namespace {

// Every key of a tree as "path\" and every value as "path\=name", relative to its top.
void Collect(HKEY key, const std::string &prefix, std::set<std::string> *items) {
    char name[1024];
    for (DWORD i = 0;; i++) {
        DWORD length = sizeof name;
        if (RegEnumValueA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        items->insert(prefix + "=" + std::string(name, length));
    }
    for (DWORD i = 0;; i++) {
        DWORD length = sizeof name;
        if (RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        std::string sub = prefix + std::string(name, length) + "\\";
        items->insert(sub);
        HKEY child;
        if (RegOpenKeyExA(key, name, 0, KEY_READ, &child) == ERROR_SUCCESS) {
            Collect(child, sub, items);
            RegCloseKey(child);
        }
    }
}

bool Exists(HKEY root, const std::string &key) {
    HKEY opened;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return false;
    RegCloseKey(opened);
    return true;
}

bool Create(HKEY root, const std::string &key, const std::string &value = "") {
    HKEY created;
    if (RegCreateKeyA(root, key.c_str(), &created) != ERROR_SUCCESS)
        return false;
    bool ok = value.empty() ||
              RegSetValueExA(created, value.c_str(), 0, REG_SZ, (const BYTE *)"x", 2) == 0;
    RegCloseKey(created);
    return ok;
}

class RegistryPhase : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = "Software\\Vanish Tests\\Registry\\" + ProgramName();
        RemoveKeyTree(HKEY_CURRENT_USER, path_);
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, path_.c_str(), &root_));
        state_.reset(new ProgramState("C:\\"));
        savedNT_ = isNT;
        // The entries name HKEY_CURRENT_USER, which this process sees as the scratch key.
        redirected_ = RegOverridePredefKey(HKEY_CURRENT_USER, root_) == ERROR_SUCCESS;
        if (!redirected_)
            GTEST_SKIP() << "HKEY_CURRENT_USER cannot be redirected here";
    }
    void TearDown() override {
        if (redirected_)
            RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        isNT = savedNT_;
        progressTotal = 0;
        progressBar = nullptr;
        state_.reset();
        if (root_)
            RegCloseKey(root_);
        RemoveKeyTree(HKEY_CURRENT_USER, path_);
    }
    // Empties the scratch root.
    void Clear() {
        char name[1024];
        DWORD length = sizeof name;
        while (RegEnumKeyExA(root_, 0, name, &length, nullptr, nullptr, nullptr, nullptr) ==
               ERROR_SUCCESS) {
            RemoveKeyTree(root_, name);
            length = sizeof name;
        }
        length = sizeof name;
        while (RegEnumValueA(root_, 0, name, &length, nullptr, nullptr, nullptr, nullptr) ==
               ERROR_SUCCESS) {
            RegDeleteValueA(root_, name);
            length = sizeof name;
        }
    }
    std::set<std::string> Items() {
        std::set<std::string> items;
        Collect(root_, "", &items);
        return items;
    }
    // Rows that name the scratch key name HKEY_CURRENT_USER, which leads there.
    void Run(std::vector<KeyRow> keys) {
        for (KeyRow &row : keys)
            if (row.root == root_)
                row.root = HKEY_CURRENT_USER;
        entries_.SetRegistry(keys);
        RemoveRegistryEntries();
    }

    std::string path_;
    HKEY root_ = nullptr;
    int savedNT_ = 0;
    bool redirected_ = false;
    std::unique_ptr<ProgramState> state_;
    PhaseEntries entries_;
};

// The form of the path decides: a last backslash that follows another one separates a value
// name; anything else names a key with its whole tree.
TEST_F(RegistryPhase, ValueOrKeyByThePath) {
    struct Case {
        std::string path;
        std::vector<std::string> removed; // items, or key prefixes ending in a backslash
    };
    const std::vector<Case> cases = {
        {"Vendor\\App\\\\Version", {"Vendor\\App\\=Version"}},
        {"Vendor\\App\\\\", {"Vendor\\App\\="}}, // the key's default value
        {"\\\\RootValue", {"=RootValue"}},       // a value of the root itself
        {"Vendor\\App", {"Vendor\\App\\"}},
        {"Vendor\\App\\", {"Vendor\\App\\"}}, // one trailing backslash: still the key
        {"vendor\\APP\\sub", {"Vendor\\App\\Sub\\"}},
        {"Vendor\\App\\\\Sub", {}}, // the value Sub, not the subkey
        {"Vendor\\App\\\\Missing", {}},
        {"Nowhere\\\\Version", {}}, // the key of a value does not exist
        {"Nowhere", {}},            // a key that does not exist
        {"\\Vendor", {}},           // a lone first backslash: a key the registry refuses
        {"", {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("path [" + c.path + "]");
        Clear();
        ASSERT_TRUE(Create(root_, "Vendor\\App", "Version"));
        ASSERT_TRUE(Create(root_, "Vendor\\App", "Other"));
        ASSERT_TRUE(WriteValue(root_, "Vendor\\App", "", TextValue("default")));
        ASSERT_TRUE(Create(root_, "Vendor\\App\\Sub\\Deep", "x"));
        ASSERT_TRUE(Create(root_, "Vendor\\Keep", "x"));
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExA(root_, "RootValue", 0, REG_SZ, (const BYTE *)"x", 2));
        std::set<std::string> expected;
        for (const std::string &item : Items()) {
            bool removed = false;
            for (const std::string &r : c.removed)
                removed |= r.back() == '\\' ? item.rfind(r, 0) == 0 : item == r;
            if (!removed)
                expected.insert(item);
        }
        Run({{root_, c.path}});
        EXPECT_EQ(expected, Items());
        EXPECT_EQ(c.path, entries_.Path(0));
    }
}

// Value entries report no step; the next key entry catches up. Every path reads as before.
TEST_F(RegistryPhase, ProgressAndPathsAfterwards) {
    state_->SetEntries({{".", "a.exe", 0}});
    entries_.SetFolders({{0, "C:\\x", ""}});
    ASSERT_TRUE(Create(root_, "A\\Deep"));
    ASSERT_TRUE(Create(root_, "B", "V"));
    const std::vector<std::string> paths = {"A", "B\\\\V", "", "B\\", "\\\\W"};
    std::vector<KeyRow> keys;
    for (const std::string &path : paths)
        keys.push_back({root_, path});
    RecordingWindow bar;
    ASSERT_TRUE(bar.handle());
    progressBar = bar.handle();
    progressTotal = 8; // 5 registry entries, 1 file entry twice, 1 folder entry
    lastPercentage = 0;
    Run(keys);
    std::vector<WPARAM> reported;
    for (auto &message : bar.messages)
        if (message.first == PBM_SETPOS)
            reported.push_back(message.second);
    EXPECT_EQ((std::vector<WPARAM>{37, 62, 75}), reported);
    for (size_t i = 0; i < paths.size(); i++)
        EXPECT_EQ(paths[i], entries_.Path(i));
    EXPECT_FALSE(Exists(root_, "A"));
    EXPECT_FALSE(Exists(root_, "B"));
}

TEST_F(RegistryPhase, DeleteKeyTree) {
    for (const char *key : {"T\\a\\b\\c\\d\\e", "T\\a\\b\\x", "T\\b\\c", "T\\c", "Keep"})
        ASSERT_TRUE(Create(root_, key, "v"));
    std::set<std::string> before = Items();

    EXPECT_EQ(ERROR_BADKEY, DeleteKeyTree(root_, ""));
    EXPECT_EQ(ERROR_BADKEY, DeleteKeyTree(root_, nullptr));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, DeleteKeyTree(root_, "Missing"));
    EXPECT_EQ(before, Items()) << "nothing deleted";

    EXPECT_EQ(ERROR_SUCCESS, DeleteKeyTree(root_, "T"));
    EXPECT_EQ((std::set<std::string>{"Keep\\", "Keep\\=v"}), Items());
}

// The first key that cannot be deleted stops the tree: what went before it stays deleted,
// the rest stays in place. The keys of one level are met in the order the registry lists
// them, the deepest level first.
TEST_F(RegistryPhase, DeleteKeyTreeStopsAtTheFirstError) {
    if (Family() == "win98")
        GTEST_SKIP() << "the 95/98/Me family has no key security: every key opens for deletion";
    for (const char *key : {"T\\a\\b\\c\\a0\\x", "T\\a\\b\\c\\d", "T\\a\\b\\c\\e", "T\\z"})
        ASSERT_TRUE(Create(root_, key, "v"));
    // Nobody may delete d.
    HKEY d;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(root_, "T\\a\\b\\c\\d", 0, WRITE_DAC, &d));
    EXPLICIT_ACCESSA deny = {};
    deny.grfAccessPermissions = DELETE;
    deny.grfAccessMode = DENY_ACCESS;
    deny.Trustee.TrusteeForm = TRUSTEE_IS_NAME;
    char everyone[] = "EVERYONE";
    deny.Trustee.ptstrName = everyone;
    PACL acl = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, SetEntriesInAclA(1, &deny, nullptr, &acl));
    ASSERT_EQ(ERROR_SUCCESS,
              SetSecurityInfo(d, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, 0, 0, acl, 0));
    LocalFree(acl);

    EXPECT_EQ(ERROR_ACCESS_DENIED, DeleteKeyTree(root_, "T"));
    std::set<std::string> left = Items();
    EXPECT_EQ(0u, left.count("T\\a\\b\\c\\a0\\"));
    for (const char *kept :
         {"T\\a\\b\\c\\d\\", "T\\a\\b\\c\\e\\", "T\\a\\b\\c\\", "T\\a\\", "T\\z\\", "T\\"})
        EXPECT_EQ(1u, left.count(kept)) << kept;

    SetSecurityInfo(d, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, 0, 0, nullptr, 0);
    RegCloseKey(d);
}

// The 95/98/Me branch hands a key to the system's own deletion, which takes the subkeys along
// on that family only (Wine does so for programs it runs as that family); on the NT family
// a key with subkeys then stays, a leaf key goes.
TEST_F(RegistryPhase, EachFamilyDeletesKeysItsOwnWay) {
    if (Family().empty())
        GTEST_SKIP() << "not started by the rig";
    bool family98 = Family() == "win98";
    for (int nt : {1, 0}) {
        SCOPED_TRACE(nt ? "NT branch" : "95/98/Me branch");
        Clear();
        // One subkey per level: Wine's deletion for the 95/98/Me family stops at a second
        // subkey whose name is longer than the first.
        ASSERT_TRUE(Create(root_, "Tree\\Sub\\Deep", "v"));
        ASSERT_TRUE(Create(root_, "Leaf", "v"));
        ASSERT_TRUE(Create(root_, "Software"));
        isNT = nt;
        Run({{root_, "Tree"}, {root_, "Leaf"}, {root_, "Software"}});
        EXPECT_EQ(!(nt || family98), Exists(root_, "Tree"));
        EXPECT_FALSE(Exists(root_, "Leaf"));
        EXPECT_TRUE(Exists(root_, "Software")) << "protected on either branch";
    }
}

struct ProtectedCase {
    std::string create; // the key as made
    std::string path;   // the entry's path
    bool kept;
};

// Keys that no key entry deletes, under a scratch root, and keys just below them that go.
const std::vector<ProtectedCase> kAnyRootCases = {
    {"Software", "Software", true},
    {"Software", "SOFTWARE\\", true},
    {"Software\\Classes", "Software\\Classes", true},
    {"Software\\Microsoft", "software\\microsoft", true},
    {"Software\\Policies", "Software\\Policies", true},
    {"Software\\Wow6432Node", "Software\\Wow6432Node\\", true},
    {"Software\\Microsoft\\Windows", "Software\\Microsoft\\Windows", true},
    {"Software\\Microsoft\\Windows", "Software\\\\Microsoft\\Windows", true},
    {"Software\\Microsoft\\Windows\\CurrentVersion", "Software\\Microsoft\\Windows\\CurrentVersion",
     true},
    {"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
     "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall", true},
    {"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
     "Software\\Microsoft\\Windows\\CurrentVersion\\RUN\\", true},
    {"Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
     "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs", true},
    {"Software\\Microsoft\\Windows\\CurrentVersion\\Fonts",
     "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts", true},
    {"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths",
     "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths", true},
    {"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer",
     "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer", true},
    {"Software\\Microsoft\\Windows NT", "Software\\Microsoft\\Windows NT", true},
    {"Software\\Microsoft\\Windows NT\\CurrentVersion",
     "Software\\Microsoft\\Windows NT\\CurrentVersion", true},
    {"Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts",
     "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts", true},
    {"Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon",
     "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon", true},
    {"System", "System", true},
    {"System\\CurrentControlSet", "system\\CurrentControlSet", true},
    {"System\\CurrentControlSet\\Services\\Vanish", "System\\CurrentControlSet\\Services\\Vanish",
     true},
    {"Software\\Classes\\CLSID", "Software\\Classes\\CLSID", true},
    {"Software\\Classes\\Interface", "Software\\Classes\\Interface", true},
    {"Software\\Classes\\TypeLib", "Software\\Classes\\TypeLib", true},
    {"Software\\Classes\\AppID", "Software\\Classes\\AppID", true},
    {"Software\\Classes\\*", "Software\\Classes\\*", true},
    {"Software\\Classes\\Folder", "Software\\Classes\\Folder", true},
    {"Software\\Classes\\Directory", "Software\\Classes\\Directory", true},
    {"Software\\Classes\\exefile", "software\\classes\\EXEFILE\\", true},
    {"Software\\Classes\\.exe", "Software\\Classes\\.exe", true},
    // Just below: deleted as usual.
    {"Software\\Vendor", "Software\\Vendor", false},
    {"Software\\Classes\\.vanish", "Software\\Classes\\.vanish", false},
    {"Software\\Classes\\CLSID\\{0F1E2D3C-0000-4000-8000-000000000001}",
     "Software\\Classes\\CLSID\\{0F1E2D3C-0000-4000-8000-000000000001}", false},
    {"Software\\Classes\\exefile\\shell", "Software\\Classes\\exefile\\shell", false},
    {"Software\\Classes\\Folders", "Software\\Classes\\Folders", false},
    {"Software\\Microsoft\\Vanish", "Software\\Microsoft\\Vanish", false},
    {"Software\\Policies\\Vendor", "Software\\Policies\\Vendor", false},
    {"Software\\Wow6432Node\\Vendor", "Software\\Wow6432Node\\Vendor", false},
    {"Software\\Microsoft\\Windows\\Vanish", "Software\\Microsoft\\Windows\\Vanish", false},
    {"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vanish App",
     "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vanish App", false},
    {"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Vanish",
     "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Vanish", false},
    {"Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts\\Vanish",
     "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts\\Vanish", false},
    {"Systems", "Systems", false},
    // The 32-bit views and the numbered control sets read as the keys they mirror.
    {"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run",
     "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run", true},
    {"Software\\Wow6432Node\\Microsoft", "software\\\\WOW6432NODE\\Microsoft\\", true},
    {"Software\\Classes\\Wow6432Node\\CLSID", "Software\\Classes\\Wow6432Node\\CLSID", true},
    {"Software\\Wow6432Node\\Classes\\CLSID", "Software\\Wow6432Node\\Classes\\CLSID", true},
    {"System\\ControlSet001\\Services\\Vanish", "System\\ControlSet001\\Services\\Vanish", true},
    // An application's event source may go; the logs and the rest of System stay.
    {"System\\CurrentControlSet\\Services\\EventLog\\Application\\Vanish App",
     "System\\CurrentControlSet\\Services\\EventLog\\Application\\Vanish App", false},
    {"System\\ControlSet002\\Services\\EventLog\\System\\Vanish\\Sub",
     "System\\ControlSet002\\Services\\EventLog\\System\\Vanish\\Sub", false},
    {"System\\CurrentControlSet\\Services\\EventLog\\Application",
     "System\\CurrentControlSet\\Services\\EventLog\\Application", true},
    {"System\\CurrentControlSet\\Services\\EventLog",
     "System\\CurrentControlSet\\Services\\EventLog", true},
    {"System\\CurrentControlSet\\Services\\EventLogs\\Application\\Vanish",
     "System\\CurrentControlSet\\Services\\EventLogs\\Application\\Vanish", true},
    {"System\\ControlSet01\\Services\\EventLog\\Application\\Vanish",
     "System\\ControlSet01\\Services\\EventLog\\Application\\Vanish", true},
    {"CLSID", "CLSID", false}, // class keys are protected under HKEY_CLASSES_ROOT only
};

// Under HKEY_CLASSES_ROOT the class keys themselves are protected.
const std::vector<ProtectedCase> kClassesRootCases = {
    {"CLSID", "CLSID", true},
    {"CLSID", "clsid\\", true},
    {"Interface", "Interface", true},
    {"TypeLib", "TypeLib", true},
    {"AppID", "AppID", true},
    {"*", "*", true},
    {"Folder", "Folder", true},
    {"Directory", "Directory", true},
    {"exefile", "exefile", true},
    {".exe", ".exe", true},
    {"Software\\Classes\\CLSID", "Software\\Classes\\CLSID", true},
    {"CLSID\\{0F1E2D3C-0000-4000-8000-000000000002}",
     "CLSID\\{0F1E2D3C-0000-4000-8000-000000000002}", false},
    {".vanish", ".vanish", false},
    {"exefile\\shell\\vanish", "exefile\\shell\\vanish", false},
    {"Vanish.Document", "Vanish.Document", false},
    {"Wow6432Node\\CLSID", "Wow6432Node\\CLSID", true},
    {"Wow6432Node", "Wow6432Node", true},
    {"Wow6432Node\\CLSID\\{0F1E2D3C-0000-4000-8000-000000000003}",
     "Wow6432Node\\CLSID\\{0F1E2D3C-0000-4000-8000-000000000003}", false},
};

// Under HKEY_USERS every hive reads as a user's HKEY_CURRENT_USER, the current user's own
// among them, and a _Classes hive as that user's classes.
const std::vector<ProtectedCase> kUsersCases = {
    {"S-1-5-21-1-2-3-1000", "S-1-5-21-1-2-3-1000", true},
    {".DEFAULT", ".Default\\", true},
    {"S-1-5-21-1-2-3-1000\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
     "S-1-5-21-1-2-3-1000\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", true},
    {".DEFAULT\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
     ".Default\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", true},
    {"S-1-5-21-1-2-3-1000\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run",
     "S-1-5-21-1-2-3-1000\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run", true},
    {"S-1-5-21-1-2-3-1000_Classes\\CLSID", "S-1-5-21-1-2-3-1000_Classes\\CLSID", true},
    {"S-1-5-21-1-2-3-1000_Classes\\Wow6432Node\\CLSID",
     "S-1-5-21-1-2-3-1000_Classes\\Wow6432Node\\CLSID", true},
    {"S-1-5-21-1-2-3-1000\\Software\\Vendor", "S-1-5-21-1-2-3-1000\\Software\\Vendor", false},
    {"S-1-5-21-1-2-3-1000_Classes\\.vanish", "S-1-5-21-1-2-3-1000_Classes\\.vanish", false},
    {"S-1-5-21-1-2-3-1000\\CLSID", "S-1-5-21-1-2-3-1000\\CLSID", false},
};

// A protected key is made as a leaf, so that either branch's deletion would take it.
void CheckProtected(HKEY root, DWORD rootValue, const std::vector<ProtectedCase> &cases,
                    const std::function<void()> &clear) {
    for (int nt : {1, 0}) {
        isNT = nt;
        for (const ProtectedCase &c : cases) {
            SCOPED_TRACE((nt ? "NT: " : "95/98/Me: ") + c.path);
            clear();
            ASSERT_TRUE(Create(root, c.create, "v"));
            PhaseEntries entries;
            entries.SetRegistry({{(HKEY)(ULONG_PTR)rootValue, c.path}});
            RemoveRegistryEntries();
            EXPECT_EQ(c.kept, Exists(root, c.create));
            EXPECT_EQ(c.path, entries.Path(0));
        }
    }
}

TEST_F(RegistryPhase, ProtectedKeysUnderAnyRoot) {
    CheckProtected(root_, 0x80000001, kAnyRootCases, [&] { Clear(); });
}

TEST_F(RegistryPhase, ProtectedKeysUnderTheClassesRoot) {
    RootRedirect classes(HKEY_CLASSES_ROOT);
    if (!classes.active())
        GTEST_SKIP() << "HKEY_CLASSES_ROOT cannot be redirected here";
    // The redirected root starts empty: nothing below reaches the prefix's real classes.
    ASSERT_FALSE(Exists(HKEY_CLASSES_ROOT, "CLSID"));
    ASSERT_FALSE(Exists(HKEY_CLASSES_ROOT, ".exe"));
    auto clear = [] {
        char name[1024];
        DWORD length = sizeof name;
        while (RegEnumKeyExA(HKEY_CLASSES_ROOT, 0, name, &length, nullptr, nullptr, nullptr,
                             nullptr) == ERROR_SUCCESS) {
            RemoveKeyTree(HKEY_CLASSES_ROOT, name);
            length = sizeof name;
        }
    };
    CheckProtected(HKEY_CLASSES_ROOT, 0x80000000, kClassesRootCases, clear);
}

TEST_F(RegistryPhase, ProtectedKeysUnderEveryUsersHive) {
    RootRedirect users(HKEY_USERS);
    if (!users.active())
        GTEST_SKIP() << "HKEY_USERS cannot be redirected here";
    auto clear = [] {
        char name[1024];
        DWORD length = sizeof name;
        while (RegEnumKeyExA(HKEY_USERS, 0, name, &length, nullptr, nullptr, nullptr, nullptr) ==
               ERROR_SUCCESS) {
            RemoveKeyTree(HKEY_USERS, name);
            length = sizeof name;
        }
    };
    CheckProtected(HKEY_USERS, 0x80000003, kUsersCases, clear);
}

// A root that is not one of the predefined keys drops the entry, whatever the number: a
// small one could be a key this process has open, here the scratch key itself.
TEST_F(RegistryPhase, RootsThatAreNotPredefinedKeysTouchNothing) {
    const DWORD roots[] = {0,          0x1C,       0x28,      (DWORD)(ULONG_PTR)root_,
                           0x80000004, 0x80000007, 0xFFFFFFFF};
    for (int nt : {1, 0}) {
        isNT = nt;
        for (DWORD root : roots) {
            SCOPED_TRACE(std::to_string(nt) + ": root " + std::to_string(root));
            Clear();
            ASSERT_TRUE(Create(root_, "Vendor\\App", "Version"));
            ASSERT_TRUE(Create(root_, "Vendor\\Tree\\Sub", "v"));
            std::set<std::string> before = Items();
            DWORD left = itemCounts[ITEM_LEFT];
            PhaseEntries entries;
            entries.SetRegistry({{(HKEY)(ULONG_PTR)root, "Vendor\\App\\\\Version"},
                                 {(HKEY)(ULONG_PTR)root, "Vendor\\Tree"}});
            RemoveRegistryEntries();
            EXPECT_EQ(before, Items());
            EXPECT_EQ(left + 2, itemCounts[ITEM_LEFT]);
        }
    }
}

// Value entries are refused for the values the system needs to start a session or a
// program, under every alias of their keys; any other value goes.
TEST_F(RegistryPhase, ProtectedValues) {
    struct Row {
        std::string key, name;
        bool kept;
    };
    const std::string winlogon = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
    const std::string session = "System\\CurrentControlSet\\Control\\Session Manager";
    const std::vector<Row> rows = {
        {winlogon, "Shell", true},
        {winlogon, "USERINIT", true},
        {winlogon, "Vanish", false},
        {"Software\\Wow6432Node\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon", "Shell", true},
        {session, "BootExecute", true},
        {"System\\ControlSet001\\Control\\Session Manager", "BootExecute", true},
        {session, "Vanish", false},
        {session + "\\Environment", "Path", true},
        {session + "\\Environment", "ComSpec", true},
        {session + "\\Environment", "VANISH_HOME", false},
        {"Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir", true},
        {"Software\\Classes\\exefile\\shell\\open\\command", "", true},
        {"Software\\Classes\\Wow6432Node\\batfile\\shell\\open\\command", "", true},
        {"Software\\Classes\\.exe", "", true},
        {"Software\\Classes\\exefile\\shell\\open\\command", "Vanish", false},
        {"Software\\Classes\\.vanish", "", false},
        {"Software\\Classes\\Vanish.File\\shell\\open\\command", "", false},
    };
    for (int nt : {1, 0}) {
        isNT = nt;
        for (const Row &row : rows) {
            SCOPED_TRACE(std::to_string(nt) + ": " + row.key + " | " + row.name);
            Clear();
            ASSERT_TRUE(WriteValue(root_, row.key, row.name, TextValue("x")));
            Run({{root_, row.key + "\\\\" + row.name}});
            HKEY key;
            ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(root_, row.key.c_str(), 0, KEY_READ, &key));
            EXPECT_EQ(row.kept, RegQueryValueExA(key, row.name.c_str(), nullptr, nullptr, nullptr,
                                                 nullptr) == ERROR_SUCCESS);
            RegCloseKey(key);
        }
    }
}

// A registry link inside a tree, or named by the entry itself, goes as a link: the tree it
// points to stays whole.
TEST_F(RegistryPhase, RegistryLinksGoAsLinks) {
    if (Family() != "win10")
        GTEST_SKIP() << "registry links exist on the NT family only";
    isNT = 1;
    const std::wstring targetPath = L"\\Registry\\Machine\\Software\\Vanish Tests\\Link Target";
    const std::string targetKey = "Software\\Vanish Tests\\Link Target";
    ASSERT_TRUE(Create(HKEY_LOCAL_MACHINE, targetKey + "\\Sub", "Kept"));
    for (const char *entry : {"App", "App\\Link"}) {
        SCOPED_TRACE(entry);
        Clear();
        ASSERT_TRUE(Create(root_, "App\\Own", "v"));
        HKEY link;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExW(root_, L"App\\Link", 0, nullptr,
                                  REG_OPTION_CREATE_LINK | REG_OPTION_VOLATILE,
                                  KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, &link, nullptr));
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(link, L"SymbolicLinkValue", 0, REG_LINK,
                                                (const BYTE *)targetPath.c_str(),
                                                (DWORD)(targetPath.size() * sizeof(wchar_t))));
        RegCloseKey(link);
        ASSERT_TRUE(Exists(root_, "App\\Link\\Sub")) << "the link leads to the target";
        Run({{root_, entry}});
        EXPECT_FALSE(Exists(root_, "App\\Link"));
        std::set<std::string> kept;
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegOpenKeyExA(HKEY_LOCAL_MACHINE, targetKey.c_str(), 0, KEY_READ, &key));
        Collect(key, "", &kept);
        RegCloseKey(key);
        EXPECT_EQ((std::set<std::string>{"Sub\\", "Sub\\=Kept"}), kept);
    }
    RemoveKeyTree(HKEY_LOCAL_MACHINE, targetKey);
}

// Value entries are not affected: a value of a protected key goes.
TEST_F(RegistryPhase, ValuesOfProtectedKeysGo) {
    for (int nt : {1, 0}) {
        isNT = nt;
        Clear();
        ASSERT_TRUE(Create(root_, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", "Vanish"));
        ASSERT_TRUE(Create(root_, "System", "Vanish"));
        Run({{root_, "Software\\Microsoft\\Windows\\CurrentVersion\\Run\\\\Vanish"},
             {root_, "System\\\\Vanish"}});
        EXPECT_EQ((std::set<std::string>{
                      "Software\\", "Software\\Microsoft\\", "Software\\Microsoft\\Windows\\",
                      "Software\\Microsoft\\Windows\\CurrentVersion\\",
                      "Software\\Microsoft\\Windows\\CurrentVersion\\Run\\", "System\\"}),
                  Items());
    }
}

} // namespace
