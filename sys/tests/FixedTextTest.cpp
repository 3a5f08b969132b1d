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

TEST(FixedText, FieldWithoutNulHasTheFieldsLength)
{
    EXPECT_EQ(FieldTextLength("abc\0def", 7), 3u);
    EXPECT_EQ(FieldTextLength("abcdefg", 7), 7u);
}

}  // namespace
