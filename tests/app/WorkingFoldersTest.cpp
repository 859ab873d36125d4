#include "TestUtil.h"
#include "app/WorkingFolders.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

TEST(WorkingFoldersTest, MissingFoldersAreCreatedOnAFreshAccount)
{
    testutil::TempDataHome home;
    ASSERT_FALSE(fs::exists(home.driveC()));
    app::checkWorkingFolders();
    EXPECT_TRUE(fs::is_directory(home.driveC() / "recording"));
    EXPECT_TRUE(fs::is_directory(home.driveC() / "testtank"));
}

TEST(WorkingFoldersTest, ExistingContentsAreKept)
{
    testutil::TempDataHome home;
    testutil::writeFile(home.driveC() / "recording/a.wav", "answer");
    testutil::writeFile(home.driveC() / "testtank/information.xml", "manifest");
    app::checkWorkingFolders();
    EXPECT_EQ(testutil::readFile(home.driveC() / "recording/a.wav"), "answer");
    EXPECT_EQ(testutil::readFile(home.driveC() / "testtank/information.xml"), "manifest");
}

TEST(WorkingFoldersTest, PlainFileNamedRecordingBlocksCreationSilently)
{
    testutil::TempDataHome home;
    testutil::writeFile(home.driveC() / "recording", "not a folder");
    testutil::clearShown();
    app::checkWorkingFolders();
    EXPECT_TRUE(fs::is_regular_file(home.driveC() / "recording"));
    EXPECT_TRUE(fs::is_directory(home.driveC() / "testtank"));
    EXPECT_TRUE(testutil::shownErrors().empty());
    EXPECT_TRUE(testutil::shownMessages().empty());
}

TEST(WorkingFoldersTest, DeletedTestFolderComesBackOnTheNextCheck)
{
    testutil::TempDataHome home;
    app::checkWorkingFolders();
    fs::remove_all(home.driveC() / "testtank");
    app::checkWorkingFolders();
    EXPECT_TRUE(fs::is_directory(home.driveC() / "testtank"));
}
