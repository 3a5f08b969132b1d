// Native tests of the publisher's tool: layout, round trip through list and
// verify, damage that verify must catch, reproducibility, the command line.
#include "package/PackageLayout.h"
#include "publisher/Publisher.h"
#include "publisher/PublisherText.h"
#include "publisher/tests/NativeSupport.h"
#include <gtest/gtest.h>
#include <filesystem>
#include <sstream>
#include <sys/stat.h>

namespace {

struct Built {
    int status;
    std::string out, err, bytes;
};

Built Build(const ScratchFolder& dir, const std::string& folder, const std::string& caption = "Caption")
{
    Put(dir / "updater.exe", FakeImage());
    BuildOptions o;
    o.image = dir / "updater.exe";
    o.caption = caption;
    o.folder = folder;
    o.output = dir / "update.exe";
    std::ostringstream out, err;
    Built b;
    b.status = BuildUpdate(o, out, err);
    b.out = out.str();
    b.err = err.str();
    b.bytes = Get(dir / "update.exe");
    return b;
}

uint32_t Le32(const std::string& s, size_t at)
{
    return ReadLe32(reinterpret_cast<const unsigned char*>(s.data() + at));
}

std::string EntryName(const std::string& s, uint32_t i)
{
    return std::string(s.c_str() + kArchiveIndexOffset + i * kWideEntrySize);
}

std::string EntryData(const std::string& s, uint32_t i)
{
    size_t slot = kArchiveIndexOffset + i * kWideEntrySize;
    uint32_t start = kArchiveIndexOffset + Le32(s, kArchiveHeaderOffset + 12) * kWideEntrySize;
    return s.substr(start + Le32(s, slot + 96), Le32(s, slot + 100));
}

int Verify(const std::string& path, std::string* err = nullptr)
{
    std::ostringstream o, e;
    int r = VerifyUpdate(path, o, e);
    if (err)
        *err = e.str();
    return r;
}

std::string List(const std::string& path)
{
    std::ostringstream o, e;
    EXPECT_EQ(ListUpdate(path, o, e), kExitOk);
    return o.str();
}

// A folder with files at the top and in a subfolder.
void Sample(const ScratchFolder& dir)
{
    Put(dir / "src/readme.txt", "hello");
    Put(dir / "src/data01200.arc", std::string(3 << 20, 'x') + "tail");
    Put(dir / "src/sub/Config.ini", "[a]\nb=1\n");
    Put(dir / "src/empty.bin", "");
}

TEST(Publisher, WritesTheLayoutOfPart11)
{
    ScratchFolder dir;
    Sample(dir);
    Built b = Build(dir, dir / "src", u8"「テスト」Updater 1.0");
    ASSERT_EQ(b.status, kExitOk) << b.err;
    const std::string& s = b.bytes;
    EXPECT_EQ(s.substr(0, 0x600), FakeImage());
    EXPECT_EQ(s.substr(0x600, kCaptionBlockOffset - 0x600), std::string(kCaptionBlockOffset - 0x600, '\0'));
    // The caption in code page 932, then zeros to the end of the block.
    std::string caption = "\x81\x75\x83\x65\x83\x58\x83\x67\x81\x76Updater 1.0";
    EXPECT_EQ(s.substr(kCaptionBlockOffset, caption.size()), caption);
    EXPECT_EQ(s.substr(kCaptionBlockOffset + caption.size(), kCaptionBlockSize - caption.size()),
              std::string(kCaptionBlockSize - caption.size(), '\0'));
    EXPECT_EQ(s.substr(kArchiveHeaderOffset, 12), "TAVLIN ARC20");
    ASSERT_EQ(Le32(s, kArchiveHeaderOffset + 12), 5u);
    // Sorted by record path, byte by byte; the hash list last.
    EXPECT_EQ(EntryName(s, 0), "data01200.arc");
    EXPECT_EQ(EntryName(s, 1), "empty.bin");
    EXPECT_EQ(EntryName(s, 2), "readme.txt");
    EXPECT_EQ(EntryName(s, 3), "Config.ini");
    EXPECT_EQ(EntryName(s, 4), "jor.hvl");
    EXPECT_EQ(EntryData(s, 0), std::string(3 << 20, 'x') + "tail");
    EXPECT_EQ(EntryData(s, 2), "hello");
    EXPECT_EQ(EntryData(s, 3), "[a]\nb=1\n");
    // Data in index order from offset 0, the last ending at the end of the file.
    size_t start = kArchiveIndexOffset + 5 * kWideEntrySize;
    EXPECT_EQ(Le32(s, kArchiveIndexOffset + 96), 0u);
    std::string list = EntryData(s, 4);
    EXPECT_EQ(start + Le32(s, kArchiveIndexOffset + 4 * 128 + 96) + list.size(), s.size());
    // Reserved bytes and the name field's tail are zero.
    EXPECT_EQ(s.substr(kArchiveIndexOffset + 104, 24), std::string(24, '\0'));
    // The hash list: magic, zero, count 4, one record per file.
    ASSERT_EQ(list.size(), 16u + 4 * 64);
    EXPECT_EQ(list.substr(0, 8), "KSV_____");
    EXPECT_EQ(Le32(list, 8), 0u);
    EXPECT_EQ(Le32(list, 12), 4u);
    EXPECT_EQ(std::string(list.c_str() + 16 + 3 * 64), "sub\\Config.ini");
    EXPECT_EQ(list.substr(16 + 3 * 64 + 14, 56 - 14), std::string(56 - 14, '\0'));
    EXPECT_NE(b.out.find("subfolders"), std::string::npos) << b.out;
}

TEST(Publisher, ChecksumOfKnownBytesMatchesTheWorkedExample)
{
    ScratchFolder dir;
    Put(dir / "src/abc.txt", "abc");
    Put(dir / "src/empty.txt", "");
    Built b = Build(dir, dir / "src");
    ASSERT_EQ(b.status, kExitOk) << b.err;
    std::string list = EntryData(b.bytes, 2);
    EXPECT_EQ(std::string(list.c_str() + 16), "abc.txt");
    EXPECT_EQ(list.substr(16 + 56, 8), std::string("\x06\xB4\x50\x00\x12\xCC\x26\x60", 8));
    EXPECT_EQ(std::string(list.c_str() + 16 + 64), "empty.txt");
    EXPECT_EQ(list.substr(16 + 64 + 56, 8), std::string(8, '\0'));
    EXPECT_NE(List(dir / "update.exe").find("06b45000 12cc2660"), std::string::npos);
}

TEST(Publisher, ListShowsWhatTheUpdaterWillDoAndVerifyPasses)
{
    ScratchFolder dir;
    Sample(dir);
    Built b = Build(dir, dir / "src", u8"「テスト」");
    ASSERT_EQ(b.status, kExitOk) << b.err;
    std::string list = List(dir / "update.exe");
    EXPECT_NE(list.find(u8"caption: 「テスト」 (10 bytes in code page 932)"), std::string::npos) << list;
    EXPECT_NE(list.find("magic \"TAVLIN ARC20\" (128-byte entries), 5 entries, data start 0x21290"),
              std::string::npos) << list;
    EXPECT_NE(list.find("3: Config.ini  offset 3145737  size 8"), std::string::npos) << list;
    EXPECT_NE(list.find("installs as sub\\Config.ini, expects checksum"), std::string::npos) << list;
    EXPECT_NE(list.find("installs as jor.hvl, unverified (no record); this entry is the hash list"),
              std::string::npos) << list;
    EXPECT_NE(list.find("hash list: entry 4, 4 records:"), std::string::npos) << list;
    EXPECT_EQ(list.find("problem"), std::string::npos) << list;
    std::string err;
    EXPECT_EQ(Verify(dir / "update.exe", &err), kExitOk) << err;
}

TEST(Publisher, OutputIsReproducible)
{
    ScratchFolder one, two;
    // The same content, created in another order and at other times.
    Put(one / "src/b.txt", "B");
    Put(one / "src/a/z.txt", "Z");
    Put(one / "src/c.txt", "C");
    Put(two / "src/c.txt", "C");
    Put(two / "src/a/z.txt", "Z");
    Put(two / "src/b.txt", "B");
    chmod((two / "src/c.txt").c_str(), 0400);
    Built a = Build(one, one / "src"), b = Build(two, two / "src");
    ASSERT_EQ(a.status, kExitOk) << a.err;
    ASSERT_EQ(b.status, kExitOk) << b.err;
    EXPECT_TRUE(a.bytes == b.bytes);
    Built again = Build(one, one / "src");
    EXPECT_TRUE(a.bytes == again.bytes);
}

TEST(Publisher, FullWidthNamesAreStoredInCodePage932)
{
    ScratchFolder dir;
    Put(dir / u8"src/表示/ＡＢＣ.txt", "x");
    Built b = Build(dir, dir / "src");
    ASSERT_EQ(b.status, kExitOk) << b.err;
    EXPECT_EQ(EntryName(b.bytes, 0), "\x82\x60\x82\x61\x82\x62.txt");
    std::string list = EntryData(b.bytes, 1);
    // 表 ends in 0x5C: not a separator for the updater.
    EXPECT_EQ(std::string(list.c_str() + 16), "\x95\x5C\x8E\xA6\\\x82\x60\x82\x61\x82\x62.txt");
    EXPECT_EQ(Verify(dir / "update.exe"), kExitOk);
}

TEST(Publisher, LowercasingFollowsCodePage932)
{
    std::string s = "\x82\x60Z\x83\x41";  // Ａ Z ア
    ASSERT_TRUE(LowercaseCp932(s));
    EXPECT_EQ(s, "\x82\x81z\x83\x41");       // ａ z ア (its 0x41 untouched)
    EXPECT_EQ(LastComponentCp932("sub\\\x95\x5C.txt"), "\x95\x5C.txt");
    EXPECT_EQ(LastComponentCp932("C:a.txt"), "a.txt");
    EXPECT_EQ(LastComponentCp932("a/b\\c"), "c");
}

// Builds a sample, applies a change to the bytes, and expects verify to fail.
class Damage : public ::testing::Test {
protected:
    void SetUp() override
    {
        Sample(dir_);
        Built b = Build(dir_, dir_ / "src");
        ASSERT_EQ(b.status, kExitOk) << b.err;
        good_ = b.bytes;
    }
    std::string Expect(const std::string& bytes, const std::string& message)
    {
        Put(dir_ / "bad.exe", bytes);
        std::string err;
        EXPECT_EQ(Verify(dir_ / "bad.exe", &err), kExitVerifyFailed) << message;
        EXPECT_NE(err.find(message), std::string::npos) << err;
        return err;
    }
    size_t DataAt(uint32_t i) const
    {
        return kArchiveIndexOffset + 5 * kWideEntrySize + Le32(good_, kArchiveIndexOffset + i * 128 + 96);
    }
    ScratchFolder dir_;
    std::string good_;
};

TEST_F(Damage, AFlippedByteInEachEntrysData)
{
    for (uint32_t i = 0; i < 4; ++i) {
        uint32_t size = Le32(good_, kArchiveIndexOffset + i * 128 + 100);
        if (size == 0)
            continue;  // empty.bin has no byte to flip
        for (uint32_t at : {0u, size / 2, size - 1}) {
            std::string bad = good_;
            bad[DataAt(i) + at] ^= 0x01;
            Expect(bad, "entry " + std::to_string(i) + " \"" + EntryName(good_, i) + "\": checksum");
        }
    }
}

TEST_F(Damage, ADamagedIndex)
{
    std::string bad = good_;
    bad[kArchiveIndexOffset + 128 * 2 + 96] ^= 0x01;  // readme.txt's offset
    Expect(bad, "entry 2 \"readme.txt\": checksum");
    bad = good_;
    bad[kArchiveIndexOffset + 128 * 2 + 103] = 0x7F;  // readme.txt's size
    Expect(bad, "its data run past the end of the file");
    bad = good_;
    bad[kArchiveIndexOffset + 128 * 2] = 'R';  // the name still matches, case ignored
    Put(dir_ / "ok.exe", bad);
    EXPECT_EQ(Verify(dir_ / "ok.exe"), kExitOk);
    bad[kArchiveIndexOffset + 128 * 2 + 1] = 'X';
    Expect(bad, "the hash list has no record for it");
    bad = good_;
    bad[kArchiveHeaderOffset + 12] = 4;  // the count: the hash list drops out
    Expect(bad, "hash list absent");
    bad = good_;
    bad[kArchiveHeaderOffset + 13] = 1;  // a count of 261
    Expect(bad, "at most 256");
    bad = good_;
    bad[kArchiveHeaderOffset] = 't';  // the magic: 32-byte entries
    Expect(bad, "hash list absent");
    Expect(good_.substr(0, kArchiveIndexOffset + 200), "the index of 5 entries runs past the end");
    Expect(good_.substr(0, 0x20800), "too short for the caption block");
    bad = good_;
    for (size_t i = 0; i < kCaptionBlockSize; ++i)
        bad[kCaptionBlockOffset + i] = 'x';
    Expect(bad, "the caption block has no NUL");
}

TEST_F(Damage, ADamagedHashList)
{
    size_t list = DataAt(4);
    std::string bad = good_;
    bad[list + 2] = 'v';  // magic
    Expect(bad, "hash list absent: its magic is not");
    bad = good_;
    bad[list + 16 + 64 * 2 + 56] ^= 0x80;  // readme.txt's checksum
    Expect(bad, "entry 2 \"readme.txt\": checksum");
    bad = good_;
    bad[list + 16 + 64 * 2] = 'x';  // readme.txt's path
    Expect(bad, "entry 2 \"readme.txt\": the hash list has no record");
    bad = good_;
    bad[list + 12] = 9;  // more records than the file holds
    Expect(bad, "records run past the end of the file");
    bad = good_;
    bad[list + 12] = 3;  // fewer records than its entry's size
    Expect(bad, "records (208 bytes)");
    Expect(good_.substr(0, good_.size() - 1), "hash list absent");
}

TEST_F(Damage, TheImageAndItsZeroFill)
{
    std::string bad = good_;
    bad[0] = 'X';
    Expect(bad, "does not start with a PE image");
    bad = good_;
    bad[0x1FFFF] = 1;
    Expect(bad, "the zero fill between the image and 0x20000");
    EXPECT_NE(List(dir_ / "update.exe").find("image: PE, ends at 0x600 (1536)"), std::string::npos);
}

TEST_F(Damage, TrailingBytesAreNoDamage)
{
    // An Authenticode signature goes after the data; the updater never reads it.
    Put(dir_ / "signed.exe", good_ + std::string(4096, 's'));
    EXPECT_EQ(Verify(dir_ / "signed.exe"), kExitOk);
    EXPECT_NE(List(dir_ / "signed.exe").find("after the last entry's data: 4096 bytes"),
              std::string::npos);
}

TEST(Command, HelpForTheToolAndEachCommand)
{
    RunResult r = RunTool({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("exit codes:"), std::string::npos);
    for (const char* c : {"build", "list", "verify"}) {
        r = RunTool({c, "--help"});
        EXPECT_EQ(r.status, 0) << c;
        EXPECT_NE(r.out.find(std::string("usage: updpub ") + c), std::string::npos) << r.out;
    }
    EXPECT_EQ(RunTool({}).status, kExitUsage);
    EXPECT_EQ(RunTool({"frobnicate"}).status, kExitUsage);
    EXPECT_EQ(RunTool({"build", "--image"}).status, kExitUsage);
    EXPECT_EQ(RunTool({"list"}).status, kExitUsage);
    EXPECT_EQ(RunTool({"verify", "/nonexistent/update.exe"}).status, kExitIoError);
}

TEST(Command, BuildListVerifyThroughTheCommandLine)
{
    ScratchFolder dir;
    Sample(dir);
    Put(dir / "updater.exe", FakeImage());
    Put(dir / "caption.txt", u8"「テスト」 Updater\n");
    Put(dir / "extra.dat", "extra");
    RunResult r = RunTool({"build", "--image", dir / "updater.exe", "--caption-file", dir / "caption.txt",
                           "--folder", dir / "src", "--file", "sub/extra.dat=" + (dir / "extra.dat"),
                           "--output", dir / "update.exe"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");  // not a terminal: no progress bar
    r = RunTool({"list", dir / "update.exe"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find(u8"caption: 「テスト」 Updater (18 bytes"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("installs as sub\\extra.dat"), std::string::npos) << r.out;
    r = RunTool({"verify", dir / "update.exe"});
    EXPECT_EQ(r.status, 0) << r.err;
    std::string bytes = Get(dir / "update.exe");
    bytes[bytes.size() - 100] ^= 1;
    Put(dir / "update.exe", bytes);
    r = RunTool({"verify", dir / "update.exe"});
    EXPECT_EQ(r.status, kExitVerifyFailed);
    EXPECT_NE(r.err.find("verify failed"), std::string::npos);
    // --progress draws on stderr even when it is no terminal.
    r = RunTool({"build", "--progress", "--image", dir / "updater.exe", "--caption", "c", "--folder",
                 dir / "src", "--output", dir / "update.exe"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("100%"), std::string::npos) << r.err;
}

TEST(Command, AFailedWriteLeavesNoPartialFileAndTheOldOutput)
{
    ScratchFolder dir;
    Put(dir / "updater.exe", FakeImage());
    Put(dir / "src/big.bin", std::string(3 << 20, 'b'));
    Put(dir / "update.exe", "the previous update");
    RunResult r = RunTool({"build", "--image", dir / "updater.exe", "--caption", "c", "--folder",
                           dir / "src", "--output", dir / "update.exe"},
                          2 << 20);  // the disk is "full" after 2 MiB
    EXPECT_EQ(r.status, kExitIoError);
    EXPECT_NE(r.err.find("cannot write"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("nothing was written"), std::string::npos) << r.err;
    EXPECT_EQ(Get(dir / "update.exe"), "the previous update");
    EXPECT_FALSE(FileExists(dir / "update.exe.partial"));
    // A folder that does not exist for the output: nothing either.
    r = RunTool({"build", "--image", dir / "updater.exe", "--caption", "c", "--folder", dir / "src",
                 "--output", dir / "missing/update.exe"});
    EXPECT_EQ(r.status, kExitIoError);
    EXPECT_NE(r.err.find("cannot create"), std::string::npos) << r.err;
}

TEST(Command, MemoryStaysFlatForLargeFiles)
{
    ScratchFolder dir;
    Put(dir / "updater.exe", FakeImage());
    Put(dir / "src/small.txt", "s");
    Put(dir / "src/big.bin", "");
    std::filesystem::resize_file(dir / "src/big.bin", uint64_t(384) << 20);  // sparse
    RunResult r = RunTool({"build", "--image", dir / "updater.exe", "--caption", "c", "--folder",
                           dir / "src", "--output", dir / "update.exe"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(std::filesystem::file_size(dir / "update.exe"), (uint64_t(384) << 20) + 1 + 0x21010 + 3 * 128 + 16 + 128);
    EXPECT_LT(r.maxRssKiB, 32 * 1024) << "peak memory of a 384 MiB build";
    r = RunTool({"verify", dir / "update.exe"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_LT(r.maxRssKiB, 32 * 1024);
}

}  // namespace
