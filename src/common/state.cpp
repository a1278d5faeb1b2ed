// The process-wide state, defined once.
#include "common.h"

HINSTANCE moduleHandle;
int isNT;
int quietMode;
int bareMode;
int silentMode;
int logMode;
int dryRun;
char *logPath;
char *modulePath;
char *workPath;
char *installFolder;
HWND mainWindow;
int rightToLeft;
int (*makeMainWindow)();

// The builder finds these six bytes and writes the block's offset behind them. As built,
// a post-link step sets the offset to the file's own length.
volatile UninstallLocator uninstallLocator = {{'w', 'w', 'g', 'T', ')', 'H'}, 0};
char **stringTable;
FileEntry **fileEntries;
DWORD fileEntryCount;
FolderEntry **folderEntries;
DWORD folderEntryCount;
RegistryEntry **registryEntries;
EmptyKeyEntry **emptyKeyEntries;
DWORD emptyKeyEntryCount;
DWORD registryEntryCount;
BYTE *optionsRecord;
DWORD optionsRecordSize;

HWND progressDialog;
HWND progressBar;
DWORD progressTotal;
DWORD lastPercentage;
HFONT dialogFont;
HMODULE themeLibrary;
FARPROC setThemeAppProperties;
int readOnlyAnswer = -1;
DWORD itemCounts[ITEM_KINDS];
HANDLE removalLog;
