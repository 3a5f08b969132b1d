// Generated bad input for the install run: valid packages of both layouts,
// with and without a hash list, damaged by seeded mutations, each installed
// in-process into a fresh copy of a known game. The folder afterwards must be
// what an independent model of the run says: every entry in place with the
// bytes its (mutated) index points at, or the old game byte for byte.
//
//   UPDATER_MUTATIONS=n        run n seeds (default below) ...
//   UPDATER_MUTATION_FIRST=k   ... from seed k on (default 1)
//   UPDATER_MUTATION_SEED=n    run one seed, printing what it did
#include "install/RunInstall.h"
#include "install/tests/MutationSupport.h"
#include "package/PackageFile.h"
#include "tests/support/TestSupport.h"
#include "ui/ProgressDialog.h"
#include "writer/PackageWriter.h"
#include <gtest/gtest.h>
#include <windows.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <map>

namespace {

// Some 3000 mutations, under a minute of this machine's emulated Wine
// (README: the long run).
constexpr uint32_t kDefaultCases = 1500;
// Far beyond any run's length: only a hang gets there.
constexpr DWORD kHangMs = 60000;

// Seeds that once found a fault. They name cases of this generator: a
// change to the generator changes them, so each fault also keeps a written
// case of its own in RunInstallTest (its outcome table, the escaping names).
const uint64_t kFixedSeeds[] = {
    20,    // an entry named as another's temporary file: reported done, that file deleted
    561,   // the same, before the other: reported done, the other's bytes in its place
    163,   // two names equal but for case: the commit stopped after the first move
    232,   // the same in the narrow layout
    333,   // a name twice (the hash list's)
    422,   // big.bin and big.bin.tmp in the narrow layout
    1438,  // "aux.arc": the package written to a device, then the commit stopped halfway
    54,    // "NUL": written to the device (its flush failed, so nothing was moved)
};

const std::string N(1, '\0');

std::string Hex(uint32_t v)
{
    char text[16];
    wsprintfA(text, "0x%lX", static_cast<unsigned long>(v));
    return text;
}

std::string Describe(InstallResult r)
{
    char text[16];
    wsprintfA(text, "0x%08lX", static_cast<unsigned long>(r));
    return text;
}

// ---------------------------------------------------------------------------
// The valid starting packages and the known game.

struct Base {
    std::string what;
    std::string bytes;
    uint32_t entries = 0;
    size_t hashAt = 0;  // the hash list's data; 0 without one
    uint32_t records = 0;
};

std::string BigData()
{
    std::string s(6000, '\0');
    uint32_t x = 12345;
    for (char& c : s) {
        x = x * 1103515245u + 12345u;
        c = char(x >> 23);
    }
    return s;
}

const std::string kReadme = "Update 1.01\r\nNew maps and fixes.\r\n";
const std::string kConfig = "[game]\r\nversion=101\r\n";

PackageEntry Entry(const std::string& name, const std::string& data)
{
    PackageEntry e;
    e.name = name;
    e.data = data;
    return e;
}

std::vector<Base> MakeBases()
{
    const std::string big = BigData();
    const std::string hvl = BuildHashList({RecordFor("readme.txt", kReadme), RecordFor("empty.dat", ""),
                                           RecordFor("sub\\big.bin", big), RecordFor("config.ini", kConfig),
                                           RecordFor("maps\\castle.map", "not carried")});
    std::vector<Base> bases;
    for (bool wide : {true, false}) {
        for (bool withList : {true, false}) {
            PackageDescription desc;
            desc.magic = wide ? "TAVLIN ARC20" : "TAVLIN ARC10";
            desc.entries = {Entry("readme.txt", kReadme), Entry("empty.dat", ""), Entry("big.bin", big),
                            Entry("config.ini", kConfig)};
            // The wide package keeps its list last, the narrow one among the others.
            if (withList)
                desc.entries.insert(desc.entries.begin() + (wide ? 4 : 1), Entry("jor.hvl", hvl));
            Base b;
            b.what = std::string(wide ? "wide" : "narrow") + (withList ? ", hash list" : ", no hash list");
            b.bytes = BuildPackage(desc);
            b.entries = uint32_t(desc.entries.size());
            if (withList) {
                size_t at = DataStartFor(desc.magic, b.entries);
                for (const PackageEntry& e : desc.entries) {
                    if (e.name == "jor.hvl")
                        break;
                    at += e.data.size();
                }
                b.hashAt = at;
                b.records = 5;
            }
            bases.push_back(b);
        }
    }
    return bases;
}

using Files = std::map<std::string, std::string>;

// The known game; "<ro>" at the end makes a file read-only, a name ending in
// '\' is a folder.
Files GameFiles(Random& r, std::string& what)
{
    Files game = {{"game.exe", "MZ old game"}, {"readme.txt", "old readme"}, {"config.ini", "old config"},
                  {"sub\\", ""},               {"sub\\big.bin", "old big"}, {"sub\\keep.dat", "keep me"}};
    const std::string lines = "game.exe\r\nreadme.txt\r\nconfig.ini\r\nsub\\big.bin\r\n";
    switch (r.Below(20)) {
    case 0: what = "no uninstall list"; break;
    case 1: what = "read-only list"; game["uninst.lst"] = lines + N + "<ro>"; break;
    case 2: what = "list with a NUL inside"; game["uninst.lst"] = "game.exe\n" + N + "x\n" + N; break;
    case 3: what = "list without its NUL"; game["uninst.lst"] = "game.exe\nreadme.txt"; break;
    case 4: what = "empty list"; game["uninst.lst"] = ""; break;
    default: what = "list"; game["uninst.lst"] = lines + N; break;
    }
    if (r.OneIn(4)) {
        game["config.ini"] += "<ro>";
        what += ", read-only config.ini";
    }
    return game;
}

bool Populate(const std::string& folder, const Files& files)
{
    bool ok = CreateDirectoryA(folder.c_str(), nullptr) != FALSE;
    for (const auto& f : files) {
        std::string path = folder + "\\" + f.first;
        if (f.first.back() == '\\') {
            path.pop_back();
            ok = CreateDirectoryA(path.c_str(), nullptr) && ok;
            continue;
        }
        std::string bytes = f.second;
        bool readOnly = bytes.size() >= 4 && bytes.compare(bytes.size() - 4, 4, "<ro>") == 0;
        if (readOnly)
            bytes.resize(bytes.size() - 4);
        ok = PutFile(path, bytes) && ok;
        if (readOnly)
            ok = SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY) && ok;
    }
    return ok;
}

// Every file and folder under a folder, names lower-cased (the file system
// ignores case), bytes and a read-only mark. The walk is kept for Clear.
Files Snapshot(const std::string& folder, std::vector<TreeEntry>* walk = nullptr)
{
    Files out;
    std::vector<TreeEntry> tree = ListTree(folder);
    for (const TreeEntry& e : tree) {
        std::string key = e.path;
        for (char& c : key)
            if (c >= 'A' && c <= 'Z')
                c = char(c - 'A' + 'a');
        if (e.attributes & FILE_ATTRIBUTE_DIRECTORY)
            out[key + "\\"] = "";
        else
            out[key] = FileBytes(folder + "\\" + e.path) + ((e.attributes & FILE_ATTRIBUTE_READONLY) ? "<ro>" : "");
    }
    if (walk)
        *walk = std::move(tree);
    return out;
}

// Removes a folder whose walk is known, without walking it again (the walk
// is depth first, so backwards every folder comes after its contents).
void Clear(const std::string& folder, const std::vector<TreeEntry>& walk)
{
    for (auto e = walk.rbegin(); e != walk.rend(); ++e) {
        std::string path = folder + "\\" + e->path;
        if (e->attributes & FILE_ATTRIBUTE_DIRECTORY) {
            RemoveDirectoryA(path.c_str());
        } else {
            if (e->attributes & FILE_ATTRIBUTE_READONLY)
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path.c_str());
        }
    }
    if (!RemoveDirectoryA(folder.c_str()))
        RemoveTree(folder);  // something the walk did not see
}

std::string Differences(const Files& got, const Files& want)
{
    std::string s;
    for (const auto& w : want) {
        auto g = got.find(w.first);
        if (g == got.end())
            s += "    missing " + Printable(w.first) + "\n";
        else if (g->second != w.second)
            s += "    " + Printable(w.first) + ": " + std::to_string(g->second.size()) + " bytes \"" +
                 Printable(g->second.substr(0, 40)) + "\", want " + std::to_string(w.second.size()) + " \"" +
                 Printable(w.second.substr(0, 40)) + "\"\n";
    }
    for (const auto& g : got)
        if (!want.count(g.first))
            s += "    extra " + Printable(g.first) + " (" + std::to_string(g.second.size()) + " bytes)\n";
    return s;
}

// ---------------------------------------------------------------------------
// Mutations. Each changes the bytes and says what it did.

struct Geometry {
    bool wide;
    size_t entrySize, nameField;
    uint32_t dataStart;
};

Geometry GeometryOf(const std::string& bytes)
{
    bool wide = bytes.size() < 0x21010 || bytes.compare(0x21000, 12, "TAVLIN ARC20") == 0;
    Geometry g{wide, size_t(wide ? 128 : 32), size_t(wide ? 96 : 16), 0};
    uint32_t count = bytes.size() >= 0x21010 ? Le32At(bytes, 0x2100C) : 0;
    g.dataStart = uint32_t(0x21010 + size_t(count) * g.entrySize);
    return g;
}

const std::vector<std::string> kHostileNames = {
    "..\\x", "..", "..\\..\\evil.txt", "C:x", "C:\\evil.txt", "\\evil.txt", "/evil.txt",
    "\\\\server\\share\\x", "sub\\..\\..\\x", "sub\\..\\readme.txt", "a:b", "readme.txt:s", "sub\\", "sub/",
    "", " ", ". .", "...", "sub\\ .\\x", "con", "NUL", "aux.arc", "com1", "lpt1.txt", "Con.ini", "nul .x",
    "sub", "uninst.lst", "game.exe", "readme.txt.tmp", "sub\\big.bin", "SUB/BIG.BIN", "sub\\\\big.bin",
    "big.bin.", "config.ini ", "README.TXT", "\x95\x5C.txt", "\x82\x60.txt", "x\x81", "\x81\\x", "a*b", "a?b",
    "a|b", "a\"b", "a<b>", "a\tb", std::string(95, 'n')};

// Prefixes for a record path that keep its last component (and so its match).
const std::vector<std::string> kHostilePrefixes = {
    "..\\", "..\\..\\", "C:", "C:\\", "\\", "/", "\\\\srv\\s\\", "sub\\..\\", "nosuch\\", "readme.txt\\",
    "SUB\\", "sub/", "sub\\\\", "con\\", "sub\\.\\", " \\", "\x95\x5C\\", "\x81"};

uint32_t Boundary(Random& r, uint32_t current, uint32_t related)
{
    const uint32_t values[] = {0, 1, 2, current - 1, current + 1, related - 1, related, related + 1,
                               0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0x7FFFFFF0, 255, 256, 257, 0x100000,
                               0x10000, uint32_t(r.Next())};
    return values[r.Below(sizeof values / sizeof values[0])];
}

void PutField(std::string& bytes, size_t at, size_t field, const std::string& text)
{
    for (size_t i = 0; i < field && at + i < bytes.size(); ++i)
        bytes[at + i] = i < text.size() ? text[i] : '\0';
}

std::string FieldAt(const std::string& bytes, size_t at, size_t field)
{
    std::string s = at < bytes.size() ? bytes.substr(at, field) : "";
    return s.substr(0, s.find('\0'));
}

std::string Mutate(Random& r, const Base& base, std::string& bytes)
{
    const Geometry g = GeometryOf(bytes);
    const size_t size = bytes.size();
    const uint32_t slots = base.entries + 1;  // one slot beyond the table too
    auto slotAt = [&](uint32_t i) { return 0x21010 + i * g.entrySize; };
    auto fits = [&](size_t at, size_t n) { return at + n <= bytes.size(); };
    // Where the index and the hash list end (a mutated count may wrap the
    // data start below the index).
    const size_t structureEnd =
        std::max<size_t>(base.hashAt ? base.hashAt + 16 + 64 * base.records : g.dataStart, 0x21010);

    switch (r.Below(16)) {
    case 0: {  // bits flipped
        int n = 1 + r.Below(8);
        bool structure = r.OneIn(2);
        std::string what = "flip";
        for (int k = 0; k < n; ++k) {
            size_t end = structure ? std::min(structureEnd, size) : size;
            if (end <= 0x21000)
                break;
            size_t at = 0x21000 + r.Below(end - 0x21000);
            int bit = r.Below(8);
            bytes[at] = char(bytes[at] ^ (1 << bit));
            what += " " + Hex(at) + "." + std::to_string(bit);
        }
        return what;
    }
    case 1: {  // bytes set
        int n = 1 + r.Below(4);
        std::string what = "set bytes";
        size_t end = std::min(structureEnd, size);
        for (int k = 0; k < n && end > 0x21000; ++k) {
            size_t at = 0x21000 + r.Below(end - 0x21000);
            bytes[at] = char(r.Next());
            what += " " + Hex(at) + "=" + Hex(uint8_t(bytes[at]));
        }
        return what;
    }
    case 2:
    case 3: {  // an entry's offset or size at a boundary
        uint32_t i = r.Below(slots);
        bool sizeField = r.OneIn(2);
        size_t at = slotAt(i) + g.nameField + (sizeField ? 4 : 0);
        if (!fits(at, 4))
            return "(entry " + std::to_string(i) + " beyond the file)";
        uint32_t current = Le32At(bytes, at);
        uint32_t offset = Le32At(bytes, slotAt(i) + g.nameField);
        // Related: the size that ends at the file's end, or the offset of
        // position 0 (wrapping) or of another entry.
        uint32_t related = sizeField ? uint32_t(size - g.dataStart - offset)
                                     : (r.OneIn(2) ? uint32_t(0) - g.dataStart
                                                   : Le32At(bytes, slotAt(r.Below(base.entries)) + g.nameField));
        uint32_t v = Boundary(r, current, related);
        PutLe32At(bytes, at, v);
        return "entry " + std::to_string(i) + (sizeField ? " size=" : " offset=") + Hex(v);
    }
    case 4: {  // the entry count
        uint32_t v = Boundary(r, base.entries, base.entries + (r.OneIn(2) ? 1 : -1));
        PutLe32At(bytes, 0x2100C, v);
        return "count=" + Hex(v);
    }
    case 5: {  // the file cut
        std::vector<size_t> points = {0x20000 + r.Below(0x1000), 0x20FFF, 0x21000, 0x21001, 0x2100F, 0x21010,
                                      0x21010 + r.Below(slots) * g.entrySize + r.Below(3) - 1,
                                      g.dataStart + r.Below(3), size - 1 - r.Below(16),
                                      0x21000 + r.Below(size - 0x21000)};
        if (base.hashAt)
            points.push_back(base.hashAt + 15 + r.Below(3) + 64 * r.Below(base.records + 1));
        size_t at = std::min(r.Pick(points), size);
        bytes.resize(at);
        return "cut at " + Hex(at);
    }
    case 6: {  // a name field without its NUL
        uint32_t i = r.Below(slots);
        size_t at = slotAt(i);
        if (!fits(at, g.nameField))
            return "(entry " + std::to_string(i) + " beyond the file)";
        std::string name = FieldAt(bytes, at, g.nameField);
        std::string fill;
        int kind = r.Below(3);
        while (fill.size() < g.nameField)
            fill += kind == 0 && !name.empty() ? name : kind == 1 ? "x" : std::string(1, char(0x21 + r.Below(94)));
        PutField(bytes, at, g.nameField, fill);
        return "entry " + std::to_string(i) + " name fills its field";
    }
    case 7: {  // a hostile or borrowed entry name
        uint32_t i = r.Below(slots);
        size_t at = slotAt(i);
        if (!fits(at, g.nameField))
            return "(entry " + std::to_string(i) + " beyond the file)";
        std::string other = FieldAt(bytes, slotAt(r.Below(base.entries)), g.nameField);
        std::string name;
        switch (r.Below(6)) {
        case 0: name = other; break;
        case 1:
            name = other;
            for (char& c : name)
                c = (c >= 'a' && c <= 'z') ? char(c - 32) : (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
            break;
        case 2: name = other + ".tmp"; break;
        case 3: name = other + (r.OneIn(2) ? "." : " "); break;
        default: name = r.Pick(kHostileNames); break;
        }
        PutField(bytes, at, g.nameField, name);
        return "entry " + std::to_string(i) + " name=\"" + Printable(name) + "\"";
    }
    case 8: {  // magic of the other layout
        if (!fits(0x21000, 12))
            return "(no header)";
        std::string magic = g.wide ? "TAVLIN ARC10" : "TAVLIN ARC20";
        bytes.replace(0x21000, 12, magic);
        return "magic=" + magic;
    }
    case 9: {  // slots swapped, or data overlapping
        uint32_t i = r.Below(base.entries), j = r.Below(base.entries);
        if (!fits(slotAt(std::max(i, j)), g.entrySize))
            return "(slots beyond the file)";
        if (r.OneIn(2)) {
            std::string a = bytes.substr(slotAt(i), g.entrySize);
            bytes.replace(slotAt(i), g.entrySize, bytes.substr(slotAt(j), g.entrySize));
            bytes.replace(slotAt(j), g.entrySize, a);
            return "slots " + std::to_string(i) + " and " + std::to_string(j) + " swapped";
        }
        PutLe32At(bytes, slotAt(i) + g.nameField, Le32At(bytes, slotAt(j) + g.nameField));
        return "entry " + std::to_string(i) + " offset of entry " + std::to_string(j);
    }
    case 10: {  // bytes appended
        int n = 1 + r.Below(100);
        for (int k = 0; k < n; ++k)
            bytes += char(r.Next());
        return "appended " + std::to_string(n) + " bytes";
    }
    default:
        break;
    }
    if (!base.hashAt)
        return Mutate(r, base, bytes);
    // The hash list's own fields.
    const size_t list = base.hashAt;
    uint32_t rec = r.Below(base.records + 1);
    size_t recAt = list + 16 + 64 * rec;
    switch (r.Below(6)) {
    case 0: {  // record count
        const uint32_t huge[] = {0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0x03FFFFFF, 0x04000000,
                                 0x00100000, 0x01000000, 0x00180000, 0x00010000};
        uint32_t v = r.OneIn(2) ? huge[r.Below(sizeof huge / sizeof huge[0])]
                                : Boundary(r, base.records, base.records + 1);
        if (!fits(list + 12, 4))
            return "(hash list beyond the file)";
        PutLe32At(bytes, list + 12, v);
        return "record count=" + Hex(v);
    }
    case 1: {  // header bytes
        if (!fits(list, 16))
            return "(hash list beyond the file)";
        size_t at = list + r.Below(16);
        bytes[at] = char(r.Next());
        return "hash list header " + Hex(at - list) + "=" + Hex(uint8_t(bytes[at]));
    }
    case 2: {  // a path without its NUL
        if (!fits(recAt, 56))
            return "(record beyond the file)";
        std::string path = FieldAt(bytes, recAt, 56);
        std::string fill;
        while (fill.size() < 56)
            fill += path.empty() || r.OneIn(3) ? "y" : path;
        PutField(bytes, recAt, 56, fill);
        return "record " + std::to_string(rec) + " path fills its field";
    }
    case 3: {  // a hostile path that still matches its entry
        if (!fits(recAt, 56))
            return "(record beyond the file)";
        std::string path = FieldAt(bytes, recAt, 56);
        std::string p = r.OneIn(4) ? r.Pick(kHostileNames) : r.Pick(kHostilePrefixes) + LastComponent(path);
        PutField(bytes, recAt, 56, p.substr(0, 55));
        return "record " + std::to_string(rec) + " path=\"" + Printable(p.substr(0, 55)) + "\"";
    }
    case 4: {  // another record's path
        size_t otherAt = list + 16 + 64 * r.Below(base.records);
        if (!fits(recAt, 56) || !fits(otherAt, 56))
            return "(record beyond the file)";
        bytes.replace(recAt, 56, bytes.substr(otherAt, 56));
        return "record " + std::to_string(rec) + " path of another record";
    }
    default: {  // a checksum byte
        if (!fits(recAt + 64, 0))
            return "(record beyond the file)";
        size_t at = recAt + 56 + r.Below(8);
        bytes[at] = char(bytes[at] ^ (1 + r.Below(255)));
        return "record " + std::to_string(rec) + " checksum byte " + std::to_string(at - recAt - 56);
    }
    }
}

// ---------------------------------------------------------------------------
// One case: package, game, model, run, comparison.

char CurrentCase[512];

LONG WINAPI ReportCrash(EXCEPTION_POINTERS* info)
{
    fprintf(stderr, "\nCRASH 0x%08lX during %s\n", info->ExceptionRecord->ExceptionCode, CurrentCase);
    fflush(stderr);
    return EXCEPTION_CONTINUE_SEARCH;
}

struct RunArgs {
    const char* folder;
    InstallResult result;
};

DWORD WINAPI RunInThread(void* p)
{
    RunArgs* args = static_cast<RunArgs*>(p);
    args->result = RunInstall(args->folder);
    return 0;
}

// The run on a thread of its own, so that a hang is reported with its seed.
InstallResult RunWatched(const std::string& folder)
{
    RunArgs args{folder.c_str(), kInstallPackageDamaged};
    HANDLE thread = CreateThread(nullptr, 0, RunInThread, &args, 0, nullptr);
    if (WaitForSingleObject(thread, kHangMs) != WAIT_OBJECT_0) {
        fprintf(stderr, "\nHANG (over %lu ms) during %s\n", kHangMs, CurrentCase);
        fflush(stderr);
        TerminateProcess(GetCurrentProcess(), 3);
    }
    CloseHandle(thread);
    return args.result;
}

bool InTable(InstallResult r)
{
    switch (r) {
    case kInstallOk:
    case kInstallPackageDamaged:
    case kInstallTooManyEntries:
    case kInstallWriteFailed:
    case kInstallUninstallListFailed:
    case kInstallCancelled:
    case kInstallClosed:
        return true;
    }
    return false;
}

struct Stats {
    std::map<std::string, std::pair<uint32_t, uint32_t>> perBase;  // cases, mutations
    std::map<std::string, uint32_t> results;
    uint32_t installed = 0;
};

// The folders of the cases: the run's game, the model's fresh copy (paths of
// the same length) and the package. On RAM-backed /dev/shm when Wine can
// reach it there: every run flushes each staged file, which costs a real
// disk milliseconds; elsewhere in the temp folder.
class Workspace {
public:
    Workspace()
    {
        char name[64];
        wsprintfA(name, "Z:\\dev\\shm\\updater-mutation-%lu", GetCurrentProcessId());
        root_ = CreateDirectoryA(name, nullptr) ? name : temp_.Path();
        run_ = root_ + "\\r";
        model_ = root_ + "\\m";
        package_ = root_ + "\\updater.exe";
    }
    ~Workspace()
    {
        if (root_ != temp_.Path())
            RemoveTree(root_);
    }
    const std::string& Root() const { return root_; }
    const std::string& Run() const { return run_; }
    const std::string& Model() const { return model_; }
    const std::string& Package() const { return package_; }

private:
    TempFolder temp_;
    std::string root_, run_, model_, package_;
};

// Runs one seed; returns the failure report, empty when the case held.
std::string RunCase(const std::vector<Base>& bases, Workspace& ws, uint64_t seed, Stats& stats, bool verbose)
{
    Random r(seed);
    const Base& base = bases[r.Below(bases.size())];
    std::string bytes = base.bytes;
    std::string what;
    int mutations = 1 + r.Below(3);
    for (int k = 0; k < mutations; ++k)
        what += (k ? "; " : "") + Mutate(r, base, bytes);
    std::string gameWhat;
    const Files game = GameFiles(r, gameWhat);
    std::string label = "seed " + std::to_string(seed) + " (" + base.what + "; " + gameWhat + "): " + what;
    lstrcpynA(CurrentCase, label.c_str(), sizeof CurrentCase);
    stats.perBase[base.what].first += 1;
    stats.perBase[base.what].second += mutations;

    // Each case leaves its folders removed; after a report they may remain.
    if (Exists(ws.Run()))
        RemoveTree(ws.Run());
    if (Exists(ws.Model()))
        RemoveTree(ws.Model());
    const std::string gameFolder = ws.Run() + "\\game";
    if (!CreateDirectoryA(ws.Run().c_str(), nullptr) || !Populate(gameFolder, game) ||
        !PutFile(ws.Package(), bytes))
        return label + "\n    the case could not be set up";
    const Files before = Snapshot(ws.Run());

    InstallPlatform platform;
    ULARGE_INTEGER available;
    if (GetDiskFreeSpaceExA(gameFolder.c_str(), &available, nullptr, nullptr))
        platform.freeSpace = available.QuadPart;
    platform.freshGame = ws.Model() + "\\game";
    bool prepared = false;
    struct ClearModel {
        const std::string& folder;
        bool& prepared;
        ~ClearModel()
        {
            if (prepared)
                RemoveTree(folder);
        }
    } clearModel{ws.Model(), prepared};
    platform.prepare = [&] {
        if (!prepared)
            prepared = CreateDirectoryA(ws.Model().c_str(), nullptr) && Populate(platform.freshGame, game);
    };
    InstallPlan plan = PlanInstall(bytes, platform);
    InstallResult want = plan.result;
    Files expected = before;
    if (plan.staged) {
        // The designed effect, made directly in the fresh copy: each entry's
        // bytes at its install name in index order, then the merge.
        platform.prepare();
        std::vector<std::string> names;
        for (const PlannedFile& f : plan.files) {
            if (!PutFile(platform.freshGame + "\\" + f.name, f.bytes))
                return label + "\n    the model could not write \"" + Printable(f.name) + "\"";
            names.push_back(f.name);
        }
        std::string listPath = platform.freshGame + "\\uninst.lst";
        DWORD attributes = GetFileAttributesA(listPath.c_str());
        ListState list;
        list.exists = attributes != INVALID_FILE_ATTRIBUTES;
        list.refused = list.exists && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                                     FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY));
        if (list.exists && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            list.bytes = FileBytes(listPath);
        MergeOutcome merged = ModelMerge(list, names);
        if (merged.result && !PutFile(listPath, merged.bytes))
            return label + "\n    the model could not write the list";
        want = merged.result ? kInstallOk : kInstallUninstallListFailed;
        std::vector<TreeEntry> walk;
        expected = Snapshot(ws.Model(), &walk);
        Clear(ws.Model(), walk);
        prepared = false;
    }

    CancelRequested = 0;
    CloseRequested = 0;
    PackageFileOverride = ws.Package().c_str();
    InstallResult got = RunWatched(gameFolder);
    PackageFileOverride = nullptr;
    std::vector<TreeEntry> walk;
    const Files after = Snapshot(ws.Run(), &walk);
    Clear(ws.Run(), walk);

    stats.results[Describe(got)] += 1;
    if (got == kInstallOk || got == kInstallUninstallListFailed)
        stats.installed += 1;
    if (verbose)
        printf("%s\n    model: %s -> %s\n    run:   %s\n", label.c_str(), plan.why.c_str(), Describe(want).c_str(),
               Describe(got).c_str());

    std::string report;
    if (!InTable(got))
        report += "    result " + Describe(got) + " is not in the table\n";
    if (got != want)
        report += "    result " + Describe(got) + ", the model says " + Describe(want) + " (" + plan.why + ")\n";
    if (after != expected)
        report += std::string("    the folder is not ") + (plan.staged ? "the installed game" : "the old game") +
                  ":\n" + Differences(after, expected);
    return report.empty() ? "" : label + "\n" + report;
}

void RunSeeds(const std::vector<uint64_t>& seeds, bool verbose, const char* title)
{
    const std::vector<Base> bases = MakeBases();
    Workspace ws;
    Stats stats;
    std::vector<std::string> failures;
    SetUnhandledExceptionFilter(ReportCrash);
    DWORD start = GetTickCount();
    for (uint64_t seed : seeds) {
        std::string report;
        try {
            report = RunCase(bases, ws, seed, stats, verbose);
        } catch (const std::exception& e) {
            report = "seed " + std::to_string(seed) + ": the test threw " + e.what() + "\n";
        }
        if (!report.empty()) {
            if (failures.size() < 20)
                printf("FAILED %s(replay: UPDATER_MUTATION_SEED=%s)\n", report.c_str(), std::to_string(seed).c_str());
            fflush(stdout);
            failures.push_back(std::to_string(seed));
        }
    }
    DWORD elapsed = GetTickCount() - start;
    SetUnhandledExceptionFilter(nullptr);

    uint32_t mutations = 0;
    printf("%s: %u cases in %lu ms, in %s\n", title, unsigned(seeds.size()), elapsed, ws.Root().c_str());
    for (const auto& b : stats.perBase) {
        printf("  %-24s %5u cases, %5u mutations\n", b.first.c_str(), b.second.first, b.second.second);
        mutations += b.second.second;
    }
    printf("  %u mutations; results:", mutations);
    for (const auto& res : stats.results)
        printf(" %s x%u", res.first.c_str(), res.second);
    printf("; %u installed\n", stats.installed);
    std::string seedsText;
    for (const std::string& s : failures)
        seedsText += " " + s;
    fflush(stdout);
    EXPECT_TRUE(failures.empty()) << failures.size() << " failing seeds:" << seedsText;
}

TEST(PackageMutation, FixedSeeds)
{
    RunSeeds(std::vector<uint64_t>(std::begin(kFixedSeeds), std::end(kFixedSeeds)), false, "fixed seeds");
}

TEST(PackageMutation, GeneratedCases)
{
    bool verbose;
    std::vector<uint64_t> seeds = SeedsToRun(kDefaultCases, verbose);
    RunSeeds(seeds, verbose, verbose ? "one seed" : "generated cases");
}

}  // namespace
