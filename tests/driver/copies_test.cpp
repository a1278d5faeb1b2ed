// Two copies of one uninstaller: a second one ends with 1618, and one the user started
// brings the running copy's box to the front instead of ending without a trace.
#include <gtest/gtest.h>

#include <windows.h>

#include "support.h"

#include <string>
#include <thread>

using namespace testing_support;

namespace {

// A visible window of this test, served by a thread of its own, that takes the foreground
// from whatever had it.
class OtherWindow {
  public:
    OtherWindow() {
        HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        thread_ = std::thread([this, ready] {
            window_ =
                CreateWindowExA(0, "STATIC", "another program", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                40, 40, 300, 200, nullptr, nullptr, nullptr, nullptr);
            threadId_ = GetCurrentThreadId();
            SetEvent(ready);
            MSG message;
            while (GetMessageA(&message, nullptr, 0, 0) > 0)
                DispatchMessageA(&message);
            DestroyWindow(window_);
        });
        WaitForSingleObject(ready, 30000);
        CloseHandle(ready);
    }
    ~OtherWindow() {
        PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
        thread_.join();
    }
    HWND window() const {
        return window_;
    }

  private:
    std::thread thread_;
    HWND window_ = nullptr;
    DWORD threadId_ = 0;
};

struct Search {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindVisibleDialog(HWND window, LPARAM data) {
    Search *search = (Search *)data;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != search->processId || !IsWindowVisible(window) || ClassOf(window) != "#32770")
        return TRUE;
    search->found = window;
    return FALSE;
}

HWND VisibleDialogOf(DWORD processId) {
    Search search{processId, nullptr};
    EnumWindows(FindVisibleDialog, (LPARAM)&search);
    return search.found;
}

// The first copy waits at its confirmation box while another window has the foreground.
// A silent or quiet second copy changes nothing; one started as the user starts it ends
// with 1618 too, and the first copy's box is then the foreground window.
TEST(Copies, AnInteractiveSecondCopyBringsTheRunningCopysBoxToTheFront) {
    std::string folder = ScratchFolder("second-copy");
    std::string file = "uninstall-" + (Family().empty() ? std::string("any") : Family()) + ".exe";
    if (!Family().empty()) {
        ASSERT_TRUE(SetFamilyOf(file, Family()));
    }
    std::string exe = folder + "\\" + file;
    std::string readme = folder + "\\readme.txt";
    ASSERT_TRUE(WriteFileText(readme, "application"));
    pack::Block block;
    block.texts = {"Vanish test", "Remove the application?", "Done."};
    block.files = {{".", "readme.txt", 0}};
    ASSERT_TRUE(WriteStampedUninstaller(pack::EncodeBlock(block), exe));

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION first = {};
    std::string line = "\"" + exe + "\"";
    ASSERT_TRUE(CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                               folder.c_str(), &startup, &first));
    HWND box = nullptr;
    EXPECT_TRUE(
        WaitUntil([&] { return (box = VisibleDialogOf(first.dwProcessId)) != nullptr; }, 60000))
        << "the first copy shows its confirmation";

    if (box) {
        OtherWindow other;
        ASSERT_NE(nullptr, other.window());
        SetForegroundWindow(other.window());
        ASSERT_TRUE(WaitUntil([&] { return GetForegroundWindow() == other.window(); }))
            << "the other window does not take the foreground";

        static const char *const unseen[] = {"/S", "/Q"};
        for (const char *arguments : unseen) {
            SCOPED_TRACE(arguments);
            RunResult second = RunAndAnswer(exe, arguments, {}, 60000, Action::Key(Action::Leave));
            ASSERT_TRUE(second.finished);
            EXPECT_EQ(1618u, second.exitCode);
            EXPECT_TRUE(second.boxes.empty());
            EXPECT_EQ(other.window(), GetForegroundWindow()) << "the running copy came forward";
        }

        RunResult second = RunAndAnswer(exe, "", {}, 60000, Action::Key(Action::Leave));
        ASSERT_TRUE(second.finished);
        EXPECT_EQ(1618u, second.exitCode);
        EXPECT_TRUE(second.boxes.empty()) << "the second copy shows nothing of its own";
        EXPECT_TRUE(WaitUntil([&] { return GetForegroundWindow() == box; }))
            << "the foreground window is \"" << WindowText(GetForegroundWindow())
            << "\", not the running copy's box";
        Answer(box, Action::Press(IDCANCEL));
    }
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(first.hProcess, 60000));
    DWORD code = 99;
    GetExitCodeProcess(first.hProcess, &code);
    if (code == STILL_ACTIVE)
        TerminateProcess(first.hProcess, 0);
    CloseHandle(first.hThread);
    CloseHandle(first.hProcess);
    EXPECT_EQ(0u, code) << "the first copy, cancelled";
    EXPECT_TRUE(FileExists(readme)) << "nothing was removed";
}

} // namespace
