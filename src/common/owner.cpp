// The owner of every box and dialog. A quiet run puts off making the hidden main window
// until a question needs it: under Wine the first window of a process costs more than the
// rest of a bare run's start-up, and a quiet run that asks nothing never needs one.
#include "common.h"

HWND OwnerWindow() {
    if (!mainWindow && makeMainWindow)
        makeMainWindow();
    return mainWindow;
}
