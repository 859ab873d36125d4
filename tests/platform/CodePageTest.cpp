#include "platform/CodePage.h"
#include "platform/Collate.h"

#include <QLocale>
#include <gtest/gtest.h>

using namespace platform;

TEST(CodePageTest, ChineseRoundTripsThroughCp936)
{
    const QString text = QStringLiteral("第一部分：朗读短文 Part 1");
    const std::string gbk = toAnsi(text);
    // 第 is B5 DA in GBK.
    ASSERT_GE(gbk.size(), 2u);
    EXPECT_EQ(static_cast<unsigned char>(gbk[0]), 0xB5);
    EXPECT_EQ(static_cast<unsigned char>(gbk[1]), 0xDA);
    EXPECT_EQ(fromAnsi(gbk), text);
}

TEST(CodePageTest, UnencodableCharactersBecomeQuestionMarks)
{
    EXPECT_EQ(toAnsi(QStringLiteral("a😀b")), std::string("a?b"));
}

TEST(CodePageTest, InvalidBytesBecomeReplacementAndDecodingGoesOn)
{
    const QString s = fromAnsi(std::string("ok\x81", 3));
    EXPECT_TRUE(s.startsWith(QStringLiteral("ok")));
    EXPECT_EQ(s.back(), QChar(0xFFFD));
}

TEST(CodePageTest, NamedCodePages)
{
    const std::string gbk = toAnsi(QStringLiteral("听说"));
    EXPECT_EQ(fromCodePage(gbk, "GB2312"), QStringLiteral("听说"));
    EXPECT_EQ(fromCodePage(gbk, "gbk"), QStringLiteral("听说"));
    EXPECT_EQ(fromCodePage("caf\xE9", "windows-1252"), QStringLiteral("café"));
    EXPECT_EQ(fromCodePage("\xE5\x90\xAC", "UTF-8"), QStringLiteral("听"));
    EXPECT_EQ(codePageName(936), "GB18030");
    EXPECT_EQ(codePageName(1252), "CP1252");
    EXPECT_EQ(codePageName(12345), "");
}

TEST(CodePageTest, PlainTextIsUtf8WhenValidElseCp936)
{
    EXPECT_EQ(decodeText("\xEF\xBB\xBFhi"), QStringLiteral("hi"));
    EXPECT_EQ(decodeText("\xE5\x90\xAC\xE8\xAF\xB4"), QStringLiteral("听说"));
    EXPECT_EQ(decodeText(toAnsi(QStringLiteral("听说"))), QStringLiteral("听说"));
    EXPECT_EQ(decodeText(std::string("\xFF\xFEh\0i\0", 6)), QStringLiteral("hi"));
    EXPECT_FALSE(isValidUtf8("\xC0\x80"));       // overlong
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));   // surrogate
    EXPECT_FALSE(isValidUtf8("\xE5\x90"));       // truncated
    EXPECT_TRUE(isValidUtf8("plain ascii"));
}

TEST(CollateTest, ChineseSortsInPinyinOrderUnderAChineseLocale)
{
    const QLocale old;
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    // 安 (an) < 北 (bei) < 中 (zhong), whatever their code points say.
    EXPECT_LT(lstrcmpA(QStringLiteral("安"), QStringLiteral("北")), 0);
    EXPECT_LT(lstrcmpA(QStringLiteral("北"), QStringLiteral("中")), 0);
    EXPECT_EQ(lstrcmpA(QStringLiteral("Part"), QStringLiteral("Part")), 0);
    EXPECT_NE(lstrcmpA(QStringLiteral("part"), QStringLiteral("Part")), 0);
    QLocale::setDefault(old);
}
