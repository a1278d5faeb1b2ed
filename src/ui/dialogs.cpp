// The two dialogs: the modeless progress dialog and the modal read-only query.
#include "ui.h"
#include "../data/data.h"

// A classic template names no weight, and some systems then draw its font bold. The
// controls of both dialogs get one normal-weight copy of the template's font, made from
// whichever dialog opens first and kept until shutdown.
void ApplyDialogFont(HWND dialog) {
    if (!dialogFont) {
        HFONT font = (HFONT)SendMessageA(dialog, WM_GETFONT, 0, 0);
        LOGFONTA description;
        if (font && GetObjectA(font, sizeof description, &description)) {
            description.lfWeight = FW_NORMAL;
            dialogFont = CreateFontIndirectA(&description);
        }
    }
    if (!dialogFont)
        return;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        SendMessageA(child, WM_SETFONT, (WPARAM)dialogFont, 0);
}

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        ApplyDialogFont(dialog);
        SysSetText(dialog, 0, GetMessageText(MSG_CAPTION));
        return TRUE;
    case WM_COMMAND:
        // Enter, Esc and the close box all arrive here: a removal is never cut short.
        SetWindowLongA(dialog, DWL_MSGRESULT, 1);
        return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK ReadOnlyDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        ApplyDialogFont(dialog);
        SysSetText(dialog, 0, GetMessageText(MSG_CAPTION));
        SysSetText(dialog, IDC_TEXT, (const char *)lParam);
        SysSetText(dialog, IDYES, GetMessageText(MSG_YES));
        SysSetText(dialog, IDNO, GetMessageText(MSG_NO));
        SysSetText(dialog, IDC_YESTOALL, GetMessageText(MSG_YES_TO_ALL));
        SysSetText(dialog, IDC_NOTOALL, GetMessageText(MSG_NO_TO_ALL));
        return TRUE;
    case WM_COMMAND:
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

// A silent run answers yes to all: a read-only file the block names is the application's.
int AskReadOnly(const char *path) {
    if (silentMode)
        return IDC_YESTOALL;
    char *question = 0;
    if (!AllocateZeroed((void **)&question, TEXT_SIZE))
        return IDNO;
    FormatMessageText(question, MSG_READ_ONLY, path);
    int answer = IDC_YESTOALL; // no question text: remove read-only files without asking
    if (question[0]) {
        answer = (int)DialogBoxParamA(moduleHandle, MAKEINTRESOURCEA(IDD_READONLY), OwnerWindow(),
                                      ReadOnlyDialogProc, (LPARAM)question);
        if (answer == -1)
            answer = IDNO;
    }
    ReleaseMemory((void **)&question);
    return answer;
}
