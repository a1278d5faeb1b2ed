// The phases: the entries made full, the four removal phases and what they share (the
// journal of shared counts, restart-pending removal, a dry run's memory, what each phase
// records for an item it acts on). Called by the outcome and the driver above; they call the
// guards, the user interface, the data and the common helpers below, never back up.
#ifndef VANISH_REMOVAL_H
#define VANISH_REMOVAL_H

#include "../common/common.h"
#include "../guards/guards.h"

// Fonts.
void GetTrueTypeFullName(const char *path, char *name, DWORD size);
void UnregisterFont(const char *path);

// Before the first phase: every entry's folder made full, literal and device paths dropped.
// BuildEntryPath puts the full path of a file entry into the work path; 0 when it does not fit.
void MakeEntryPathsFull();
int BuildEntryPath(const FileEntry *entry);

// Restart-pending removal (the options' OPTION_RESTART_DELETE): 1 when the item goes at the
// next restart, counted and logged as such.
void AllowRestartRemoval(); // as phase 1 starts: reads the options
// item: a handle of the item's own with DELETE access, or INVALID_HANDLE_VALUE.
int ScheduleAtRestart(const char *path, HANDLE item, int folder);
int ScheduleFolderAtRestart(const char *path); // when all it holds goes at restart too
int IsScheduledAtRestart(const char *path);
// Moves an item through its handle (DELETE access) into this run's folder for the restart,
// which only administrators can write; moved (PATH_SIZE bytes) receives its new name.
int MoveToPendingFolder(HANDLE item, const char *path, char *moved);
void FinishRestartRemoval(); // the folder is scheduled after the items in it

// The journal of shared counts this uninstaller has lowered, kept beside it.
int GetJournalPath(char *buffer); // PATH_SIZE bytes
void ReadJournal();
int WasReleased(const char *name, DWORD count);   // as the run found the journal
int PlanRelease(const char *name, DWORD value);   // a line for the next WriteReleases
int WriteReleases();                              // one write, one flush; 0 when it failed
int RecordRelease(const char *name, DWORD value); // planned and written at once
void CloseJournal();

// A dry run (/N): what it would remove, so that later steps judge as if it had.
#define KEY_TEXT_SIZE (SCRATCH_SIZE + 16) // a key as the record holds it
void NoteWouldGo(const char *path);
int WouldBeGone(const char *path);       // the path, or a folder or key above it
int WouldDelete(const char *path);       // as DeleteByOwnName would answer for a file
int WouldRemoveFolder(const char *path); // as it would for a folder
void KeyText(DWORD root, const char *path, char *text); // KEY_TEXT_SIZE bytes

// Phase 1: files.
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

// What a phase records for an item it acts on, for the removal log and the counts.
#define READ_ONLY_KEPT 0xFFFFFFFF // not a system error: an answer of No kept a read-only file
void RecordFileOutcome(const char *path, DWORD error);         // error: of the last deletion, or 0
int RemoveAndRecordFolder(const char *path, char *lastFailed); // 1 when the folder went

#endif
