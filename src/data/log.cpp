// The removal log (/L): one line of UTF-8 text per action, after a byte order mark so that
// every editor reads names in any script right, written to the temporary folder as the run
// goes. Each line is built whole in a fixed buffer, written with one WriteFile and
// flushed, so a run that dies leaves a log that ends at its last completed line.
#include "data.h"

#define LOG_NUMBERS 1000 // <name>.log, then <name>.1.log up to <name>.999.log
#define LOG_GUESSES 8    // then names no one can make ahead: <name>.<random hex>.log
#define LOG_TAIL 5       // "..." marking a cut line, then CR LF

static const char logExtension[] = ".log";
static const char cutMark[] = "...";
static const char lineEnd[] = "\r\n";
static const char subjectMark[] = ": ";
static const char byteOrderMark[] = "\xEF\xBB\xBF";
static const char untranslatable[] = " (a name this system's code page cannot hold)";

// The predefined root keys, by their value less 0x80000000.
static const char *const rootNames[] = {"HKCR", "HKCU", "HKLM", "HKU", "HKPD", "HKCC", "HKDD"};

// What a dry run (/N) says in place of what a run does: a line that would tell of a change
// tells that it would be made. Every other line reads as in a run.
static const char *const dryRunTexts[][2] = {
    {"file deleted", "would delete"},
    {"folder removed", "would remove folder"},
    {"key deleted", "would delete key"},
    {"value deleted", "would delete value"},
    {"key deleted, empty", "would delete key, empty"},
    {"file goes at restart", "would go at restart"},
    {"folder goes at restart", "folder would go at restart"},
    {"font unregistered", "would unregister font"},
    {"file kept, in use", "would be left, in use"},
    {"file kept, shared count now", "would keep, shared count then"},
    {"file kept, answered No", "would keep, shared, answered No"},
    {"file kept, shared, silent No", "would keep, shared, silent No"},
    {"file kept, read-only and No", "would keep, read-only and No"},
    {"file entry names a folder, kept", "would keep, file entry names a folder"},
    {"folder protected", "would keep, protected"},
    {"key protected", "would keep key, protected"},
    {"value protected", "would keep value, protected"},
    {"folder kept, not empty", "would keep, not empty"},
    {"key kept, not empty", "would keep key, not empty"},
    {"folder kept, holds the uninstaller", "would keep, holds the uninstaller"},
    {"folder left, error", "would leave folder, error"},
    {"folder still there", "would be left"},
    {"nothing removed, file in use", "would remove nothing, file in use"},
    {"not left for the restart, a name others could change",
     "would not leave for the restart, a name others could change"},
    {"file left to the self-removal", "would leave to the self-removal"},
};

static const char *DryRunText(const char *text) {
    if (!dryRun)
        return text;
    for (DWORD i = 0; i < sizeof dryRunTexts / sizeof dryRunTexts[0]; i++) {
        const char *a = dryRunTexts[i][0], *b = text;
        while (*a && *a == *b)
            a++, b++;
        if (!*a && !*b)
            return dryRunTexts[i][1];
    }
    return text;
}

#define STAMP_SIZE 32 // "2026-12-11T10:42:04.123+01:00 " and its terminator

static char *logLine; // the line being built, its stamp and TEXT_SIZE bytes of text
static DWORD logUsed;
static DWORD logLimit; // where the text of this line must stop, to leave room for the tail
static int logCut;

// Writes value in the base given (10 or 16) with its terminator; room for 11 bytes.
static void FormatNumber(char *text, DWORD value, DWORD base) {
    char digits[12];
    DWORD n = 0;
    do {
        DWORD digit = value % base;
        digits[n++] = (char)(digit < 10 ? '0' + digit : 'A' + digit - 10);
        value /= base;
    } while (value);
    for (DWORD i = 0; i < n; i++)
        text[i] = digits[n - 1 - i];
    text[n] = 0;
}

// "<folder><name>.log", "<folder><name>.<n>.log" for n from 1 to 999, and past those
// "<folder><name>.<random hexadecimal number>.log".
static int BuildLogName(char *buffer, const char *folder, const char *name, DWORD n) {
    char number[16];
    number[0] = 0;
    if (n) {
        number[0] = '.';
        if (n < LOG_NUMBERS)
            FormatNumber(number + 1, n, 10);
        else
            FormatNumber(number + 1, RandomNumber(), 16);
    }
    return CopyText(buffer, PATH_SIZE, folder) && AppendText(buffer, PATH_SIZE, name) &&
           AppendText(buffer, PATH_SIZE, number) && AppendText(buffer, PATH_SIZE, logExtension);
}

// The difference of local time to UTC, for the stamp of every line: "+01:00".
static void ZoneText(char *text) {
    TIME_ZONE_INFORMATION zone;
    DWORD which = GetTimeZoneInformation(&zone);
    LONG bias = zone.Bias + (which == TIME_ZONE_ID_DAYLIGHT   ? zone.DaylightBias
                             : which == TIME_ZONE_ID_STANDARD ? zone.StandardBias
                                                              : 0);
    DWORD minutes = bias > 0 ? (DWORD)bias : (DWORD)-bias;
    wsprintfA(text, "%c%02lu:%02lu", bias > 0 ? '-' : '+', minutes / 60, minutes % 60);
}

static char zone[8];

// The log takes the file given: fresh, it begins with the byte order mark; one that holds
// lines already gets the new ones after them.
int UseRemovalLog(HANDLE file, int fresh) {
    if (!AllocateMemory((void **)&logLine, STAMP_SIZE + TEXT_SIZE))
        return 0;
    removalLog = file;
    ZoneText(zone);
    DWORD written;
    if (fresh)
        WriteFile(file, byteOrderMark, sizeof byteOrderMark - 1, &written, 0);
    else
        SetFilePointer(file, 0, 0, FILE_END);
    return 1;
}

// Named after the executable, without its extension: uninstall.exe writes uninstall.log,
// or the first of uninstall.1.log, uninstall.2.log ... that does not exist yet, in the
// folder given. CREATE_NEW picks a free name and creates it in one step, so no other run's
// log is overwritten. The numbered names can all be made ahead by anyone who may write to
// the folder; a run that finds them taken tries a few random names, so that nobody can keep
// it from logging. create opens one name as the caller's checks require.
int OpenRemovalLog(const char *folder, HANDLE (*create)(const char *path)) {
    char module[PATH_SIZE];
    char name[PATH_SIZE];
    DWORD length = SysGetModuleName(module, PATH_SIZE);
    if (!length || length >= PATH_SIZE) {
        SetLastError(ERROR_INVALID_NAME);
        return 0;
    }
    char *base = FindLastBackslash(module);
    base = base ? base + 1 : module;
    char *dot = 0;
    for (char *p = base + 1; *p; p++)
        if (*p == '.')
            dot = p;
    if (dot)
        *dot = 0;
    for (DWORD n = 0; n < LOG_NUMBERS + LOG_GUESSES; n++) {
        if (!BuildLogName(name, folder, base, n)) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return 0;
        }
        HANDLE file = create(name);
        if (file != INVALID_HANDLE_VALUE) {
            if (UseRemovalLog(file, 1))
                return 1;
            CloseHandle(file);
            SysDeleteFile(name);
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return 0;
        }
        DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            return 0; // the folder cannot take a log at all
    }
    return 0;
}

void CloseRemovalLog() {
    if (removalLog)
        CloseHandle(removalLog);
    removalLog = 0;
    ReleaseMemory((void **)&logLine);
}

// Starts a line; 0, and nothing to do, when there is no log.
// Each line begins with the local time, to the millisecond, and its difference to UTC.
int LogStart(const char *text) {
    if (!removalLog)
        return 0;
    SYSTEMTIME now;
    GetLocalTime(&now);
    logUsed =
        (DWORD)wsprintfA(logLine, "%04u-%02u-%02uT%02u:%02u:%02u.%03u%s ", now.wYear, now.wMonth,
                         now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, zone);
    logLimit = logUsed + TEXT_SIZE - LOG_TAIL;
    logCut = 0;
    LogText(DryRunText(text));
    return 1;
}

// Texts go in byte for byte, never as a format. A control character, which no file name
// holds, becomes "?" so that a stored name cannot start a line of its own. A byte that is no
// part of a UTF-8 character is written as \xNN, so that the log stays UTF-8 whatever a block
// held; raw, every byte beyond ASCII is, for the text of a code page, whose bytes mean
// nothing as UTF-8. What does not fit is cut between two characters, and the line ends in
// "...".
static void PutText(const char *text, int raw) {
    if (!removalLog || !text)
        return;
    while (*text) {
        unsigned char c = (unsigned char)*text;
        DWORD count = raw && c >= 0x80 ? 0 : CharacterBytes(text); // 0: one byte as \xNN
        if (logUsed + (count ? count : 4) > logLimit) {
            logCut = 1;
            return;
        }
        if (!count) {
            logLine[logUsed++] = '\\';
            logLine[logUsed++] = 'x';
            FormatNumber(logLine + logUsed, c, 16); // two digits: the byte is 0x80 or above
            logUsed += 2;
            text++;
        }
        for (DWORD i = 0; i < count; i++, text++)
            logLine[logUsed++] = c < 32 ? '?' : *text;
    }
}

void LogText(const char *text) {
    PutText(text, 0);
}

void LogBytes(const char *text) {
    PutText(text, 1);
}

static void LogDigits(DWORD value, DWORD base) {
    char text[12];
    FormatNumber(text, value, base);
    LogText(text);
}

void LogNumber(DWORD value) {
    LogDigits(value, 10);
}

void LogSigned(int value) {
    if (value < 0) {
        LogText("-");
        LogDigits((DWORD)0 - (DWORD)value, 10);
    } else {
        LogDigits((DWORD)value, 10);
    }
}

// The root as its usual short name; any other value as a hexadecimal number.
void LogRoot(DWORD root) {
    DWORD index = root - 0x80000000;
    if (index < sizeof rootNames / sizeof rootNames[0]) {
        LogText(rootNames[index]);
    } else {
        LogText("0x");
        LogDigits(root, 16);
    }
}

void LogFinish() {
    if (!removalLog)
        return;
    if (logCut) {
        CopyBytes(logLine + logUsed, cutMark, sizeof cutMark - 1);
        logUsed += sizeof cutMark - 1;
    }
    CopyBytes(logLine + logUsed, lineEnd, sizeof lineEnd - 1);
    logUsed += sizeof lineEnd - 1;
    DWORD written;
    WriteFile(removalLog, logLine, logUsed, &written, 0);
    FlushFileBuffers(removalLog);
}

void ReportItem(int outcome, const char *what, const char *subject) {
    itemCounts[outcome]++;
    if (!LogStart(what))
        return;
    if (subject) {
        LogText(subjectMark);
        LogText(subject);
    }
    LogFinish();
}

void ReportItemCode(int outcome, const char *what, DWORD code, const char *subject) {
    itemCounts[outcome]++;
    if (!LogStart(what))
        return;
    LogText(" ");
    LogNumber(code);
    if (code == ERROR_NO_UNICODE_TRANSLATION)
        LogText(untranslatable);
    LogText(subjectMark);
    LogText(subject);
    LogFinish();
}

// A registry entry: its root, then its path as stored; a system error, when there is one,
// after the text as ", error N".
void ReportKey(int outcome, const char *what, DWORD error, DWORD root, const char *path) {
    itemCounts[outcome]++;
    if (!LogStart(what))
        return;
    if (error) {
        LogText(", error ");
        LogNumber(error);
        if (error == ERROR_NO_UNICODE_TRANSLATION)
            LogText(untranslatable);
    }
    LogText(subjectMark);
    LogRoot(root);
    LogText("\\");
    LogText(path);
    LogFinish();
}
