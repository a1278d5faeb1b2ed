// Where the removal log goes: the folder or the file /L= names, else the temporary folder.
// With an administrator's rights on the NT family the log is made in its folder, that folder
// opened as itself with the checks every removed item gets, so that no link sends it
// elsewhere. A log that cannot go where it was asked goes nowhere else.
#include "driver.h"
#include "../data/data.h"
#include "../guards/guards.h"

static HANDLE checkedFolder; // the folder a log is made in by name there, while it is made

static int Checked() {
    return CanCheckNames() && RunsAsAdministrator();
}

static HANDLE CreatePlain(const char *path) {
    return SysCreateFile(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW);
}

// The name is the last part of the path the log's folder was given with.
static HANDLE CreateChecked(const char *path) {
    const char *name = path;
    for (const char *p = path; *p; p++)
        if (*p == '\\')
            name = p + 1;
    return OpenInFolder(checkedFolder, name, GENERIC_WRITE, FILE_SHARE_READ, NT_CREATE, NT_FILE);
}

static HANDLE OpenFolder(const char *folder) {
    char path[PATH_SIZE];
    if (!CopyText(path, PATH_SIZE, folder))
        return INVALID_HANDLE_VALUE;
    RemoveBackslash(path);
    return OpenByOwnName(path, FILE_READ_ATTRIBUTES | FILE_TRAVERSE, ANY_SHARING,
                         FILE_FLAG_BACKUP_SEMANTICS);
}

// A log under a name of its own in the folder.
static int OpenLogInFolder(const char *folder) {
    char named[PATH_SIZE];
    if (!CopyText(named, PATH_SIZE, folder) || !AddBackslash(named, PATH_SIZE)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    if (!Checked())
        return OpenRemovalLog(named, CreatePlain);
    checkedFolder = OpenFolder(named);
    if (checkedFolder == INVALID_HANDLE_VALUE)
        return 0;
    int opened = OpenRemovalLog(named, CreateChecked);
    DWORD error = GetLastError();
    CloseHandle(checkedFolder);
    SetLastError(error);
    return opened;
}

// The file named: made when it is not there, its lines added after those it holds. Only a
// plain file with one name is written.
static int OpenNamedFile(const char *path) {
    HANDLE file = INVALID_HANDLE_VALUE;
    if (Checked()) {
        char folder[PATH_SIZE];
        char *last = CopyText(folder, PATH_SIZE, path) ? FindLastBackslash(folder) : 0;
        if (!last) {
            SetLastError(ERROR_INVALID_NAME);
            return 0;
        }
        *last = 0;
        HANDLE holder = OpenFolder(folder);
        if (holder == INVALID_HANDLE_VALUE)
            return 0;
        file = OpenInFolder(holder, last + 1, GENERIC_WRITE, FILE_SHARE_READ, NT_OPEN_IF, NT_FILE);
        CloseHandle(holder);
    } else {
        file = SysCreateFile(path, GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS);
    }
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    if (CanCheckNames() && !IsPlainFile(file, path)) {
        CloseHandle(file);
        SetLastError(ERROR_INVALID_NAME);
        return 0;
    }
    if (UseRemovalLog(file, GetFileLength(file) == 0))
        return 1;
    CloseHandle(file);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
}

int OpenLog() {
    if (!logPath) {
        char temp[PATH_SIZE];
        DWORD n = SysGetFolder(FOLDER_TEMP, temp, PATH_SIZE);
        return n && n < PATH_SIZE && OpenLogInFolder(temp);
    }
    if (!logPath[0]) {
        SetLastError(ERROR_INVALID_NAME);
        return 0;
    }
    DWORD attributes = SysGetAttributes(logPath);
    DWORD n = TextLength(logPath);
    if ((attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) ||
        logPath[n - 1] == '\\')
        return OpenLogInFolder(logPath);
    return OpenNamedFile(logPath);
}
