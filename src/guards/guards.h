// The guards: where a path leads and whether it may be touched. Canonical names, links,
// protected folders and keys, folder tokens, and who may change a file or folder. The phases
// call them; they call the user interface, the data and the common helpers below them, never
// a phase or anything above.
#ifndef VANISH_GUARDS_H
#define VANISH_GUARDS_H

#include "../common/common.h"

// Protected folders. A phase that tests many folders holds them: they are looked up at the
// first test after HoldProtectedFolders and compared from memory until it is called again
// or ReleaseProtectedFolders ends the hold.
int IsProtectedFolder(char *path);
void HoldProtectedFolders();
void ReleaseProtectedFolders();
int GetSpecialFolderPath(char *buffer, int identifier);
// A folder of the system into PATH_SIZE bytes; 0 when the system cannot name it. source is
// a shell folder identifier or one of the FROM_ values; GetRegistryFolder reads Program
// Files (0) or Common Files (1) where the system keeps them.
#define FROM_WINDOWS_DIRECTORY -1
#define FROM_SYSTEM_DIRECTORY -2
int GetSystemFolder(int source, char *folder);
int GetRegistryFolder(int which, char *folder);

// The one name of a path, in place (PATH_SIZE bytes): full, with ".", "..", slashes and
// trailing dots and spaces resolved as the system resolves them, and with longNames each
// existing folder's long name. PATH_AS_IT_IS when the system cannot say.
enum { PATH_REFUSED, PATH_CANONICAL, PATH_AS_IT_IS };
int MakeCanonical(char *path, int longNames);
// Short names made long where the system can, in place (PATH_SIZE bytes).
void ExpandLongNames(char *path);

// Items by their own name: on the NT family nothing is opened, deleted or loaded through a
// junction, symbolic link or mount point below the item's deepest protected folder. Opened
// items are the item itself, a link as the link. OpenByOwnName fails with the open's error,
// REACHED_THROUGH_LINK, or ERROR_CALL_NOT_IMPLEMENTED where the system has no links (95/98/Me);
// DeleteByOwnName uses the plain calls there. A folder goes only when it is empty.
#define REACHED_THROUGH_LINK 0xFFFFFFFE // not a system error
#define ANY_SHARING (FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)
HANDLE OpenByOwnName(const char *path, DWORD access, DWORD share, DWORD flags);
DWORD GetHandleAttributes(HANDLE handle);                 // 0 when the system cannot say
int DeleteThroughHandle(HANDLE handle);                   // at its close; 0 with the last error set
int SetHandleAttributes(HANDLE handle, DWORD attributes); // FILE_WRITE_ATTRIBUTES
// A file of the folder a handle holds, by its name there; the system's dispositions
// (NT_OPEN, NT_CREATE, NT_OPEN_IF) and options (NT_FILE, NT_DELETE_ON_CLOSE).
#define NT_OPEN 1
#define NT_CREATE 2
#define NT_OPEN_IF 3
#define NT_FILE 0x00000040            // FILE_NON_DIRECTORY_FILE
#define NT_DELETE_ON_CLOSE 0x00001000 // FILE_DELETE_ON_CLOSE
HANDLE OpenInFolder(HANDLE folder, const char *name, DWORD access, DWORD share, DWORD disposition,
                    DWORD options);
HANDLE ReopenItem(HANDLE item, const char *path, DWORD access, DWORD share);
int MoveThroughHandle(HANDLE handle, HANDLE folder, const char *name); // DELETE
int DeleteByOwnName(const char *path, int folder);
int CanCheckNames(); // the system has links, and the calls that tell them: the NT family
int IsPlainFile(HANDLE file, const char *path); // one name, no link, no folder

// Who may change a file or folder, from its owner and the access its descriptor grants. An
// administrator's own account, LocalSystem and TrustedInstaller count as administrators; a
// descriptor that cannot be read lets everyone in.
#define RIGHTS_TO_REPLACE (DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_ALL)
#define RIGHTS_TO_REPLACE_CHILD (FILE_DELETE_CHILD | GENERIC_ALL)
#define RIGHTS_TO_ADD (FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | GENERIC_WRITE | GENERIC_ALL)
int RunsAsAdministrator(); // the token holds the Administrators group, enabled
int RunsAsSystemAccount(); // LocalSystem, LocalService, NetworkService: no user of their own
int DescriptorLetsOthers(const BYTE *descriptor, DWORD size, DWORD rights);
int NonAdministratorsMay(HANDLE object, DWORD rights);      // the handle has READ_CONTROL
int PathHeldByAdministrators(const char *path);             // nothing on the way can be replaced
int FolderHeldByAdministrators(const char *folder);         // and nothing can be added to it
DWORD AdministratorsOnlySecurity(BYTE *buffer, DWORD size); // a descriptor; its size, or 0

// Folder tokens at the start of entry paths: TOKEN_REPLACED when the one a path holds was
// replaced by the folder it names here, TOKEN_NONE when it holds none (or the block allows
// none), TOKEN_UNKNOWN when this system cannot name it.
enum { TOKEN_UNKNOWN, TOKEN_NONE, TOKEN_REPLACED, TOKEN_OTHER_ACCOUNT };
int ExpandFolderToken(char *path);

// Protected registry keys and values: 1 when a key entry must not delete the key below root,
// or a value entry the value name of key.
int IsProtectedKey(HKEY root, const char *path);
int IsProtectedValue(HKEY root, const char *key, const char *name);

#endif
