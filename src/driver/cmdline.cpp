// The command line: the tail after the program name, and the /Q, /X, /S and /L switches.
#include "driver.h"

// A quoted program name ends after its closing quote, an unquoted one before the first
// character of code 32 or less; the characters 1 to 32 that follow are skipped.
const char *SkipProgramName(const char *commandLine) {
    const unsigned char *p = (const unsigned char *)commandLine;
    if (!p)
        return "";
    if (*p == '"') {
        p++;
        while (*p && *p != '"')
            p++;
        if (*p == '"')
            p++;
    } else {
        while (*p > 32)
            p++;
    }
    while (*p && *p <= 32)
        p++;
    return (const char *)p;
}

// The path after /L=, kept in a block of its own; returns where the parse goes on. A path
// that does not fit is kept empty: the log then cannot go where it was asked, and says so.
static const char *TakeLogPath(const char *p) {
    char end = ' ';
    if (*p == '"')
        end = '"', p++;
    DWORD n = 0;
    while (p[n] && p[n] != end)
        n++;
    if (logPath || AllocateZeroed((void **)&logPath, PATH_SIZE)) {
        if (n < PATH_SIZE)
            CopyBytes(logPath, p, n);
        logPath[n < PATH_SIZE ? n : 0] = 0;
    }
    p += n;
    return *p == '"' ? p + 1 : p;
}

// Only the space separates switches; a tab is an ordinary character. The parse stops at
// the first word that is not a switch. /L=path gives the log a place: the path runs to the
// next blank, or between quotes, and is kept whole whatever it holds ("-" and "/" too).
// /N, a dry run, logs what a silent run would do and changes nothing.
void ParseCommandLine(const char *tail) {
    const char *p = tail;
    if (!p)
        return;
    while (*p == ' ')
        p++;
    while (*p == '-' || *p == '/') {
        char letter = p[1];
        if (!letter)
            return;
        if (letter >= 'a' && letter <= 'z')
            letter = (char)(letter - ('a' - 'A'));
        if (letter == 'Q')
            quietMode = 1;
        else if (letter == 'X')
            quietMode = bareMode = 1;
        else if (letter == 'S')
            quietMode = silentMode = 1;
        else if (letter == 'L')
            logMode = 1;
        else if (letter == 'N')
            quietMode = silentMode = logMode = dryRun = 1;
        p += 2;
        if (letter == 'L' && *p == '=')
            p = TakeLogPath(p + 1);
        while (*p && *p != ' ' && *p != '-' && *p != '/')
            p++;
        while (*p == ' ')
            p++;
    }
}
