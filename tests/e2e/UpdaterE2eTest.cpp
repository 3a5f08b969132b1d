// The real updater, packed with a package and run as a player would run it:
// real registry, real files, real windows, every box read and answered.
#include "app/Texts.h"
#include "tests/e2e/E2eSupport.h"
#include "tests/e2e/WindowDriver.h"
#include "tests/support/TestSupport.h"
#include "writer/PackageWriter.h"
#include <gtest/gtest.h>
#include <cstdint>

namespace {

constexpr char kCaption[] = "ヴェストリアル アップデート 1.0.1";
constexpr uint32_t kStatusOk = 0;
constexpr uint32_t kStatusNotInstalled = uint32_t(-1);
constexpr uint32_t kStatusGameRunning = uint32_t(-2);
constexpr uint32_t kStatusDeclined = uint32_t(-3);
constexpr uint32_t kStatusCaptionFailed = uint32_t(-5);

// A box as the test expects to see it.
struct Expected {
    const char* text;
    bool question;
};

void ExpectBoxes(const DriveResult& run, const std::vector<Expected>& expected,
                 const std::string& title = kCaption)
{
    ASSERT_FALSE(run.timedOut) << "the updater did not end in time";
    ASSERT_EQ(run.boxes.size(), expected.size()) << "boxes shown";
    for (size_t i = 0; i < expected.size(); ++i) {
        const SeenBox& box = run.boxes[i];
        SCOPED_TRACE("box " + std::to_string(i));
        EXPECT_EQ(box.text, expected[i].text);
        EXPECT_EQ(box.title, title);
        if (expected[i].question) {
            EXPECT_TRUE(box.hasYes && box.hasNo) << "Yes and No";
            EXPECT_TRUE(box.noIsDefault) << "No is the default button";
        } else {
            EXPECT_TRUE(box.hasOk && !box.hasYes && !box.hasNo) << "only OK";
        }
    }
}

int Answer(const SeenBox& box, int onConfirm, int onCancelQuestion = IDNO)
{
    if (box.text == kTextConfirmUpdate)
        return onConfirm;
    if (box.text == kTextCancelQuestion)
        return onCancelQuestion;
    return box.hasOk ? IDOK : IDNO;
}

// The texts are compared as code page 932 bytes; under another code page the
// comparisons would still round-trip and prove nothing.
TEST(Environment, AnsiCodePageIs932)
{
    EXPECT_EQ(GetACP(), 932u);
}

class UpdaterE2e : public ::testing::Test {
protected:
    void SetUp() override
    {
        DeleteInstallKey();
        PutFile(game / "uninst.lst", std::string(kOldList) + std::string(1, '\0'));
        PutFile(game / "readme.txt", "old readme\r\n");
        CreateDirectoryA((game / "data").c_str(), nullptr);
        PutFile(game / "data\\big.bin", "old big");
        before = Snapshot(game.Path());
    }
    void TearDown() override { DeleteInstallKey(); }

    // Packs the updater with `desc` and runs it, answering as `answer` says.
    DriveResult Run(const PackageDescription& desc, const BoxAnswer& answer,
                    const DialogAction& onDialog = nullptr)
    {
        std::string exe = work / "updater.exe";
        EXPECT_TRUE(PutFile(exe, BuildPackage(desc)));
        return RunFile(exe, answer, onDialog);
    }
    DriveResult RunFile(const std::string& exe, const BoxAnswer& answer,
                        const DialogAction& onDialog = nullptr)
    {
        ChildProcess child;
        EXPECT_TRUE(StartProcess(exe, "", child)) << "CreateProcess: " << GetLastError();
        DriveResult run = Drive(child, answer, onDialog);
        EndProcess(child);
        return run;
    }

    void ExpectUntouched() { EXPECT_EQ(Snapshot(game.Path()), before); }
    void ExpectInstalled(const UpdateSample& sample)
    {
        EXPECT_EQ(FileBytes(game / "readme.txt"), sample.readme);
        EXPECT_EQ(FileBytes(game / "data\\big.bin"), sample.big);
        EXPECT_EQ(FileBytes(game / "jor.hvl"), sample.hashList);
        EXPECT_EQ(ListFolder(game.Path()), "data|jor.hvl|readme.txt|uninst.lst");
        EXPECT_EQ(ListFolder(game / "data"), "big.bin");
    }

    static constexpr char kOldList[] = "readme.txt\ngame.exe\n";  // and a NUL in the file
    TempFolder game;
    TempFolder work;
    std::string before;
};

TEST_F(UpdaterE2e, SuccessInstallsEveryFileAndMergesTheList)
{
    UpdateSample sample = MakeSample(kCaption, 256 * 1024);
    SetInstallFolder(REG_SZ, game.Path() + std::string(1, '\0'));
    DriveResult run = Run(sample.desc, [](const SeenBox& b) { return Answer(b, IDYES); });
    ExpectBoxes(run, {{kTextConfirmUpdate, true}, {kTextCompleted, false}});
    EXPECT_EQ(run.exitCode, kStatusOk);
    ASSERT_EQ(run.dialogs.size(), 1u);
    EXPECT_EQ(run.dialogs[0].title, kCaption);
    ExpectInstalled(sample);
    // Old lines stay; the new names follow, one per line; one NUL ends the file.
    EXPECT_EQ(FileBytes(game / "uninst.lst"),
              std::string(kOldList) + "jor.hvl\ndata\\big.bin\n" + std::string(1, '\0'));
}

TEST_F(UpdaterE2e, RegistryValueWithoutItsNulStillNamesTheFolder)
{
    UpdateSample sample = MakeSample(kCaption, 1024);
    SetInstallFolder(REG_SZ, game.Path());  // stored without a terminating NUL
    DriveResult run = Run(sample.desc, [](const SeenBox& b) { return Answer(b, IDYES); });
    ExpectBoxes(run, {{kTextConfirmUpdate, true}, {kTextCompleted, false}});
    EXPECT_EQ(run.exitCode, kStatusOk);
    ExpectInstalled(sample);
}

TEST_F(UpdaterE2e, SecondUpdaterEndsAtOnceWithoutAWindow)
{
    UpdateSample sample = MakeSample(kCaption, 1024);
    SetInstallFolder(REG_SZ, game.Path() + std::string(1, '\0'));
    std::string first = work / "first.exe";
    std::string second = work / "second.exe";
    ASSERT_TRUE(PutFile(first, BuildPackage(sample.desc)));
    ASSERT_TRUE(PutFile(second, BuildPackage(sample.desc)));

    DriveResult secondRun;
    DriveResult run = RunFile(first, [&](const SeenBox& b) {
        if (b.text == kTextConfirmUpdate)
            secondRun = RunFile(second, [](const SeenBox&) { return IDOK; });
        return Answer(b, IDNO);
    });
    ExpectBoxes(run, {{kTextConfirmUpdate, true}});
    EXPECT_EQ(run.exitCode, kStatusDeclined);
    EXPECT_FALSE(secondRun.timedOut);
    EXPECT_TRUE(secondRun.boxes.empty());
    EXPECT_TRUE(secondRun.dialogs.empty());
    EXPECT_NE(secondRun.exitCode, 0u) << "the handle value of the existing mutex";
    EXPECT_LT(secondRun.exitCode, 0x80000000u);
    ExpectUntouched();
}

TEST_F(UpdaterE2e, GameMutexHeldWarnsEvenWithoutInstallFolder)
{
    Holder holder(HoldMutexArguments(kGameMutexName));
    ASSERT_TRUE(holder.Holding());
    DriveResult run = Run(MakeSample(kCaption, 1024).desc, [](const SeenBox& b) { return Answer(b, IDYES); });
    ExpectBoxes(run, {{kTextGameRunning, false}});
    EXPECT_EQ(run.exitCode, kStatusGameRunning);
    ExpectUntouched();
}

TEST_F(UpdaterE2e, ExecutableTooShortForItsCaption)
{
    SetInstallFolder(REG_SZ, game.Path() + std::string(1, '\0'));
    std::string exe = work / "bare.exe";
    ASSERT_TRUE(PutFile(exe, UpdaterImage()));
    bool gameMutexExisted = true;
    DriveResult run = RunFile(exe, [&](const SeenBox&) {
        HANDLE m = OpenMutexA(SYNCHRONIZE, FALSE, kGameMutexName);
        gameMutexExisted = m != nullptr;
        if (m)
            CloseHandle(m);
        return IDOK;
    });
    ExpectBoxes(run, {{kTextCaptionFailed, false}}, kTextFallbackCaption);
    EXPECT_EQ(run.exitCode, kStatusCaptionFailed);
    EXPECT_FALSE(gameMutexExisted) << "the game mutex is not created on this path";
    ExpectUntouched();
}

TEST_F(UpdaterE2e, InstallFolderValueTable)
{
    const std::string nul(1, '\0');
    const std::string longest = "C:\\" + std::string(256, 'a');  // 259 bytes and the NUL
    struct Case {
        const char* what;
        bool key;
        DWORD type;
        std::string data;
        bool accepted;
    } cases[] = {
        {"no key", false, REG_SZ, "", false},
        {"REG_EXPAND_SZ", true, REG_EXPAND_SZ, game.Path() + nul, false},
        {"260 bytes with the NUL", true, REG_SZ, longest + nul, true},
        {"261 bytes with the NUL", true, REG_SZ, longest + "a" + nul, false},
        {"empty text", true, REG_SZ, nul, true},
        {"no data at all", true, REG_SZ, "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteInstallKey();
        if (c.key)
            SetInstallFolder(c.type, c.data);
        // An accepted value leads to the confirmation, answered No here.
        DriveResult run = Run(MakeSample(kCaption, 16).desc, [](const SeenBox& b) { return Answer(b, IDNO); });
        if (c.accepted) {
            ExpectBoxes(run, {{kTextConfirmUpdate, true}});
            EXPECT_EQ(run.exitCode, kStatusDeclined);
        } else {
            ExpectBoxes(run, {{kTextNotInstalled, false}});
            EXPECT_EQ(run.exitCode, kStatusNotInstalled);
        }
    }
    ExpectUntouched();
}

TEST_F(UpdaterE2e, ConfirmationNotAnsweredYesWritesNothing)
{
    for (int press : {IDNO, kPressEnter}) {
        SCOPED_TRACE(press == IDNO ? "No" : "Enter");
        SetInstallFolder(REG_SZ, game.Path() + std::string(1, '\0'));
        DriveResult run = Run(MakeSample(kCaption, 1024).desc,
                              [&](const SeenBox& b) { return Answer(b, press); });
        ExpectBoxes(run, {{kTextConfirmUpdate, true}});
        EXPECT_EQ(run.exitCode, kStatusDeclined);
        EXPECT_TRUE(run.dialogs.empty());
        ExpectUntouched();
    }
}

// The cancel button clicked while the run is surely going: the updater's
// thread is held still from the moment its dialog is seen until the click is queued.
DialogAction ClickCancel()
{
    return [](HWND dialog, const ChildProcess& child) {
        WithThreadSuspended(child, [&] { PressButton(dialog, 1000); });
    };
}

TEST_F(UpdaterE2e, CancelAnsweredNoLetsTheRunComplete)
{
    UpdateSample sample = MakeSample(kCaption, kBigFileSize);
    SetInstallFolder(REG_SZ, game.Path() + std::string(1, '\0'));
    HWND questionOwner = nullptr;
    DriveResult run = Run(sample.desc, [&](const SeenBox& b) {
        if (b.text == kTextCancelQuestion)
            questionOwner = b.owner;
        return Answer(b, IDYES, IDNO);
    }, ClickCancel());
    ExpectBoxes(run, {{kTextConfirmUpdate, true}, {kTextCancelQuestion, true}, {kTextCompleted, false}});
    EXPECT_EQ(run.exitCode, kStatusOk);
    ASSERT_EQ(run.dialogs.size(), 1u);
    EXPECT_EQ(questionOwner, run.dialogs[0].window) << "the dialog owns its question";
    ExpectInstalled(sample);
}

TEST_F(UpdaterE2e, CancelConfirmedLeavesTheGameUntouched)
{
    SetInstallFolder(REG_SZ, game.Path() + std::string(1, '\0'));
    DriveResult run = Run(MakeSample(kCaption, kBigFileSize).desc,
                          [](const SeenBox& b) { return Answer(b, IDYES, IDYES); }, ClickCancel());
    ExpectBoxes(run, {{kTextConfirmUpdate, true}, {kTextCancelQuestion, true}});
    EXPECT_EQ(run.exitCode, 0x80000006u);
    ExpectUntouched();
}

TEST_F(UpdaterE2e, DialogClosedByAnotherProgram)
{
    SetInstallFolder(REG_SZ, game.Path() + std::string(1, '\0'));
    DriveResult run = Run(MakeSample(kCaption, kBigFileSize).desc,
                          [](const SeenBox& b) { return Answer(b, IDYES); },
                          [](HWND dialog, const ChildProcess& child) {
                              WithThreadSuspended(child, [&] { SendNotifyMessageA(dialog, WM_CLOSE, 0, 0); });
                          });
    ExpectBoxes(run, {{kTextConfirmUpdate, true}});
    EXPECT_EQ(run.exitCode, 0x80000007u);
    ExpectUntouched();
}

TEST_F(UpdaterE2e, RunFailuresShowTheirMessage)
{
    auto yes = [](const SeenBox& b) { return Answer(b, IDYES); };
    {
        SCOPED_TRACE("damaged: a checksum that does not match");
        UpdateSample sample = MakeSample(kCaption, 1024);
        sample.desc.entries[2].data[0] ^= 1;
        SetInstallFolder(REG_SZ, game.Path() + std::string(1, '\0'));
        DriveResult run = Run(sample.desc, yes);
        ExpectBoxes(run, {{kTextConfirmUpdate, true}, {kTextPackageDamaged, false}});
        EXPECT_EQ(run.exitCode, 0x80000001u);
        ExpectUntouched();
    }
    {
        SCOPED_TRACE("too many entries");
        UpdateSample sample = MakeSample(kCaption, 1024);
        sample.desc.overrideCount = true;
        sample.desc.count = 257;
        SetInstallFolder(REG_SZ, game.Path() + std::string(1, '\0'));
        DriveResult run = Run(sample.desc, yes);
        ExpectBoxes(run, {{kTextConfirmUpdate, true}, {kTextPackageDamaged, false}});
        EXPECT_EQ(run.exitCode, 0x80000002u);
        ExpectUntouched();
    }
    {
        SCOPED_TRACE("a temporary file held open without sharing");
        HANDLE held = CreateFileA((game / "readme.txt.tmp").c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        DriveResult run = Run(MakeSample(kCaption, 1024).desc, yes);
        CloseHandle(held);
        ExpectBoxes(run, {{kTextConfirmUpdate, true}, {kTextCannotUpdate, false}});
        EXPECT_EQ(run.exitCode, 0x80000004u);
        DeleteFileA((game / "readme.txt.tmp").c_str());
        ExpectUntouched();
    }
    {
        SCOPED_TRACE("no uninstall list");
        UpdateSample sample = MakeSample(kCaption, 1024);
        DeleteFileA((game / "uninst.lst").c_str());
        DriveResult run = Run(sample.desc, yes);
        ExpectBoxes(run, {{kTextConfirmUpdate, true}, {kTextUninstallListFailed, false}});
        EXPECT_EQ(run.exitCode, 0x80000005u);
        EXPECT_EQ(FileBytes(game / "readme.txt"), sample.readme);
        EXPECT_EQ(FileBytes(game / "data\\big.bin"), sample.big);
        EXPECT_FALSE(Exists(game / "uninst.lst")) << "the list is never created";
    }
}

}  // namespace
