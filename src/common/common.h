// The common room: path, text and memory helpers, the system-call layer where names and
// texts meet the system, libraries loaded at run time, and the process-wide state. It calls
// only the system, never a room above.
#ifndef VANISH_COMMON_H
#define VANISH_COMMON_H

#include <windows.h>

// Every name and text inside the program is UTF-8. A path buffer holds the longest path the
// system accepts, 259 UTF-16 units, at up to three bytes each, and the terminator.
#define PATH_SIZE 778
#define TEXT_SIZE 1024               // every formatted message text
#define SCRATCH_SIZE (2 * PATH_SIZE) // entry texts while a record is read
#define SHORT_NAME_SIZE 48           // an 8.3 name, 13 characters, as UTF-8
#define VANISH_VERSION "1.0"

// Uninstall data, filled by the loader and released by FreeUninstallData.
struct FileEntry {
    char *folder;
    char *name;
    BYTE flags;
    BYTE form;     // FORM_ bits: how the block spells the entry, set as its path is made full
    char *spelled; // the path as the block spells it, when the full path is spelled otherwise
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
struct EmptyKeyEntry { // a key deleted only when empty, and up to levels parents
    DWORD levels;
    DWORD root;
    char *path;
};

enum {
    FILE_SHARED = 0x01,
    FILE_FONT = 0x02,
    FILE_COMSERVER = 0x04,
    FILE_CHECKINUSE = 0x08,
};

// How a file entry's name was spelled, which its full path no longer shows.
enum {
    FORM_BARE_NAME = 0x01,   // no backslash at all: phase 3 has no folder to walk from
    FORM_FOLDER_NAME = 0x02, // a name that ends in a separator, "." or "..": a folder, kept
};

enum {
    OPTION_WAIT = 0x01,
    OPTION_KEEPTHEME = 0x02,
    OPTION_UTF8 = 0x04,           // the block's texts are UTF-8, not the system's ANSI code page
    OPTION_RESTART_DELETE = 0x08, // what is in use at its removal goes at the next restart
    OPTION_FOLDER_TOKENS = 0x10,  // paths may begin with a folder token such as {programfiles}
    OPTION_SILENT_SHARED = 0x20,  // /S removes a shared file whose count reached 0
};

// Exit codes beside 0 and -1, for silent runs (and 1618 for any run).
#define EXIT_LEFT 1               // something listed stayed
#define EXIT_IN_USE 2             // nothing removed: a file marked for the in-use test is in use
#define EXIT_ALREADY_RUNNING 1618 // nothing done: this uninstaller runs already
#define EXIT_RESTART 3010         // done, but some items go only at the next restart
#define EXIT_LOG_REFUSED 1622     // nothing done: the log cannot go where /L= asked

// The locator: the installer finds the marker and writes the block's offset behind it.
#pragma pack(push, 1)
struct UninstallLocator {
    char marker[6];
    DWORD uninstallDataOffset;
};
#pragma pack(pop)

extern HINSTANCE moduleHandle;  // instance handle passed to WinMain
extern int isNT;                // 1 on the NT family, 0 on 95/98/Me (DetectSystemFamily)
extern int quietMode;           // /Q: no confirmation, progress or completion boxes
extern int bareMode;            // /X: quiet, and no program, document or self-removal
extern int silentMode;          // /S: quiet, no box or dialog at all, fixed answers
extern int logMode;             // /L: a removal log in the temporary folder
extern int dryRun;              // /N: every entry resolved and logged, nothing changed
extern char *logPath;           // /L=path: where the log goes, a file or a folder; null: temp
extern char *modulePath;        // the executable's own file name
extern char *workPath;          // full path of the entry being handled
extern char *installFolder;     // the executable's folder, one trailing backslash
extern HWND mainWindow;         // hidden owner of every box and dialog
extern int rightToLeft;         // the texts shown are written right to left: mirrored dialogs
extern int (*makeMainWindow)(); // makes it on first need when its making was put off

extern volatile UninstallLocator uninstallLocator; // offset of the appended block
extern char **stringTable;                         // message texts, null-terminated array
extern FileEntry **fileEntries;
extern DWORD fileEntryCount;
extern FolderEntry **folderEntries;
extern DWORD folderEntryCount;
extern RegistryEntry **registryEntries;
extern DWORD registryEntryCount;
extern EmptyKeyEntry **emptyKeyEntries;
extern DWORD emptyKeyEntryCount;
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
    ITEM_NOTED,      // logged only: an attempt whose outcome a later phase decides, a parent
    ITEM_REMOVED,    // this run removed it
    ITEM_KEPT,       // it stays by rule or by an answer: a shared count, No, the uninstaller
    ITEM_LEFT,       // it stays for any other reason: in use, refused, not empty
    ITEM_AT_RESTART, // it goes at the next restart
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
int IsDotName(const char *name);
int IsSlash(char c);
DWORD TextLength(const char *text);
int CopyText(char *buffer, DWORD size, const char *text);
int AppendText(char *buffer, DWORD size, const char *text);
char *FindLastBackslash(char *path);
int PathExists(const char *path);

// Texts: UTF-8 inside, UTF-16 or the ANSI code page at the system. Each returns 1, or 0
// when the text does not fit; strict also refuses what is not exact (text that is not
// UTF-8, a character the code page lacks, bytes that are no character of it), lenient puts
// a stand-in there (texts shown). AnsiToUtf8 reads another code page when one is named.
DWORD Utf16Length(const char *text);  // 0xFFFFFFFF when the text is not UTF-8
int FitsSystemPath(const char *path); // at most 259 units as the system counts them
int Utf8ToWide(const char *text, WCHAR *buffer, DWORD size, int strict);
int WideToUtf8(const WCHAR *text, char *buffer, DWORD size);
int Utf8ToAnsi(const char *text, char *buffer, DWORD size, int strict);
int AnsiToUtf8(const char *text, char *buffer, DWORD size, int strict = 1, UINT page = CP_ACP);
DWORD CharacterBytes(const char *text); // of the UTF-8 character there; 0 where it is none
long TakeFolded(const char **text);     // the next character, case folded; 0 at the end
int NamesEqual(const char *a, const char *b);
extern LPWSTR(WINAPI *wideCharUpper)(LPWSTR); // the NT family's case mapping, or null

// The system-call layer: every call that takes or gives a name or a text shown to the
// user. On 95/98/Me a name the ANSI code page cannot hold fails with
// ERROR_NO_UNICODE_TRANSLATION and is never tried. Folder queries return the length, 0 on
// failure, size or more when it does not fit.
enum { FOLDER_CURRENT, FOLDER_TEMP, FOLDER_WINDOWS, FOLDER_SYSTEM };
void InitSystemLayer();
int UsesWideCalls();
HANDLE SysCreateFile(const char *path, DWORD access, DWORD share, DWORD disposition,
                     DWORD flags = FILE_ATTRIBUTE_NORMAL);
int SysCreateFolder(const char *path, void *security);
int SysGetVolumeRoot(const char *path, char *buffer); // PATH_SIZE bytes
int SysDeleteFile(const char *path);
int SysRemoveFolder(const char *path);
int SysSetCurrentFolder(const char *path);
DWORD SysGetAttributes(const char *path);
int SysSetAttributes(const char *path, DWORD attributes);
DWORD SysGetFolder(int which, char *buffer, DWORD size);
DWORD SysGetModuleName(char *buffer, DWORD size);
int SysGetCommandLine(char *buffer, DWORD size);
void SysErrorText(DWORD error, char *buffer, DWORD size);
DWORD SysGetFullPath(const char *path, char *buffer, DWORD size);
DWORD SysGetPathForm(const char *path, char *buffer, DWORD size, int longForm);
int SysDeleteAtRestart(const char *path);
int SysAddProfileLine(const char *file, const char *section, const char *line);
HANDLE SysFindFirst(const char *pattern, char *name, char *shortName);
int SysFindNext(HANDLE search, char *name, char *shortName);
int SysStartProcess(const char *command, const char *folder, int show, int inherit,
                    PROCESS_INFORMATION *process);
int SysSetEnvironment(const char *name, const char *value);
HANDLE SysCreateMutex(const char *name); // the last error says whether it existed already
HMODULE SysLoadLibrary(const char *path, DWORD flags);
int SysRemoveFont(const char *path);
int SysShellPath(const struct _ITEMIDLIST *list, char *buffer); // PATH_SIZE bytes
int SysShellOpen(const char *target);
int SysShellOpenVia(IDispatch *view, const char *target); // the shell that view belongs to
int SysMessageBox(HWND owner, const char *text, const char *caption, UINT style);
int SysSetText(HWND window, int item, const char *text); // item 0: the window itself
LONG SysRegOpenKey(HKEY root, const char *path, REGSAM access, HKEY *key);
LONG SysRegOpenKeyWith(HKEY root, const char *path, DWORD options, REGSAM access, HKEY *key);
LONG SysRegDeleteValue(HKEY key, const char *name);
LONG SysRegDeleteKey(HKEY key, const char *name);
LONG SysRegQueryValue(HKEY key, const char *name, DWORD *type, BYTE *data, DWORD *size);
LONG SysRegSetValue(HKEY key, const char *name, DWORD type, const BYTE *data, DWORD size);
LONG SysRegEnumKey(HKEY key, DWORD index, char *name, DWORD size);

// The language the user reads (a LANGID), and whether a language is written right to left.
WORD UserLanguage();
int IsRightToLeft(WORD language);

// The version numbers as the system itself gives them, not as a compatibility layer
// reports them, and isNT set from them.
void DetectSystemFamily(OSVERSIONINFOA *version);

// Libraries loaded at run time.
FARPROC FindSystemFunction(const char *library, const char *name);
HMODULE LoadSystemLibrary(const char *name);
void RestrictDllSearch();
HMODULE LoadLibraryBeside(const char *path);
void *WidenDllSearch(const char *folder); // for one call into a COM server
void NarrowDllSearch(void *cookie);

// 32 bits that no other process can predict, for names made in shared folders.
DWORD RandomNumber();

// The owner for a box or dialog: the main window, made now if its making was put off.
HWND OwnerWindow();

// Errors that count as "access denied": read-only, in use, sharing or lock violation.
int IsAccessDenied(DWORD error);

#endif
