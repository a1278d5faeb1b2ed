// Visual styles: common controls version 6 come through the manifest; unless the options
// keep the theme, controls are drawn without visual styles and only frames keep them.
#include "ui.h"
#include <commctrl.h>

#define STAP_ALLOW_NONCLIENT 1

void LoadThemeLibrary() {
    themeLibrary = LoadSystemLibrary("uxtheme.dll");
    if (themeLibrary)
        setThemeAppProperties = GetProcAddress(themeLibrary, "SetThemeAppProperties");
}

void InitVisualStyles() {
    LoadThemeLibrary();
    InitCommonControls();
}

void LimitVisualStyles() {
    typedef void(WINAPI * SetThemeAppPropertiesProc)(DWORD);
    if (setThemeAppProperties)
        ((SetThemeAppPropertiesProc)(void (*)())setThemeAppProperties)(STAP_ALLOW_NONCLIENT);
}

// Texts written right to left get mirrored windows: every window made from here on lays out
// from the right, its controls and their order included, as the system's own dialogs do in
// those languages. Systems without the call (95, NT 4.0, most of 98) keep their layout; the
// reading order of the texts is set for each control and box all the same.
#define LAYOUT_RTL_VALUE 1

void MirrorWindowLayout() {
    typedef BOOL(WINAPI * SetLayoutProc)(DWORD);
    SetLayoutProc setLayout =
        (SetLayoutProc)(void (*)())FindSystemFunction("user32.dll", "SetProcessDefaultLayout");
    if (setLayout)
        setLayout(LAYOUT_RTL_VALUE);
}

void ReleaseUiResources() {
    if (dialogFont) {
        DeleteObject(dialogFont);
        dialogFont = 0;
    }
    if (themeLibrary) {
        FreeLibrary(themeLibrary);
        themeLibrary = 0;
        setThemeAppProperties = 0;
    }
}
