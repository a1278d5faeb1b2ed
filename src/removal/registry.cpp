// Phase 4: registry values and key trees. Stand-in until the registry phase lands:
// nothing is removed.
#include "removal.h"

void RemoveRegistryEntries()
{
}
