// Thin wrappers over the system layer's file calls, shared by the loader, the font reader,
// the in-use test and the self-removal.
#include "data.h"

HANDLE OpenExistingFile(const char *name, int readWrite) {
    DWORD access = readWrite ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
    return SysCreateFile(name, access, FILE_SHARE_READ, OPEN_EXISTING);
}

HANDLE CreateNewFile(const char *name) {
    return SysCreateFile(name, GENERIC_WRITE, 0, CREATE_ALWAYS);
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

void SetFilePosition(HANDLE file, DWORD position) {
    SetFilePointer(file, (LONG)position, 0, FILE_BEGIN);
}

void CloseFile(HANDLE file) {
    CloseHandle(file);
}
