// Items in use at their removal go at the next restart when the block's options allow it:
// on the NT family by the system's pending operations (administrator rights needed; without
// them the item stays as before), on 95/98/Me by the [rename] section of WININIT.INI, which
// deletes files only. The paths scheduled are kept for the run, so that a folder holding
// nothing else can follow them.
#include "removal.h"
#include "../data/data.h"

static char *scheduled; // the paths scheduled, one after another, each terminated
static DWORD scheduledUsed, scheduledRoom;
static int allowed; // the block's options allow it; read as phase 1 starts, kept for the run

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

int ScheduleAtRestart(const char *path, int folder) {
    if (!allowed || (folder && !isNT) ||
        !(isNT ? SysDeleteAtRestart(path) : ScheduleInInitFile(path)))
        return 0;
    Remember(path);
    ReportItem(ITEM_AT_RESTART, folder ? "folder goes at restart" : "file goes at restart", path);
    return 1;
}

// A folder that still stands goes at restart when all it holds goes then too, or is the
// uninstaller's own file that the self-removal takes.
int ScheduleFolderAtRestart(const char *path) {
    char pattern[PATH_SIZE], child[PATH_SIZE], name[PATH_SIZE], shortName[SHORT_NAME_SIZE];
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
    return only && ScheduleAtRestart(path, 1);
}
