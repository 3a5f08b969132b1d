// Generated input for the uninstall list merge: random list contents (NULs,
// line-end variants, no final NUL, empty, near the 1 MiB bound, refused
// attributes) and random names, each merged into a real file and compared
// byte for byte with a model of the merge written from its design.
//
//   UPDATER_MUTATIONS=n        run n seeds (default below) ...
//   UPDATER_MUTATION_FIRST=k   ... from seed k on (default 1)
//   UPDATER_MUTATION_SEED=n    run one seed, printing what it did
#include "install/UninstallList.h"
#include "install/tests/MutationSupport.h"
#include "tests/support/TestSupport.h"
#include <gtest/gtest.h>
#include <windows.h>
#include <algorithm>
#include <cstdio>
#include <map>

namespace {

// Some 20 seconds of this machine's emulated Wine.
constexpr uint32_t kDefaultCases = 3000;

const std::vector<std::string> kWords = {"game.exe",    "readme.txt", "data01.arc", "data02.arc", "sub\\big.bin",
                                         "jor.hvl",     "a",          "ab",         "config.ini", "\x95\x5C.txt",
                                         "DATA01.ARC",  "Data02.arc", "x",          "uninst.lst"};
const std::vector<std::string> kLineEnds = {"\n", "\r\n", "\r", "\n\r", "", "\n\n"};

std::string SwapCase(std::string s)
{
    for (char& c : s)
        c = (c >= 'a' && c <= 'z') ? char(c - 32) : (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
    return s;
}

std::string RandomBytes(Random& r, size_t n, bool withNul)
{
    std::string s;
    while (s.size() < n) {
        char c = char(r.Next());
        if (c || withNul)
            s += c;
    }
    return s;
}

struct ListCase {
    std::string what;
    bool exists = true;
    DWORD attribute = 0;  // set on the file after writing it
    bool folder = false;  // uninst.lst is a folder
    std::string bytes;
    std::vector<std::string> names;
};

ListCase MakeCase(Random& r)
{
    ListCase c;
    std::string text;
    int lines = r.Below(12);
    for (int i = 0; i < lines; ++i) {
        std::string word = r.Pick(kWords);
        switch (r.Below(6)) {
        case 0: word = SwapCase(word); break;
        case 1: word = RandomBytes(r, 1 + r.Below(8), false); break;
        default: break;
        }
        text += word + r.Pick(kLineEnds);
    }
    switch (r.Below(20)) {
    case 0: c.what = "missing"; c.exists = false; break;
    case 1: c.what = "empty file"; break;
    case 2: c.what = "no final NUL"; c.bytes = text; break;
    case 3: c.what = "a NUL inside"; c.bytes = text + std::string(1, '\0') + text + std::string(1, '\0'); break;
    case 4: c.what = "two NULs at the end"; c.bytes = text + std::string(2, '\0'); break;
    case 5: c.what = "only a NUL"; c.bytes = std::string(1, '\0'); break;
    case 6: {
        // Around the bound: the text, its NUL and what the names add
        // fit or miss by a few bytes; sometimes the file alone is too big.
        c.what = "near the bound";
        size_t length = kModelListBuffer - 1 - r.Below(40);
        if (r.OneIn(4))
            length = kModelListBuffer - 2 + r.Below(4);
        c.bytes = text.substr(0, std::min(text.size(), length));
        c.bytes += std::string(length - c.bytes.size(), 'f');
        if (!r.OneIn(5))
            c.bytes += '\0';
        break;
    }
    default: c.what = "list"; c.bytes = text + std::string(1, '\0'); break;
    }
    if (c.exists) {
        switch (r.Below(30)) {
        case 0: c.attribute = FILE_ATTRIBUTE_READONLY; c.what += ", read-only"; break;
        case 1: c.attribute = FILE_ATTRIBUTE_HIDDEN; c.what += ", hidden"; break;
        case 2: c.attribute = FILE_ATTRIBUTE_SYSTEM; c.what += ", system"; break;
        case 3: c.folder = true; c.what = "a folder"; break;
        default: break;
        }
    }
    int names = r.Below(9);
    for (int i = 0; i < names; ++i) {
        std::string name;
        switch (r.Below(7)) {
        case 0: name = SwapCase(r.Pick(kWords)); break;
        case 1: {  // a piece of the list's own text
            size_t at = c.bytes.empty() ? 0 : r.Below(c.bytes.size());
            name = c.bytes.substr(at, r.Below(12));
            name = name.substr(0, name.find('\0'));
            break;
        }
        case 2: name = c.names.empty() ? "" : r.Pick(c.names); break;
        case 3: name = RandomBytes(r, r.Below(20), false); break;
        case 4: name = r.OneIn(3) ? "" : std::string(1 + r.Below(200), 'n'); break;
        default: name = r.Pick(kWords); break;
        }
        c.names.push_back(name);
    }
    return c;
}

// Runs one seed; returns the failure report, empty when the case held.
std::string RunCase(const TempFolder& dir, uint64_t seed, bool verbose, std::map<std::string, uint32_t>& kinds)
{
    Random r(seed);
    ListCase c = MakeCase(r);
    kinds[c.what.substr(0, c.what.find(','))] += 1;
    std::string label = "seed " + std::to_string(seed) + " (" + c.what + ", " + std::to_string(c.bytes.size()) +
                        " bytes, " + std::to_string(c.names.size()) + " names)";
    const std::string list = dir / "uninst.lst";
    RemoveTree(list);
    RemoveTree(dir / "uninst.new");
    ListState state;
    if (c.folder) {
        if (!CreateDirectoryA(list.c_str(), nullptr))
            return label + "\n    no folder made";
        state.exists = true;
        state.refused = true;
    } else if (c.exists) {
        if (!PutFile(list, c.bytes) || (c.attribute && !SetFileAttributesA(list.c_str(), c.attribute)))
            return label + "\n    the list could not be written";
        state.exists = true;
        state.refused = c.attribute != 0;
        state.bytes = c.bytes;
    }
    MergeOutcome want = ModelMerge(state, c.names);

    std::vector<const char*> pointers;
    for (const std::string& n : c.names)
        pointers.push_back(n.c_str());
    pointers.push_back(nullptr);
    bool got = MergeUninstallList(dir.Path().c_str(), pointers.data());

    std::string report;
    if (got != want.result)
        report += std::string("    returned ") + (got ? "true" : "false") + ", the model says " +
                  (want.result ? "true" : "false") + "\n";
    if (c.folder) {
        if (!(GetFileAttributesA(list.c_str()) & FILE_ATTRIBUTE_DIRECTORY))
            report += "    the folder in the list's place is gone\n";
    } else if (!c.exists) {
        if (Exists(list))
            report += "    a list was created\n";
    } else {
        std::string after = FileBytes(list);
        if (after != want.bytes) {
            size_t at = 0;
            while (at < after.size() && at < want.bytes.size() && after[at] == want.bytes[at])
                ++at;
            report += "    the list has " + std::to_string(after.size()) + " bytes, the model " +
                      std::to_string(want.bytes.size()) + "; first difference at " + std::to_string(at) + "\n";
        }
        DWORD attributes = GetFileAttributesA(list.c_str()) & ~DWORD(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL);
        if (!want.result && attributes != c.attribute)
            report += "    the list's attributes changed\n";
    }
    std::string left = ListFolder(dir.Path());
    if (left != (c.exists ? "uninst.lst" : ""))
        report += "    the folder holds " + left + "\n";
    if (verbose) {
        printf("%s\n", label.c_str());
        for (const std::string& n : c.names)
            printf("    name \"%s\"\n", Printable(n).c_str());
        printf("    model: %s, %u bytes; merge: %s\n", want.result ? "true" : "false", unsigned(want.bytes.size()),
               got ? "true" : "false");
    }
    return report.empty() ? "" : label + "\n" + report;
}

void RunSeeds(const std::vector<uint64_t>& seeds, bool verbose, const char* title)
{
    TempFolder dir;
    std::map<std::string, uint32_t> kinds;
    std::vector<std::string> failures;
    DWORD start = GetTickCount();
    for (uint64_t seed : seeds) {
        std::string report = RunCase(dir, seed, verbose, kinds);
        if (!report.empty()) {
            if (failures.size() < 20)
                printf("FAILED %s(replay: UPDATER_MUTATION_SEED=%s)\n", report.c_str(), std::to_string(seed).c_str());
            fflush(stdout);
            failures.push_back(std::to_string(seed));
        }
    }
    printf("%s: %u lists in %lu ms;", title, unsigned(seeds.size()), GetTickCount() - start);
    for (const auto& k : kinds)
        printf(" %s x%u", k.first.c_str(), k.second);
    printf("\n");
    std::string seedsText;
    for (const std::string& s : failures)
        seedsText += " " + s;
    fflush(stdout);
    EXPECT_TRUE(failures.empty()) << failures.size() << " failing seeds:" << seedsText;
}

TEST(UninstallListMutation, GeneratedLists)
{
    bool verbose;
    std::vector<uint64_t> seeds = SeedsToRun(kDefaultCases, verbose);
    RunSeeds(seeds, verbose, verbose ? "one seed" : "generated lists");
}

}  // namespace
