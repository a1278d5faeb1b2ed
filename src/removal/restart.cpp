// Items in use at their removal go at the next restart when the block's options allow it:
// on the NT family by the system's pending operations (administrator rights needed; without
// them the item stays as before), on 95/98/Me by the [rename] section of WININIT.INI, which
// deletes files only. The paths scheduled are kept for the run, so that a folder holding
// nothing else can follow them.
//
// A name left for the restart is resolved again, as LocalSystem, when the system next
// starts. A run with an administrator's rights therefore leaves no name that an account
// without them could change before then: it moves the item, through the handle that proved
// it, into a folder made for this run at the root of the item's volume that only
// administrators can write, and leaves the name it has there. An item that cannot be moved
// (its holder denies deleting, another volume) is left under its own name only when nothing
// on its path can be replaced by an account that is no administrator, and otherwise stays. A
// run without those rights leaves names as they are: nobody gains a right by them.
#include "removal.h"
#include "../data/data.h"

#define PENDING_TRIES 8 // random names tried for the folder, and for each item in it
#define PENDING_ACCESS                                                                             \
    (FILE_LIST_DIRECTORY | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_TRAVERSE |                 \
     FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | READ_CONTROL | DELETE | SYNCHRONIZE)

static char *scheduled; // the paths scheduled, one after another, each terminated
static DWORD scheduledUsed, scheduledRoom;
static int allowed; // the block's options allow it; read as phase 1 starts, kept for the run

// The folder items wait in for the restart: made new by this run, held open so that nobody
// can rename or remove it while the run moves items into it.
static struct {
    HANDLE handle; // null while there is none
    DWORD moved;   // items moved into it
    char *root;    // the volume root it is on, then its own path: PATH_SIZE bytes each
    char *path;
} pendingFolder;

void AllowRestartRemoval() {
    allowed = (GetOptionFlags() & OPTION_RESTART_DELETE) != 0;
}

static void Remember(const char *path) {
    DWORD n = TextLength(path) + 1;
    if (scheduledUsed + n > scheduledRoom) {
        DWORD room = scheduledRoom * 2 + 4 * PATH_SIZE;
        if (!(scheduled ? ResizeMemory((void **)&scheduled, room)
                        : AllocateMemory((void **)&scheduled, room)))
            return; // the folder above it then stays, as without the option
        scheduledRoom = room;
    }
    CopyBytes(scheduled + scheduledUsed, path, n);
    scheduledUsed += n;
}

int IsScheduledAtRestart(const char *path) {
    for (DWORD i = 0; i < scheduledUsed; i += TextLength(scheduled + i) + 1)
        if (PathsEqual(scheduled + i, path))
            return 1;
    return 0;
}

// A "NUL=" line by the short name, which the start-up program of 95/98/Me reads.
static int ScheduleInInitFile(const char *path) {
    char shortPath[PATH_SIZE], initFile[PATH_SIZE], line[PATH_SIZE + 4] = "NUL=";
    DWORD n = SysGetPathForm(path, shortPath, PATH_SIZE, 0);
    DWORD w = SysGetFolder(FOLDER_WINDOWS, initFile, PATH_SIZE);
    return n && n < PATH_SIZE && w && w < PATH_SIZE && AddBackslash(initFile, PATH_SIZE) &&
           AppendText(initFile, PATH_SIZE, "WININIT.INI") &&
           AppendText(line, sizeof line, shortPath) && SysAddProfileLine(initFile, "rename", line);
}

static int AppendRandomName(char *path, const char *prefix) {
    char name[16];
    wsprintfA(name, "%s%08lX", prefix, RandomNumber());
    return AppendText(path, PATH_SIZE, name);
}

// A folder no other process made: created under a random name with a descriptor that lets
// only administrators in, then opened as itself and checked, hidden like the system's own.
static int MakePendingFolder(const char *root) {
    BYTE security[128];
    if (!AdministratorsOnlySecurity(security, sizeof security) ||
        (!pendingFolder.root && !AllocateMemory((void **)&pendingFolder.root, 2 * PATH_SIZE)))
        return 0;
    pendingFolder.path = pendingFolder.root + PATH_SIZE;
    for (DWORD i = 0; i < PENDING_TRIES; i++) {
        if (!CopyText(pendingFolder.path, PATH_SIZE, root) ||
            !AppendRandomName(pendingFolder.path, "Vanish."))
            return 0;
        if (!SysCreateFolder(pendingFolder.path, security)) {
            if (GetLastError() == ERROR_ALREADY_EXISTS)
                continue;
            return 0;
        }
        HANDLE folder =
            SysCreateFile(pendingFolder.path, PENDING_ACCESS, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
        if (folder == INVALID_HANDLE_VALUE)
            return 0;
        DWORD attributes = GetHandleAttributes(folder);
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
            (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
            NonAdministratorsMay(folder, RIGHTS_TO_REPLACE | RIGHTS_TO_ADD)) {
            CloseHandle(folder);
            return 0;
        }
        SetHandleAttributes(folder, attributes | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
        pendingFolder.handle = folder;
        pendingFolder.moved = 0;
        CopyText(pendingFolder.root, PATH_SIZE, root);
        return 1;
    }
    return 0;
}

// The folder of this run ends with the items in it: scheduled after them, so that it is empty
// when its turn comes; one nothing was moved into goes now.
void FinishRestartRemoval() {
    if (!pendingFolder.handle)
        return;
    if (pendingFolder.moved)
        SysDeleteAtRestart(pendingFolder.path);
    else
        DeleteThroughHandle(pendingFolder.handle);
    CloseHandle(pendingFolder.handle);
    pendingFolder.handle = 0;
}

int MoveToPendingFolder(HANDLE item, const char *path, char *moved) {
    char root[PATH_SIZE];
    if (!CanCheckNames() || !RunsAsAdministrator() || !SysGetVolumeRoot(path, root))
        return 0;
    if (pendingFolder.handle && !PathsEqual(pendingFolder.root, root))
        FinishRestartRemoval(); // another volume: a folder there
    if (!pendingFolder.handle && !MakePendingFolder(root))
        return 0;
    for (DWORD i = 0; i < PENDING_TRIES; i++) {
        char *name = moved + TextLength(pendingFolder.path) + 1;
        if (!CopyText(moved, PATH_SIZE, pendingFolder.path) || !AddBackslash(moved, PATH_SIZE) ||
            !AppendRandomName(moved, ""))
            return 0;
        if (MoveThroughHandle(item, pendingFolder.handle, name)) {
            pendingFolder.moved++;
            return 1;
        }
        DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)
            return 0;
    }
    return 0;
}

// The item moved away through a handle of its own, opened as itself, or through the one the
// caller has open with DELETE.
static int ScheduleMoved(const char *path, HANDLE item) {
    char moved[PATH_SIZE];
    HANDLE own = INVALID_HANDLE_VALUE;
    if (item == INVALID_HANDLE_VALUE)
        item = own =
            OpenByOwnName(path, DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE, ANY_SHARING, 0);
    int done = item != INVALID_HANDLE_VALUE && MoveToPendingFolder(item, path, moved);
    if (own != INVALID_HANDLE_VALUE)
        CloseHandle(own);
    if (done && !SysDeleteAtRestart(moved)) {
        ReportItemCode(ITEM_LEFT, "file moved for the restart but not scheduled, error",
                       GetLastError(), moved);
        return -1;
    }
    return done;
}

// What a dry run can tell of a restart-pending removal without making one: with an
// administrator's rights, an item this run could move (it opens for deleting), or one whose
// name no account but an administrator's can change, would go; without them, none.
static int WouldSchedule(const char *path, HANDLE item, int folder) {
    if (!isNT)
        return 1; // WININIT.INI takes any file
    if (!RunsAsAdministrator())
        return 0; // the pending operations need an administrator's rights
    HANDLE mover = item != INVALID_HANDLE_VALUE || folder
                       ? INVALID_HANDLE_VALUE
                       : OpenByOwnName(path, DELETE | FILE_READ_ATTRIBUTES, ANY_SHARING, 0);
    int movable = item != INVALID_HANDLE_VALUE || mover != INVALID_HANDLE_VALUE;
    if (mover != INVALID_HANDLE_VALUE)
        CloseHandle(mover);
    if (movable || PathHeldByAdministrators(path))
        return 1;
    ReportItem(ITEM_NOTED, "not left for the restart, a name others could change", path);
    return 0;
}

int ScheduleAtRestart(const char *path, HANDLE item, int folder) {
    if (!allowed || (folder && !isNT))
        return 0;
    int done;
    if (dryRun) {
        done = WouldSchedule(path, item, folder);
    } else if (!isNT) {
        done = ScheduleInInitFile(path);
    } else if (!RunsAsAdministrator()) {
        done = SysDeleteAtRestart(path);
    } else {
        done = folder ? 0 : ScheduleMoved(path, item);
        if (done < 0)
            return 1; // counted as left
        if (!done && PathHeldByAdministrators(path))
            done = SysDeleteAtRestart(path);
        if (!done)
            ReportItem(ITEM_NOTED, "not left for the restart, a name others could change", path);
    }
    if (!done)
        return 0;
    Remember(path);
    ReportItem(ITEM_AT_RESTART, folder ? "folder goes at restart" : "file goes at restart", path);
    return 1;
}

// A folder that still stands goes at restart when all it holds goes then too, or is the
// uninstaller's own file that the self-removal takes.
int ScheduleFolderAtRestart(const char *path) {
    char pattern[PATH_SIZE], child[PATH_SIZE], name[PATH_SIZE], shortName[SHORT_NAME_SIZE];
    if (IsScheduledAtRestart(path))
        return 1; // one phase has tried it before another
    if (!scheduledUsed || !CopyText(pattern, PATH_SIZE, path) ||
        !AddBackslash(pattern, PATH_SIZE) || !AppendText(pattern, PATH_SIZE, "*"))
        return 0;
    HANDLE search = SysFindFirst(pattern, name, shortName);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    int only = 1;
    do {
        if (IsDotName(name))
            continue;
        only = CopyText(child, PATH_SIZE, path) && AddBackslash(child, PATH_SIZE) &&
               AppendText(child, PATH_SIZE, name) &&
               (IsScheduledAtRestart(child) || (!bareMode && PathsEqual(child, modulePath)));
    } while (only && SysFindNext(search, name, shortName));
    FindClose(search);
    return only && ScheduleAtRestart(path, INVALID_HANDLE_VALUE, 1);
}
