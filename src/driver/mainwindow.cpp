// The hidden main window: it owns every box and dialog and is never shown.
#include "driver.h"
#include "../data/data.h"
#include "../ui/ui.h"

#define WINDOW_WIDTH 320
#define WINDOW_HEIGHT 200

// A close request from another program is ignored: the window lives exactly as long as
// the run, and closing it would take the open box or dialog with it and leave the final
// loop waiting for a quit message that a box's own loop has already taken. Only
// CloseMainWindow ends it.
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE)
        return 0;
    if (message == WM_DESTROY) {
        UnmarkMainWindow(window);
        PostQuitMessage(0);
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

ATOM RegisterMainWindowClass() {
    WNDCLASSA windowClass;
    FillBytes(&windowClass, 0, sizeof windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = moduleHandle;
    windowClass.hIcon = LoadIconA(moduleHandle, MAKEINTRESOURCEA(IDI_UNINSTALL));
    windowClass.hCursor = LoadCursorA(0, IDC_ARROW);
    windowClass.hbrBackground = (HBRUSH)GetStockObject(NULL_BRUSH);
    windowClass.lpszClassName = mainWindowClass;
    return RegisterClassA(&windowClass);
}

// Centred, so that the dialogs, placed at the top-left of its client area, open near the
// middle of the screen.
int CreateMainWindow() {
    int x = (GetSystemMetrics(SM_CXSCREEN) - WINDOW_WIDTH) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - WINDOW_HEIGHT) / 2;
    if (x < 0)
        x = 0;
    if (y < 0)
        y = 0;
    mainWindow = CreateWindowExA(0, mainWindowClass, GetMessageText(MSG_CAPTION),
                                 WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, x, y, WINDOW_WIDTH,
                                 WINDOW_HEIGHT, 0, 0, moduleHandle, 0);
    if (!mainWindow)
        return 0;
    MarkMainWindow(mainWindow); // a second copy started by the user finds it by this
    return 1;
}

// Delivers every message still queued before the lists are freed; the quit message that
// WM_DESTROY posts ends the loop. A window that is already gone posts no quit message, so
// there is nothing to wait for.
void CloseMainWindow() {
    MSG message;
    makeMainWindow = 0; // nothing after this needs an owner
    if (!mainWindow) {
        // A quiet run that never needed it: no quit message will come; what is queued is
        // delivered all the same.
        while (PeekMessageA(&message, 0, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        return;
    }
    int destroyed = DestroyWindow(mainWindow);
    mainWindow = 0;
    if (!destroyed)
        return;
    while (GetMessageA(&message, 0, 0, 0) > 0)
        DispatchMessageA(&message);
}
