// Folder tokens: a path in a block that allows them may begin with a folder's name in
// braces, such as "{programfiles}\Acme", which becomes the folder of that name on the
// system that runs the uninstaller. A 32-bit program's Program Files is the one for 32-bit
// programs on 64-bit Windows, where its installer put it.
#include "guards.h"
#include "../data/data.h"

// The names in the order of their sources: shell folder identifiers, or the Windows and
// System folders.
static const char tokenNames[] = "programfiles\0commonfiles\0programs\0commonprograms\0"
                                 "startmenu\0commonstartmenu\0desktop\0commondesktop\0"
                                 "startup\0commonstartup\0appdata\0localappdata\0"
                                 "commonappdata\0documents\0fonts\0windows\0system\0";
static const signed char tokenSources[] = {0x26,
                                           0x2B,
                                           0x02,
                                           0x17,
                                           0x0B,
                                           0x16,
                                           0x10,
                                           0x19,
                                           0x07,
                                           0x18,
                                           0x1A,
                                           0x1C,
                                           0x23,
                                           0x05,
                                           0x14,
                                           FROM_WINDOWS_DIRECTORY,
                                           FROM_SYSTEM_DIRECTORY};

// The tokens of one user's own folders, by their place above: programs, startmenu, desktop,
// startup, appdata, localappdata, documents. A system account has no user's folders: what
// the shell names for it is its own profile, not the user's whose application goes.
#define PER_USER_TOKENS (1 << 2 | 1 << 4 | 1 << 6 | 1 << 8 | 1 << 10 | 1 << 11 | 1 << 13)

// The token's name, written in any case, against one of ours in small letters.
static int IsTokenName(const char *name, const char *text, DWORD length) {
    DWORD i = 0;
    for (; i < length && name[i]; i++)
        if ((text[i] >= 'A' && text[i] <= 'Z' ? text[i] + 32 : text[i]) != name[i])
            return 0;
    return i == length && !name[i];
}

// Each token's folder, asked of the system once per run (a block names most of its entries
// by a few tokens) and kept from then on. 1 resolved, -1 not resolvable here, 0 not asked.
#define TOKEN_COUNT sizeof tokenSources
static signed char tokenState[TOKEN_COUNT];
static char *tokenFolders; // TOKEN_COUNT paths, allocated at the first token

// The token's folder into PATH_SIZE bytes; 0 when this system cannot name it. Without the
// memory to keep folders, the system is asked every time.
static int ResolveToken(DWORD i, char *folder) {
    if (!tokenFolders)
        AllocateZeroed((void **)&tokenFolders, TOKEN_COUNT * PATH_SIZE);
    char *kept = tokenFolders ? tokenFolders + i * PATH_SIZE : folder;
    if (!tokenFolders || !tokenState[i]) {
        // Shells before 95's Internet Explorer 4 update name no Program Files: the registry does.
        tokenState[i] = -1;
        if (GetSystemFolder(tokenSources[i], kept) || (i < 2 && GetRegistryFolder((int)i, kept))) {
            RemoveBackslash(kept); // only a folder that was found is text to read
            tokenState[i] = 1;
        }
    }
    return tokenState[i] > 0 && CopyText(folder, PATH_SIZE, kept);
}

int ExpandFolderToken(char *path) {
    char folder[PATH_SIZE];
    if (!(GetOptionFlags() & OPTION_FOLDER_TOKENS) || path[0] != '{')
        return TOKEN_NONE;
    DWORD end = 1;
    while (path[end] && path[end] != '}')
        end++;
    if (path[end] != '}' || (path[end + 1] && path[end + 1] != '\\'))
        return TOKEN_UNKNOWN;
    const char *name = tokenNames;
    for (DWORD i = 0; i < TOKEN_COUNT; i++, name += TextLength(name) + 1) {
        if (!IsTokenName(name, path + 1, end - 1))
            continue;
        if (((PER_USER_TOKENS >> i) & 1) && RunsAsSystemAccount())
            return TOKEN_OTHER_ACCOUNT;
        return ResolveToken(i, folder) && AppendText(folder, PATH_SIZE, path + end + 1) &&
                       FitsSystemPath(folder) && CopyText(path, PATH_SIZE, folder)
                   ? TOKEN_REPLACED
                   : TOKEN_UNKNOWN;
    }
    return TOKEN_UNKNOWN;
}
