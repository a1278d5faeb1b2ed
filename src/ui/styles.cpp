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
