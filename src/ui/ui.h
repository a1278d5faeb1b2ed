// Dialogs, progress, message draining and visual styles.
#ifndef VANISH_UI_H
#define VANISH_UI_H

#include "../common/common.h"

#include "../../res/resource.h"

void InitVisualStyles();
void LoadThemeLibrary();
void LimitVisualStyles();
void ReleaseUiResources();
void MirrorWindowLayout(); // for texts written right to left
void ApplyDialogFont(HWND dialog);
HWND OpenDialog(int id, HWND owner, DLGPROC procedure); // modeless, mirrored where texts need it
INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ReadOnlyDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
int AskReadOnly(const char *path);
void SetProgress(DWORD percent);
void DrainMessages();

#endif
