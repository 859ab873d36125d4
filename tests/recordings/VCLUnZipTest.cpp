#include "TestUtil.h"
#include "ZipFixtures.h"
#include "recordings/VCLUnZip.h"
#include "recordings/VCLZip.h"
#include "recordings/ZipSupport.h"

#include <QString>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <random>

namespace fs = std::filesystem;
using testutil::readFile;
using testutil::writeFile;
using zipfix::q;

namespace {

QString qs(const fs::path &p)
{
    return QString::fromStdString(p.string());
}

int unzipAll(const fs::path &archive, const fs::path &dest, bool recreateDirs = true,
             TUZOverwriteMode mode = Always)
{
    TVCLUnZip unzip;
    unzip.setZipName(qs(archive));
    unzip.setDestDir(qs(dest) + "/");
    unzip.DoAll = true;
    unzip.RecreateDirs = recreateDirs;
    unzip.OverwriteMode = mode;
    return unzip.UnZip();
}

// Writes an archive with Python's zipfile from (name, data, method) rows.
void pythonZip(const fs::path &archive, const std::string &rows)
{
    testutil::TempDir tmp;
    writeFile(tmp.path() / "mk.py", "import zipfile,sys\n"
                                    "z=zipfile.ZipFile(sys.argv[1],'w')\n"
                                    "for n,d,m in " + rows + ":\n"
                                    "  z.writestr(zipfile.ZipInfo(n,(2021,5,6,7,8,10)) if m<0 else n,d,abs(m))\n"
                                    "z.close()\n");
    ASSERT_EQ(testutil::run("python3 " + q(tmp.path() / "mk.py") + " " + q(archive)), 0);
}

void makeTree(const fs::path &root)
{
    fs::create_directories(root / "sub" / "deeper");
    fs::create_directories(root / "emptydir");
    writeFile(root / "a.wav", zipfix::randomBytes(11, 200000));
    writeFile(root / "b.txt", zipfix::textBytes(12, 900000));
    writeFile(root / "zero", "");
    writeFile(root / "sub" / "c.wav", zipfix::randomBytes(13, 70000));
    writeFile(root / "sub" / "deeper" / "d.txt", zipfix::textBytes(14, 4000));
}

} // namespace

TEST(VCLUnZipTest, ExtractsArchivesOfZipAndPythonByteForByte)
{
    testutil::TempDir tmp;
    const fs::path src = tmp.path() / "src";
    makeTree(src);
    for (const char *level : {"-0", "-1", "-6", "-9"}) {
        const fs::path archive = tmp.path() / (std::string("z") + level + ".zip");
        ASSERT_EQ(testutil::run("cd " + q(src) + " && zip -q -r " + level + " " + q(archive) + " ."), 0);
        const fs::path out = tmp.path() / (std::string("out") + level);
        // Files plus the folder entries zip adds.
        EXPECT_GE(unzipAll(archive, out), 5) << level;
        EXPECT_EQ(zipfix::compareTrees(src, out), "") << level;
        EXPECT_TRUE(fs::is_directory(out / "emptydir")) << level;
    }

    const fs::path py = tmp.path() / "py.zip";
    pythonZip(py, "[('p/stored.bin',bytes(range(256))*100,0),"
                  "('p/deflated.txt',b'hello '*5000,8),('名字.txt','中文'.encode(),8),('top.txt',b'',8)]");
    const fs::path pout = tmp.path() / "pyout";
    EXPECT_EQ(unzipAll(py, pout), 4);
    std::string expected;
    for (int i = 0; i < 100; ++i)
        for (int b = 0; b < 256; ++b)
            expected += static_cast<char>(b);
    EXPECT_EQ(readFile(pout / "p" / "stored.bin"), expected);
    std::string hello;
    for (int i = 0; i < 5000; ++i)
        hello += "hello ";
    EXPECT_EQ(readFile(pout / "p" / "deflated.txt"), hello);
    // Python flags non-ASCII names as UTF-8.
    EXPECT_EQ(readFile(pout / "名字.txt"), "中文");
    EXPECT_EQ(readFile(pout / "top.txt"), "");

    // Without RecreateDirs everything lands in the destination itself.
    const fs::path flat = tmp.path() / "flat";
    EXPECT_EQ(unzipAll(py, flat, false), 4);
    EXPECT_TRUE(fs::exists(flat / "stored.bin"));
    EXPECT_FALSE(fs::exists(flat / "p"));
}

TEST(VCLUnZipTest, OurArchivesRoundTripWithTimesAndAttributes)
{
    testutil::TempDir tmp;
    const fs::path src = tmp.path() / "src";
    makeTree(src);
    zipfix::setMtime(src / "a.wav", 1600000000);
    ::chmod((src / "a.wav").c_str(), 0444);
    TVCLZip zip;
    zip.setZipName(qs(tmp.path() / "o.zip"));
    zip.FilesList.append(qs(src / "*.*"));
    zip.Recurse = true;
    zip.StorePaths = false;
    ASSERT_EQ(zip.Zip(), 5);
    // The directory just written is kept and extracted from directly.
    ASSERT_EQ(zip.Count(), 5);
    zip.setDestDir(qs(tmp.path() / "out"));
    zip.DoAll = true;
    EXPECT_EQ(zip.UnZip(), 5);
    EXPECT_EQ(readFile(tmp.path() / "out" / "c.wav"), readFile(src / "sub" / "c.wav"));
    EXPECT_EQ(readFile(tmp.path() / "out" / "b.txt"), readFile(src / "b.txt"));
    EXPECT_EQ(zipfix::mtime(tmp.path() / "out" / "a.wav"), 1600000000);
    struct stat st {};
    ::stat((tmp.path() / "out" / "a.wav").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0222, 0u);
}

TEST(VCLUnZipTest, OverwriteModesDecideOverExistingFiles)
{
    testutil::TempDir tmp;
    const fs::path archive = tmp.path() / "w.zip";
    pythonZip(archive, "[('f.txt',b'from archive',-8)]"); // dated 2021-05-06 07:08:10
    const fs::path dest = tmp.path() / "dest";
    fs::create_directories(dest);
    const fs::path f = dest / "f.txt";
    const std::time_t entryTime = zipsupport::fromDosDateTime(
        zipfix::parse(readFile(archive)).entries[0].date << 16 | zipfix::parse(readFile(archive)).entries[0].time);

    struct Case {
        TUZOverwriteMode mode;
        std::time_t existingTime;
        bool replaced;
    };
    for (const Case &c : {Case{Never, entryTime - 100, false}, Case{Prompt, entryTime - 100, false},
                          Case{ifNewer, entryTime - 100, true}, Case{ifNewer, entryTime + 100, false},
                          Case{ifOlder, entryTime + 100, true}, Case{ifOlder, entryTime - 100, false},
                          Case{Always, entryTime + 100, true}}) {
        writeFile(f, "existing");
        ::chmod(f.c_str(), 0644);
        zipfix::setMtime(f, c.existingTime);
        EXPECT_EQ(unzipAll(archive, dest, true, c.mode), c.replaced ? 1 : 0) << c.mode;
        EXPECT_EQ(readFile(f), c.replaced ? "from archive" : "existing") << c.mode;
        EXPECT_EQ(zipfix::mtime(f), c.replaced ? entryTime : c.existingTime) << c.mode;
    }

    // A prompt handler decides per file.
    writeFile(f, "existing");
    TVCLUnZip unzip;
    unzip.setZipName(qs(archive));
    unzip.setDestDir(qs(dest));
    unzip.DoAll = true;
    QString asked;
    unzip.OnPromptForOverwrite = [&](TVCLUnZip &, bool &overwrite, const QString &file) {
        asked = file;
        overwrite = true;
    };
    EXPECT_EQ(unzip.UnZip(), 1);
    EXPECT_EQ(asked, qs(f));
    EXPECT_EQ(readFile(f), "from archive");

    // A read-only target is skipped silently, or replaced with ReplaceReadOnly.
    if (::geteuid() != 0) {
        writeFile(f, "read-only");
        ::chmod(f.c_str(), 0444);
        EXPECT_EQ(unzipAll(archive, dest), 0);
        EXPECT_EQ(readFile(f), "read-only");
        unzip.ReplaceReadOnly = true;
        unzip.OverwriteMode = Always;
        unzip.DoAll = true;
        EXPECT_EQ(unzip.UnZip(), 1);
        EXPECT_EQ(readFile(f), "from archive");
    }
}

TEST(VCLUnZipTest, CorruptEntriesLeaveNoFileAndUnZipReturnsNormally)
{
    testutil::TempDir tmp;
    const fs::path src = tmp.path() / "src";
    fs::create_directories(src);
    writeFile(src / "good.txt", zipfix::textBytes(1, 20000));
    writeFile(src / "stored.bin", zipfix::randomBytes(2, 3000));
    writeFile(src / "deflated.txt", zipfix::textBytes(3, 50000));
    const fs::path archive = tmp.path() / "c.zip";
    TVCLZip zip;
    zip.setZipName(qs(archive));
    zip.FilesList.append(qs(src / "*.*"));
    ASSERT_EQ(zip.Zip(), 3);
    std::string bytes = readFile(archive);
    const zipfix::RawArchive a = zipfix::parse(bytes);
    for (const zipfix::RawEntry &e : a.entries) {
        if (e.name == "good.txt")
            continue;
        // Flip a byte in the middle of the entry's data.
        const std::size_t data = e.offset + 30 + e.lName.size();
        bytes[data + e.csize / 2] ^= 0x5A;
    }
    writeFile(archive, bytes);
    const fs::path dest = tmp.path() / "dest";
    EXPECT_EQ(unzipAll(archive, dest), 1);
    EXPECT_EQ(readFile(dest / "good.txt"), readFile(src / "good.txt"));
    EXPECT_FALSE(fs::exists(dest / "stored.bin"));
    EXPECT_FALSE(fs::exists(dest / "deflated.txt"));
}

TEST(VCLUnZipTest, EntriesExpandingBeyondTheirSizeOrUnknownMethodsAreNotKept)
{
    testutil::TempDir tmp;
    const fs::path archive = tmp.path() / "s.zip";
    pythonZip(archive, "[('big.txt',b'x'*100000,8),('odd.txt',b'abc',0)]");
    std::string bytes = readFile(archive);
    zipfix::RawArchive a = zipfix::parse(bytes);
    // Record a smaller uncompressed size for big.txt and method 99 for odd.txt.
    const std::size_t bigCentral = a.cdOffset;
    bytes[bigCentral + 24] = 10;
    bytes[bigCentral + 25] = bytes[bigCentral + 26] = bytes[bigCentral + 27] = 0;
    const std::size_t oddCentral = a.cdOffset + 46 + a.entries[0].name.size() + a.entries[0].extra.size() +
                                   a.entries[0].comment.size();
    bytes[oddCentral + 10] = 99;
    writeFile(archive, bytes);
    testutil::clearShown();
    const fs::path dest = tmp.path() / "dest";
    EXPECT_EQ(unzipAll(archive, dest), 0);
    EXPECT_FALSE(fs::exists(dest / "big.txt"));
    EXPECT_FALSE(fs::exists(dest / "odd.txt"));
    ASSERT_EQ(testutil::shownMessages().size(), 1u);
    EXPECT_EQ(testutil::shownMessages()[0].text, "Unknown Compression Method");
    EXPECT_EQ(testutil::shownMessages()[0].caption, "Zip Error");
}

TEST(VCLUnZipTest, FilesThatAreNoArchivesOrCutShortRaiseTheirErrors)
{
    testutil::TempDir tmp;
    const auto readZip = [&](const fs::path &p, TIncompleteZipMode mode = izAssumeMulti) {
        TVCLUnZip u;
        u.setZipName(qs(p));
        u.IncompleteZipMode = mode;
        u.ReadZip();
        return u.Count();
    };
    const auto message = [&](const fs::path &p, TIncompleteZipMode mode) -> std::string {
        try {
            readZip(p, mode);
        } catch (const EZipError &e) {
            return e.what();
        }
        return "no error";
    };

    // A 0-byte file is an archive with no entries.
    writeFile(tmp.path() / "zero.zip", "");
    EXPECT_EQ(readZip(tmp.path() / "zero.zip"), 0);
    EXPECT_EQ(unzipAll(tmp.path() / "zero.zip", tmp.path() / "zout"), 0);

    writeFile(tmp.path() / "text.zip", zipfix::textBytes(1, 100000));
    EXPECT_EQ(message(tmp.path() / "text.zip", izAssumeMulti), "Incomplete Zip File");
    EXPECT_EQ(message(tmp.path() / "text.zip", izAssumeNotAZip), "Not a valid zip file!");
    EXPECT_EQ(message(tmp.path() / "text.zip", izAssumeBad), "Not a valid zip file!");
    EXPECT_THROW(readZip(tmp.path() / "text.zip"), EIncompleteZip);
    EXPECT_THROW(readZip(tmp.path() / "text.zip", izAssumeNotAZip), ENotAZipFile);
    EXPECT_THROW(readZip(tmp.path() / "text.zip", izAssumeBad), EBadZipFile);
    try {
        readZip(tmp.path() / "absent.zip");
        FAIL();
    } catch (const EFOpenError &e) {
        EXPECT_TRUE(std::string(e.what()).starts_with("Cannot open file \"" + (tmp.path() / "absent.zip").string() + "\". "));
    }

    // An archive cut inside its data loses the end record; with izAssumeBad
    // the whole entries before the cut are still found and extracted.
    const fs::path src = tmp.path() / "src";
    fs::create_directories(src);
    writeFile(src / "1.txt", zipfix::textBytes(2, 3000));
    writeFile(src / "2.bin", zipfix::randomBytes(3, 300000));
    const fs::path whole = tmp.path() / "whole.zip";
    TVCLZip zip;
    zip.setZipName(qs(whole));
    zip.FilesList = {qs(src / "1.txt"), qs(src / "2.bin")};
    ASSERT_EQ(zip.Zip(), 2);
    const std::string bytes = readFile(whole);
    writeFile(tmp.path() / "cut.zip", bytes.substr(0, bytes.size() / 2));
    EXPECT_EQ(message(tmp.path() / "cut.zip", izAssumeMulti), "Incomplete Zip File");
    EXPECT_EQ(readZip(tmp.path() / "cut.zip", izAssumeBad), 1);
    {
        TVCLUnZip u;
        u.setZipName(qs(tmp.path() / "cut.zip"));
        u.IncompleteZipMode = izAssumeBad;
        u.setDestDir(qs(tmp.path() / "cutout"));
        u.DoAll = true;
        EXPECT_EQ(u.UnZip(), 1);
        EXPECT_EQ(readFile(tmp.path() / "cutout" / "1.txt"), readFile(src / "1.txt"));
    }

    // A directory pointing past the end, or garbage where it should be.
    std::string broken = bytes;
    const std::size_t end = broken.size() - 22;
    broken[end + 16] = static_cast<char>(0xFF);
    broken[end + 17] = static_cast<char>(0xFF);
    broken[end + 18] = static_cast<char>(0x0F);
    writeFile(tmp.path() / "past.zip", broken);
    EXPECT_EQ(message(tmp.path() / "past.zip", izAssumeMulti), "Not a valid zip file!");
    broken = bytes;
    const zipfix::RawArchive a = zipfix::parse(bytes);
    broken[a.cdOffset] = 'X';
    writeFile(tmp.path() / "garbage.zip", broken);
    EXPECT_THROW(readZip(tmp.path() / "garbage.zip"), EBadZipFile);
    // A negative directory offset means no end record was found.
    broken = bytes;
    broken[end + 19] = static_cast<char>(0x80);
    writeFile(tmp.path() / "neg.zip", broken);
    EXPECT_THROW(readZip(tmp.path() / "neg.zip"), EIncompleteZip);

    // An entry whose data runs past the end of the file.
    broken = bytes;
    const std::size_t second = a.cdOffset + 46 + a.entries[0].name.size();
    broken[second + 20] = broken[second + 21] = broken[second + 22] = static_cast<char>(0xFF);
    broken[second + 23] = 0x0F;
    writeFile(tmp.path() / "long.zip", broken);
    TVCLUnZip u;
    u.setZipName(qs(tmp.path() / "long.zip"));
    u.setDestDir(qs(tmp.path() / "longout"));
    u.DoAll = true;
    try {
        u.UnZip();
        FAIL() << "no error";
    } catch (const EFatalUnzipError &e) {
        EXPECT_STREQ(e.what(), "Premature end of file reached");
    }
    EXPECT_TRUE(fs::exists(tmp.path() / "longout" / "1.txt"));
    EXPECT_FALSE(fs::exists(tmp.path() / "longout" / "2.bin"));
}

TEST(VCLUnZipTest, EntryClimbingOutOfDestDirIsNotWritten)
{
    testutil::TempDir tmp;
    const fs::path archive = tmp.path() / "climb.zip";
    const fs::path dest = tmp.path() / "a" / "dest";
    fs::create_directories(dest);
    fs::create_directories(tmp.path() / "outside");
    fs::create_directory_symlink(tmp.path() / "outside", dest / "link");
    pythonZip(archive, "[('../evil1.txt',b'1',8),('ok/../../evil2.txt',b'2',8),('..\\\\evil3.txt',b'3',0),"
                       "('/abs/inside.txt',b'4',8),('C:\\\\drive\\\\inside2.txt',b'5',8),('link/evil4.txt',b'6',8),"
                       "('good/fine.txt',b'7',8),('..',b'8',8)]");
    EXPECT_EQ(unzipAll(archive, dest), 3);
    EXPECT_EQ(readFile(dest / "good" / "fine.txt"), "7");
    EXPECT_EQ(readFile(dest / "abs" / "inside.txt"), "4");
    EXPECT_EQ(readFile(dest / "drive" / "inside2.txt"), "5");
    for (const auto &de : fs::recursive_directory_iterator(tmp.path()))
        EXPECT_TRUE(de.path().filename().string().find("evil") == std::string::npos) << de.path();
    EXPECT_TRUE(fs::is_empty(tmp.path() / "outside"));

    // Without RecreateDirs the folders are dropped and the names stay inside.
    const fs::path flat = tmp.path() / "flat";
    EXPECT_GE(unzipAll(archive, flat, false), 7);
    EXPECT_TRUE(fs::exists(flat / "evil1.txt"));
    EXPECT_FALSE(fs::exists(tmp.path() / "evil1.txt"));
}

TEST(VCLUnZipTest, FilesListSelectsEntriesWhenDoAllIsOff)
{
    testutil::TempDir tmp;
    const fs::path archive = tmp.path() / "sel.zip";
    pythonZip(archive, "[('a.wav',b'a',8),('b.txt',b'b',8),('sub/c.wav',b'c',8)]");
    TVCLUnZip u;
    u.setZipName(qs(archive));
    u.setDestDir(qs(tmp.path() / "out"));
    u.RecreateDirs = true;
    u.OverwriteMode = Always;
    u.FilesList = {QStringLiteral("*.wav")};
    int completed = -1;
    u.OnUnZipComplete = [&](TVCLUnZip &, int n) { completed = n; };
    EXPECT_EQ(u.UnZip(), 2);
    EXPECT_EQ(completed, 2);
    EXPECT_TRUE(u.FilesList.isEmpty());
    EXPECT_TRUE(fs::exists(tmp.path() / "out" / "sub" / "c.wav"));
    EXPECT_FALSE(fs::exists(tmp.path() / "out" / "b.txt"));
    u.FilesList = {QStringLiteral("sub\\*")};
    EXPECT_EQ(u.UnZip(), 1);
}

TEST(VCLUnZipTest, DestDirLosesItsTrailingSeparator)
{
    TVCLUnZip u;
    u.setDestDir(QStringLiteral("C:\\recording\\"));
    EXPECT_EQ(u.DestDir(), QStringLiteral("C:\\recording"));
    EXPECT_EQ(u.OverwriteMode, Prompt);
    EXPECT_TRUE(u.RetainAttributes);
    EXPECT_EQ(u.IncompleteZipMode, izAssumeMulti);
}

TEST(VCLUnZipTest, DamagedArchivesGiveErrorsOrSkippedEntriesNeverStrayFiles)
{
    testutil::TempDir tmp;
    const fs::path src = tmp.path() / "src";
    fs::create_directories(src / "sub");
    writeFile(src / "a.txt", zipfix::textBytes(1, 3000));
    writeFile(src / "b.bin", zipfix::randomBytes(2, 700));
    writeFile(src / "sub" / "c.txt", zipfix::textBytes(3, 900));
    const fs::path archive = tmp.path() / "good.zip";
    ASSERT_EQ(testutil::run("cd " + q(src) + " && zip -q -r " + q(archive) + " ."), 0);
    const std::string good = readFile(archive);

    std::mt19937 rng(1234);
    const fs::path dest = tmp.path() / "box" / "dest";
    for (int round = 0; round < 300; ++round) {
        std::string bad = good;
        const int flips = 1 + static_cast<int>(rng() % 8);
        for (int i = 0; i < flips; ++i)
            bad[rng() % bad.size()] = static_cast<char>(rng() & 0xFF);
        if (round % 5 == 0)
            bad.resize(rng() % bad.size());
        const fs::path damaged = tmp.path() / "box" / "damaged.zip";
        fs::create_directories(dest);
        writeFile(damaged, bad);
        TVCLUnZip u;
        u.setZipName(qs(damaged));
        u.setDestDir(qs(dest));
        u.DoAll = true;
        u.RecreateDirs = true;
        u.OverwriteMode = Always;
        u.IncompleteZipMode = round % 2 ? izAssumeBad : izAssumeMulti;
        try {
            u.UnZip();
        } catch (const EZipError &) {
        }
        for (const auto &de : fs::directory_iterator(tmp.path() / "box"))
            EXPECT_TRUE(de.path() == dest || de.path() == damaged) << de.path();
        fs::remove_all(tmp.path() / "box");
    }
    testutil::clearShown();
}
