// What became of the items the block lists. Each removal is judged by testing afterwards
// whether the item is still there, not by the call's result, and goes into the counts and
// the removal log.
#include "removal.h"
#include "../data/data.h"

static const char anyName[] = "*";

void RecordFileOutcome(const char *path, DWORD error) {
    if (!PathExists(path))
        ReportItem(error ? ITEM_NOTED : ITEM_REMOVED, error ? "file not found" : "file deleted",
                   path);
    else if (error == READ_ONLY_KEPT)
        ReportItem(ITEM_KEPT, "file kept, read-only and No", path);
    else
        ReportItemCode(ITEM_LEFT, "file left, error", error, path);
}

// Whether a folder goes is settled only after the last folder phase, so an attempt that
// fails is logged without being counted.
int RemoveAndRecordFolder(const char *path) {
    DWORD error = RemoveDirectoryA(path) ? 0 : GetLastError();
    if (PathExists(path)) {
        ReportItemCode(ITEM_NOTED, "folder left, error", error, path);
        return 0;
    }
    ReportItem(error ? ITEM_NOTED : ITEM_REMOVED, error ? "folder not found" : "folder removed",
               path);
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
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(folder, &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    int only = 1;
    do {
        if (IsDotName(found.cFileName) || PathsEqual(found.cFileName, self) ||
            PathsEqual(found.cAlternateFileName, self))
            continue;
        only = 0;
    } while (only && FindNextFileA(search, &found));
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
// names, and that still stands, counts as left. Parents that a walk tried do not count.
void CountFoldersLeft() {
    for (DWORD i = 0; i < fileEntryCount; i++) {
        const FileEntry *entry = fileEntries[i];
        if (!entry->name[0] && BuildEntryPath(entry))
            JudgeFolder(workPath);
    }
    for (DWORD i = 0; i < folderEntryCount; i++) {
        const FolderEntry *entry = folderEntries[i];
        if (entry->folder[0])
            JudgeFolder(entry->folder);
    }
}
