// What a phase records for an item it acts on. A removal the system reports done is taken
// as done (a file others hold open with delete sharing goes at their last close); one that
// failed is judged by testing whether the item is still there, not by its error alone. One
// test less per item keeps a large removal fast.
#include "removal.h"
#include "../data/data.h"

static const char throughLink[] = "left, reached through a link";

void RecordFileOutcome(const char *path, DWORD error) {
    if (!error || !PathExists(path))
        ReportItem(error ? ITEM_NOTED : ITEM_REMOVED, error ? "file not found" : "file deleted",
                   path);
    else if (error == READ_ONLY_KEPT)
        ReportItem(ITEM_KEPT, "file kept, read-only and No", path);
    else if (error == REACHED_THROUGH_LINK)
        ReportItem(ITEM_LEFT, throughLink, path);
    else
        ReportItemCode(ITEM_LEFT, "file left, error", error, path);
}

// Whether a folder goes is settled only after the last folder phase, so an attempt that
// fails is logged without being counted. With lastFailed, a walk that fails at the folder
// where the one before it failed logs nothing: phase 3 tries the same folder for every file
// it held.
int RemoveAndRecordFolder(const char *path, char *lastFailed) {
    DWORD error =
        (dryRun ? WouldRemoveFolder(path) : DeleteByOwnName(path, 1)) ? 0 : GetLastError();
    int there = error && PathExists(path);
    if (!there && !error)
        ReportItem(ITEM_REMOVED, "folder removed", path);
    else if (lastFailed && PathsEqual(path, lastFailed))
        ; // logged when the walk before ended here
    else if (error == REACHED_THROUGH_LINK)
        ReportItem(ITEM_NOTED, throughLink, path);
    else if (there && ScheduleFolderAtRestart(path))
        ; // logged as scheduled
    else if (there)
        ReportItemCode(ITEM_NOTED, "folder left, error", error, path);
    else
        ReportItem(ITEM_NOTED, "folder not found", path);
    if (lastFailed && error)
        CopyText(lastFailed, PATH_SIZE, path);
    return !error;
}
