// The loader: reads the tagged records appended to the executable into the entry lists,
// the string table and the options record.
#include "data.h"

// A cursor over one record's payload. No read leaves the record: a record whose entries
// do not fit inside its declared length is refused. With a read-ahead buffer the record is
// read in a few large pieces instead of one call per field; the buffer never holds more
// than the record's bytes that are still to come.
struct RecordCursor {
    HANDLE file;
    DWORD left;   // bytes of the record not yet taken, buffered ones included
    BYTE *ahead;  // the read-ahead buffer, or null: every field is read by itself
    DWORD size;   // its capacity
    DWORD next;   // first buffered byte not yet taken
    DWORD filled; // end of the buffered bytes
};

#define READ_AHEAD_SIZE 16384

static int Take(RecordCursor *cursor, void *buffer, DWORD count) {
    if (count == 0) // an entry kind without that field: no read
        return 1;
    if (count > cursor->left)
        return 0;
    if (!cursor->ahead) {
        if (ReadExactly(cursor->file, buffer, count))
            return 0;
        cursor->left -= count;
        return 1;
    }
    BYTE *target = (BYTE *)buffer;
    while (count) {
        if (cursor->next == cursor->filled) {
            // Nothing is buffered, so every byte left is still in the file.
            DWORD piece = cursor->left < cursor->size ? cursor->left : cursor->size;
            if (ReadExactly(cursor->file, cursor->ahead, piece))
                return 0;
            cursor->next = 0;
            cursor->filled = piece;
        }
        DWORD part = cursor->filled - cursor->next;
        if (part > count)
            part = count;
        CopyBytes(target, cursor->ahead + cursor->next, part);
        cursor->next += part;
        cursor->left -= part;
        target += part;
        count -= part;
    }
    return 1;
}

static int Skip(RecordCursor *cursor, DWORD count) {
    if (count > cursor->left)
        return 0;
    DWORD buffered = cursor->filled - cursor->next;
    if (count <= buffered) {
        cursor->next += count;
    } else {
        if (!SetFilePosition(cursor->file, GetFilePosition(cursor->file) + count - buffered))
            return 0;
        cursor->next = cursor->filled = 0;
    }
    cursor->left -= count;
    return 1;
}

static int HoldsZero(const char *text, DWORD count) {
    for (DWORD i = 0; i < count; i++)
        if (text[i] == 0)
            return 1;
    return 0;
}

// Reads one counted text into the scratch buffer behind the texts already there. A text
// that does not fit is read past and the entry dropped: a cut path names another file. So
// is a text with a zero byte inside: it ends early, and what follows would be taken for
// the next text.
static int ReadEntryText(RecordCursor *cursor, char *scratch, DWORD size, DWORD *used, int *keep) {
    WORD count;
    if (!Take(cursor, &count, 2))
        return 0;
    if (!*keep || *used + count + 1 > size) {
        *keep = 0;
        return Skip(cursor, count);
    }
    if (!Take(cursor, scratch + *used, count))
        return 0;
    if (HoldsZero(scratch + *used, count))
        *keep = 0;
    scratch[*used + count] = 0;
    *used += count + 1;
    return 1;
}

// The slots a list of `used` entries has: the next power of two, at least 16. A list grows
// by doubling, so a block of many small records moves its list a few times rather than
// once per record (which cost time in the square of the record count).
static DWORD SlotsFor(DWORD used) {
    DWORD slots = 16;
    while (slots < used)
        slots *= 2;
    return slots;
}

// Grows a list so that count more entries fit behind the used ones.
static int MakeRoom(void **list, DWORD used, DWORD count) {
    DWORD needed = used + count;
    if (needed < used || needed > 0x10000000)
        return 0;
    if (*list && needed <= SlotsFor(used))
        return 1; // the list was made with SlotsFor(n) slots for some n >= used
    DWORD size = SlotsFor(needed) * sizeof(void *);
    if (!*list)
        return AllocateZeroed(list, size);
    return ResizeMemory(list, size);
}

// A refused record leaves no entries behind: the list count was never raised for them.
static void DropEntries(void **list, DWORD from, DWORD to) {
    for (DWORD i = from; i < to; i++)
        ReleaseMemory(&list[i]);
}

// How one kind of list entry is stored: up to two fixed fields before its texts (a folder
// entry's levels, a registry entry's root, both for an empty-key entry), one or two counted
// texts, a fixed field after them (a file entry's flags); and how the entry block is filled
// once its texts are in place.
struct EntryKind {
    DWORD leadSize;
    DWORD secondLeadSize;
    DWORD textCount;
    DWORD trailSize;
    DWORD fixedSize; // the entry's fields in memory; its texts follow them
    void (*fill)(void *entry, DWORD field, DWORD second, char *texts);
};

static char *SecondText(char *texts) {
    return texts + TextLength(texts) + 1;
}

static void FillFileEntry(void *block, DWORD flags, DWORD, char *texts) {
    FileEntry *entry = (FileEntry *)block;
    entry->flags = (BYTE)flags;
    entry->folder = texts;
    entry->name = SecondText(texts);
}

static void FillFolderEntry(void *block, DWORD levels, DWORD, char *texts) {
    FolderEntry *entry = (FolderEntry *)block;
    entry->levels = levels;
    entry->folder = texts;
    entry->file = SecondText(texts);
}

static void FillRegistryEntry(void *block, DWORD root, DWORD, char *texts) {
    RegistryEntry *entry = (RegistryEntry *)block;
    entry->root = root;
    entry->path = texts;
}

static void FillEmptyKeyEntry(void *block, DWORD levels, DWORD root, char *texts) {
    EmptyKeyEntry *entry = (EmptyKeyEntry *)block;
    entry->levels = levels;
    entry->root = root;
    entry->path = texts;
}

static const EntryKind fileKind = {0, 0, 2, 1, sizeof(FileEntry), FillFileEntry};
static const EntryKind folderKind = {1, 0, 2, 0, sizeof(FolderEntry), FillFolderEntry};
static const EntryKind registryKind = {4, 0, 1, 0, sizeof(RegistryEntry), FillRegistryEntry};
static const EntryKind emptyKeyKind = {1, 4, 1, 0, sizeof(EmptyKeyEntry), FillEmptyKeyEntry};

// Reads one list record onto the end of a list. The entry count must leave room for that
// many of the smallest entries in the record, so a damaged count cannot ask for a huge
// list; the list's count is raised only when the whole record was read.
static int ReadEntries(HANDLE file, DWORD length, const EntryKind *kind, void ***list,
                       DWORD *listCount) {
    RecordCursor cursor = {file, length, 0, 0, 0, 0};
    DWORD smallest =
        4 + kind->leadSize + kind->secondLeadSize + 2 * kind->textCount + kind->trailSize;
    DWORD count, made = 0;
    char *scratch = 0;
    int code = LOAD_UNREADABLE;
    if (!Take(&cursor, &count, 4) || count > cursor.left / (smallest - 4))
        return LOAD_UNREADABLE;
    if (count == 0)
        return LOAD_OK;
    // The read-ahead shares the scratch buffer's block and is no larger than the record; nor
    // is the scratch buffer larger than one entry's texts could be, with their terminators,
    // so a small record never takes the whole of it.
    cursor.size = cursor.left < READ_AHEAD_SIZE ? cursor.left : READ_AHEAD_SIZE;
    DWORD scratchSize = cursor.left + kind->textCount;
    if (scratchSize > SCRATCH_SIZE)
        scratchSize = SCRATCH_SIZE;
    if (!MakeRoom((void **)list, *listCount, count) ||
        !AllocateZeroed((void **)&scratch, scratchSize + cursor.size))
        return LOAD_NO_MEMORY;
    cursor.ahead = (BYTE *)scratch + scratchSize;
    for (DWORD i = 0; i < count; i++) {
        DWORD used = 0, field = 0, second = 0;
        int keep = 1;
        if (!Take(&cursor, &field, kind->leadSize) || !Take(&cursor, &second, kind->secondLeadSize))
            goto done;
        for (DWORD t = 0; t < kind->textCount; t++)
            if (!ReadEntryText(&cursor, scratch, scratchSize, &used, &keep))
                goto done;
        if (!Take(&cursor, &field, kind->trailSize))
            goto done;
        if (!keep) {
            // What it named is not known, and stays: counted as left.
            ReportItem(ITEM_LEFT, "entry skipped, a text too long or holding a zero byte", 0);
            continue;
        }
        void *entry;
        if (!AllocateZeroed(&entry, kind->fixedSize + used)) {
            code = LOAD_NO_MEMORY;
            goto done;
        }
        char *texts = (char *)entry + kind->fixedSize;
        CopyBytes(texts, scratch, used);
        kind->fill(entry, field, second, texts);
        (*list)[*listCount + made++] = entry;
    }
    code = LOAD_OK;
done:
    ReleaseMemory((void **)&scratch);
    if (code != LOAD_OK)
        DropEntries(*list, *listCount, *listCount + made);
    else
        *listCount += made;
    return code;
}

int ReadFileEntries(HANDLE file, DWORD length) {
    return ReadEntries(file, length, &fileKind, (void ***)&fileEntries, &fileEntryCount);
}

int ReadFolderEntries(HANDLE file, DWORD length) {
    return ReadEntries(file, length, &folderKind, (void ***)&folderEntries, &folderEntryCount);
}

int ReadRegistryEntries(HANDLE file, DWORD length) {
    return ReadEntries(file, length, &registryKind, (void ***)&registryEntries,
                       &registryEntryCount);
}

int ReadEmptyKeyEntries(HANDLE file, DWORD length) {
    return ReadEntries(file, length, &emptyKeyKind, (void ***)&emptyKeyEntries,
                       &emptyKeyEntryCount);
}

static void FreeTable(char ***table) {
    if (!*table)
        return;
    for (char **slot = *table; *slot; slot++)
        ReleaseMemory((void **)slot);
    ReleaseMemory((void **)table);
}

// Every table of the message texts is kept until the block is read whole, with the languages
// record's list; then the table the user reads becomes stringTable and the rest go.
static char ***textTables;   // the tables of the last string-table record; null: one without texts
static DWORD textTableCount; // how many
static WORD *tableLanguages; // the languages record: one LANGID per table, table 0's first
static DWORD languageCount;
static DWORD recordedCodePage; // the code page record's, 0 without one

static void FreeTextTables() {
    for (DWORD i = 0; i < textTableCount; i++)
        FreeTable(&textTables[i]);
    ReleaseMemory((void **)&textTables);
    textTableCount = 0;
}

// One table: its texts, or null when it has none. A text longer than what is left of the
// record is refused before its block is made, so a damaged length cannot make the loader
// allocate what is not there. Out of memory, the texts read so far stay.
static int ReadTable(RecordCursor *cursor, char ***table) {
    WORD stringCount, size;
    if (!Take(cursor, &stringCount, 2) || stringCount > cursor->left / 2)
        return LOAD_UNREADABLE;
    if (stringCount == 0)
        return LOAD_OK;
    if (!AllocateZeroed((void **)table, (stringCount + 1) * sizeof(char *)))
        return LOAD_NO_MEMORY;
    for (DWORD i = 0; i < stringCount; i++) {
        if (!Take(cursor, &size, 2) || size > cursor->left) {
            FreeTable(table);
            return LOAD_UNREADABLE;
        }
        if (!AllocateZeroed((void **)&(*table)[i], size + 1))
            return LOAD_NO_MEMORY;
        if (!Take(cursor, (*table)[i], size)) {
            FreeTable(table);
            return LOAD_UNREADABLE;
        }
    }
    return LOAD_OK;
}

// A record whose first table has texts replaces the tables read before, once that table is
// whole; a first table cut short is refused and the earlier texts stay. A later table that
// does not fit the record ends the reading there: it and those after it are never shown, as
// a program that reads only the first table never looked at them. Out of memory, the texts
// read so far report it.
int ReadStringTable(HANDLE file, DWORD length) {
    RecordCursor cursor = {file, length, 0, 0, 0, 0};
    WORD tableCount;
    char ***tables = 0;
    if (!Take(&cursor, &tableCount, 2))
        return LOAD_UNREADABLE;
    if (tableCount == 0)
        return LOAD_OK;
    // Each table takes two bytes at least: the list follows the bytes present.
    DWORD slots = tableCount < cursor.left / 2 ? tableCount : cursor.left / 2;
    if (slots == 0)
        return LOAD_UNREADABLE;
    if (!AllocateZeroed((void **)&tables, slots * sizeof(char **)))
        return LOAD_NO_MEMORY;
    int code = ReadTable(&cursor, &tables[0]);
    if (!tables[0]) {
        ReleaseMemory((void **)&tables); // no texts: the earlier ones stay
        return code;
    }
    DWORD count = 1;
    while (code == LOAD_OK && count < slots) {
        code = ReadTable(&cursor, &tables[count]);
        if (code != LOAD_UNREADABLE)
            count++;
    }
    FreeTextTables();
    textTables = tables;
    textTableCount = count;
    return code == LOAD_UNREADABLE ? LOAD_OK : code;
}

// The languages record: one LANGID per table. A later one replaces it.
static int ReadLanguages(HANDLE file, DWORD length) {
    RecordCursor cursor = {file, length, 0, 0, 0, 0};
    WORD count;
    WORD *languages = 0;
    if (!Take(&cursor, &count, 2) || count > cursor.left / 2)
        return LOAD_UNREADABLE;
    if (count && !AllocateMemory((void **)&languages, count * sizeof(WORD)))
        return LOAD_NO_MEMORY;
    if (!Take(&cursor, languages, count * sizeof(WORD))) {
        ReleaseMemory((void **)&languages);
        return LOAD_UNREADABLE;
    }
    ReleaseMemory((void **)&tableLanguages);
    tableLanguages = languages;
    languageCount = count;
    return LOAD_OK;
}

static int ReadCodePage(HANDLE file, DWORD length) {
    RecordCursor cursor = {file, length, 0, 0, 0, 0};
    DWORD page;
    if (!Take(&cursor, &page, 4))
        return LOAD_UNREADABLE;
    recordedCodePage = page;
    return LOAD_OK;
}

// The user's table: the first of the user's own language, else the first of its primary
// language (German for Austrian German), else table 0. A language of 0 is never chosen.
DWORD ChooseLanguage(const WORD *languages, DWORD count, WORD user) {
    static const WORD masks[] = {0xFFFF, 0x3FF}; // the whole LANGID, then the primary language
    for (DWORD m = 0; m < 2; m++)
        for (DWORD i = 0; i < count; i++)
            if (languages[i] && (languages[i] & masks[m]) == (user & masks[m]))
                return i;
    return 0;
}

static DWORD TableLength(char **table) {
    DWORD n = 0;
    while (table && table[n])
        n++;
    return n;
}

// Keeps the table the user reads as stringTable; the others go. The languages record names
// the tables by their place: where it names fewer, the rest have no language and are never
// chosen; where it names more, the rest are ignored. A table with fewer texts than table 0
// is never chosen, so that no question table 0 asks goes unasked.
static void KeepUserTexts() {
    DWORD count = languageCount < textTableCount ? languageCount : textTableCount;
    DWORD least = textTableCount ? TableLength(textTables[0]) : 0;
    for (DWORD i = 0; i < count; i++)
        if (TableLength(textTables[i]) < least)
            tableLanguages[i] = 0;
    DWORD chosen = ChooseLanguage(tableLanguages, count, UserLanguage());
    rightToLeft = chosen < count && IsRightToLeft(tableLanguages[chosen]);
    if (textTableCount) {
        FreeTable(&stringTable);
        stringTable = textTables[chosen];
        textTables[chosen] = 0;
    }
    FreeTextTables();
    ReleaseMemory((void **)&tableLanguages);
    languageCount = 0;
}

int ReadRecordPayload(HANDLE file, const RecordHeader *header, BYTE **block, DWORD *length) {
    if (length)
        *length = header->length;
    if (header->flags & 1)
        return LOAD_OPTIONS_REFUSED;
    if (!AllocateMemory((void **)block, header->length))
        return LOAD_OPTIONS_NO_MEMORY;
    if (ReadExactly(file, *block, header->length)) {
        ReleaseMemory((void **)block);
        return LOAD_OPTIONS_REFUSED;
    }
    return LOAD_OK;
}

static int ReadRecords(HANDLE file) {
    DWORD fileSize = GetFileLength(file);
    RecordHeader header;
    // A seek that fails leaves the file at its start: the executable's own header would be
    // read as the block.
    if (!SetFilePosition(file, uninstallLocator.uninstallDataOffset))
        return LOAD_UNREADABLE;
    for (;;) {
        if (ReadExactly(file, &header, sizeof header))
            return LOAD_UNREADABLE;
        if (header.length != 0) {
            DWORD payload = GetFilePosition(file);
            DWORD inFile = fileSize > payload ? fileSize - payload : 0;
            int code = LOAD_OK;
            // A payload that runs past the end of the file: the next header cannot be read.
            if (header.length > inFile && header.tag != TAG_END && header.tag != TAG_OPTIONS)
                return LOAD_UNREADABLE;
            switch (header.tag) {
            case TAG_STRINGS:
                code = ReadStringTable(file, header.length);
                break;
            case TAG_FILES:
                code = ReadFileEntries(file, header.length);
                break;
            case TAG_FOLDERS:
                code = ReadFolderEntries(file, header.length);
                break;
            case TAG_REGISTRY:
                code = ReadRegistryEntries(file, header.length);
                break;
            case TAG_LANGUAGES:
                code = ReadLanguages(file, header.length);
                break;
            case TAG_CODEPAGE:
                code = ReadCodePage(file, header.length);
                break;
            case TAG_EMPTY_KEYS:
                code = ReadEmptyKeyEntries(file, header.length);
                break;
            case TAG_OPTIONS:
                ReleaseMemory((void **)&optionsRecord);
                optionsRecordSize = 0;
                if (header.length > inFile)
                    return LOAD_OPTIONS_REFUSED; // it could not be read whole
                code = ReadRecordPayload(file, &header, &optionsRecord, &optionsRecordSize);
                if (code != LOAD_OK)
                    optionsRecordSize = 0;
                break;
            }
            if (code != LOAD_OK)
                return code;
            if (header.tag == TAG_END)
                return LOAD_OK;
            if (!SetFilePosition(file, payload + header.length))
                return LOAD_UNREADABLE;
        }
        if (header.tag == TAG_END)
            return LOAD_OK;
    }
}

int LoadUninstallData() {
    char *message = 0;
    if (uninstallLocator.uninstallDataOffset == 0)
        return 0;
    DWORD n = SysGetModuleName(modulePath, PATH_SIZE);
    if (n == 0 || n >= PATH_SIZE)
        return 0;
    HANDLE file = OpenExistingFile(modulePath, OPEN_READ);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    recordedCodePage = 0;
    int code = ReadRecords(file);
    CloseFile(file);
    KeepUserTexts();
    if (code == LOAD_OK)
        code = ConvertBlockNames(recordedCodePage);
    // The texts read so far report a failure, in UTF-8 too.
    if (ConvertBlockTexts(recordedCodePage) && code == LOAD_OK)
        return 1;
    if (code == LOAD_OK)
        code = LOAD_NO_MEMORY;
    if (!AllocateZeroed((void **)&message, TEXT_SIZE))
        return 0;
    FormatMessageText(message, code, modulePath);
    ShowMessage(message, MB_OK | MB_ICONINFORMATION);
    ReleaseMemory((void **)&message);
    return 0;
}

void FreeFileEntries() {
    DropEntries((void **)fileEntries, 0, fileEntryCount);
    ReleaseMemory((void **)&fileEntries);
    fileEntryCount = 0;
}

void FreeFolderEntries() {
    DropEntries((void **)folderEntries, 0, folderEntryCount);
    ReleaseMemory((void **)&folderEntries);
    folderEntryCount = 0;
}

void FreeRegistryEntries() {
    DropEntries((void **)registryEntries, 0, registryEntryCount);
    ReleaseMemory((void **)&registryEntries);
    registryEntryCount = 0;
    DropEntries((void **)emptyKeyEntries, 0, emptyKeyEntryCount);
    ReleaseMemory((void **)&emptyKeyEntries);
    emptyKeyEntryCount = 0;
}

void FreeStringTable() {
    FreeTable(&stringTable);
    FreeTextTables();
    ReleaseMemory((void **)&tableLanguages);
    languageCount = 0;
}

void FreeUninstallData() {
    FreeRegistryEntries();
    FreeFolderEntries();
    FreeFileEntries();
    ReleaseMemory((void **)&optionsRecord);
    optionsRecordSize = 0;
    FreeStringTable();
}
