// The authoring tool, run as a program.

#include "PackageTestUtil.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

int qvtp(const std::string &args, std::string *out = nullptr, std::string *err = nullptr, const fs::path &errFile = {})
{
    const std::string redirect = errFile.empty() ? " 2>/dev/null" : " 2>'" + errFile.string() + "'";
    const int rc = testutil::run(std::string(QVTP_EXE) + " " + args + redirect, out);
    if (err && !errFile.empty())
        *err = testutil::readFile(errFile);
    return rc;
}

std::string q(const fs::path &p) { return "'" + p.string() + "'"; }

const char *const kManifest =
    R"(<?xml version="1.0" standalone="yes"?><DATAPACKET Version="2.0"><METADATA><FIELDS>)"
    R"(<FIELD attrname="RowID" fieldtype="string" WIDTH="100"/><FIELD attrname="FileType" fieldtype="string" WIDTH="100"/>)"
    R"(<FIELD attrname="FilePath" fieldtype="string" WIDTH="100"/><FIELD attrname="PlayTime" fieldtype="string" WIDTH="100"/>)"
    R"(<FIELD attrname="Font" fieldtype="string" WIDTH="100"/></FIELDS><PARAMS/></METADATA><ROWDATA>)"
    R"(<ROW RowID="1" FileType="3" FilePath="听力\第一题.mp3" PlayTime="0"/>)"
    R"(<ROW RowID="2" FileType="5" FilePath="准备" PlayTime="30000"/>)"
    R"(<ROW RowID="3" FileType="0" FilePath="听力\第一题.MP3" PlayTime="0" Font="答案.txt"/>)"
    R"(</ROWDATA></DATAPACKET>)";

} // namespace

TEST(QvtpTest, PackThenUnpackRoundTripsAFolder)
{
    testutil::TempDir dir;
    const fs::path src = dir.path() / "src";
    fs::create_directories(src / "听力");
    testutil::writeFile(src / "information.xml", kManifest);
    testutil::writeFile(src / "听力" / "第一题.mp3", std::string(200000, 'm'));
    testutil::writeFile(src / "答案.txt", "参考答案");
    ASSERT_EQ(qvtp("pack " + q(src) + " " + q(dir.path() / "t.qvtp")), 0);
    ASSERT_EQ(qvtp("unpack " + q(dir.path() / "t.qvtp") + " " + q(dir.path() / "out")), 0);
    EXPECT_EQ(pkgtest::treeOf(dir.path() / "out"), pkgtest::treeOf(src));

    std::string out;
    EXPECT_EQ(qvtp("check " + q(dir.path() / "t.qvtp"), &out), 0);
    EXPECT_EQ(out, "no problems found\n");
}

TEST(QvtpTest, CheckListsBadIntegersAndMissingFiles)
{
    testutil::TempDir dir;
    const fs::path src = dir.path() / "src";
    fs::create_directories(src);
    std::string manifest = kManifest;
    manifest.replace(manifest.find("PlayTime=\"30000\""), 16, "PlayTime=\"30s\"");
    manifest.replace(manifest.find("FileType=\"0\""), 12, "FileType=\"\"");
    testutil::writeFile(src / "information.xml", manifest);
    std::string out;
    EXPECT_EQ(qvtp("check " + q(src), &out), 1);
    EXPECT_EQ(out, "record 1 (RowID 1): FilePath \"听力\\第一题.mp3\" is missing\n"
                   "record 2 (RowID 2): PlayTime \"30s\" is not an integer\n"
                   "record 3 (RowID 3): FileType \"\" is not an integer\n");
}

TEST(QvtpTest, UsageAndFailuresGoToStandardErrorWithTheirExitCodes)
{
    testutil::TempDir dir;
    std::string out;
    std::string err;
    const fs::path errFile = dir.path() / "err.txt";
    EXPECT_EQ(qvtp("", &out, &err, errFile), 2);
    EXPECT_TRUE(out.empty());
    EXPECT_NE(err.find("Usage:"), std::string::npos);
    EXPECT_EQ(qvtp("pack onlyone", &out, &err, errFile), 2);

    testutil::writeFile(dir.path() / "bad.qvtp", std::string(8, '\x10') + "not zlib at all");
    EXPECT_EQ(qvtp("unpack " + q(dir.path() / "bad.qvtp") + " " + q(dir.path() / "o"), &out, &err, errFile), 1);
    EXPECT_EQ(err, "qvtp: Error\n");
    EXPECT_EQ(qvtp("check " + q(dir.path() / "absent"), &out, &err, errFile), 1);
    EXPECT_EQ(err, "qvtp: no such package or folder: " + (dir.path() / "absent").string() + "\n");
    fs::create_directories(dir.path() / "nomanifest");
    EXPECT_EQ(qvtp("check " + q(dir.path() / "nomanifest"), &out, &err, errFile), 1);
    EXPECT_FALSE(err.empty());
}
