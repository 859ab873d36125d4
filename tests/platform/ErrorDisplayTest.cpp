#include "TestUtil.h"
#include "platform/AppTitle.h"
#include "platform/ErrorDisplay.h"

#include <gtest/gtest.h>

#include <stdexcept>

using platform::errorText;

TEST(ErrorDisplayTest, FullStopAppendedOnlyAfterCharactersAboveDot)
{
    EXPECT_EQ(errorText(QStringLiteral("Invalid index")), QStringLiteral("Invalid index."));
    EXPECT_EQ(errorText(QStringLiteral("Done.")), QStringLiteral("Done."));
    // '-' (0x2D) and ',' sort below '.', '/' (0x2F) above it.
    EXPECT_EQ(errorText(QStringLiteral("a-")), QStringLiteral("a-"));
    EXPECT_EQ(errorText(QStringLiteral("a,")), QStringLiteral("a,"));
    EXPECT_EQ(errorText(QStringLiteral("path/")), QStringLiteral("path/."));
    EXPECT_EQ(errorText(QStringLiteral("a ")), QStringLiteral("a "));
    EXPECT_EQ(errorText(QStringLiteral("数据错误")), QStringLiteral("数据错误."));
    EXPECT_EQ(errorText(QStringLiteral("x\r\n")), QStringLiteral("x\r\n"));
    EXPECT_EQ(errorText(QString()), QString());
}

TEST(ErrorDisplayTest, CaptionIsExecutableNameWithTailInLowerCase)
{
    EXPECT_EQ(platform::titleFromExecutable(QStringLiteral("/usr/bin/quenvar")), QStringLiteral("quenvar"));
    EXPECT_EQ(platform::titleFromExecutable(QStringLiteral("C:/x/PROJECT1.EXE")), QStringLiteral("Project1"));
    EXPECT_EQ(platform::titleFromExecutable(QStringLiteral("/opt/My.Tool.bin")), QStringLiteral("My.tool"));
    EXPECT_EQ(platform::titleFromExecutable(QStringLiteral("/bin/X")), QStringLiteral("X"));
}

TEST(ErrorDisplayTest, GuardedHandlerShowsMessageAndCarriesOn)
{
    testutil::clearShown();
    bool after = false;
    platform::guarded([] { throw std::runtime_error("Field 'ItemID' not found"); });
    platform::guarded([&] { after = true; });
    ASSERT_EQ(testutil::shownErrors().size(), 1u);
    EXPECT_EQ(testutil::shownErrors()[0].text, QStringLiteral("Field 'ItemID' not found."));
    EXPECT_EQ(testutil::shownErrors()[0].caption, platform::applicationTitle());
    EXPECT_TRUE(after);
}

TEST(ErrorDisplayTest, Utf8MessagesKeepTheirChinese)
{
    testutil::clearShown();
    platform::guarded([] { throw std::runtime_error("无法打开文件"); });
    ASSERT_EQ(testutil::shownErrors().size(), 1u);
    EXPECT_EQ(testutil::shownErrors()[0].text, QStringLiteral("无法打开文件."));
}
