#include "publisher/PublisherText.h"
#include <cstdio>
#include <cstring>
#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#include <locale.h>
#include <wctype.h>
#include <cerrno>
#endif

namespace {

#ifdef _WIN32
constexpr UINT kCp932 = 932;
constexpr LCID kJapanese = 0x0411;

bool ToWide(UINT cp, const std::string& in, std::wstring& out)
{
    out.clear();
    if (in.empty())
        return true;
    int n = MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, in.data(), int(in.size()), nullptr, 0);
    if (n <= 0)
        return false;
    out.resize(size_t(n));
    return MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, in.data(), int(in.size()), &out[0], n) == n;
}

bool FromWide(UINT cp, const std::wstring& in, std::string& out)
{
    out.clear();
    if (in.empty())
        return true;
    BOOL usedDefault = FALSE;
    DWORD flags = cp == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL* used = cp == CP_UTF8 ? nullptr : &usedDefault;
    int n = WideCharToMultiByte(cp, flags, in.data(), int(in.size()), nullptr, 0, nullptr, used);
    if (n <= 0 || usedDefault)
        return false;
    out.resize(size_t(n));
    n = WideCharToMultiByte(cp, flags, in.data(), int(in.size()), &out[0], n, nullptr, used);
    return n == int(out.size()) && !usedDefault;
}

// One character of one or two bytes, lower-cased; its new bytes, or empty.
std::string LowerCharacter(const std::string& ch)
{
    std::wstring wide;
    if (!ToWide(kCp932, ch, wide))
        return std::string();
    WCHAR lower[4];
    int m = LCMapStringW(kJapanese, LCMAP_LOWERCASE, wide.data(), int(wide.size()), lower, 4);
    if (m <= 0)
        return std::string();
    std::string out;
    if (!FromWide(kCp932, std::wstring(lower, size_t(m)), out))
        return std::string();
    return out;
}
#else
// iconv in one go; false on any character it cannot convert.
bool Convert(const char* to, const char* from, const std::string& in, std::string& out)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == iconv_t(-1))
        return false;
    out.assign(in.size() * 4 + 16, '\0');
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char* dst = &out[0];
    size_t dstLeft = out.size();
    bool ok = iconv(cd, &src, &srcLeft, &dst, &dstLeft) != size_t(-1) && srcLeft == 0 &&
              iconv(cd, nullptr, nullptr, &dst, &dstLeft) != size_t(-1);
    out.resize(out.size() - dstLeft);
    iconv_close(cd);
    return ok;
}

std::string LowerCharacter(const std::string& ch)
{
    static locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(0));
    std::string wide;
    if (!Convert("WCHAR_T", "CP932", ch, wide) || wide.size() != sizeof(wchar_t))
        return std::string();
    wchar_t c;
    memcpy(&c, wide.data(), sizeof c);
    if (utf8 != locale_t(0))
        c = wchar_t(towlower_l(wint_t(c), utf8));
    std::string out;
    if (!Convert("CP932", "WCHAR_T", std::string(reinterpret_cast<const char*>(&c), sizeof c), out))
        return std::string();
    return out;
}
#endif

}  // namespace

bool Utf8ToCp932(const std::string& utf8, std::string& cp932)
{
#ifdef _WIN32
    std::wstring wide;
    return ToWide(CP_UTF8, utf8, wide) && FromWide(kCp932, wide, cp932);
#else
    // glibc's CP932 also takes look-alikes (U+00A5 as 0x5C, U+301C as 0x8160);
    // Windows refuses them. Only a text that converts back unchanged is
    // stored, so both builds accept the same names and store the same bytes.
    std::string back;
    return Convert("CP932", "UTF-8", utf8, cp932) && Convert("UTF-8", "CP932", cp932, back) &&
           back == utf8;
#endif
}

std::string Cp932ToUtf8(const std::string& cp932)
{
    std::string out;
    for (size_t i = 0; i < cp932.size();) {
        unsigned char b = static_cast<unsigned char>(cp932[i]);
        size_t n = IsCp932LeadByte(b) && i + 1 < cp932.size() ? 2 : 1;
        std::string ch = cp932.substr(i, n), u;
        bool ok;
#ifdef _WIN32
        std::wstring wide;
        ok = ToWide(kCp932, ch, wide) && FromWide(CP_UTF8, wide, u);
#else
        ok = Convert("UTF-8", "CP932", ch, u);
#endif
        if (ok && !(n == 1 && b < 0x20)) {
            out += u;
        } else {
            for (size_t k = 0; k < n; ++k) {
                char esc[8];
                snprintf(esc, sizeof esc, "\\x%02X", static_cast<unsigned char>(ch[k]));
                out += esc;
            }
        }
        i += n;
    }
    return out;
}

bool LowercaseCp932(std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size();) {
        unsigned char b = static_cast<unsigned char>(text[i]);
        if (b == 0)
            break;
        if (IsCp932LeadByte(b)) {
            if (i + 1 >= text.size() || text[i + 1] == '\0')
                break;  // cut inside a character, as the updater stops there
            std::string lower = LowerCharacter(text.substr(i, 2));
            if (lower.empty()) {
                text.clear();
                return false;
            }
            out += lower;
            i += 2;
            continue;
        }
        out += (b >= 'A' && b <= 'Z') ? char(b + ('a' - 'A')) : char(b);
        ++i;
    }
    text = out;
    return true;
}

std::string LastComponentCp932(const std::string& path)
{
    size_t start = 0;
    if (path.size() >= 2 && path[1] == ':')
        start = 2;
    size_t from = start;
    for (size_t i = start; i < path.size(); ++i) {
        unsigned char b = static_cast<unsigned char>(path[i]);
        if (IsCp932LeadByte(b) && i + 1 < path.size()) {
            ++i;
            continue;
        }
        if (b == '\\' || b == '/')
            from = i + 1;
    }
    return path.substr(from);
}

bool HasSeparatorCp932(const std::string& text)
{
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char b = static_cast<unsigned char>(text[i]);
        if (IsCp932LeadByte(b) && i + 1 < text.size()) {
            ++i;
            continue;
        }
        if (b == '\\' || b == '/')
            return true;
    }
    return false;
}
