// The block's names and texts in the program's one text form, UTF-8, once the block is read.
// A legacy block (no UTF-8 flag) holds them in a code page: the one its code page record
// names, where the system has it, else the system's ANSI code page. They are converted, so
// that no byte of a double-byte character is ever taken for a backslash or a letter. A UTF-8
// block's names are checked as they stand.
//
// A name (a path, a registry path, the program or the document) that is no exact text of its
// encoding names nothing for certain: its entry is dropped, logged with the reason, and
// counts as left. A message text is shown as well as it can be instead.
#include <stddef.h>

#include "data.h"

// Where an entry's texts lie: behind its fields, each ending in a zero byte. After a move
// the entry's pointers are set to the new copy. The key kinds have one text, a key path
// below the root held at rootAt.
struct TextLayout {
    DWORD fixedSize;
    DWORD textCount;
    void (*point)(void *entry, char *texts);
    DWORD rootAt;
};

static char *NextText(char *text) {
    return text + TextLength(text) + 1;
}

static void PointFileEntry(void *block, char *texts) {
    FileEntry *entry = (FileEntry *)block;
    entry->folder = texts;
    entry->name = NextText(texts);
}

static void PointFolderEntry(void *block, char *texts) {
    FolderEntry *entry = (FolderEntry *)block;
    entry->folder = texts;
    entry->file = NextText(texts);
}

static void PointRegistryEntry(void *block, char *texts) {
    ((RegistryEntry *)block)->path = texts;
}

static void PointEmptyKeyEntry(void *block, char *texts) {
    ((EmptyKeyEntry *)block)->path = texts;
}

static const TextLayout fileLayout = {sizeof(FileEntry), 2, PointFileEntry, 0};
static const TextLayout folderLayout = {sizeof(FolderEntry), 2, PointFolderEntry, 0};
static const TextLayout registryLayout = {sizeof(RegistryEntry), 1, PointRegistryEntry,
                                          offsetof(RegistryEntry, root)};
static const TextLayout emptyKeyLayout = {sizeof(EmptyKeyEntry), 1, PointEmptyKeyEntry,
                                          offsetof(EmptyKeyEntry, root)};

// How the block's names are read: CP_UTF8 for a UTF-8 block; else the code page, and
// whether the system has it. Without it only ASCII is read, which every code page shares:
// reading the rest in another code page would name other files.
struct Encoding {
    UINT page;
    int known;
};

static Encoding BlockEncoding(DWORD recordedPage) {
    Encoding encoding = {CP_UTF8, 1};
    if (!(GetOptionFlags() & OPTION_UTF8)) {
        encoding.page = recordedPage ? recordedPage : GetACP();
        encoding.known = IsValidCodePage(encoding.page);
    }
    return encoding;
}

// One name as UTF-8 into buffer: 0 when it is no exact text of its encoding, or no longer
// fits.
static int ConvertName(const char *text, char *buffer, DWORD size, Encoding encoding) {
    if (encoding.page == CP_UTF8)
        return Utf16Length(text) != 0xFFFFFFFF && CopyText(buffer, size, text);
    if (encoding.known)
        return AnsiToUtf8(text, buffer, size, 1, encoding.page);
    for (const char *p = text; *p; p++)
        if ((BYTE)*p >= 0x80)
            return 0;
    return CopyText(buffer, size, text);
}

// Starts "<what>, <why>: " for a name that is dropped; 0 without a log.
static int StartDropped(const char *what, Encoding encoding) {
    if (!LogStart(what))
        return 0;
    if (encoding.page == CP_UTF8) {
        LogText(", malformed UTF-8: ");
        return 1;
    }
    LogText(encoding.known ? ", not in code page " : ", code page ");
    LogNumber(encoding.page);
    LogText(encoding.known ? ": " : " not on this system: ");
    return 1;
}

// The name as the block holds it: a UTF-8 block's bytes that are not UTF-8, and every byte
// beyond ASCII of a code page's text, are written as \xNN.
static void LogName(const char *text, Encoding encoding) {
    if (encoding.page == CP_UTF8)
        LogText(text);
    else
        LogBytes(text);
}

// "entry skipped, <why>: folder|name", or "HKCU\path" for a registry entry.
static void ReportDropped(const void *entry, const TextLayout *layout, Encoding encoding) {
    itemCounts[ITEM_LEFT]++;
    if (!StartDropped("entry skipped", encoding))
        return;
    char *text = (char *)entry + layout->fixedSize;
    if (layout->textCount == 1) {
        LogRoot(*(const DWORD *)((const char *)entry + layout->rootAt));
        LogText("\\");
    }
    for (DWORD t = 0; t < layout->textCount; t++, text = NextText(text)) {
        if (t)
            LogText("|");
        LogName(text, encoding);
    }
    LogFinish();
}

// Replaces one entry by a copy with converted texts; a UTF-8 block's entry stays where it
// is. 1 done, 0 a text that is no exact text of its encoding or that no longer fits (the
// entry is dropped), -1 no memory.
static int ConvertEntry(void **slot, const TextLayout *layout, Encoding encoding) {
    char converted[SCRATCH_SIZE];
    DWORD used = 0;
    char *text = (char *)*slot + layout->fixedSize;
    if (encoding.page == CP_UTF8) {
        // Checked where it lies: nothing to copy.
        for (DWORD t = 0; t < layout->textCount; t++, text = NextText(text))
            if (Utf16Length(text) == 0xFFFFFFFF)
                return 0;
        return 1;
    }
    for (DWORD t = 0; t < layout->textCount; t++, text = NextText(text)) {
        if (!ConvertName(text, converted + used, SCRATCH_SIZE - used, encoding))
            return 0;
        used += TextLength(converted + used) + 1;
    }
    void *entry;
    if (!AllocateMemory(&entry, layout->fixedSize + used))
        return -1;
    CopyBytes(entry, *slot, layout->fixedSize);
    CopyBytes((char *)entry + layout->fixedSize, converted, used);
    layout->point(entry, (char *)entry + layout->fixedSize);
    ReleaseMemory(slot);
    *slot = entry;
    return 1;
}

static int ConvertList(void **list, DWORD *count, const TextLayout *layout, Encoding encoding) {
    DWORD kept = 0;
    for (DWORD i = 0; i < *count; i++) {
        int result = ConvertEntry(&list[i], layout, encoding);
        if (result < 0) {
            // The rest stay unconverted but owned by the list, so they are still freed.
            for (; i < *count; i++)
                list[kept++] = list[i];
            *count = kept;
            return 0;
        }
        if (result) {
            list[kept++] = list[i];
        } else {
            ReportDropped(list[i], layout, encoding);
            ReleaseMemory(&list[i]);
        }
    }
    *count = kept;
    return 1;
}

// The options record is rebuilt with the converted program and document names; a name that
// does not convert is dropped, so nothing is run or opened in its place. The two are no
// entries the block removes, so neither counts as left.
static int ConvertOptions(Encoding encoding) {
    static const char *const what[2] = {"program skipped", "document skipped"};
    const char *names[2] = {GetProgramName(), GetDocumentName()};
    char converted[2][PATH_SIZE];
    DWORD size = 12;
    for (DWORD i = 0; i < 2; i++) {
        converted[i][0] = 0;
        if (!names[i])
            continue;
        if (ConvertName(names[i], converted[i], PATH_SIZE, encoding)) {
            if (converted[i][0])
                size += TextLength(converted[i]) + 1;
        } else if (StartDropped(what[i], encoding)) {
            LogName(names[i], encoding);
            LogFinish();
        }
    }
    BYTE *record = 0;
    if (!AllocateZeroed((void **)&record, size))
        return 0;
    CopyBytes(record, optionsRecord, 4); // the flags
    DWORD offset = 12;
    for (DWORD i = 0; i < 2; i++) {
        if (!converted[i][0])
            continue;
        BYTE *field = record + 4 + 4 * i;
        field[0] = (BYTE)offset;
        field[1] = (BYTE)(offset >> 8);
        field[2] = (BYTE)(offset >> 16);
        field[3] = (BYTE)(offset >> 24);
        DWORD length = TextLength(converted[i]) + 1;
        CopyBytes(record + offset, converted[i], length);
        offset += length;
    }
    ReleaseMemory((void **)&optionsRecord);
    optionsRecord = record;
    optionsRecordSize = size;
    return 1;
}

int ConvertBlockNames(DWORD recordedPage) {
    Encoding encoding = BlockEncoding(recordedPage);
    if (!ConvertList((void **)fileEntries, &fileEntryCount, &fileLayout, encoding) ||
        !ConvertList((void **)folderEntries, &folderEntryCount, &folderLayout, encoding) ||
        !ConvertList((void **)registryEntries, &registryEntryCount, &registryLayout, encoding) ||
        !ConvertList((void **)emptyKeyEntries, &emptyKeyEntryCount, &emptyKeyLayout, encoding))
        return LOAD_NO_MEMORY;
    if (optionsRecord && optionsRecordSize >= 12 && !ConvertOptions(encoding))
        return LOAD_NO_MEMORY;
    return LOAD_OK;
}

// A message text is never emptied by its conversion: an empty question means "remove
// without asking". A byte the code page does not define shows as its stand-in character.
// Only the part a box can show is converted.
static int ConvertMessage(char **slot, UINT page) {
    char *text = 0;
    char part[TEXT_SIZE];
    char converted[3 * TEXT_SIZE]; // three bytes of UTF-8 at most for each byte
    DWORD length = TextLength(*slot);
    if (length >= TEXT_SIZE)
        length = TEXT_SIZE - 1;
    CopyBytes(part, *slot, length);
    part[length] = 0;
    if (!AnsiToUtf8(part, converted, sizeof converted, 0, page))
        converted[0] = 0;
    length = TextLength(converted) + 1;
    if (!AllocateMemory((void **)&text, length))
        return 0;
    CopyBytes(text, converted, length);
    ReleaseMemory((void **)slot);
    *slot = text;
    return 1;
}

// A legacy block's message texts, in its code page where the system has it, else in the
// ANSI code page, which shows at least what they share.
int ConvertBlockTexts(DWORD recordedPage) {
    Encoding encoding = BlockEncoding(recordedPage);
    if (encoding.page == CP_UTF8)
        return 1;
    for (char **slot = stringTable; slot && *slot; slot++)
        if (!ConvertMessage(slot, encoding.known ? encoding.page : CP_ACP))
            return 0;
    return 1;
}
