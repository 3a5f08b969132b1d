#include "package/ArchiveIndex.h"
#include "package/CaptionBlock.h"
#include "package/PackageFile.h"
#include "sys/FileHandle.h"
#include "tests/support/TestSupport.h"
#include "writer/PackageWriter.h"
#include <gtest/gtest.h>
#include <cstring>

namespace {

// Reads the caption and the index of a package file the way the updater does.
struct Reading {
    bool caption;
    InstallResult index;
};

Reading ReadBoth(const std::string& path, ArchiveIndex& index, char* caption)
{
    PackageFileOverride = path.c_str();
    Reading r;
    r.caption = ReadCaptionBlock(caption);
    FileHandle file;
    file.OpenRead(path.c_str());
    r.index = ReadArchiveIndex(file, index);
    PackageFileOverride = nullptr;
    return r;
}

PackageDescription TwoEntries()
{
    PackageDescription desc;
    desc.caption = "Caption";
    desc.entries = {{"one.bin", "1111"}, {"two.bin", "22"}};
    return desc;
}

TEST(ArchiveIndex, FailureTableByFileLength)
{
    std::string whole = BuildPackage(TwoEntries());
    struct Case {
        const char* what;
        size_t length;
        bool caption;
        InstallResult index;
    } cases[] = {
        {"shorter than 0x20000", 0x1FFFF, false, kInstallPackageDamaged},
        {"exactly 0x20000", 0x20000, false, kInstallPackageDamaged},
        {"caption block cut", 0x20FFF, false, kInstallPackageDamaged},
        {"caption block whole, no header", 0x21000, true, kInstallPackageDamaged},
        {"header cut", 0x2100F, true, kInstallPackageDamaged},
        {"index cut", 0x21010 + 2 * 128 - 1, true, kInstallPackageDamaged},
        {"index whole, no data", 0x21010 + 2 * 128, true, kInstallOk},
    };
    for (const Case& c : cases) {
        TempFolder dir;
        std::string path = dir / "pkg.exe";
        ASSERT_TRUE(PutFile(path, whole.substr(0, c.length)));
        ArchiveIndex index;
        char caption[kCaptionBlockSize];
        Reading r = ReadBoth(path, index, caption);
        EXPECT_EQ(r.caption, c.caption) << c.what;
        EXPECT_EQ(r.index, c.index) << c.what;
        FreeArchiveIndex(index);
    }
}

TEST(ArchiveIndex, MissingFileIsDamaged)
{
    TempFolder dir;
    ArchiveIndex index;
    char caption[kCaptionBlockSize];
    Reading r = ReadBoth(dir / "none.exe", index, caption);
    EXPECT_FALSE(r.caption);
    EXPECT_EQ(r.index, kInstallPackageDamaged);
}

TEST(ArchiveIndex, CountLimitHoldsForBothLayoutsBeforeTheTable)
{
    struct Case {
        const char* magic;
        uint32_t count;
        bool withTable;
        InstallResult expected;
    } cases[] = {
        {"TAVLIN ARC20", 0, false, kInstallOk},
        {"TAVLIN ARC20", 256, true, kInstallOk},
        {"TAVLIN ARC20", 257, false, kInstallTooManyEntries},
        {"OTHER MAGIC!", 257, false, kInstallTooManyEntries},
        {"TAVLIN ARC20", 0xFFFFFFFF, false, kInstallTooManyEntries},
        {"OTHER MAGIC!", 256, true, kInstallOk},
        {"OTHER MAGIC!", 256, false, kInstallPackageDamaged},
    };
    for (const Case& c : cases) {
        PackageDescription desc;
        desc.magic = c.magic;
        desc.overrideCount = true;
        desc.count = c.count;
        if (c.withTable)
            for (uint32_t i = 0; i < c.count; ++i)
                desc.entries.push_back({"f" + std::to_string(i), "x"});
        TempFolder dir;
        std::string path = dir / "pkg.exe";
        ASSERT_TRUE(PutFile(path, BuildPackage(desc)));
        ArchiveIndex index;
        char caption[kCaptionBlockSize];
        Reading r = ReadBoth(path, index, caption);
        EXPECT_EQ(r.index, c.expected) << c.magic << " " << c.count;
        if (r.index == kInstallOk) {
            EXPECT_EQ(index.count, c.count);
            EXPECT_EQ(index.dataStart, DataStartFor(c.magic, c.count));
        }
        FreeArchiveIndex(index);
    }
}

TEST(ArchiveIndex, OnlyTheExactMagicSelectsWideEntries)
{
    struct Case {
        const char* magic;
        uint32_t entrySize;
    } cases[] = {
        {"TAVLIN ARC20", 128}, {"tavlin arc20", 32}, {"TAVLIN ARC21", 32},
        {"XAVLIN ARC20", 32},  {"TAVLIN_ARC20", 32}, {"\0\0\0\0\0\0\0\0\0\0\0\0", 32},
    };
    for (const Case& c : cases) {
        PackageDescription desc;
        desc.magic = std::string(c.magic, 12);
        desc.entries = {{"short.bin", "abc"}, {"other.dat", "defgh"}};
        TempFolder dir;
        std::string path = dir / "pkg.exe";
        ASSERT_TRUE(PutFile(path, BuildPackage(desc)));
        ArchiveIndex index;
        char caption[kCaptionBlockSize];
        ASSERT_EQ(ReadBoth(path, index, caption).index, kInstallOk);
        EXPECT_EQ(index.entrySize, c.entrySize) << c.magic;
        ArchiveEntry e = GetArchiveEntry(index, 1);
        EXPECT_STREQ(e.name, "other.dat");
        EXPECT_EQ(e.offset, 3u);
        EXPECT_EQ(e.size, 5u);
        EXPECT_EQ(EntryPosition(index, e), kArchiveIndexOffset + 2 * c.entrySize + 3);
        FreeArchiveIndex(index);
    }
}

TEST(ArchiveIndex, ShippedLayoutReadsBackExactly)
{
    PackageDescription desc;
    desc.caption = std::string(38, 'C');
    const char* names[] = {"data01200.arc", "data01300.arc", "data02000.arc", "JOR.hvl"};
    const uint32_t sizes[] = {1047812, 88379, 2625700, 2704};
    for (int i = 0; i < 4; ++i)
        desc.entries.push_back({names[i], std::string(sizes[i], char('a' + i))});
    desc.image = std::string(0x15400, 'M');
    std::string bytes = BuildPackage(desc);
    ASSERT_EQ(bytes.size(), 3900291u);
    TempFolder dir;
    std::string path = dir / "pkg.exe";
    ASSERT_TRUE(PutFile(path, bytes));
    ArchiveIndex index;
    char caption[kCaptionBlockSize];
    Reading r = ReadBoth(path, index, caption);
    ASSERT_TRUE(r.caption);
    EXPECT_EQ(strlen(caption), 38u);
    ASSERT_EQ(r.index, kInstallOk);
    EXPECT_EQ(index.entrySize, 128u);
    EXPECT_EQ(index.dataStart, 135696u);
    const uint32_t offsets[] = {0, 1047812, 1136191, 3761891};
    for (uint32_t i = 0; i < 4; ++i) {
        ArchiveEntry e = GetArchiveEntry(index, i);
        EXPECT_STREQ(e.name, names[i]);
        EXPECT_EQ(e.offset, offsets[i]);
        EXPECT_EQ(e.size, sizes[i]);
    }
    EXPECT_EQ(EntryPosition(index, GetArchiveEntry(index, 3)) + 2704, 3900291u);
    FreeArchiveIndex(index);
}

TEST(ArchiveIndex, DataPastTheEndAndOverlapsAreTakenAsStored)
{
    PackageDescription desc;
    PackageEntry distant;
    distant.name = "far.bin";
    distant.placeData = false;
    distant.offset = 0xFFFFFF00u;
    distant.size = 0x7FFFFFFF;
    PackageEntry overlap;
    overlap.name = "overlap.bin";
    overlap.placeData = false;
    overlap.offset = 0;
    overlap.size = 10;
    desc.entries = {distant, overlap, {"real.bin", "0123456789"}};
    TempFolder dir;
    std::string path = dir / "pkg.exe";
    ASSERT_TRUE(PutFile(path, BuildPackage(desc)));
    ArchiveIndex index;
    char caption[kCaptionBlockSize];
    ASSERT_EQ(ReadBoth(path, index, caption).index, kInstallOk);
    EXPECT_EQ(GetArchiveEntry(index, 0).offset, 0xFFFFFF00u);
    // The absolute position is a 32-bit sum and wraps.
    EXPECT_EQ(EntryPosition(index, GetArchiveEntry(index, 0)), index.dataStart - 0x100);
    EXPECT_EQ(GetArchiveEntry(index, 1).size, 10u);
    FreeArchiveIndex(index);
}

TEST(ArchiveIndex, FieldsWithoutNulAreCutAtTheirLastByte)
{
    for (const char* magic : {"TAVLIN ARC20", "narrow magic"}) {
        PackageDescription desc;
        desc.magic = magic;
        uint32_t field = EntrySizeFor(magic) == 128 ? 96 : 16;
        PackageEntry full;
        full.name = std::string(field, 'N');
        full.rawName = true;
        full.data = "xyz";
        desc.entries = {full, {"next", "1"}};
        desc.caption = std::string(4096, 'T');
        desc.rawCaption = true;
        TempFolder dir;
        std::string path = dir / "pkg.exe";
        ASSERT_TRUE(PutFile(path, BuildPackage(desc)));
        ArchiveIndex index;
        char caption[kCaptionBlockSize + 1];
        caption[kCaptionBlockSize] = '#';
        Reading r = ReadBoth(path, index, caption);
        EXPECT_TRUE(r.caption);
        EXPECT_EQ(strlen(caption), 4095u);
        EXPECT_EQ(caption[kCaptionBlockSize], '#');
        ASSERT_EQ(r.index, kInstallOk);
        ArchiveEntry e = GetArchiveEntry(index, 0);
        EXPECT_EQ(std::string(e.name), std::string(field - 1, 'N')) << magic;
        // Offset and size behind the field are unaffected.
        EXPECT_EQ(e.size, 3u);
        EXPECT_STREQ(GetArchiveEntry(index, 1).name, "next");
        FreeArchiveIndex(index);
    }
}

}  // namespace
