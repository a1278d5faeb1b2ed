// Phase 4: registry values and whole key trees, in stored order.
#include "removal.h"
#include "../data/data.h"
#include "../ui/ui.h"

#define KEY_NAME_SIZE 1024 // one subkey name as UTF-8; the registry allows 255 characters

// Access for one level of a tree: enough to list its subkeys and to delete it.
#define TREE_ACCESS (DELETE | KEY_ENUMERATE_SUB_KEYS)

// The first backslash of a trailing pair that separates the key path from a value name,
// or null when the path names a key. A pair at the very start names a value of the root.
static char *FindValueSeparator(char *path) {
    char *last = FindLastBackslash(path);
    if (!last || last == path || last[-1] != '\\')
        return 0;
    return last - 1;
}

// A key opened as itself, never as the key a registry link points to.
#define OPEN_LINK 0x00000008 // REG_OPTION_OPEN_LINK
#define LINK_VALUE "SymbolicLinkValue"

typedef LONG(WINAPI *DeleteKeyProc)(HANDLE);

// The NT family's deletion of the very key a handle holds, looked up once: a key deleted by
// name would be opened again, through a link if it is one.
static DeleteKeyProc deleteKeyByHandle;
static int deleteKeyLooked;

static DeleteKeyProc FindDeleteKey() {
    if (!deleteKeyLooked)
        deleteKeyByHandle =
            (DeleteKeyProc)(void (*)())FindSystemFunction("ntdll.dll", "NtDeleteKey");
    deleteKeyLooked = 1;
    return deleteKeyByHandle;
}

// The platform's key deletion on the NT family refuses a key that still has subkeys: they
// go first, deepest first. Each level keeps its own handle and name buffer on the stack. On
// the NT family each level is opened as itself: a registry link goes as a link, and the tree
// it points to stays.
LONG DeleteKeyTree(HKEY parent, const char *subkey) {
    if (!subkey || !subkey[0])
        return ERROR_BADKEY;
    HKEY key;
    DeleteKeyProc deleteKey = isNT ? FindDeleteKey() : 0;
    LONG result = SysRegOpenKeyWith(parent, subkey, deleteKey ? OPEN_LINK : 0,
                                    TREE_ACCESS | KEY_QUERY_VALUE, &key);
    if (result != ERROR_SUCCESS)
        return result;
    DWORD type = 0;
    int link = deleteKey && SysRegQueryValue(key, LINK_VALUE, &type, 0, 0) == ERROR_SUCCESS &&
               type == REG_LINK;
    while (!link) {
        char name[KEY_NAME_SIZE];
        // Index 0 every time: the subkey found before is gone.
        result = SysRegEnumKey(key, 0, name, KEY_NAME_SIZE);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result == ERROR_SUCCESS)
            result = DeleteKeyTree(key, name);
        if (result != ERROR_SUCCESS) {
            RegCloseKey(key);
            return result;
        }
    }
    if (deleteKey)
        result = deleteKey(key) == 0 ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
    else
        result = SysRegDeleteKey(parent, subkey);
    RegCloseKey(key);
    return result;
}

// The predefined keys a block may name as its root. Any other number would be used as a
// handle, and a small one can be a key this process has open.
static int IsPredefinedRoot(DWORD root) {
    return root >= 0x80000000 && root <= 0x80000006 && root != 0x80000004; // not HKPD
}

#define DYN_DATA_ROOT 0x80000006 // HKEY_DYN_DATA: the 95/98/Me family's alone

// A root this family does not have names nothing here: what the entry names stays, as the
// block asked for it.
static int IsRootOfThisFamily(DWORD root) {
    return !(isNT && root == DYN_DATA_ROOT);
}

// Something that the registry refuses to show, rather than reports missing, is there; so
// is what a name this system cannot spell names, since it was never tried.
static int IsThere(LONG result) {
    return result == ERROR_SUCCESS || IsAccessDenied((DWORD)result) ||
           result == ERROR_NO_UNICODE_TRANSLATION;
}

// What became of an entry, judged by looking again: error is the deletion's result, or 0.
static void ReportEntry(const RegistryEntry *entry, int there, LONG error, int isKey) {
    static const char *const texts[][3] = {
        {"value deleted", "value not found", "value left"},
        {"key deleted", "key not found", "key left"},
    };
    static const int outcomes[] = {ITEM_REMOVED, ITEM_NOTED, ITEM_LEFT};
    int index = there ? 2 : error ? 1 : 0;
    ReportKey(outcomes[index], texts[isKey][index], there ? (DWORD)error : 0, entry->root,
              entry->path);
}

// The key path is cut in place for the open and put back at once: the entry's path reads
// the same afterwards.
static void DeleteEntryValue(const RegistryEntry *entry, HKEY root, char *path, char *separator) {
    *separator = 0;
    HKEY key;
    char text[KEY_TEXT_SIZE];
    KeyText(entry->root, path, text);
    // A dry run's key that a key entry before would delete holds no value any more.
    LONG result = dryRun && WouldBeGone(text) ? ERROR_FILE_NOT_FOUND
                                              : SysRegOpenKey(root, path, MAXIMUM_ALLOWED, &key);
    int there = IsThere(result);
    int protect = 0;
    if (result == ERROR_SUCCESS) {
        protect = IsProtectedValue(root, path, separator + 2);
        if (protect)
            result = ERROR_ACCESS_DENIED;
        else if (dryRun)
            result = SysRegQueryValue(key, separator + 2, 0, 0, 0);
        else
            result = SysRegDeleteValue(key, separator + 2); // an empty name: the default value
        there = protect || !dryRun ? IsThere(SysRegQueryValue(key, separator + 2, 0, 0, 0)) : 0;
        // For an empty key path the system may hand back the root's own handle.
        if (key != root)
            RegCloseKey(key);
    }
    *separator = '\\';
    if (protect)
        ReportKey(ITEM_NOTED, "value protected", 0, entry->root, entry->path);
    ReportEntry(entry, there, result, 0);
}

// On the 95/98/Me family the platform deletes a key with its subkeys by itself. A protected
// key that is there counts as left: the block asked for it.
static void DeleteEntryKey(const RegistryEntry *entry, HKEY root, const char *path) {
    LONG result = ERROR_ACCESS_DENIED;
    char text[KEY_TEXT_SIZE];
    KeyText(entry->root, path, text);
    HKEY key;
    LONG opened = dryRun && WouldBeGone(text) ? ERROR_FILE_NOT_FOUND
                                              : SysRegOpenKey(root, path, KEY_READ, &key);
    if (opened == ERROR_SUCCESS)
        RegCloseKey(key);
    if (IsProtectedKey(root, path)) {
        ReportKey(ITEM_NOTED, "key protected", 0, entry->root, path);
    } else if (dryRun) {
        // A dry run deletes nothing: the key would go as far as it is there to go.
        result = opened;
        if (opened == ERROR_SUCCESS) {
            NoteWouldGo(text);
            opened = ERROR_FILE_NOT_FOUND;
        }
    } else {
        result = isNT ? DeleteKeyTree(root, path) : SysRegDeleteKey(root, path);
        opened = SysRegOpenKey(root, path, KEY_READ, &key);
        if (opened == ERROR_SUCCESS)
            RegCloseKey(key);
    }
    ReportEntry(entry, IsThere(opened), result, 1);
}

// A key that holds nothing, no subkey and no value: it is opened as itself and deleted
// through the handle that found it empty. A link stays as it is.
static LONG DeleteIfEmpty(HKEY root, const char *path) {
    HKEY key;
    char text[KEY_TEXT_SIZE];
    KeyText((DWORD)(ULONG_PTR)root, path, text);
    if (dryRun && WouldBeGone(text))
        return ERROR_FILE_NOT_FOUND;
    DeleteKeyProc deleteKey = isNT ? FindDeleteKey() : 0;
    LONG result = SysRegOpenKeyWith(root, path, deleteKey ? OPEN_LINK : 0,
                                    TREE_ACCESS | KEY_QUERY_VALUE, &key);
    if (result != ERROR_SUCCESS)
        return result;
    DWORD subkeys = 1, values = 1, type = 0;
    result = RegQueryInfoKeyA(key, 0, 0, 0, &subkeys, 0, 0, &values, 0, 0, 0, 0);
    if (result == ERROR_SUCCESS &&
        (subkeys || values ||
         (deleteKey && SysRegQueryValue(key, LINK_VALUE, &type, 0, 0) == ERROR_SUCCESS)))
        result = ERROR_DIR_NOT_EMPTY;
    if (result == ERROR_SUCCESS && dryRun)
        NoteWouldGo(text); // a dry run deletes nothing
    else if (result == ERROR_SUCCESS && deleteKey)
        result = deleteKey(key) == 0 ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
    else if (result == ERROR_SUCCESS)
        result = SysRegDeleteKey(root, path);
    RegCloseKey(key);
    return result;
}

// The keys of the empty-key entries, after the registry entries: each goes when empty, then
// its parents up to the entry's levels, while each comes out empty. A protected key ends
// the walk, and so does one that still holds something, which holds its parents too. The
// named key that still holds something is kept, rightly, as a folder that is not empty is.
static void RemoveEmptyKeys() {
    char path[SCRATCH_SIZE]; // an entry's text always fits
    for (DWORD i = 0; i < emptyKeyEntryCount; i++) {
        const EmptyKeyEntry *entry = emptyKeyEntries[i];
        HKEY root = (HKEY)(ULONG_PTR)entry->root;
        if (!entry->path[0] || !CopyText(path, SCRATCH_SIZE, entry->path))
            continue;
        if (!IsPredefinedRoot(entry->root) || !IsRootOfThisFamily(entry->root)) {
            ReportKey(ITEM_LEFT, "entry skipped, root not on this system", 0, entry->root, path);
            continue;
        }
        for (DWORD level = 0; level <= entry->levels; level++) {
            int named = level == 0;
            if (IsProtectedKey(root, path)) {
                ReportKey(ITEM_NOTED, "key protected", 0, entry->root, path);
                break;
            }
            LONG result = DeleteIfEmpty(root, path);
            if (result == ERROR_SUCCESS) {
                ReportKey(ITEM_REMOVED, "key deleted, empty", 0, entry->root, path);
            } else if (result == ERROR_DIR_NOT_EMPTY) {
                ReportKey(named ? ITEM_KEPT : ITEM_NOTED, "key kept, not empty", 0, entry->root,
                          path);
                break;
            } else if (IsThere(result)) {
                ReportKey(named ? ITEM_LEFT : ITEM_NOTED, "key left", (DWORD)result, entry->root,
                          path);
                break;
            } else {
                ReportKey(ITEM_NOTED, "key not found", 0, entry->root, path);
            }
            char *last = FindLastBackslash(path);
            if (!last)
                break;
            *last = 0;
        }
    }
}

void RemoveRegistryEntries() {
    for (DWORD i = 0; i < registryEntryCount; i++) {
        RegistryEntry *entry = registryEntries[i];
        HKEY root = (HKEY)(ULONG_PTR)entry->root;
        char *path = entry->path;
        if (path[0]) {
            char *separator = FindValueSeparator(path);
            if (!IsPredefinedRoot(entry->root))
                ReportKey(ITEM_LEFT, "entry skipped, root not a predefined key", 0, entry->root,
                          path);
            else if (!IsRootOfThisFamily(entry->root))
                ReportKey(ITEM_LEFT, "entry skipped, root not on this system", 0, entry->root,
                          path);
            else if (separator)
                DeleteEntryValue(entry, root, path, separator);
            else
                DeleteEntryKey(entry, root, path);
            // A value entry reports no step; the next key entry's report catches up.
            if (separator)
                continue;
        }
        if (progressTotal)
            SetProgress((2 * fileEntryCount + folderEntryCount + i) * 100 / progressTotal);
    }
    RemoveEmptyKeys();
}
