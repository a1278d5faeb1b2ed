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
    LONG result = SysRegOpenKey(root, path, MAXIMUM_ALLOWED, &key);
    int there = IsThere(result);
    int protect = 0;
    if (result == ERROR_SUCCESS) {
        protect = IsProtectedValue(root, path, separator + 2);
        if (protect) {
            result = ERROR_ACCESS_DENIED;
        } else {
            result = SysRegDeleteValue(key, separator + 2); // an empty name: the default value
        }
        there = IsThere(SysRegQueryValue(key, separator + 2, 0, 0, 0));
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
    if (IsProtectedKey(root, path))
        ReportKey(ITEM_NOTED, "key protected", 0, entry->root, path);
    else if (isNT)
        result = DeleteKeyTree(root, path);
    else
        result = SysRegDeleteKey(root, path);
    HKEY key;
    LONG opened = SysRegOpenKey(root, path, KEY_READ, &key);
    if (opened == ERROR_SUCCESS)
        RegCloseKey(key);
    ReportEntry(entry, IsThere(opened), result, 1);
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
}
