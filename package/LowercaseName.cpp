#include "package/LowercaseName.h"
#include <windows.h>
#include <cstring>

unsigned ProcessCodePage()
{
    static unsigned codePage = GetACP();
    return codePage;
}

bool IsLeadByte(unsigned char byte)
{
    return IsDBCSLeadByteEx(ProcessCodePage(), byte) != 0;
}

// Maps one character of `length` bytes through UTF-16; the result, one or two
// bytes, goes to out. Returns its length, or 0 when the platform cannot map it.
static int LowercaseCharacter(const char* in, int length, char* out)
{
    UINT cp = ProcessCodePage();
    WCHAR wide[2];
    int n = MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, in, length, wide, 2);
    if (n <= 0)
        return 0;
    WCHAR lower[2];
    int m = LCMapStringW(LOCALE_SYSTEM_DEFAULT, LCMAP_LOWERCASE, wide, n, lower, 2);
    if (m <= 0)
        return 0;
    BOOL usedDefault = FALSE;
    // UTF-8 and UTF-7 refuse the used-default flag.
    BOOL* flag = (cp == CP_UTF8 || cp == CP_UTF7) ? nullptr : &usedDefault;
    int k = WideCharToMultiByte(cp, 0, lower, m, out, 2, nullptr, flag);
    if (k <= 0 || usedDefault)
        return 0;
    return k;
}

void LowercaseName(char* text)
{
    char* p = text;
    while (*p) {
        unsigned char byte = static_cast<unsigned char>(*p);
        if (IsLeadByte(byte)) {
            if (p[1] == '\0')  // a name cut inside a character: nothing to pair with
                return;
            char mapped[2];
            int k = LowercaseCharacter(p, 2, mapped);
            if (k == 0) {
                text[0] = '\0';
                return;
            }
            if (k == 1)  // the text shrinks by one byte
                memmove(p + 1, p + 2, strlen(p + 2) + 1);
            memcpy(p, mapped, k);
            p += k;
            continue;
        }
        if (byte >= 'A' && byte <= 'Z') {
            *p = static_cast<char>(byte + ('a' - 'A'));
        } else if (byte >= 0x80) {
            // Single-byte letters of other code pages; code page 932 has none.
            char mapped[2];
            if (LowercaseCharacter(p, 1, mapped) == 1)
                *p = mapped[0];
        }
        ++p;
    }
}
