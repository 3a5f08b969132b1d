#include "install/RunInstall.h"
#include "package/HashList.h"
#include "package/LowercaseName.h"
#include "package/PackageFile.h"
#include "tests/support/TestSupport.h"
#include "ui/ProgressDialog.h"
#include "writer/PackageWriter.h"
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

namespace {

const std::string N(1, '\0');
const std::string kStatusSuffix = "をインストール中";

// ---------------------------------------------------------------------------
// What the run's dialog receives, seen by a hook on the test's own thread, and
// what the test does at a chosen message: the next drain then takes it.

enum class Action { kNone, kQuit, kClick, kCloseFromThread };

struct Trigger {
    std::string event;     // e.g. "F32767": the file bar set to 32767
    int occurrence = 1;    // which time that event is seen
    Action action = Action::kNone;
};

struct Watch {
    HWND dialog = nullptr;
    HWND status = nullptr;
    HWND fileBar = nullptr;
    HWND overallBar = nullptr;
    HWND button = nullptr;
    std::vector<std::string> events;
    std::map<std::string, int> seen;
    Trigger trigger;
    int answer = IDYES;          // the cancel question's answer
    int questions = 0;           // cancel questions that appeared
    HWND lastBox = nullptr;
    bool quitOnDisable = false;  // post a quit when the cancel button is disabled
} watch;

DWORD WINAPI CloseFromOutside(void* dialog)
{
    // Queued as a sent message: the run's next drain delivers it.
    SendNotifyMessageA(static_cast<HWND>(dialog), WM_CLOSE, 0, 0);
    return 0;
}

void Perform(Action action)
{
    switch (action) {
    case Action::kQuit:
        PostThreadMessageA(GetCurrentThreadId(), WM_QUIT, 0, 0);
        break;
    case Action::kClick:
        PostMessageA(watch.dialog, WM_COMMAND, MAKEWPARAM(kIdCancelButton, BN_CLICKED),
                     reinterpret_cast<LPARAM>(watch.button));
        break;
    case Action::kCloseFromThread: {
        HANDLE thread = CreateThread(nullptr, 0, CloseFromOutside, watch.dialog, 0, nullptr);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        break;
    }
    case Action::kNone:
        break;
    }
}

void Record(const std::string& event)
{
    watch.events.push_back(event);
    int n = ++watch.seen[event];
    if (event == watch.trigger.event && n == watch.trigger.occurrence)
        Perform(watch.trigger.action);
}

LRESULT CALLBACK SeeSentMessages(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT* m = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && watch.dialog) {
        if (m->hwnd == watch.fileBar || m->hwnd == watch.overallBar) {
            std::string bar = m->hwnd == watch.fileBar ? "F" : "O";
            if (m->message == PBM_SETPOS)
                Record(bar + std::to_string(static_cast<uint32_t>(m->wParam)));
            else if (m->message == PBM_SETRANGE32)
                Record("R" + bar + std::to_string(m->wParam) + "-" + std::to_string(m->lParam));
        } else if (m->hwnd == watch.status && m->message == WM_SETTEXT) {
            Record("T" + std::string(reinterpret_cast<const char*>(m->lParam)));
        } else if (m->hwnd == watch.button && m->message == WM_ENABLE && !m->wParam &&
                   watch.quitOnDisable) {
            PostThreadMessageA(GetCurrentThreadId(), WM_QUIT, 0, 0);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Answers the cancel question: the #32770 box that the dialog owns.
LRESULT CALLBACK AnswerQuestion(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE && watch.dialog) {
        HWND box = reinterpret_cast<HWND>(wParam);
        char name[16] = "";
        GetClassNameA(box, name, sizeof name);
        if (strcmp(name, "#32770") == 0 && GetWindow(box, GW_OWNER) == watch.dialog && box != watch.lastBox) {
            watch.lastBox = box;
            ++watch.questions;
            PostMessageA(box, WM_COMMAND, watch.answer, 0);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void DiscardQueue()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
}

// The progress dialog as start-up creates it, with the hooks that watch it.
class WatchedDialog {
public:
    WatchedDialog()
    {
        RegisterProgressBarClass();
        HWND dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kProgressDialogTemplate),
                                         nullptr, ProgressDialogProc, 0);
        watch.dialog = dialog;
        watch.status = GetDlgItem(dialog, kIdStatusText);
        watch.fileBar = GetDlgItem(dialog, kIdFileBar);
        watch.overallBar = GetDlgItem(dialog, kIdOverallBar);
        watch.button = GetDlgItem(dialog, kIdCancelButton);
        ProgressDialog = dialog;
        sent_ = SetWindowsHookExA(WH_CALLWNDPROC, SeeSentMessages, nullptr, GetCurrentThreadId());
        cbt_ = SetWindowsHookExA(WH_CBT, AnswerQuestion, nullptr, GetCurrentThreadId());
        DiscardQueue();
    }
    ~WatchedDialog()
    {
        UnhookWindowsHookEx(sent_);
        UnhookWindowsHookEx(cbt_);
        if (IsWindow(watch.dialog))
            DestroyWindow(watch.dialog);
        ProgressDialog = nullptr;
        watch = Watch();
        DiscardQueue();
    }
    bool Created() const { return watch.dialog != nullptr && sent_ && cbt_; }

private:
    HHOOK sent_ = nullptr;
    HHOOK cbt_ = nullptr;
};

// ---------------------------------------------------------------------------
// The folders of one run: the package lies in its own folder; the install
// folder is root\game, so a name that escapes lands in root, where the
// snapshot sees it.

using Files = std::map<std::string, std::string>;

// Every file and folder under `folder`: relative path → bytes, with "<ro>"
// appended for a read-only file; folders end in '\' and map to "".
Files Snapshot(const std::string& folder)
{
    Files out;
    for (const TreeEntry& e : ListTree(folder)) {
        if (e.attributes & FILE_ATTRIBUTE_DIRECTORY)
            out[e.path + "\\"] = "";
        else
            out[e.path] = FileBytes(folder + "\\" + e.path) +
                          ((e.attributes & FILE_ATTRIBUTE_READONLY) ? "<ro>" : "");
    }
    return out;
}

std::string Show(const Files& files)
{
    std::string s;
    for (const auto& f : files)
        s += "  " + f.first + " = " + std::to_string(f.second.size()) + " bytes" +
             (f.second.size() <= 40 ? " \"" + f.second + "\"" : "") + "\n";
    return s;
}

// Folders end in '\' in the description; files get their bytes; "<ro>" at
// the end of the bytes makes the file read-only.
void Populate(const std::string& folder, const Files& files)
{
    for (const auto& f : files) {
        std::string path = folder + "\\" + f.first;
        if (!f.first.empty() && f.first.back() == '\\') {
            path.pop_back();
            ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr)) << f.first << " " << GetLastError();
            continue;
        }
        std::string bytes = f.second;
        bool readOnly = bytes.size() >= 4 && bytes.compare(bytes.size() - 4, 4, "<ro>") == 0;
        if (readOnly)
            bytes.resize(bytes.size() - 4);
        ASSERT_TRUE(PutFile(path, bytes)) << f.first;
        if (readOnly) {
            ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
        }
    }
}

Files InGame(const Files& files)
{
    Files out{{"game\\", ""}};
    for (const auto& f : files)
        out["game\\" + f.first] = f.second;
    return out;
}

class InstallRun {
public:
    InstallRun()
    {
        CancelRequested = 0;
        CloseRequested = 0;
        game_ = root_ / "game";
        CreateDirectoryA(game_.c_str(), nullptr);
    }
    ~InstallRun()
    {
        PackageFileOverride = nullptr;
        CancelRequested = 0;
        CloseRequested = 0;
    }
    const std::string& Game() const { return game_; }
    const std::string& Root() const { return root_.Path(); }
    void Package(const PackageDescription& desc)
    {
        package_ = packageDir_ / "updater.exe";
        ASSERT_TRUE(PutFile(package_, BuildPackage(desc)));
        PackageFileOverride = package_.c_str();
    }
    InstallResult Run() { return RunInstall(game_.c_str()); }
    Files After() const { return Snapshot(root_.Path()); }

private:
    TempFolder root_;
    TempFolder packageDir_;
    std::string game_;
    std::string package_;
};

PackageEntry Entry(const std::string& name, const std::string& data)
{
    PackageEntry e;
    e.name = name;
    e.data = data;
    return e;
}

PackageDescription Entries(std::vector<PackageEntry> entries)
{
    PackageDescription desc;
    desc.entries = std::move(entries);
    return desc;
}

PackageEntry HashListEntryOf(const std::vector<HashRecord>& records, const std::string& name = "jor.hvl")
{
    return Entry(name, BuildHashList(records));
}

HashRecord WrongRecord(const std::string& path)
{
    HashRecord r = RecordFor(path, "something else");
    return r;
}

// ---------------------------------------------------------------------------
// Outcomes: the same table with no dialog and with one.

struct OutcomeCase {
    const char* what;
    PackageDescription desc;
    Files before;   // in the install folder
    InstallResult result;
    Files after;    // the whole install folder afterwards; nothing outside it
};

std::vector<OutcomeCase> OutcomeCases()
{
    const std::string hvlAB = BuildHashList({RecordFor("a.arc", "AAA"), RecordFor("b.arc", "BB")});
    const std::string hvlSub = BuildHashList({RecordFor("sub\\b.arc", "BB")});
    const std::string hvlA = BuildHashList({RecordFor("a.arc", "AAA")});
    const std::string hvlBad = BuildHashList({RecordFor("a.arc", "AAA"), WrongRecord("b.arc")});
    HashRecord zero{"e.arc", {0, 0, 0, 0, 0, 0, 0, 0}};
    HashRecord nonZero{"e.arc", {1, 0, 0, 0, 0, 0, 0, 0}};
    const std::string list = N;
    PackageEntry pastEnd;
    pastEnd.name = "c.arc";
    pastEnd.placeData = false;
    pastEnd.offset = 0;
    pastEnd.size = 100;
    PackageEntry unseekable = pastEnd;
    unseekable.offset = 0x7FFFFFF0;
    PackageEntry wrongCaseList = Entry("JOR.HVL", hvlA);

    return {
        {"success with the hash list",
         Entries({Entry("a.arc", "AAA"), Entry("b.arc", "BB"), Entry("jor.hvl", hvlAB)}),
         {{"uninst.lst", "old.arc\n" + N}},
         kInstallOk,
         {{"a.arc", "AAA"}, {"b.arc", "BB"}, {"jor.hvl", hvlAB}, {"uninst.lst", "old.arc\na.arc\nb.arc\njor.hvl\n" + N}}},
        {"success without a hash list",
         Entries({Entry("a.arc", "AAA"), Entry("b.arc", "BB")}),
         {{"uninst.lst", list}, {"a.arc", "old"}},
         kInstallOk,
         {{"a.arc", "AAA"}, {"b.arc", "BB"}, {"uninst.lst", "a.arc\nb.arc\n" + N}}},
        {"an entry with no record is installed unverified; the list found in any case",
         Entries({Entry("a.arc", "AAA"), Entry("b.arc", "anything"), wrongCaseList}),
         {{"uninst.lst", list}},
         kInstallOk,
         {{"a.arc", "AAA"}, {"b.arc", "anything"}, {"JOR.HVL", hvlA}, {"uninst.lst", "a.arc\nb.arc\nJOR.HVL\n" + N}}},
        {"a record with a subfolder",
         Entries({Entry("a.arc", "AAA"), Entry("b.arc", "BB"), Entry("jor.hvl", hvlSub)}),
         {{"uninst.lst", list}, {"sub\\", ""}},
         kInstallOk,
         {{"a.arc", "AAA"}, {"sub\\", ""}, {"sub\\b.arc", "BB"}, {"jor.hvl", hvlSub},
          {"uninst.lst", "a.arc\nsub\\b.arc\njor.hvl\n" + N}}},
        {"a record with a missing subfolder",
         Entries({Entry("a.arc", "AAA"), Entry("b.arc", "BB"), Entry("jor.hvl", hvlSub)}),
         {{"uninst.lst", list}},
         kInstallWriteFailed,
         {{"uninst.lst", list}}},
        {"an empty entry with a zero checksum",
         Entries({Entry("e.arc", ""), HashListEntryOf({zero})}),
         {{"uninst.lst", list}, {"e.arc", "old"}},
         kInstallOk,
         {{"e.arc", ""}, {"jor.hvl", BuildHashList({zero})}, {"uninst.lst", "e.arc\njor.hvl\n" + N}}},
        {"an empty entry with another checksum",
         Entries({Entry("e.arc", ""), HashListEntryOf({nonZero})}),
         {{"uninst.lst", list}, {"e.arc", "old"}},
         kInstallPackageDamaged,
         {{"uninst.lst", list}, {"e.arc", "old"}}},
        {"no entries", Entries({}), {{"uninst.lst", "x\n" + N}}, kInstallOk, {{"uninst.lst", "x\n" + N}}},
        {"no entries and no list", Entries({}), {}, kInstallUninstallListFailed, {}},
        {"no list: files in place, none created",
         Entries({Entry("a.arc", "AAA")}),
         {},
         kInstallUninstallListFailed,
         {{"a.arc", "AAA"}}},
        {"a read-only list: files in place, list kept",
         Entries({Entry("a.arc", "AAA")}),
         {{"uninst.lst", "x\n" + N + "<ro>"}},
         kInstallUninstallListFailed,
         {{"a.arc", "AAA"}, {"uninst.lst", "x\n" + N + "<ro>"}}},
        {"checksum mismatch at entry 1",
         Entries({Entry("a.arc", "AAA"), Entry("b.arc", "BB"), Entry("c.arc", "C"), Entry("jor.hvl", hvlBad)}),
         {{"uninst.lst", list}, {"b.arc", "old"}},
         kInstallPackageDamaged,
         {{"uninst.lst", list}, {"b.arc", "old"}}},
        {"data past the end of the file",
         Entries({Entry("a.arc", "AAA"), pastEnd}),
         {{"uninst.lst", list}},
         kInstallPackageDamaged,
         {{"uninst.lst", list}}},
        {"data that cannot be positioned",
         Entries({Entry("a.arc", "AAA"), unseekable}),
         {{"uninst.lst", list}},
         kInstallPackageDamaged,
         {{"uninst.lst", list}}},
        {"257 entries", [] {
             PackageDescription s = Entries({Entry("a.arc", "AAA")});
             s.overrideCount = true;
             s.count = 257;
             return s;
         }(),
         {{"uninst.lst", list}, {"a.arc.tmp", "left"}},
         kInstallTooManyEntries,
         {{"uninst.lst", list}, {"a.arc.tmp", "left"}}},
        {"a read-only final file is replaced",
         Entries({Entry("a.arc", "AAA")}),
         {{"uninst.lst", list}, {"a.arc", "old<ro>"}},
         kInstallOk,
         {{"a.arc", "AAA"}, {"uninst.lst", "a.arc\n" + N}}},
        {"a read-only leftover temporary file is overwritten",
         Entries({Entry("a.arc", "AAA")}),
         {{"uninst.lst", list}, {"a.arc.tmp", "leftover leftover<ro>"}},
         kInstallOk,
         {{"a.arc", "AAA"}, {"uninst.lst", "a.arc\n" + N}}},
        {"read-only leftovers of a stopped run are deleted",
         Entries({Entry("a.arc", "AAA"), Entry("b.arc", "BB"), Entry("c.arc", "C"), Entry("jor.hvl", hvlBad)}),
         {{"uninst.lst", list}, {"a.arc.tmp", "x<ro>"}, {"b.arc.tmp", "y<ro>"}, {"c.arc.tmp", "z<ro>"}},
         kInstallPackageDamaged,
         // c.arc never started: its leftover is not the run's to delete.
         {{"uninst.lst", list}, {"c.arc.tmp", "z<ro>"}}},
        {"a temporary path that cannot be created",
         Entries({Entry("a.arc", "AAA"), Entry("b.arc", "BB")}),
         {{"uninst.lst", list}, {"b.arc.tmp\\", ""}},
         kInstallWriteFailed,
         {{"uninst.lst", list}, {"b.arc.tmp\\", ""}}},
        // Entries that meet in one file are found before the first move
        // (without that: a commit that stops halfway, or a file lost).
        {"one name twice: nothing is moved",
         Entries({Entry("a.arc", "AAA"), Entry("b.arc", "BB"), Entry("a.arc", "A2")}),
         {{"uninst.lst", list}, {"a.arc", "old"}},
         kInstallPackageDamaged,
         {{"uninst.lst", list}, {"a.arc", "old"}}},
        {"names equal but for case",
         Entries({Entry("a.arc", "AAA"), Entry("b.arc", "BB"), Entry("A.ARC", "A2")}),
         {{"uninst.lst", list}, {"a.arc", "old"}, {"b.arc", "old"}},
         kInstallPackageDamaged,
         {{"uninst.lst", list}, {"a.arc", "old"}, {"b.arc", "old"}}},
        {"names equal but for the separator",
         Entries({Entry("a.arc", "AAA"), Entry("sub\\b.arc", "BB"), Entry("sub/b.arc", "B2")}),
         {{"uninst.lst", list}, {"sub\\", ""}},
         kInstallPackageDamaged,
         {{"uninst.lst", list}, {"sub\\", ""}}},
        {"two entries matched to one record",
         Entries({Entry("a.arc", "AAA"), Entry("b.arc", "BB"), Entry("B.ARC", "BB"), Entry("jor.hvl", hvlSub)}),
         {{"uninst.lst", list}, {"sub\\", ""}},
         kInstallPackageDamaged,
         {{"uninst.lst", list}, {"sub\\", ""}}},
        {"an entry named as another's temporary file, after it",
         Entries({Entry("a.arc", "AAA"), Entry("a.arc.tmp", "TMP")}),
         {{"uninst.lst", list}},
         kInstallPackageDamaged,
         {{"uninst.lst", list}}},
        {"an entry named as another's temporary file, before it",
         Entries({Entry("a.arc.tmp", "TMP"), Entry("a.arc", "AAA")}),
         {{"uninst.lst", list}, {"a.arc", "old"}},
         kInstallPackageDamaged,
         {{"uninst.lst", list}, {"a.arc", "old"}}},
        {"an entry named like the list merge's new list",
         Entries({Entry("a.arc", "AAA"), Entry("Uninst.New", "NEW")}),
         {{"uninst.lst", list}, {"a.arc", "old"}},
         kInstallPackageDamaged,
         {{"uninst.lst", list}, {"a.arc", "old"}}},
        {"a folder where a file goes",
         Entries({Entry("a.arc", "AAA"), Entry("sub", "BB")}),
         {{"uninst.lst", list}, {"a.arc", "old"}, {"sub\\", ""}},
         kInstallWriteFailed,
         {{"uninst.lst", list}, {"a.arc", "old"}, {"sub\\", ""}}},
        {"one file through a trailing dot, two temporary files: the later entry wins",
         Entries({Entry("a.arc", "AAA"), Entry("a.arc.", "A2")}),
         {{"uninst.lst", list}, {"a.arc", "old"}},
         kInstallOk,
         {{"uninst.lst", "a.arc\na.arc.\n" + N}, {"a.arc", "A2"}}},
    };
}

std::string Describe(InstallResult r)
{
    char text[16];
    wsprintfA(text, "0x%08lX", static_cast<unsigned long>(r));
    return text;
}

void CheckOutcome(const OutcomeCase& c, bool withDialog)
{
    SCOPED_TRACE(std::string(c.what) + (withDialog ? " (dialog)" : " (no dialog)"));
    InstallRun run;
    Populate(run.Game(), c.before);
    run.Package(c.desc);
    InstallResult result;
    if (withDialog) {
        WatchedDialog dialog;
        ASSERT_TRUE(dialog.Created());
        result = run.Run();
    } else {
        result = run.Run();
    }
    EXPECT_EQ(Describe(result), Describe(c.result));
    Files expected = InGame(c.after);
    Files after = run.After();
    EXPECT_TRUE(after == expected) << "after:\n" << Show(after) << "expected:\n" << Show(expected);
    EXPECT_EQ(CancelRequested, 0);
    EXPECT_EQ(CloseRequested, 0);
}

TEST(RunInstall, OutcomesWithoutADialog)
{
    for (const OutcomeCase& c : OutcomeCases())
        CheckOutcome(c, false);
}

TEST(RunInstall, OutcomesWithADialog)
{
    for (const OutcomeCase& c : OutcomeCases())
        CheckOutcome(c, true);
}

// Wine can store such names only when its Unix locale has a multibyte
// character set; a machine without the ja_JP.UTF-8 locale cannot.
bool CanCreateDoubleByteNames()
{
    TempFolder dir;
    return CreateDirectoryA((dir / "\x82\xA0").c_str(), nullptr) != FALSE;
}

// 0x5C as the second byte of a character is no separator: such names are
// neither refused nor split.
TEST(RunInstall, DoubleByteNamesWithASecondByteOf5C)
{
    if (!CanCreateDoubleByteNames()) {
        // (Not GTEST_SKIP: a skip takes this harness's test process down.)
        printf("    not run: Wine here cannot create non-ASCII file names (no ja_JP.UTF-8 locale)\n");
        return;
    }
    const std::string list = N;
    OutcomeCase c =
        {"double-byte names whose second byte is 0x5C",
         Entries({Entry("\x83\x5C", "so"), Entry("\x95\x5C\\b.arc", "hyo"), Entry("..\x94\x5C", "no")}),
         {{"uninst.lst", list}, {"\x95\x5C\\", ""}},
         kInstallOk,
         {{"\x83\x5C", "so"}, {"\x95\x5C\\", ""}, {"\x95\x5C\\b.arc", "hyo"}, {"..\x94\x5C", "no"},
          {"uninst.lst", "\x83\x5C\n\x95\x5C\\b.arc\n..\x94\x5C\n" + N}}};
    CheckOutcome(c, false);
}

// Names that would leave the folder or name something else: staging stops at
// that entry before anything of it exists; the started entries' files go.
TEST(RunInstall, EscapingNamesStopStaging)
{
    const char* names[] = {
        "..\\evil.arc", "sub\\..\\..\\evil.arc", "../evil.arc", "...\\evil.arc", ".. \\evil.arc",
        "..", "C:evil.arc", "C:\\evil.arc", "evil.arc:stream", "\\evil.arc", "/evil.arc",
        "\\\\server\\share\\evil.arc", "sub\\", "", "nul", "COM1.arc", "sub\\aux\\evil.arc",
    };
    for (const char* name : names) {
        for (bool throughRecord : {false, true}) {
            SCOPED_TRACE(std::string(name) + (throughRecord ? " (record path)" : " (entry name)"));
            InstallRun run;
            Populate(run.Game(), {{"uninst.lst", N}, {"sub\\", ""}});
            PackageDescription desc;
            if (throughRecord) {
                // The record's last component matches the entry "evil.arc".
                if (strcmp(LastPathComponent(name), "evil.arc") != 0)
                    continue;
                desc = Entries({Entry("a.arc", "AAA"), Entry("evil.arc", "EVIL"),
                                HashListEntryOf({RecordFor(name, "EVIL")})});
            } else {
                desc = Entries({Entry("a.arc", "AAA"), Entry(name, "EVIL")});
            }
            run.Package(desc);
            EXPECT_EQ(Describe(run.Run()), Describe(kInstallPackageDamaged));
            Files after = run.After();
            Files expected = InGame({{"uninst.lst", N}, {"sub\\", ""}});
            EXPECT_TRUE(after == expected) << Show(after);
        }
    }
}

TEST(RunInstall, InstallNameRule)
{
    struct {
        const char* name;
        bool safe;
    } cases[] = {
        {"a.arc", true}, {"sub\\a.arc", true}, {"sub/a.arc", true}, {".hidden", true},
        {"a..b", true}, {".\\a.arc", false}, {"a\\\\b", true}, {"\x95\x5C", true},
        {"\x95\x5C\\..", false}, {"..\x95\x5C", true}, {"\x95\x5C..", true},
        {"..", false}, {"a\\..\\b", false}, {"a/../b", false}, {"... ", false}, {" ", false},
        {"a:b", false}, {"\\a", false}, {"/a", false}, {"a\\", false}, {"", false},
        {"a\x95", false},
        // Device names, in any case, with an extension or spaces before it, as folders too.
        {"con", false}, {"NUL", false}, {"Prn.txt", false}, {"aux .arc", false}, {"com1", false},
        {"LPT9.tmp", false}, {"sub\\com3.arc", false}, {"con\\a.arc", false},
        {"com0", true}, {"lpt10", true}, {"console.arc", true}, {"a.con", true}, {"nul_", true},
        {"co", true}, {"\x83\x43on", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsSafeInstallName(c.name), c.safe) << c.name;
}

TEST(RunInstall, StatusTextIsCutOnACharacterBoundary)
{
    char text[kPathBufferSize];
    BuildStatusText(text, "a.arc");
    EXPECT_EQ(std::string(text), "a.arc" + kStatusSuffix);
    for (size_t length = 238; length <= 262; ++length) {
        for (char fill : {'x', '\x95'}) {
            // Double-byte fill: pairs of 0x95 0x5C, cut to the length.
            std::string name;
            while (name.size() < length)
                name += fill == 'x' ? "x" : "\x95\x5C";
            name.resize(length);
            if (fill != 'x' && length % 2)
                name.back() = 'y';  // keep the name itself whole
            std::string full = name + kStatusSuffix;
            BuildStatusText(text, name.c_str());
            std::string got = text;
            SCOPED_TRACE(std::to_string(length) + fill);
            ASSERT_LE(got.size(), kPathBufferSize - 1);
            EXPECT_EQ(full.compare(0, got.size(), got), 0);
            size_t i = 0;
            while (i < got.size())
                i += IsLeadByte(static_cast<unsigned char>(got[i])) ? 2 : 1;
            EXPECT_EQ(i, got.size()) << "ends inside a character";
            if (full.size() < kPathBufferSize) {
                EXPECT_EQ(got, full);
            } else {
                EXPECT_GE(got.size(), kPathBufferSize - 2);
            }
        }
    }
}

// 256 entries are accepted and all merged into the list.
TEST(RunInstall, TwoHundredFiftySixEntries)
{
    for (bool withDialog : {false, true}) {
        SCOPED_TRACE(withDialog);
        InstallRun run;
        Populate(run.Game(), {{"uninst.lst", N}});
        std::vector<PackageEntry> entries;
        Files expected;
        std::string list;
        for (int i = 0; i < 256; ++i) {
            char name[16];
            wsprintfA(name, "f%03d.bin", i);
            entries.push_back(Entry(name, std::string(i, char(i))));
            expected[name] = std::string(i, char(i));
            list += std::string(name) + "\n";
        }
        expected["uninst.lst"] = list + N;
        run.Package(Entries(entries));
        InstallResult result;
        if (withDialog) {
            WatchedDialog dialog;
            ASSERT_TRUE(dialog.Created());
            result = run.Run();
            EXPECT_EQ(watch.seen["O256"], 1);
            EXPECT_EQ(watch.events.at(2), "RO0-256");
        } else {
            result = run.Run();
        }
        EXPECT_EQ(Describe(result), Describe(kInstallOk));
        EXPECT_TRUE(run.After() == InGame(expected));
    }
}

// 257 entries: nothing shown, nothing drained.
TEST(RunInstall, TooManyEntriesTouchNothing)
{
    InstallRun run;
    PackageDescription s = Entries({Entry("a.arc", "AAA")});
    s.overrideCount = true;
    s.count = 257;
    run.Package(s);
    WatchedDialog dialog;
    ASSERT_TRUE(dialog.Created());
    PostThreadMessageA(GetCurrentThreadId(), WM_USER + 7, 0, 0);
    EXPECT_EQ(Describe(run.Run()), Describe(kInstallTooManyEntries));
    EXPECT_TRUE(watch.events.empty());
    MSG m;
    EXPECT_TRUE(PeekMessageA(&m, nullptr, WM_USER + 7, WM_USER + 7, PM_REMOVE)) << "no drain took place";
}

// The dialog updates of a whole run, in order, and the file bar's positions
// as the bar received them.
TEST(RunInstall, DialogUpdatesAndFileBarPositions)
{
    InstallRun run;
    Populate(run.Game(), {{"uninst.lst", N}});
    const uint32_t MiB = 1024 * 1024;
    run.Package(Entries({Entry("one.bin", std::string(MiB, 'a')), Entry("odd.bin", std::string(MiB + 1, 'b')),
                         Entry("two.bin", std::string(2 * MiB, 'c')), Entry("empty.bin", "")}));
    WatchedDialog dialog;
    ASSERT_TRUE(dialog.Created());
    EXPECT_EQ(Describe(run.Run()), Describe(kInstallOk));
    std::vector<std::string> expected = {
        "RF0-65535", "F0", "RO0-4", "O0",
        "Tone.bin" + kStatusSuffix, "F0", "F65535", "O1",
        "Todd.bin" + kStatusSuffix, "F0", "F65534", "F65535", "O2",
        "Ttwo.bin" + kStatusSuffix, "F0", "F32767", "F65535", "O3",
        "Tempty.bin" + kStatusSuffix, "F0", "O4",
    };
    EXPECT_EQ(watch.events, expected);
    EXPECT_EQ(FileBytes(run.Game() + "\\two.bin").size(), 2 * MiB);
}

TEST(RunInstall, ZeroEntriesSetAnEmptyOverallRange)
{
    InstallRun run;
    Populate(run.Game(), {{"uninst.lst", N}});
    run.Package(Entries({}));
    WatchedDialog dialog;
    ASSERT_TRUE(dialog.Created());
    EXPECT_EQ(Describe(run.Run()), Describe(kInstallOk));
    EXPECT_EQ(watch.events, (std::vector<std::string>{"RF0-65535", "F0", "RO0-0", "O0"}));
}

// A move that fails at slot 1: slot 0 stays moved, later slots are not
// moved, every temporary file goes, the list is untouched.
TEST(RunInstall, FailedMoveAtASlot)
{
    for (bool withDialog : {false, true}) {
        SCOPED_TRACE(withDialog);
        InstallRun run;
        Populate(run.Game(), {{"uninst.lst", N}, {"b.arc", "old<ro>"}});
        run.Package(Entries({Entry("a.arc", "AAA"), Entry("b.arc", "BB"), Entry("c.arc", "C")}));
        std::string held = run.Game() + "\\b.arc";
        HANDLE h = CreateFileA(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        InstallResult result;
        if (withDialog) {
            WatchedDialog dialog;
            ASSERT_TRUE(dialog.Created());
            result = run.Run();
        } else {
            result = run.Run();
        }
        CloseHandle(h);
        EXPECT_EQ(Describe(result), Describe(kInstallWriteFailed));
        // b.arc keeps its bytes; its read-only mark was reset before the move.
        Files expected = InGame({{"uninst.lst", N}, {"a.arc", "AAA"}, {"b.arc", "old"}});
        Files after = run.After();
        EXPECT_TRUE(after == expected) << Show(after);
    }
}

// A folder whose temporary path just fits, and one byte more: the run stops
// before anything of that entry is created.
TEST(RunInstall, TemporaryPathOverflow)
{
    for (size_t length : {54u, 55u}) {
        SCOPED_TRACE(length);
        InstallRun run;
        // A folder of exactly 200 bytes inside the game folder.
        std::string folder = run.Game() + "\\";
        folder += std::string(200 - folder.size(), 'd');
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
        ASSERT_TRUE(PutFile(folder + "\\uninst.lst", N));
        std::string name = std::string(length - 4, 'n') + ".arc";
        run.Package(Entries({Entry("a.arc", "AAA"), Entry(name, "LONG")}));
        InstallResult result = RunInstall(folder.c_str());
        Files after = Snapshot(folder);
        if (length == 54) {  // 200 + 1 + 54 + 4 = 259 bytes
            EXPECT_EQ(Describe(result), Describe(kInstallOk));
            EXPECT_TRUE(after == (Files{{"a.arc", "AAA"}, {name, "LONG"}, {"uninst.lst", "a.arc\n" + name + "\n" + N}}))
                << Show(after);
        } else {
            EXPECT_EQ(Describe(result), Describe(kInstallWriteFailed));
            EXPECT_TRUE(after == (Files{{"uninst.lst", N}})) << Show(after);
        }
    }
}

// A checksum mismatch at entry 1: the overall bar stays at 1.
TEST(RunInstall, MismatchLeavesTheOverallBarAtTheEntry)
{
    InstallRun run;
    Populate(run.Game(), {{"uninst.lst", N}});
    run.Package(Entries({Entry("a.arc", "AAA"), Entry("b.arc", "BB"), Entry("c.arc", "C"),
                         HashListEntryOf({RecordFor("a.arc", "AAA"), WrongRecord("b.arc")})}));
    WatchedDialog dialog;
    ASSERT_TRUE(dialog.Created());
    EXPECT_EQ(Describe(run.Run()), Describe(kInstallPackageDamaged));
    std::vector<std::string> expected = {
        "RF0-65535", "F0", "RO0-4", "O0",
        "Ta.arc" + kStatusSuffix, "F0", "F65535", "O1",
        "Tb.arc" + kStatusSuffix, "F0", "F65535",
    };
    EXPECT_EQ(watch.events, expected);
    EXPECT_TRUE(run.After() == InGame({{"uninst.lst", N}}));
}

// The folder is used as given: a trailing separator doubles in the paths,
// which still name the files inside it.
TEST(RunInstall, FolderEndingInASeparator)
{
    InstallRun run;
    Populate(run.Game(), {{"uninst.lst", N}});
    run.Package(Entries({Entry("a.arc", "AAA")}));
    EXPECT_EQ(Describe(RunInstall((run.Game() + "\\").c_str())), Describe(kInstallOk));
    EXPECT_TRUE(run.After() == InGame({{"a.arc", "AAA"}, {"uninst.lst", "a.arc\n" + N}}));
}

// ---------------------------------------------------------------------------
// Drain points and flags, each driven at a chosen message of the run.

const uint32_t kMiB = 1024 * 1024;

PackageDescription ThreeEntries()
{
    return Entries({Entry("a.arc", "AAA"), Entry("big.bin", std::string(2 * kMiB, 'g')), Entry("c.arc", "C")});
}

struct DrainCase {
    const char* what;
    Trigger trigger;
    int answer;
    bool quitOnDisable;
    InstallResult result;
    int32_t cancel;
    int32_t close;
    int questions;
    bool dialogLeft;
    std::vector<std::string> notSeen;  // events that must not come after the trigger
};

TEST(RunInstall, DrainPointsAndFlags)
{
    const Files before = {{"uninst.lst", N}, {"big.bin.tmp", "left<ro>"}};
    const Files untouched = {{"uninst.lst", N}};
    const Files installed = {{"uninst.lst", "a.arc\nbig.bin\nc.arc\n" + N}, {"a.arc", "AAA"},
                             {"big.bin", std::string(2 * kMiB, 'g')}, {"c.arc", "C"}};
    DrainCase cases[] = {
        {"quit at D1", {"O0", 1, Action::kQuit}, IDYES, false, kInstallClosed, 0, 1, 0, true,
         {"Ta.arc" + kStatusSuffix}},
        {"quit at D2", {"F0", 3, Action::kQuit}, IDYES, false, kInstallClosed, 0, 1, 0, true, {"F32767"}},
        {"quit at D3", {"F32767", 1, Action::kQuit}, IDYES, false, kInstallClosed, 0, 1, 0, true, {"O2"}},
        {"quit at D4 of the last entry", {"O3", 1, Action::kQuit}, IDYES, false, kInstallClosed, 0, 1, 0, true, {}},
        {"quit at D4 of the first entry", {"O1", 1, Action::kQuit}, IDYES, false, kInstallClosed, 0, 1, 0, true,
         {"Tbig.bin" + kStatusSuffix}},
        {"cancel confirmed at D2", {"F0", 3, Action::kClick}, IDYES, false, kInstallCancelled, 1, 0, 1, true,
         {"F32767"}},
        {"cancel confirmed between chunks", {"F32767", 1, Action::kClick}, IDYES, false, kInstallCancelled, 1, 0, 1,
         true, {"F65535"}},
        {"cancel confirmed after the last entry", {"O3", 1, Action::kClick}, IDYES, false, kInstallCancelled, 1, 0, 1,
         true, {}},
        {"cancel answered No", {"F32767", 1, Action::kClick}, IDNO, false, kInstallOk, 0, 0, 1, true, {}},
        {"WM_CLOSE from another thread", {"F32767", 1, Action::kCloseFromThread}, IDYES, false, kInstallClosed, 0, 1,
         0, false, {"F65535"}},
        {"both flags", {"F32767", 1, Action::kClick}, IDYES, true, kInstallCancelled, 1, 1, 1, true, {"F65535"}},
    };
    for (const DrainCase& c : cases) {
        SCOPED_TRACE(c.what);
        InstallRun run;
        Populate(run.Game(), before);
        run.Package(ThreeEntries());
        WatchedDialog dialog;
        ASSERT_TRUE(dialog.Created());
        HWND handle = watch.dialog;
        watch.trigger = c.trigger;
        watch.answer = c.answer;
        watch.quitOnDisable = c.quitOnDisable;
        EXPECT_EQ(Describe(run.Run()), Describe(c.result));
        EXPECT_EQ(CancelRequested, c.cancel);
        EXPECT_EQ(CloseRequested, c.close);
        EXPECT_EQ(watch.questions, c.questions);
        EXPECT_EQ(watch.seen[c.trigger.event], c.trigger.occurrence) << "the trigger was reached";
        EXPECT_EQ(IsWindow(handle) != FALSE, c.dialogLeft);
        EXPECT_EQ(ProgressDialog != nullptr, c.dialogLeft);
        if (c.cancel) {
            EXPECT_FALSE(IsWindowEnabled(watch.button));
        }
        // Nothing of what comes after the stop reached the dialog.
        auto at = std::find(watch.events.begin(), watch.events.end(), c.trigger.event);
        for (const std::string& e : c.notSeen)
            EXPECT_EQ(std::find(at, watch.events.end(), e), watch.events.end()) << e;
        // A stopped run leaves the game as it was (the read-only leftover of a
        // started entry included); a finished one installs everything.
        Files after = run.After();
        Files expected = InGame(c.result == kInstallOk ? installed : untouched);
        if (c.trigger.event == "O0" || (c.trigger.event == "O1"))
            expected["game\\big.bin.tmp"] = "left<ro>";  // its entry never started
        EXPECT_TRUE(after == expected) << Show(after);
        CancelRequested = 0;
        CloseRequested = 0;
    }
}

// No dialog: the drains still take place and the flags still count.
TEST(RunInstall, WithoutADialogTheDrainsAndFlagsStillWork)
{
    {
        SCOPED_TRACE("a quit waiting before the run is taken at D1");
        InstallRun run;
        Populate(run.Game(), {{"uninst.lst", N}});
        run.Package(ThreeEntries());
        PostThreadMessageA(GetCurrentThreadId(), WM_QUIT, 0, 0);
        EXPECT_EQ(Describe(run.Run()), Describe(kInstallClosed));
        EXPECT_EQ(CloseRequested, 1);
        EXPECT_TRUE(run.After() == InGame({{"uninst.lst", N}}));
    }
    {
        SCOPED_TRACE("both flags set: cancelled, nothing staged");
        InstallRun run;
        Populate(run.Game(), {{"uninst.lst", N}});
        run.Package(ThreeEntries());
        CancelRequested = 1;
        CloseRequested = 1;
        EXPECT_EQ(Describe(run.Run()), Describe(kInstallCancelled));
        EXPECT_TRUE(run.After() == InGame({{"uninst.lst", N}}));
    }
    {
        SCOPED_TRACE("a flag outranks a damaged package");
        InstallRun run;
        PackageDescription s = Entries({});
        s.overrideCount = true;
        s.count = 300;
        run.Package(s);
        CloseRequested = 1;
        EXPECT_EQ(Describe(run.Run()), Describe(kInstallClosed));
    }
    {
        SCOPED_TRACE("no package file");
        InstallRun run;
        PackageFileOverride = "C:\\no\\such\\updater.exe";
        EXPECT_EQ(Describe(run.Run()), Describe(kInstallPackageDamaged));
        EXPECT_TRUE(run.After() == InGame({}));
    }
}

// ---------------------------------------------------------------------------
// A final file that another holder keeps open without sharing: a brief hold
// is outwaited, a lasting one fails the run after a bounded wait. The holder
// is a thread of this process, so that Wine enforces its lock.

struct HeldHandle {
    HANDLE handle;
    DWORD milliseconds;
};

DWORD WINAPI CloseLater(void* param)
{
    HeldHandle* held = static_cast<HeldHandle*>(param);
    Sleep(held->milliseconds);
    CloseHandle(held->handle);
    return 0;
}

TEST(RunInstall, MovesOutwaitABriefHoldOnly)
{
    struct HoldCase {
        const char* what;
        DWORD holdMs;  // 0: held for the whole run
        InstallResult result;
        Files after;
        DWORD minMs, maxMs;  // the run's duration
    };
    const HoldCase cases[] = {
        {"held for half a second: outwaited", 500, kInstallOk,
         {{"uninst.lst", "a.arc\nb.arc\nc.arc\n" + N}, {"a.arc", "AAA"}, {"b.arc", "BB"}, {"c.arc", "C"}},
         450, 1900},
        {"held for the whole run: the earlier move stays", 0, kInstallWriteFailed,
         {{"uninst.lst", N}, {"a.arc", "AAA"}, {"b.arc", "old"}},
         1500, 2500},
    };
    for (const HoldCase& c : cases) {
        SCOPED_TRACE(c.what);
        InstallRun run;
        Populate(run.Game(), {{"uninst.lst", N}, {"b.arc", "old"}});
        run.Package(Entries({Entry("a.arc", "AAA"), Entry("b.arc", "BB"), Entry("c.arc", "C")}));
        std::string path = run.Game() + "\\b.arc";
        HeldHandle held{CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), c.holdMs};
        ASSERT_NE(held.handle, INVALID_HANDLE_VALUE);
        HANDLE thread = c.holdMs ? CreateThread(nullptr, 0, CloseLater, &held, 0, nullptr) : nullptr;
        DWORD start = GetTickCount();
        InstallResult result = run.Run();
        DWORD elapsed = GetTickCount() - start;
        if (thread) {
            WaitForSingleObject(thread, INFINITE);
            CloseHandle(thread);
        } else {
            CloseHandle(held.handle);
        }
        EXPECT_EQ(Describe(result), Describe(c.result));
        Files after = run.After();
        EXPECT_TRUE(after == InGame(c.after)) << Show(after);
        EXPECT_GE(elapsed, c.minMs);
        EXPECT_LE(elapsed, c.maxMs);
    }
}

// Errors other than a sharing violation or a denied access are not waited for.
TEST(RunInstall, OtherMoveErrorsFailAtOnce)
{
    TempFolder dir;
    ASSERT_TRUE(PutFile(dir / "held.bin", "x"));
    DWORD start = GetTickCount();
    EXPECT_FALSE(MoveIntoPlace((dir / "missing.tmp").c_str(), (dir / "held.bin").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_LT(GetTickCount() - start, 40u);
    EXPECT_EQ(FileBytes(dir / "held.bin"), "x");
    // A plain move still works, over an existing file too.
    ASSERT_TRUE(PutFile(dir / "new.tmp", "y"));
    EXPECT_TRUE(MoveIntoPlace((dir / "new.tmp").c_str(), (dir / "held.bin").c_str()));
    EXPECT_EQ(ListFolder(dir.Path()), "held.bin");
    EXPECT_EQ(FileBytes(dir / "held.bin"), "y");
}

// ---------------------------------------------------------------------------
// Entries that plainly do not fit the install folder's volume: nothing is
// written, not even a temporary file. Their declared sizes lie beyond the
// package's end, so without the check the run would start a .tmp and then
// end with kInstallPackageDamaged.

TEST(RunInstall, EntriesBeyondTheFreeSpaceWriteNothing)
{
    TempFolder probe;
    ULARGE_INTEGER available;
    ASSERT_TRUE(GetDiskFreeSpaceExA(probe.Path().c_str(), &available, nullptr, nullptr)) << GetLastError();
    const uint64_t kHalf = 0x80000000u;
    // An even count of 2 GiB sizes: a 32-bit sum would wrap to 0 and fit.
    uint64_t halves = (available.QuadPart / kHalf + 2) & ~uint64_t(1);
    if (halves > 250) {
        // (Not GTEST_SKIP: a skip takes this harness's test process down.)
        printf("    not run: the temp folder's volume has %llu bytes free, more than 250 entries "
               "of 2 GiB can declare\n", static_cast<unsigned long long>(available.QuadPart));
        return;
    }
    std::vector<PackageEntry> entries{Entry("a.arc", "AAA")};
    for (uint64_t i = 0; i < halves; ++i) {
        PackageEntry big;
        big.name = "big" + std::to_string(i) + ".arc";
        big.placeData = false;
        big.offset = 0;
        big.size = 0x80000000u;
        entries.push_back(big);
    }
    struct SpaceCase {
        const char* what;
        bool withDialog;
        int cancel;
        InstallResult result;
    };
    const SpaceCase cases[] = {
        {"no dialog", false, 0, kInstallWriteFailed},
        {"with the dialog", true, 0, kInstallWriteFailed},
        {"a flag still outranks it", false, 1, kInstallCancelled},
    };
    const Files before{{"uninst.lst", "x\n" + N}, {"a.arc", "old"}, {"big0.arc", "old"}};
    for (const SpaceCase& c : cases) {
        SCOPED_TRACE(c.what);
        InstallRun run;
        Populate(run.Game(), before);
        run.Package(Entries(entries));
        CancelRequested = c.cancel;
        InstallResult result;
        if (c.withDialog) {
            WatchedDialog dialog;
            ASSERT_TRUE(dialog.Created());
            result = run.Run();
            // Nothing of an entry was shown: the run never started one.
            for (const std::string& e : watch.events)
                EXPECT_NE(e[0], 'T') << e;
        } else {
            result = run.Run();
        }
        EXPECT_EQ(Describe(result), Describe(c.result));
        Files after = run.After();
        EXPECT_TRUE(after == InGame(before)) << Show(after);
    }
}

// The same entries with the temporary files that a killed run left for them:
// those are truncated when their entries start, so their space counts as
// free and the run goes on to staging (where the missing data ends it).
// Sparse leftovers of the declared sizes, so nothing fills the disk.
TEST(RunInstall, LeftoversOfAnInterruptedRunCountAsFreeSpace)
{
    InstallRun run;
    ULARGE_INTEGER available;
    ASSERT_TRUE(GetDiskFreeSpaceExA(run.Game().c_str(), &available, nullptr, nullptr)) << GetLastError();
    const uint64_t halves = (available.QuadPart / 0x80000000u + 2) & ~uint64_t(1);
    if (halves > 250) {
        // (Not GTEST_SKIP: a skip takes this harness's test process down.)
        printf("    not run: the temp folder's volume has too much free space for 250 entries\n");
        return;
    }
    std::vector<PackageEntry> entries{Entry("a.arc", "AAA")};
    std::vector<std::string> left{"uninst.lst"};
    for (uint64_t i = 0; i < halves; ++i) {
        PackageEntry big;
        big.name = "big" + std::to_string(i) + ".arc";
        big.placeData = false;
        big.size = 0x80000000u;
        entries.push_back(big);
        HANDLE leftover = CreateFileA((run.Game() + "\\" + big.name + ".tmp").c_str(), GENERIC_WRITE, 0,
                                      nullptr, CREATE_NEW, 0, nullptr);
        ASSERT_NE(leftover, INVALID_HANDLE_VALUE);
        LARGE_INTEGER end;
        end.QuadPart = 0x80000000u;
        EXPECT_TRUE(SetFilePointerEx(leftover, end, nullptr, FILE_BEGIN) && SetEndOfFile(leftover));
        CloseHandle(leftover);
        if (i > 0)
            left.push_back(big.name + ".tmp");  // its entry never starts: it stays
    }
    std::sort(left.begin(), left.end());
    std::string expected;
    for (const std::string& name : left)
        expected += (expected.empty() ? "" : "|") + name;
    Populate(run.Game(), {{"uninst.lst", N}});
    run.Package(Entries(entries));
    EXPECT_EQ(Describe(run.Run()), Describe(kInstallPackageDamaged));
    EXPECT_EQ(ListFolder(run.Game()), expected);
}

// Entries that fit pass the check; a file of several chunks, flushed before
// its handle closes, arrives whole.
TEST(RunInstall, EntriesThatFitAreInstalledWhole)
{
    InstallRun run;
    Populate(run.Game(), {{"uninst.lst", N}});
    run.Package(Entries({Entry("a.arc", "AAA"), Entry("b.arc", std::string(3 * 1024 * 1024 + 7, 'b'))}));
    EXPECT_EQ(Describe(run.Run()), Describe(kInstallOk));
    Files after = run.After();
    EXPECT_TRUE(after == InGame({{"uninst.lst", "a.arc\nb.arc\n" + N}, {"a.arc", "AAA"},
                                 {"b.arc", std::string(3 * 1024 * 1024 + 7, 'b')}}))
        << Show(after);
}

}  // namespace
