#include "PackageTestUtil.h"
#include "TestUtil.h"
#include "package/UnwrapPackage.h"

#include <gtest/gtest.h>

#include <sstream>
#include <sys/stat.h>

namespace fs = std::filesystem;
using package::EPackageError;

namespace {

std::string unwrap(const std::string &pkg)
{
    std::istringstream in(pkg);
    std::string out = "previous";
    package::UnwrapPackage(in, out);
    return out;
}

std::string unwrapError(const std::string &pkg, std::string *destination = nullptr)
{
    std::istringstream in(pkg);
    std::string out = "previous";
    try {
        package::UnwrapPackage(in, out);
    } catch (const EPackageError &e) {
        if (destination)
            *destination = out;
        return e.what();
    }
    return "no error";
}

std::string someBytes(std::size_t n)
{
    std::string s(n, '\0');
    std::uint32_t x = 12345;
    for (char &c : s) {
        x = x * 1103515245u + 12345u;
        c = char(x >> 24);
    }
    return s;
}

} // namespace

TEST(UnwrapPackageTest, YieldsExactlyTheFirstNBytesWhateverFollows)
{
    const std::string rar = someBytes(700000); // several inflate rounds
    EXPECT_EQ(unwrap(pkgtest::package(rar)), rar);
    // A payload that inflates to more than N: its first N bytes, no error.
    EXPECT_EQ(unwrap(pkgtest::package(rar, 1000)), rar.substr(0, 1000));
    // Bytes 4 to 7 are never looked at.
    EXPECT_EQ(unwrap(pkgtest::package(rar, 5000, 0xFFFFFFFFu)), unwrap(pkgtest::package(rar, 5000, 0)));
    // Nor is anything after the N bytes: a broken trailer and junk behind it.
    std::string pkg = pkgtest::package(rar, 5000);
    pkg.back() ^= 0x55;
    pkg += "trailing junk";
    EXPECT_EQ(unwrap(pkg), rar.substr(0, 5000));
    // Size 0 reads no payload at all, so even a broken one gives nothing.
    EXPECT_EQ(unwrap(std::string(8, '\0') + "not zlib"), "");
}

TEST(UnwrapPackageTest, FailuresCarryTheirMessagesAndLeaveTheDestinationAlone)
{
    const std::string rar = someBytes(50000);
    std::string dest;
    EXPECT_EQ(unwrapError("", &dest), "Stream read error");
    EXPECT_EQ(dest, "previous");
    EXPECT_EQ(unwrapError(std::string(7, '\x01')), "Stream read error");
    // The top bit of the size field set.
    EXPECT_EQ(unwrapError(pkgtest::package(rar, -5)), "Stream write error");
    EXPECT_EQ(unwrapError(pkgtest::package(rar, INT32_MIN)), "Stream write error");
    // Not a zlib stream at all, and a zlib stream whose data is damaged.
    EXPECT_EQ(unwrapError(std::string("\x10\0\0\0\0\0\0\0", 8) + "plain text here", &dest), "Error");
    EXPECT_EQ(dest, "previous");
    std::string damaged = pkgtest::package(rar);
    for (std::size_t i = 40; i < 60; ++i)
        damaged[i] = char(~damaged[i]);
    EXPECT_EQ(unwrapError(damaged), "Error");
    // The stream ends (or the file does) before N bytes exist.
    EXPECT_EQ(unwrapError(pkgtest::package(rar, std::int32_t(rar.size() + 1))), "Stream read error");
    const std::string whole = pkgtest::package(rar);
    EXPECT_EQ(unwrapError(whole.substr(0, whole.size() / 2)), "Stream read error");
    EXPECT_EQ(unwrapError(whole.substr(0, 8)), "Stream read error");
}

TEST(InstallPackageTest, ReplacesTheArchiveOnlyOnSuccessAndLeavesNoTemporaryFile)
{
    testutil::TempDir dir;
    const fs::path tank = dir.path() / "testtank";
    fs::create_directories(tank);
    const fs::path archive = tank / "temp.rar";
    const QString archiveText = QString::fromStdString(archive.string());
    const fs::path pkgFile = dir.path() / "t.qvtp";

    const std::string first = someBytes(300000);
    testutil::writeFile(pkgFile, pkgtest::package(first));
    package::installPackage(QString::fromStdString(pkgFile.string()), archiveText);
    EXPECT_EQ(testutil::readFile(archive), first);

    const auto failWith = [&](const std::string &pkg) -> std::string {
        testutil::writeFile(pkgFile, pkg);
        try {
            package::installPackage(QString::fromStdString(pkgFile.string()), archiveText);
        } catch (const EPackageError &e) {
            return e.what();
        }
        return "no error";
    };
    std::string corrupt = pkgtest::package(someBytes(300000));
    for (std::size_t i = 5000; i < 5100; ++i)
        corrupt[i] = 'x';
    EXPECT_EQ(failWith(corrupt), "Error");
    EXPECT_EQ(failWith("short"), "Stream read error");
    EXPECT_EQ(failWith(pkgtest::package(first, -1)), "Stream write error");
    EXPECT_EQ(testutil::readFile(archive), first) << "a failure must leave the previous archive as it was";
    // Only temp.rar is in the folder: no half-written temporary file.
    int entries = 0;
    for ([[maybe_unused]] const auto &e : fs::directory_iterator(tank))
        ++entries;
    EXPECT_EQ(entries, 1);

    // Size 0 gives an empty archive.
    EXPECT_EQ(failWith(std::string(8, '\0')), "no error");
    EXPECT_EQ(fs::file_size(archive), 0u);
}

TEST(InstallPackageTest, FileErrorsNameThePathAndTheSystemReason)
{
    testutil::TempDir dir;
    const fs::path pkgFile = dir.path() / "t.qvtp";
    const QString missingTank = QString::fromStdString((dir.path() / "gone" / "temp.rar").string());
    try {
        package::installPackage(QString::fromStdString((dir.path() / "nope.qvtp").string()), missingTank);
        ADD_FAILURE();
    } catch (const EPackageError &e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot open file \"" + (dir.path() / "nope.qvtp").string() + "\". No such file or directory");
    }
    testutil::writeFile(pkgFile, pkgtest::package("rar bytes"));
    try {
        package::installPackage(QString::fromStdString(pkgFile.string()), missingTank);
        ADD_FAILURE();
    } catch (const EPackageError &e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot create file \"" + missingTank.toStdString() + "\". No such file or directory");
    }
    // Folders and FIFOs are not packages; a FIFO must not block the open.
    const fs::path fifo = dir.path() / "fifo.qvtp";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const auto &[path, reason] : {std::pair{dir.path(), "Is a directory"}, std::pair{fifo, "Invalid argument"}}) {
        try {
            package::installPackage(QString::fromStdString(path.string()), missingTank);
            ADD_FAILURE();
        } catch (const EPackageError &e) {
            EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + path.string() + "\". " + reason);
        }
    }
    // A broken package reports its own fault before the missing folder.
    testutil::writeFile(pkgFile, std::string(8, '\x05') + "garbage");
    try {
        package::installPackage(QString::fromStdString(pkgFile.string()), missingTank);
        ADD_FAILURE();
    } catch (const EPackageError &e) {
        EXPECT_EQ(std::string(e.what()), "Error");
    }
}
