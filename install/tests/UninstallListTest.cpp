#include "install/UninstallList.h"
#include "tests/support/TestSupport.h"
#include <gtest/gtest.h>
#include <vector>

namespace {

const std::string kMissing = "<missing>";
const std::string N(1, '\0');

struct Names {
    std::vector<const char*> pointers;
    explicit Names(std::initializer_list<const char*> names) : pointers(names) { pointers.push_back(nullptr); }
    const char* const* Get() const { return pointers.data(); }
};

// The list's bytes before and after one merge, in a fresh folder.
struct MergeCase {
    const char* what;
    std::string before;          // kMissing: no list
    std::vector<const char*> names;
    bool result;
    std::string after;           // kMissing: still no list
};

TEST(UninstallList, MergeTable)
{
    const std::string big(1024 * 1024 - 1, 'x');  // text of a list that fills the buffer
    MergeCase cases[] = {
        {"missing list is never created", kMissing, {"a.arc"}, false, kMissing},
        {"the example: 12 bytes grow to 23", "data01.arc\n" + N, {"data01.arc", "data02.arc"}, true,
         "data01.arc\ndata02.arc\n" + N},
        {"a name inside a longer listed name", "xdata02.arc\n" + N, {"data02.arc"}, true, "xdata02.arc\n" + N},
        {"the same name twice is added once", "a\n" + N, {"b.arc", "b.arc"}, true, "a\nb.arc\n" + N},
        {"an empty name is never added", "a\n" + N, {""}, true, "a\n" + N},
        {"case matters", "x\n" + N, {"Data02.arc", "data02.arc"}, true, "x\nData02.arc\ndata02.arc\n" + N},
        {"no names: written back as it was", "a\r\nb\n" + N, {}, true, "a\r\nb\n" + N},
        {"only the NUL", N, {"a", "b"}, true, "a\nb\n" + N},
        {"last line without a line feed is joined", "a" + N, {"b"}, true, "ab\n" + N},
        {"old lines stay byte for byte", "A\r\n\x95\x5C\n" + N, {"\x5C"}, true, "A\r\n\x95\x5C\n" + N},
        // Left open by the design; our choices:
        {"empty file: an empty text", "", {"a"}, true, "a\n" + N},
        {"empty file, no names: gets its NUL", "", {}, true, N},
        {"no final NUL: every byte kept", "a\nb", {"c"}, true, "a\nbc\n" + N},
        {"NUL before the last byte: untouched", "a" + N + "b" + N, {"c"}, false, "a" + N + "b" + N},
        {"NUL before the last byte, no NUL at the end", "a" + N + "b", {"c"}, false, "a" + N + "b"},
        {"one byte more than the buffer", std::string(1024 * 1024 - 3, 'x') + N, {"ab"}, false,
         std::string(1024 * 1024 - 3, 'x') + N},
        {"fills the buffer to its last byte", std::string(1024 * 1024 - 4, 'x') + N, {"ab"}, true,
         std::string(1024 * 1024 - 4, 'x') + "ab\n" + N},
        {"a merge that would not fit", big + N, {"a.arc", "y"}, false, big + N},
        {"a list of 1 MiB without a NUL", big + "x", {}, false, big + "x"},
        {"a list larger than the buffer", big + "xx" + N, {}, false, big + "xx" + N},
        {"a full list still skips present names", big + N, {"xxx"}, true, big + N},
    };
    for (const MergeCase& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder dir;
        if (c.before != kMissing) {
            ASSERT_TRUE(PutFile(dir / "uninst.lst", c.before));
        }
        std::vector<const char*> names = c.names;
        names.push_back(nullptr);
        EXPECT_EQ(MergeUninstallList(dir.Path().c_str(), names.data()), c.result);
        EXPECT_TRUE(FileBytes(dir / "uninst.lst") == c.after) << FileBytes(dir / "uninst.lst").size();
        // Nothing but the list is ever left behind.
        EXPECT_EQ(ListFolder(dir.Path()), c.after == kMissing ? "" : "uninst.lst");
    }
}

// What Windows's exclusive open for writing refuses leaves the list as it was.
TEST(UninstallList, AttributesThatRefuseWritingKeepTheList)
{
    const std::string before = "a\n" + N;
    for (DWORD attribute : {FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM}) {
        SCOPED_TRACE(attribute);
        TempFolder dir;
        std::string list = dir / "uninst.lst";
        ASSERT_TRUE(PutFile(list, before));
        ASSERT_TRUE(SetFileAttributesA(list.c_str(), attribute));
        Names names{"b.arc"};
        EXPECT_FALSE(MergeUninstallList(dir.Path().c_str(), names.Get()));
        EXPECT_EQ(GetFileAttributesA(list.c_str()) & ~DWORD(FILE_ATTRIBUTE_ARCHIVE), attribute);
        EXPECT_EQ(FileBytes(list), before);
        EXPECT_EQ(ListFolder(dir.Path()), "uninst.lst");
    }
}

TEST(UninstallList, AListThatIsAFolderIsRefused)
{
    TempFolder dir;
    ASSERT_TRUE(CreateDirectoryA((dir / "uninst.lst").c_str(), nullptr));
    Names names{"b.arc"};
    EXPECT_FALSE(MergeUninstallList(dir.Path().c_str(), names.Get()));
    EXPECT_EQ(ListFolder(dir.Path()), "uninst.lst");
}

// Another handle on the list: one that forbids reading stops the read, one
// that lets us read still stops the replacement.
TEST(UninstallList, AListHeldOpenElsewhereIsNotReplaced)
{
    const std::string before = "a\n" + N;
    struct Holder {
        DWORD access;
        DWORD share;
    } holders[] = {
        {GENERIC_WRITE, 0},
        {GENERIC_READ, FILE_SHARE_READ},
        {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE},
        // Would let the list be renamed over: only our own exclusive open tells.
        {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE},
    };
    for (const Holder& h : holders) {
        SCOPED_TRACE(h.share);
        TempFolder dir;
        std::string list = dir / "uninst.lst";
        ASSERT_TRUE(PutFile(list, before));
        HANDLE held = CreateFileA(list.c_str(), h.access, h.share, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        Names names{"b.arc"};
        EXPECT_FALSE(MergeUninstallList(dir.Path().c_str(), names.Get()));
        CloseHandle(held);
        EXPECT_EQ(FileBytes(list), before);
        EXPECT_EQ(ListFolder(dir.Path()), "uninst.lst");
    }
}

// The new content cannot be written: the old list keeps its bytes and what
// stands in the way of the new file is not touched.
TEST(UninstallList, AWriteThatCannotCompleteKeepsTheList)
{
    const std::string before = "a\n" + N;
    {
        SCOPED_TRACE("a folder where the new list goes");
        TempFolder dir;
        ASSERT_TRUE(PutFile(dir / "uninst.lst", before));
        ASSERT_TRUE(CreateDirectoryA((dir / "uninst.new").c_str(), nullptr));
        Names names{"b.arc"};
        EXPECT_FALSE(MergeUninstallList(dir.Path().c_str(), names.Get()));
        EXPECT_EQ(FileBytes(dir / "uninst.lst"), before);
        EXPECT_EQ(ListFolder(dir.Path()), "uninst.lst|uninst.new");
    }
    {
        SCOPED_TRACE("the new list's place held open");
        TempFolder dir;
        ASSERT_TRUE(PutFile(dir / "uninst.lst", before));
        ASSERT_TRUE(PutFile(dir / "uninst.new", "other"));
        HANDLE held = CreateFileA((dir / "uninst.new").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        Names names{"b.arc"};
        EXPECT_FALSE(MergeUninstallList(dir.Path().c_str(), names.Get()));
        CloseHandle(held);
        EXPECT_EQ(FileBytes(dir / "uninst.lst"), before);
        EXPECT_EQ(FileBytes(dir / "uninst.new"), "other");
    }
}

TEST(UninstallList, ALeftoverNewListIsOverwrittenAndGone)
{
    TempFolder dir;
    ASSERT_TRUE(PutFile(dir / "uninst.lst", "a\n" + N));
    ASSERT_TRUE(PutFile(dir / "uninst.new", "stale stale stale"));
    ASSERT_TRUE(SetFileAttributesA((dir / "uninst.new").c_str(), FILE_ATTRIBUTE_READONLY));
    Names names{"b.arc"};
    EXPECT_TRUE(MergeUninstallList(dir.Path().c_str(), names.Get()));
    EXPECT_EQ(FileBytes(dir / "uninst.lst"), "a\nb.arc\n" + N);
    EXPECT_EQ(ListFolder(dir.Path()), "uninst.lst");
    EXPECT_EQ(GetFileAttributesA((dir / "uninst.lst").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
}

// "folder\.\.\." names the same folder, so the length limit can be tried on a
// real list: 248 bytes still work, 249 leave it alone.
TEST(UninstallList, FolderLengthLimit)
{
    for (size_t length : {247u, 248u, 249u, 300u}) {
        SCOPED_TRACE(length);
        TempFolder dir;
        std::string folder = dir.Path();
        size_t pad = length - folder.size();
        if (pad % 2) {  // a doubled separator is one more byte for the same folder
            folder += "\\\\.";
            pad -= 3;
        }
        for (; pad; pad -= 2)
            folder += "\\.";
        ASSERT_EQ(folder.size(), length);
        ASSERT_TRUE(PutFile(dir / "uninst.lst", N));
        Names names{"b.arc"};
        bool fits = length <= 248;
        EXPECT_EQ(MergeUninstallList(folder.c_str(), names.Get()), fits);
        EXPECT_EQ(FileBytes(dir / "uninst.lst"), fits ? "b.arc\n" + N : N);
        EXPECT_EQ(ListFolder(dir.Path()), "uninst.lst");
    }
}

}  // namespace
