// Phase 4: registry values and whole key trees, in stored order.
#include "removal.h"
#include "../ui/ui.h"

#define KEY_NAME_SIZE 1024 // characters of one subkey name; the registry allows far fewer

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

// The platform's key deletion on the NT family refuses a key that still has subkeys: they
// go first, deepest first. Each level keeps its own handle and name buffer on the stack.
LONG DeleteKeyTree(HKEY parent, const char *subkey) {
    if (!subkey || lstrlenA(subkey) == 0)
        return ERROR_BADKEY;
    HKEY key;
    LONG result = RegOpenKeyExA(parent, subkey, 0, TREE_ACCESS, &key);
    if (result != ERROR_SUCCESS)
        return result;
    for (;;) {
        char name[KEY_NAME_SIZE];
        DWORD length = KEY_NAME_SIZE;
        // Index 0 every time: the subkey found before is gone.
        result = RegEnumKeyExA(key, 0, name, &length, 0, 0, 0, 0);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result == ERROR_SUCCESS)
            result = DeleteKeyTree(key, name);
        if (result != ERROR_SUCCESS) {
            RegCloseKey(key);
            return result;
        }
    }
    result = RegDeleteKeyA(parent, subkey);
    RegCloseKey(key);
    return result;
}

// The key path is cut in place for the open and put back at once: the entry's path reads
// the same afterwards.
static void DeleteEntryValue(HKEY root, char *path, char *separator) {
    *separator = 0;
    HKEY key;
    if (RegOpenKeyA(root, path, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, separator + 2); // an empty name is the key's default value
        // For an empty key path the system may hand back the root's own handle.
        if (key != root)
            RegCloseKey(key);
    }
    *separator = '\\';
}

// On the 95/98/Me family the platform deletes a key with its subkeys by itself.
static void DeleteEntryKey(HKEY root, const char *path) {
    if (IsProtectedKey(root, path))
        return;
    if (isNT)
        DeleteKeyTree(root, path);
    else
        RegDeleteKeyA(root, path);
}

void RemoveRegistryEntries() {
    for (DWORD i = 0; i < registryEntryCount; i++) {
        RegistryEntry *entry = registryEntries[i];
        HKEY root = (HKEY)(ULONG_PTR)entry->root;
        char *path = entry->path;
        if (path[0]) {
            char *separator = FindValueSeparator(path);
            if (separator) {
                // A value entry reports no step; the next key entry's report catches up.
                DeleteEntryValue(root, path, separator);
                continue;
            }
            DeleteEntryKey(root, path);
        }
        if (progressTotal)
            SetProgress((2 * fileEntryCount + folderEntryCount + i) * 100 / progressTotal);
    }
}
