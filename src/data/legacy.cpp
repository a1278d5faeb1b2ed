// A block without the UTF-8 flag holds its texts in the system's ANSI code page. Once the
// block is read they are converted to UTF-8, the program's one text form, so that no byte
// of a double-byte character is ever taken for a backslash or a letter.
#include "data.h"

// Where an entry's texts lie: behind its fields, each ending in a zero byte. After a move
// the entry's pointers are set to the new copy.
struct TextLayout {
    DWORD fixedSize;
    DWORD textCount;
    void (*point)(void *entry, char *texts);
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

static const TextLayout fileLayout = {sizeof(FileEntry), 2, PointFileEntry};
static const TextLayout folderLayout = {sizeof(FolderEntry), 2, PointFolderEntry};
static const TextLayout registryLayout = {sizeof(RegistryEntry), 1, PointRegistryEntry};

// Replaces one entry by a copy with converted texts. 1 done, 0 a text that is no text of
// the code page or that no longer fits (the entry is dropped, as one too long to read is),
// -1 no memory.
static int ConvertEntry(void **slot, const TextLayout *layout) {
    char converted[SCRATCH_SIZE];
    DWORD used = 0;
    char *text = (char *)*slot + layout->fixedSize;
    for (DWORD t = 0; t < layout->textCount; t++, text = NextText(text)) {
        if (!AnsiToUtf8(text, converted + used, SCRATCH_SIZE - used))
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

static int ConvertList(void **list, DWORD *count, const TextLayout *layout) {
    DWORD kept = 0;
    for (DWORD i = 0; i < *count; i++) {
        int result = ConvertEntry(&list[i], layout);
        if (result < 0) {
            // The rest stay unconverted but owned by the list, so they are still freed.
            for (; i < *count; i++)
                list[kept++] = list[i];
            *count = kept;
            return 0;
        }
        if (result)
            list[kept++] = list[i];
        else
            ReleaseMemory(&list[i]);
    }
    *count = kept;
    return 1;
}

// A message text is never emptied by its conversion: an empty question means "remove
// without asking". A byte the code page does not define shows as its stand-in character.
// Only the part a box can show is converted.
static int ConvertMessage(char **slot) {
    char *text = 0;
    char part[TEXT_SIZE];
    char converted[3 * TEXT_SIZE]; // three bytes of UTF-8 at most for each byte
    DWORD length = TextLength(*slot);
    if (length >= TEXT_SIZE)
        length = TEXT_SIZE - 1;
    CopyBytes(part, *slot, length);
    part[length] = 0;
    if (!AnsiToUtf8(part, converted, sizeof converted, 0))
        converted[0] = 0;
    length = TextLength(converted) + 1;
    if (!AllocateMemory((void **)&text, length))
        return 0;
    CopyBytes(text, converted, length);
    ReleaseMemory((void **)slot);
    *slot = text;
    return 1;
}

// The options record is rebuilt with the converted program and document names; a name
// that does not convert is dropped, so nothing is run or opened in its place.
static int ConvertOptions() {
    const char *names[2] = {GetProgramName(), GetDocumentName()};
    char converted[2][PATH_SIZE];
    DWORD size = 12;
    for (DWORD i = 0; i < 2; i++) {
        converted[i][0] = 0;
        if (names[i] && AnsiToUtf8(names[i], converted[i], PATH_SIZE) && converted[i][0])
            size += TextLength(converted[i]) + 1;
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

int ConvertLegacyTexts() {
    if (GetOptionFlags() & OPTION_UTF8)
        return LOAD_OK;
    if (!ConvertList((void **)fileEntries, &fileEntryCount, &fileLayout) ||
        !ConvertList((void **)folderEntries, &folderEntryCount, &folderLayout) ||
        !ConvertList((void **)registryEntries, &registryEntryCount, &registryLayout))
        return LOAD_NO_MEMORY;
    for (char **slot = stringTable; slot && *slot; slot++)
        if (!ConvertMessage(slot))
            return LOAD_NO_MEMORY;
    if (optionsRecord && optionsRecordSize >= 12 && !ConvertOptions())
        return LOAD_NO_MEMORY;
    return LOAD_OK;
}
