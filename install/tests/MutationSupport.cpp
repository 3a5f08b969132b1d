#include "install/tests/MutationSupport.h"
#include <windows.h>
#include <cstdlib>
#include <cstring>

namespace {

// The layout, restated here rather than taken from the product's headers.
constexpr size_t kHeaderAt = 0x21000;
constexpr size_t kIndexAt = 0x21010;
constexpr uint32_t kEntryLimit = 256;
const char kWideMagic[] = "TAVLIN ARC20";
const char kListMagic[] = "KSV_____";
constexpr size_t kPathLimit = 260;

bool Lead(unsigned char byte)
{
    return IsDBCSLeadByteEx(GetACP(), byte) != 0;
}

// One character through UTF-16 and back, lower-cased; false when the
// platform cannot map it.
bool MapLower(const std::string& in, std::string& out)
{
    UINT cp = GetACP();
    WCHAR wide[4];
    int n = MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, in.data(), int(in.size()), wide, 4);
    if (n <= 0)
        return false;
    WCHAR lower[4];
    int m = LCMapStringW(LOCALE_SYSTEM_DEFAULT, LCMAP_LOWERCASE, wide, n, lower, 4);
    if (m <= 0)
        return false;
    char bytes[8];
    BOOL usedDefault = FALSE;
    int k = WideCharToMultiByte(cp, 0, lower, m, bytes, sizeof bytes, nullptr, &usedDefault);
    if (k <= 0 || usedDefault)
        return false;
    out.assign(bytes, k);
    return true;
}

std::string FieldText(const std::string& bytes, size_t at, size_t field)
{
    std::string text = bytes.substr(at, field);
    size_t nul = text.find('\0');
    // A field without its NUL is cut at its last byte.
    return nul == std::string::npos ? text.substr(0, field - 1) : text.substr(0, nul);
}

bool IsDeviceName(const std::string& component)
{
    std::string base = component.substr(0, component.find('.'));
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    for (char& c : base)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL")
        return true;
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
           base[3] >= '1' && base[3] <= '9';
}

std::string Hex(uint64_t v)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    do {
        s.insert(s.begin(), digits[v & 15]);
        v >>= 4;
    } while (v);
    return "0x" + s;
}

std::string FullPath(const std::string& path)
{
    char full[1024];
    DWORD n = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    return n > 0 && n < sizeof full ? std::string(full, n) : path;
}

// Equal as the file system compares names: ordinal, ignoring case.
bool SamePath(const std::string& a, const std::string& b)
{
    std::wstring wa(a.size() + 1, L'\0'), wb(b.size() + 1, L'\0');
    int na = MultiByteToWideChar(CP_ACP, 0, a.data(), int(a.size()), &wa[0], int(wa.size()));
    int nb = MultiByteToWideChar(CP_ACP, 0, b.data(), int(b.size()), &wb[0], int(wb.size()));
    return CompareStringOrdinal(wa.data(), na, wb.data(), nb, TRUE) == CSTR_EQUAL;
}

}  // namespace

std::string Printable(const std::string& bytes)
{
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += char(c);
        } else {
            char hex[8];
            wsprintfA(hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

std::vector<uint64_t> SeedsToRun(uint32_t defaultCount, bool& verbose)
{
    verbose = false;
    const char* one = getenv("UPDATER_MUTATION_SEED");
    if (one && *one) {
        verbose = true;
        return {strtoull(one, nullptr, 10)};
    }
    const char* n = getenv("UPDATER_MUTATIONS");
    const char* first = getenv("UPDATER_MUTATION_FIRST");
    uint32_t count = n && *n ? uint32_t(strtoul(n, nullptr, 10)) : defaultCount;
    uint64_t from = first && *first ? strtoull(first, nullptr, 10) : 1;
    std::vector<uint64_t> seeds;
    for (uint32_t i = 0; i < count; ++i)
        seeds.push_back(from + i);
    return seeds;
}

uint32_t Le32At(const std::string& bytes, size_t at)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data() + at);
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void PutLe32At(std::string& bytes, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = char(value >> (8 * i));
}

std::string ReferenceChecksum(const std::string& bytes)
{
    uint32_t a = 0;
    unsigned char b = 0, c = 0, d = 0, e = 0;
    for (unsigned char x : bytes) {
        a = a * 233u + x;
        unsigned char low = static_cast<unsigned char>(a);
        b = static_cast<unsigned char>(b + low);
        c ^= low;
        d = static_cast<unsigned char>(d + x);
        e ^= x;
    }
    std::string out(8, '\0');
    PutLe32At(out, 0, a);
    out[4] = char(b);
    out[5] = char(c);
    out[6] = char(d);
    out[7] = char(e);
    return out;
}

std::string LowerName(const std::string& name)
{
    std::string s = name;
    for (size_t i = 0; i < s.size();) {
        unsigned char byte = static_cast<unsigned char>(s[i]);
        if (Lead(byte)) {
            if (i + 1 >= s.size())
                break;  // cut inside a character: the rest stays
            std::string mapped;
            if (!MapLower(s.substr(i, 2), mapped))
                return "";
            s.replace(i, 2, mapped);
            i += mapped.size();
            continue;
        }
        if (byte >= 'A' && byte <= 'Z') {
            s[i] = char(byte - 'A' + 'a');
        } else if (byte >= 0x80) {
            std::string mapped;
            if (MapLower(s.substr(i, 1), mapped) && mapped.size() == 1)
                s[i] = mapped[0];
        }
        ++i;
    }
    return s;
}

std::string LastComponent(const std::string& path)
{
    size_t start = path.size() >= 2 && path[1] == ':' ? 2 : 0;
    size_t last = start;
    for (size_t i = start; i < path.size(); ++i) {
        if (Lead(static_cast<unsigned char>(path[i]))) {
            if (i + 1 >= path.size())
                break;
            ++i;
        } else if (path[i] == '\\' || path[i] == '/') {
            last = i + 1;
        }
    }
    return path.substr(last);
}

bool SafeInstallName(const std::string& name)
{
    if (!name.empty() && (name[0] == '\\' || name[0] == '/'))
        return false;
    size_t start = 0;
    bool onlyDots = true;
    for (size_t i = 0;; ++i) {
        unsigned char c = i < name.size() ? static_cast<unsigned char>(name[i]) : 0;
        if (c != 0 && Lead(c)) {
            if (i + 1 >= name.size())
                return false;
            ++i;
            onlyDots = false;
            continue;
        }
        if (c == ':')
            return false;
        if (c == '\\' || c == '/' || c == 0) {
            std::string component = name.substr(start, i - start);
            if (!component.empty() && onlyDots)
                return false;
            if (IsDeviceName(component))
                return false;
            if (c == 0)
                return !component.empty();
            start = i + 1;
            onlyDots = true;
            continue;
        }
        if (c != '.' && c != ' ')
            onlyDots = false;
    }
}

MergeOutcome ModelMerge(const ListState& list, const std::vector<std::string>& names)
{
    const std::string& old = list.bytes;
    if (!list.exists || list.refused || old.size() > kModelListBuffer)
        return {false, old};
    std::string text;
    if (!old.empty() && old.back() == '\0') {
        text = old.substr(0, old.size() - 1);
    } else {
        // No final NUL (or no byte at all): every byte is text, and the NUL
        // must still fit behind it.
        if (old.size() == kModelListBuffer)
            return {false, old};
        text = old;
    }
    if (text.find('\0') != std::string::npos)
        return {false, old};
    for (const std::string& name : names) {
        if (text.find(name) != std::string::npos)
            continue;  // anywhere, even inside a longer line; an empty name too
        if (text.size() + name.size() + 2 > kModelListBuffer)
            return {false, old};
        text += name;
        text += '\n';
    }
    return {true, text + '\0'};
}

InstallPlan PlanInstall(const std::string& package, InstallPlatform& platform)
{
    InstallPlan plan;
    const uint64_t size = package.size();
    if (size < kHeaderAt + 16) {
        plan.why = "no whole header";
        return plan;
    }
    const uint32_t count = Le32At(package, kHeaderAt + 12);
    if (count > kEntryLimit) {
        plan.result = kInstallTooManyEntries;
        plan.why = "count " + Hex(count);
        return plan;
    }
    const bool wide = package.compare(kHeaderAt, 12, kWideMagic) == 0;
    const size_t entrySize = wide ? 128 : 32;
    const size_t nameField = wide ? 96 : 16;
    if (kIndexAt + count * entrySize > size) {
        plan.why = "index cut";
        return plan;
    }
    struct Entry {
        std::string name;
        uint32_t offset, size;
    };
    std::vector<Entry> entries;
    for (uint32_t i = 0; i < count; ++i) {
        size_t slot = kIndexAt + i * entrySize;
        entries.push_back({FieldText(package, slot, nameField), Le32At(package, slot + nameField),
                           Le32At(package, slot + nameField + 4)});
    }
    const uint32_t dataStart = uint32_t(kIndexAt + count * entrySize);

    // The hash list: the first entry so named, whole or not at all.
    struct Record {
        std::string path, checksum;
    };
    std::vector<Record> records;
    for (const Entry& e : entries) {
        if (LowerName(e.name) != "jor.hvl")
            continue;
        uint32_t at = dataStart + e.offset;
        if (at < 0x80000000u && uint64_t(at) + 16 <= size && package.compare(at, 8, kListMagic) == 0) {
            uint64_t n = Le32At(package, at + 12);
            if (uint64_t(at) + 16 + n * 64 <= size) {
                for (uint64_t r = 0; r < n; ++r) {
                    size_t rec = at + 16 + size_t(r) * 64;
                    records.push_back({FieldText(package, rec, 56), package.substr(rec + 56, 8)});
                }
            }
        }
        break;
    }

    uint64_t needed = 0;
    for (const Entry& e : entries)
        needed += e.size;
    if (needed > platform.freeSpace) {
        plan.result = kInstallWriteFailed;
        plan.why = "sizes beyond the free space";
        return plan;
    }

    const std::string& fresh = platform.freshGame;
    for (uint32_t i = 0; i < count; ++i) {
        const Entry& e = entries[i];
        std::string at = "entry " + std::to_string(i) + ": ";
        uint32_t position = dataStart + e.offset;
        if (position >= 0x80000000u) {
            plan.why = at + "position " + Hex(position) + " cannot be sought";
            return plan;
        }
        std::string name = e.name;
        std::string expected;
        if (!records.empty()) {
            std::string lowered = LowerName(e.name);
            for (const Record& r : records) {
                if (LowerName(LastComponent(r.path)) == lowered) {
                    name = r.path;
                    expected = r.checksum;
                    break;
                }
            }
        }
        if (!SafeInstallName(name)) {
            plan.why = at + "unsafe name \"" + name + "\"";
            return plan;
        }
        if (fresh.size() + 1 + name.size() + 4 + 1 > kPathLimit) {
            plan.result = kInstallWriteFailed;
            plan.why = at + "temporary path too long";
            return plan;
        }
        // Whether the temporary file can be made: the platform says, in the
        // fresh copy, and the probe leaves nothing behind.
        platform.prepare();
        std::string probe = fresh + "\\" + name + ".tmp";
        HANDLE h = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            plan.result = kInstallWriteFailed;
            plan.why = at + "\"" + name + ".tmp\" cannot be created (" + std::to_string(GetLastError()) + ")";
            return plan;
        }
        CloseHandle(h);
        DeleteFileA(probe.c_str());
        if (e.size > 0 && uint64_t(position) + e.size > size) {
            plan.why = at + "data beyond the end";
            return plan;
        }
        std::string bytes = e.size ? package.substr(position, e.size) : "";
        if (!expected.empty() && ReferenceChecksum(bytes) != expected) {
            plan.why = at + "checksum differs";
            return plan;
        }
        plan.files.push_back({name, bytes});
    }

    // Before the first move: no two entries may meet in one file, and no
    // folder may stand where a file goes.
    auto path = [&](const std::string& relative) { return FullPath(fresh + "\\" + relative); };
    for (size_t i = 0; i < plan.files.size(); ++i)
        for (size_t j = 0; j < i; ++j)
            if (SamePath(path(plan.files[i].name + ".tmp"), path(plan.files[j].name + ".tmp"))) {
                plan.why = "entries " + std::to_string(j) + " and " + std::to_string(i) + " stage one file";
                return plan;
            }
    for (size_t i = 0; i < plan.files.size(); ++i) {
        DWORD attributes = GetFileAttributesA((fresh + "\\" + plan.files[i].name).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            plan.result = kInstallWriteFailed;
            plan.why = "a folder where entry " + std::to_string(i) + " goes";
            return plan;
        }
        for (size_t j = 0; j < plan.files.size(); ++j)
            if (SamePath(path(plan.files[i].name), path(plan.files[j].name + ".tmp"))) {
                plan.why = "entry " + std::to_string(i) + " goes where entry " + std::to_string(j) + " stages";
                return plan;
            }
    }
    plan.staged = true;
    plan.result = kInstallOk;
    plan.why = "installed";
    return plan;
}
