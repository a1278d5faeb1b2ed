// Every entry's path made full once, before the in-use test and the first phase: a relative
// folder means the folder below the current directory at start in every phase (phase 3 runs
// after the current directory has moved), and each path takes its one canonical name, its
// folder token first replaced. An entry whose path is refused is dropped.
#include "removal.h"
#include "../data/data.h"

// A folder that begins with a dot is relative to the install folder; anything after ".\"
// is appended, and any other dotted form gives the install folder itself. Returns 0, with
// the work path empty, when the path would not fit: a cut path names another file.
int BuildEntryPath(const FileEntry *entry) {
    const char *folder = entry->folder;
    int fits;
    if (folder[0] == '.') {
        // Without its own folder the program names nothing relative to it.
        fits = installFolder[0] && CopyText(workPath, PATH_SIZE, installFolder);
        if (fits && folder[1] == '\\')
            fits = AppendText(workPath, PATH_SIZE, folder + 2);
    } else {
        fits = CopyText(workPath, PATH_SIZE, folder);
    }
    if (fits && entry->name[0])
        fits = AddBackslash(workPath, PATH_SIZE) && AppendText(workPath, PATH_SIZE, entry->name);
    if (fits)
        fits = FitsSystemPath(workPath);
    if (!fits)
        workPath[0] = 0;
    return fits;
}

// Makes the work path canonical for entry i of a list, its folder token (if any) first
// replaced; expanded receives the path as it stood between the two. A refused entry is
// dropped, counted as left and logged; the later ones move up. A path whose token was
// replaced is full even where the system cannot say more.
static int MakeFull(void **list, DWORD *count, DWORD i, const char *shown, int longNames,
                    char *expanded) {
    int token = ExpandFolderToken(workPath), made = PATH_REFUSED;
    const char *why = token == TOKEN_OTHER_ACCOUNT
                          ? "entry skipped, per-user folder, not this account's"
                          : "entry skipped, folder token not known here";
    CopyText(expanded, PATH_SIZE, workPath); // one path buffer in another
    if (token != TOKEN_UNKNOWN && token != TOKEN_OTHER_ACCOUNT) {
        made = MakeCanonical(workPath, longNames);
        why = "entry skipped, not a plain path";
        if (made == PATH_AS_IT_IS && token == TOKEN_REPLACED)
            made = PATH_CANONICAL;
    }
    if (made == PATH_REFUSED) {
        ReportItem(ITEM_LEFT, why, shown);
        ReleaseMemory(&list[i]);
        for (DWORD k = i + 1; k < *count; k++)
            list[k - 1] = list[k];
        (*count)--;
    }
    return made;
}

// Puts in place of the entry block at slot a new one with the same fixed fields and the
// texts given (a null text is left out); places[k] receives where text k is, or null. 0
// without memory: the entry stays as it was.
static void *Replace(void **slot, DWORD fixedSize, const char *const *texts, DWORD count,
                     char **places) {
    DWORD size = fixedSize;
    for (DWORD k = 0; k < count; k++)
        if (texts[k])
            size += TextLength(texts[k]) + 1;
    char *block = 0;
    if (!AllocateMemory((void **)&block, size))
        return 0;
    CopyBytes(block, *slot, fixedSize);
    char *at = block + fixedSize;
    for (DWORD k = 0; k < count; k++) {
        places[k] = 0;
        if (!texts[k])
            continue;
        DWORD length = TextLength(texts[k]) + 1;
        CopyBytes(at, texts[k], length);
        places[k] = at;
        at += length;
    }
    ReleaseMemory(slot);
    *slot = block;
    return block;
}

// A file entry whose name ends in a separator, "." or ".." names a folder: phase 1 keeps
// it, never tests it as a file in use.
static int NamesFolder(const char *name) {
    const char *last = name;
    for (const char *p = name; *p; p++)
        if (IsSlash(*p))
            last = p + 1;
    return !last[0] || IsDotName(last);
}

static int HoldsBackslash(const char *path) {
    for (; *path; path++)
        if (*path == '\\')
            return 1;
    return 0;
}

// The folder phase 3 walks from for a name that names a folder: the spelled path cut at its
// last backslash, made full.
static int MakeWalkFolder(const char *spelled, char *folder) {
    char *last = CopyText(folder, PATH_SIZE, spelled) ? FindLastBackslash(folder) : 0;
    if (!last)
        return 0;
    *last = 0;
    return folder[0] && MakeCanonical(folder, 1) == PATH_CANONICAL;
}

// An entry's texts after its path was made full: the folder that holds the file in its long
// form, the file's name as given (a short name names the same file, and no folder test sees
// it), and the path as the block spells it where that differs: a shared file's count is
// kept under that name.
static void MakeFileEntriesFull() {
    // Entries come folder by folder: a folder's long form serves the entries after it.
    char lastFolder[PATH_SIZE], lastLong[PATH_SIZE], spelled[PATH_SIZE], walk[PATH_SIZE];
    lastFolder[0] = 0;
    for (DWORD i = 0; i < fileEntryCount;) {
        FileEntry *entry = fileEntries[i];
        // A path that does not fit is left as it is: each phase skips it, counted as left.
        int made = PATH_AS_IT_IS;
        spelled[0] = 0;
        if (BuildEntryPath(entry))
            made = MakeFull((void **)fileEntries, &fileEntryCount, i, workPath, 0, spelled);
        if (made == PATH_REFUSED)
            continue;
        if (entry->name[0] && spelled[0]) {
            if (!HoldsBackslash(spelled))
                entry->form |= FORM_BARE_NAME;
            if (NamesFolder(entry->name))
                entry->form |= FORM_FOLDER_NAME;
        }
        if (made == PATH_CANONICAL) {
            const char *name = "";
            const char *folder = lastLong;
            if (entry->form & FORM_FOLDER_NAME) {
                // Kept by phase 1; phase 3 walks from the folder the name stands in.
                folder = MakeWalkFolder(spelled, walk) ? walk : workPath;
            } else if (entry->name[0]) {
                char *last = FindLastBackslash(workPath);
                *last = 0;
                name = last + 1;
            }
            if (folder == lastLong && !PathsEqual(workPath, lastFolder)) {
                CopyText(lastFolder, PATH_SIZE, workPath);
                CopyText(lastLong, PATH_SIZE, workPath);
                ExpandLongNames(lastLong);
            }
            // The full path as the phases will build it, against the path as spelled.
            char full[PATH_SIZE];
            int same = CopyText(full, PATH_SIZE, folder) &&
                       (!name[0] ||
                        (AddBackslash(full, PATH_SIZE) && AppendText(full, PATH_SIZE, name))) &&
                       PathsEqual(full, spelled);
            const char *texts[] = {folder, name, same ? 0 : spelled};
            char *places[3];
            entry = (FileEntry *)Replace((void **)&fileEntries[i], sizeof *entry, texts, 3, places);
            if (entry) {
                entry->folder = places[0];
                entry->name = places[1];
                entry->spelled = places[2];
            }
        }
        i++;
    }
}

// A folder entry keeps a trailing backslash as spelled: its walk spends its first level on
// it, removing the same folder once more.
static void MakeFolderEntriesFull() {
    char spelled[PATH_SIZE];
    for (DWORD i = 0; i < folderEntryCount;) {
        FolderEntry *entry = folderEntries[i];
        int made = PATH_AS_IT_IS;
        if (entry->folder[0] && CopyText(workPath, PATH_SIZE, entry->folder))
            made =
                MakeFull((void **)folderEntries, &folderEntryCount, i, entry->folder, 1, spelled);
        if (made == PATH_REFUSED)
            continue;
        if (made == PATH_CANONICAL) {
            DWORD n = TextLength(spelled);
            if (n && spelled[n - 1] == '\\')
                AddBackslash(workPath, PATH_SIZE); // where it fits
            else
                RemoveBackslash(workPath);
            const char *texts[] = {workPath, entry->file};
            char *places[2];
            entry =
                (FolderEntry *)Replace((void **)&folderEntries[i], sizeof *entry, texts, 2, places);
            if (entry) {
                entry->folder = places[0];
                entry->file = places[1];
            }
        }
        i++;
    }
}

void MakeEntryPathsFull() {
    MakeFileEntriesFull();
    MakeFolderEntriesFull();
    workPath[0] = 0;
}
