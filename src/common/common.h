// Shared helpers and the process-wide state of the uninstaller.
#ifndef VANISH_COMMON_H
#define VANISH_COMMON_H

#include <windows.h>

#define PATH_SIZE 260    // every path buffer: 259 characters and the terminator
#define TEXT_SIZE 1024   // every formatted message text
#define SCRATCH_SIZE 520 // entry texts while a record is read
#define VANISH_VERSION "1.0"

// Uninstall data, filled by the loader and released by FreeUninstallData.
struct FileEntry {
    char *folder;
    char *name;
    BYTE flags;
};
struct FolderEntry {
    DWORD levels;
    char *folder;
    char *file;
};
struct RegistryEntry {
    DWORD root;
    char *path;
};

enum {
    FILE_SHARED = 0x01,
    FILE_FONT = 0x02,
    FILE_COMSERVER = 0x04,
    FILE_CHECKINUSE = 0x08,
};

enum {
    OPTION_WAIT = 0x01,
    OPTION_KEEPTHEME = 0x02,
};

// The locator: the installer finds the marker and writes the block's offset behind it.
#pragma pack(push, 1)
struct UninstallLocator {
    char marker[6];
    DWORD uninstallDataOffset;
};
#pragma pack(pop)

extern HINSTANCE moduleHandle;  // instance handle passed to WinMain
extern int isNT;                // 1 on the NT family, 0 on 95/98/Me
extern int quietMode;           // /Q: no confirmation, progress or completion boxes
extern int bareMode;            // /X: quiet, and no program, document or self-removal
extern int silentMode;          // /S: quiet, no box or dialog at all, fixed answers
extern int logMode;             // /L: a removal log in the temporary folder
extern char *modulePath;        // the executable's own file name
extern char *workPath;          // full path of the entry being handled
extern char *installFolder;     // the executable's folder, one trailing backslash
extern HWND mainWindow;         // hidden owner of every box and dialog
extern int (*makeMainWindow)(); // makes it on first need when its making was put off

extern volatile UninstallLocator uninstallLocator; // offset of the appended block
extern char **stringTable;                         // message texts, null-terminated array
extern FileEntry **fileEntries;
extern DWORD fileEntryCount;
extern FolderEntry **folderEntries;
extern DWORD folderEntryCount;
extern RegistryEntry **registryEntries;
extern DWORD registryEntryCount;
extern BYTE *optionsRecord;     // options payload as stored, null when none was read
extern DWORD optionsRecordSize; // its length in bytes

extern HWND progressDialog;           // the open progress dialog, or null
extern HWND progressBar;              // its bar, control 1009
extern DWORD progressTotal;           // steps of all four phases; 0 when no dialog
extern DWORD lastPercentage;          // last value sent to the bar
extern HFONT dialogFont;              // non-bold font shared by both dialogs
extern HMODULE themeLibrary;          // uxtheme.dll from the System folder, or null
extern FARPROC setThemeAppProperties; // its SetThemeAppProperties, or null
extern int readOnlyAnswer;            // -1 ask, 1 yes to all, 0 no to all

// What became of the items the block lists, counted as the phases go: the removal log's
// last line and, in silent mode, the exit code. An item is judged by testing afterwards
// whether it is still there, not by what the removal call returned.
enum {
    ITEM_NOTED,   // logged only: an attempt whose outcome a later phase decides, a parent
    ITEM_REMOVED, // this run removed it
    ITEM_KEPT,    // it stays by rule or by an answer: a shared count, No, the uninstaller
    ITEM_LEFT,    // it stays for any other reason: in use, refused, not empty
    ITEM_KINDS
};
extern DWORD itemCounts[ITEM_KINDS];
extern HANDLE removalLog; // the open removal log, or null

// Memory: each allocation compacts the heap and retries once before it fails.
int AllocateMemory(void **block, DWORD size);
int AllocateZeroed(void **block, DWORD size);
int ResizeMemory(void **block, DWORD size);
void ReleaseMemory(void **block);
void FillBytes(void *block, BYTE value, DWORD size);
void CopyBytes(void *target, const void *source, DWORD size);

// Paths and texts.
int AddBackslash(char *path, DWORD size);
void RemoveBackslash(char *path);
int PathsEqual(const char *a, const char *b);
DWORD TextLength(const char *text);
int CopyText(char *buffer, DWORD size, const char *text);
int AppendText(char *buffer, DWORD size, const char *text);
char *FindLastBackslash(char *path);
int PathExists(const char *path);

// Libraries loaded at run time.
HMODULE LoadSystemLibrary(const char *name);
void RestrictDllSearch();
HMODULE LoadLibraryBeside(const char *path);

// The owner for a box or dialog: the main window, made now if its making was put off.
HWND OwnerWindow();

// Errors that count as "access denied": read-only, in use, sharing or lock violation.
int IsAccessDenied(DWORD error);

#endif
