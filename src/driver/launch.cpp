// The application's program before removal and the closing document after it. Stand-in
// until program launch lands: nothing is started or opened.
#include "driver.h"

int RunProgram(const char *, const char *, int) {
    return 0;
}

void OpenDocument(const char *, const char *) {}
