#include "support.h"

#include <algorithm>

namespace testing_support {

std::string WindowText(HWND window) {
    char text[4096];
    int n = GetWindowTextA(window, text, sizeof text);
    return std::string(text, n > 0 ? n : 0);
}

std::string ClassOf(HWND window) {
    char name[256];
    int n = GetClassNameA(window, name, sizeof name);
    return std::string(name, n > 0 ? n : 0);
}

Box ReadBox(HWND window) {
    Box box;
    box.caption = WindowText(window);
    box.style = (DWORD)GetWindowLongA(window, GWL_STYLE);
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        int id = GetDlgCtrlID(child);
        std::string cls = ClassOf(child);
        if (!lstrcmpiA(cls.c_str(), "Button"))
            box.buttons.push_back({id, WindowText(child)});
        else if (!lstrcmpiA(cls.c_str(), "Static") && (id == 0xFFFF || id == 1000))
            box.text = WindowText(child);
    }
    return box;
}

static bool HasProgressBar(HWND window) {
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (!lstrcmpiA(ClassOf(child).c_str(), "msctls_progress32"))
            return true;
    return false;
}

bool WaitUntil(const std::function<bool()> &ready, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        if (ready())
            return true;
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(10);
    }
}

GUITHREADINFO ThreadStateOf(HWND window) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info))
        info.hwndActive = info.hwndFocus = nullptr;
    return info;
}

bool WaitUntilActive(HWND window, DWORD timeoutMs) {
    return WaitUntil(
        [window] {
            GUITHREADINFO info = ThreadStateOf(window);
            return info.hwndActive == window && info.hwndFocus &&
                   (info.hwndFocus == window || IsChild(window, info.hwndFocus));
        },
        timeoutMs);
}

// A key goes to the focus of the active box, where the box's own loop (IsDialogMessage)
// reads it. A box not yet active would restore its kept focus on activation and take the
// key elsewhere, so the key waits (bounded) for the box to be active.
static void PostKey(HWND window, UINT key) {
    WaitUntilActive(window, 5000);
    HWND target = ThreadStateOf(window).hwndFocus;
    if (!target || (target != window && !IsChild(window, target)))
        target = window;
    PostMessageA(target, WM_KEYDOWN, key, 0x00000001);
    PostMessageA(target, WM_KEYUP, key, 0xC0000001);
}

void Answer(HWND window, const Action &action) {
    switch (action.kind) {
    case Action::Click: {
        HWND button = GetDlgItem(window, action.button);
        if (button)
            PostMessageA(window, WM_COMMAND, MAKEWPARAM(action.button, BN_CLICKED), (LPARAM)button);
        else
            PostMessageA(window, WM_COMMAND, MAKEWPARAM(action.button, BN_CLICKED), 0);
        break;
    }
    case Action::Escape:
        PostKey(window, VK_ESCAPE);
        break;
    case Action::Enter:
        PostKey(window, VK_RETURN);
        break;
    case Action::Close:
        PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        break;
    case Action::Leave:
        break;
    }
}

BoxWatcher::BoxWatcher(DWORD processId, std::vector<Action> script, Action fallback,
                       std::function<void(HWND, const Box &)> onBox)
    : processId_(processId), script_(std::move(script)), fallback_(fallback),
      onBox_(std::move(onBox)) {
    thread_ = std::thread([this] { Run(); });
}

BoxWatcher::~BoxWatcher() {
    Stop();
}

std::vector<Box> BoxWatcher::Stop() {
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    return Seen();
}

std::vector<Box> BoxWatcher::Seen() {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
}

struct Search {
    DWORD processId;
    std::vector<HWND> found;
};

static BOOL CALLBACK CollectDialogs(HWND window, LPARAM data) {
    Search *search = (Search *)data;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == search->processId && IsWindowVisible(window) && ClassOf(window) == "#32770")
        search->found.push_back(window);
    return TRUE;
}

static BOOL CALLBACK CollectVisible(HWND window, LPARAM data) {
    Search *search = (Search *)data;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == search->processId && IsWindowVisible(window))
        search->found.push_back(window);
    return TRUE;
}

std::vector<std::string> BoxWatcher::Windows() {
    std::lock_guard<std::mutex> lock(mutex_);
    return windows_;
}

HWND FindProgressDialog(DWORD processId) {
    Search search{processId, {}};
    EnumWindows(CollectDialogs, (LPARAM)&search);
    for (HWND window : search.found)
        if (HasProgressBar(window))
            return window;
    return nullptr;
}

// A box is ready to be read and answered once its thread takes messages: by then the
// dialog has been initialised and runs its loop. False when the box went meanwhile.
static bool WaitUntilTakingMessages(HWND window) {
    DWORD_PTR result;
    return SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 30000, &result) &&
           IsWindowVisible(window);
}

void BoxWatcher::Run() {
    size_t next = 0;
    while (!stop_) {
        Search visible{processId_, {}};
        EnumWindows(CollectVisible, (LPARAM)&visible);
        for (HWND window : visible.found) {
            if (std::find(shown_.begin(), shown_.end(), window) != shown_.end())
                continue;
            shown_.push_back(window);
            std::lock_guard<std::mutex> lock(mutex_);
            windows_.push_back(ClassOf(window) + ": " + WindowText(window));
        }
        // A box stays known until its window is destroyed, also while it hides on its way
        // out: forgetting it when it merely turned invisible, between seeing it and
        // checking it, counted one box twice and gave a closing box the next answer. A
        // destroyed window is forgotten before looking, so a reused handle is a new box.
        handled_.erase(
            std::remove_if(handled_.begin(), handled_.end(), [](HWND w) { return !IsWindow(w); }),
            handled_.end());
        Search search{processId_, {}};
        EnumWindows(CollectDialogs, (LPARAM)&search);
        for (HWND window : search.found) {
            if (std::find(handled_.begin(), handled_.end(), window) != handled_.end())
                continue;
            if (HasProgressBar(window))
                continue;
            if (!WaitUntilTakingMessages(window))
                continue;
            Box box = ReadBox(window);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                seen_.push_back(box);
            }
            if (onBox_)
                onBox_(window, box);
            Answer(window, next < script_.size() ? script_[next] : fallback_);
            next++;
            handled_.push_back(window);
        }
        Sleep(20);
    }
}

} // namespace testing_support
