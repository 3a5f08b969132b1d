// Faults injected into the real updater while it runs under Wine: the process
// killed during staging, a disk that fills, files held by other processes,
// hostile attributes, a second updater and the game started mid-run. Every
// case compares the whole game folder afterwards with what it must hold:
// each file's bytes and attributes, no temporary file, the list never shortened.
#include "app/Texts.h"
#include "install/InstallResult.h"
#include "tests/e2e/E2eSupport.h"
#include "tests/e2e/WindowDriver.h"
#include "tests/support/TestSupport.h"
#include "writer/PackageWriter.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>

namespace {

constexpr char kCaption[] = "ヴェストリアル アップデート 1.0.2";
constexpr uint32_t kMiB = 1024 * 1024;
// Four chunks: a kill or a full disk can land inside the entry.
constexpr uint32_t kLargeSize = 4 * kMiB;
constexpr DWORD kKilled = 77;
const std::string N(1, '\0');

constexpr DWORD kMarks = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
constexpr DWORD kR = FILE_ATTRIBUTE_READONLY;
constexpr DWORD kH = FILE_ATTRIBUTE_HIDDEN;
constexpr DWORD kS = FILE_ATTRIBUTE_SYSTEM;
constexpr DWORD kDir = FILE_ATTRIBUTE_DIRECTORY;

// ---------------------------------------------------------------------------
// A folder as the tests compare it: every file and folder with its bytes and
// its read-only, hidden and system marks.

struct Item {
    std::string bytes;
    DWORD marks = 0;
    bool operator==(const Item& o) const { return bytes == o.bytes && marks == o.marks; }
};
using Files = std::map<std::string, Item>;

Files FolderFiles(const std::string& folder)
{
    Files out;
    for (const TreeEntry& e : ListTree(folder)) {
        Item item;
        item.marks = e.attributes & (kMarks | kDir);
        if (!(e.attributes & kDir))
            item.bytes = FileBytes(folder + "\\" + e.path);
        out[e.path] = item;
    }
    return out;
}

std::string Show(const Files& files)
{
    std::string s;
    for (const auto& f : files) {
        const Item& i = f.second;
        s += "  " + f.first + ((i.marks & kDir) ? "\\" : " " + std::to_string(i.bytes.size()) + " bytes");
        if (i.marks & kMarks)
            s += std::string(" [") + ((i.marks & kR) ? "R" : "") + ((i.marks & kH) ? "H" : "") +
                 ((i.marks & kS) ? "S" : "") + "]";
        if (!(i.marks & kDir) && i.bytes.size() <= 40)
            s += " \"" + i.bytes + "\"";
        s += "\n";
    }
    return s;
}

// Files first, then the marks (a read-only file cannot be written).
void Populate(const std::string& folder, const Files& files)
{
    for (const auto& f : files) {
        std::string path = folder + "\\" + f.first;
        if (f.second.marks & kDir)
            CreateDirectoryA(path.c_str(), nullptr);
        else
            PutFile(path, f.second.bytes);
    }
    for (const auto& f : files)
        if (f.second.marks & kMarks)
            SetFileAttributesA((folder + "\\" + f.first).c_str(), f.second.marks & kMarks);
}

#define EXPECT_FOLDER(folder, expected)                                                     \
    do {                                                                                    \
        Files after_ = FolderFiles(folder);                                                 \
        Files expected_ = (expected);                                                       \
        EXPECT_TRUE(after_ == expected_) << "the folder holds:\n"                           \
                                         << Show(after_) << "it must hold:\n" << Show(expected_); \
    } while (0)

// -1 when there is no such file.
int64_t FileSize(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return -1;
    return (int64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Polls until `path` holds at least `bytes` bytes while the updater runs;
// false when it ends first or the bound passes.
bool AwaitFile(const ChildProcess& child, const std::string& path, int64_t bytes, DWORD timeoutMs = 60000)
{
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        if (FileSize(path) >= bytes)
            return true;
        if (WaitForSingleObject(child.process, 1) == WAIT_OBJECT_0)
            return false;
    }
    return false;
}

std::vector<std::string> BoxTexts(const DriveResult& run)
{
    std::vector<std::string> texts;
    for (const SeenBox& b : run.boxes)
        texts.push_back(b.text);
    return texts;
}

int AnswerYes(const SeenBox& box)
{
    return box.text == kTextConfirmUpdate ? IDYES : IDOK;
}

// ---------------------------------------------------------------------------
// The game before the update, and the update: slot 0 "jor.hvl", slot 1
// "data\big.bin" (large, placed by the hash list), slot 2 "readme.txt". Every
// slot has an old file, so any of them can be held.

const std::string kOldList = "readme.txt\ngame.exe\n";

Files OldGame()
{
    return {{"uninst.lst", {kOldList + N}}, {"game.exe", {"old game"}}, {"jor.hvl", {"old hash list"}},
            {"readme.txt", {"old readme\r\n"}}, {"data", {"", kDir}}, {"data\\big.bin", {"old big"}}};
}

UpdateSample FaultSample()
{
    UpdateSample s = MakeSample(kCaption, kLargeSize);
    std::swap(s.desc.entries[1], s.desc.entries[2]);  // jor.hvl, big.bin, readme.txt
    return s;
}

const char* const kSlots[] = {"jor.hvl", "data\\big.bin", "readme.txt"};

std::string NewBytes(const UpdateSample& s, int slot)
{
    return slot == 0 ? s.hashList : slot == 1 ? s.big : s.readme;
}

// The old game with slots [0, moved) replaced.
Files Moved(const UpdateSample& s, int moved)
{
    Files f = OldGame();
    for (int i = 0; i < moved; ++i)
        f[kSlots[i]] = {NewBytes(s, i)};
    return f;
}

Files Installed(const UpdateSample& s)
{
    Files f = Moved(s, 3);
    f["uninst.lst"] = {kOldList + "jor.hvl\ndata\\big.bin\n" + N};
    return f;
}

class FaultE2e : public ::testing::Test {
protected:
    void SetUp() override { DeleteInstallKey(); }
    void TearDown() override { DeleteInstallKey(); }

    // The game's files in `folder`, registered as the install folder, and the
    // updater packed with the sample.
    void Prepare(const std::string& folder, const Files& files)
    {
        game = folder;
        Populate(game, files);
        SetInstallFolder(REG_SZ, game + N);
        exe = work / "updater.exe";
        ASSERT_TRUE(PutFile(exe, BuildPackage(sample.desc)));
    }
    std::string In(const std::string& name) const { return game + "\\" + name; }

    DriveResult Run(const DialogAction& onDialog = nullptr)
    {
        ChildProcess child;
        EXPECT_TRUE(StartProcess(exe, "", child)) << "CreateProcess: " << GetLastError();
        DriveResult run = Drive(child, AnswerYes, onDialog, 60000);
        EndProcess(child);
        EXPECT_FALSE(run.timedOut) << "the updater did not end in time";
        return run;
    }

    // The status and the messages of a run that went through the dialog.
    void ExpectOutcome(const DriveResult& run, uint32_t status, const char* message)
    {
        std::vector<std::string> expected{kTextConfirmUpdate};
        if (message)
            expected.push_back(message);
        EXPECT_EQ(BoxTexts(run), expected);
        EXPECT_EQ(run.exitCode, status);
    }

    UpdateSample sample = FaultSample();
    TempFolder work;
    std::string game;
    std::string exe;
};

// ---------------------------------------------------------------------------
// Killed during staging: no final file and no line of the list has changed;
// the temporary files of the started entries stay behind, each a true prefix
// of its entry. The next run of the same updater replaces them and succeeds.

TEST_F(FaultE2e, KilledDuringStagingThenTheNextRunSucceeds)
{
    struct KillCase {
        const char* what;
        int64_t atLeast;  // the size of data\big.bin.tmp that triggers the kill
    };
    const KillCase cases[] = {
        {"between entries: the second entry's temporary file appears", 0},
        {"after the first chunk of the large entry", kMiB},
    };
    for (const KillCase& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder folder;
        Prepare(folder.Path(), OldGame());
        bool reached = false;
        DriveResult killed = Run([&](HWND, const ChildProcess& child) {
            reached = AwaitFile(child, In("data\\big.bin.tmp"), c.atLeast);
            // Held still from the moment it is seen, so the kill lands there.
            SuspendThread(child.thread);
            TerminateProcess(child.process, kKilled);
            WaitForSingleObject(child.process, 10000);
        });
        ASSERT_TRUE(reached) << "the run never got there";
        EXPECT_EQ(killed.exitCode, kKilled);
        EXPECT_EQ(BoxTexts(killed), std::vector<std::string>{kTextConfirmUpdate});

        int64_t staged = FileSize(In("data\\big.bin.tmp"));
        printf("    %s: killed with %lld of %u bytes of data\\big.bin staged\n", c.what,
               static_cast<long long>(staged), kLargeSize);
        ASSERT_GE(staged, c.atLeast);
        ASSERT_LT(staged, int64_t(kLargeSize)) << "the entry was done before the kill";
        Files left = OldGame();
        left["jor.hvl.tmp"] = {sample.hashList};
        left["data\\big.bin.tmp"] = {sample.big.substr(0, size_t(staged))};
        EXPECT_FOLDER(game, left);

        DriveResult again = Run();
        ExpectOutcome(again, kInstallOk, kTextCompleted);
        EXPECT_FOLDER(game, Installed(sample));
    }
}

// ---------------------------------------------------------------------------
// A final file that another process holds open without sharing, at each slot:
// the moves before it stay, it and the later ones are not made, the list is
// not merged. The held file keeps its bytes, and loses its marks: they are
// reset before its move is tried (seen here since its move fails; where a
// move succeeds, Wine as root would replace a marked file anyway).

TEST_F(FaultE2e, HeldFinalFileAtEachSlot)
{
    for (int slot = 0; slot < 3; ++slot) {
        SCOPED_TRACE(kSlots[slot]);
        TempFolder folder;
        Files before = OldGame();
        before[kSlots[slot]].marks = kR | kH | kS;
        Prepare(folder.Path(), before);
        ASSERT_TRUE(FolderFiles(game) == before) << Show(FolderFiles(game));
        Holder holder(HoldFileArguments(In(kSlots[slot]), 0));
        ASSERT_TRUE(holder.Holding());
        DriveResult run = Run();
        EXPECT_EQ(holder.Release(), 0u);
        ExpectOutcome(run, kInstallWriteFailed, kTextCannotUpdate);
        EXPECT_FOLDER(game, Moved(sample, slot));
    }
}

// Read-only, hidden and system final files and a read-only leftover of an
// earlier run: each is replaced, and the installed files carry none of the marks.
TEST_F(FaultE2e, HostileAttributesOfFinalAndLeftoverFiles)
{
    TempFolder folder;
    Files before = OldGame();
    before["jor.hvl"].marks = kS;
    before["data\\big.bin"].marks = kH;
    before["readme.txt"].marks = kR;
    before["readme.txt.tmp"] = {"left by an earlier run", kR};
    Prepare(folder.Path(), before);
    ASSERT_TRUE(FolderFiles(game) == before) << Show(FolderFiles(game));
    DriveResult run = Run();
    ExpectOutcome(run, kInstallOk, kTextCompleted);
    EXPECT_FOLDER(game, Installed(sample));
}

// ---------------------------------------------------------------------------
// An uninstall list that cannot be replaced: every file is in place, the
// list keeps its bytes and marks, and no new list is left beside it.

TEST_F(FaultE2e, UninstallListThatCannotBeReplaced)
{
    struct ListCase {
        const char* what;
        DWORD marks;
        bool held;
        DWORD share;
    };
    const ListCase cases[] = {
        {"read-only", kR, false, 0},
        {"hidden and system", kH | kS, false, 0},
        {"held open without sharing", 0, true, 0},
        {"held open by a reader", 0, true, FILE_SHARE_READ},
    };
    for (const ListCase& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder folder;
        Files before = OldGame();
        before["uninst.lst"].marks = c.marks;
        Prepare(folder.Path(), before);
        std::unique_ptr<Holder> holder;
        if (c.held) {
            holder.reset(new Holder(HoldFileArguments(In("uninst.lst"), c.share)));
            ASSERT_TRUE(holder->Holding());
        }
        DriveResult run = Run();
        if (holder) {
            EXPECT_EQ(holder->Release(), 0u);
        }
        ExpectOutcome(run, kInstallUninstallListFailed, kTextUninstallListFailed);
        Files expected = Moved(sample, 3);
        expected["uninst.lst"].marks = c.marks;
        EXPECT_FOLDER(game, expected);
    }
}

// ---------------------------------------------------------------------------
// Other programs started while an update runs; the updater's thread is held
// still while they start, so they surely meet the running update.

TEST_F(FaultE2e, WhileAnUpdateRunsASecondUpdaterEndsAtOnce)
{
    TempFolder folder;
    Prepare(folder.Path(), OldGame());
    DriveResult second;
    Files frozen, afterSecond;
    DriveResult run = Run([&](HWND, const ChildProcess& child) {
        WithThreadSuspended(child, [&] {
            frozen = FolderFiles(game);
            ChildProcess other;
            ASSERT_TRUE(StartProcess(exe, "", other));
            second = Drive(other, [](const SeenBox&) { return IDOK; }, nullptr, 30000);
            EndProcess(other);
            afterSecond = FolderFiles(game);
        });
    });
    EXPECT_FALSE(second.timedOut);
    EXPECT_TRUE(second.boxes.empty()) << "the second updater shows nothing";
    EXPECT_TRUE(second.dialogs.empty());
    EXPECT_NE(second.exitCode, 0u) << "the handle value of the existing mutex";
    EXPECT_LT(second.exitCode, 0x80000000u);
    EXPECT_TRUE(afterSecond == frozen) << "the second updater touched the folder:\n" << Show(afterSecond);
    ExpectOutcome(run, kInstallOk, kTextCompleted);
    EXPECT_FOLDER(game, Installed(sample));
}

// The game started mid-run finds its mutex taken by the updater (and so would
// refuse to start); the update, past its guard, goes on and completes.
TEST_F(FaultE2e, WhileAnUpdateRunsTheGameFindsItsMutexTaken)
{
    TempFolder folder;
    Prepare(folder.Path(), OldGame());
    bool gameHeldTheMutex = true;
    DWORD gameStatus = 0;
    DriveResult run = Run([&](HWND, const ChildProcess& child) {
        WithThreadSuspended(child, [&] {
            Holder gameProcess(HoldMutexArguments(kGameMutexName));
            gameHeldTheMutex = gameProcess.Holding();
            gameStatus = gameProcess.Release();
        });
    });
    EXPECT_FALSE(gameHeldTheMutex);
    EXPECT_EQ(gameStatus, 2u) << "the helper's status for a mutex that existed already";
    ExpectOutcome(run, kInstallOk, kTextCompleted);
    EXPECT_FOLDER(game, Installed(sample));
}

// A game that ignores the mutex and opens one of its files without sharing
// as the last entry is staged: the commit stops cleanly at that file.
TEST_F(FaultE2e, WhileAnUpdateRunsTheGameHoldsAFileForTheCommit)
{
    TempFolder folder;
    Prepare(folder.Path(), OldGame());
    std::unique_ptr<Holder> gameProcess;
    bool reached = false;
    DriveResult run = Run([&](HWND, const ChildProcess& child) {
        reached = AwaitFile(child, In("readme.txt.tmp"), 0);
        WithThreadSuspended(child, [&] {
            gameProcess.reset(new Holder(HoldFileArguments(In("data\\big.bin"), 0)));
        });
    });
    ASSERT_TRUE(reached) << "the last entry was never staged";
    ASSERT_TRUE(gameProcess->Holding());
    EXPECT_EQ(gameProcess->Release(), 0u);
    ExpectOutcome(run, kInstallWriteFailed, kTextCannotUpdate);
    EXPECT_FOLDER(game, Moved(sample, 1));
}

// ---------------------------------------------------------------------------
// A disk that fills: the game lies on a small drive of its own (see
// fault-drive.sh, mounted by the CTest fixture around these cases), filled by
// the test to the point each case needs.

constexpr uint64_t kPage = 4096;

uint64_t RoundUp(uint64_t n)
{
    return (n + kPage - 1) / kPage * kPage;
}

uint64_t FreeBytes(const std::string& folder)
{
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExA(folder.c_str(), &available, nullptr, nullptr))
        return 0;
    return available.QuadPart;
}

// Appends zeros to `path` until the drive has at most `leave` bytes free
// (pages: the drive counts whole pages).
void FillDrive(const std::string& path, uint64_t leave)
{
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    static const std::string zeros(256 * 1024, '\0');
    for (uint64_t free = FreeBytes(path.substr(0, 3)); free > leave; free = FreeBytes(path.substr(0, 3))) {
        DWORD chunk = DWORD(std::min<uint64_t>(zeros.size(), RoundUp(free - leave)));
        DWORD written = 0;
        if (!WriteFile(file, zeros.data(), chunk, &written, nullptr) || written == 0)
            break;  // full
    }
    CloseHandle(file);
}

class DiskFault : public FaultE2e {
protected:
    // The drive's root ("R:\"), or empty with the reason printed when the
    // machine could not mount one.
    static std::string FaultDrive()
    {
        const char* drive = std::getenv("UPDATER_FAULT_DRIVE");
        const char* status = std::getenv("UPDATER_FAULT_DRIVE_STATUS");
        std::string reason;
        if (!drive || !status) {
            reason = "no size-limited drive given (UPDATER_FAULT_DRIVE; CTest's faults_disk sets it)";
        } else {
            std::string text = FileBytes(status);
            if (text == "<missing>")
                reason = "the size-limited drive was not set up (faults_drive_up)";
            else if (text.compare(0, 6, "ready ") != 0)
                reason = text.substr(0, text.find('\n'));
        }
        if (!reason.empty()) {
            // (Not GTEST_SKIP: a skip takes this harness's test process down.)
            printf("    not run: %s\n", reason.c_str());
            return "";
        }
        return std::string(drive) + "\\";
    }

    // A fresh game folder on the drive; false when there is no drive.
    bool PrepareOnDrive(const Files& files)
    {
        root = FaultDrive();
        if (root.empty())
            return false;
        ULARGE_INTEGER total;
        EXPECT_TRUE(GetDiskFreeSpaceExA(root.c_str(), nullptr, &total, nullptr)) << GetLastError();
        EXPECT_LE(total.QuadPart, 64ull * kMiB) << root << " is not the small drive";
        RemoveTree(root + "game");
        RemoveTree(Filler());
        CreateDirectoryA((root + "game").c_str(), nullptr);
        Prepare(root + "game", files);
        return true;
    }
    void TearDown() override
    {
        if (!root.empty()) {
            RemoveTree(root + "game");
            RemoveTree(Filler());
        }
        FaultE2e::TearDown();
    }
    std::string Filler() const { return root + "filler.bin"; }

    // What staging takes of the drive.
    uint64_t Staged() const
    {
        uint64_t bytes = 0;
        for (const PackageEntry& e : sample.desc.entries)
            bytes += RoundUp(e.data.size());
        return bytes;
    }

    std::string root;
};

TEST_F(DiskFault, PlainlyTooSmallWritesNothing)
{
    if (!PrepareOnDrive(OldGame()))
        return;
    FillDrive(Filler(), Staged() - kMiB);
    ASSERT_LT(FreeBytes(root), Staged() - kMiB / 2);
    DriveResult run = Run();
    ExpectOutcome(run, kInstallWriteFailed, kTextCannotUpdate);
    EXPECT_FOLDER(game, OldGame());
}

// The free space suffices when the run starts and is taken by another
// program while the large entry is copied.
TEST_F(DiskFault, FillingDuringStagingLeavesTheGameUntouched)
{
    if (!PrepareOnDrive(OldGame()))
        return;
    ASSERT_GT(FreeBytes(root), Staged() + kMiB);
    bool reached = false;
    uint64_t freeLeft = 0;
    DriveResult run = Run([&](HWND, const ChildProcess& child) {
        reached = AwaitFile(child, In("data\\big.bin.tmp"), kMiB);
        WithThreadSuspended(child, [&] {
            FillDrive(Filler(), 0);
            freeLeft = FreeBytes(root);
        });
    });
    ASSERT_TRUE(reached) << "the large entry was never started";
    EXPECT_LT(freeLeft, kPage) << "the drive was not full";
    ExpectOutcome(run, kInstallWriteFailed, kTextCannotUpdate);
    EXPECT_FOLDER(game, OldGame());
}

// Room for the entries but not for the merged list beside the old one: the
// files are in place and the list keeps every byte (never rewritten in place).
TEST_F(DiskFault, FullWhenTheListIsMergedKeepsTheList)
{
    Files before = OldGame();
    std::string list;
    for (int i = 0; list.size() < 600 * 1024; ++i)
        list += "data\\file" + std::to_string(100000 + i) + ".arc\n";
    before["uninst.lst"] = {list + N};
    if (!PrepareOnDrive(before))
        return;
    // Room for staging and a little more, far less than the new list needs.
    FillDrive(Filler(), Staged() + 128 * 1024);
    uint64_t free = FreeBytes(root);
    ASSERT_GE(free, Staged());
    ASSERT_LT(free, Staged() + 256 * 1024);
    DriveResult run = Run();
    ExpectOutcome(run, kInstallUninstallListFailed, kTextUninstallListFailed);
    Files expected = Moved(sample, 3);
    expected["uninst.lst"] = before["uninst.lst"];
    EXPECT_FOLDER(game, expected);
}

// Killed on a nearly full disk: the temporary files left behind are the
// run's own and are overwritten when their entries start, so the next run
// counts their space as free and succeeds, cleaning them up.
TEST_F(DiskFault, KilledOnANearlyFullDiskThenTheNextRunSucceeds)
{
    if (!PrepareOnDrive(OldGame()))
        return;
    bool reached = false;
    DriveResult killed = Run([&](HWND, const ChildProcess& child) {
        reached = AwaitFile(child, In("data\\big.bin.tmp"), 2 * kMiB);
        SuspendThread(child.thread);
        TerminateProcess(child.process, kKilled);
        WaitForSingleObject(child.process, 10000);
    });
    ASSERT_TRUE(reached) << "the large entry never reached 2 MiB";
    EXPECT_EQ(killed.exitCode, kKilled);
    int64_t staged = FileSize(In("data\\big.bin.tmp"));
    ASSERT_GE(staged, int64_t(2 * kMiB));
    ASSERT_LT(staged, int64_t(kLargeSize));
    // Less free space than the entries' sizes, but enough once the leftovers
    // are overwritten.
    FillDrive(Filler(), Staged() - RoundUp(uint64_t(staged)) / 2);
    uint64_t free = FreeBytes(root);
    ASSERT_LT(free, Staged() - kMiB / 2);
    ASSERT_GE(free + uint64_t(staged), Staged() + kMiB / 2);
    DriveResult again = Run();
    ExpectOutcome(again, kInstallOk, kTextCompleted);
    EXPECT_FOLDER(game, Installed(sample));
}

}  // namespace
