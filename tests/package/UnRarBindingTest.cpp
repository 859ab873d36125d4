// The UnRAR binding through the extraction component, on the real archives
// of the shared test data and on archives written for one fault each.

#include "PackageTestUtil.h"
#include "TestUtil.h"
#include "package/ArchivePath.h"
#include "package/DFUnRar.h"
#include "package/Rar4Writer.h"

#include <zlib.h>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

struct Outcome {
    std::vector<std::string> events; // "before", "open", "progress N", "password", "after"
    std::vector<std::pair<std::string, int>> errors;
};

Outcome extract(const fs::path &archive, const fs::path &dest, const std::function<void(TDFUnRar &)> &setup = {})
{
    Outcome o;
    TDFUnRar rar;
    rar.FileName = QString::fromStdString(archive.string());
    rar.Directory = QString::fromStdString(dest.string());
    rar.setMode(DFRAR_EXTRACT);
    rar.OverrideEvent = OR_ALWAYS;
    rar.OnRarStatus = [&o](TDFUnRar *, const QString &, TRarStatus s) {
        static const char *names[] = {"open", "before", "after", "password"};
        o.events.emplace_back(names[s]);
    };
    rar.OnProgress = [&o](TDFUnRar *, unsigned files, unsigned, unsigned, unsigned) {
        o.events.push_back("progress " + std::to_string(files));
    };
    rar.OnError = [&o](TDFUnRar *, const QString &m, int id) { o.errors.emplace_back(m.toStdString(), id); };
    if (setup)
        setup(rar);
    rar.Extract();
    return o;
}

std::string crcOf(const fs::path &p)
{
    const std::string data = testutil::readFile(p);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08lx", crc32(0L, reinterpret_cast<const Bytef *>(data.data()), uInt(data.size())));
    return buf;
}

std::vector<std::string> progressThen(int k)
{
    std::vector<std::string> v{"before", "open"};
    for (int i = 1; i <= k; ++i)
        v.push_back("progress " + std::to_string(i));
    v.emplace_back("after");
    return v;
}

} // namespace

TEST(UnRarBindingTest, RealRar4ArchivesExtractWithTheirContent)
{
    testutil::TempDir out;
    const std::string doc = "test text document\r\n";

    Outcome o = extract(pkgtest::rarSample("rar4_stored.rar"), out.path() / "stored");
    EXPECT_EQ(o.events, progressThen(5));
    EXPECT_TRUE(o.errors.empty());
    EXPECT_EQ(testutil::readFile(out.path() / "stored/test.txt"), doc);
    EXPECT_EQ(testutil::readFile(out.path() / "stored/testdir/test.txt"), doc);
    EXPECT_TRUE(fs::is_directory(out.path() / "stored/testemptydir"));
    EXPECT_EQ(fs::read_symlink(out.path() / "stored/testlink"), "test.txt");

    o = extract(pkgtest::rarSample("rar4_normal.rar"), out.path() / "normal");
    EXPECT_EQ(o.events, progressThen(6));
    EXPECT_EQ(crcOf(out.path() / "normal/LibarchiveAddingTest.html"), "5e05a663");
    EXPECT_EQ(crcOf(out.path() / "normal/testdir/LibarchiveAddingTest.html"), "5e05a663");

    o = extract(pkgtest::rarSample("rar4_unicode.rar"), out.path() / "uni");
    EXPECT_TRUE(o.errors.empty());
    EXPECT_EQ(testutil::readFile(out.path() / "uni/表だよ/漢字長いファイル名long-filename-in-漢字.txt"), "kanji");
    EXPECT_EQ(fs::file_size(out.path() / "uni/表だよ/新しいフォルダ/新規テキスト ドキュメント.txt"), 0u);
    EXPECT_EQ(testutil::readFile(out.path() / "uni/abcdefghijklmnopqrsテスト.txt"), "aaaaaaaaaaaaaaa\n");

    o = extract(pkgtest::rarSample("rar4_windows.rar"), out.path() / "win");
    EXPECT_EQ(o.events, progressThen(5));
    EXPECT_EQ(crcOf(out.path() / "win/testshortcut.lnk"), "5b5cd737");
    EXPECT_EQ(testutil::readFile(out.path() / "win/testdir/test.txt"), "test text file\r\n");

    o = extract(pkgtest::rarSample("rar4_no_end_block.rar"), out.path() / "noend");
    EXPECT_EQ(o.events, progressThen(1));
    EXPECT_EQ(testutil::readFile(out.path() / "noend/test.txt"), doc);
}

TEST(UnRarBindingTest, RealRar5ArchivesExtractWithTheirContent)
{
    testutil::TempDir out;
    Outcome o = extract(pkgtest::rarSample("rar5_stored.rar"), out.path() / "s");
    EXPECT_EQ(o.events, progressThen(1));
    EXPECT_EQ(testutil::readFile(out.path() / "s/helloworld.txt"), "hello libarchive test suite!\n");

    o = extract(pkgtest::rarSample("rar5_normal.rar"), out.path() / "n");
    EXPECT_EQ(crcOf(out.path() / "n/test.bin"), "7cca70cd");

    o = extract(pkgtest::rarSample("rar5_solid.rar"), out.path() / "solid");
    EXPECT_EQ(o.events, progressThen(7));
    const std::map<std::string, std::string> crcs{{"test.bin", "7cca70cd"},  {"test1.bin", "7e13b2c6"},
                                                  {"test2.bin", "f166afcb"}, {"test3.bin", "9fb123d9"},
                                                  {"test4.bin", "10c43ed4"}, {"test5.bin", "b9d155f2"},
                                                  {"test6.bin", "36a448ff"}};
    for (const auto &[name, crc] : crcs)
        EXPECT_EQ(crcOf(out.path() / "solid" / name), crc) << name;

    o = extract(pkgtest::rarSample("rar5_unicode.rar"), out.path() / "u");
    EXPECT_TRUE(o.errors.empty());
    EXPECT_EQ(testutil::readFile(out.path() / "u/👋🌎.txt"), "Hello, world!");
    EXPECT_EQ(testutil::readFile(out.path() / "u/Ⓗⓐⓡⓓ Ⓛⓘⓝⓚ.txt"), "Hello, world!");
    EXPECT_EQ(fs::read_symlink(out.path() / "u/𝒮𝓎𝓂𝒷𝑜𝓁𝒾𝒸 𝐿𝒾𝓃𝓀.txt"), "👋🌎.txt");
}

TEST(UnRarBindingTest, VolumeSetsAreFollowedByNameAndAMissingVolumeIsAskedFor)
{
    testutil::TempDir dir;
    for (int i = 1; i <= 6; ++i)
        fs::copy_file(pkgtest::rarSample(("rar4_volumes_" + std::to_string(i) + ".rar").c_str()),
                      dir.path() / ("set.part" + std::to_string(i) + ".rar"));
    Outcome o = extract(dir.path() / "set.part1.rar", dir.path() / "all");
    EXPECT_EQ(o.events, progressThen(2));
    EXPECT_EQ(crcOf(dir.path() / "all/LibarchiveAddingTest2.html"), "5e05a663");
    EXPECT_EQ(crcOf(dir.path() / "all/LibarchiveAddingTest.html"), "5e05a663");

    // Volume 6 missing: without anyone to ask, the second file fails and
    // nothing half-written stays.
    fs::rename(dir.path() / "set.part6.rar", dir.path() / "elsewhere.rar");
    o = extract(dir.path() / "set.part1.rar", dir.path() / "five");
    EXPECT_EQ(crcOf(dir.path() / "five/LibarchiveAddingTest2.html"), "5e05a663");
    EXPECT_FALSE(fs::exists(dir.path() / "five/LibarchiveAddingTest.html"));
    ASSERT_FALSE(o.errors.empty());
    EXPECT_EQ(o.errors.back(), std::make_pair(std::string("Volumn-Error"), 15));
    EXPECT_EQ(o.events.back(), "after");

    // The volume handler names where volume 6 went.
    std::vector<std::string> asked;
    o = extract(dir.path() / "set.part1.rar", dir.path() / "asked", [&](TDFUnRar &rar) {
        rar.OnVolChange = [&](TDFUnRar *, char *name, int mode) {
            asked.emplace_back(name);
            std::strcpy(name, (dir.path() / "elsewhere.rar").c_str());
        };
    });
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], (dir.path() / "set.part6.rar").string());
    EXPECT_TRUE(o.errors.empty());
    EXPECT_EQ(crcOf(dir.path() / "asked/LibarchiveAddingTest.html"), "5e05a663");
}

TEST(UnRarBindingTest, EncryptedDataFailsItsFileAfterTheEmptyPassword)
{
    testutil::TempDir out;
    Outcome o = extract(pkgtest::rarSample("rar4_encrypted_mixed.rar"), out.path());
    EXPECT_EQ(testutil::readFile(out.path() / "a.txt"), "This is from a.txt");
    EXPECT_FALSE(fs::exists(out.path() / "b.txt"));
    // The failing file ends the extraction: c.txt is not reached.
    EXPECT_FALSE(fs::exists(out.path() / "c.txt"));
    EXPECT_EQ(o.events, (std::vector<std::string>{"before", "open", "progress 1", "progress 2", "password", "after"}));
    EXPECT_EQ(o.errors, (std::vector<std::pair<std::string, int>>{{"Pas de mot de passe!", 0}}));

    // RAR 5 entries are not marked encrypted by this libarchive; reading the
    // data fails instead, and no partial file is left.
    testutil::TempDir out5;
    o = extract(pkgtest::rarSample("rar5_encrypted_mixed.rar"), out5.path());
    EXPECT_EQ(testutil::readFile(out5.path() / "a.txt"), "This is from a.txt");
    EXPECT_FALSE(fs::exists(out5.path() / "b.txt"));
    EXPECT_EQ(o.events.back(), "after");
}

TEST(UnRarBindingTest, DamagedAndUnreadableArchivesEndCleanly)
{
    testutil::TempDir out;
    Outcome o = extract(pkgtest::rarSample("rar4_damaged.rar"), out.path());
    EXPECT_EQ(o.events, progressThen(1));
    EXPECT_EQ(o.errors, (std::vector<std::pair<std::string, int>>{{"données corrompues", 12}}));
    EXPECT_FALSE(fs::exists(out.path() / "test")) << "a truncated file must not stay";

    o = extract(pkgtest::rarSample("rar5_damaged.rar"), out.path());
    EXPECT_EQ(o.events, progressThen(0));
    EXPECT_EQ(o.errors, (std::vector<std::pair<std::string, int>>{{"Entête de fichier corrompu", 12}}));

    for (const char *name : {"rar4_encrypted_headers.rar", "rar5_encrypted_headers.rar", "rar4_solid_encrypted.rar",
                             "rar4_encrypted_data.rar"}) {
        o = extract(pkgtest::rarSample(name), out.path());
        ASSERT_GE(o.events.size(), 3u) << name;
        EXPECT_EQ(o.events.front(), "before") << name;
        EXPECT_EQ(o.events.back(), "after") << name;
    }

    // Missing, empty and foreign files: no header is read, the archive is
    // still closed out.
    testutil::writeFile(out.path() / "empty.rar", "");
    testutil::writeFile(out.path() / "text.rar", "just some text, not an archive");
    for (const fs::path &p : {out.path() / "missing.rar", out.path() / "empty.rar", out.path() / "text.rar"}) {
        o = extract(p, out.path());
        EXPECT_EQ(o.events, progressThen(0)) << p;
        ASSERT_EQ(o.errors.size(), 1u) << p;
        EXPECT_EQ(o.errors[0].first, "Impossible d'ouvrir l'archive");
    }
}

TEST(UnRarBindingTest, StoredEntryWithAWrongCrcFailsAndIsRemoved)
{
    testutil::TempDir dir;
    const fs::path rar = dir.path() / "bad.rar";
    {
        package::Rar4Writer w(rar);
        w.addData("good.txt", "fine", 0);
        w.addRaw("bad.txt", "these bytes do not match", 0x12345678);
        w.addData("after.txt", "not reached", 0);
        w.finish();
    }
    Outcome o = extract(rar, dir.path() / "out");
    EXPECT_EQ(testutil::readFile(dir.path() / "out/good.txt"), "fine");
    EXPECT_FALSE(fs::exists(dir.path() / "out/bad.txt"));
    EXPECT_FALSE(fs::exists(dir.path() / "out/after.txt"));
    EXPECT_EQ(o.errors, (std::vector<std::pair<std::string, int>>{{"données corrompues", 12}}));
}

TEST(UnRarBindingTest, EntriesThatWouldLeaveTheFolderAreRefusedAndTheRestExtracted)
{
    testutil::TempDir dir;
    const fs::path dest = dir.path() / "tank";
    const fs::path outside = dir.path() / "outside";
    fs::create_directories(dest);
    fs::create_directories(outside);
    // A folder inside that is a link to outside must not be written through.
    fs::create_directory_symlink(outside, dest / "linked");
    const fs::path rar = dir.path() / "evil.rar";
    const std::vector<std::string> evil{"..\\escaped.txt", "a\\..\\..\\escaped2.txt", "\\rooted.txt",
                                        "c:\\drive.txt",   "/abs.txt"};
    {
        package::Rar4Writer w(rar);
        for (const std::string &name : evil)
            w.addRaw(name, "x", std::uint32_t(crc32(0L, reinterpret_cast<const Bytef *>("x"), 1)));
        w.addData("linked\\through.txt", "y", 0);
        w.addData("ok\\inside.txt", "fine", 0);
        w.finish();
    }
    Outcome o = extract(rar, dest);
    EXPECT_EQ(pkgtest::treeOf(outside).size(), 0u);
    EXPECT_FALSE(fs::exists(dir.path() / "escaped.txt"));
    EXPECT_FALSE(fs::exists(dir.path() / "escaped2.txt"));
    EXPECT_FALSE(fs::exists("/abs.txt") && fs::file_size("/abs.txt") == 1);
    ASSERT_GE(o.errors.size(), evil.size());
    for (std::size_t i = 0; i < evil.size(); ++i) {
        EXPECT_EQ(o.errors[i].second, 16);
        EXPECT_TRUE(o.errors[i].first.starts_with("Entrée refusée hors du dossier : ")) << o.errors[i].first;
    }
    // The write through the linked folder fails as a file error and ends the
    // extraction; nothing reaches the folder outside.
    EXPECT_EQ(o.errors.back(), std::make_pair(std::string("Erreur à la création du fichier"), 16));
}

TEST(UnRarBindingTest, NamesWithoutUnicodeFlagAreReadAsCp936)
{
    testutil::TempDir dir;
    const fs::path rar = dir.path() / "gbk.rar";
    {
        package::Rar4Writer w(rar, package::Rar4Writer::Names::Ansi);
        w.addDirectory("听力", 0);
        w.addData("听力\\第一题.txt", "答案", 0);
        w.finish();
    }
    extract(rar, dir.path() / "out");
    EXPECT_EQ(testutil::readFile(dir.path() / "out/听力/第一题.txt"), "答案");
}

TEST(ArchivePathTest, RefusesEveryWayOutOfTheFolder)
{
    using package::safeRelativePath;
    EXPECT_EQ(safeRelativePath("a\\b/c.txt"), fs::path("a/b/c.txt"));
    EXPECT_EQ(safeRelativePath("./a/./b"), fs::path("a/b"));
    for (const char *bad : {"", "/etc/passwd", "\\x", "c:x", "C:\\x", "..", "a/../../b", "a\\..\\b", "a/b:c", "./"})
        EXPECT_FALSE(safeRelativePath(bad)) << bad;
    EXPECT_TRUE(package::linkStaysInside("d/link", "target.txt"));
    EXPECT_TRUE(package::linkStaysInside("d/link", "sub/t"));
    for (const char *bad : {"../t", "/etc", "c:\\t", "a/../../t", ""})
        EXPECT_FALSE(package::linkStaysInside("d/link", bad)) << bad;
}

TEST(UnRarBindingTest, MangledArchivesNeverCrashHangOrWriteOutside)
{
    testutil::TempDir dir;
    const fs::path dest = dir.path() / "tank";
    std::vector<std::string> originals;
    for (const char *name : {"rar4_stored.rar", "rar4_normal.rar", "rar5_normal.rar", "rar4_unicode.rar"})
        originals.push_back(testutil::readFile(pkgtest::rarSample(name)));
    std::uint32_t x = 2024;
    const auto next = [&x] {
        x = x * 1664525u + 1013904223u;
        return x >> 8;
    };
    for (int round = 0; round < 120; ++round) {
        std::string bytes = originals[std::size_t(round) % originals.size()];
        const int flips = 1 + int(next() % 6);
        for (int i = 0; i < flips; ++i)
            bytes[next() % bytes.size()] = char(next());
        if (round % 5 == 0)
            bytes.resize(next() % bytes.size());
        testutil::writeFile(dir.path() / "m.rar", bytes);
        const Outcome o = extract(dir.path() / "m.rar", dest);
        ASSERT_FALSE(o.events.empty());
        EXPECT_EQ(o.events.back(), "after") << "round " << round;
    }
    // Everything written stayed below the destination.
    for (const auto &e : fs::directory_iterator(dir.path()))
        EXPECT_TRUE(e.path() == dest || e.path() == dir.path() / "m.rar") << e.path();
}
