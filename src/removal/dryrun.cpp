// A dry run (/N) changes nothing, so it remembers what it would remove: a folder is empty
// when all it holds would be gone, and a file, folder or key below one that would go is gone
// too. The steps after then judge as the run would have.
#include "removal.h"

static char *gone; // the paths, one after another, each terminated
static DWORD goneUsed, goneRoom;

void NoteWouldGo(const char *path) {
    DWORD n = TextLength(path) + 1;
    if (goneUsed + n > goneRoom) {
        DWORD room = goneRoom * 2 + 4 * PATH_SIZE;
        if (!(gone ? ResizeMemory((void **)&gone, room) : AllocateMemory((void **)&gone, room)))
            return; // then it reads as still there, as it is
        goneRoom = room;
    }
    CopyBytes(gone + goneUsed, path, n);
    goneUsed += n;
}

// Whether path is above, as a folder or key, the path that would go, or that path itself.
static int Under(const char *path, const char *above) {
    for (;;) {
        long a = TakeFolded(&above);
        if (!a)
            return !*path || *path == '\\';
        if (a != TakeFolded(&path))
            return 0;
    }
}

int WouldBeGone(const char *path) {
    for (DWORD i = 0; i < goneUsed; i += TextLength(gone + i) + 1)
        if (Under(path, gone + i))
            return 1;
    return 0;
}

// 1 when the file would be deleted now: it is there. 0 with the error the deletion would meet
// otherwise.
int WouldDelete(const char *path) {
    if (!PathExists(path) || WouldBeGone(path)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    NoteWouldGo(path);
    return 1;
}

// As a folder's removal: it goes only when all it holds would be gone.
int WouldRemoveFolder(const char *path) {
    char pattern[PATH_SIZE], child[PATH_SIZE], name[PATH_SIZE], shortName[SHORT_NAME_SIZE];
    if (!PathExists(path) || WouldBeGone(path)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    if (!CopyText(pattern, PATH_SIZE, path) || !AddBackslash(pattern, PATH_SIZE) ||
        !AppendText(pattern, PATH_SIZE, "*")) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    HANDLE search = SysFindFirst(pattern, name, shortName);
    int empty = 1;
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (IsDotName(name))
                continue;
            empty = CopyText(child, PATH_SIZE, path) && AddBackslash(child, PATH_SIZE) &&
                    AppendText(child, PATH_SIZE, name) && WouldBeGone(child);
        } while (empty && SysFindNext(search, name, shortName));
        FindClose(search);
    }
    if (!empty) {
        SetLastError(ERROR_DIR_NOT_EMPTY);
        return 0;
    }
    NoteWouldGo(path);
    return 1;
}

// A key as the record of what would go holds it: its root's value, then its path.
void KeyText(DWORD root, const char *path, char *text) {
    wsprintfA(text, "#%08lX\\", root);
    if (!AppendText(text, KEY_TEXT_SIZE, path))
        text[0] = 0;
}
