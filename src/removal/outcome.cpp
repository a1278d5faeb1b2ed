// What became of the items the block lists, for the counts and the removal log. A removal
// the system reports done is taken as done (a file others hold open with delete sharing
// goes at their last close); one that failed is judged by testing whether the item is
// still there, not by its error alone. One test less per item keeps a large removal fast.
#include "removal.h"
#include "../data/data.h"

static const char anyName[] = "*";
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
    DWORD error = DeleteByOwnName(path, 1) ? 0 : GetLastError();
    int there = error && PathExists(path);
    if (!there && !error)
        ReportItem(ITEM_REMOVED, "folder removed", path);
    else if (lastFailed && PathsEqual(path, lastFailed))
        ; // logged when the walk before ended here
    else if (error == REACHED_THROUGH_LINK)
        ReportItem(ITEM_NOTED, throughLink, path);
    else if (there)
        ReportItemCode(ITEM_NOTED, "folder left, error", error, path);
    else
        ReportItem(ITEM_NOTED, "folder not found", path);
    if (lastFailed && error)
        CopyText(lastFailed, PATH_SIZE, path);
    return !error;
}

static int IsDotName(const char *name) {
    return name[0] == '.' && (!name[1] || (name[1] == '.' && !name[2]));
}

// The install folder cannot go while the uninstaller runs from it; the self-removal takes
// it afterwards. It counts as kept when the uninstaller's own file is all it holds.
static int HoldsOnlyUninstaller(const char *path) {
    char folder[PATH_SIZE];
    char own[PATH_SIZE];
    if (!modulePath || !CopyText(folder, PATH_SIZE, path) ||
        !CopyText(own, PATH_SIZE, installFolder))
        return 0;
    RemoveBackslash(folder);
    RemoveBackslash(own);
    if (!PathsEqual(folder, own) || !AddBackslash(folder, PATH_SIZE) ||
        !AppendText(folder, PATH_SIZE, anyName))
        return 0;
    const char *self = FindLastBackslash(modulePath);
    self = self ? self + 1 : modulePath;
    char *name = own; // no longer needed
    char shortName[SHORT_NAME_SIZE];
    HANDLE search = SysFindFirst(folder, name, shortName);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    int only = 1;
    do {
        if (IsDotName(name) || PathsEqual(name, self) || PathsEqual(shortName, self))
            continue;
        only = 0;
    } while (only && SysFindNext(search, name, shortName));
    FindClose(search);
    return only;
}

static void JudgeFolder(const char *path) {
    if (!PathExists(path))
        return;
    if (HoldsOnlyUninstaller(path))
        ReportItem(ITEM_KEPT, "folder kept, holds the uninstaller", path);
    else
        ReportItem(ITEM_LEFT, "folder still there", path);
}

// After the folder phases: every folder that a file entry without a name or a folder entry
// names, and that still stands, counts as left. Parents that a walk tried do not count. An
// entry that phase 2 passed over because it did not fit counted as left there.
void CountFoldersLeft() {
    for (DWORD i = 0; i < fileEntryCount; i++) {
        const FileEntry *entry = fileEntries[i];
        if (!entry->name[0] && BuildEntryPath(entry))
            JudgeFolder(workPath);
    }
    char folder[PATH_SIZE];
    for (DWORD i = 0; i < folderEntryCount; i++)
        if (GetNamedFolder(i, folder))
            JudgeFolder(folder);
    ForgetNamedFolders();
}
