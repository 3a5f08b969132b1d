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
