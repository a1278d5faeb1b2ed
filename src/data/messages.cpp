// Message texts: every text the user sees comes from the string table by number.
#include "data.h"

static const char emptyText[] = "";

const char *GetMessageText(int number) {
    if (!stringTable || number < 0)
        return emptyText;
    for (int i = 0; stringTable[i]; i++)
        if (i == number)
            return stringTable[i];
    return emptyText;
}

// A text is a format when it holds "%s". It is formatted only when that "%s" is its one
// conversion besides "%%" pairs; a text that would need a second argument is shown as it
// stands rather than read an argument that was never passed.
static int IsSafeFormat(const char *text) {
    int conversions = 0;
    for (const char *p = text; *p; p++) {
        if (*p != '%')
            continue;
        if (p[1] == '%') {
            p++;
            continue;
        }
        if (p[1] != 's')
            return 0;
        if (++conversions > 1)
            return 0;
        p++;
    }
    return 1;
}

static int HasPercentS(const char *text) {
    for (const char *p = text; *p; p++)
        if (p[0] == '%' && p[1] == 's')
            return 1;
    return 0;
}

// Output stops one byte short of the buffer's end, so a long text is cut, not overrun.
static void Put(char *buffer, DWORD *used, char c) {
    if (*used < TEXT_SIZE - 1)
        buffer[(*used)++] = c;
}

void FormatMessageText(char *buffer, int number, const char *argument) {
    const char *text = GetMessageText(number);
    DWORD used = 0;
    if (HasPercentS(text) && IsSafeFormat(text)) {
        // The same result as wsprintfA: "%%" gives one percent sign, "%s" the argument.
        for (const char *p = text; *p; p++) {
            if (p[0] == '%' && p[1] == '%') {
                Put(buffer, &used, '%');
                p++;
            } else if (p[0] == '%' && p[1] == 's') {
                for (const char *a = argument; a && *a; a++)
                    Put(buffer, &used, *a);
                p++;
            } else {
                Put(buffer, &used, *p);
            }
        }
    } else {
        for (const char *p = text; *p; p++)
            Put(buffer, &used, *p);
    }
    buffer[used] = 0;
}

// A silent run shows nothing: the box counts as one that could not be shown (0), which
// every caller already treats as its safe answer.
int ShowMessage(const char *text, UINT style) {
    if (silentMode)
        return 0;
    if (rightToLeft)
        style |= MB_RTLREADING | MB_RIGHT;
    return SysMessageBox(OwnerWindow(), text, GetMessageText(MSG_CAPTION), style);
}
