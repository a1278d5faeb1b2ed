// A shared file's count is lowered once per installation, however often the uninstaller
// runs: the journal beside the uninstaller has a line for every count this uninstaller
// lowered, the count's name and the value it was lowered to, written and flushed before the
// count is. A later run, after an interruption or to retry what stayed, reads it and lowers
// none of those again while the count is still at most that value. A reinstallation raises
// the count above it, so the line no longer speaks for the installation that stands: an
// uninstaller run before an upgrade does not keep the next one from lowering the count. The
// self-removal takes the journal with the uninstaller.
#include "removal.h"
#include "../data/data.h"

#define JOURNAL_LIMIT (1024 * 1024) // a longer one is no journal of ours: it is not read
#define SEPARATOR '|'               // no file name holds it; the value follows the last one
#define VALUE_TEXT_SIZE 12          // "|4294967295" and the terminator

static const char journalExtension[] = ".released";
static HANDLE journal = INVALID_HANDLE_VALUE;
static char *released; // the journal as the run found it, terminated; null without one
static char *pending;  // lines not yet written, terminated; null when there are none
static DWORD pendingUsed, pendingRoom;

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

// The value after a line's last separator; 0 when the line has none (a line of an older
// journal, which named no value and is not honoured) or it is no number.
static int SplitLine(char *line, char **separator, DWORD *value) {
    *separator = 0;
    for (char *p = line; *p; p++)
        if (*p == SEPARATOR)
            *separator = p;
    if (!*separator || !(*separator)[1])
        return 0;
    DWORD n = 0;
    for (const char *p = *separator + 1; *p; p++) {
        DWORD digit = (DWORD)(*p - '0');
        if (digit > 9 || n > (0xFFFFFFFF - digit) / 10)
            return 0;
        n = n * 10 + digit;
    }
    *value = n;
    return 1;
}

// The journal's last line for the count's name decides: the count this uninstaller lowered
// it to most recently.
int WasReleased(const char *name, DWORD count) {
    int found = 0;
    DWORD lowered = 0;
    for (char *line = released; line && *line;) {
        char *end = line;
        while (*end && *end != '\r' && *end != '\n')
            end++;
        char kept = *end;
        *end = 0;
        char *separator;
        DWORD value;
        if (SplitLine(line, &separator, &value)) {
            *separator = 0;
            if (PathsEqual(line, name))
                found = 1, lowered = value;
            *separator = SEPARATOR;
        }
        *end = kept;
        line = end + (*end != 0);
    }
    return found && count <= lowered;
}

static int FormatLine(const char *name, DWORD value, char *text) {
    char digits[VALUE_TEXT_SIZE];
    DWORD n = 0;
    do {
        digits[n++] = (char)('0' + value % 10);
        value /= 10;
    } while (value);
    text[0] = SEPARATOR;
    for (DWORD i = 0; i < n; i++)
        text[1 + i] = digits[n - 1 - i];
    text[1 + n] = 0;
    return TextLength(name) + 1 + n + 2; // the name, the value, CR LF
}

// A line waits in memory until WriteReleases; 0 without memory for it.
int PlanRelease(const char *name, DWORD value) {
    char text[VALUE_TEXT_SIZE];
    DWORD length = FormatLine(name, value, text);
    if (pendingUsed + length + 1 > pendingRoom) {
        DWORD room = pendingRoom * 2 + length + 1 + 4096;
        if (!(pending ? ResizeMemory((void **)&pending, room)
                      : AllocateMemory((void **)&pending, room)))
            return 0;
        pendingRoom = room;
    }
    pending[pendingUsed] = 0;
    AppendText(pending + pendingUsed, pendingRoom - pendingUsed, name);
    AppendText(pending + pendingUsed, pendingRoom - pendingUsed, text);
    AppendText(pending + pendingUsed, pendingRoom - pendingUsed, "\r\n");
    pendingUsed += length;
    return 1;
}

static void CloseJournalFile() {
    if (journal != INVALID_HANDLE_VALUE)
        CloseHandle(journal);
    journal = INVALID_HANDLE_VALUE;
}

// The lines planned so far, in one write and one flush: a power cut after it leaves them
// all on disk before any of their counts is written. 0 when they could not be written; they
// are dropped either way.
int WriteReleases() {
    DWORD written;
    int done = 1;
    if (!pendingUsed)
        return 1;
    // Opened at the first write of the run, and written at its end from then on.
    if (journal == INVALID_HANDLE_VALUE) {
        journal = OpenJournal(GENERIC_WRITE, OPEN_ALWAYS);
        if (journal != INVALID_HANDLE_VALUE &&
            SetFilePointer(journal, 0, 0, FILE_END) == INVALID_SET_FILE_POINTER)
            CloseJournalFile();
        done = journal != INVALID_HANDLE_VALUE;
    }
    done = done && WriteFile(journal, pending, pendingUsed, &written, 0) &&
           written == pendingUsed && FlushFileBuffers(journal);
    pendingUsed = 0;
    return done;
}

int RecordRelease(const char *name, DWORD value) {
    return PlanRelease(name, value) && WriteReleases();
}

void CloseJournal() {
    CloseJournalFile();
    ReleaseMemory((void **)&released);
    ReleaseMemory((void **)&pending);
    pendingUsed = pendingRoom = 0;
}
