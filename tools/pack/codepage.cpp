// Single-byte code pages from committed tables, so that every build writes the same bytes.
#include "builder.h"

#include <cstdio>

namespace pack {

namespace {

struct CodePage {
    int page;
    uint16_t high[128]; // code points of bytes 0x80-0xFF; 0: no character
};

const CodePage pages[] = {
#include "codepages.inc"
};

const CodePage *Find(int page) {
    for (const auto &p : pages)
        if (p.page == page)
            return &p;
    return nullptr;
}

std::string CodePointName(uint32_t point) {
    char text[16];
    std::snprintf(text, sizeof text, "U+%04X", unsigned(point));
    return text;
}

void AppendUtf8(std::string *out, uint32_t point) {
    if (point < 0x80) {
        out->push_back(char(point));
    } else if (point < 0x800) {
        out->push_back(char(0xC0 | point >> 6));
        out->push_back(char(0x80 | (point & 0x3F)));
    } else if (point < 0x10000) {
        out->push_back(char(0xE0 | point >> 12));
        out->push_back(char(0x80 | ((point >> 6) & 0x3F)));
        out->push_back(char(0x80 | (point & 0x3F)));
    } else {
        out->push_back(char(0xF0 | point >> 18));
        out->push_back(char(0x80 | ((point >> 12) & 0x3F)));
        out->push_back(char(0x80 | ((point >> 6) & 0x3F)));
        out->push_back(char(0x80 | (point & 0x3F)));
    }
}

// One code point from UTF-8 at *at; false for ill-formed input: a stray or missing
// continuation byte, an overlong form, a surrogate, or a value beyond U+10FFFF.
bool NextPoint(const std::string &text, size_t *at, uint32_t *point) {
    static const uint32_t smallest[] = {0, 0x80, 0x800, 0x10000};
    unsigned char first = (unsigned char)text[*at];
    int extra = first < 0x80             ? 0
                : (first & 0xE0) == 0xC0 ? 1
                : (first & 0xF0) == 0xE0 ? 2
                : (first & 0xF8) == 0xF0 ? 3
                                         : -1;
    if (extra < 0 || text.size() - *at <= size_t(extra))
        return false;
    uint32_t value = extra == 0 ? first : first & (0x3F >> extra);
    for (int i = 1; i <= extra; i++) {
        unsigned char next = (unsigned char)text[*at + size_t(i)];
        if ((next & 0xC0) != 0x80)
            return false;
        value = value << 6 | (next & 0x3F);
    }
    if (value < smallest[extra] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return false;
    *at += size_t(extra) + 1;
    *point = value;
    return true;
}

std::string Unsupported(int page) {
    return "code page " + std::to_string(page) + " is not supported (use UTF-8 or one of " +
           SupportedCodePages() + ")";
}

std::string IllFormed(size_t at, unsigned char byte) {
    char text[64];
    std::snprintf(text, sizeof text, "ill-formed UTF-8 at byte %zu (0x%02X)", at, unsigned(byte));
    return text;
}

bool EncodeUtf8(const std::string &utf8, std::string *bytes, std::string *error) {
    size_t at = 0, character = 0;
    while (at < utf8.size()) {
        size_t start = at;
        uint32_t point;
        character++;
        if (!NextPoint(utf8, &at, &point)) {
            *error = IllFormed(start, (unsigned char)utf8[start]);
            return false;
        }
        if (point == 0) {
            *error = "character " + std::to_string(character) +
                     " is NUL (U+0000), which the program reads as the end of the text";
            return false;
        }
    }
    *bytes = utf8;
    return true;
}

} // namespace

bool IsSupportedCodePage(int page) {
    return page == CODEPAGE_UTF8 || Find(page) != nullptr;
}

std::string SupportedCodePages() {
    std::string list;
    for (const auto &p : pages)
        list += (list.empty() ? "" : ", ") + std::to_string(p.page);
    return list;
}

bool EncodeText(const std::string &utf8, int page, std::string *bytes, std::string *error) {
    if (page == CODEPAGE_UTF8)
        return EncodeUtf8(utf8, bytes, error);
    const CodePage *table = Find(page);
    if (!table) {
        *error = Unsupported(page);
        return false;
    }
    bytes->clear();
    size_t at = 0, character = 0;
    while (at < utf8.size()) {
        size_t start = at;
        uint32_t point;
        character++;
        if (!NextPoint(utf8, &at, &point)) {
            *error = IllFormed(start, (unsigned char)utf8[start]);
            return false;
        }
        if (point == 0) {
            *error = "character " + std::to_string(character) +
                     " is NUL (U+0000), which the program reads as the end of the text";
            return false;
        }
        if (point < 0x80) {
            bytes->push_back(char(point));
            continue;
        }
        int found = -1;
        for (int i = 0; i < 128 && found < 0; i++)
            if (table->high[i] == point)
                found = i;
        if (found < 0) {
            *error = "character " + std::to_string(character) + ", " + CodePointName(point) +
                     " \"" + utf8.substr(start, at - start) +
                     "\", cannot be written in code page " + std::to_string(page) +
                     "; choose another --codepage or replace it";
            return false;
        }
        bytes->push_back(char(0x80 + found));
    }
    return true;
}

bool DecodeText(const std::string &bytes, int page, std::string *utf8, std::string *error) {
    if (page == CODEPAGE_UTF8) {
        uint32_t point;
        for (size_t at = 0, start = 0; at < bytes.size(); start = at)
            if (!NextPoint(bytes, &at, &point)) {
                *error = IllFormed(start, (unsigned char)bytes[start]);
                return false;
            }
        *utf8 = bytes;
        return true;
    }
    const CodePage *table = Find(page);
    if (!table) {
        *error = Unsupported(page);
        return false;
    }
    utf8->clear();
    for (size_t i = 0; i < bytes.size(); i++) {
        unsigned char byte = (unsigned char)bytes[i];
        uint32_t point = byte < 0x80 ? byte : table->high[byte - 0x80];
        if (byte != 0 && point == 0) {
            char text[80];
            std::snprintf(text, sizeof text, "byte %zu, 0x%02X, has no character in code page %d",
                          i, unsigned(byte), page);
            *error = text;
            return false;
        }
        AppendUtf8(utf8, point);
    }
    return true;
}

bool Utf8ToUtf16(const std::string &utf8, std::u16string *utf16, std::string *error) {
    utf16->clear();
    for (size_t at = 0; at < utf8.size();) {
        size_t start = at;
        uint32_t point;
        if (!NextPoint(utf8, &at, &point)) {
            *error = IllFormed(start, (unsigned char)utf8[start]);
            return false;
        }
        if (point >= 0x10000) {
            utf16->push_back(char16_t(0xD800 + ((point - 0x10000) >> 10)));
            utf16->push_back(char16_t(0xDC00 + ((point - 0x10000) & 0x3FF)));
        } else {
            utf16->push_back(char16_t(point));
        }
    }
    return true;
}

bool Utf16ToUtf8(const std::u16string &utf16, std::string *utf8, std::string *error) {
    utf8->clear();
    for (size_t i = 0; i < utf16.size(); i++) {
        uint32_t point = utf16[i];
        if (point >= 0xD800 && point <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            point = 0x10000 + ((point - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
            i++;
        } else if (point >= 0xD800 && point <= 0xDFFF) {
            char text[80];
            std::snprintf(text, sizeof text, "a lone surrogate (0x%04X) at UTF-16 unit %zu",
                          unsigned(point), i);
            *error = text;
            return false;
        }
        AppendUtf8(utf8, point);
    }
    return true;
}

size_t Utf16Length(const std::string &utf8) {
    size_t units = 0;
    for (unsigned char c : utf8)
        if ((c & 0xC0) != 0x80)
            units += c >= 0xF0 ? 2 : 1;
    return units;
}

} // namespace pack
