// The options record as the sequence reads it. A missing or short record means flags 0,
// no program and no document; an offset that leaves the record, or a text that is not
// terminated inside it, counts as 0.
#include "data.h"

static DWORD ReadOptionField(DWORD offset) {
    if (!optionsRecord || optionsRecordSize < 12)
        return 0;
    const BYTE *p = optionsRecord + offset;
    return p[0] | (p[1] << 8) | (p[2] << 16) | ((DWORD)p[3] << 24);
}

static const char *ReadOptionText(DWORD fieldOffset) {
    DWORD offset = ReadOptionField(fieldOffset);
    if (offset == 0 || offset >= optionsRecordSize)
        return 0;
    for (DWORD i = offset; i < optionsRecordSize; i++)
        if (optionsRecord[i] == 0)
            return (const char *)optionsRecord + offset;
    return 0;
}

DWORD GetOptionFlags() {
    return ReadOptionField(0);
}

const char *GetProgramName() {
    return ReadOptionText(4);
}

const char *GetDocumentName() {
    return ReadOptionText(8);
}
