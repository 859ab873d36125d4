#include "ManifestUtil.h"
#include "TestUtil.h"
#include "platform/TTimer.h"
#include "playlist/TreeFunc.h"
#include "playlist/Unit2.h"

#include <QCheckBox>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QTextEdit>
#include "ui/ClickLabel.h"
#include "media/TDSTrackBar.h"
#include "media/TMediaPlayer.h"
#include "audio/MMLevel.h"
#include "media/TVideoWindow.h"
#include <QTreeWidget>
#include <gtest/gtest.h>

using manifest::Row;
using testutil::TempDataHome;
using TreeFunc::AddTreePath;

namespace {

// Labels of the tree in depth-first order, indented by level.
QStringList dump(QTreeWidget *tree)
{
    QStringList out;
    std::function<void(QTreeWidgetItem *, int)> walk = [&](QTreeWidgetItem *item, int level) {
        out << QString(level * 2, u' ') + item->text(0);
        for (int i = 0; i < item->childCount(); ++i)
            walk(item->child(i), level + 1);
    };
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        walk(tree->topLevelItem(i), 0);
    return out;
}

class LocaleScope
{
public:
    explicit LocaleScope(const QLocale &l) : m_old(QLocale()) { QLocale::setDefault(l); }
    ~LocaleScope() { QLocale::setDefault(m_old); }

private:
    QLocale m_old;
};

Row row(const char *item, const char *sub, const char *path, const char *type = "2")
{
    Row r;
    r.itemId = QString::fromUtf8(item);
    r.subItemId = QString::fromUtf8(sub);
    r.filePath = QString::fromUtf8(path);
    r.fileType = QString::fromUtf8(type);
    return r;
}

void writeManifest(const TempDataHome &home, const std::vector<Row> &rows,
                   manifest::Encoding enc = manifest::Encoding::Utf8Declared)
{
    testutil::writeFile(home.driveC() / "testtank" / "information.xml", manifest::packet(rows, enc));
}

} // namespace

TEST(TreeFuncTest, PathsShareNodesByExactLabelAndCarryTheFirstData)
{
    QTreeWidget tree;
    QTreeWidgetItem *leaf = AddTreePath(&tree, {"P1", "S1", "a.txt"}, 0, false);
    ASSERT_NE(leaf, nullptr);
    EXPECT_EQ(AddTreePath(&tree, {"P1", "S1", "a.txt"}, 1, false), leaf) << "a duplicate adds nothing";
    EXPECT_EQ(leaf->data(0, TreeFunc::DataRole).toInt(), 0);
    AddTreePath(&tree, {"p1", "S1", "a.txt"}, 2, false);
    AddTreePath(&tree, {"P1", "S2", ""}, 3, false);
    AddTreePath(&tree, {"P1", "S1", "b.txt"}, 4, false);
    EXPECT_EQ(dump(&tree), (QStringList{"P1", "  S1", "    a.txt", "    b.txt", "  S2", "    ", "p1", "  S1", "    a.txt"}));
    // Inner nodes carry nothing; state images follow the level.
    EXPECT_FALSE(tree.topLevelItem(0)->data(0, TreeFunc::DataRole).isValid());
    EXPECT_EQ(tree.topLevelItem(0)->data(0, TreeFunc::StateIndexRole).toInt(), 1);
    EXPECT_EQ(tree.topLevelItem(0)->child(0)->data(0, TreeFunc::StateIndexRole).toInt(), 2);
    EXPECT_EQ(leaf->data(0, TreeFunc::StateIndexRole).toInt(), 3);
    EXPECT_EQ(TreeFunc::FindChildNode(&tree, nullptr, "P1 "), nullptr);
    EXPECT_EQ(TreeFunc::FindChildNode(&tree, tree.topLevelItem(0), "S2"), tree.topLevelItem(0)->child(1));
    EXPECT_EQ(AddTreePath(&tree, {}, 9, false), nullptr);
    EXPECT_EQ(TreeFunc::NodeCount(&tree), 9);
}

TEST(TreeFuncTest, SortingUsesTheLocaleOrderOnEveryLevel)
{
    LocaleScope zh(QLocale(QLocale::Chinese, QLocale::China));
    QTreeWidget tree;
    AddTreePath(&tree, {QStringLiteral("中"), "b", "2"}, 0, false);
    AddTreePath(&tree, {QStringLiteral("安"), "a", "1"}, 1, false);
    AddTreePath(&tree, {QStringLiteral("中"), "a", "9"}, 2, false);
    AddTreePath(&tree, {QStringLiteral("中"), "a", "10"}, 3, false);
    TreeFunc::SortChildren(&tree, nullptr, true);
    // Pinyin: an < zhong; "10" sorts before "9" (no numeric mode).
    EXPECT_EQ(dump(&tree), (QStringList{QStringLiteral("安"), "  a", "    1", QStringLiteral("中"), "  a", "    10",
                                        "    9", "  b", "    2"}));
    EXPECT_EQ(TreeFunc::NodeAtAbsoluteIndex(&tree, 2)->text(0), "1");
    EXPECT_EQ(TreeFunc::NodeAtAbsoluteIndex(&tree, 5)->text(0), "10");
    EXPECT_THROW((void)TreeFunc::NodeAtAbsoluteIndex(&tree, 9), TreeFunc::ETreeViewError);

    // Sorting siblings as they are added sorts one level only.
    QTreeWidget live;
    AddTreePath(&live, {"Z", "y"}, 0, true);
    AddTreePath(&live, {"A", "x"}, 1, true);
    AddTreePath(&live, {"Z", "b"}, 2, true);
    EXPECT_EQ(dump(&live), (QStringList{"Z", "  b", "  y", "A", "  x"}));
}

TEST(Form2LoadTest, TreeIsBuiltSortedAndSelectsTheFirstLeaf)
{
    LocaleScope en(QLocale(QLocale::English, QLocale::UnitedStates));
    TempDataHome home;
    testutil::clearShown();
    // Parts out of order and split; a duplicate; labels differing in case.
    writeManifest(home, {row("Part 2", "S1", "b.txt"), row("Part 1", "S1", "a.txt"), row("Part 2", "S1", "c.txt"),
                         row("Part 1", "S1", "a.txt"), row("part 1", "S1", "d.txt"), row("Part 2", "S0", "")});
    TForm2 form;
    EXPECT_TRUE(testutil::shownErrors().empty());
    EXPECT_EQ(dump(form.treeview1), (QStringList{"part 1", "  S1", "    d.txt", "Part 1", "  S1", "    a.txt",
                                                 "Part 2", "  S0", "    ", "  S1", "    b.txt", "    c.txt"}));
    ASSERT_NE(form.treeview1->currentItem(), nullptr);
    EXPECT_EQ(form.treeview1->currentItem()->text(0), "d.txt");
    EXPECT_TRUE(form.timer->Enabled());
    EXPECT_TRUE(form.timer2->Enabled());
    EXPECT_TRUE(form.dsplaylist.Active());
    // The duplicate's leaf carries the first record's position.
    EXPECT_EQ(form.treeview1->topLevelItem(1)->child(0)->child(0)->data(0, TreeFunc::DataRole).toInt(), 1);
    EXPECT_TRUE(form.updatesEnabled());
}

TEST(Form2LoadTest, GbkManifestWithOneRecordBuildsThreeNodes)
{
    TempDataHome home;
    testutil::clearShown();
    writeManifest(home, {row("第一部分", "朗读", "文本\\一.txt")}, manifest::Encoding::GbkBare);
    TForm2 form;
    EXPECT_TRUE(testutil::shownErrors().empty());
    EXPECT_EQ(dump(form.treeview1), (QStringList{QStringLiteral("第一部分"), QStringLiteral("  朗读"),
                                                 QStringLiteral("    文本\\一.txt")}));
    EXPECT_EQ(form.treeview1->currentItem()->text(0), QStringLiteral("文本\\一.txt"));
}

TEST(Form2LoadTest, LoadingFailuresAreShownAndLeaveTheWindowUsable)
{
    TempDataHome home;
    {
        testutil::clearShown();
        TForm2 form;
        ASSERT_EQ(testutil::shownErrors().size(), 1u);
        EXPECT_EQ(testutil::shownErrors()[0].text, "dsplaylist: Missing data provider or data packet.");
        EXPECT_FALSE(form.dsplaylist.Active());
        EXPECT_FALSE(form.timer->Enabled());
        EXPECT_FALSE(form.timer2->Enabled());
        EXPECT_EQ(form.treeview1->topLevelItemCount(), 0);
    }
    {
        writeManifest(home, {});
        testutil::clearShown();
        TForm2 form;
        ASSERT_EQ(testutil::shownErrors().size(), 1u);
        EXPECT_EQ(testutil::shownErrors()[0].text, "Invalid index.");
        EXPECT_TRUE(form.dsplaylist.Active());
        EXPECT_TRUE(form.dsplaylist.Eof());
        EXPECT_TRUE(form.timer->Enabled());
    }
    {
        testutil::writeFile(home.driveC() / "testtank" / "information.xml",
                            "<?xml version=\"1.0\"?><DATAPACKET Version=\"2.0\"><METADATA><FIELDS>"
                            "<FIELD attrname=\"SubItemID\" fieldtype=\"string\" WIDTH=\"100\"/>"
                            "<FIELD attrname=\"FilePath\" fieldtype=\"string\" WIDTH=\"100\"/></FIELDS></METADATA>"
                            "<ROWDATA><ROW SubItemID=\"s\" FilePath=\"a\"/><ROW SubItemID=\"t\"/></ROWDATA></DATAPACKET>");
        testutil::clearShown();
        TForm2 form;
        ASSERT_EQ(testutil::shownErrors().size(), 1u);
        EXPECT_EQ(testutil::shownErrors()[0].text, "dsplaylist: Field 'itemid' not found.");
        EXPECT_TRUE(form.dsplaylist.Active());
        EXPECT_EQ(form.dsplaylist.RecNo(), 0);
        EXPECT_TRUE(form.timer->Enabled());
        EXPECT_EQ(form.treeview1->topLevelItemCount(), 0);
        EXPECT_EQ(form.treeview1->currentItem(), nullptr);
        EXPECT_TRUE(form.treeview1->updatesEnabled());
    }
    {
        testutil::writeFile(home.driveC() / "testtank" / "information.xml", "<DATAPACKET><METADATA>");
        testutil::clearShown();
        TForm2 form;
        ASSERT_EQ(testutil::shownErrors().size(), 1u);
        EXPECT_TRUE(testutil::shownErrors()[0].text.startsWith("dsplaylist: Invalid data packet: "));
        EXPECT_FALSE(form.timer->Enabled());
    }
}

TEST(Form2LoadTest, LayoutPlacesTheControlsAsDesigned)
{
    TempDataHome home;
    writeManifest(home, {row("A", "B", "C")});
    TForm2 form;
    form.resize(1024, 708);
    EXPECT_EQ(form.pnlTop->geometry(), QRect(0, 0, 1024, 33));
    EXPECT_EQ(form.pnlLeft->geometry(), QRect(0, 33, 185, 708 - 33 - 70));
    EXPECT_EQ(form.pnlBottom->geometry(), QRect(0, 708 - 70, 1024, 70));
    EXPECT_EQ(form.treeview1->geometry(), QRect(11, 27, 166, 255));
    EXPECT_EQ(form.treeview1->indentation(), 19);
    EXPECT_EQ(form.Image1->size(), QSize(129, 209));
    EXPECT_EQ(form.imgLogo->geometry(), QRect(74, 452, 38, 40));
    EXPECT_EQ(form.mlvl1->geometry(), QRect(38, 344, 131, 9));
    EXPECT_EQ(form.mlvl2->geometry(), QRect(38, 380, 131, 9));
    EXPECT_EQ(form.Labelprior->pos(), QPoint(39, 351));
    EXPECT_EQ(form.lblNext->pos(), QPoint(39, 368));
    EXPECT_EQ(form.MediaPlayer->geometry(), QRect(104, 4, 57, 24));
    EXPECT_EQ(form.mmoContentMemo->geometry(), QRect(QPoint(0, 0), form.pnlMain->size()));
    EXPECT_EQ(form.TrackBar->geometry().bottom(), form.pnlMain->height() - 1);
    EXPECT_EQ(form.TrackBar->height(), 25);
    EXPECT_EQ(form.mmoContentMemo->toPlainText(), "mmoContentMemo");
    const std::vector<QWidget *> hiddenAtStart{form.Image1, form.mlvl1, form.mlvl2, form.dclabel, form.imgLogo,
                                               form.vplayer1, form.TrackBar, form.mmoContentMemo,
                                               form.RzCheckBox1, form.answerMemo};
    for (QWidget *hidden : hiddenAtStart)
        EXPECT_TRUE(hidden->isHidden()) << hidden->objectName().toStdString();
    EXPECT_FALSE(form.RzCheckBox1->isChecked());
    EXPECT_EQ(form.lblHint->text(), "");
    EXPECT_EQ(form.lbl1->text(), "");
}
