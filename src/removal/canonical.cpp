// Every entry's path made full once, before the in-use test and the first phase: a relative
// folder means the folder below the current directory at start in every phase (phase 3 runs
// after the current directory has moved), and ".", "..", forward slashes, doubled
// backslashes and trailing dots and spaces are resolved as the system resolves them, so that
// the protection tests see the name the system will act on. Literal and device paths
// ("\\?\", "\\.\", "\??\") are refused: the system would not resolve them.
#include "removal.h"
#include "../data/data.h"

static int IsSlash(char c) {
    return c == '\\' || c == '/';
}

static int IsRefusedPrefix(const char *p) {
    return IsSlash(p[0]) && p[1] && IsSlash(p[3]) &&
           ((IsSlash(p[1]) && (p[2] == '?' || p[2] == '.')) || (p[1] == '?' && p[2] == '?'));
}

#define REFUSED 0
#define MADE_FULL 1
#define AS_IT_IS                                                                                   \
    2 // the system cannot say (a name its code page cannot hold, too long): each
      // phase meets the path as before, tries it or skips it, and reports why

// The full form of path, in place (PATH_SIZE bytes).
static int MakeFull(char *path) {
    char full[PATH_SIZE];
    if (IsRefusedPrefix(path))
        return REFUSED;
    DWORD n = SysGetFullPath(path, full, PATH_SIZE);
    if (!n || n >= PATH_SIZE || !FitsSystemPath(full))
        return AS_IT_IS;
    CopyText(path, PATH_SIZE, full);
    return MADE_FULL;
}

// A new entry block with the fixed fields copied and the texts given; 0 without memory.
static void *Rebuild(const void *entry, DWORD fixedSize, const char *first, const char *second,
                     char **firstOut, char **secondOut) {
    DWORD a = TextLength(first) + 1, b = TextLength(second) + 1;
    char *block = 0;
    if (!AllocateMemory((void **)&block, fixedSize + a + b))
        return 0;
    CopyBytes(block, entry, fixedSize);
    *firstOut = block + fixedSize;
    *secondOut = *firstOut + a;
    CopyBytes(*firstOut, first, a);
    CopyBytes(*secondOut, second, b);
    return block;
}

// Drops entry i of a list, counted as left and logged; the later ones move up.
static void Drop(void **list, DWORD *count, DWORD i, const char *path) {
    ReportItem(ITEM_LEFT, "entry skipped, not a plain path", path);
    ReleaseMemory(&list[i]);
    for (DWORD k = i + 1; k < *count; k++)
        list[k - 1] = list[k];
    (*count)--;
}

static void MakeFileEntriesFull() {
    for (DWORD i = 0; i < fileEntryCount;) {
        FileEntry *entry = fileEntries[i];
        // A path that does not fit is left as it is: each phase skips it, counted as left.
        if (!BuildEntryPath(entry)) {
            i++;
            continue;
        }
        int made = MakeFull(workPath);
        if (made == REFUSED) {
            Drop((void **)fileEntries, &fileEntryCount, i, workPath);
            continue;
        }
        if (made == AS_IT_IS) {
            i++;
            continue;
        }
        // The file's own folder becomes the entry's folder, so a name that holds ".." cannot
        // make phase 3 walk from a folder spelled another way.
        const char *name = "";
        if (entry->name[0]) {
            char *last = FindLastBackslash(workPath);
            *last = 0;
            name = last + 1;
        }
        char *folder, *file;
        FileEntry *rebuilt =
            (FileEntry *)Rebuild(entry, sizeof *entry, workPath, name, &folder, &file);
        if (rebuilt) {
            rebuilt->folder = folder;
            rebuilt->name = file;
            ReleaseMemory((void **)&fileEntries[i]);
            fileEntries[i] = rebuilt;
        }
        i++;
    }
}

static void MakeFolderEntriesFull() {
    for (DWORD i = 0; i < folderEntryCount;) {
        FolderEntry *entry = folderEntries[i];
        if (!entry->folder[0] || !CopyText(workPath, PATH_SIZE, entry->folder)) {
            i++;
            continue;
        }
        int made = MakeFull(workPath);
        if (made == REFUSED) {
            Drop((void **)folderEntries, &folderEntryCount, i, entry->folder);
            continue;
        }
        if (made == AS_IT_IS) {
            i++;
            continue;
        }
        RemoveBackslash(workPath);
        char *folder, *file;
        FolderEntry *rebuilt =
            (FolderEntry *)Rebuild(entry, sizeof *entry, workPath, entry->file, &folder, &file);
        if (rebuilt) {
            rebuilt->folder = folder;
            rebuilt->file = file;
            ReleaseMemory((void **)&folderEntries[i]);
            folderEntries[i] = rebuilt;
        }
        i++;
    }
}

void MakeEntryPathsFull() {
    MakeFileEntriesFull();
    MakeFolderEntriesFull();
    workPath[0] = 0;
}
