// Test support: scratch folders, stamped uninstallers and a watcher that reads and answers
// the boxes and dialogs a program shows, from another thread or another process.
#ifndef VANISH_TEST_SUPPORT_H
#define VANISH_TEST_SUPPORT_H

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "pack.h"

namespace testing_support {

// What the watcher saw of one box or dialog.
struct Box {
    std::string caption;
    std::string text; // the message box text, or the dialog's control 1000
    std::vector<std::pair<int, std::string>> buttons; // control id and label, in z-order
    DWORD style = 0;
};

// How a box is answered.
struct Action {
    enum Kind { Click, Escape, Enter, Close, Leave } kind = Click;
    int button = IDOK;
    static Action Press(int id) {
        return {Click, id};
    }
    static Action Key(Kind k) {
        return {k, 0};
    }
};

// Watches the visible dialog windows (message boxes included) of one process and answers
// each new one with the next scripted action; the fallback answers the rest. Dialogs that
// hold a progress bar are never answered.
class BoxWatcher {
  public:
    // onBox, when given, is called on the watcher's thread for each new box before it is
    // answered.
    BoxWatcher(DWORD processId, std::vector<Action> script,
               Action fallback = Action::Press(IDCANCEL),
               std::function<void(HWND, const Box &)> onBox = nullptr);
    ~BoxWatcher();
    std::vector<Box> Stop(); // stops watching; returns the boxes seen, in order
    std::vector<Box> Seen();
    // Every visible top-level window of the process seen, of any class, progress dialogs
    // included: "class: caption", in the order first seen.
    std::vector<std::string> Windows();

  private:
    void Run();
    DWORD processId_;
    std::vector<Action> script_;
    Action fallback_;
    std::function<void(HWND, const Box &)> onBox_;
    std::vector<HWND> handled_;
    std::vector<Box> seen_;
    std::vector<HWND> shown_;
    std::vector<std::string> windows_;
    std::mutex mutex_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

Box ReadBox(HWND window);
std::string WindowText(HWND window);
std::string ClassOf(HWND window);
// The visible dialog of a process that holds a progress bar, or null.
HWND FindProgressDialog(DWORD processId);
void Answer(HWND window, const Action &action);
// Polls ready until it holds (true) or timeoutMs passes (false): waits for a state, not a time.
bool WaitUntil(const std::function<bool()> &ready, DWORD timeoutMs = 10000);
// The focus and active window of the thread that owns window, as that thread sees them.
GUITHREADINFO ThreadStateOf(HWND window);
// Waits until window is its thread's active window and the focus is on it or a control in
// it: a dialog restores the focus it kept when it is activated, so a focus set before that
// can be undone.
bool WaitUntilActive(HWND window, DWORD timeoutMs = 10000);

// Folders and files.
// Whether Wine runs under a user-mode emulator (machines whose kernel runs no 32-bit code;
// ./run sets VANISH_EMULATED): some of Wine's own machinery does not work there.
bool Emulated();
std::string ProgramName(); // this test program's base name, per family
std::string Family();      // "win98" or "win10" as the rig runs it, else ""
// Makes Wine report the given family to programs of this file name.
bool SetFamilyOf(const std::string &programFileName, const std::string &family);
std::string ScratchFolder(const std::string &name); // C:\vanish-tests\<program>\<name>, empty
void RemoveTree(const std::string &path);
bool WriteFileText(const std::string &path, const std::string &text);
bool FileExists(const std::string &path);
// The whole file, empty when it cannot be read; a file another process writes still reads.
std::string ReadFileText(const std::string &path);
// The names in a folder, sorted, without "." and "..".
std::vector<std::string> ListFolder(const std::string &folder);
std::string WindowsPath(const std::string &unixPath);
std::string BuildFolder();  // the cross build folder, as a Windows path
std::string SourceFolder(); // the source tree, as a Windows path

// A copy of the built uninstaller loaded as data, once: its dialog templates, icon and
// manifest, for the program's moduleHandle.
HMODULE ProgramResources();

// The program's string table pointed at these texts by Install; cleared again when the
// table goes while still installed.
class TextTable {
  public:
    explicit TextTable(const std::vector<std::string> &texts);
    ~TextTable();
    void Install();
    std::vector<std::string> texts;

  private:
    std::vector<char *> slots_;
};

// A registry value as read back: absent, or its type and bytes.
struct Value {
    bool present = false;
    DWORD type = 0;
    std::vector<BYTE> data;
    bool operator==(const Value &other) const {
        return present == other.present && (!present || (type == other.type && data == other.data));
    }
};
Value NoValue();
Value DwordValue(DWORD count);
Value TextValue(const std::string &text); // REG_SZ with its terminator
Value BinaryValue(std::vector<BYTE> bytes);
std::string Describe(const Value &value);
Value ReadValue(HKEY root, const std::string &key, const std::string &name);
bool WriteValue(HKEY root, const std::string &key, const std::string &name, const Value &value);
void DeleteValue(HKEY root, const std::string &key, const std::string &name);
void RemoveKeyTree(HKEY root, const std::string &key);

// A line of the removal log without the time stamp it begins with
// ("2026-12-11T10:16:03.123+01:00 "); a line without one as it is. stamped, when given, says
// whether it had one.
std::string Unstamped(const std::string &line, bool *stamped = nullptr);

// A copy of the built uninstaller with the block appended and the offset field set.
bool WriteStampedUninstaller(const pack::Bytes &block, const std::string &target);

struct RunResult {
    bool started = false;
    bool finished = false;
    DWORD exitCode = 0;
    std::vector<Box> boxes;
    std::vector<std::string> windows; // every visible window of the program (BoxWatcher)
};
// Runs a program, answers its boxes with the script, waits up to timeoutMs for its end.
// onBox, when given, is called for each box before it is answered (see BoxWatcher).
RunResult RunAndAnswer(const std::string &program, const std::string &arguments,
                       std::vector<Action> script, DWORD timeoutMs = 30000,
                       Action fallback = Action::Press(IDCANCEL),
                       std::function<void(HWND, const Box &)> onBox = nullptr);
// The same, with the program's current directory set to folder (empty: this process's).
RunResult RunAndAnswerIn(const std::string &folder, const std::string &program,
                         const std::string &arguments, std::vector<Action> script,
                         DWORD timeoutMs = 30000, Action fallback = Action::Press(IDCANCEL),
                         std::function<void(HWND, const Box &)> onBox = nullptr);

// While one lives, RunAndAnswer starts programs with the limited token linked to this
// process's own, as a user's ordinary programs have it: Wine gives every program an
// elevated token, as "Run as administrator" does. Without a linked token nothing changes.
class AsOrdinaryUser {
  public:
    AsOrdinaryUser();
    ~AsOrdinaryUser();
    AsOrdinaryUser(const AsOrdinaryUser &) = delete;
    AsOrdinaryUser &operator=(const AsOrdinaryUser &) = delete;
    bool active() const {
        return token_ != nullptr;
    }

  private:
    HANDLE token_ = nullptr;
};

// The Unix name of a Windows path, from Wine's own export; empty elsewhere.
std::string UnixName(const std::string &path);
// Starts a program of the host system without waiting for it.
bool RunUnix(const std::string &program, const std::string &arguments);

// A Unix symbolic link in the prefix, which Wine reports as a junction or symbolic link: made
// with the system's ln (Wine's CreateSymbolicLinkW makes nothing) and removed with rm when it
// goes (Wine's own deletions follow a link). A stale link of an earlier run is replaced.
class UnixLink {
  public:
    UnixLink(const std::string &link, const std::string &target);
    ~UnixLink();
    UnixLink(const UnixLink &) = delete;
    UnixLink &operator=(const UnixLink &) = delete;
    bool made() const {
        return made_;
    }

  private:
    std::string link_;
    bool made_ = false;
};

} // namespace testing_support

#endif
