#include "sys/FixedText.h"
#include <gtest/gtest.h>
#include <cstring>

namespace {

TEST(FixedText, CopyAndAppendReportOverflowAndStayInside)
{
    char buf[8 + 1];
    memset(buf, '#', sizeof buf);
    char* guard = buf + 8;
    EXPECT_TRUE(CopyText(buf, 8, "1234567"));
    EXPECT_STREQ(buf, "1234567");
    EXPECT_FALSE(CopyText(buf, 8, "123456789"));
    EXPECT_STREQ(buf, "1234567");
    EXPECT_TRUE(CopyText(buf, 8, "abc"));
    EXPECT_TRUE(AppendText(buf, 8, "defg"));
    EXPECT_FALSE(AppendText(buf, 8, "h"));
    EXPECT_STREQ(buf, "abcdefg");
    EXPECT_EQ(*guard, '#');
}

TEST(FixedText, JoinPathFitsOrFails)
{
    char path[13 + 1];
    memset(path, '#', sizeof path);
    EXPECT_TRUE(JoinPath(path, 13, "C:\\g", "a.arc", ".t"));
    EXPECT_STREQ(path, "C:\\g\\a.arc.t");  // 12 bytes and the NUL
    EXPECT_FALSE(JoinPath(path, 13, "C:\\g", "a.arc", ".tm"));
    EXPECT_EQ(path[13], '#');
}

TEST(FixedText, CutFieldsWithoutNul)
{
    unsigned char table[3][6] = {{'a', 'b', 0, 'x', 'x', 'x'}, {'c', 'd', 'e', 'f', 1, 2}, {0, 'z', 'z', 'z', 3, 4}};
    CutFieldsWithoutNul(&table[0][0], 3, 6, 4);
    EXPECT_EQ(table[0][3], 'x');                 // had its NUL: untouched
    EXPECT_EQ(table[1][3], 0);                   // cut at the field's last byte
    EXPECT_EQ(table[1][4], 1);                   // what follows the field stays
    EXPECT_EQ(table[2][3], 'z');
}

TEST(FixedText, FieldWithoutNulHasTheFieldsLength)
{
    EXPECT_EQ(FieldTextLength("abc\0def", 7), 3u);
    EXPECT_EQ(FieldTextLength("abcdefg", 7), 7u);
}

}  // namespace
