// Path and text helpers over fixed buffers.
#include "common.h"

DWORD TextLength(const char *text) {
    DWORD n = 0;
    while (text[n])
        n++;
    return n;
}

// Copies text whole or not at all: a cut path would name a different file.
int CopyText(char *buffer, DWORD size, const char *text) {
    DWORD n = TextLength(text);
    if (n >= size)
        return 0;
    CopyBytes(buffer, text, n + 1);
    return 1;
}

int AppendText(char *buffer, DWORD size, const char *text) {
    DWORD used = TextLength(buffer);
    if (used >= size)
        return 0;
    return CopyText(buffer + used, size - used, text);
}

// Returns 0, leaving the path as it was, when the backslash would not fit.
int AddBackslash(char *path, DWORD size) {
    DWORD n = TextLength(path);
    if (n == 0 || path[n - 1] == '\\')
        return 1;
    if (n + 2 > size) // one byte for the backslash, one for the terminator
        return 0;
    path[n] = '\\';
    path[n + 1] = 0;
    return 1;
}

// "C:\" keeps its backslash: only strings of four characters or more lose one.
void RemoveBackslash(char *path) {
    DWORD n = TextLength(path);
    if (n >= 4 && path[n - 1] == '\\')
        path[n - 1] = 0;
}

// The system reads a forward slash in a path as a backslash.
int IsSlash(char c) {
    return c == '\\' || c == '/';
}

// "." or "..", which a folder listing holds besides the folder's own names.
int IsDotName(const char *name) {
    return name[0] == '.' && (!name[1] || (name[1] == '.' && !name[2]));
}

// Case is ignored as names compare (beyond A to Z by the system's case rules, see
// TakeFolded); no short names, no "." or "..".
int PathsEqual(const char *a, const char *b) {
    return NamesEqual(a, b);
}

char *FindLastBackslash(char *path) {
    char *last = 0;
    for (; *path; path++)
        if (*path == '\\')
            last = path;
    return last;
}
