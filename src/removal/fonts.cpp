// Font unregistration: the font's full name from its TrueType "name" table, then the font
// out of the system and out of the list of installed fonts.
#include "removal.h"
#include "../data/data.h"

#define FONT_NAME_SIZE 520   // the name, " (TrueType)" and the terminator
#define MAX_TABLE_RECORDS 40 // the directory is searched no further
#define OFFSET_TABLE_SIZE 12
#define TABLE_RECORD_SIZE 16
#define NAMING_HEADER_SIZE 6
#define NAME_RECORD_SIZE 12
#define PLATFORM_MACINTOSH 1
#define NAME_FULL 4
#define FONT_CHANGE_TIMEOUT 1000 // milliseconds for each window to handle WM_FONTCHANGE

static const char fontsKeyNT[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
static const char fontsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts";
static const char trueTypeSuffix[] = " (TrueType)";

// Every number in the file is big-endian.
static DWORD Read16(const BYTE *bytes) {
    return ((DWORD)bytes[0] << 8) | bytes[1];
}

static DWORD Read32(const BYTE *bytes) {
    return (Read16(bytes) << 16) | Read16(bytes + 2);
}

// A seek that did not land where asked (an offset past 2 GB) must not let the next read
// take bytes from somewhere else.
static int SeekTo(HANDLE file, DWORD position) {
    SetFilePosition(file, position);
    return GetFilePosition(file) == position;
}

// Returns 0 when the file ends inside one of its structures; the caller then empties the
// name, which may hold part of a string.
static int ReadFullName(HANDLE file, char *name, DWORD size) {
    BYTE bytes[TABLE_RECORD_SIZE];
    if (ReadExactly(file, bytes, OFFSET_TABLE_SIZE))
        return 0;
    DWORD tables = Read16(bytes + 4);
    if (tables > MAX_TABLE_RECORDS)
        tables = MAX_TABLE_RECORDS;
    DWORD i = 0;
    for (; i < tables; i++) {
        if (ReadExactly(file, bytes, TABLE_RECORD_SIZE))
            return 0;
        if (bytes[0] == 'n' && bytes[1] == 'a' && bytes[2] == 'm' && bytes[3] == 'e')
            break;
    }
    if (i == tables)
        return 0;
    DWORD table = Read32(bytes + 8);
    if (!SeekTo(file, table) || ReadExactly(file, bytes, NAMING_HEADER_SIZE))
        return 0;
    DWORD count = Read16(bytes + 2);
    DWORD storage = table + Read16(bytes + 4);
    for (i = 0; i < count; i++) {
        if (ReadExactly(file, bytes, NAME_RECORD_SIZE))
            return 0;
        if (Read16(bytes) != PLATFORM_MACINTOSH || Read16(bytes + 6) != NAME_FULL)
            continue;
        DWORD length = Read16(bytes + 8);
        // A name that does not fit is skipped, not cut: cut, it could name another font.
        if (length >= size)
            continue;
        DWORD next = GetFilePosition(file);
        if (!SeekTo(file, storage + Read16(bytes + 10)) ||
            (length && ReadExactly(file, name, length)))
            return 0;
        name[length] = 0; // the last full name in the table wins
        if (!SeekTo(file, next))
            return 0;
    }
    return 1;
}

void GetTrueTypeFullName(const char *path, char *name, DWORD size) {
    if (size == 0)
        return;
    name[0] = 0;
    HANDLE file = OpenExistingFile(path, OPEN_READ);
    if (file == INVALID_HANDLE_VALUE)
        return;
    // Only an ordinary file on disk is read: a device (COM1, AUX) or a pipe that the entry
    // names could keep a read waiting for ever.
    if (GetFileType(file) != FILE_TYPE_DISK || !ReadFullName(file, name, size))
        name[0] = 0;
    CloseFile(file);
}

void UnregisterFont(const char *path) {
    char name[FONT_NAME_SIZE];
    // Only names that leave room for the suffix are read: a longer one is skipped like a
    // record that is not there, so an earlier full name in the table still counts.
    GetTrueTypeFullName(path, name, FONT_NAME_SIZE - (sizeof trueTypeSuffix - 1));
    SysRemoveFont(path);
    // The name's bytes are read as the system's code page, as the font lists were written.
    char listed[3 * FONT_NAME_SIZE];
    if (name[0] && AppendText(name, FONT_NAME_SIZE, trueTypeSuffix) &&
        AnsiToUtf8(name, listed, sizeof listed)) {
        HKEY key;
        if (SysRegOpenKey(HKEY_LOCAL_MACHINE, isNT ? fontsKeyNT : fontsKey, MAXIMUM_ALLOWED,
                          &key) == ERROR_SUCCESS) {
            SysRegDeleteValue(key, listed);
            RegCloseKey(key);
        }
    }
    // Sent, not posted: the top-level windows have seen it when this returns. A window
    // that does not answer is given up on, so that no other program can stop the removal.
    DWORD_PTR result;
    SendMessageTimeoutA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0, SMTO_ABORTIFHUNG, FONT_CHANGE_TIMEOUT,
                        &result);
}
