#include <algorithm>
#include "support.h"

namespace testing_support {

bool Emulated() {
    char value[8];
    DWORD n = GetEnvironmentVariableA("VANISH_EMULATED", value, sizeof value);
    return n > 0 && n < sizeof value && value[0] == '1';
}

std::string ProgramName() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string name(path, n);
    size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos)
        name = name.substr(slash + 1);
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string Family() {
    std::string name = ProgramName();
    for (const char *family : {"win98", "win10"})
        if (name.size() > 6 && name.substr(name.size() - 6) == std::string("_") + family)
            return family;
    return "";
}

bool SetFamilyOf(const std::string &programFileName, const std::string &family) {
    std::string key = "Software\\Wine\\AppDefaults\\" + programFileName;
    HKEY opened;
    if (RegCreateKeyA(HKEY_CURRENT_USER, key.c_str(), &opened) != ERROR_SUCCESS)
        return false;
    LONG result = RegSetValueExA(opened, "Version", 0, REG_SZ, (const BYTE *)family.c_str(),
                                 (DWORD)family.size() + 1);
    RegCloseKey(opened);
    return result == ERROR_SUCCESS;
}

void RemoveTree(const std::string &path) {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((path + "\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string name = data.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string child = path + "\\" + name;
            SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(find, &data));
        FindClose(find);
    }
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA(path.c_str());
}

std::string ScratchFolder(const std::string &name) {
    std::string root = "C:\\vanish-tests";
    CreateDirectoryA(root.c_str(), nullptr);
    std::string mine = root + "\\" + ProgramName();
    CreateDirectoryA(mine.c_str(), nullptr);
    std::string path = mine + "\\" + name;
    RemoveTree(path);
    CreateDirectoryA(path.c_str(), nullptr);
    return path;
}

bool WriteFileText(const std::string &path, const std::string &text) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, text.data(), (DWORD)text.size(), &written, nullptr);
    CloseHandle(file);
    return ok && written == text.size();
}

bool FileExists(const std::string &path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadFileText(const std::string &path) {
    std::string text;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got)
        text.append(buffer, got);
    CloseHandle(file);
    return text;
}

std::vector<std::string> ListFolder(const std::string &folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::string name = data.cFileName;
        if (name != "." && name != "..")
            names.push_back(name);
    } while (FindNextFileA(find, &data));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

std::string WindowsPath(const std::string &unixPath) {
    std::string path = unixPath;
    for (char &c : path)
        if (c == '/')
            c = '\\';
    return "Z:" + path;
}

static std::string FolderFromEnvironment(const char *name) {
    char value[MAX_PATH];
    DWORD n = GetEnvironmentVariableA(name, value, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return "";
    return WindowsPath(value);
}

std::string BuildFolder() {
    return FolderFromEnvironment("VANISH_BUILD");
}

std::string SourceFolder() {
    return FolderFromEnvironment("VANISH_SOURCE");
}

bool WriteStampedUninstaller(const pack::Bytes &block, const std::string &target) {
    pack::Bytes image;
    std::string error;
    return pack::ReadWholeFile(BuildFolder() + "\\uninstall.exe", &image, &error) &&
           pack::Stamp(image, block, &error) && pack::WriteWholeFile(target, image, &error);
}

static HANDLE startToken; // the token of an AsOrdinaryUser that lives, or null

AsOrdinaryUser::AsOrdinaryUser() {
    const TOKEN_INFORMATION_CLASS linkedToken = (TOKEN_INFORMATION_CLASS)19; // Vista's
    HANDLE own = nullptr, linked = nullptr;
    DWORD size = 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &own))
        return;
    // The linked token may come as an impersonation token; a process needs a primary one.
    if (GetTokenInformation(own, linkedToken, &linked, sizeof linked, &size) && linked) {
        DuplicateTokenEx(linked, MAXIMUM_ALLOWED, nullptr, SecurityImpersonation, TokenPrimary,
                         &token_);
        CloseHandle(linked);
    }
    CloseHandle(own);
    startToken = token_;
}

AsOrdinaryUser::~AsOrdinaryUser() {
    startToken = nullptr;
    if (token_)
        CloseHandle(token_);
}

RunResult RunAndAnswer(const std::string &program, const std::string &arguments,
                       std::vector<Action> script, DWORD timeoutMs, Action fallback,
                       std::function<void(HWND, const Box &)> onBox) {
    return RunAndAnswerIn("", program, arguments, std::move(script), timeoutMs, fallback,
                          std::move(onBox));
}

RunResult RunAndAnswerIn(const std::string &folder, const std::string &program,
                         const std::string &arguments, std::vector<Action> script, DWORD timeoutMs,
                         Action fallback, std::function<void(HWND, const Box &)> onBox) {
    RunResult result;
    const char *current = folder.empty() ? nullptr : folder.c_str();
    std::string commandLine = "\"" + program + "\"";
    if (!arguments.empty())
        commandLine += " " + arguments;
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back(0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (startToken ? !CreateProcessAsUserA(startToken, nullptr, line.data(), nullptr, nullptr,
                                           FALSE, 0, nullptr, current, &startup, &process)
                   : !CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                     current, &startup, &process))
        return result;
    result.started = true;
    BoxWatcher watcher(process.dwProcessId, std::move(script), fallback, std::move(onBox));
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        result.finished = true;
        GetExitCodeProcess(process.hProcess, &result.exitCode);
    } else {
        TerminateProcess(process.hProcess, 99);
        WaitForSingleObject(process.hProcess, 5000);
    }
    result.boxes = watcher.Stop();
    result.windows = watcher.Windows();
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return result;
}

std::string UnixName(const std::string &path) {
    typedef char *(CDECL * UnixNameProc)(LPCWSTR);
    auto unixName = (UnixNameProc)(void (*)())GetProcAddress(GetModuleHandleA("kernel32.dll"),
                                                             "wine_get_unix_file_name");
    WCHAR wide[MAX_PATH];
    if (!unixName || !MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH))
        return "";
    char *name = unixName(wide);
    if (!name)
        return "";
    std::string result = name;
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

// Starts a Unix program of the host; Wine runs it beside the prefix and gives no handle to
// wait on, so callers wait for what it does.
// Starts a program of the host system; Wine gives no handle to wait on, so callers wait for
// what it does.
bool RunUnix(const std::string &program, const std::string &arguments) {
    std::string line = program + " " + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(WindowsPath(program).c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process))
        return false;
    // Wine starts a host program without a process handle and leaves the thread handle
    // undefined: closing that could close another handle of this process.
    if (process.hProcess) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    return true;
}

static bool Present(const std::string &path) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    return true;
}

UnixLink::UnixLink(const std::string &link, const std::string &target) : link_(link) {
    std::string from = UnixName(link), to = UnixName(target);
    made_ = !from.empty() && !to.empty() &&
            RunUnix("/bin/ln", "-sfn \"" + to + "\" \"" + from + "\"") &&
            WaitUntil([&] { return Present(link); });
}

UnixLink::~UnixLink() {
    std::string from = UnixName(link_);
    if (!from.empty() && RunUnix("/bin/rm", "-f \"" + from + "\""))
        WaitUntil([&] { return !Present(link_); });
}

std::string Unstamped(const std::string &line, bool *stamped) {
    // Digits where the pattern has "9", the rest as it stands.
    static const char pattern[] = "9999-99-99T99:99:99.999+99:99 ";
    const size_t n = sizeof pattern - 1;
    bool has = line.size() >= n;
    for (size_t i = 0; has && i < n; i++)
        has = pattern[i] == '9' ? line[i] >= '0' && line[i] <= '9'
                                : line[i] == pattern[i] || (i == 23 && line[i] == '-');
    if (stamped)
        *stamped = has;
    return has ? line.substr(n) : line;
}

} // namespace testing_support
