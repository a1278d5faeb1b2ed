// A shared file's count is lowered once per installation, however often the uninstaller
// runs: the journal beside the uninstaller names every file whose count this uninstaller
// lowered, one line each, written and flushed before the count is. A later run, after an
// interruption or to retry what stayed, reads it and lowers none of those again. The
// self-removal takes the journal with the uninstaller.
#include "removal.h"
#include "../data/data.h"

#define JOURNAL_LIMIT (1024 * 1024) // a longer one is no journal of ours: it is not read

static const char journalExtension[] = ".released";
static HANDLE journal = INVALID_HANDLE_VALUE;
static char *released; // the journal as the run found it, terminated; null without one

// The uninstaller's name with the extension ".released" for its own.
int GetJournalPath(char *buffer) {
    if (!modulePath || !CopyText(buffer, PATH_SIZE, modulePath))
        return 0;
    char *dot = 0;
    for (char *p = FindLastBackslash(buffer); p && *p; p++)
        if (*p == '.')
            dot = p;
    if (dot)
        *dot = 0;
    return AppendText(buffer, PATH_SIZE, journalExtension);
}

// Only a plain file with one name is written: a link or a second name planted in its place
// would make the uninstaller write somewhere else.
static HANDLE OpenJournal(DWORD access, DWORD disposition) {
    char path[PATH_SIZE];
    BY_HANDLE_FILE_INFORMATION information;
    HANDLE file = GetJournalPath(path)
                      ? SysCreateFile(path, access, FILE_SHARE_READ, disposition,
                                      isNT ? FILE_FLAG_OPEN_REPARSE_POINT : FILE_ATTRIBUTE_NORMAL)
                      : INVALID_HANDLE_VALUE;
    if (file != INVALID_HANDLE_VALUE &&
        (!GetFileInformationByHandle(file, &information) || information.nNumberOfLinks != 1 ||
         (information.dwFileAttributes &
          (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ||
         information.nFileSizeHigh || information.nFileSizeLow > JOURNAL_LIMIT)) {
        CloseHandle(file);
        file = INVALID_HANDLE_VALUE;
    }
    return file;
}

void ReadJournal() {
    HANDLE file = OpenJournal(GENERIC_READ, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD size = GetFileLength(file);
    // A journal that cannot be read whole is not used: the counts stay as they are.
    if (size != 0xFFFFFFFF && AllocateZeroed((void **)&released, size + 1) &&
        ReadExactly(file, released, size) != 0)
        ReleaseMemory((void **)&released);
    CloseFile(file);
}

int WasReleased(const char *path) {
    for (char *line = released; line && *line;) {
        char *end = line;
        while (*end && *end != '\r' && *end != '\n')
            end++;
        char kept = *end;
        *end = 0;
        int same = PathsEqual(line, path);
        *end = kept;
        if (same)
            return 1;
        line = end + (*end != 0);
    }
    return 0;
}

static void CloseJournalFile() {
    if (journal != INVALID_HANDLE_VALUE)
        CloseHandle(journal);
    journal = INVALID_HANDLE_VALUE;
}

int RecordRelease(const char *path) {
    DWORD written, length = TextLength(path);
    // Opened at the first count of the run, and written at its end from then on.
    if (journal == INVALID_HANDLE_VALUE) {
        journal = OpenJournal(GENERIC_WRITE, OPEN_ALWAYS);
        if (journal != INVALID_HANDLE_VALUE &&
            SetFilePointer(journal, 0, 0, FILE_END) == INVALID_SET_FILE_POINTER)
            CloseJournalFile();
        if (journal == INVALID_HANDLE_VALUE)
            return 0;
    }
    return WriteFile(journal, path, length, &written, 0) && written == length &&
           WriteFile(journal, "\r\n", 2, &written, 0) && written == 2 && FlushFileBuffers(journal);
}

void CloseJournal() {
    CloseJournalFile();
    ReleaseMemory((void **)&released);
}
