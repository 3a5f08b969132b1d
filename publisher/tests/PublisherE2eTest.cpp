// The real updater, started and answered as a player would (the end-to-end
// driver of tests/e2e), on updates that the native updpub built from
// tests/sign-test.sh's folder: as built, and signed with osslsigncode.
#include "app/Texts.h"
#include "tests/e2e/E2eSupport.h"
#include "tests/e2e/WindowDriver.h"
#include "tests/support/TestSupport.h"
#include <gtest/gtest.h>
#include <cstdlib>

namespace {

// Compiled to code page 932, as the caption block holds it.
constexpr char kCaption[] = "「ヴェストリアル」Updater 1.01";

const char* const kFiles[] = {"readme.txt", "empty.bin", "data01200.arc", "sub\\Config.ini",
                              "sub\\deeper\\voice.ogg"};

class PublisherE2e : public ::testing::TestWithParam<const char*> {};

TEST_P(PublisherE2e, TheRealUpdaterInstallsEveryFile)
{
    const char* work = getenv("PUBLISHER_WORK");
    ASSERT_TRUE(work) << "PUBLISHER_WORK is not set (tests/sign-test.sh prepares it)";
    std::string source = std::string(work) + "\\src";
    TempFolder game, run;
    DeleteInstallKey();
    ASSERT_TRUE(PutFile(game / "uninst.lst", std::string("game.exe\n") + '\0'));
    // The updater creates no folders: an installed game has them.
    CreateDirectoryA((game / "sub").c_str(), nullptr);
    CreateDirectoryA((game / "sub\\deeper").c_str(), nullptr);
    SetInstallFolder(REG_SZ, game.Path() + std::string(1, '\0'));
    std::string exe = run / "VestrialUpdate.exe";
    ASSERT_TRUE(CopyFileA((std::string(work) + "\\" + GetParam()).c_str(), exe.c_str(), FALSE));

    ChildProcess child;
    ASSERT_TRUE(StartProcess(exe, "", child)) << GetLastError();
    DriveResult r = Drive(
        child,
        [](const SeenBox& b) {
            if (b.text == kTextConfirmUpdate)
                return IDYES;
            return b.hasOk ? IDOK : IDNO;
        },
        nullptr, 120000);
    EndProcess(child);
    DeleteInstallKey();

    ASSERT_FALSE(r.timedOut);
    ASSERT_EQ(r.boxes.size(), 2u);
    EXPECT_EQ(r.boxes[0].text, kTextConfirmUpdate);
    EXPECT_EQ(r.boxes[0].title, kCaption);
    EXPECT_EQ(r.boxes[1].text, kTextCompleted);
    EXPECT_EQ(r.exitCode, 0u);
    for (const char* f : kFiles)
        EXPECT_TRUE(FileBytes(game / f) == FileBytes(source + "\\" + f)) << f;
    EXPECT_EQ(ListFolder(game.Path()), "data01200.arc|empty.bin|jor.hvl|readme.txt|sub|uninst.lst");
    EXPECT_EQ(FileBytes(game / "uninst.lst"),
              std::string("game.exe\ndata01200.arc\nempty.bin\nreadme.txt\nsub\\Config.ini\n"
                          "sub\\deeper\\voice.ogg\njor.hvl\n") + '\0');
}

INSTANTIATE_TEST_SUITE_P(Updates, PublisherE2e, ::testing::Values("unsigned.exe", "signed.exe"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return info.index ? std::string("Signed") : std::string("AsBuilt");
                         });

}  // namespace
