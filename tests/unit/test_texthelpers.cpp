#include "texthelpers.h"

#include <gtest/gtest.h>

TEST(TextHelpers, LastCharPos)
{
    EXPECT_EQ(LastCharPos(u"/", u"http://a/b/c.swf"), 11);
    EXPECT_EQ(LastCharPos(u"/", u"abc"), 0);
    EXPECT_EQ(LastCharPos(u"/", u"/"), 0) << "a one-character text never matches";
    EXPECT_EQ(LastCharPos(u"/", u"/a"), 1);
    EXPECT_EQ(LastCharPos(u"//", u"a//b"), 0) << "only one-character needles match";
    EXPECT_EQ(LastCharPos(u"", u"ab"), 0);
}

TEST(TextHelpers, CountOccurrencesIsLeftToRightWithoutOverlap)
{
    EXPECT_EQ(CountOccurrences(u"aa", u"aaa"), 1);
    EXPECT_EQ(CountOccurrences(u"aa", u"aaaa"), 2);
    EXPECT_EQ(CountOccurrences(u".swf", u"a.swf b.swf c.SWF"), 2);
    EXPECT_EQ(CountOccurrences(u"", u"abc"), 0);
    EXPECT_EQ(CountOccurrences(u"x", u""), 0);
}

TEST(TextHelpers, SplitMemoLinesBreaksAtCrLfAndCrLf)
{
    EXPECT_EQ(SplitMemoLines("a\r\nb\nc\rd"),
              (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"),
                           QStringLiteral("d")}));
    EXPECT_EQ(SplitMemoLines("a\n\rb"),
              (QStringList{QStringLiteral("a"), QString(), QStringLiteral("b")}));
    EXPECT_EQ(SplitMemoLines("a\n"), QStringList{QStringLiteral("a")});
    EXPECT_EQ(SplitMemoLines("\n\n"), (QStringList{QString(), QString()}));
    EXPECT_TRUE(SplitMemoLines("").isEmpty());
}

TEST(TextHelpers, SplitMemoLinesStopsALineAtItsFirstNul)
{
    const char bytes[] = "ab\0cd\nef";
    EXPECT_EQ(SplitMemoLines(QByteArrayView(bytes, sizeof bytes - 1)),
              (QStringList{QStringLiteral("ab"), QStringLiteral("ef")}));
}
