#include "package/LowercaseName.h"
#include <gtest/gtest.h>
#include <windows.h>
#include <string>

namespace {

TEST(LowercaseName, RunsUnderCodePage932)
{
    ASSERT_EQ(GetACP(), 932u) << "tests expect LC_ALL=ja_JP.UTF-8 under Wine";
    EXPECT_EQ(ProcessCodePage(), 932u);
}

TEST(LowercaseName, Cp932Cases)
{
    struct Case {
        const char* what;
        std::string in;
        std::string out;
    } cases[] = {
        {"ASCII capitals", "DATA01200.ARC", "data01200.arc"},
        {"every letter", "ABCDEFGHIJKLMNOPQRSTUVWXYZ@[`{", "abcdefghijklmnopqrstuvwxyz@[`{"},
        {"full-width capital A", "\x82\x60", "\x82\x81"},
        {"full-width capital Z", "\x82\x79", "\x82\x9A"},
        {"Greek capital alpha", "\x83\x9F", "\x83\xBF"},
        {"Cyrillic capital A", "\x84\x40", "\x84\x70"},
        {"katakana A keeps its 0x41", "\x83\x41" "B", "\x83\x41" "b"},
        {"kanji with 0x5C second byte", "\x95\x5C" "X", "\x95\x5C" "x"},
        {"half-width katakana have no case", "\xB1\xB2\xDF", "\xB1\xB2\xDF"},
        {"empty", "", ""},
        {"unmappable pair empties the text", "AB\x81\x20" "CD", ""},
        {"lead byte at the end stays", "AB\x82", "ab\x82"},
    };
    for (const Case& c : cases) {
        char buf[64];
        memcpy(buf, c.in.c_str(), c.in.size() + 1);
        LowercaseName(buf);
        EXPECT_EQ(std::string(buf), c.out) << c.what;
    }
}

TEST(LowercaseName, LeadBytesOf932)
{
    EXPECT_TRUE(IsLeadByte(0x81));
    EXPECT_TRUE(IsLeadByte(0x9F));
    EXPECT_TRUE(IsLeadByte(0xE0));
    EXPECT_TRUE(IsLeadByte(0xFC));
    EXPECT_FALSE(IsLeadByte(0x80));
    EXPECT_FALSE(IsLeadByte(0xA0));
    EXPECT_FALSE(IsLeadByte(0xB1));
    EXPECT_FALSE(IsLeadByte('A'));
}

}  // namespace
