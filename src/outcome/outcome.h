// The outcome: after the phases, what stayed of the items the block lists, judged for the
// removal log and the silent exit code. Called by the driver; it calls the phases, the guards,
// the data and the common helpers below it, and nothing calls it from there.
#ifndef VANISH_OUTCOME_H
#define VANISH_OUTCOME_H

#include "../common/common.h"

void CountFoldersLeft();

#endif
