#include "TestUtil.h"
#include "ZipFixtures.h"
#include "platform/Messages.h"
#include "recordings/VCLZip.h"
#include "recordings/ZipSupport.h"

#include <QString>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <zlib.h>

namespace fs = std::filesystem;
using testutil::readFile;
using testutil::writeFile;
using zipfix::q;

namespace {

QString qs(const fs::path &p)
{
    return QString::fromStdString(p.string());
}

std::uint32_t crcOf(const std::string &s)
{
    return static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef *>(s.data()), static_cast<uInt>(s.size())));
}

// A recordings-like tree: binary and text files, an empty one, a sub-folder.
void makeTree(const fs::path &root)
{
    fs::create_directories(root / "sub" / "deeper");
    writeFile(root / "answer1.wav", zipfix::randomBytes(1, 300000));
    writeFile(root / "notes.txt", zipfix::textBytes(2, 700000)); // several deflate blocks
    writeFile(root / "empty.dat", "");
    writeFile(root / "sub" / "answer2.wav", zipfix::randomBytes(3, 5000));
    writeFile(root / "sub" / "deeper" / "noext", zipfix::textBytes(4, 123456));
    writeFile(root / "sub" / "mixed.bin", zipfix::textBytes(5, 200000) + zipfix::randomBytes(6, 400000));
}

int zipFolder(const fs::path &folder, const fs::path &archive, int level = 6)
{
    TVCLZip zip;
    zip.setZipName(qs(archive));
    zip.FilesList.append(qs(folder / "*.*"));
    zip.Recurse = true;
    zip.PackLevel = level;
    return zip.Zip();
}

} // namespace

TEST(VCLZipTest, ArchivesPassUnzipAnd7zAndExtractToTheSameBytes)
{
    testutil::TempDir tmp;
    makeTree(tmp.path() / "src");
    for (int level : {0, 1, 6, 9}) {
        const fs::path archive = tmp.path() / ("out" + std::to_string(level) + ".zip");
        EXPECT_EQ(zipFolder(tmp.path() / "src", archive, level), 6);
        EXPECT_EQ(testutil::run("unzip -tq " + q(archive) + " >/dev/null"), 0) << level;
        EXPECT_EQ(testutil::run(zipfix::sevenZip() + " t " + q(archive) + " >/dev/null"), 0) << level;

        // Every file is stored under its bare name: the flat expectation.
        const fs::path flat = tmp.path() / ("flat" + std::to_string(level));
        fs::create_directories(flat);
        for (const auto &de : fs::recursive_directory_iterator(tmp.path() / "src"))
            if (de.is_regular_file())
                fs::copy_file(de.path(), flat / de.path().filename());
        const fs::path byUnzip = tmp.path() / ("u" + std::to_string(level));
        const fs::path by7z = tmp.path() / ("s" + std::to_string(level));
        ASSERT_EQ(testutil::run("unzip -q " + q(archive) + " -d " + q(byUnzip)), 0);
        ASSERT_EQ(testutil::run(zipfix::sevenZip() + " x -y -o" + q(by7z) + " " + q(archive) + " >/dev/null"), 0);
        EXPECT_EQ(zipfix::compareTrees(flat, byUnzip), "") << level;
        EXPECT_EQ(zipfix::compareTrees(flat, by7z), "") << level;
    }
}

TEST(VCLZipTest, RecordsCarryTheDescribedFields)
{
    testutil::TempDir tmp;
    const fs::path src = tmp.path() / "src";
    fs::create_directories(src);
    writeFile(src / "text.txt", zipfix::textBytes(1, 5000));
    writeFile(src / "noise.bin", zipfix::randomBytes(2, 5000)); // deflates to more: stored
    writeFile(src / "empty.txt", "");
    writeFile(src / "big.txt", zipfix::textBytes(3, 600000));
    ::chmod((src / "text.txt").c_str(), 0444);
    zipfix::setMtime(src / "text.txt", 1700000001); // odd second: truncated to the DOS grid

    for (const auto &[level, flags] : std::vector<std::pair<int, int>>{{0, 0}, {1, 4}, {2, 4}, {3, 0}, {6, 0}, {7, 0}, {8, 2}, {9, 2}}) {
        const fs::path archive = tmp.path() / ("l" + std::to_string(level) + ".zip");
        ASSERT_EQ(zipFolder(src, archive, level), 4);
        const std::string bytes = readFile(archive);
        const zipfix::RawArchive a = zipfix::parse(bytes);
        ASSERT_EQ(a.entries.size(), 4u);
        EXPECT_EQ(a.comment, "");
        for (const zipfix::RawEntry &e : a.entries) {
            SCOPED_TRACE(e.name + " level " + std::to_string(level));
            const std::string data = readFile(src / e.name);
            EXPECT_EQ(e.madeBy, 20);
            EXPECT_EQ(e.needed, 20);
            EXPECT_EQ(e.lNeeded, 20);
            EXPECT_EQ(e.flag, flags);
            EXPECT_EQ(e.lFlag, flags);
            EXPECT_EQ(e.lMethod, e.method);
            EXPECT_EQ(e.crc, crcOf(data));
            EXPECT_EQ(e.lCrc, e.crc);
            EXPECT_EQ(e.usize, data.size());
            EXPECT_EQ(e.lUsize, e.usize);
            EXPECT_EQ(e.lCsize, e.csize);
            EXPECT_EQ(e.lName, e.name);
            EXPECT_EQ(e.lExtraLen, 0);
            EXPECT_TRUE(e.extra.empty());
            EXPECT_TRUE(e.comment.empty());
            const bool readOnly = e.name == "text.txt";
            EXPECT_EQ(e.external, readOnly ? 0x21u : 0x20u);
            if (level == 0) {
                EXPECT_EQ(e.method, 0);
                EXPECT_EQ(e.internal, 0);
                EXPECT_EQ(e.csize, e.usize);
            } else if (e.name == "noise.bin") {
                EXPECT_EQ(e.method, 0);
                EXPECT_EQ(e.csize, e.usize);
                EXPECT_EQ(e.internal, 0);
            } else if (e.name == "empty.txt") {
                EXPECT_EQ(e.method, 0);
                EXPECT_EQ(e.csize, 0u);
                EXPECT_EQ(e.internal, 1);
            } else {
                EXPECT_EQ(e.method, 8);
                EXPECT_LT(e.csize, e.usize);
                EXPECT_EQ(e.internal, 1);
            }
            if (readOnly) {
                const std::uint32_t dos = zipsupport::toDosDateTime(1700000001);
                EXPECT_EQ(e.time, dos & 0xFFFF);
                EXPECT_EQ(e.date, dos >> 16);
                EXPECT_EQ((e.time & 0x1F) * 2 % 60, static_cast<int>((1700000000 % 60)));
            }
        }
        EXPECT_EQ(testutil::run("unzip -tq " + q(archive) + " >/dev/null"), 0);
    }
}

TEST(VCLZipTest, EmptyFolderGivesTheEndRecordAloneAndCountZero)
{
    testutil::TempDir tmp;
    fs::create_directories(tmp.path() / "empty" / "sub");
    TVCLZip zip;
    int completed = -1;
    zip.OnZipComplete = [&](TVCLZip &, int n) { completed = n; };
    zip.setZipName(qs(tmp.path() / "e.zip"));
    zip.FilesList.append(qs(tmp.path() / "empty" / "*.*"));
    zip.Recurse = true;
    EXPECT_EQ(zip.Zip(), 0);
    EXPECT_EQ(completed, 0);
    EXPECT_TRUE(zip.FilesList.isEmpty());
    const std::string bytes = readFile(tmp.path() / "e.zip");
    EXPECT_EQ(bytes, std::string("PK\x05\x06", 4) + std::string(18, '\0'));
}

TEST(VCLZipTest, DuplicateBareNamesKeepTheFirstFoundAndTheArchiveIsNotPackedIntoItself)
{
    testutil::TempDir tmp;
    const fs::path src = tmp.path() / "src";
    fs::create_directories(src / "a");
    fs::create_directories(src / "b");
    writeFile(src / "a" / "same.wav", "from a");
    writeFile(src / "b" / "SAME.wav", "from b");
    writeFile(src / "other.wav", "other");
    // The archive lives in the packed folder itself.
    const fs::path archive = src / "pack.zip";
    std::string firstFound;
    for (const auto &de : fs::recursive_directory_iterator(src))
        if (de.is_regular_file() && firstFound.empty() && (de.path().filename() == "same.wav" || de.path().filename() == "SAME.wav"))
            firstFound = readFile(de.path());
    EXPECT_EQ(zipFolder(src, archive), 2);
    const zipfix::RawArchive a = zipfix::parse(readFile(archive));
    ASSERT_EQ(a.entries.size(), 2u);
    testutil::TempDir out;
    ASSERT_EQ(testutil::run("unzip -q " + q(archive) + " -d " + q(out.path())), 0);
    EXPECT_FALSE(fs::exists(out.path() / "pack.zip"));
    EXPECT_EQ(readFile(out.path() / "other.wav"), "other");
    const fs::path dup = fs::exists(out.path() / "same.wav") ? out.path() / "same.wav" : out.path() / "SAME.wav";
    EXPECT_EQ(readFile(dup), firstFound);

    // Packing again updates in place and still leaves the archive out.
    EXPECT_EQ(zipFolder(src, archive), 0);
    EXPECT_EQ(zipfix::parse(readFile(archive)).entries.size(), 2u);
}

TEST(VCLZipTest, UpdateReplacesNewerFilesInPlaceKeepsTheRestAndTheComments)
{
    testutil::TempDir tmp;
    const fs::path src = tmp.path() / "src";
    fs::create_directories(src);
    const fs::path archive = tmp.path() / "u.zip";
    // An archive from another tool, with an entry comment, an extra field
    // and an archive comment, all of which must survive the update.
    writeFile(src / "keep.txt", "keep me");
    writeFile(src / "same.txt", "old same");
    writeFile(src / "newer.txt", "old newer");
    const std::string py =
        "import zipfile,sys\n"
        "z=zipfile.ZipFile(sys.argv[1],'w',zipfile.ZIP_DEFLATED)\n"
        "for n,d in [('same.txt',b'old same'),('newer.txt',b'old newer'),('keep.txt',b'keep me')]:\n"
        "  i=zipfile.ZipInfo(n,(2020,1,2,3,4,6)); i.compress_type=zipfile.ZIP_DEFLATED\n"
        "  i.comment=b'comment of '+n.encode(); i.extra=b'\\xfe\\xca\\x02\\x00hi'\n"
        "  z.writestr(i,d)\n"
        "z.comment=b'archive comment'\n"
        "z.close()\n";
    writeFile(tmp.path() / "mk.py", py);
    ASSERT_EQ(testutil::run("python3 " + q(tmp.path() / "mk.py") + " " + q(archive)), 0);
    const std::uint32_t stamp = zipfix::parse(readFile(archive)).entries[0].date << 16 | zipfix::parse(readFile(archive)).entries[0].time;
    const std::time_t entryTime = zipsupport::fromDosDateTime(stamp);

    fs::remove(src / "keep.txt");
    writeFile(src / "same.txt", "NEW SAME, not newer");
    zipfix::setMtime(src / "same.txt", entryTime + 1); // same two-second slot
    writeFile(src / "newer.txt", "NEW NEWER");
    zipfix::setMtime(src / "newer.txt", entryTime + 2);
    writeFile(src / "added.txt", "added");

    EXPECT_EQ(zipFolder(src, archive), 2);
    const zipfix::RawArchive a = zipfix::parse(readFile(archive));
    ASSERT_EQ(a.entries.size(), 4u);
    EXPECT_EQ(a.entries[0].name, "same.txt");
    EXPECT_EQ(a.entries[1].name, "newer.txt");
    EXPECT_EQ(a.entries[2].name, "keep.txt");
    EXPECT_EQ(a.entries[3].name, "added.txt");
    EXPECT_EQ(a.comment, "archive comment");
    EXPECT_EQ(a.entries[0].comment, "comment of same.txt");
    EXPECT_EQ(a.entries[0].extra, std::string("\xfe\xca\x02\x00hi", 6));
    EXPECT_EQ(a.entries[2].comment, "comment of keep.txt");
    EXPECT_TRUE(a.entries[1].comment.empty());

    testutil::TempDir out;
    ASSERT_EQ(testutil::run("unzip -q " + q(archive) + " -d " + q(out.path())), 0);
    EXPECT_EQ(readFile(out.path() / "same.txt"), "old same");
    EXPECT_EQ(readFile(out.path() / "newer.txt"), "NEW NEWER");
    EXPECT_EQ(readFile(out.path() / "keep.txt"), "keep me");
    EXPECT_EQ(readFile(out.path() / "added.txt"), "added");
    EXPECT_EQ(testutil::run(zipfix::sevenZip() + " t " + q(archive) + " >/dev/null"), 0);
}

TEST(VCLZipTest, FailedUpdateLeavesTheOldFileAndNoTemporaryBehind)
{
    testutil::TempDir tmp;
    const fs::path src = tmp.path() / "src";
    const fs::path temp = tmp.path() / "temp";
    fs::create_directories(src);
    fs::create_directories(temp);
    writeFile(src / "a.wav", "data");
    const fs::path target = tmp.path() / "notzip.zip";
    writeFile(target, "this is not an archive at all");

    TVCLZip zip;
    zip.TempPath = qs(temp);
    zip.setZipName(qs(target));
    zip.FilesList.append(qs(src / "*.*"));
    bool completed = false;
    zip.OnZipComplete = [&](TVCLZip &, int) { completed = true; };
    EXPECT_THROW(zip.Zip(), EIncompleteZip);
    EXPECT_FALSE(completed);
    EXPECT_TRUE(zip.FilesList.isEmpty());
    EXPECT_EQ(readFile(target), "this is not an archive at all");
    EXPECT_TRUE(fs::is_empty(temp));

    // A folder or a device is never taken for an archive to update.
    for (const fs::path &odd : {tmp.path() / "src", fs::path("/dev/null")}) {
        zip.setZipName(qs(odd));
        zip.FilesList.append(qs(src / "*.*"));
        EXPECT_THROW(zip.Zip(), EFCreateError) << odd;
        TVCLUnZip reader;
        reader.setZipName(qs(odd));
        EXPECT_THROW(reader.ReadZip(), EFOpenError) << odd;
    }
    EXPECT_TRUE(fs::is_directory(tmp.path() / "src"));
    EXPECT_TRUE(fs::is_character_file("/dev/null"));

    // A target that cannot be created reports and leaves nothing.
    zip.setZipName(qs(tmp.path() / "missing" / "x.zip"));
    zip.FilesList.append(qs(src / "*.*"));
    try {
        zip.Zip();
        FAIL() << "no error";
    } catch (const EFCreateError &e) {
        EXPECT_TRUE(std::string(e.what()).starts_with("Cannot create file \""));
    }
}

TEST(VCLZipTest, GatheringHonoursRootDirExcludeListPlainNamesAndStorePaths)
{
    testutil::TempDir tmp;
    const fs::path src = tmp.path() / "src";
    fs::create_directories(src / "sub");
    writeFile(src / "a.wav", "a");
    writeFile(src / "b.txt", "b");
    writeFile(src / "noext", "n");
    writeFile(src / "sub" / "c.wav", "c");
    writeFile(src / ".hidden.wav", "h");

    TVCLZip zip;
    zip.setZipName(qs(tmp.path() / "g.zip"));
    zip.RootDir = qs(src);
    zip.FilesList = {QStringLiteral("*.WAV"), QStringLiteral("noext"), QStringLiteral("missing.wav"),
                     QStringLiteral("ignored\\")};
    zip.ExcludeList = {QStringLiteral("c.*")};
    zip.Recurse = true;
    zip.StorePaths = true;
    EXPECT_EQ(zip.Zip(), 3);
    std::set<std::string> names;
    for (const auto &e : zipfix::parse(readFile(tmp.path() / "g.zip")).entries)
        names.insert(e.name);
    const std::string prefix = src.relative_path().string() + "/";
    EXPECT_EQ(names, (std::set<std::string>{prefix + "a.wav", prefix + ".hidden.wav", prefix + "noext"}));

    // "*." picks the names without an extension only.
    TVCLZip zip2;
    zip2.setZipName(qs(tmp.path() / "h.zip"));
    zip2.FilesList.append(qs(src / "*."));
    EXPECT_EQ(zip2.Zip(), 1);
    EXPECT_EQ(zipfix::parse(readFile(tmp.path() / "h.zip")).entries.at(0).name, "noext");
}

TEST(VCLZipTest, ChineseNamesAreStoredInCp936WithoutTheUtf8Flag)
{
    testutil::TempDir tmp;
    const fs::path src = tmp.path() / "src";
    fs::create_directories(src);
    writeFile(src / "第一题.wav", "answer");
    ASSERT_EQ(zipFolder(src, tmp.path() / "c.zip"), 1);
    const zipfix::RawArchive a = zipfix::parse(readFile(tmp.path() / "c.zip"));
    EXPECT_EQ(a.entries.at(0).name, "\xb5\xda\xd2\xbb\xcc\xe2.wav");
    EXPECT_EQ(a.entries.at(0).flag & 0x0800, 0);
    // Read back by another tool as CP936.
    std::string out;
    writeFile(tmp.path() / "r.py", "import zipfile,sys\n"
                                   "z=zipfile.ZipFile(sys.argv[1])\n"
                                   "i=z.infolist()[0]\n"
                                   "print(i.filename.encode('cp437').decode('gbk'), z.read(i).decode())\n");
    ASSERT_EQ(testutil::run("python3 " + q(tmp.path() / "r.py") + " " + q(tmp.path() / "c.zip"), &out), 0);
    EXPECT_EQ(out, "第一题.wav answer\n");
}

TEST(VCLZipTest, ASecondOperationOnABusyComponentIsRefused)
{
    testutil::TempDir tmp;
    fs::create_directories(tmp.path() / "src");
    writeFile(tmp.path() / "src" / "a.wav", "a");
    TVCLZip zip;
    zip.setZipName(qs(tmp.path() / "b.zip"));
    zip.FilesList.append(qs(tmp.path() / "src" / "*.*"));
    bool refused = false;
    // Control returns to the event loop while the component works.
    QObject context;
    bool ranWhileBusy = false;
    platform::postMessage(&context, [&] { ranWhileBusy = zip.Busy(); });
    zip.OnZipComplete = [&](TVCLZip &self, int) {
        self.FilesList.append(qs(tmp.path() / "src" / "*.*"));
        try {
            self.Zip();
        } catch (const EZipBusy &) {
            refused = true;
        }
        EXPECT_THROW(self.UnZip(), EZipBusy);
    };
    EXPECT_EQ(zip.Zip(), 1);
    EXPECT_TRUE(refused);
    EXPECT_TRUE(ranWhileBusy);
    EXPECT_FALSE(zip.Busy());
}

TEST(VCLZipTest, WildcardsFollowTheFileSearchRules)
{
    using zipsupport::wildcardMatch;
    EXPECT_TRUE(wildcardMatch("*.*", "noext"));
    EXPECT_TRUE(wildcardMatch("*.*", "a.b.c"));
    EXPECT_TRUE(wildcardMatch("*.wav", "ANSWER.WAV"));
    EXPECT_FALSE(wildcardMatch("*.wav", "answer.wav.bak"));
    EXPECT_TRUE(wildcardMatch("*.", "noext"));
    EXPECT_FALSE(wildcardMatch("*.", "a.txt"));
    EXPECT_TRUE(wildcardMatch("a?c", "abc"));
    EXPECT_FALSE(wildcardMatch("a?c", "ac"));
    EXPECT_TRUE(wildcardMatch("*a*b*c*", "xxaxxbxxcxx"));
    EXPECT_FALSE(wildcardMatch("*a*b*c*d", QString(2000, u'a') + "bc"));
    EXPECT_TRUE(wildcardMatch("录音*.wav", "录音1.wav"));
}

TEST(VCLZipTest, UpdateWithTheTemporaryFileOnAnotherFileSystemCopiesItIntoPlace)
{
    testutil::TempDir tmp;
    char shmTemplate[] = "/dev/shm/quenvar-zip-XXXXXX";
    if (!fs::is_directory("/dev/shm") || !::mkdtemp(shmTemplate))
        GTEST_SKIP() << "no /dev/shm";
    const fs::path shm = shmTemplate;
    struct stat a {}, b {};
    ::stat(shm.c_str(), &a);
    ::stat(tmp.path().c_str(), &b);
    if (a.st_dev == b.st_dev) {
        fs::remove_all(shm);
        GTEST_SKIP() << "/dev/shm is on the same file system";
    }
    const fs::path src = tmp.path() / "src";
    fs::create_directories(src);
    writeFile(src / "1.wav", "first");
    const fs::path archive = tmp.path() / "x.zip";
    ASSERT_EQ(zipFolder(src, archive), 1);
    writeFile(src / "2.wav", "second");
    TVCLZip zip;
    zip.TempPath = qs(shm);
    zip.setZipName(qs(archive));
    zip.FilesList.append(qs(src / "*.*"));
    EXPECT_EQ(zip.Zip(), 1);
    EXPECT_TRUE(fs::is_empty(shm));
    for (const auto &de : fs::directory_iterator(tmp.path()))
        EXPECT_TRUE(de.path() == src || de.path() == archive) << de.path();
    testutil::TempDir out;
    ASSERT_EQ(testutil::run("unzip -q " + q(archive) + " -d " + q(out.path())), 0);
    EXPECT_EQ(readFile(out.path() / "1.wav"), "first");
    EXPECT_EQ(readFile(out.path() / "2.wav"), "second");
    fs::remove_all(shm);
}

TEST(VCLZipTest, CancellingStopsWithUserAbortedAndLeavesNoPartialOutput)
{
    testutil::TempDir tmp;
    const fs::path src = tmp.path() / "src";
    fs::create_directories(src);
    writeFile(src / "big.txt", zipfix::textBytes(7, 3'000'000));
    writeFile(src / "small.txt", "small");
    const fs::path archive = tmp.path() / "c.zip";
    QObject context;

    TVCLZip zip;
    zip.setZipName(qs(archive));
    zip.FilesList.append(qs(src / "*.*"));
    // Cancel once the archive is being written.
    std::function<void()> cancelWhenWriting = [&] {
        if (fs::exists(archive))
            zip.CancelOperation();
        else
            platform::postMessage(&context, cancelWhenWriting);
    };
    platform::postMessage(&context, cancelWhenWriting);
    try {
        zip.Zip();
        FAIL() << "not cancelled";
    } catch (const EUserCanceled &e) {
        EXPECT_STREQ(e.what(), "User Aborted Operation");
    }
    EXPECT_FALSE(fs::exists(archive));
    EXPECT_FALSE(zip.Busy());

    zip.FilesList.append(qs(src / "*.*"));
    ASSERT_EQ(zip.Zip(), 2);
    TVCLUnZip unzip;
    unzip.setZipName(qs(archive));
    unzip.setDestDir(qs(tmp.path() / "out"));
    unzip.DoAll = true;
    platform::postMessage(&context, [&] { unzip.CancelOperation(); });
    EXPECT_THROW(unzip.UnZip(), EUserCanceled);
    EXPECT_TRUE(fs::is_empty(tmp.path() / "out"));
    // The next operation runs normally.
    EXPECT_EQ(unzip.UnZip(), 2);
}
