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

// Only the space separates switches; a tab is an ordinary character. The parse stops at
// the first word that is not a switch.
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
        p += 2;
        while (*p && *p != ' ' && *p != '-' && *p != '/')
            p++;
        while (*p == ' ')
            p++;
    }
}
