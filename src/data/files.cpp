// Thin wrappers over the system layer's file calls, shared by the loader, the font reader,
// the in-use test and the self-removal.
#include "data.h"

// The uninstaller's own name with the extension given in place of its own: the files it
// keeps beside itself, named after it (its journal, its lock).
int GetOwnFilePath(char *buffer, const char *extension) {
    if (!modulePath || !CopyText(buffer, PATH_SIZE, modulePath))
        return 0;
    char *dot = 0;
    for (char *p = FindLastBackslash(buffer); p && *p; p++)
        if (*p == '.')
            dot = p;
    if (dot)
        *dot = 0;
    return AppendText(buffer, PATH_SIZE, extension);
}

HANDLE OpenExistingFile(const char *name, int readWrite) {
    DWORD access = readWrite ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
    return SysCreateFile(name, access, FILE_SHARE_READ, OPEN_EXISTING);
}

// Never an existing name: a file someone else made (or a link planted there) is not
// opened, so nothing written here can end up in a file another process holds or chose.
HANDLE CreateNewFile(const char *name) {
    return SysCreateFile(name, GENERIC_WRITE, 0, CREATE_NEW);
}

int ReadExactly(HANDLE file, void *buffer, DWORD count) {
    DWORD got = 0;
    if (!ReadFile(file, buffer, count, &got, 0) || got != count)
        return 1;
    return 0;
}

DWORD GetFilePosition(HANDLE file) {
    return SetFilePointer(file, 0, 0, FILE_CURRENT);
}

DWORD GetFileLength(HANDLE file) {
    return GetFileSize(file, 0);
}

// The system takes the distance as signed: from 2 GiB on the seek fails and the position
// stays where it was, so only the position the call reports tells where the next read is.
// 0xFFFFFFFF is also the failure value, and never a position this call can reach.
int SetFilePosition(HANDLE file, DWORD position) {
    DWORD reached = SetFilePointer(file, (LONG)position, 0, FILE_BEGIN);
    return reached == position && reached != INVALID_SET_FILE_POINTER;
}

void CloseFile(HANDLE file) {
    CloseHandle(file);
}
