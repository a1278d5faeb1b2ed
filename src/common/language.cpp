// The language the user reads, and the direction it is written in.
#include "common.h"

// The NT family's interface language where the system has the call (2000 and later), else
// the user's default language, which is all that 95/98/Me and NT 4.0 know.
WORD UserLanguage() {
    typedef LANGID(WINAPI * LanguageProc)();
    LanguageProc interfaceLanguage = isNT ? (LanguageProc)(void (*)())FindSystemFunction(
                                                "kernel32.dll", "GetUserDefaultUILanguage")
                                          : 0;
    return interfaceLanguage ? interfaceLanguage() : GetUserDefaultLangID();
}

// Primary languages written right to left: Arabic, Hebrew, Urdu, Persian, Yiddish, Syriac,
// Pashto, Divehi, Uyghur, Dari and Central Kurdish.
static const BYTE rightToLeftLanguages[] = {0x01, 0x0D, 0x20, 0x29, 0x3D, 0x5A,
                                            0x63, 0x65, 0x80, 0x8C, 0x92};

int IsRightToLeft(WORD language) {
    for (DWORD i = 0; i < sizeof rightToLeftLanguages; i++)
        if (PRIMARYLANGID(language) == rightToLeftLanguages[i])
            return 1;
    return 0;
}
