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

// What a folder that stands after the phases holds.
#define HOLDS_NOTHING 0
#define HOLDS_UNINSTALLER 1 // the uninstaller's own file, and its journal
#define HOLDS_OTHERS 2

static const char *const ownExtensions[] = {JOURNAL_EXTENSION, LOCK_EXTENSION};

static int IsOwnFile(const char *name, const char *shortName) {
    char own[PATH_SIZE];
    const char *self = FindLastBackslash(modulePath);
    self = self ? self + 1 : modulePath;
    if (PathsEqual(name, self) || PathsEqual(shortName, self))
        return 1;
    for (DWORD i = 0; i < sizeof ownExtensions / sizeof ownExtensions[0]; i++)
        if (GetOwnFilePath(own, ownExtensions[i]) && PathsEqual(name, FindLastBackslash(own) + 1))
            return 1;
    return 0;
}

// A dry run's: a name in the folder whose pattern is given that the run would remove.
static int WouldBeGoneIn(const char *pattern, const char *name) {
    char child[PATH_SIZE];
    if (!dryRun || !CopyText(child, PATH_SIZE, pattern))
        return 0;
    char *last = FindLastBackslash(child);
    return last && (last[1] = 0, AppendText(child, PATH_SIZE, name)) && WouldBeGone(child);
}

static int JudgeContents(const char *path) {
    char folder[PATH_SIZE], install[PATH_SIZE], name[PATH_SIZE], shortName[SHORT_NAME_SIZE];
    if (!CopyText(folder, PATH_SIZE, path))
        return HOLDS_OTHERS;
    RemoveBackslash(folder);
    CopyText(install, PATH_SIZE, installFolder); // one path buffer in another
    RemoveBackslash(install);
    int own = PathsEqual(folder, install);
    if (!AddBackslash(folder, PATH_SIZE) || !AppendText(folder, PATH_SIZE, anyName))
        return HOLDS_OTHERS;
    HANDLE search = SysFindFirst(folder, name, shortName);
    if (search == INVALID_HANDLE_VALUE)
        return HOLDS_OTHERS;
    int holds = HOLDS_NOTHING;
    do {
        if (IsDotName(name) || WouldBeGoneIn(folder, name))
            continue;
        holds = own && IsOwnFile(name, shortName) ? HOLDS_UNINSTALLER : HOLDS_OTHERS;
    } while (holds != HOLDS_OTHERS && SysFindNext(search, name, shortName));
    FindClose(search);
    return holds;
}

// A folder that still holds something stays, rightly: kept (what it holds that the block
// lists counts for itself). So does the
// install folder that holds only the uninstaller, which the self-removal takes, except in
// bare mode, where nothing ever removes it. An empty folder that still stands is left.
static void JudgeFolder(const char *path) {
    if (!PathExists(path) || IsScheduledAtRestart(path) || WouldBeGone(path))
        return;
    int holds = JudgeContents(path);
    if (holds == HOLDS_OTHERS)
        ReportItem(ITEM_KEPT, "folder kept, not empty", path);
    else if (holds == HOLDS_UNINSTALLER && !bareMode)
        ReportItem(ITEM_KEPT, "folder kept, holds the uninstaller", path);
    else
        ReportItem(ITEM_LEFT, "folder still there", path);
}

// After the folder phases: every folder that a file entry without a name or a folder entry
// names, and that still stands, is judged. Parents that a walk tried do not count. An
// entry that phase 2 passed over because it did not fit counted as left there.
void CountFoldersLeft() {
    for (DWORD i = 0; i < fileEntryCount; i++) {
        const FileEntry *entry = fileEntries[i];
        if (!entry->name[0] && !(entry->form & FORM_FOLDER_NAME) && BuildEntryPath(entry))
            JudgeFolder(workPath);
    }
    char folder[PATH_SIZE];
    for (DWORD i = 0; i < folderEntryCount; i++)
        if (GetNamedFolder(i, folder))
            JudgeFolder(folder);
    ForgetNamedFolders();
}
