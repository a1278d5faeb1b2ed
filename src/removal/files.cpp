// Phase 1: the file entries, from the last to the first. Shared files honour their
// reference counts, fonts and COM servers are unregistered, read-only files are asked about.
#include "removal.h"
#include "../data/data.h"
#include "../ui/ui.h"

// Outcomes of the writable test.
#define WRITABLE 0
#define NOT_WRITABLE 1  // read-only, or its attributes are refused with access denied
#define NO_ATTRIBUTES 2 // typically: no such file

#define COUNT_TEXT_SIZE 16 // a count stored as text: "4294967295" and room to spare

// Why a named file is not deleted.
#define KEEP_NONE 0
#define KEEP_IN_USE 1
#define KEEP_COUNT 2  // its shared count is still above 0
#define KEEP_ANSWER 3 // the shared-file question was answered No

static const char sharedKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
static const char unregisterExport[] = "DllUnregisterServer";

// The item an entry names is acted on through a handle that opened the item itself and
// proved its name (the NT family): checked, with no access but to its attributes, so that it
// bars nobody. Its attributes are read and changed through it, and it is opened again
// through it for the in-use test and for its deletion. Without one (95/98/Me), by name.
static DWORD ReadAttributes(const char *path, HANDLE checked) {
    if (checked == INVALID_HANDLE_VALUE)
        return SysGetAttributes(path);
    DWORD attributes = GetHandleAttributes(checked);
    if (!attributes) {
        SetLastError(ERROR_ACCESS_DENIED); // there, but it will not say
        return INVALID_FILE_ATTRIBUTES;
    }
    return attributes;
}

static HANDLE Reopen(const char *path, HANDLE checked, DWORD access, DWORD share) {
    if (checked == INVALID_HANDLE_VALUE)
        return SysCreateFile(path, access, share, OPEN_EXISTING);
    return ReopenItem(checked, path, access, share);
}

static int TestWritable(const char *path, HANDLE checked) {
    DWORD attributes = ReadAttributes(path, checked);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return IsAccessDenied(GetLastError()) ? NOT_WRITABLE : NO_ATTRIBUTES;
    return (attributes & FILE_ATTRIBUTE_READONLY) ? NOT_WRITABLE : WRITABLE;
}

static void SetReadOnly(const char *path, HANDLE checked, int readOnly) {
    DWORD attributes = ReadAttributes(path, checked);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    if (readOnly)
        attributes |= FILE_ATTRIBUTE_READONLY;
    else
        attributes &= ~FILE_ATTRIBUTE_READONLY;
    if (checked != INVALID_HANDLE_VALUE)
        SetHandleAttributes(checked, attributes);
    else
        SysSetAttributes(path, attributes);
}

// 1 when the file can be opened for reading and writing by nobody else right now.
static int CannotOpen(const char *path, HANDLE checked) {
    HANDLE file = Reopen(path, checked, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    CloseFile(file);
    return 0;
}

// A read-only file is made writable for the open and read-only again after it. Most files
// open at once, and since the open for reading and writing fails on a read-only file, a
// file that opens has passed the writable test too: the attributes are read only when the
// first open fails, and then the whole test runs as before.
static int InUse(const char *path, HANDLE checked) {
    if (!CannotOpen(path, checked))
        return 0;
    int state = TestWritable(path, checked);
    if (state == WRITABLE)
        return CannotOpen(path, checked);
    if (state == NO_ATTRIBUTES)
        return 0; // a file that does not exist is not in use
    if (dryRun) {
        // A dry run makes nothing writable: a read-only file is in use when it cannot even
        // be opened for reading.
        HANDLE file = Reopen(path, checked, GENERIC_READ, FILE_SHARE_READ);
        if (file == INVALID_HANDLE_VALUE)
            return 1;
        CloseFile(file);
        return 0;
    }
    SetReadOnly(path, checked, 0);
    if (TestWritable(path, checked) == NOT_WRITABLE)
        return 1; // the attribute could not be cleared; there is nothing to restore
    int inUse = CannotOpen(path, checked);
    SetReadOnly(path, checked, 1);
    return inUse;
}

// The checked handle of an item: INVALID_HANDLE_VALUE with the open's error, or with
// ERROR_CALL_NOT_IMPLEMENTED where the system has none (95/98/Me). One that may not change
// the attributes still reads them.
static HANDLE OpenChecked(const char *path) {
    HANDLE checked =
        OpenByOwnName(path, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, ANY_SHARING, 0);
    if (checked == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED)
        checked = OpenByOwnName(path, FILE_READ_ATTRIBUTES, ANY_SHARING, 0);
    return checked;
}

int IsFileInUse(const char *path) {
    HANDLE checked = OpenChecked(path);
    DWORD error = GetLastError();
    // Nothing there, or reached through a link and never touched: not in use. Anything that
    // cannot even be looked at is.
    if (checked == INVALID_HANDLE_VALUE && error != ERROR_CALL_NOT_IMPLEMENTED)
        return !(error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
                 error == REACHED_THROUGH_LINK);
    int inUse = InUse(path, checked);
    if (checked != INVALID_HANDLE_VALUE)
        CloseHandle(checked);
    return inUse;
}

static int IsFolder(const char *path) {
    DWORD attributes = SysGetAttributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// 1 with the work path naming the first file in use. The uninstaller's own file is held by
// this run and is the self-removal's to take, and a folder is never a file in use: neither
// may keep the run waiting, or stop a silent one, for ever.
int AnyFileInUse() {
    for (DWORD i = 0; i < fileEntryCount; i++) {
        const FileEntry *entry = fileEntries[i];
        if (!(entry->flags & FILE_CHECKINUSE) || (entry->form & FORM_FOLDER_NAME) ||
            !BuildEntryPath(entry) || !entry->name[0] || PathsEqual(workPath, modulePath))
            continue;
        if (IsFileInUse(workPath) && !IsFolder(workPath))
            return 1;
    }
    return 0;
}

// Some installers store the count as text; it is read as a decimal number. 0 when the
// text holds anything but digits, or a number too large for the count.
static int ParseCount(const char *text, DWORD *count) {
    DWORD value = 0;
    if (!*text)
        return 0;
    for (; *text; text++) {
        DWORD digit = (DWORD)(*text - '0');
        if (digit > 9 || value > (0xFFFFFFFF - digit) / 10)
            return 0;
        value = value * 10 + digit;
    }
    *count = value;
    return 1;
}

static DWORD FormatCount(DWORD count, char *text) {
    char digits[COUNT_TEXT_SIZE];
    DWORD n = 0;
    do {
        digits[n++] = (char)('0' + count % 10);
        count /= 10;
    } while (count);
    for (DWORD i = 0; i < n; i++)
        text[i] = digits[n - 1 - i];
    text[n] = 0;
    return n + 1;
}

// What reading a count gives.
#define COUNT_READ 1
#define COUNT_UNREADABLE 0 // there, but no count: too long, or text that is no number
#define COUNT_ABSENT -1

// The count starts as 1 and takes the stored bytes over its low end: a binary value of
// fewer than 4 bytes, or an empty one, keeps the rest of the preset.
static int ReadCount(HKEY key, const char *name, DWORD *type, DWORD *size, DWORD *count) {
    BYTE data[COUNT_TEXT_SIZE + 1]; // one byte to terminate a text
    FillBytes(data, 0, sizeof data);
    data[0] = 1;
    *type = 0;
    *size = COUNT_TEXT_SIZE;
    LONG result = SysRegQueryValue(key, name, type, data, size);
    if (result == ERROR_FILE_NOT_FOUND)
        return COUNT_ABSENT;
    if (result != ERROR_SUCCESS)
        return COUNT_UNREADABLE;
    if (*type == REG_SZ)
        return ParseCount((const char *)data, count);
    if (*size > sizeof *count)
        return COUNT_UNREADABLE;
    CopyBytes(count, data, sizeof *count);
    return COUNT_READ;
}

// A shared file's count is named by its path as the block spells it, as the installer
// wrote it; only when that name has no count is the path's full form asked. *name receives
// the name that was read, and the only one that is ever written.
static int ReadSharedCount(const FileEntry *entry, HKEY key, const char **name, DWORD *type,
                           DWORD *size, DWORD *count) {
    *name = entry->spelled ? entry->spelled : workPath;
    int read = ReadCount(key, *name, type, size, count);
    if (read == COUNT_ABSENT && entry->spelled) {
        *name = workPath;
        read = ReadCount(key, *name, type, size, count);
    }
    return read == COUNT_READ;
}

// Written back with the type and size that were read, a text count as decimal text.
static void WriteCount(HKEY key, const char *name, DWORD type, DWORD size, DWORD count) {
    if (type == REG_SZ) {
        char text[COUNT_TEXT_SIZE];
        DWORD length = FormatCount(count, text);
        SysRegSetValue(key, name, REG_SZ, (const BYTE *)text, length);
    } else {
        SysRegSetValue(key, name, type, (const BYTE *)&count, size);
    }
}

// The shared-file question; an empty message text, or no memory to format it, counts as
// Yes, in every mode: the author asked for no question. A silent run answers a question No:
// removing a file another program may still need is the worse mistake; unless the block's
// options say that silent runs remove such files. asked tells whether the user was asked.
static int ConfirmSharedRemoval(int *asked) {
    *asked = 0;
    char *question = 0;
    if (!AllocateZeroed((void **)&question, TEXT_SIZE))
        return 1;
    FormatMessageText(question, MSG_SHARED, workPath);
    int yes = 1;
    if (question[0] && silentMode)
        yes = (GetOptionFlags() & OPTION_SILENT_SHARED) != 0;
    else if (question[0])
        yes = ShowMessage(question, MB_YESNO | MB_ICONQUESTION) == IDYES, *asked = 1;
    ReleaseMemory((void **)&question);
    return yes;
}

// The SharedDLLs key stays open from one shared file to the next while the phase runs its
// own code only; it is closed after the shared-file question, before anything else runs in
// this process (a COM server's unregistration), before the read-only query, and at the end
// of the phase. A key that does not open is tried again at the next shared file.
static HKEY heldSharedKey;

static int OpenSharedKey(HKEY *key) {
    if (!heldSharedKey && SysRegOpenKey(HKEY_LOCAL_MACHINE, sharedKey, KEY_ALL_ACCESS,
                                        &heldSharedKey) != ERROR_SUCCESS)
        heldSharedKey = 0;
    *key = heldSharedKey;
    return heldSharedKey != 0;
}

static void CloseSharedKey() {
    if (heldSharedKey)
        RegCloseKey(heldSharedKey);
    heldSharedKey = 0;
}

// Each file entry's count as phase 1 found it before its first count was written, when the
// journal already holds the line for lowering it; NOT_PLANNED otherwise. Null without memory.
#define NOT_PLANNED 0xFFFFFFFF
static DWORD *plannedCounts;

// Before any count is written, the journal gets a line for every count the phase will
// lower, all in one write and one flush. A line for a count that then stays as it was (its
// file is in use) names a value the count does not have: a later run ignores it.
static void PlanSharedReleases() {
    if (dryRun || !AllocateMemory((void **)&plannedCounts, fileEntryCount * sizeof(DWORD)))
        return; // a dry run writes no journal

    FillBytes(plannedCounts, 0xFF, fileEntryCount * sizeof(DWORD));
    // In the order of the phase: from the last entry to the first.
    for (DWORD i = fileEntryCount; i-- > 0;) {
        const FileEntry *entry = fileEntries[i];
        HKEY key;
        const char *name;
        DWORD type, size, count;
        if (!(entry->flags & FILE_SHARED) || (entry->form & FORM_FOLDER_NAME) ||
            !BuildEntryPath(entry) || !entry->name[0] || !OpenSharedKey(&key) ||
            !ReadSharedCount(entry, key, &name, &type, &size, &count) || count == 0 ||
            WasReleased(name, count))
            continue;
        if (!PlanRelease(name, count - 1))
            break; // the rest are recorded one by one, each before its count
        plannedCounts[i] = count;
    }
    if (!WriteReleases())
        FillBytes(plannedCounts, 0xFF, fileEntryCount * sizeof(DWORD));
}

// Returns why the file stays, or KEEP_NONE when it may be removed; *now receives the count
// as it was written back. A count still above 0 keeps the file; at 0 the user is asked,
// and on Yes the value goes. A count this uninstaller lowered before, in a run that was
// interrupted or left something, is not lowered again; nor is one it cannot first record
// as lowered.
static int ReleaseSharedFile(DWORD index, const FileEntry *entry, int inUse, DWORD *now) {
    int keep = inUse ? KEEP_IN_USE : KEEP_NONE;
    HKEY key;
    int opened = OpenSharedKey(&key);
    const char *name = workPath;
    DWORD type, size, count = 1;
    if (opened && ReadSharedCount(entry, key, &name, &type, &size, &count)) {
        DWORD lowered = count ? count - 1 : 0;
        // A file in use stays on disk: a count that reached 0 is left as it was stored.
        int write = count > 0 && (lowered > 0 || !inUse);
        int planned = plannedCounts && plannedCounts[index] == count;
        if (write && !planned &&
            (WasReleased(name, count) || (!dryRun && !RecordRelease(name, lowered))))
            lowered = count, write = 0;
        if (write && dryRun && LogStart("would lower the shared count ")) {
            LogNumber(count);
            LogText(" \xE2\x86\x92 "); // an arrow
            LogNumber(lowered);
            LogText(": ");
            LogText(name);
            LogFinish();
        } else if (write) {
            WriteCount(key, name, type, size, lowered);
        }
        count = lowered;
        if (count > 0)
            keep = KEEP_COUNT;
    }
    *now = count;
    int asked = 0;
    if (keep == KEEP_NONE && !ConfirmSharedRemoval(&asked))
        keep = KEEP_ANSWER;
    if (keep == KEEP_NONE && opened && !dryRun)
        SysRegDeleteValue(key, name);
    if (asked)
        CloseSharedKey(); // the user may have taken any time; the next file opens it anew
    return keep;
}

// The server's own code runs in this process, on this thread. Loaded from its folder, so
// that it finds the DLLs it brought along also when the default search is limited, and its
// unregistration may load more from there by their bare names. That takes a full path, so a
// relative one is first resolved against the current directory, where its deletion will
// look for it. A full path that does not fit is not loaded.
//
// The search takes the server's folder only where no account but an administrator's may put
// a file there (the NT family); a run with an administrator's rights loads no server from a
// folder others may write at all, since its DLLs could be anyone's.
//
// The file is held, with no writing or deleting allowed, while it is loaded by the path that
// its check proved. A link that the entry names is not loaded: loading would follow it.
static void UnregisterComServer(const char *path) {
    typedef HRESULT(WINAPI * UnregisterProc)();
    char fullPath[PATH_SIZE];
    DWORD length = SysGetFullPath(path, fullPath, PATH_SIZE);
    HANDLE held = INVALID_HANDLE_VALUE;
    HMODULE library = 0;
    const char *outcome = "COM server not loaded";
    char *last = length && length < PATH_SIZE ? FindLastBackslash(fullPath) : 0;
    int beside = 1; // the server's folder may be searched
    if (last && CanCheckNames()) {
        *last = 0;
        beside = FolderHeldByAdministrators(fullPath);
        *last = '\\';
        if (!beside && RunsAsAdministrator()) {
            outcome = "COM server not loaded, its folder others may write";
            last = 0;
        }
    }
    if (last) {
        held = OpenByOwnName(fullPath, GENERIC_READ, FILE_SHARE_READ, 0);
        if (held == INVALID_HANDLE_VALUE
                ? GetLastError() == ERROR_CALL_NOT_IMPLEMENTED
                : !(GetHandleAttributes(held) & FILE_ATTRIBUTE_REPARSE_POINT))
            library = beside ? LoadLibraryBeside(fullPath) : SysLoadLibrary(fullPath, 0);
    }
    if ((DWORD_PTR)library >= 32) {
        UnregisterProc unregister =
            (UnregisterProc)(void (*)())GetProcAddress(library, unregisterExport);
        outcome = "COM server has no unregistration";
        if (unregister) {
            *last = 0;
            void *widened = beside ? WidenDllSearch(fullPath) : 0;
            unregister();
            NarrowDllSearch(widened);
            *last = '\\';
            outcome = "COM server unregistered";
        }
        FreeLibrary(library);
    }
    if (held != INVALID_HANDLE_VALUE)
        CloseHandle(held);
    ReportItem(ITEM_NOTED, outcome, path);
}

// Through the file's handle when it has one open for deletion, else through one opened again
// by its checked handle, else by its own name.
static DWORD DeleteOnce(const char *path, HANDLE file, HANDLE checked) {
    int done;
    if (dryRun) {
        done = WouldDelete(path);
    } else if (file != INVALID_HANDLE_VALUE) {
        done = DeleteThroughHandle(file);
    } else if (checked != INVALID_HANDLE_VALUE) {
        HANDLE deleter = Reopen(path, checked, DELETE, ANY_SHARING);
        done = deleter != INVALID_HANDLE_VALUE && DeleteThroughHandle(deleter);
        DWORD error = GetLastError();
        if (deleter != INVALID_HANDLE_VALUE)
            CloseHandle(deleter);
        SetLastError(error);
    } else {
        done = DeleteByOwnName(path, 0);
    }
    return done ? 0 : GetLastError();
}

// Returns 0 when the last deletion succeeded, READ_ONLY_KEPT when an answer of No kept a
// read-only file, and otherwise the error of the last deletion.
static DWORD DeleteEntryFile(const char *path, BYTE flags, HANDLE file, HANDLE checked) {
    DWORD error = DeleteOnce(path, file, checked);
    while (error) {
        if (!IsAccessDenied(error))
            return error; // for instance, the file is already gone
        if (TestWritable(path, checked) != NOT_WRITABLE)
            return error; // not the attribute: held open elsewhere, or gone
        if (flags & (FILE_FONT | FILE_COMSERVER)) {
            // A font or COM server left behind would be unregistered but still present.
            SetReadOnly(path, checked, 0);
            return DeleteOnce(path, file, checked);
        }
        if (readOnlyAnswer == 0)
            return READ_ONLY_KEPT;
        if (readOnlyAnswer == 1) {
            SetReadOnly(path, checked, 0);
            return DeleteOnce(path, file, checked);
        }
        CloseSharedKey();
        int answer = AskReadOnly(path);
        if (answer == IDC_YESTOALL) {
            readOnlyAnswer = 1;
            SetReadOnly(path, checked, 0);
            return DeleteOnce(path, file, checked);
        }
        if (answer == IDC_NOTOALL)
            readOnlyAnswer = 0;
        if (answer != IDYES)
            return READ_ONLY_KEPT;
        // Yes: a file that is still read-only after this is asked about again.
        SetReadOnly(path, checked, 0);
        error = DeleteOnce(path, file, checked);
    }
    return 0;
}

// The item moved for the restart through a handle opened again by its checked one, or by one
// of its own.
static int ScheduleEntry(HANDLE file, HANDLE checked) {
    HANDLE mover = file;
    if (mover == INVALID_HANDLE_VALUE && checked != INVALID_HANDLE_VALUE)
        mover = Reopen(workPath, checked, DELETE | FILE_READ_ATTRIBUTES, ANY_SHARING);
    int done = ScheduleAtRestart(workPath, mover, 0);
    if (mover != file && mover != INVALID_HANDLE_VALUE)
        CloseHandle(mover);
    return done;
}

static void RemoveNamedFile(DWORD index, const FileEntry *entry, HANDLE file, HANDLE checked) {
    int inUse = file == INVALID_HANDLE_VALUE && InUse(workPath, checked);
    int keep = inUse ? KEEP_IN_USE : KEEP_NONE;
    DWORD count = 0;
    if (entry->flags & FILE_SHARED)
        keep = ReleaseSharedFile(index, entry, inUse, &count);
    // A shared file may be missing already; its count still went down. Only a kept file is
    // looked at here: a file that goes is judged after its deletion.
    int there = (keep == KEEP_COUNT || keep == KEEP_ANSWER) && PathExists(workPath);
    if (keep == KEEP_COUNT) {
        ReportItemCode(there ? ITEM_KEPT : ITEM_NOTED,
                       there ? "file kept, shared count now" : "file not found, shared count now",
                       count, workPath);
        return;
    }
    if (keep == KEEP_ANSWER) {
        ReportItem(there ? ITEM_KEPT : ITEM_NOTED,
                   !there       ? "file not found"
                   : silentMode ? "file kept, shared, silent No"
                                : "file kept, answered No",
                   workPath);
        return;
    }
    if (keep == KEEP_IN_USE) {
        // The uninstaller's own file is the self-removal's to take.
        if (!bareMode && PathsEqual(workPath, modulePath))
            ReportItem(ITEM_NOTED, "file left to the self-removal", workPath);
        else if (!(entry->flags & FILE_SHARED) && ScheduleEntry(file, checked))
            ;
        else
            ReportItem(ITEM_LEFT, "file kept, in use", workPath);
        return;
    }
    if (entry->flags & FILE_FONT) {
        if (!dryRun)
            UnregisterFont(workPath);
        ReportItem(ITEM_NOTED, "font unregistered", workPath);
    }
    if ((entry->flags & FILE_COMSERVER) && dryRun) {
        ReportItem(ITEM_NOTED, "would unregister the COM server", workPath);
    } else if (entry->flags & FILE_COMSERVER) {
        CloseSharedKey();
        UnregisterComServer(workPath);
    }
    DWORD error = DeleteEntryFile(workPath, entry->flags, file, checked);
    if (error != ERROR_SHARING_VIOLATION || !ScheduleEntry(file, checked))
        RecordFileOutcome(workPath, error);
}

// A folder named by a file entry goes only when empty, and never when protected. A folder
// that goes may have been protected under another name: the folders are looked up anew.
static void RemoveNamedFolder() {
    if (IsProtectedFolder(workPath))
        ReportItem(ITEM_NOTED, "folder protected", workPath);
    else if (RemoveAndRecordFolder(workPath, 0))
        HoldProtectedFolders();
}

// A file entry that names a folder is never removed as a file, nor is it the folder entry
// an empty name makes: the folder stays, and counts as left. A name spelled as a folder's
// that names nothing is a file not found.
static void KeepNamedFolder(const FileEntry *entry) {
    const char *named = entry->spelled ? entry->spelled : workPath;
    if (PathExists(named))
        ReportItem(ITEM_LEFT, "file entry names a folder, kept", named);
    else
        ReportItem(ITEM_NOTED, "file not found", named);
}

static void RemoveEntry(DWORD index, const FileEntry *entry) {
    if (entry->form & FORM_FOLDER_NAME) {
        KeepNamedFolder(entry);
        return;
    }
    if (!entry->name[0]) {
        RemoveNamedFolder();
        return;
    }
    // Where the system allows, one handle serves the in-use test, the check of the name and
    // the deletion: it opens as the in-use test opens, and for deletion. Where it does not
    // open (a read-only file, one held elsewhere), the in-use test runs by itself and the
    // deletion opens the file again; the name is still checked first, by a handle that only
    // reads attributes. So is the name of a shared file, a font or a COM server: a handle for
    // writing would bar others while the shared-file question waits for the user, a font's
    // name is read or a COM server loaded. A path that leads through a link is no file of the
    // application: nothing is counted, asked, run or made writable for it.
    HANDLE file = INVALID_HANDLE_VALUE, checked = INVALID_HANDLE_VALUE;
    DWORD error = 0;
    if (!(entry->flags & (FILE_SHARED | FILE_FONT | FILE_COMSERVER))) {
        file = OpenByOwnName(workPath, GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, 0);
        error = file == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    }
    if (file == INVALID_HANDLE_VALUE && error != ERROR_CALL_NOT_IMPLEMENTED &&
        error != REACHED_THROUGH_LINK) {
        checked = OpenChecked(workPath);
        error = checked == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    }
    if (error == REACHED_THROUGH_LINK) {
        RecordFileOutcome(workPath, REACHED_THROUGH_LINK);
        return;
    }
    // A name that turns out to be a folder's is kept, never judged as a file in use. Only a
    // path that did not open as a file is asked.
    if (file == INVALID_HANDLE_VALUE && IsFolder(workPath))
        KeepNamedFolder(entry);
    else
        RemoveNamedFile(index, entry, file, checked);
    // A file marked for deletion goes now, with its last handle.
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    if (checked != INVALID_HANDLE_VALUE)
        CloseHandle(checked);
}

// The last entry goes first, so that a folder listed before its files is tried after them.
void RemoveFiles() {
    HoldProtectedFolders();
    AllowRestartRemoval();
    ReadJournal();
    PlanSharedReleases();
    for (DWORD k = 0; k < fileEntryCount; k++) {
        // An entry whose path does not fit is passed over; its step still counts, and what
        // it names counts as left.
        DWORD index = fileEntryCount - 1 - k;
        const FileEntry *entry = fileEntries[index];
        if (BuildEntryPath(entry)) {
            RemoveEntry(index, entry);
        } else {
            itemCounts[ITEM_LEFT]++;
            if (LogStart("entry skipped, path too long: ")) {
                LogText(entry->folder);
                LogText("|");
                LogText(entry->name);
                LogFinish();
            }
        }
        if (progressTotal)
            SetProgress(k * 100 / progressTotal);
    }
    CloseSharedKey();
    CloseJournal();
    ReleaseMemory((void **)&plannedCounts);
    ReleaseProtectedFolders();
}
