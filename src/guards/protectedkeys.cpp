// Protected registry keys and values: a key entry deletes a whole tree, so a damaged or careless
// block that names a key the system or every other program relies on must not reach it, nor may
// a value entry delete a value the system needs to start or to run programs. As with protected
// folders, the test compares names: case is ignored (as the registry ignores it), and so are a
// trailing backslash and doubled backslashes, which the registry reads as one. A key is tested by
// the name it has in the view that every alias leads to: a user's hive under HKEY_USERS reads as
// HKEY_CURRENT_USER (its _Classes hive as the classes), a Wow6432Node view as the key it mirrors,
// a numbered control set as the current one. A key below a protected one is not protected unless
// its row says so.
#include "guards.h"

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
    // Drivers, services and the machine's configuration: no application owns any of it, but
    // for the event sources below eventLogKey.
    {"System", KEY_AND_SUBTREE},
};

// An application's event source, System\...\EventLog\<log>\<source>, and what lies below it
// may go; the logs themselves and everything else below System stay. A service is removed by
// the application's own clean-up program, never by a key entry.
static const char eventLogKey[] = "System\\CurrentControlSet\\Services\\EventLog";

// Values, in the view of their key, that the system needs to start a session or any program.
struct ProtectedValue {
    const char *key;
    const char *name;
};

static const ProtectedValue protectedValues[] = {
    // The programs that make a user's session and desktop.
    {"Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon", "Shell"},
    {"Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon", "Userinit"},
    // What the system runs at boot, before anything else.
    {"System\\CurrentControlSet\\Control\\Session Manager", "BootExecute"},
    // The search path, program extensions and command interpreter of every process.
    {"System\\CurrentControlSet\\Control\\Session Manager\\Environment", "Path"},
    {"System\\CurrentControlSet\\Control\\Session Manager\\Environment", "PATHEXT"},
    {"System\\CurrentControlSet\\Control\\Session Manager\\Environment", "ComSpec"},
    // Where every program's files are: the protected folders are read from them too.
    {"Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir"},
    {"Software\\Microsoft\\Windows\\CurrentVersion", "CommonFilesDir"},
};

// Default values of class keys that start programs and scripts: the file type of each
// executable extension and the open command of each type. Protected under HKEY_CLASSES_ROOT
// and under Software\Classes of any root.
static const char *const protectedClassValues[] = {
    ".exe",
    ".com",
    ".bat",
    ".cmd",
    ".pif",
    ".scr",
    "exefile\\shell\\open\\command",
    "comfile\\shell\\open\\command",
    "batfile\\shell\\open\\command",
    "cmdfile\\shell\\open\\command",
    "piffile\\shell\\open\\command",
    "scrfile\\shell\\open\\command",
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

// Whether [p, q) is the component name, case folded; a name ending in '#' takes any three
// digits there.
static int IsComponent(const char *p, const char *q, const char *name) {
    for (; *name; name++) {
        if (p == q)
            return 0;
        if (*name == '#') {
            if (*p < '0' || *p > '9')
                return 0;
            p++;
            continue;
        }
        const char *n = name;
        if (TakeFolded(&p) != TakeFolded(&n))
            return 0;
    }
    return p == q;
}

// The key's name in the view every alias leads to, components joined by one backslash, in
// view (at least as long as path). Returns 0 for a path that names a whole hive or root.
// *classes tells that the view is relative to the classes (HKEY_CLASSES_ROOT).
static int MakeView(HKEY root, const char *path, char *view, int *classes) {
    *classes = root == HKEY_CLASSES_ROOT;
    const char *p = path;
    DWORD n = 0, index = 0;
    const char *first = 0, *second = 0;
    if (root == HKEY_USERS) {
        // A user's hive reads as that user's HKEY_CURRENT_USER; its _Classes hive, as the
        // user's classes.
        while (*p == '\\')
            p++;
        const char *q = p;
        while (*q && *q != '\\')
            q++;
        if (q == p)
            return 0;
        DWORD length = (DWORD)(q - p);
        *classes = length > 8 && IsComponent(q - 8, q, "_Classes");
        p = q;
    }
    for (;;) {
        while (*p == '\\')
            p++;
        if (!*p)
            break;
        const char *q = p;
        while (*q && *q != '\\')
            q++;
        // Wow6432Node: the 32-bit view of the classes or of Software mirrors the key itself.
        int mirror =
            IsComponent(p, q, "Wow6432Node") &&
            ((index == 0 && *classes) || (index == 1 && IsComponent(first, second, "Software")) ||
             (index == 2 && IsComponent(first, second, "Software") &&
              MatchKey(second + 1, q, "Classes") == p));
        if (!mirror) {
            if (n)
                view[n++] = '\\';
            // ControlSet001 and the like: the control set that CurrentControlSet names.
            if (index == 1 && IsComponent(first, second, "System") &&
                IsComponent(p, q, "ControlSet###")) {
                CopyBytes(view + n, "CurrentControlSet", 17);
                n += 17;
            } else {
                CopyBytes(view + n, p, (DWORD)(q - p));
                n += (DWORD)(q - p);
            }
        }
        if (index == 0) {
            first = p;
            second = q;
        }
        index++;
        p = q;
    }
    view[n] = 0;
    return 1;
}

// The view of a path that fits the buffer; a longer one names no key the registry holds and is
// treated as protected.
#define VIEW_SIZE (SCRATCH_SIZE + 17)

// Whether the view, below HKEY_CLASSES_ROOT or below Software\Classes of any root, is one
// of the table's class keys.
static int IsClassKey(int classes, const char *view, const char *const *table, DWORD count) {
    const char *end = view + TextLength(view);
    const char *rest[2] = {classes ? view : 0, MatchKey(view, end, classesKey)};
    for (DWORD c = 0; c < 2; c++)
        for (DWORD i = 0; rest[c] && i < count; i++)
            if (MatchKey(rest[c], end, table[i]) == end)
                return 1;
    return 0;
}

static int IsProtectedView(int classes, const char *path) {
    const char *end = path + TextLength(path);
    // Nothing but separators names the root itself.
    if (SkipSeparators(path, end) == end)
        return 1;
    if (!classes) {
        const char *source = MatchKey(path, end, eventLogKey);
        int eventSource = source && source != end && !IsOneComponent(source, end);
        for (DWORD i = 0; i < sizeof protectedKeys / sizeof protectedKeys[0]; i++) {
            const char *rest = MatchKey(path, end, protectedKeys[i].key);
            if (!rest)
                continue;
            int extent = protectedKeys[i].extent;
            if (rest == end || (extent == KEY_AND_SUBTREE && !eventSource) ||
                (extent == KEY_AND_CHILDREN && IsOneComponent(rest, end)))
                return 1;
        }
    }
    return IsClassKey(classes, path, protectedClasses,
                      sizeof protectedClasses / sizeof protectedClasses[0]);
}

int IsProtectedKey(HKEY root, const char *path) {
    char view[VIEW_SIZE];
    int classes;
    if (TextLength(path) >= SCRATCH_SIZE || !MakeView(root, path, view, &classes))
        return 1;
    return IsProtectedView(classes, view);
}

int IsProtectedValue(HKEY root, const char *key, const char *name) {
    char view[VIEW_SIZE];
    int classes;
    if (TextLength(key) >= SCRATCH_SIZE || !MakeView(root, key, view, &classes))
        return 0; // a value of a root or hive itself
    const char *end = view + TextLength(view);
    if (!classes) {
        for (DWORD i = 0; i < sizeof protectedValues / sizeof protectedValues[0]; i++)
            if (MatchKey(view, end, protectedValues[i].key) == end &&
                NamesEqual(name, protectedValues[i].name))
                return 1;
    }
    return !name[0] && IsClassKey(classes, view, protectedClassValues,
                                  sizeof protectedClassValues / sizeof protectedClassValues[0]);
}
