#include "package/HashList.h"
#include "sys/FileHandle.h"
#include "tests/support/TestSupport.h"
#include "writer/PackageWriter.h"
#include <gtest/gtest.h>
#include <cstring>

namespace {

HashRecord Record(const std::string& path, unsigned char tag)
{
    HashRecord r;
    r.path = path;
    memset(r.checksum, tag, 8);
    return r;
}

// Builds a package, reads its index and hash list, and answers lookups.
class Loaded {
public:
    explicit Loaded(const PackageDescription& desc)
    {
        path_ = dir_ / "pkg.exe";
        EXPECT_TRUE(PutFile(path_, BuildPackage(desc)));
        EXPECT_TRUE(file_.OpenRead(path_.c_str()));
        EXPECT_EQ(ReadArchiveIndex(file_, index_), kInstallOk);
        list_ = LoadHashList(index_, file_);
    }
    ~Loaded()
    {
        FreeHashList(list_);
        FreeArchiveIndex(index_);
    }
    uint32_t Count() const { return list_.count; }
    // "path:tag" of the record found, or "none".
    std::string Find(const char* name) const
    {
        HashListEntry e;
        if (!FindHashListEntry(list_, name, e))
            return "none";
        return std::string(e.path) + ":" + std::to_string(e.checksum[0]);
    }

private:
    TempFolder dir_;
    std::string path_;
    FileHandle file_;
    ArchiveIndex index_;
    HashList list_;
};

PackageDescription WithList(const std::string& listName, const std::string& listBytes)
{
    PackageDescription desc;
    desc.entries = {{"data01200.arc", "abc"}, {listName, listBytes}};
    return desc;
}

TEST(HashList, FindingTheList)
{
    std::string good = BuildHashList({Record("data01200.arc", 1), Record("other.arc", 2)});
    std::string badMagic = BuildHashList({Record("data01200.arc", 3)}, "KSV____X");
    struct Case {
        const char* what;
        PackageDescription desc;
        uint32_t records;
    } cases[] = {
        {"capitals JOR.hvl", WithList("JOR.hvl", good), 2},
        {"lower case", WithList("jor.hvl", good), 2},
        {"in a folder is not the list", WithList("sub\\jor.hvl", good), 0},
        {"wrong magic", WithList("jor.hvl", badMagic), 0},
        {"no records", WithList("jor.hvl", BuildHashList({})), 0},
        {"count beyond the file", WithList("jor.hvl", BuildHashList({Record("a", 1)}, "KSV_____", true, 2)), 0},
        {"count whose size wraps", WithList("jor.hvl", BuildHashList({Record("a", 1)}, "KSV_____", true, 0x04000001)), 0},
        {"count of 2^32-1", WithList("jor.hvl", BuildHashList({}, "KSV_____", true, 0xFFFFFFFF)), 0},
        {"header cut", WithList("jor.hvl", std::string("KSV_____", 8)), 0},
        {"no list", WithList("plain.bin", good), 0},
    };
    for (const Case& c : cases) {
        Loaded loaded(c.desc);
        EXPECT_EQ(loaded.Count(), c.records) << c.what;
    }
}

TEST(HashList, HeaderBytes8To11AreNotRead)
{
    std::string list = BuildHashList({Record("a.bin", 1)});
    list[8] = '\xFF';
    list[11] = '\x7F';
    Loaded loaded(WithList("jor.hvl", list));
    EXPECT_EQ(loaded.Count(), 1u);
}

TEST(HashList, OnlyTheFirstEntryOfThatNameIsTried)
{
    PackageDescription desc;
    desc.entries = {{"Jor.HVL", BuildHashList({}, "BADMAGIC")},
                    {"jor.hvl", BuildHashList({Record("x.bin", 9)})}};
    EXPECT_EQ(Loaded(desc).Count(), 0u);
    desc.entries = {{"Jor.HVL", BuildHashList({Record("y.bin", 8)})},
                    {"jor.hvl", BuildHashList({Record("x.bin", 9)})}};
    Loaded second(desc);
    EXPECT_EQ(second.Find("y.bin"), "y.bin:8");
    EXPECT_EQ(second.Find("x.bin"), "none");
}

TEST(HashList, DataThatCannotBePositionedMakesItAbsent)
{
    PackageDescription desc;
    PackageEntry list;
    list.name = "jor.hvl";
    list.placeData = false;
    list.offset = 0x7FFFFFF0u;  // beyond 2 GiB once the data start is added
    desc.entries = {list};
    EXPECT_EQ(Loaded(desc).Count(), 0u);
}

TEST(HashList, Lookups)
{
    std::vector<HashRecord> records = {
        Record("DATA01200.ARC", 1), Record("sub\\data01300.arc", 2), Record("sub/deeper/data02000.arc", 3),
        Record("C:data03000.arc", 4), Record("x\\\x95\x5C.arc", 5),  // 表.arc under x
        Record("\x95\x5C" "dup.arc", 6), Record("dup.arc", 7), Record("dup.arc", 8),
        Record("a/b\\mixed.arc", 9),
    };
    PackageDescription desc = WithList("JOR.hvl", BuildHashList(records));
    Loaded loaded(desc);
    ASSERT_EQ(loaded.Count(), records.size());
    struct Case {
        const char* name;
        const char* found;
    } cases[] = {
        {"data01200.arc", "DATA01200.ARC:1"},
        {"DATA01200.ARC", "DATA01200.ARC:1"},
        {"data01300.arc", "sub\\data01300.arc:2"},
        {"Data02000.Arc", "sub/deeper/data02000.arc:3"},
        {"data03000.arc", "C:data03000.arc:4"},
        {"\x95\x5C.arc", "x\\\x95\x5C.arc:5"},
        {"\x95\x5C" "dup.arc", "\x95\x5C" "dup.arc:6"},  // 0x5C is no separator there
        {"dup.arc", "dup.arc:7"},                          // the first of two
        {"mixed.arc", "a/b\\mixed.arc:9"},
        {"sub\\data01300.arc", "none"},                    // the entry's name is compared whole
        {"sub/data01300.arc", "none"},
        {"JOR.hvl", "none"},
        {"missing.arc", "none"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(loaded.Find(c.name), c.found) << c.name;
}

TEST(HashList, RecordPathWithoutNulIsCut)
{
    HashRecord r = Record(std::string(56, 'p'), 4);
    r.rawPath = true;
    Loaded loaded(WithList("jor.hvl", BuildHashList({r})));
    EXPECT_EQ(loaded.Find(std::string(55, 'p').c_str()), std::string(55, 'p') + ":4");
}

TEST(HashList, LastPathComponent)
{
    EXPECT_STREQ(LastPathComponent("a\\b/c.txt"), "c.txt");
    EXPECT_STREQ(LastPathComponent("D:x.txt"), "x.txt");
    EXPECT_STREQ(LastPathComponent("D:\\x\\"), "");
    EXPECT_STREQ(LastPathComponent("plain"), "plain");
    EXPECT_STREQ(LastPathComponent("\x95\x5C\x95\x5C"), "\x95\x5C\x95\x5C");
    EXPECT_STREQ(LastPathComponent(""), "");
}

}  // namespace
