// Phases 2 and 3: folder entries and the folders that held the files. Stand-in until the
// folder phases land: nothing is removed.
#include "removal.h"

void RemoveFolderEntries()
{
}

void RemoveFileFolders()
{
}
