#include "machine.h"

#include <shlobj.h>

#include "support.h"

namespace e2e {

bool IsNT() {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    return version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

std::string ShellFolder(int identifier) {
    char path[MAX_PATH] = "";
    // Created when missing, as the shell does for a program that asks for it.
    if (!SHGetSpecialFolderPathA(nullptr, path, identifier, TRUE))
        return "";
    return path;
}

std::string RegistryFolder(const char *name) {
    testing_support::Value value = testing_support::ReadValue(
        HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", name);
    if (!value.present || value.data.empty())
        return "";
    return std::string((const char *)value.data.data());
}

std::string WithoutBackslash(std::string path) {
    if (path.size() >= 4 && path.back() == '\\')
        path.pop_back();
    return path;
}

std::string Upper(std::string text) {
    for (char &c : text)
        if (c >= 'a' && c <= 'z')
            c = (char)(c - 'a' + 'A');
    return text;
}

bool MakeFolders(const std::string &path) {
    for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
        CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
    CreateDirectoryA(path.c_str(), nullptr);
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool KeyExists(HKEY root, const std::string &key) {
    HKEY opened;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return false;
    RegCloseKey(opened);
    return true;
}

std::vector<ProtectedFolder> ProtectedFolders() {
    static const struct {
        const char *name;
        int identifier; // a shell folder, or -1 Windows, -2 System, -3 and -4 the registry's
        bool ntOnly;
    } rows[] = {
        {"Windows", -1, false},
        {"System", -2, false},
        {"desktop", 0x00, false},
        {"desktop folder", 0x10, false},
        {"all users' desktop", 0x19, true},
        {"fonts", 0x14, false},
        {"programs", 0x02, false},
        {"all users' programs", 0x17, true},
        {"start menu", 0x0B, false},
        {"all users' start menu", 0x16, true},
        {"startup", 0x07, false},
        {"all users' startup", 0x18, true},
        {"application data", 0x1A, false},
        {"all users' application data", 0x23, false},
        {"Program Files", -3, false},
        {"Common Files", -4, false},
        // The user's own shell folders and the system's other named folders.
        {"my documents", 0x05, false},
        {"favorites", 0x06, false},
        {"recent", 0x08, false},
        {"send to", 0x09, false},
        {"my music", 0x0D, false},
        {"my videos", 0x0E, false},
        {"network shortcuts", 0x13, false},
        {"templates", 0x15, false},
        {"printer shortcuts", 0x1B, false},
        {"local application data", 0x1C, false},
        {"internet cache", 0x20, false},
        {"cookies", 0x21, false},
        {"history", 0x22, false},
        {"Windows, as the shell names it", 0x24, false},
        {"System, as the shell names it", 0x25, false},
        {"program files, as the shell names it", 0x26, false},
        {"my pictures", 0x27, false},
        {"user's profile", 0x28, false},
        {"System of 32-bit programs", 0x29, false},
        {"program files of 32-bit programs", 0x2A, false},
        {"common files, as the shell names it", 0x2B, false},
        {"common files of 32-bit programs", 0x2C, false},
        {"administrative tools", 0x30, false},
        {"all users' favorites", 0x1F, true},
        {"all users' templates", 0x2D, true},
        {"all users' documents", 0x2E, true},
        {"all users' administrative tools", 0x2F, true},
    };
    bool nt = IsNT();
    std::vector<ProtectedFolder> folders;
    for (const auto &row : rows) {
        if (row.ntOnly && !nt)
            continue;
        char path[MAX_PATH] = "";
        std::string folder;
        if (row.identifier == -1 && GetWindowsDirectoryA(path, MAX_PATH))
            folder = path;
        else if (row.identifier == -2 && GetSystemDirectoryA(path, MAX_PATH))
            folder = path;
        else if (row.identifier == -3)
            folder = RegistryFolder("ProgramFilesDir");
        else if (row.identifier == -4)
            folder = RegistryFolder("CommonFilesDir");
        else if (row.identifier >= 0)
            folder = ShellFolder(row.identifier);
        if (folder.empty())
            continue;
        folders.push_back({row.name, WithoutBackslash(folder), row.ntOnly});
        if (row.identifier == 0x1A || row.identifier == 0x23)
            folders.push_back(
                {std::string(row.name) + ", Quick Launch",
                 WithoutBackslash(folder) + "\\Microsoft\\Internet Explorer\\Quick Launch", false});
    }
    return folders;
}

std::vector<ProtectedKey> ProtectedKeys() {
    static const char *const anyRoot[] = {
        "Software",
        "Software\\Classes",
        "Software\\Microsoft",
        "Software\\Policies",
        "Software\\Microsoft\\Windows",
        "Software\\Microsoft\\Windows\\CurrentVersion",
        "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
        "Software\\Microsoft\\Windows\\CurrentVersion\\Run",
        "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
        "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts",
        "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths",
        "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer",
        "Software\\Microsoft\\Windows NT",
        "Software\\Microsoft\\Windows NT\\CurrentVersion",
        "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts",
        "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon",
        "System",
        "System\\CurrentControlSet",
        "System\\CurrentControlSet\\Services",
        "System\\CurrentControlSet\\Control\\Session Manager",
        "Software\\Classes\\CLSID",
        "Software\\Classes\\Interface",
        "Software\\Classes\\TypeLib",
        "Software\\Classes\\AppID",
        "Software\\Classes\\*",
        "Software\\Classes\\Folder",
        "Software\\Classes\\Directory",
        "Software\\Classes\\exefile",
        "Software\\Classes\\.exe",
    };
    static const char *const classes[] = {"CLSID",  "Interface", "TypeLib", "AppID", "*",
                                          "Folder", "Directory", "exefile", ".exe"};
    std::vector<ProtectedKey> keys;
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
        for (const char *key : anyRoot)
            keys.push_back({root, key});
    for (const char *key : classes)
        keys.push_back({HKEY_CLASSES_ROOT, key});
    return keys;
}

void AddProtected(snapshot::Scope &scope) {
    for (const ProtectedFolder &folder : ProtectedFolders())
        scope.Path(folder.path);
    for (const ProtectedKey &key : ProtectedKeys())
        scope.Key(key.root, key.path);
}

static std::string ReadWhole(const std::string &path) {
    pack::Bytes bytes;
    pack::ReadWholeFile(path, &bytes, nullptr);
    return std::string(bytes.begin(), bytes.end());
}

void CommandComStandIn::SetUp() {
    if (testing_support::Family() != "win98")
        return;
    char windows[MAX_PATH];
    UINT n = GetWindowsDirectoryA(windows, MAX_PATH);
    ASSERT_TRUE(n && n < MAX_PATH);
    std::string standIn = testing_support::BuildFolder() + "\\tests\\fixtures\\commandcom.exe";
    path_ = std::string(windows) + "\\command.com";
    if (testing_support::FileExists(path_) && ReadWhole(path_) != ReadWhole(standIn)) {
        path_.clear();
        return;
    }
    ASSERT_TRUE(CopyFileA(standIn.c_str(), path_.c_str(), FALSE));
}

void CommandComStandIn::TearDown() {
    if (path_.empty())
        return;
    EXPECT_TRUE(WaitFor(
        [&] { return DeleteFileA(path_.c_str()) || !testing_support::FileExists(path_); }, 30000))
        << "the stand-in stays in the Windows folder";
}

} // namespace e2e
