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

static HANDLE journal = INVALID_HANDLE_VALUE;
static char *released; // the journal as the run found it, terminated; null without one
static char *pending;  // lines not yet written, terminated; null when there are none
static DWORD pendingUsed, pendingRoom;

int GetJournalPath(char *buffer) {
    return GetOwnFilePath(buffer, JOURNAL_EXTENSION);
}

// A journal this run cannot trust lowers no count: a link, a second name, a folder, one that
// cannot be read. It is said once, at the first count, and counts as left.
static int unusable, told;

// The journal by its own name: on the NT family the install folder is opened as itself,
// every folder on its way checked as every removed item's is, and the journal is opened in
// that folder by its name there, never found again from the root. Only a plain file with one
// name is used. A journal that does not exist yet is no fault.
static HANDLE OpenJournal(DWORD access, int create) {
    char path[PATH_SIZE], folder[PATH_SIZE];
    HANDLE file = INVALID_HANDLE_VALUE;
    if (!GetJournalPath(path) || !CopyText(folder, PATH_SIZE, installFolder)) {
        unusable = 1;
        return file;
    }
    RemoveBackslash(folder);
    if (CanCheckNames()) {
        HANDLE holder = OpenByOwnName(folder, FILE_READ_ATTRIBUTES | FILE_TRAVERSE, ANY_SHARING,
                                      FILE_FLAG_BACKUP_SEMANTICS);
        if (holder != INVALID_HANDLE_VALUE) {
            file = OpenInFolder(holder, FindLastBackslash(path) + 1, access, FILE_SHARE_READ,
                                create ? NT_OPEN_IF : NT_OPEN, NT_FILE);
            CloseHandle(holder);
        }
    } else {
        file = SysCreateFile(path, access, FILE_SHARE_READ, create ? OPEN_ALWAYS : OPEN_EXISTING);
    }
    DWORD error = GetLastError();
    if (file == INVALID_HANDLE_VALUE) {
        if (create || (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND))
            unusable = 1;
        return file;
    }
    if (!IsPlainFile(file, path) || GetFileLength(file) > JOURNAL_LIMIT) {
        CloseHandle(file);
        unusable = 1;
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

void ReadJournal() {
    unusable = told = 0;
    HANDLE file = OpenJournal(GENERIC_READ, 0);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD size = GetFileLength(file);
    if (size == 0xFFFFFFFF || !AllocateZeroed((void **)&released, size + 1) ||
        ReadExactly(file, released, size) != 0) {
        ReleaseMemory((void **)&released);
        unusable = 1;
    }
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
    if (!pendingUsed)
        return 1;
    // Opened at the first write of the run, and written at its end from then on.
    if (journal == INVALID_HANDLE_VALUE && !unusable) {
        journal = OpenJournal(GENERIC_WRITE, 1);
        if (journal != INVALID_HANDLE_VALUE &&
            SetFilePointer(journal, 0, 0, FILE_END) == INVALID_SET_FILE_POINTER) {
            CloseJournalFile();
            unusable = 1;
        }
    }
    int done = journal != INVALID_HANDLE_VALUE &&
               WriteFile(journal, pending, pendingUsed, &written, 0) && written == pendingUsed &&
               FlushFileBuffers(journal);
    pendingUsed = 0;
    if (!done && !told) {
        char path[PATH_SIZE];
        told = 1;
        ReportItem(ITEM_LEFT, "shared counts not lowered: the journal cannot be used",
                   GetJournalPath(path) ? path : 0);
    }
    unusable |= !done;
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
