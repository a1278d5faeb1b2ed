// Every entry's path made full once, before the in-use test and the first phase: a relative
// folder means the folder below the current directory at start in every phase (phase 3 runs
// after the current directory has moved), and ".", "..", forward slashes, doubled
// backslashes, trailing dots and spaces and short names are resolved as the system resolves
// them, so that the protection tests see the name the system will act on. Literal and
// device paths ("\\?\", "\\.\", "\??\") and streams are refused: the system would not
// resolve them, or they name no plain file or folder.
#include "removal.h"
#include "../data/data.h"

static int IsSlash(char c) {
    return c == '\\' || c == '/';
}

static int IsRefusedPrefix(const char *p) {
    return IsSlash(p[0]) && p[1] && p[2] && IsSlash(p[3]) &&
           ((IsSlash(p[1]) && (p[2] == '?' || p[2] == '.')) || (p[1] == '?' && p[2] == '?'));
}

// Short names made long where the system can (98/Me, 2000 and later): the longest part of
// the path that exists, and the rest as given. A wildcard could make the system find a
// name other than the one given, so a path with one stays as it is.
static void ExpandLongNames(char *path) {
    char found[PATH_SIZE];
    for (const char *c = path; *c; c++)
        if (*c == '*' || *c == '?' || *c == '<' || *c == '>' || *c == '"')
            return;
    for (char *cut = path + TextLength(path); cut > path + 3;) {
        char kept = *cut;
        *cut = 0;
        DWORD n = SysGetPathForm(path, found, PATH_SIZE, 1);
        *cut = kept;
        if (n && n < PATH_SIZE) {
            if (AppendText(found, PATH_SIZE, cut) && FitsSystemPath(found))
                CopyText(path, PATH_SIZE, found);
            return;
        }
        while (--cut > path && *cut != '\\')
            ;
    }
}

int MakeCanonical(char *path, int longNames) {
    char full[PATH_SIZE];
    if (IsRefusedPrefix(path))
        return PATH_REFUSED;
    DWORD n = SysGetFullPath(path, full, PATH_SIZE);
    // A path the system cannot make full (a name its code page cannot hold, one too long)
    // is left as it is: each phase meets it as before, tries it or skips it, and reports why.
    if (!n || n >= PATH_SIZE || !FitsSystemPath(full))
        return PATH_AS_IT_IS;
    // A colon after the drive names a stream of a file or folder ("x::$INDEX_ALLOCATION" is
    // the folder x itself), never a plain file or folder.
    for (DWORD i = 2; full[i]; i++)
        if (full[i] == ':')
            return PATH_REFUSED;
    if (longNames)
        ExpandLongNames(full);
    CopyText(path, PATH_SIZE, full);
    return PATH_CANONICAL;
}

// Makes the work path canonical for entry i of a list, its folder token (if any) first
// replaced. A refused entry is dropped, counted as left and logged; the later ones move up.
// A path whose token was replaced is full even where the system cannot say more.
static int MakeFull(void **list, DWORD *count, DWORD i, const char *spelled, int longNames) {
    int token = ExpandFolderToken(workPath), made = PATH_REFUSED;
    const char *why = "entry skipped, folder token not known here";
    if (token != TOKEN_UNKNOWN) {
        made = MakeCanonical(workPath, longNames);
        why = "entry skipped, not a plain path";
        if (made == PATH_AS_IT_IS && token == TOKEN_REPLACED)
            made = PATH_CANONICAL;
    }
    if (made == PATH_REFUSED) {
        ReportItem(ITEM_LEFT, why, spelled);
        ReleaseMemory(&list[i]);
        for (DWORD k = i + 1; k < *count; k++)
            list[k - 1] = list[k];
        (*count)--;
    }
    return made;
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

// A file entry whose name ends in a separator, "." or ".." names a folder: it is judged
// as one, never tested as a file in use.
static int NamesFolder(const char *name) {
    const char *last = name;
    for (const char *p = name; *p; p++)
        if (IsSlash(*p))
            last = p + 1;
    return !last[0] || IsDotName(last);
}

static void MakeFileEntriesFull() {
    // Entries come folder by folder: a folder's long form serves the entries after it.
    char lastFolder[PATH_SIZE], lastLong[PATH_SIZE];
    lastFolder[0] = 0;
    for (DWORD i = 0; i < fileEntryCount;) {
        FileEntry *entry = fileEntries[i];
        // A path that does not fit is left as it is: each phase skips it, counted as left.
        int made = BuildEntryPath(entry)
                       ? MakeFull((void **)fileEntries, &fileEntryCount, i, workPath, 0)
                       : PATH_AS_IT_IS;
        if (made == PATH_REFUSED)
            continue;
        if (made == PATH_CANONICAL) {
            // The file's own folder becomes the entry's folder, so a name that holds ".."
            // cannot make phase 3 walk from a folder spelled another way. The file keeps its
            // name as given: a short name names the same file, and no folder test sees it.
            const char *name = "";
            if (entry->name[0] && !NamesFolder(entry->name)) {
                char *last = FindLastBackslash(workPath);
                *last = 0;
                name = last + 1;
            }
            if (!PathsEqual(workPath, lastFolder)) {
                CopyText(lastFolder, PATH_SIZE, workPath);
                CopyText(lastLong, PATH_SIZE, workPath);
                ExpandLongNames(lastLong);
            }
            char *folder, *file;
            entry = (FileEntry *)Replace((void **)&fileEntries[i], sizeof *entry, lastLong, name,
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
                       ? MakeFull((void **)folderEntries, &folderEntryCount, i, entry->folder, 1)
                       : PATH_AS_IT_IS;
        if (made == PATH_REFUSED)
            continue;
        if (made == PATH_CANONICAL) {
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
