// The two dialogs: the modeless progress dialog and the modal read-only query.
#include "ui.h"
#include "../data/data.h"

// A classic template names no weight, and some systems then draw its font bold. The
// controls of both dialogs get one normal-weight copy of the template's font, made from
// whichever dialog opens first and kept until shutdown; and the reading order of the texts.
void ApplyDialogFont(HWND dialog) {
    if (!dialogFont) {
        HFONT font = (HFONT)SendMessageA(dialog, WM_GETFONT, 0, 0);
        LOGFONTA description;
        if (font && GetObjectA(font, sizeof description, &description)) {
            description.lfWeight = FW_NORMAL;
            dialogFont = CreateFontIndirectA(&description);
        }
    }
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (dialogFont)
            SendMessageA(child, WM_SETFONT, (WPARAM)dialogFont, 0);
        // Texts written right to left read so, a path inside a sentence included.
        if (rightToLeft)
            SetWindowLongA(child, GWL_EXSTYLE,
                           GetWindowLongA(child, GWL_EXSTYLE) | WS_EX_RTLREADING);
    }
}

// A dialog's template as the resource holds it; for texts written right to left, a copy in
// room with the layout style set, since a window is mirrored only when it is made that way,
// and its controls with it. A classic template keeps its extended style at byte 4, an
// extended one (signature 0xFFFF) at byte 8. Null when the resource is missing.
static const DLGTEMPLATE *DialogTemplate(int id, DWORD *room, DWORD roomSize) {
    HRSRC found = FindResourceA(moduleHandle, MAKEINTRESOURCEA(id), (LPCSTR)RT_DIALOG);
    HGLOBAL loaded = found ? LoadResource(moduleHandle, found) : 0;
    const BYTE *bytes = loaded ? (const BYTE *)LockResource(loaded) : 0;
    DWORD size = found ? SizeofResource(moduleHandle, found) : 0;
    if (!bytes || !rightToLeft || size < 12 || size > roomSize)
        return (const DLGTEMPLATE *)bytes;
    CopyBytes(room, bytes, size);
    room[((const WORD *)bytes)[1] == 0xFFFF ? 2 : 1] |= WS_EX_LAYOUTRTL;
    return (const DLGTEMPLATE *)room;
}

#define TEMPLATE_ROOM 512 // DWORDs: a dialog of a few controls, with room to spare

HWND OpenDialog(int id, HWND owner, DLGPROC procedure) {
    DWORD room[TEMPLATE_ROOM];
    const DLGTEMPLATE *dialog = DialogTemplate(id, room, sizeof room);
    return dialog ? CreateDialogIndirectParamA(moduleHandle, dialog, owner, procedure, 0) : 0;
}

static INT_PTR RunDialog(int id, HWND owner, DLGPROC procedure, LPARAM parameter) {
    DWORD room[TEMPLATE_ROOM];
    const DLGTEMPLATE *dialog = DialogTemplate(id, room, sizeof room);
    return dialog ? DialogBoxIndirectParamA(moduleHandle, dialog, owner, procedure, parameter) : -1;
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
        answer = (int)RunDialog(IDD_READONLY, OwnerWindow(), ReadOnlyDialogProc, (LPARAM)question);
        if (answer == -1)
            answer = IDNO;
    }
    ReleaseMemory((void **)&question);
    return answer;
}
