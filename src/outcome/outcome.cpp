// What became of the items the block lists, judged after the folder phases for the counts
// and the removal log: a folder that still stands is kept or left by what it holds.
#include "outcome.h"
#include "../removal/removal.h"
#include "../data/data.h"

static const char anyName[] = "*";

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
// lists counts for itself). So does the install folder that holds only the uninstaller,
// which the self-removal takes, except in bare mode, where nothing ever removes it. An empty
// folder that still stands is left.
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
