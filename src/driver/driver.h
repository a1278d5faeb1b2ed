// Start-up, the main sequence, program launch and self-removal.
#ifndef VANISH_DRIVER_H
#define VANISH_DRIVER_H

#include "../common/common.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR tail, int show);
int InitApplication(HINSTANCE instance);
void ShutdownApplication();
const char *SkipProgramName(const char *commandLine);
void ParseCommandLine(const char *tail);
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
ATOM RegisterMainWindowClass();
int CreateMainWindow();
void CloseMainWindow();

int RunProgram(const char *path, const char *arguments, int wait);
void OpenDocument(const char *target, const char *extension);
int IsRaisedToken(HANDLE token);
int RunsWithRaisedRights(); // this process's token; the closing document is not opened
LONG ReadDefaultValue(HKEY root, const char *subkey, char *buffer);
void ScheduleSelfRemoval();
HANDLE CreateTempBatchFile(char *buffer);

#endif
