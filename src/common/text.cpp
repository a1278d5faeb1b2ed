// Conversions between the program's one text form, UTF-8, and the system's: UTF-16 for the
// wide calls of the NT family, the ANSI code page for the narrow calls of 95/98/Me. In
// UTF-8 every byte of a character beyond ASCII is 0x80 or above, so a backslash, a letter
// A to Z or a terminator inside a path is always that character, never half of another.
#include "common.h"

#define REPLACEMENT 0xFFFD

// Decodes the character at *text and moves past it; 0 at the terminator, and -1 for a
// sequence that is not UTF-8 (overlong, a surrogate, beyond U+10FFFF, cut short), of which
// one byte is taken.
static long NextCharacter(const BYTE **text) {
    const BYTE *p = *text;
    DWORD c = *p;
    if (c < 0x80) {
        if (c)
            (*text)++;
        return (long)c;
    }
    DWORD count, least;
    if (c >= 0xC2 && c <= 0xDF) {
        count = 1, least = 0x80, c &= 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        count = 2, least = 0x800, c &= 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        count = 3, least = 0x10000, c &= 0x07;
    } else {
        (*text)++;
        return -1;
    }
    for (DWORD i = 1; i <= count; i++) {
        if ((p[i] & 0xC0) != 0x80) {
            (*text)++;
            return -1;
        }
        c = (c << 6) | (p[i] & 0x3F);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        (*text)++;
        return -1;
    }
    *text = p + count + 1;
    return (long)c;
}

// The UTF-16 units of a UTF-8 text, or 0xFFFFFFFF when it is not UTF-8.
DWORD Utf16Length(const char *text) {
    const BYTE *p = (const BYTE *)text;
    DWORD n = 0;
    for (long c; (c = NextCharacter(&p)) != 0;) {
        if (c < 0)
            return 0xFFFFFFFF;
        n += c >= 0x10000 ? 2 : 1;
    }
    return n;
}

int Utf8ToWide(const char *text, WCHAR *buffer, DWORD size, int strict) {
    const BYTE *p = (const BYTE *)text;
    DWORD n = 0;
    for (;;) {
        long c = NextCharacter(&p);
        if (c == 0)
            break;
        if (c < 0) {
            if (strict)
                return 0;
            c = REPLACEMENT;
        }
        DWORD units = c >= 0x10000 ? 2 : 1;
        if (n + units >= size) // one unit for the terminator
            return 0;
        if (units == 2) {
            buffer[n++] = (WCHAR)(0xD800 + ((c - 0x10000) >> 10));
            buffer[n++] = (WCHAR)(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            buffer[n++] = (WCHAR)c;
        }
    }
    buffer[n] = 0;
    return 1;
}

// A lone surrogate, which the system allows in names, cannot be written as UTF-8: refused.
int WideToUtf8(const WCHAR *text, char *buffer, DWORD size) {
    DWORD n = 0;
    for (; *text; text++) {
        DWORD c = *text;
        if (c >= 0xD800 && c <= 0xDBFF && text[1] >= 0xDC00 && text[1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[1] - 0xDC00);
            text++;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            return 0;
        }
        BYTE bytes[4];
        DWORD count;
        if (c < 0x80) {
            bytes[0] = (BYTE)c, count = 1;
        } else if (c < 0x800) {
            bytes[0] = (BYTE)(0xC0 | (c >> 6)), count = 2;
        } else if (c < 0x10000) {
            bytes[0] = (BYTE)(0xE0 | (c >> 12)), count = 3;
        } else {
            bytes[0] = (BYTE)(0xF0 | (c >> 18)), count = 4;
        }
        for (DWORD i = 1; i < count; i++)
            bytes[i] = (BYTE)(0x80 | ((c >> (6 * (count - 1 - i))) & 0x3F));
        if (n + count >= size)
            return 0;
        CopyBytes(buffer + n, bytes, count);
        n += count;
    }
    buffer[n] = 0;
    return 1;
}

// Exact or not at all: a character the code page cannot hold would become a best-fit
// letter or a "?", a name of another file. The text is converted back and compared, since
// older systems take no flag that refuses best-fit mappings.
int Utf8ToAnsi(const char *text, char *buffer, DWORD size, int strict) {
    WCHAR wide[TEXT_SIZE];
    WCHAR back[TEXT_SIZE];
    if (!Utf8ToWide(text, wide, TEXT_SIZE, strict))
        return 0;
    BOOL lossy = FALSE;
    int n = WideCharToMultiByte(CP_ACP, 0, wide, -1, buffer, (int)size, 0, strict ? &lossy : 0);
    if (n <= 0) {
        buffer[0] = 0;
        return 0;
    }
    if (!strict)
        return 1;
    int m = MultiByteToWideChar(CP_ACP, 0, buffer, -1, back, TEXT_SIZE);
    for (int i = 0; !lossy && i < m; i++)
        lossy = back[i] != wide[i];
    return !lossy && m > 0 && !back[m - 1] && !wide[m - 1];
}

// Strict: bytes that are no character of the code page are refused, on both families. The NT
// family's MultiByteToWideChar can refuse them itself (MB_ERR_INVALID_CHARS), but 95/98/Me
// turn them into the code page's default character without a word (932's unassigned pair
// 85 40, or a lead byte at the end of a name, becomes "・", a name of another file). So the
// text is written back in the code page and compared: bytes that are no character do not
// come back as they were. One rule for both families, so that a block drops the same entries
// everywhere; a character that a code page spells two ways (932's NEC and IBM rows) comes
// back in one of them, and its other spelling is refused. Lenient, for texts shown: such
// bytes become the code page's stand-in character.
int AnsiToUtf8(const char *text, char *buffer, DWORD size, int strict, UINT page) {
    WCHAR wide[SCRATCH_SIZE]; // an entry's texts, each at most one character a byte
    char back[SCRATCH_SIZE];
    int n = MultiByteToWideChar(page, 0, text, -1, wide, SCRATCH_SIZE);
    if (n <= 0)
        return 0;
    if (strict) {
        // The bytes must come back as they were, the terminator included.
        int length = WideCharToMultiByte(page, 0, wide, n, back, SCRATCH_SIZE, 0, 0);
        for (int i = 0; i < length; i++)
            if (back[i] != text[i] || (!text[i] && i != length - 1))
                return 0;
        if (length <= 0 || back[length - 1])
            return 0;
    }
    return WideToUtf8(wide, buffer, size);
}

// The bytes of the UTF-8 character at text; 0 at the terminator and where the bytes there
// are not UTF-8.
DWORD CharacterBytes(const char *text) {
    const BYTE *p = (const BYTE *)text;
    return NextCharacter(&p) > 0 ? (DWORD)(p - (const BYTE *)text) : 0;
}

// A character beyond ASCII in the case of the ANSI code page, as the narrow calls of 95/98/Me
// compare names: written in the code page, upper-cased there and read back. A character the
// code page cannot hold keeps its own value, as does one whose capital it cannot hold: read
// back through a best fit, that would be another letter (the micro sign's capital as "M").
static long FoldInCodePage(long c) {
    WCHAR wide = (WCHAR)c, back = 0;
    char ansi[4];
    int n = WideCharToMultiByte(CP_ACP, 0, &wide, 1, ansi, 3, 0, 0);
    if (n <= 0 || MultiByteToWideChar(CP_ACP, 0, ansi, n, &back, 1) != 1 || back != wide)
        return c;
    ansi[n] = 0;
    CharUpperA(ansi);
    if (MultiByteToWideChar(CP_ACP, 0, ansi, n, &back, 1) != 1 || back < 0x80)
        return c;
    return back;
}

// One character's case, as names compare: A to Z without a call, and beyond ASCII through
// the system's own upper-case mapping where the wide calls are in use (the NT family), else
// the code page's. Takes the character at *text and moves past it; 0 at the terminator. A
// byte that is not UTF-8 gives a value no character has, so it matches only the same byte.
long TakeFolded(const char **text) {
    const BYTE *p = (const BYTE *)*text;
    long c = NextCharacter(&p);
    if (c < 0)
        c = 0x110000 + *(const BYTE *)*text;
    else if (c >= 'a' && c <= 'z')
        c -= 'a' - 'A';
    else if (c >= 0x80 && c < 0x10000)
        c = wideCharUpper ? (long)(WORD)(DWORD_PTR)wideCharUpper((LPWSTR)(DWORD_PTR)c)
                          : FoldInCodePage(c);
    *text = (const char *)p;
    return c;
}

int NamesEqual(const char *a, const char *b) {
    for (;;) {
        long x = TakeFolded(&a);
        if (x != TakeFolded(&b))
            return 0;
        if (!x)
            return 1;
    }
}
