// Protected folders: drive roots, the Windows and System folders, the shell's folders and
// the Program Files folders, which no removal may touch whatever the uninstall data asks.
#include "removal.h"
#include <shlobj.h>

#define FROM_WINDOWS_DIRECTORY -1
#define FROM_SYSTEM_DIRECTORY -2

struct ProtectedRow {
    int source;      // a shell folder identifier, or one of the two FROM_ values
    int ntOnly;      // the all-users folders exist on the NT family only
    int quickLaunch; // the Quick Launch folder below this one is protected as well
};

// In the order of testing; the numbers are the shell's folder identifiers.
static const ProtectedRow protectedRows[] = {
    {FROM_WINDOWS_DIRECTORY, 0, 0},
    {FROM_SYSTEM_DIRECTORY, 0, 0},
    {0x00, 0, 0}, // desktop
    {0x10, 0, 0}, // desktop folder
    {0x19, 1, 0}, // all users' desktop folder
    {0x14, 0, 0}, // fonts
    {0x02, 0, 0}, // programs
    {0x17, 1, 0}, // all users' programs
    {0x0B, 0, 0}, // start menu
    {0x16, 1, 0}, // all users' start menu
    {0x07, 0, 0}, // startup
    {0x18, 1, 0}, // all users' startup
    {0x1A, 0, 1}, // application data
    {0x23, 0, 1}, // all users' application data, on every system
    // The other folders the shell owns: an installer may name them, damaged data may name
    // them, and an empty one must not go with an application's folder.
    {0x05, 0, 0}, // My Documents
    {0x06, 0, 0}, // favorites
    {0x08, 0, 0}, // recent documents
    {0x09, 0, 0}, // send to
    {0x0D, 0, 0}, // My Music
    {0x0E, 0, 0}, // My Videos
    {0x13, 0, 0}, // network neighbourhood shortcuts
    {0x15, 0, 0}, // templates
    {0x1B, 0, 0}, // printer shortcuts
    {0x1C, 0, 0}, // local application data
    {0x20, 0, 0}, // internet cache
    {0x21, 0, 0}, // cookies
    {0x22, 0, 0}, // history
    {0x24, 0, 0}, // the Windows folder, as the shell names it
    {0x25, 0, 0}, // the System folder, as the shell names it
    {0x26, 0, 0}, // program files
    {0x27, 0, 0}, // My Pictures
    {0x28, 0, 0}, // the user's profile
    {0x29, 0, 0}, // the System folder of 32-bit programs
    {0x2A, 0, 0}, // program files of 32-bit programs
    {0x2B, 0, 0}, // common files
    {0x2C, 0, 0}, // common files of 32-bit programs
    {0x30, 0, 0}, // administrative tools
    {0x1F, 1, 0}, // all users' favorites
    {0x2D, 1, 0}, // all users' templates
    {0x2E, 1, 0}, // all users' documents
    {0x2F, 1, 0}, // all users' administrative tools
};

static const char quickLaunchFolder[] = "Microsoft\\Internet Explorer\\Quick Launch";
static const char versionKey[] = "Software\\Microsoft\\Windows\\CurrentVersion";
static const char *const registryFolders[] = {"ProgramFilesDir", "CommonFilesDir"};

int GetSpecialFolderPath(char *buffer, int identifier) {
    LPITEMIDLIST list = 0;
    if (SHGetSpecialFolderLocation(0, identifier, &list) != S_OK || !list)
        return 0;
    int found = SysShellPath(list, buffer);
    IMalloc *allocator = 0;
    if (SHGetMalloc(&allocator) == S_OK && allocator) {
        allocator->Free(list);
        allocator->Release();
    }
    return found;
}

// Fills folder with the row's folder; 0 when the system could not say.
static int GetRowFolder(const ProtectedRow *row, char *folder) {
    DWORD length;
    if (row->source == FROM_WINDOWS_DIRECTORY)
        length = SysGetFolder(FOLDER_WINDOWS, folder, PATH_SIZE);
    else if (row->source == FROM_SYSTEM_DIRECTORY)
        length = SysGetFolder(FOLDER_SYSTEM, folder, PATH_SIZE);
    else
        return GetSpecialFolderPath(folder, row->source);
    return length != 0 && length < PATH_SIZE; // a longer answer left the buffer unfilled
}

// Each protected folder, in the order of testing, is handed to a visitor; a visitor that
// answers 1 ends the visit. A folder whose lookup fails is not visited.
typedef int (*FolderVisitor)(const char *folder, void *context);

static int VisitShellAndSystemFolders(FolderVisitor visit, void *context) {
    char folder[PATH_SIZE];
    for (DWORD i = 0; i < sizeof protectedRows / sizeof protectedRows[0]; i++) {
        const ProtectedRow *row = &protectedRows[i];
        if (row->ntOnly && !isNT)
            continue;
        if (!GetRowFolder(row, folder))
            continue;
        RemoveBackslash(folder); // a drive root keeps its backslash
        if (visit(folder, context))
            return 1;
        // A Quick Launch path that does not fit is no match: a cut one could equal a
        // folder that may go.
        if (row->quickLaunch && AddBackslash(folder, PATH_SIZE) &&
            AppendText(folder, PATH_SIZE, quickLaunchFolder) && visit(folder, context))
            return 1;
    }
    return 0;
}

// The registry's folders are compared exactly as stored: a value written with a trailing
// backslash or with variables in it protects nothing.
static int VisitRegistryFolders(FolderVisitor visit, void *context) {
    HKEY key;
    if (SysRegOpenKey(HKEY_LOCAL_MACHINE, versionKey, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return 0;
    char folder[PATH_SIZE];
    int match = 0;
    for (DWORD i = 0; i < 2 && !match; i++) {
        DWORD type = 0;
        DWORD size = PATH_SIZE;
        // Text only, terminated by the layer; one longer than any path is no match.
        if (SysRegQueryValue(key, registryFolders[i], &type, (BYTE *)folder, &size) !=
                ERROR_SUCCESS ||
            (type != REG_SZ && type != REG_EXPAND_SZ))
            continue;
        match = visit(folder, context);
    }
    RegCloseKey(key);
    return match;
}

static int IsSamePath(const char *folder, void *path) {
    return PathsEqual(folder, (const char *)path);
}

// The held folders: every row that the system answered, the Quick Launch folders and the
// two registry values, as they were when the first test after HoldProtectedFolders looked
// them up. Each row gives at most two folders (itself and its Quick Launch folder).
#define HELD_FOLDER_LIMIT (2 * sizeof protectedRows / sizeof protectedRows[0] + 2)

static struct {
    int held;     // a phase holds the folders
    int filled;   // they have been looked up since
    int complete; // every folder found fitted the list
    DWORD count;
    char (*folders)[PATH_SIZE]; // allocated for the hold; without it, no hold
} heldFolders;

static int KeepFolder(const char *folder, void *) {
    if (heldFolders.count >= HELD_FOLDER_LIMIT ||
        !CopyText(heldFolders.folders[heldFolders.count], PATH_SIZE, folder)) {
        heldFolders.complete = 0;
        return 1; // the list cannot hold them all: the tests look them up instead
    }
    heldFolders.count++;
    return 0;
}

void HoldProtectedFolders() {
    heldFolders.filled = 0;
    heldFolders.held = heldFolders.folders ||
                       AllocateMemory((void **)&heldFolders.folders, HELD_FOLDER_LIMIT * PATH_SIZE);
}

void ReleaseProtectedFolders() {
    heldFolders.held = 0;
    heldFolders.filled = 0;
    ReleaseMemory((void **)&heldFolders.folders);
}

static int MatchesProtectedFolder(char *path) {
    if (heldFolders.held && !heldFolders.filled) {
        heldFolders.count = 0;
        heldFolders.complete = 1;
        if (!VisitShellAndSystemFolders(KeepFolder, 0))
            VisitRegistryFolders(KeepFolder, 0);
        heldFolders.filled = 1;
    }
    if (!heldFolders.held || !heldFolders.complete)
        return VisitShellAndSystemFolders(IsSamePath, path) ||
               VisitRegistryFolders(IsSamePath, path);
    for (DWORD i = 0; i < heldFolders.count; i++)
        if (PathsEqual(heldFolders.folders[i], path))
            return 1;
    return 0;
}

int IsProtectedFolder(char *path) {
    DWORD length = TextLength(path);
    if (length < 4) // the empty path, a bare drive and a drive root
        return 1;
    int hadBackslash = path[length - 1] == '\\';
    if (hadBackslash)
        RemoveBackslash(path);
    int result = MatchesProtectedFolder(path);
    if (hadBackslash)
        path[length - 1] = '\\'; // exactly as passed in, also when it ended in two
    return result;
}
