// The four removal phases and the rules that guard them.
#ifndef VANISH_REMOVAL_H
#define VANISH_REMOVAL_H

#include "../common/common.h"

// Protected folders. A phase that tests many folders holds them: they are looked up at the
// first test after HoldProtectedFolders and compared from memory until it is called again
// or ReleaseProtectedFolders ends the hold.
int IsProtectedFolder(char *path);
void HoldProtectedFolders();
void ReleaseProtectedFolders();
int GetSpecialFolderPath(char *buffer, int identifier);

// Fonts.
void GetTrueTypeFullName(const char *path, char *name, DWORD size);
void UnregisterFont(const char *path);

// Before the first phase: every entry's folder made full, literal and device paths dropped.
void MakeEntryPathsFull();

// Phase 1: files.
int BuildEntryPath(const FileEntry *entry);
int IsFileInUse(const char *path);
int AnyFileInUse();
void RemoveFiles();

// Phases 2 and 3: folders.
void RemoveFolderEntries();
void RemoveFileFolders();
int GetNamedFolder(DWORD i, char *buffer); // folder entry i's folder before the walk cut it
void ForgetNamedFolders();

// Phase 4: registry.
void RemoveRegistryEntries();
LONG DeleteKeyTree(HKEY parent, const char *subkey);

// Protected registry keys and values: 1 when a key entry must not delete the key below root,
// or a value entry the value name of key.
int IsProtectedKey(HKEY root, const char *path);
int IsProtectedValue(HKEY root, const char *key, const char *name);

// Outcomes: what stayed, for the removal log and the silent exit code.
#define READ_ONLY_KEPT 0xFFFFFFFF // not a system error: an answer of No kept a read-only file
void RecordFileOutcome(const char *path, DWORD error);         // error: of the last deletion, or 0
int RemoveAndRecordFolder(const char *path, char *lastFailed); // 1 when RemoveDirectoryA succeeded
void CountFoldersLeft();

#endif
