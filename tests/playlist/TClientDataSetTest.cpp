#include "ManifestUtil.h"
#include "TestUtil.h"
#include "platform/CodePage.h"
#include "playlist/TClientDataSet.h"

#include <gtest/gtest.h>

#include <random>

using testutil::TempDataHome;
using testutil::writeFile;

namespace {

std::string message(const std::function<void()> &f)
{
    try {
        f();
    } catch (const std::exception &e) {
        return e.what();
    }
    return "(no error)";
}

// A table over a packet written to c:\testtank\information.xml.
struct Fixture {
    TempDataHome home;
    TClientDataSet ds;
    explicit Fixture(const std::string &bytes)
    {
        writeFile(home.driveC() / "testtank" / "information.xml", bytes);
        ds.setFileName(QStringLiteral("c:\\testtank\\information.xml"));
    }
};

std::vector<manifest::Row> threeRows()
{
    return {{"Part A", "S1", "2", "a.txt", "0", "", "", ""}, {"Part B", "S1", "3", "b.mp3", "0", "", "", ""},
            {"Part C", "S2", "5", "", "30000", "", "", ""}};
}

} // namespace

TEST(TClientDataSetTest, RealNestedPacketLoadsTopLevelFieldsAndRows)
{
    TempDataHome home;
    TClientDataSet ds;
    ds.setFileName(QString::fromStdString((testutil::testdataDir() / "datapacket" / "nested_rowstate.xml").string()));
    ds.Open();
    ASSERT_EQ(ds.Fields().size(), 17u);
    EXPECT_EQ(ds.Fields().front().name, "CVE_CLPV");
    EXPECT_EQ(ds.Fields().back().name, "dtfield");
    EXPECT_EQ(ds.Fields().back().fieldType, "nested");
    EXPECT_EQ(ds.Fields()[10].width, 255);
    ASSERT_EQ(ds.RecordCount(), 1);
    EXPECT_FALSE(ds.Eof());
    // Leading blanks are kept; "" is an empty string, not NULL; an omitted
    // attribute (ENTREGA) is NULL and reads as empty text.
    EXPECT_EQ(ds.FieldByName("cve_clpv").AsString(), "         1");
    EXPECT_EQ(ds.FieldByName("CVE_CLPV").AsInteger(), 1);
    EXPECT_FALSE(ds.FieldByName("CVE_PEDI").IsNull());
    EXPECT_EQ(ds.FieldByName("CVE_PEDI").AsString(), "");
    EXPECT_TRUE(ds.FieldByName("ENTREGA").IsNull());
    EXPECT_EQ(ds.FieldByName("modulo").AsString(), "FACT");
    EXPECT_EQ(ds.FieldByName("NUM_ALMA").AsInteger(), 1);
    // RowState is not a field.
    EXPECT_EQ(message([&] { (void)ds.FieldByName("RowState"); }), "dsplaylist: Field 'RowState' not found");
    ds.Next();
    EXPECT_TRUE(ds.Eof());
}

TEST(TClientDataSetTest, EngineStyleEscapesAndCharacterReferencesDecode)
{
    const std::string bytes =
        "<?xml version=\"1.0\" standalone=\"yes\"?>  <DATAPACKET Version=\"2.0\"><METADATA><FIELDS>"
        "<FIELD attrname=\"Name\" fieldtype=\"string\" WIDTH=\"30\"/><FIELD attrname=\"Notes\" fieldtype=\"bin.hex\" "
        "SUBTYPE=\"Text\" WIDTH=\"50\"/><FIELD fieldname=\"Sale Date\" attrname=\"Sale_Date\" fieldtype=\"date\"/>"
        "</FIELDS><PARAMS DEFAULT_ORDER=\"1\" PRIMARY_KEY=\"1\" LCID=\"1033\"/></METADATA><ROWDATA>"
        "<ROW Name=\"O&apos;Brien &amp; &quot;Sons&quot;\" Notes=\"line1&#013;&#010;line2&#010;\" Sale_Date=\"19880412\"/>"
        "<ROW Name=\"&#20013;&#x6587;\"/></ROWDATA></DATAPACKET>";
    Fixture f(bytes);
    f.ds.Open();
    EXPECT_EQ(f.ds.FieldByName("name").AsString(), "O'Brien & \"Sons\"");
    EXPECT_EQ(f.ds.FieldByName("NOTES").AsString(), "line1\r\nline2\n");
    // A field whose original name needed cleaning is found by that name.
    EXPECT_EQ(f.ds.FieldByName("sale date").AsString(), "19880412");
    f.ds.Next();
    EXPECT_EQ(f.ds.FieldByName("Name").AsString(), QStringLiteral("中文"));
    EXPECT_TRUE(f.ds.FieldByName("Sale Date").IsNull());
}

TEST(TClientDataSetTest, ChineseLabelsReadInEveryEncoding)
{
    const std::vector<manifest::Row> rows{{"第一部分 朗读", "第一节", "2", "文本\\朗读.txt", "0", "", "", ""}};
    for (auto enc : {manifest::Encoding::Utf8Declared, manifest::Encoding::Utf8Bare, manifest::Encoding::GbkBare,
                     manifest::Encoding::Gb2312Declared}) {
        Fixture f(manifest::packet(rows, enc));
        f.ds.Open();
        EXPECT_EQ(f.ds.FieldByName("itemid").AsString(), QStringLiteral("第一部分 朗读")) << int(enc);
        EXPECT_EQ(f.ds.FieldByName("filepath").AsString(), QStringLiteral("文本\\朗读.txt")) << int(enc);
    }
    // A byte order mark wins over the declaration.
    Fixture bom("\xEF\xBB\xBF" + manifest::packet(rows, manifest::Encoding::Utf8Bare));
    bom.ds.Open();
    EXPECT_EQ(bom.ds.FieldByName("SubItemID").AsString(), QStringLiteral("第一节"));
    // GB18030 characters outside GBK survive a gbk-declared packet.
    const std::string gbk = platform::toAnsi(QStringLiteral("汉"));
    EXPECT_EQ(gbk.size(), 2u);
}

TEST(TClientDataSetTest, CursorMovesAndEndOfDataFollowTheTableRules)
{
    Fixture f(manifest::packet(threeRows()));
    EXPECT_TRUE(f.ds.Eof()) << "a closed table counts as end-of-data";
    f.ds.Open();
    EXPECT_EQ(f.ds.RecNo(), 0);
    EXPECT_FALSE(f.ds.Eof());
    f.ds.Prior();
    EXPECT_EQ(f.ds.RecNo(), 0);
    EXPECT_FALSE(f.ds.Eof());
    f.ds.Next();
    f.ds.Next();
    EXPECT_EQ(f.ds.RecNo(), 2);
    EXPECT_FALSE(f.ds.Eof()) << "reaching the last record does not set end-of-data";
    f.ds.Next();
    EXPECT_EQ(f.ds.RecNo(), 2);
    EXPECT_TRUE(f.ds.Eof());
    EXPECT_EQ(f.ds.FieldByName("ItemID").AsString(), "Part C");
    f.ds.Prior();
    EXPECT_FALSE(f.ds.Eof());
    EXPECT_EQ(f.ds.RecNo(), 1);
    f.ds.Next();
    f.ds.Next();
    EXPECT_TRUE(f.ds.Eof());
    f.ds.First();
    EXPECT_FALSE(f.ds.Eof());
    EXPECT_EQ(f.ds.RecNo(), 0);
    f.ds.Close();
    EXPECT_FALSE(f.ds.Active());
    EXPECT_TRUE(f.ds.Eof());
    EXPECT_EQ(message([&] { f.ds.Next(); }), "dsplaylist: Cannot perform this operation on a closed dataset");
}

TEST(TClientDataSetTest, EmptyTableOpensAtEndOfData)
{
    Fixture f(manifest::packet({}));
    f.ds.Open();
    EXPECT_TRUE(f.ds.Active());
    EXPECT_TRUE(f.ds.Eof());
    EXPECT_EQ(f.ds.RecordCount(), 0);
    f.ds.Prior();
    EXPECT_TRUE(f.ds.Eof());
    EXPECT_TRUE(f.ds.FieldByName("filetype").IsNull());
    EXPECT_THROW((void)f.ds.FieldByName("filetype").AsInteger(), EConvertError);
}

TEST(TClientDataSetTest, BookmarksStayValidAcrossCloseAndReopen)
{
    Fixture f(manifest::packet(threeRows()));
    f.ds.Open();
    f.ds.Next();
    const TBookmark second = f.ds.GetBookmark();
    f.ds.Next();
    f.ds.Next();
    ASSERT_TRUE(f.ds.Eof());
    f.ds.GotoBookmark(second);
    EXPECT_FALSE(f.ds.Eof()) << "going to a bookmark clears end-of-data";
    EXPECT_EQ(f.ds.FieldByName("itemid").AsString(), "Part B");
    f.ds.Close();
    f.ds.Open();
    EXPECT_EQ(f.ds.RecNo(), 0);
    f.ds.GotoBookmark(second);
    EXPECT_EQ(f.ds.FieldByName("itemid").AsString(), "Part B");
    EXPECT_EQ(message([&] { f.ds.GotoBookmark(TBookmark{7}); }), "dsplaylist: Record not found");
}

TEST(TClientDataSetTest, FieldsAreFoundInAnyLetterCaseAndMissingOnesNamed)
{
    const std::string bytes =
        "<?xml version=\"1.0\" standalone=\"yes\"?><DATAPACKET Version=\"2.0\"><METADATA><FIELDS>"
        "<FIELD attrname=\"ITEMID\" fieldtype=\"string\" WIDTH=\"100\"/><FIELD attrname=\"filetype\" "
        "fieldtype=\"string\" WIDTH=\"100\"/></FIELDS><PARAMS/></METADATA><ROWDATA>"
        "<ROW ITEMID=\"x\" filetype=\" -12\"/><ROW ITEMID=\"y\" filetype=\"3a\"/><ROW filetype=\"\"/>"
        "<ROW filetype=\"2147483648\"/><ROW filetype=\"-2147483648\"/></ROWDATA></DATAPACKET>";
    Fixture f(bytes);
    f.ds.Open();
    EXPECT_EQ(f.ds.FieldByName("itemid").AsString(), "x");
    EXPECT_EQ(f.ds.FieldByName("FileType").AsInteger(), -12);
    EXPECT_EQ(message([&] { (void)f.ds.FieldByName("subitemid"); }), "dsplaylist: Field 'subitemid' not found");
    f.ds.Next();
    EXPECT_EQ(message([&] { (void)f.ds.FieldByName("filetype").AsInteger(); }), "'3a' is not a valid integer value");
    f.ds.Next();
    EXPECT_EQ(f.ds.FieldByName("itemid").AsString(), "");
    EXPECT_EQ(message([&] { (void)f.ds.FieldByName("filetype").AsInteger(); }), "'' is not a valid integer value");
    f.ds.Next();
    EXPECT_EQ(message([&] { (void)f.ds.FieldByName("filetype").AsInteger(); }),
              "'2147483648' is not a valid integer value");
    f.ds.Next();
    EXPECT_EQ(f.ds.FieldByName("filetype").AsInteger(), -2147483647 - 1);
}

TEST(TClientDataSetTest, MissingOrBrokenFilesGiveClearErrorsAndLeaveTheTableClosed)
{
    TempDataHome home;
    TClientDataSet ds;
    ds.setFileName(QStringLiteral("c:\\testtank\\information.xml"));
    EXPECT_EQ(message([&] { ds.Open(); }), "dsplaylist: Missing data provider or data packet");
    EXPECT_FALSE(ds.Active());

    const auto openBytes = [&](const std::string &bytes) {
        writeFile(home.driveC() / "testtank" / "information.xml", bytes);
        std::string m = message([&] { ds.Open(); });
        EXPECT_FALSE(ds.Active()) << m;
        return m;
    };
    EXPECT_EQ(openBytes("").rfind("dsplaylist: Invalid data packet: ", 0), 0u);
    EXPECT_NE(openBytes("<html><body/></html>").find("root element is html, not DATAPACKET"), std::string::npos);
    EXPECT_NE(openBytes("<DATAPACKET><ROWDATA/></DATAPACKET>").find("ROWDATA before METADATA"), std::string::npos);
    EXPECT_NE(openBytes("<DATAPACKET><METADATA><FIELDS/></METADATA></DATAPACKET>").find("no ROWDATA"),
              std::string::npos);
    EXPECT_NE(openBytes("<DATAPACKET><METADATA><FIELDS><FIELD fieldtype=\"i4\"/></FIELDS></METADATA><ROWDATA/>"
                        "</DATAPACKET>")
                  .find("FIELD without attrname"),
              std::string::npos);
    const std::string good = manifest::packet(threeRows());
    EXPECT_EQ(openBytes(good.substr(0, good.size() - 12)).rfind("dsplaylist: Invalid data packet: ", 0), 0u);
    EXPECT_EQ(openBytes(good + "<ROW/>").rfind("dsplaylist: Invalid data packet: ", 0), 0u);
    EXPECT_EQ(openBytes(std::string("\x00\x01\x02\xff\xfe", 5)).rfind("dsplaylist: Invalid data packet: ", 0), 0u);
}

TEST(TClientDataSetTest, DamagedPacketsNeverCrashOrHang)
{
    const std::string good = manifest::packet(threeRows(), manifest::Encoding::GbkBare);
    std::mt19937 rng(7);
    for (int i = 0; i < 400; ++i) {
        std::string bytes = good;
        const int flips = 1 + static_cast<int>(rng() % 6);
        for (int k = 0; k < flips; ++k)
            bytes[rng() % bytes.size()] = static_cast<char>(rng() % 256);
        if (i % 3 == 0)
            bytes.resize(rng() % bytes.size());
        try {
            const TDataPacket p = parseDataPacket(bytes, QStringLiteral("dsplaylist"));
            for (const TDataRow &row : p.rows)
                EXPECT_EQ(row.size(), p.fields.size());
        } catch (const EDatabaseError &e) {
            EXPECT_EQ(std::string(e.what()).rfind("dsplaylist: ", 0), 0u);
        }
    }
}
