// The file helpers of the fuzz build: the program's own file is a buffer, read the way
// ReadFile reads a file (a read at the end gives fewer bytes and moves to the end), positioned
// the way SetFilePointer positions one (a distance that is negative as a signed 32-bit number
// fails and leaves the position alone). Writing a real file per case would cost more than
// the loader does.
#include "data/data.h"
#include "fuzz_support.h"

namespace {

HANDLE const kHandle = (HANDLE)(ULONG_PTR)0x0F122F00;

std::string fileName;
const std::vector<uint8_t> *content;
DWORD position;
bool open;
uint32_t callLimit = 1000000;
fuzz::FileStats stats;

void Misuse(const std::string &what) {
    if (stats.error.empty())
        stats.error = what;
}

// Counts one helper call on the file; false when the handle is not the open file, or the
// loader has made so many calls that it would never stop.
bool Call(HANDLE file, const char *helper) {
    stats.calls++;
    if (file != kHandle || !open) {
        Misuse(std::string(helper) + " on a handle that is not the open file");
        return false;
    }
    if (stats.calls > callLimit) {
        Misuse("more than " + std::to_string(callLimit) + " file calls");
        return false;
    }
    return true;
}

} // namespace

HANDLE OpenExistingFile(const char *name, int readWrite) {
    if (readWrite || !content || lstrcmpiA(name, fileName.c_str()) != 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (open)
        Misuse("the file was opened twice");
    stats.opens++;
    open = true;
    position = 0;
    return kHandle;
}

HANDLE CreateNewFile(const char *) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
}

int ReadExactly(HANDLE file, void *buffer, DWORD count) {
    if (!Call(file, "ReadExactly"))
        return 1;
    DWORD size = DWORD(content->size());
    DWORD got = position < size ? size - position : 0;
    if (got > count)
        got = count;
    if (got)
        CopyBytes(buffer, content->data() + position, got);
    position += got;
    return got == count ? 0 : 1;
}

DWORD GetFilePosition(HANDLE file) {
    if (!Call(file, "GetFilePosition"))
        return INVALID_SET_FILE_POINTER;
    return position;
}

DWORD GetFileLength(HANDLE file) {
    if (!Call(file, "GetFileLength"))
        return INVALID_FILE_SIZE;
    return DWORD(content->size());
}

int SetFilePosition(HANDLE file, DWORD to) {
    if (!Call(file, "SetFilePosition") || LONG(to) < 0)
        return 0;
    position = to;
    return 1;
}

void CloseFile(HANDLE file) {
    if (file != kHandle || !open) {
        Misuse("a handle that is not open was closed");
        return;
    }
    stats.closes++;
    open = false;
}

namespace fuzz {

void SetMemoryFile(const std::string &name, const std::vector<uint8_t> *data) {
    fileName = name;
    content = data;
}

const FileStats &GetFileStats() {
    return stats;
}

void ResetFileStats(uint32_t limit) {
    stats = FileStats();
    callLimit = limit;
    open = false;
}

} // namespace fuzz

// The loader's message box, recorded rather than shown: the import MessageBoxA is resolved
// to this function when the fuzz program is linked.
static int WINAPI RecordMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
    fuzz::ShownBoxes().push_back(
        {owner, text ? text : "(null)", caption ? caption : "(null)", style});
    return IDOK;
}
extern "C" {
extern void *const messageBoxImport __asm__("__imp__MessageBoxA@16");
void *const messageBoxImport = (void *)&RecordMessageBox;
}

std::vector<fuzz::ShownBox> &fuzz::ShownBoxes() {
    static std::vector<ShownBox> boxes;
    return boxes;
}
