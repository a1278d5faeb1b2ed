// The data room: the uninstall data block, its file helpers, the message texts and the
// removal log. It calls only the common helpers below it.
#ifndef VANISH_DATA_H
#define VANISH_DATA_H

#include "../common/common.h"

enum {
    TAG_STRINGS = 0x1234,
    TAG_FILES = 0x1235,
    TAG_FOLDERS = 0x1236,
    TAG_REGISTRY = 0x1237,
    TAG_OPTIONS = 0x123A,
    TAG_LANGUAGES = 0x1240,  // the language of each table of the message texts
    TAG_CODEPAGE = 0x1241,   // the code page of a legacy block's texts
    TAG_EMPTY_KEYS = 0x1242, // keys removed only when empty; older readers skip the record
    TAG_END = 0x7F7F,
};

// Loader result codes double as the numbers of the message texts that report them.
enum {
    LOAD_OK = 0,
    LOAD_OPTIONS_REFUSED = 1,
    LOAD_OPTIONS_NO_MEMORY = 5,
    LOAD_NO_MEMORY = 7,
    LOAD_UNREADABLE = 8,
};

#pragma pack(push, 1)
struct RecordHeader {
    WORD tag;
    BYTE flags;
    BYTE reserved;
    DWORD length;
};
#pragma pack(pop)

// Loader.
int LoadUninstallData();
void FreeUninstallData();
int ReadStringTable(HANDLE file, DWORD length);
int ReadFileEntries(HANDLE file, DWORD length);
int ReadFolderEntries(HANDLE file, DWORD length);
int ReadRegistryEntries(HANDLE file, DWORD length);
// The names and message texts as UTF-8, from the block's encoding (recordedPage: the code
// page record's, 0 without one). Names that are no exact text of it are dropped and logged.
int ConvertBlockNames(DWORD recordedPage); // a loader code
int ConvertBlockTexts(DWORD recordedPage); // 0: no memory
// The table shown: the first of the user's language, of its primary language, or table 0.
DWORD ChooseLanguage(const WORD *languages, DWORD count, WORD user);
int ReadEmptyKeyEntries(HANDLE file, DWORD length);
int ReadRecordPayload(HANDLE file, const RecordHeader *header, BYTE **block, DWORD *length);
void FreeFileEntries();
void FreeFolderEntries();
void FreeRegistryEntries();
void FreeStringTable();

// The options record, read safely whatever was stored.
DWORD GetOptionFlags();
const char *GetProgramName();  // null when none
const char *GetDocumentName(); // null when none

// File helpers.
enum {
    OPEN_READ = 0,
    OPEN_READ_WRITE = 1,
};
// The files the uninstaller keeps beside itself, named after it.
#define JOURNAL_EXTENSION ".released" // the shared counts it lowered
#define LOCK_EXTENSION ".lock"        // one copy at a time; it goes with the process
int GetOwnFilePath(char *buffer, const char *extension); // PATH_SIZE bytes
HANDLE OpenExistingFile(const char *name, int readWrite);
HANDLE CreateNewFile(const char *name);
int ReadExactly(HANDLE file, void *buffer, DWORD count); // 0 when every byte came
DWORD GetFilePosition(HANDLE file);
DWORD GetFileLength(HANDLE file);                 // low 32 bits; 0xFFFFFFFF on failure
int SetFilePosition(HANDLE file, DWORD position); // 1 when the file is there now
void CloseFile(HANDLE file);

// Message texts.
enum {
    MSG_CAPTION = 0,
    MSG_CONFIRM = 1,
    MSG_COMPLETE = 2,
    MSG_YES = 3,
    MSG_YES_TO_ALL = 4,
    MSG_NO = 5,
    MSG_NO_TO_ALL = 6,
    MSG_NO_MEMORY = 7,
    MSG_UNREADABLE = 8,
    MSG_READ_ONLY = 9,
    MSG_SHARED = 10,
    MSG_STATUS_FILES = 11,
    MSG_STATUS_FOLDERS = 12,
    MSG_STATUS_FILE_FOLDERS = 13,
    MSG_STATUS_REGISTRY = 14,
    MSG_IN_USE = 15,
    MSG_RESTART_NEEDED = 16, // instead of MSG_COMPLETE when something goes at restart
};

const char *GetMessageText(int number);
void FormatMessageText(char *buffer, int number, const char *argument);
int ShowMessage(const char *text, UINT style);

// The removal log (/L). Without an open log the Log functions do nothing; the Report
// functions always count the outcome and write "what: subject" when there is a log.
// The log in a folder, under a name of its own made there by create (CREATE_NEW); or in a
// file the caller has opened (fresh: it is new, and begins with the byte order mark).
int OpenRemovalLog(const char *folder, HANDLE (*create)(const char *path));
int UseRemovalLog(HANDLE file, int fresh);
void CloseRemovalLog();
int LogStart(const char *text);
void LogText(const char *text);  // byte for byte, never as a format; cut, not overrun
void LogBytes(const char *text); // the same, for text of a code page: beyond ASCII as \xNN
void LogNumber(DWORD value);
void LogSigned(int value);
void LogRoot(DWORD root);
void LogFinish(); // ends the line, writes it whole and flushes it
void ReportItem(int outcome, const char *what, const char *subject);
void ReportItemCode(int outcome, const char *what, DWORD code, const char *subject);
void ReportKey(int outcome, const char *what, DWORD error, DWORD root, const char *path);

#endif
