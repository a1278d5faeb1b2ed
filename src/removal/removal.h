// The four removal phases and the rules that guard them.
#ifndef VANISH_REMOVAL_H
#define VANISH_REMOVAL_H

#include "../common/common.h"

// Protected folders.
int IsProtectedFolder(char *path);
int GetSpecialFolderPath(char *buffer, int identifier);

// Fonts.
void GetTrueTypeFullName(const char *path, char *name, DWORD size);
void UnregisterFont(const char *path);

// Phase 1: files.
int BuildEntryPath(const FileEntry *entry);
int IsFileInUse(const char *path);
int AnyFileInUse();
void RemoveFiles();

// Phases 2 and 3: folders.
void RemoveFolderEntries();
void RemoveFileFolders();

// Phase 4: registry.
void RemoveRegistryEntries();
LONG DeleteKeyTree(HKEY parent, const char *subkey);

// Protected registry keys: 1 when a key entry must not delete the key below root.
int IsProtectedKey(HKEY root, const char *path);

#endif
