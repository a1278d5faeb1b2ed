// What the program tests of whole runs share: a sample application's texts, the removal
// log read back, and a fixture with an install folder, a common folder, a registry key of
// its own and shared counts it puts back.
#ifndef VANISH_TESTS_UNATTENDED_H
#define VANISH_TESTS_UNATTENDED_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support.h"

namespace unattended {

using namespace testing_support;

const char kSharedKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

inline std::vector<std::string> Texts() {
    std::vector<std::string> texts = {"Sample Uninstall",
                                      "Remove Sample?",
                                      "Sample was removed.",
                                      "Yes",
                                      "Yes to all",
                                      "No",
                                      "No to all",
                                      "Out of memory: %s",
                                      "Cannot read %s",
                                      "Read-only: %s",
                                      "Shared: %s",
                                      "Removing files",
                                      "Removing folders",
                                      "Removing program folders",
                                      "Removing registry entries",
                                      "Files in use"};
    return texts;
}

inline std::string TempFolder() {
    char path[MAX_PATH];
    DWORD n = GetTempPathA(MAX_PATH, path);
    std::string folder(path, n);
    if (!folder.empty() && folder.back() != '\\')
        folder += '\\';
    return folder;
}

inline const char kByteOrderMark[] = "\xEF\xBB\xBF";

// The end line without the run's duration it ends with (", 12.345 s").
inline std::string WithoutDuration(const std::string &line) {
    size_t comma = line.rfind(", ");
    if (line.rfind("end", 0) != 0 || comma == std::string::npos || line.size() < comma + 8 ||
        line.compare(line.size() - 2, 2, " s") != 0)
        return line;
    std::string seconds = line.substr(comma + 2, line.size() - comma - 4);
    size_t dot = seconds.find('.');
    if (dot == std::string::npos || dot == 0 || seconds.size() != dot + 4 ||
        seconds.find_first_not_of("0123456789.") != std::string::npos)
        return line;
    return line.substr(0, comma);
}

// The log's lines without their CR LF, time stamps and the run's duration, after the byte
// order mark the log begins with; a last line without CR LF is kept as it is.
inline std::vector<std::string> Lines(const std::string &log) {
    std::vector<std::string> lines;
    size_t start = log.rfind(kByteOrderMark, 0) == 0 ? 3 : 0;
    while (start < log.size()) {
        size_t end = log.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(WithoutDuration(Unstamped(log.substr(start))));
            break;
        }
        lines.push_back(WithoutDuration(Unstamped(log.substr(start, end - start))));
        start = end + 2;
    }
    return lines;
}

inline bool KeyExists(HKEY root, const std::string &key) {
    HKEY opened;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return false;
    RegCloseKey(opened);
    return true;
}

class Unattended : public ::testing::Test {
  protected:
    void SetUp() override {
        name_ = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        root_ = ScratchFolder(name_);
        app_ = root_ + "\\app";
        common_ = root_ + "\\common";
        CreateDirectoryA(app_.c_str(), nullptr);
        CreateDirectoryA(common_.c_str(), nullptr);
        // The uninstaller runs as this program's family: Wine picks it by the file name,
        // which also names the log.
        base_ = name_ + "-" + (Family().empty() ? "any" : Family());
        exe_ = app_ + "\\" + base_ + ".exe";
        if (!Family().empty()) {
            EXPECT_TRUE(SetFamilyOf(base_ + ".exe", Family()));
        }
        RemoveLogs();
        keys_ = "Software\\VanishTests\\" + ProgramName() + "\\" + name_;
        RemoveKeyTree(HKEY_CURRENT_USER, keys_);
    }
    void TearDown() override {
        RemoveKeyTree(HKEY_CURRENT_USER, keys_);
        Release();
        for (const std::string &name : sharedValues_)
            DeleteValue(HKEY_LOCAL_MACHINE, kSharedKey, name);
        RemoveLogs();
    }
    std::string LogPath(int n) const {
        return TempFolder() + base_ + (n ? "." + std::to_string(n) : std::string()) + ".log";
    }
    void RemoveLogs() const {
        for (int n = 0; n < 4; n++)
            DeleteFileA(LogPath(n).c_str());
    }
    void Hold(const std::string &path) {
        held_ = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(held_, INVALID_HANDLE_VALUE);
    }
    void Release() {
        if (held_ != INVALID_HANDLE_VALUE)
            CloseHandle(held_);
        held_ = INVALID_HANDLE_VALUE;
    }
    void Shared(const std::string &path, DWORD count) {
        sharedValues_.push_back(path);
        ASSERT_TRUE(WriteValue(HKEY_LOCAL_MACHINE, kSharedKey, path, DwordValue(count)));
    }
    Value SharedCount(const std::string &path) {
        return ReadValue(HKEY_LOCAL_MACHINE, kSharedKey, path);
    }

    // The application's registry entries: a key with a subkey, and a value of another key.
    void AddRegistry(pack::Block *block) {
        ASSERT_TRUE(
            WriteValue(HKEY_CURRENT_USER, keys_ + "\\App\\Window", "Width", DwordValue(640)));
        ASSERT_TRUE(WriteValue(HKEY_CURRENT_USER, keys_ + "\\Common", "Version", TextValue("1.0")));
        ASSERT_TRUE(WriteValue(HKEY_CURRENT_USER, keys_ + "\\Common", "Other", TextValue("2")));
        block->registry.push_back({0x80000001, keys_ + "\\App"});
        block->registry.push_back({0x80000001, keys_ + "\\Common\\\\Version"});
    }
    void ExpectRegistryGone() {
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, keys_ + "\\App"));
        EXPECT_FALSE(ReadValue(HKEY_CURRENT_USER, keys_ + "\\Common", "Version").present);
        EXPECT_TRUE(ReadValue(HKEY_CURRENT_USER, keys_ + "\\Common", "Other").present);
    }

    std::string name_, root_, app_, common_, base_, exe_, keys_;
    std::vector<std::string> sharedValues_;
    HANDLE held_ = INVALID_HANDLE_VALUE;
};

inline bool NTFamily() {
    return !(GetVersion() & 0x80000000);
}

// The log has the line, its subject written with or without a final backslash.
inline bool LogHas(const std::vector<std::string> &lines, const std::string &line) {
    for (const std::string &logged : lines)
        if (logged == line || logged == line + "\\")
            return true;
    return false;
}

inline std::string Joined(const std::vector<std::string> &lines) {
    std::string text;
    for (const std::string &line : lines)
        text += "\n  " + line;
    return text;
}

inline void KillOwnerOf(HWND box) {
    DWORD pid = 0;
    GetWindowThreadProcessId(box, &pid);
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
    TerminateProcess(process, 42);
    CloseHandle(process);
}

} // namespace unattended

#endif
