// Protected registry keys: a key entry deletes a whole tree, so a damaged or careless block
// that names a key the system or every other program relies on must not reach it. As with
// protected folders, the test compares strings: case is ignored (as the registry ignores it), and
// so are a trailing backslash and doubled backslashes, which the registry reads as one. A key below
// a protected one is not protected unless its row says so.
#include "removal.h"

// How far below its key a row reaches.
#define KEY_ONLY 0         // the key itself
#define KEY_AND_CHILDREN 1 // the key and every key directly below it
#define KEY_AND_SUBTREE 2  // the key and every key at any depth below it

struct ProtectedKey {
    const char *key;
    int extent;
};

// Keys protected under any root: HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, a user's hive, or
// any other key a block names as its root.
static const ProtectedKey protectedKeys[] = {
    // Every program's settings live below it.
    {"Software", KEY_ONLY},
    // The file types and COM classes of every program.
    {"Software\\Classes", KEY_ONLY},
    // The settings of the system and of every program from its maker.
    {"Software\\Microsoft", KEY_ONLY},
    // Settings that administrators impose on the machine and its users.
    {"Software\\Policies", KEY_ONLY},
    // The settings of every 32-bit program on a 64-bit system.
    {"Software\\Wow6432Node", KEY_ONLY},
    // The shell's and the system's own settings.
    {"Software\\Microsoft\\Windows", KEY_ONLY},
    // Shared lists of all programs: Uninstall, Run, SharedDLLs, Fonts, App Paths and the rest.
    // Only the entries below them belong to one application.
    {"Software\\Microsoft\\Windows\\CurrentVersion", KEY_AND_CHILDREN},
    // The NT family's own settings.
    {"Software\\Microsoft\\Windows NT", KEY_ONLY},
    // Its shared lists: Fonts, Winlogon, Image File Execution Options and the rest.
    {"Software\\Microsoft\\Windows NT\\CurrentVersion", KEY_AND_CHILDREN},
    // Drivers, services and the machine's configuration: no application owns any of it.
    {"System", KEY_AND_SUBTREE},
};

// Class keys that the shell and COM need to start any program or open any document. They
// are protected under HKEY_CLASSES_ROOT and under Software\Classes of any root.
static const char *const protectedClasses[] = {
    "CLSID",     // every COM class
    "Interface", // every COM interface and its proxies
    "TypeLib",   // every type library
    "AppID",     // every COM server's security and process settings
    "*",         // verbs and handlers of every file type
    "Folder",    // verbs and handlers of every shell folder
    "Directory", // verbs and handlers of every file-system folder
    "exefile",   // how programs are started
    ".exe",      // which file type a program is
};

static const char classesKey[] = "Software\\Classes";

static const char *SkipSeparators(const char *p, const char *end) {
    while (p < end && *p == '\\')
        p++;
    return p;
}

// Matches key, component by component, at the start of [p, end). Returns where the rest
// of the path begins, or null when the path does not begin with key. Runs of backslashes
// count as one separator: the registry opens Software\\Microsoft as Software\Microsoft.
static const char *MatchKey(const char *p, const char *end, const char *key) {
    p = SkipSeparators(p, end);
    for (;;) {
        // The table is ASCII; the path's characters are folded as the registry folds names,
        // so no other spelling of a letter slips past.
        for (; *key && *key != '\\'; key++) {
            const char *k = key;
            if (p == end || TakeFolded(&p) != TakeFolded(&k))
                return 0;
        }
        if (p < end && *p != '\\')
            return 0; // the path's component is longer
        p = SkipSeparators(p, end);
        if (!*key)
            return p;
        key++;
        if (p == end)
            return 0; // the path ends above the key
    }
}

// Whether [p, end) holds exactly one component.
static int IsOneComponent(const char *p, const char *end) {
    if (p == end)
        return 0;
    while (p < end && *p != '\\')
        p++;
    return SkipSeparators(p, end) == end;
}

int IsProtectedKey(HKEY root, const char *path) {
    const char *end = path + TextLength(path);
    // Nothing but separators names the root itself.
    if (SkipSeparators(path, end) == end)
        return 1;
    for (DWORD i = 0; i < sizeof protectedKeys / sizeof protectedKeys[0]; i++) {
        const char *rest = MatchKey(path, end, protectedKeys[i].key);
        if (!rest)
            continue;
        int extent = protectedKeys[i].extent;
        if (rest == end || extent == KEY_AND_SUBTREE ||
            (extent == KEY_AND_CHILDREN && IsOneComponent(rest, end)))
            return 1;
    }
    const char *classes[2] = {root == HKEY_CLASSES_ROOT ? path : 0,
                              MatchKey(path, end, classesKey)};
    for (DWORD c = 0; c < 2; c++) {
        if (!classes[c])
            continue;
        for (DWORD i = 0; i < sizeof protectedClasses / sizeof protectedClasses[0]; i++)
            if (MatchKey(classes[c], end, protectedClasses[i]) == end)
                return 1;
    }
    return 0;
}
