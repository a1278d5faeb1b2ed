// The driver room, at the top: start-up, the main sequence, program launch and self-removal.
// It may call every room below it (outcome, removal, guards, ui, data, common); none calls
// it.
#ifndef VANISH_DRIVER_H
#define VANISH_DRIVER_H

#include "../common/common.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR tail, int show);
int InitApplication(HINSTANCE instance);
void InitInterface(); // OLE, visual styles and common controls
void ShutdownApplication();
const char *SkipProgramName(const char *commandLine);
void ParseCommandLine(const char *tail);
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
ATOM RegisterMainWindowClass();
int CreateMainWindow();
void CloseMainWindow();
extern const char mainWindowClass[];

// Copies of one uninstaller: the running one marks its main window, a second one started by
// the user brings the running one's box or dialog to the front.
void MarkMainWindow(HWND window);
void UnmarkMainWindow(HWND window);
void ShowRunningCopy();
// One copy at a time: COPY_RUNNING when another copy of this uninstaller runs; COPY_UNLOCKED,
// with the reason in *error, when the lock could not be taken for another reason.
enum { COPY_LOCKED, COPY_RUNNING, COPY_UNLOCKED };
int LockOneCopy(DWORD *error);
void ReleaseOneCopyLock();

int RunProgram(const char *path, const char *arguments, int wait);
void OpenDocument(const char *target, const char *extension);
// What the programs this process starts may do, by its token: the closing document follows.
enum { RIGHTS_USER, RIGHTS_ELEVATED, RIGHTS_SYSTEM };
int TokenRights(HANDLE token);
int RightsOfThisRun();
// The closing document of an elevated run, opened by the desktop shell's own process as
// the signed-in user: DESKTOP_OPENED, or why not.
enum { DESKTOP_OPENED, DESKTOP_NO_SHELL, DESKTOP_REFUSED };
int OpenThroughDesktopShell(const char *target);
LONG ReadDefaultValue(HKEY root, const char *subkey, char *buffer);
void ScheduleSelfRemoval();
int OpenLog(); // where /L= says, else the temporary folder; 0 with the last error set
HANDLE CreateTempBatchFile(char *buffer);

#endif
