// Round trip under Wine: the publisher's tool (the same portable sources,
// built for Windows) builds an update from a folder with the real updater's
// image, `list` and `verify` accept it, and the updater's own install run
// (RunInstall, reading the package through PackageFileOverride) puts every
// file in place with its bytes. Then the same for the update that
// tests/sign-test.sh built natively and signed with osslsigncode.
#include "install/RunInstall.h"
#include "package/PackageFile.h"
#include "publisher/Publisher.h"
#include "tests/support/TestSupport.h"
#include <gtest/gtest.h>
#include <cstdlib>
#include <sstream>

namespace {

std::string Pattern(size_t n, unsigned seed)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        s[i] = char(seed >> 16);
    }
    return s;
}

struct Sample {
    const char* path;  // relative, '\' separated, code page 932 (the ANSI code page under test)
    std::string bytes;
};

std::vector<Sample> Samples()
{
    return {
        {"readme.txt", "read me\r\n"},
        {"data01200.arc", Pattern((1 << 20) * 2 + 7, 1)},  // several 1 MiB chunks
        {"empty.bin", ""},
        {"sub\\Config.ini", "[game]\r\nlevel=3\r\n"},
        {"sub\\deeper\\voice.ogg", Pattern(70000, 2)},
    };
}

void MakeSource(const TempFolder& src)
{
    CreateDirectoryA((src / "sub").c_str(), nullptr);
    CreateDirectoryA((src / "sub\\deeper").c_str(), nullptr);
    for (const Sample& s : Samples())
        ASSERT_TRUE(PutFile(src / s.path, s.bytes)) << s.path;
    ASSERT_EQ(FileBytes(src / "data01200.arc").size(), (1u << 20) * 2 + 7);
}

// An installed game: its uninstall list (a single NUL) and its folders,
// since the updater creates none.
void Install(const std::string& package, const TempFolder& game, const std::string& source)
{
    ASSERT_TRUE(PutFile(game / "uninst.lst", std::string(1, '\0')));
    CreateDirectoryA((game / "sub").c_str(), nullptr);
    CreateDirectoryA((game / "sub\\deeper").c_str(), nullptr);
    PackageFileOverride = package.c_str();
    InstallResult r = RunInstall(game.Path().c_str());
    PackageFileOverride = nullptr;
    ASSERT_EQ(r, kInstallOk);
    for (const Sample& s : Samples())
        EXPECT_TRUE(FileBytes(game / s.path) == FileBytes(source + "\\" + s.path)) << s.path;
    EXPECT_TRUE(Exists(game / "jor.hvl"));  // installed like every entry
    EXPECT_EQ(ListFolder(game.Path()), "data01200.arc|empty.bin|jor.hvl|readme.txt|sub|uninst.lst");
    EXPECT_EQ(ListFolder(game / "sub"), "Config.ini|deeper");
    EXPECT_EQ(FileBytes(game / "uninst.lst"),
              std::string("data01200.arc\nempty.bin\nreadme.txt\nsub\\Config.ini\n"
                          "sub\\deeper\\voice.ogg\njor.hvl\n") + '\0');
}

TEST(PublisherRoundTrip, ABuiltUpdateInstallsEveryFileWithItsBytes)
{
    TempFolder src, out, game;
    MakeSource(src);
    BuildOptions o;
    o.image = UPDATER_IMAGE;
    o.caption = u8"「ヴェストリアル」Updater 1.01";
    o.folder = src.Path();
    o.output = out / "update.exe";
    std::ostringstream bo, be;
    ASSERT_EQ(BuildUpdate(o, bo, be), kExitOk) << be.str();

    std::ostringstream lo, le;
    ASSERT_EQ(ListUpdate(o.output, lo, le), kExitOk);
    std::string list = lo.str();
    EXPECT_NE(list.find(u8"caption: 「ヴェストリアル」Updater 1.01"), std::string::npos) << list;
    EXPECT_NE(list.find("installs as sub\\deeper\\voice.ogg, expects checksum"), std::string::npos) << list;
    EXPECT_NE(list.find("6 entries"), std::string::npos) << list;
    std::ostringstream vo, ve;
    EXPECT_EQ(VerifyUpdate(o.output, vo, ve), kExitOk) << ve.str();

    Install(o.output, game, src.Path());
}

TEST(PublisherRoundTrip, ASignedUpdateStillInstalls)
{
    const char* work = getenv("PUBLISHER_WORK");
    if (!work)
        GTEST_SKIP() << "PUBLISHER_WORK is not set (tests/sign-test.sh prepares it)";
    std::string signedPath = std::string(work) + "\\signed.exe";
    ASSERT_TRUE(Exists(signedPath)) << signedPath;
    std::ostringstream vo, ve;
    EXPECT_EQ(VerifyUpdate(signedPath, vo, ve), kExitOk) << ve.str();
    TempFolder game;
    Install(signedPath, game, std::string(work) + "\\src");
}

}  // namespace
