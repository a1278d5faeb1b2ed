// The progress dialog, the read-only query and the font they share, opened from the
// program's own templates and driven as a user would.
#include "ui_support.h"

#include "data/data.h"

#include <commctrl.h>
#include <cstddef>

using namespace testing_support;
using namespace ui_tests;

namespace {

class ProgressDialog : public UiTest {};

TEST_F(ProgressDialog, OpensWithCaptionAndShowsStatusAsItIs) {
    HWND dialog = OpenProgressDialog();
    ASSERT_NE(nullptr, dialog);
    EXPECT_TRUE(IsWindowVisible(dialog)) << "the template shows the dialog";
    EXPECT_EQ(mainWindow, GetWindow(dialog, GW_OWNER));
    EXPECT_EQ(kTexts[MSG_CAPTION], WindowText(dialog));

    HWND status = GetDlgItem(dialog, IDC_TEXT);
    ASSERT_NE(nullptr, status);
    SetDlgItemTextA(dialog, IDC_TEXT, GetMessageText(MSG_STATUS_FILES));
    EXPECT_EQ("Removing R&D files...", WindowText(status));
    EXPECT_TRUE(GetWindowLongA(status, GWL_STYLE) & SS_NOPREFIX) << "an ampersand shows as is";

    ASSERT_NE(nullptr, progressBar);
    EXPECT_EQ("msctls_progress32", ClassOf(progressBar));
    PBRANGE range = {};
    SendMessageA(progressBar, PBM_GETRANGE, FALSE, (LPARAM)&range);
    EXPECT_EQ(0, range.iLow);
    EXPECT_EQ(100, range.iHigh);
    EXPECT_EQ(0, SendMessageA(progressBar, PBM_GETPOS, 0, 0));
}

// A dialog procedure that closes on any command, to show that each action below reaches
// the dialog as a command.
INT_PTR CALLBACK ClosingDialogProc(HWND dialog, UINT message, WPARAM, LPARAM) {
    if (message == WM_COMMAND) {
        DestroyWindow(dialog);
        return TRUE;
    }
    return message == WM_INITDIALOG;
}

void PostKey(HWND window, UINT message, UINT key, LPARAM flags) {
    PostMessageA(window, message, key, 1 | flags);
    PostMessageA(window, message + 1, key, 0xC0000001 | flags);
}

struct CloseAttempt {
    const char *name;
    void (*post)(HWND dialog);
};
const CloseAttempt kCloseAttempts[] = {
    {"Enter", [](HWND d) { PostKey(d, WM_KEYDOWN, VK_RETURN, 0); }},
    {"Esc", [](HWND d) { PostKey(d, WM_KEYDOWN, VK_ESCAPE, 0); }},
    {"Alt+F4", [](HWND d) { PostKey(d, WM_SYSKEYDOWN, VK_F4, 0x20000000); }},
    {"close box", [](HWND d) { PostMessageA(d, WM_SYSCOMMAND, SC_CLOSE, 0); }},
};

TEST_F(ProgressDialog, CannotBeClosedOrCancelled) {
    for (const CloseAttempt &attempt : kCloseAttempts) {
        SCOPED_TRACE(attempt.name);
        HWND control = OpenProgressDialog(ClosingDialogProc);
        ASSERT_NE(nullptr, control);
        attempt.post(control);
        DrainMessages();
        EXPECT_FALSE(IsWindow(control)) << "the action never reached the dialog";

        HWND dialog = OpenProgressDialog();
        ASSERT_NE(nullptr, dialog);
        attempt.post(dialog);
        DrainMessages();
        EXPECT_TRUE(IsWindow(dialog) && IsWindowVisible(dialog));
        DestroyWindow(dialog);
        progressDialog = nullptr;
    }
    // Every command is handled: the dialog answers it with 1.
    HWND dialog = OpenProgressDialog();
    ASSERT_NE(nullptr, dialog);
    for (int command : {IDOK, IDCANCEL, IDC_TEXT}) {
        SCOPED_TRACE(command);
        EXPECT_EQ(1, SendMessageA(dialog, WM_COMMAND, command, 0));
    }
    EXPECT_TRUE(IsWindow(dialog));
}

class ReadOnlyQuery : public UiTest {
  protected:
    // Asks about path while a watcher answers with action; returns the answer and what
    // the watcher saw.
    int Ask(const char *path, Action action, std::vector<Box> *seen,
            std::function<void(HWND, const Box &)> onBox = nullptr) {
        BoxWatcher watcher(GetCurrentProcessId(), {action}, Action::Press(IDCANCEL), onBox);
        int answer = AskReadOnly(path);
        *seen = watcher.Stop();
        return answer;
    }
};

const char kPath[] = "C:\\Program Files\\Example\\readme.txt";

TEST_F(ReadOnlyQuery, ShowsTheQuestionAndButtonLabels) {
    HWND owner = nullptr;
    std::vector<Box> seen;
    Ask(kPath, Action::Press(IDNO), &seen,
        [&](HWND dialog, const Box &) { owner = GetWindow(dialog, GW_OWNER); });
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ(kTexts[MSG_CAPTION], seen[0].caption);
    EXPECT_EQ("The file C:\\Program Files\\Example\\readme.txt is read-only. Do you want to "
              "remove it anyway?",
              seen[0].text);
    EXPECT_EQ(mainWindow, owner);
    static const struct {
        int id;
        int text;
    } kButtons[] = {{IDYES, MSG_YES},
                    {IDC_YESTOALL, MSG_YES_TO_ALL},
                    {IDNO, MSG_NO},
                    {IDC_NOTOALL, MSG_NO_TO_ALL}};
    ASSERT_EQ(4u, seen[0].buttons.size());
    for (const auto &button : kButtons) {
        SCOPED_TRACE(button.id);
        bool found = false;
        for (const auto &shown : seen[0].buttons)
            if (shown.first == button.id) {
                found = true;
                EXPECT_EQ(kTexts[button.text], shown.second);
            }
        EXPECT_TRUE(found);
    }
}

TEST_F(ReadOnlyQuery, EachWayOfAnsweringGivesItsResult) {
    static const struct {
        const char *name;
        Action action;
        int answer;
    } kCases[] = {
        {"yes", Action::Press(IDYES), IDYES},
        {"yes to all", Action::Press(IDC_YESTOALL), IDC_YESTOALL},
        {"no", Action::Press(IDNO), IDNO},
        {"no to all", Action::Press(IDC_NOTOALL), IDC_NOTOALL},
        {"Enter", Action::Key(Action::Enter), IDYES},
        {"Esc", Action::Key(Action::Escape), IDCANCEL},
        {"close box", Action::Key(Action::Close), IDCANCEL},
    };
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.name);
        std::vector<Box> seen;
        EXPECT_EQ(c.answer, Ask(kPath, c.action, &seen));
        EXPECT_EQ(1u, seen.size());
    }
}

TEST_F(ReadOnlyQuery, EnterAnswersWithTheFocusedButton) {
    std::vector<Box> seen;
    bool active = false, moved = false;
    int answer = Ask(kPath, Action::Key(Action::Enter), &seen, [&](HWND dialog, const Box &) {
        // The dialog restores its kept focus when it is activated, which can come after it
        // takes messages: move the focus once it is active, and answer only once the
        // dialog's thread has the focus on the button and the button is the default one.
        active = WaitUntilActive(dialog);
        HWND button = GetDlgItem(dialog, IDC_NOTOALL);
        SendMessageA(dialog, WM_NEXTDLGCTL, (WPARAM)button, TRUE);
        moved = WaitUntil([&] {
            GUITHREADINFO info = ThreadStateOf(dialog);
            return info.hwndActive == dialog && info.hwndFocus == button &&
                   (GetWindowLongA(button, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
        });
    });
    EXPECT_TRUE(active) << "the dialog never became active";
    EXPECT_TRUE(moved) << "the focus never reached the button";
    EXPECT_EQ(IDC_NOTOALL, answer);
}

TEST_F(ReadOnlyQuery, QuestionTextDecidesWhetherToAsk) {
    static const struct {
        const char *name;
        const char *text9; // null: the table ends before text 9
        int answer;        // with the watcher pressing "no"
        const char *shown; // null: no dialog
    } kCases[] = {
        {"empty text", "", IDC_YESTOALL, nullptr},
        {"missing text", nullptr, IDC_YESTOALL, nullptr},
        {"no %s", "This file is read-only.", IDNO, "This file is read-only."},
        {"100% sure", "Remove it? 100% sure", IDNO, "Remove it? 100% sure"},
    };
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> texts(kTexts.begin(), kTexts.begin() + MSG_READ_ONLY);
        if (c.text9)
            texts.push_back(c.text9);
        UseTexts(texts);
        std::vector<Box> seen;
        EXPECT_EQ(c.answer, Ask(kPath, Action::Press(IDNO), &seen));
        if (!c.shown) {
            EXPECT_TRUE(seen.empty()) << "a dialog was shown";
        } else {
            ASSERT_EQ(1u, seen.size());
            EXPECT_EQ(c.shown, seen[0].text);
        }
    }
}

TEST_F(ReadOnlyQuery, AnswersNoWhenTheDialogCannotBeMade) {
    moduleHandle = GetModuleHandleA(nullptr); // the test program has no template 109
    std::vector<Box> seen;
    EXPECT_EQ(IDNO, Ask(kPath, Action::Press(IDYES), &seen));
    EXPECT_TRUE(seen.empty());
}

// The fonts of a dialog's children, read back from the controls.
std::vector<HFONT> ChildFonts(HWND dialog) {
    std::vector<HFONT> fonts;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        fonts.push_back((HFONT)SendMessageA(child, WM_GETFONT, 0, 0));
    return fonts;
}

class DialogFont : public UiTest {};

TEST_F(DialogFont, MadeOnceAndUsedByBothDialogs) {
    ASSERT_NE(nullptr, OpenProgressDialog());
    HFONT font = dialogFont;
    ASSERT_NE(nullptr, font);
    HFONT templateFont = (HFONT)SendMessageA(progressDialog, WM_GETFONT, 0, 0);
    EXPECT_NE(font, templateFont) << "the dialog itself keeps the template's font";
    std::vector<HFONT> progressFonts = ChildFonts(progressDialog);
    EXPECT_EQ(std::vector<HFONT>(2, font), progressFonts);

    LOGFONTA made = {}, asked = {};
    ASSERT_EQ((int)sizeof made, GetObjectA(font, sizeof made, &made));
    ASSERT_EQ((int)sizeof asked, GetObjectA(templateFont, sizeof asked, &asked));
    EXPECT_EQ(FW_NORMAL, made.lfWeight);
    EXPECT_EQ(asked.lfHeight, made.lfHeight);
    EXPECT_STREQ(asked.lfFaceName, made.lfFaceName);

    std::vector<HFONT> queryFonts;
    BoxWatcher watcher(GetCurrentProcessId(), {Action::Press(IDNO)}, Action::Press(IDCANCEL),
                       [&](HWND dialog, const Box &) { queryFonts = ChildFonts(dialog); });
    EXPECT_EQ(IDNO, AskReadOnly(kPath));
    watcher.Stop();
    EXPECT_EQ(std::vector<HFONT>(5, font), queryFonts);
    EXPECT_EQ(font, dialogFont) << "a second font was made";

    ReleaseUiResources();
    EXPECT_EQ(0u, GetObjectType(font)) << "shutdown leaves the font";
}

TEST_F(DialogFont, QueryMakesItWhenNoProgressDialogCame) {
    std::vector<HFONT> queryFonts;
    BoxWatcher watcher(GetCurrentProcessId(), {Action::Press(IDNO)}, Action::Press(IDCANCEL),
                       [&](HWND dialog, const Box &) { queryFonts = ChildFonts(dialog); });
    EXPECT_EQ(IDNO, AskReadOnly(kPath));
    watcher.Stop();
    ASSERT_NE(nullptr, dialogFont);
    EXPECT_EQ(std::vector<HFONT>(5, dialogFont), queryFonts);
}

// A template without a font of its own: the dialog reports none.
struct alignas(4) FontlessTemplate {
    DLGTEMPLATE dialog;
    WORD menu, cls, title;
    DLGITEMTEMPLATE item; // items start on a 4-byte boundary of memory
    WORD classOrdinal[2], text, extra;
};
static_assert(offsetof(FontlessTemplate, item) == 24, "item not on a 4-byte boundary");

TEST_F(DialogFont, DialogWithoutFontLeavesItForTheNext) {
    FontlessTemplate t = {};
    t.dialog.style = WS_POPUP | WS_CAPTION;
    t.dialog.cdit = 1;
    t.dialog.cx = 100;
    t.dialog.cy = 40;
    t.item.style = WS_CHILD | WS_VISIBLE;
    t.item.cx = 80;
    t.item.cy = 10;
    t.item.id = IDC_TEXT;
    t.classOrdinal[0] = 0xFFFF;
    t.classOrdinal[1] = 0x0082; // static
    HWND plain = CreateDialogIndirectParamA(nullptr, &t.dialog, mainWindow, ProgressDialogProc, 0);
    ASSERT_NE(nullptr, plain);
    ASSERT_EQ(nullptr, (HFONT)SendMessageA(plain, WM_GETFONT, 0, 0));
    EXPECT_EQ(nullptr, dialogFont);
    EXPECT_EQ(nullptr, (HFONT)SendDlgItemMessageA(plain, IDC_TEXT, WM_GETFONT, 0, 0));
    DestroyWindow(plain);

    ASSERT_NE(nullptr, OpenProgressDialog());
    EXPECT_NE(nullptr, dialogFont);
}

} // namespace
