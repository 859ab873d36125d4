#include "TestUtil.h"
#include "platform/WinPath.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using platform::hostPath;

TEST(WinPathTest, DriveCMapsIntoTheDataHome)
{
    testutil::TempDataHome home;
    EXPECT_EQ(platform::driveCRoot(), home.driveC());
    EXPECT_EQ(hostPath("c:\\testtank\\information.xml"), home.driveC() / "testtank/information.xml");
    EXPECT_EQ(hostPath("C:/recording/a.wav"), home.driveC() / "recording/a.wav");
    // Folder paths keep their separator so that appended names land inside.
    EXPECT_EQ(hostPath("c:\\recording\\").string(), (home.driveC() / "recording").string() + "/");
}

TEST(WinPathTest, ExistingComponentsMatchWithoutRegardToLetterCase)
{
    testutil::TempDataHome home;
    testutil::writeFile(home.driveC() / "testtank/Audio/Part1/Q1.MP3", "x");
    EXPECT_EQ(hostPath("c:\\testtank\\audio\\part1\\q1.mp3"), home.driveC() / "testtank/Audio/Part1/Q1.MP3");
    EXPECT_EQ(hostPath("c:\\TESTTANK\\AUDIO\\"), home.driveC() / "testtank/Audio/");
    // Chinese names and mixed case alike.
    testutil::writeFile(home.driveC() / "testtank/第一部分/Text.rtf", "x");
    EXPECT_EQ(hostPath("c:\\testtank\\第一部分\\TEXT.RTF"), home.driveC() / "testtank/第一部分/Text.rtf");
}

TEST(WinPathTest, MissingComponentsAreKeptAsWritten)
{
    testutil::TempDataHome home;
    fs::create_directories(home.driveC() / "Recording");
    EXPECT_EQ(hostPath("c:\\recording\\New Answer.wav"), home.driveC() / "Recording/New Answer.wav");
    EXPECT_EQ(hostPath("c:\\nothing\\here.txt"), home.driveC() / "nothing/here.txt");
}

TEST(WinPathTest, ExactMatchWinsOverCaseInsensitiveOne)
{
    testutil::TempDataHome home;
    testutil::writeFile(home.driveC() / "t/a.txt", "lower");
    testutil::writeFile(home.driveC() / "t/A.txt", "upper");
    EXPECT_EQ(hostPath("c:\\t\\A.txt"), home.driveC() / "t/A.txt");
    EXPECT_EQ(hostPath("c:\\t\\a.txt"), home.driveC() / "t/a.txt");
}

TEST(WinPathTest, PathsWithoutDriveOnlyChangeSeparators)
{
    EXPECT_EQ(hostPath("audio\\q1.mp3"), fs::path("audio/q1.mp3"));
    EXPECT_EQ(hostPath("/tmp/x\\y"), fs::path("/tmp/x/y"));
}

TEST(WinPathTest, FreeSpaceAsksTheNearestExistingFolder)
{
    testutil::TempDir dir;
    EXPECT_GT(platform::freeDiskSpace(dir.path() / "not/yet/there.wav"), 0u);
}
