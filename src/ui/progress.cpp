// The progress bar and the draining of the message queue that keeps the progress dialog
// alive on the one thread while the phases run.
#include "ui.h"
#include <commctrl.h>

void DrainMessages() {
    MSG message;
    while (PeekMessageA(&message, 0, 0, 0, PM_NOREMOVE)) {
        if (!GetMessageA(&message, 0, 0, 0))
            continue; // a quit message here is dropped; the final loop ends the run
        if (progressDialog && IsDialogMessageA(progressDialog, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

// Sends and drains only when the shown percentage changes, so a run updates the bar at
// most a hundred times however many entries it has.
void SetProgress(DWORD percent) {
    if (percent > 100)
        percent = 100;
    if (percent == lastPercentage)
        return;
    lastPercentage = percent;
    if (progressBar)
        SendMessageA(progressBar, PBM_SETPOS, percent, 0);
    DrainMessages();
}
