// Phases 2 and 3: the folder entries, then the folders that held the files. Both remove
// only empty folders, walk up to the parents and stop at a protected folder.
#include "removal.h"
#include "../data/data.h"
#include "../ui/ui.h"

// Cuts the path at its last backslash, so that it names the parent; 0 when it has none.
static int CutAtLastBackslash(char *path) {
    char *last = FindLastBackslash(path);
    if (!last)
        return 0;
    *last = 0;
    return 1;
}

// A folder that is the current directory cannot be removed on Windows: step up first. A
// current directory too long for the buffer cannot equal a folder that fits it.
static void LeaveIfCurrent(const char *folder) {
    char current[PATH_SIZE];
    DWORD length = SysGetFolder(FOLDER_CURRENT, current, PATH_SIZE);
    if (length == 0 || length >= PATH_SIZE)
        return;
    RemoveBackslash(current);
    if (PathsEqual(current, folder))
        SysSetCurrentFolder("..");
}

// The extra file inside the folder goes first, whatever its attributes say: a read-only or
// locked one stays. 0 when the joined path does not fit, so nothing of the entry is touched.
static int DeleteExtraFile(const FolderEntry *entry) {
    if (!entry->file[0])
        return 1;
    if (!CopyText(workPath, PATH_SIZE, entry->folder) || !AddBackslash(workPath, PATH_SIZE) ||
        !AppendText(workPath, PATH_SIZE, entry->file) || !FitsSystemPath(workPath)) {
        workPath[0] = 0;
        return 0;
    }
    int done = dryRun ? WouldDelete(workPath) : DeleteByOwnName(workPath, 0);
    RecordFileOutcome(workPath, done ? 0 : GetLastError());
    return 1;
}

// The walk cuts the entry's folder in place and counts its levels down. A folder that will
// not go does not end the walk.
//
// The protected folders are held while the phase runs and looked up again after every
// folder it removes: a protected folder removed under another spelling (a short name, say)
// no longer resolves, and since a failed removal does not end this walk, the next test
// must see that as the lookups would.
static void WalkFolderEntry(FolderEntry *entry) {
    char *folder = entry->folder;
    for (;;) {
        if (IsProtectedFolder(folder)) {
            ReportItem(ITEM_NOTED, "folder protected", folder);
            return;
        }
        LeaveIfCurrent(folder);
        if (RemoveAndRecordFolder(folder, 0))
            HoldProtectedFolders();
        if (entry->levels == 0)
            return;
        entry->levels--;
        if (!CutAtLastBackslash(folder))
            return;
    }
}

// Each folder entry's folder length before its walk cut it, for the count of what stayed:
// the cuts only turned backslashes into terminators. Null when it could not be allocated.
static DWORD *namedLengths;

// The folder that entry i named, as it was before the walk; 0 when it is not known.
int GetNamedFolder(DWORD i, char *buffer) {
    if (!namedLengths || i >= folderEntryCount || !namedLengths[i])
        return 0;
    DWORD length = namedLengths[i];
    CopyBytes(buffer, folderEntries[i]->folder, length);
    for (DWORD k = 0; k < length; k++)
        if (!buffer[k])
            buffer[k] = '\\';
    buffer[length] = 0;
    return 1;
}

void ForgetNamedFolders() {
    ReleaseMemory((void **)&namedLengths);
}

void RemoveFolderEntries() {
    HoldProtectedFolders();
    ForgetNamedFolders();
    if (folderEntryCount)
        AllocateZeroed((void **)&namedLengths, folderEntryCount * sizeof(DWORD));
    for (DWORD i = 0; i < folderEntryCount; i++) {
        FolderEntry *entry = folderEntries[i];
        // An entry whose folder or extra file does not fit a path buffer is left whole: a
        // cut path would name another file or folder. Its step still counts.
        if (FitsSystemPath(entry->folder) && DeleteExtraFile(entry)) {
            if (namedLengths)
                namedLengths[i] = TextLength(entry->folder);
            if (entry->folder[0])
                WalkFolderEntry(entry);
        } else {
            itemCounts[ITEM_LEFT]++;
            if (LogStart("entry skipped, path too long: ")) {
                LogText(entry->folder);
                LogText("|");
                LogText(entry->file);
                LogFinish();
            }
        }
        if (progressTotal)
            SetProgress((fileEntryCount + i) * 100 / progressTotal);
    }
    ReleaseProtectedFolders();
}

// Builds in the work path the folder that held the entry's file: deeper than the entry's
// folder when the name holds backslashes. 0 when there is nothing to remove: the path does
// not fit, or a bare name, spelled without a backslash, has no folder.
static int BuildHoldingFolder(const FileEntry *entry) {
    if ((entry->form & FORM_BARE_NAME) || !BuildEntryPath(entry))
        return 0;
    if (entry->name[0] && !CutAtLastBackslash(workPath))
        return 0;
    RemoveBackslash(workPath);
    return 1;
}

// Walks up from the work path while each folder comes out; remembers the first folder this
// walk removed, so that the next entries of the same folder are not tried again.
//
// The protected folders are held for the whole phase. The phase itself only removes empty
// folders that are not protected; one that it removes under another spelling no longer
// resolves, but a walk that reaches it ends there either way, protected or not removable,
// so the folders as first looked up give the same answers as fresh lookups would.
static void WalkFileFolder(char *lastRemoved, char *lastFailed) {
    int removed = 0;
    for (;;) {
        if (IsProtectedFolder(workPath)) {
            ReportItem(ITEM_NOTED, "folder protected", workPath);
            return;
        }
        if (!RemoveAndRecordFolder(workPath, lastFailed))
            return;
        if (!removed) {
            CopyText(lastRemoved, PATH_SIZE, workPath);
            removed = 1;
        }
        if (!CutAtLastBackslash(workPath))
            return;
    }
}

void RemoveFileFolders() {
    // The uninstaller's own folder stays the current directory no longer: the removals
    // below, and the self-removal later, must not find it held.
    RemoveBackslash(installFolder);
    SysSetCurrentFolder(installFolder);
    SysSetCurrentFolder("..");
    AddBackslash(installFolder, PATH_SIZE);

    char lastRemoved[PATH_SIZE];
    char lastFailed[PATH_SIZE]; // for the log only: where the last walk ended
    lastRemoved[0] = 0;
    lastFailed[0] = 0;
    HoldProtectedFolders();
    for (DWORD i = 0; i < fileEntryCount; i++) {
        const FileEntry *entry = fileEntries[i];
        // A font normally sits in the system's Fonts folder, not in one of the application:
        // nothing is tried for it and no step is reported; the next report catches up.
        if (entry->flags & FILE_FONT)
            continue;
        if (BuildHoldingFolder(entry) && !PathsEqual(workPath, lastRemoved))
            WalkFileFolder(lastRemoved, lastFailed);
        if (progressTotal)
            SetProgress((fileEntryCount + folderEntryCount + i) * 100 / progressTotal);
    }
    ReleaseProtectedFolders();
}
