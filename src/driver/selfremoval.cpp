// The uninstaller's own removal after it has exited. Stand-in until self-removal lands:
// the executable and its folder stay.
#include "driver.h"

void ScheduleSelfRemoval() {}
