// The one name of a path: full, with ".", "..", forward slashes, doubled backslashes,
// trailing dots and spaces and short names resolved as the system resolves them, so that the
// protection tests see the name the system will act on. Literal and device paths ("\\?\",
// "\\.\", "\??\") and streams are refused: the system would not resolve them, or they name no
// plain file or folder.
#include "guards.h"

static int IsRefusedPrefix(const char *p) {
    return IsSlash(p[0]) && p[1] && p[2] && IsSlash(p[3]) &&
           ((IsSlash(p[1]) && (p[2] == '?' || p[2] == '.')) || (p[1] == '?' && p[2] == '?'));
}

// Short names made long where the system can (98/Me, 2000 and later): the longest part of
// the path that exists, and the rest as given. A wildcard could make the system find a
// name other than the one given, so a path with one stays as it is.
void ExpandLongNames(char *path) {
    char found[PATH_SIZE];
    for (const char *c = path; *c; c++)
        if (*c == '*' || *c == '?' || *c == '<' || *c == '>' || *c == '"')
            return;
    for (char *cut = path + TextLength(path); cut > path + 3;) {
        char kept = *cut;
        *cut = 0;
        DWORD n = SysGetPathForm(path, found, PATH_SIZE, 1);
        *cut = kept;
        if (n && n < PATH_SIZE) {
            if (AppendText(found, PATH_SIZE, cut) && FitsSystemPath(found))
                CopyText(path, PATH_SIZE, found);
            return;
        }
        while (--cut > path && *cut != '\\')
            ;
    }
}

int MakeCanonical(char *path, int longNames) {
    char full[PATH_SIZE];
    if (IsRefusedPrefix(path))
        return PATH_REFUSED;
    DWORD n = SysGetFullPath(path, full, PATH_SIZE);
    // A path the system cannot make full (a name its code page cannot hold, one too long)
    // is left as it is: each phase meets it as before, tries it or skips it, and reports why.
    if (!n || n >= PATH_SIZE || !FitsSystemPath(full))
        return PATH_AS_IT_IS;
    // A colon after the drive names a stream of a file or folder ("x::$INDEX_ALLOCATION" is
    // the folder x itself), never a plain file or folder.
    for (DWORD i = 2; full[i]; i++)
        if (full[i] == ':')
            return PATH_REFUSED;
    if (longNames)
        ExpandLongNames(full);
    CopyText(path, PATH_SIZE, full);
    return PATH_CANONICAL;
}
