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
    return IsSlash(p[0]) && p[1] && p[2] && IsSlash(p[3]) &&
           ((IsSlash(p[1]) && (p[2] == '?' || p[2] == '.')) || (p[1] == '?' && p[2] == '?'));
}

// What became of a path made full. A path the system cannot make full (a name its code
// page cannot hold, one too long) is left as it is: each phase meets it as before, tries it
// or skips it, and reports why.
#define REFUSED 0
#define MADE_FULL 1
#define AS_IT_IS 2

// Makes the work path full for entry i of a list. A refused entry is dropped, counted as
// left and logged; the later ones move up.
static int MakeFull(void **list, DWORD *count, DWORD i, const char *spelled) {
    char full[PATH_SIZE];
    if (IsRefusedPrefix(workPath)) {
        ReportItem(ITEM_LEFT, "entry skipped, not a plain path", spelled);
        ReleaseMemory(&list[i]);
        for (DWORD k = i + 1; k < *count; k++)
            list[k - 1] = list[k];
        (*count)--;
        return REFUSED;
    }
    DWORD n = SysGetFullPath(workPath, full, PATH_SIZE);
    if (!n || n >= PATH_SIZE || !FitsSystemPath(full))
        return AS_IT_IS;
    CopyText(workPath, PATH_SIZE, full);
    return MADE_FULL;
}

// Puts in place of the entry block at slot a new one with the same fixed fields and the
// texts given; *first and *second receive where they are. 0 without memory: the entry
// stays as it was.
static void *Replace(void **slot, DWORD fixedSize, const char *firstText, const char *secondText,
                     char **first, char **second) {
    DWORD a = TextLength(firstText) + 1, b = TextLength(secondText) + 1;
    char *block = 0;
    if (!AllocateMemory((void **)&block, fixedSize + a + b))
        return 0;
    CopyBytes(block, *slot, fixedSize);
    *first = block + fixedSize;
    *second = *first + a;
    CopyBytes(*first, firstText, a);
    CopyBytes(*second, secondText, b);
    ReleaseMemory(slot);
    *slot = block;
    return block;
}

static void MakeFileEntriesFull() {
    for (DWORD i = 0; i < fileEntryCount;) {
        FileEntry *entry = fileEntries[i];
        // A path that does not fit is left as it is: each phase skips it, counted as left.
        int made = BuildEntryPath(entry)
                       ? MakeFull((void **)fileEntries, &fileEntryCount, i, workPath)
                       : AS_IT_IS;
        if (made == REFUSED)
            continue;
        if (made == MADE_FULL) {
            // The file's own folder becomes the entry's folder, so a name that holds ".."
            // cannot make phase 3 walk from a folder spelled another way.
            const char *name = "";
            if (entry->name[0]) {
                char *last = FindLastBackslash(workPath);
                *last = 0;
                name = last + 1;
            }
            char *folder, *file;
            entry = (FileEntry *)Replace((void **)&fileEntries[i], sizeof *entry, workPath, name,
                                         &folder, &file);
            if (entry) {
                entry->folder = folder;
                entry->name = file;
            }
        }
        i++;
    }
}

static void MakeFolderEntriesFull() {
    for (DWORD i = 0; i < folderEntryCount;) {
        FolderEntry *entry = folderEntries[i];
        int made = entry->folder[0] && CopyText(workPath, PATH_SIZE, entry->folder)
                       ? MakeFull((void **)folderEntries, &folderEntryCount, i, entry->folder)
                       : AS_IT_IS;
        if (made == REFUSED)
            continue;
        if (made == MADE_FULL) {
            RemoveBackslash(workPath);
            char *folder, *file;
            entry = (FolderEntry *)Replace((void **)&folderEntries[i], sizeof *entry, workPath,
                                           entry->file, &folder, &file);
            if (entry) {
                entry->folder = folder;
                entry->file = file;
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
