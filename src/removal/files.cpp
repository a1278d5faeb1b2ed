// Phase 1: the file entries. Stand-in until the file phase lands: nothing is removed and
// no file counts as in use.
#include "removal.h"

int AnyFileInUse()
{
    return 0;
}

void RemoveFiles()
{
}
