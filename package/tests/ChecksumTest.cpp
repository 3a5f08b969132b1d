#include "package/ContentChecksum.h"
#include <gtest/gtest.h>
#include <random>
#include <string>

namespace {

std::string Hex(const ContentChecksum& c)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (unsigned char b : c.bytes) {
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s;
}

TEST(ContentChecksum, WorkedExampleByteByByte)
{
    struct Step {
        char byte;
        const char* stored;
    } steps[] = {
        {'a', "6100000061616161"},
        {'b', "AB5800000CCAC303"},
        {'c', "06B4500012CC2660"},
    };
    ContentChecksum c = {};
    for (const Step& s : steps) {
        UpdateContentChecksum(c, &s.byte, 1);
        EXPECT_EQ(Hex(c), s.stored) << s.byte;
    }
}

TEST(ContentChecksum, EmptyInputLeavesZero)
{
    ContentChecksum c = {};
    UpdateContentChecksum(c, "", 0);
    EXPECT_EQ(Hex(c), "0000000000000000");
}

TEST(ContentChecksum, AnyChunkingGivesTheSameState)
{
    std::mt19937 rng(1234);
    std::string data(300000, '\0');
    for (char& ch : data)
        ch = char(rng());
    ContentChecksum whole = {};
    UpdateContentChecksum(whole, data.data(), data.size());
    for (size_t chunk : {1u, 7u, 4096u, 65537u, 1u << 20}) {
        ContentChecksum parts = {};
        for (size_t at = 0; at < data.size(); at += chunk) {
            size_t n = std::min(chunk, data.size() - at);
            UpdateContentChecksum(parts, data.data() + at, n);
        }
        EXPECT_EQ(Hex(parts), Hex(whole)) << chunk;
    }
}

}  // namespace

namespace {

struct PathName {
    ChecksumPath path;
    const char* name;
};
const PathName kPaths[] = {{kChecksumSse2, "sse2"}, {kChecksumAvx2, "avx2"}};

std::string RunPath(ChecksumPath path, const std::string& data, size_t split)
{
    ContentChecksum c = {};
    UpdateContentChecksumWith(path, c, data.data(), split);
    UpdateContentChecksumWith(path, c, data.data() + split, data.size() - split);
    return Hex(c);
}

class VectorPath : public ::testing::TestWithParam<PathName> {
protected:
    void SetUp() override
    {
        if (!ChecksumPathSupported(GetParam().path))
            GTEST_SKIP() << GetParam().name << " is not supported on this machine";
    }
};

TEST_P(VectorPath, MatchesTheReferenceForEveryLengthAlignmentAndSplit)
{
    std::mt19937 rng(99);
    std::string pool(4096 + 64, '\0');
    for (char& ch : pool)
        ch = char(rng());
    ChecksumPath path = GetParam().path;
    for (size_t length = 0; length <= 400; ++length) {
        for (size_t align = 0; align < 64; align += (length < 200 ? 1 : 13)) {
            std::string data = pool.substr(align, length);
            ASSERT_EQ(RunPath(path, data, 0), RunPath(kChecksumScalar, data, 0))
                << "length " << length << " align " << align;
        }
    }
    std::string data = pool.substr(3, 1000);
    std::string expected = RunPath(kChecksumScalar, data, 0);
    for (size_t split = 0; split <= data.size(); ++split)
        ASSERT_EQ(RunPath(path, data, split), expected) << "split " << split;
}

TEST_P(VectorPath, MatchesTheReferenceOnMebibytesFromAnyState)
{
    std::mt19937 rng(7);
    std::string data((3u << 20) + 77, '\0');
    for (char& ch : data)
        ch = char(rng());
    ContentChecksum start = {};
    UpdateContentChecksumWith(kChecksumScalar, start, "abc", 3);
    ContentChecksum vec = start, ref = start;
    UpdateContentChecksumWith(GetParam().path, vec, data.data() + 1, data.size() - 1);
    UpdateContentChecksumWith(kChecksumScalar, ref, data.data() + 1, data.size() - 1);
    EXPECT_EQ(Hex(vec), Hex(ref));
    // Bytes that push every lane to its extremes: the largest and smallest
    // bytes, alone and in pairs, and the two around the signed boundary.
    const std::string patterns[] = {"\xFF", std::string(1, '\0'), std::string("\xFF\0", 2),
                                    std::string("\0\xFF", 2), "\x80", "\x7F", "\x7F\x80"};
    for (const std::string& pattern : patterns) {
        std::string bytes;
        while (bytes.size() < (1u << 16))
            bytes += pattern;
        EXPECT_EQ(RunPath(GetParam().path, bytes, 64 * 7), RunPath(kChecksumScalar, bytes, 0))
            << "pattern of " << pattern.size() << " bytes starting " << int((unsigned char)pattern[0]);
    }
}

TEST_P(VectorPath, WorkedExample)
{
    std::string data = std::string("abc");
    EXPECT_EQ(RunPath(GetParam().path, data, 0), "06B4500012CC2660");
}

INSTANTIATE_TEST_SUITE_P(Paths, VectorPath, ::testing::ValuesIn(kPaths),
                         [](const ::testing::TestParamInfo<PathName>& info) {
                             return std::string(info.param.name);
                         });

TEST(ContentChecksum, SelectedPathIsSupported)
{
    EXPECT_TRUE(ChecksumPathSupported(SelectedChecksumPath()));
}

}  // namespace
