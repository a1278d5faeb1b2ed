// Protected folders: drive roots, the Windows and System folders, every folder the shell can
// name, the profiles and the Program Files folders, which no removal may touch whatever the
// uninstall data asks. A path is compared in its one canonical form and, on the NT family,
// also by the folder it opens (volume and file index), so that no other spelling reaches a
// protected folder: not a short name, not another drive letter mapped onto it.
#include "guards.h"
#include <shlobj.h>

struct ProtectedRow {
    signed char source; // a shell folder identifier, or one of the two FROM_ values
    BYTE quickLaunch;   // the Quick Launch folder below this one is protected as well
};

// In the order of testing; the numbers are the shell's folder identifiers. Every row is
// asked of the system whatever family it reports: a compatibility layer can make the NT
// family report 95/98/Me, and its all-users folders are there all the same. A folder the
// system cannot name is no match.
static const ProtectedRow protectedRows[] = {
    {FROM_WINDOWS_DIRECTORY, 0},
    {FROM_SYSTEM_DIRECTORY, 0},
    {0x00, 0}, // desktop
    {0x10, 0}, // desktop folder
    {0x19, 0}, // all users' desktop folder
    {0x14, 0}, // fonts
    {0x02, 0}, // programs
    {0x17, 0}, // all users' programs
    {0x0B, 0}, // start menu
    {0x16, 0}, // all users' start menu
    {0x07, 0}, // startup
    {0x18, 0}, // all users' startup
    {0x1A, 1}, // application data
    {0x23, 1}, // all users' application data
    // The other folders the shell owns: an installer may name them, damaged data may name
    // them, and an empty one must not go with an application's folder.
    {0x05, 0}, // My Documents
    {0x06, 0}, // favorites
    {0x08, 0}, // recent documents
    {0x09, 0}, // send to
    {0x0D, 0}, // My Music
    {0x0E, 0}, // My Videos
    {0x13, 0}, // network neighbourhood shortcuts
    {0x15, 0}, // templates
    {0x1B, 0}, // printer shortcuts
    {0x1C, 0}, // local application data
    {0x20, 0}, // internet cache
    {0x21, 0}, // cookies
    {0x22, 0}, // history
    {0x24, 0}, // the Windows folder, as the shell names it
    {0x25, 0}, // the System folder, as the shell names it
    {0x26, 0}, // program files
    {0x27, 0}, // My Pictures
    {0x28, 0}, // the user's profile
    {0x29, 0}, // the System folder of 32-bit programs
    {0x2A, 0}, // program files of 32-bit programs
    {0x2B, 0}, // common files
    {0x2C, 0}, // common files of 32-bit programs
    {0x30, 0}, // administrative tools
    {0x1F, 0}, // all users' favorites
    {0x2D, 0}, // all users' templates
    {0x2E, 0}, // all users' documents
    {0x2F, 0}, // all users' administrative tools
};

static const char quickLaunchFolder[] = "Microsoft\\Internet Explorer\\Quick Launch";
static const char versionKey[] = "Software\\Microsoft\\Windows\\CurrentVersion";
static const char *const registryFolders[] = {"ProgramFilesDir", "CommonFilesDir"};
static const char profileListKey[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
// The folder that holds the profiles, and the default and public profiles of Vista on. XP
// names the last two by a name below the first, which the profiles folder covers.
static const char *const profileFolders[] = {"ProfilesDirectory", "Default", "Public"};
// The known folder manager's first methods, as the system declares them for Vista on; the
// program's headers are those of older systems.
struct KnownFolderManager : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE FolderIdFromCsidl(int csidl, GUID *id) = 0;
    virtual HRESULT STDMETHODCALLTYPE FolderIdToCsidl(const GUID &id, int *csidl) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFolderIds(GUID **ids, UINT *count) = 0;
};
#define DONT_VERIFY 0x4000 // the folder's path, whether it exists or not
static const GUID knownFolderManager = {
    0x4df0c730, 0xdf9d, 0x4ae3, {0x91, 0x53, 0xaa, 0x6b, 0x82, 0xe9, 0x79, 0x5a}};
static const GUID knownFolderManagerInterface = {
    0x8be2d872, 0x86aa, 0x4d47, {0xb7, 0x76, 0x32, 0xcc, 0xa4, 0x0c, 0x70, 0x18}};

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

int GetSystemFolder(int source, char *folder) {
    DWORD length;
    if (source == FROM_WINDOWS_DIRECTORY)
        length = SysGetFolder(FOLDER_WINDOWS, folder, PATH_SIZE);
    else if (source == FROM_SYSTEM_DIRECTORY)
        length = SysGetFolder(FOLDER_SYSTEM, folder, PATH_SIZE);
    else
        return GetSpecialFolderPath(folder, source);
    return length != 0 && length < PATH_SIZE; // a longer answer left the buffer unfilled
}

// The folder a path opens, as the volume's serial number and the folder's file index; all
// zero when it cannot be told: on 95/98/Me, which open no folders, for a path that does not
// open, and on a volume that gives no file indexes.
static void GetIdentity(const char *path, DWORD *identity) {
    BY_HANDLE_FILE_INFORMATION information;
    identity[0] = identity[1] = identity[2] = 0;
    if (!isNT)
        return;
    HANDLE folder = SysCreateFile(path, FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    if (folder == INVALID_HANDLE_VALUE)
        return;
    if (GetFileInformationByHandle(folder, &information) &&
        (information.nFileIndexHigh | information.nFileIndexLow)) {
        identity[0] = information.dwVolumeSerialNumber;
        identity[1] = information.nFileIndexHigh;
        identity[2] = information.nFileIndexLow;
    }
    CloseHandle(folder);
}

struct ProtectedFolder {
    DWORD identity[3];    // see GetIdentity, taken at the first need
    int identified;       // identity holds it
    char path[PATH_SIZE]; // canonical, without a trailing backslash
};

// The protected folders as the first test after HoldProtectedFolders found them. Without a
// hold each test looks them up for itself.
static struct {
    int held;     // a phase holds the folders
    int filled;   // they have been looked up since
    int complete; // every folder found is in the list
    DWORD count;
    ProtectedFolder *folders; // LIST_LIMIT of them, while allocated
} protectedFolders;

// More than any system names: Windows 11 knows about 150 folders. One more is no match, and
// a list that misses a folder protects everything.
#define LIST_LIMIT 512

static void Keep(const char *folder) {
    if (protectedFolders.count == LIST_LIMIT) {
        protectedFolders.complete = 0;
        return;
    }
    ProtectedFolder *kept = &protectedFolders.folders[protectedFolders.count];
    // A Quick Launch path that does not fit is no match: a cut one could equal a folder that
    // may go.
    if (!folder[0] || !CopyText(kept->path, PATH_SIZE, folder) ||
        MakeCanonical(kept->path, !isNT) == PATH_REFUSED)
        return;
    RemoveBackslash(kept->path); // a drive root keeps its backslash
    kept->identified = 0;
    protectedFolders.count++;
}

// A folder from the registry: text only, %variables% expanded where it is stored so and the
// system can expand them.
static int ReadFolder(HKEY key, const char *name, char *folder) {
    DWORD type = 0, size = PATH_SIZE;
    if (SysRegQueryValue(key, name, &type, (BYTE *)folder, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return 0;
    typedef DWORD(WINAPI * Expand)(LPCWSTR, LPWSTR, DWORD);
    Expand expand =
        (Expand)(void (*)())FindSystemFunction("kernel32.dll", "ExpandEnvironmentStringsW");
    WCHAR stored[MAX_PATH], expanded[MAX_PATH];
    if (type == REG_EXPAND_SZ && expand && Utf8ToWide(folder, stored, MAX_PATH, 1)) {
        DWORD n = expand(stored, expanded, MAX_PATH);
        if (n && n <= MAX_PATH)
            WideToUtf8(expanded, folder, PATH_SIZE);
    }
    return 1;
}

#define ROW_COUNT (sizeof protectedRows / sizeof protectedRows[0])

// The Windows and System folders, and the shell's folders by their old identifiers; a row
// whose folder the shell has already given by its own identifier (covered) is not asked again.
static void KeepShellAndSystemFolders(const BYTE *covered) {
    char folder[PATH_SIZE];
    for (DWORD i = 0; i < ROW_COUNT; i++) {
        const ProtectedRow *row = &protectedRows[i];
        if (covered[i] || !GetSystemFolder(row->source, folder))
            continue;
        Keep(folder);
        if (row->quickLaunch && AddBackslash(folder, PATH_SIZE) &&
            AppendText(folder, PATH_SIZE, quickLaunchFolder))
            Keep(folder);
    }
}

static int SameGuid(const GUID &a, const GUID &b) {
    const BYTE *x = (const BYTE *)&a, *y = (const BYTE *)&b;
    for (DWORD i = 0; i < sizeof a; i++)
        if (x[i] != y[i])
            return 0;
    return 1;
}

// Every folder the shell knows by an identifier of its own (Vista on), wherever the shell has
// them: Downloads, Links, Saved Games, the public folders and those that programs register.
// A system that has the known folders but cannot list them leaves the list incomplete,
// which protects everything. A row of the old identifiers is covered when the shell names
// its folder by its own identifier too and that folder's path was kept; the rows with a
// Quick Launch folder below them are always asked, for its base.
static void KeepKnownFolders(BYTE *covered) {
    typedef HRESULT(WINAPI * KnownFolderPath)(const GUID &, DWORD, HANDLE, WCHAR **);
    KnownFolderPath pathOf =
        (KnownFolderPath)(void (*)())FindSystemFunction("shell32.dll", "SHGetKnownFolderPath");
    if (!pathOf)
        return;
    HRESULT com = CoInitialize(0); // the caller's thread may not have it
    KnownFolderManager *manager = 0;
    GUID *ids = 0;
    UINT count = 0;
    BYTE found[LIST_LIMIT]; // which of the first ids gave a path that was kept
    if (CoCreateInstance(knownFolderManager, 0, CLSCTX_INPROC_SERVER, knownFolderManagerInterface,
                         (void **)&manager) != S_OK ||
        manager->GetFolderIds(&ids, &count) != S_OK)
        protectedFolders.complete = 0;
    for (UINT i = 0; i < count; i++) {
        WCHAR *path = 0;
        char folder[PATH_SIZE];
        DWORD before = protectedFolders.count;
        if (pathOf(ids[i], DONT_VERIFY, 0, &path) == S_OK && WideToUtf8(path, folder, PATH_SIZE))
            Keep(folder);
        if (i < LIST_LIMIT)
            found[i] = protectedFolders.count > before;
        CoTaskMemFree(path);
    }
    for (DWORD r = 0; manager && r < ROW_COUNT; r++) {
        GUID id;
        if (protectedRows[r].source < 0 || protectedRows[r].quickLaunch ||
            manager->FolderIdFromCsidl(protectedRows[r].source, &id) != S_OK)
            continue;
        for (UINT i = 0; i < count && i < LIST_LIMIT && !covered[r]; i++)
            covered[r] = found[i] && SameGuid(ids[i], id);
    }
    CoTaskMemFree(ids);
    if (manager)
        manager->Release();
    if (SUCCEEDED(com))
        CoUninitialize();
}

// The profiles wherever the NT family's list of them opens: the folder that holds them and
// each profile's own folder.
static void KeepProfiles() {
    char folder[PATH_SIZE], name[PATH_SIZE];
    HKEY list, profile;
    if (SysRegOpenKey(HKEY_LOCAL_MACHINE, profileListKey, KEY_READ, &list) != ERROR_SUCCESS)
        return;
    for (DWORD i = 0; i < sizeof profileFolders / sizeof profileFolders[0]; i++)
        if (ReadFolder(list, profileFolders[i], folder) && FindLastBackslash(folder))
            Keep(folder);
    for (DWORD i = 0; SysRegEnumKey(list, i, name, PATH_SIZE) == ERROR_SUCCESS; i++) {
        if (SysRegOpenKey(list, name, KEY_QUERY_VALUE, &profile) != ERROR_SUCCESS)
            continue;
        if (ReadFolder(profile, "ProfileImagePath", folder))
            Keep(folder);
        RegCloseKey(profile);
    }
    RegCloseKey(list);
}

int GetRegistryFolder(int which, char *folder) {
    HKEY key;
    if (SysRegOpenKey(HKEY_LOCAL_MACHINE, versionKey, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return 0;
    int found = ReadFolder(key, registryFolders[which], folder);
    RegCloseKey(key);
    return found;
}

static void KeepRegistryFolders() {
    char folder[PATH_SIZE];
    for (int i = 0; i < 2; i++)
        if (GetRegistryFolder(i, folder))
            Keep(folder);
}

void HoldProtectedFolders() {
    protectedFolders.filled = 0;
    protectedFolders.held = 1;
}

void ReleaseProtectedFolders() {
    protectedFolders.held = 0;
    protectedFolders.filled = 0;
    ReleaseMemory((void **)&protectedFolders.folders);
}

static const char *LastName(const char *path) {
    const char *name = path;
    for (; *path; path++)
        if (*path == '\\')
            name = path + 1;
    return name;
}

// Another spelling of a protected folder ends in its name: a drive letter mapped onto the
// place, a share, a folder linked on the way. Or in a short name, which the NT family makes
// with a "~". Only then are the folders opened to compare what they are.
static int MatchesProtectedFolder(const char *path) {
    const char *name = LastName(path);
    int alias = 0;
    for (const char *c = name; *c; c++)
        alias |= *c == '~';
    for (DWORD i = 0; i < protectedFolders.count; i++) {
        const ProtectedFolder *folder = &protectedFolders.folders[i];
        if (PathsEqual(folder->path, path))
            return 1;
        alias |= PathsEqual(LastName(folder->path), name);
    }
    if (!isNT || !alias)
        return 0;
    DWORD identity[3];
    GetIdentity(path, identity);
    // A folder that is there but cannot be told apart is judged blind: it stays.
    if (!(identity[1] | identity[2]))
        return PathExists(path);
    for (DWORD i = 0; i < protectedFolders.count; i++) {
        ProtectedFolder *folder = &protectedFolders.folders[i];
        if (!folder->identified)
            GetIdentity(folder->path, folder->identity);
        folder->identified = 1;
        if (folder->identity[0] == identity[0] && folder->identity[1] == identity[1] &&
            folder->identity[2] == identity[2])
            return 1;
    }
    return 0;
}

// The list as the system gives it now; 0 when it cannot be made whole.
static int FillProtectedFolders() {
    protectedFolders.count = 0;
    protectedFolders.complete =
        protectedFolders.folders ||
        AllocateMemory((void **)&protectedFolders.folders, LIST_LIMIT * sizeof(ProtectedFolder));
    if (!protectedFolders.complete)
        return 0;
    BYTE covered[ROW_COUNT];
    FillBytes(covered, 0, sizeof covered);
    KeepKnownFolders(covered);
    KeepShellAndSystemFolders(covered);
    KeepProfiles();
    KeepRegistryFolders();
    protectedFolders.filled = 1;
    return protectedFolders.complete;
}

int IsProtectedFolder(char *path) {
    char canonical[PATH_SIZE];
    // The empty path, a bare drive and a drive root; also a literal or device path, which the
    // system does not resolve, and a path such as "C:\a\.." that resolves to a root.
    if (TextLength(path) < 4 || !CopyText(canonical, PATH_SIZE, path) ||
        MakeCanonical(canonical, !isNT) == PATH_REFUSED)
        return 1;
    RemoveBackslash(canonical);
    // A list that could not be made whole protects everything.
    int result = TextLength(canonical) < 4 ||
                 (!protectedFolders.filled && !FillProtectedFolders()) ||
                 !protectedFolders.complete || MatchesProtectedFolder(canonical);
    if (!protectedFolders.held)
        ReleaseProtectedFolders();
    return result;
}
