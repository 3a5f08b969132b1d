#include "sys/FileHandle.h"
#include "tests/support/TestSupport.h"
#include <gtest/gtest.h>
#include <winioctl.h>

namespace {

TEST(FileHandle, MissingFileStaysClosedAndFailsEveryOperation)
{
    TempFolder dir;
    FileHandle f;
    EXPECT_FALSE(f.OpenRead((dir / "missing.bin").c_str()));
    EXPECT_FALSE(f.IsOpen());
    EXPECT_EQ(f.Size(), 0xFFFFFFFFu);
    char buf[4];
    EXPECT_EQ(f.Read(buf, 4), 0u);
    EXPECT_EQ(f.Write("abcd", 4), 0u);
    EXPECT_FALSE(f.SeekTo(0));
    EXPECT_EQ(f.Close(), -1);
}

TEST(FileHandle, SecondOpenFailsAndKeepsTheFirstFile)
{
    TempFolder dir;
    ASSERT_TRUE(PutFile(dir / "a.bin", "first"));
    ASSERT_TRUE(PutFile(dir / "b.bin", "second"));
    FileHandle f;
    ASSERT_TRUE(f.OpenRead((dir / "a.bin").c_str()));
    EXPECT_FALSE(f.OpenRead((dir / "b.bin").c_str()));
    EXPECT_FALSE(f.OpenWrite((dir / "c.bin").c_str()));
    EXPECT_FALSE(Exists(dir / "c.bin"));
    char buf[8] = {};
    EXPECT_EQ(f.Read(buf, 8), 5u);
    EXPECT_STREQ(buf, "first");
}

TEST(FileHandle, CloseTwiceIsHarmless)
{
    TempFolder dir;
    ASSERT_TRUE(PutFile(dir / "a.bin", "x"));
    FileHandle f;
    ASSERT_TRUE(f.OpenRead((dir / "a.bin").c_str()));
    EXPECT_NE(f.Close(), 0);
    EXPECT_NE(f.Close(), 0);  // -1: already closed
    EXPECT_EQ(f.Close(), -1);
    // Reopening the same object works, as the uninstall list merge does.
    EXPECT_TRUE(f.OpenWrite((dir / "a.bin").c_str()));
}

TEST(FileHandle, SeeksBelowTwoGibOnly)
{
    TempFolder dir;
    ASSERT_TRUE(PutFile(dir / "a.bin", "0123456789"));
    FileHandle f;
    ASSERT_TRUE(f.OpenRead((dir / "a.bin").c_str()));
    ASSERT_TRUE(f.SeekTo(4));
    for (uint32_t distant : {0x80000000u, 0xFFFFFFFFu}) {
        EXPECT_FALSE(f.SeekTo(distant)) << distant;
        char c = 0;
        EXPECT_EQ(f.Read(&c, 1), 1u) << "position must stay at 4";
        EXPECT_EQ(c, '4');
        ASSERT_TRUE(f.SeekTo(4));
    }
    // Past the end succeeds; the read that follows returns 0.
    EXPECT_TRUE(f.SeekTo(1000));
    char buf[4];
    EXPECT_EQ(f.Read(buf, 4), 0u);
}

TEST(FileHandle, ShortReadAtTheEnd)
{
    TempFolder dir;
    ASSERT_TRUE(PutFile(dir / "a.bin", std::string(1000, 'z')));
    FileHandle f;
    ASSERT_TRUE(f.OpenRead((dir / "a.bin").c_str()));
    ASSERT_TRUE(f.SeekTo(900));
    static char buf[4096];
    EXPECT_EQ(f.Read(buf, 4096), 100u);
    EXPECT_EQ(f.Size(), 1000u);
}

TEST(FileHandle, OpenWriteTruncatesAnExistingFile)
{
    TempFolder dir;
    ASSERT_TRUE(PutFile(dir / "a.bin", "old content"));
    {
        FileHandle f;
        ASSERT_TRUE(f.OpenWrite((dir / "a.bin").c_str()));
        EXPECT_EQ(f.Size(), 0u);
        EXPECT_EQ(f.Write("new", 3), 3u);
    }  // destructor closes
    EXPECT_EQ(FileBytes(dir / "a.bin"), "new");
}

TEST(FileHandle, ReadHandleSharesReadingButNotWriting)
{
    TempFolder dir;
    std::string path = dir / "a.bin";
    ASSERT_TRUE(PutFile(path, "data"));
    FileHandle reader;
    ASSERT_TRUE(reader.OpenRead(path.c_str()));
    FileHandle second;
    EXPECT_TRUE(second.OpenRead(path.c_str()));
    second.Close();
    FileHandle writer;
    EXPECT_FALSE(writer.OpenWrite(path.c_str()));
    reader.Close();
    // A write handle shares nothing.
    ASSERT_TRUE(writer.OpenWrite(path.c_str()));
    EXPECT_FALSE(second.OpenRead(path.c_str()));
}

TEST(FileHandle, SizeOfAFileBeyondFourGibIsItsLowBits)
{
    TempFolder dir;
    std::string path = dir / "sparse.bin";
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD ignored;
    DeviceIoControl(h, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
    LARGE_INTEGER end;
    end.QuadPart = 0x100000005LL;
    ASSERT_TRUE(SetFilePointerEx(h, end, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(h));
    CloseHandle(h);
    FileHandle f;
    ASSERT_TRUE(f.OpenRead(path.c_str()));
    EXPECT_EQ(f.Size(), 5u);
}

// Flush reports FlushFileBuffers: true on a handle open for writing, false
// on a closed one or one open only for reading; the bytes stay as written.
TEST(FileHandle, FlushAfterWriting)
{
    TempFolder dir;
    FileHandle f;
    EXPECT_FALSE(f.Flush());
    ASSERT_TRUE(f.OpenWrite((dir / "a.bin").c_str()));
    EXPECT_EQ(f.Write("abcd", 4), 4u);
    EXPECT_TRUE(f.Flush());
    EXPECT_NE(f.Close(), 0);
    EXPECT_FALSE(f.Flush());
    EXPECT_EQ(FileBytes(dir / "a.bin"), "abcd");
    ASSERT_TRUE(f.OpenRead((dir / "a.bin").c_str()));
    EXPECT_FALSE(f.Flush());  // nothing to write: the system refuses it
}

}  // namespace
