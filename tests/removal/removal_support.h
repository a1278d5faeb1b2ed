// Shared pieces of the removal tests: the program's state set up around a list of file
// entries, registry read-back and a few file helpers.
#ifndef VANISH_REMOVAL_SUPPORT_H
#define VANISH_REMOVAL_SUPPORT_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/common.h"
#include "support.h"

namespace removal_tests {

// Message texts as the tests expect them; index = message number.
extern const std::vector<std::string> kTexts;

struct Entry {
    std::string folder;
    std::string name;
    BYTE flags = 0;
};

// Points the program's file entries, string table, work path and install folder at
// storage of its own, and puts everything back when it goes.
class ProgramState {
  public:
    explicit ProgramState(const std::string &installFolder);
    ~ProgramState();
    void SetEntries(const std::vector<Entry> &entries);

  private:
    std::vector<Entry> entries_;
    std::vector<FileEntry> stored_;
    std::vector<FileEntry *> pointers_;
    testing_support::TextTable texts_{kTexts};
    char work_[PATH_SIZE];
    char install_[PATH_SIZE];
    char module_[PATH_SIZE]; // an uninstaller's name in the install folder: its journal's too
};

// Redirects HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER of this process to an empty test key,
// so that the program's registry reads see only what the test puts there.
class RootRedirect {
  public:
    explicit RootRedirect(HKEY root);
    ~RootRedirect();
    bool active() const {
        return active_;
    }
    // Writes a value below the test key, as seen through the redirected root.
    bool Write(const std::string &key, const std::string &name, DWORD type,
               const std::string &text);

  private:
    HKEY root_;
    bool active_ = false;
};

bool IsReadOnly(const std::string &path);
bool MakeReadOnly(const std::string &path);
std::string Upper(std::string text);

// A hidden top-level window that records the messages it is sent.
class RecordingWindow {
  public:
    RecordingWindow();
    ~RecordingWindow();
    HWND handle() const {
        return window_;
    }
    std::vector<std::pair<UINT, WPARAM>> messages;

  private:
    static LRESULT CALLBACK Procedure(HWND, UINT, WPARAM, LPARAM);
    HWND window_ = nullptr;
};

} // namespace removal_tests

#endif
