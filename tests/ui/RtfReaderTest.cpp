#include "TestUtil.h"
#include "platform/CodePage.h"
#include "ui/RtfReader.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextFragment>
#include <gtest/gtest.h>

#include <random>

using testutil::TempDataHome;
using testutil::writeFile;

namespace {

// The fragments of a document: text with its character format.
std::vector<QTextFragment> fragments(const QTextDocument &doc)
{
    std::vector<QTextFragment> out;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next())
        for (auto it = b.begin(); !it.atEnd(); ++it)
            if (it.fragment().isValid())
                out.push_back(it.fragment());
    return out;
}

QTextFragment fragmentWith(const QTextDocument &doc, const QString &text)
{
    for (const QTextFragment &f : fragments(doc))
        if (f.text() == text)
            return f;
    ADD_FAILURE() << "no fragment " << text.toStdString();
    return {};
}

QString read(const std::string &rtf)
{
    QTextDocument doc;
    ui::readRtf(rtf, &doc);
    return doc.toPlainText();
}

std::string message(const std::function<void()> &f)
{
    try {
        f();
    } catch (const std::exception &e) {
        return e.what();
    }
    return "(no error)";
}

} // namespace

TEST(RtfReaderTest, CharacterFormattingColoursAndParagraphsAreKept)
{
    const std::string rtf =
        "{\\rtf1\\ansi\\ansicpg936\\deff0{\\fonttbl{\\f0\\fnil\\fcharset134 \\'cb\\'ce\\'cc\\'e5;}"
        "{\\f1\\froman\\fcharset0 Times New Roman;}}\n"
        "{\\colortbl ;\\red255\\green0\\blue0;\\red0\\green0\\blue255;}\n"
        "{\\*\\generator Msftedit 5.41;}\\viewkind4\\uc1\\pard\\qc\\f1\\fs48 Title\\par\n"
        "\\pard\\f0\\fs24 plain {\\b bold} {\\i italic} {\\ul under}\\ulnone  {\\cf1 red}{\\cf2\\strike blue}\\par\n"
        "}";
    QTextDocument doc;
    ui::readRtf(rtf, &doc);
    ASSERT_EQ(doc.blockCount(), 3);
    EXPECT_EQ(doc.begin().text(), "Title");
    EXPECT_EQ(doc.begin().blockFormat().alignment(), Qt::AlignHCenter);
    EXPECT_EQ(doc.begin().next().blockFormat().alignment(), Qt::AlignLeft);
    EXPECT_EQ(doc.begin().next().text(), "plain bold italic under redblue");

    const QTextCharFormat title = fragmentWith(doc, "Title").charFormat();
    EXPECT_EQ(title.fontFamilies().toStringList(), QStringList{"Times New Roman"});
    EXPECT_DOUBLE_EQ(title.fontPointSize(), 24.0);
    const QTextCharFormat plain = fragmentWith(doc, "plain ").charFormat();
    EXPECT_EQ(plain.fontFamilies().toStringList(), QStringList{QStringLiteral("宋体")});
    EXPECT_DOUBLE_EQ(plain.fontPointSize(), 12.0);
    EXPECT_EQ(plain.fontWeight(), QFont::Normal);
    EXPECT_EQ(fragmentWith(doc, "bold").charFormat().fontWeight(), QFont::Bold);
    EXPECT_TRUE(fragmentWith(doc, "italic").charFormat().fontItalic());
    EXPECT_FALSE(fragmentWith(doc, "bold").charFormat().fontItalic()) << "group end restores the format";
    EXPECT_TRUE(fragmentWith(doc, "under").charFormat().fontUnderline());
    EXPECT_EQ(fragmentWith(doc, "red").charFormat().foreground().color(), QColor(255, 0, 0));
    const QTextCharFormat blue = fragmentWith(doc, "blue").charFormat();
    EXPECT_EQ(blue.foreground().color(), QColor(0, 0, 255));
    EXPECT_TRUE(blue.fontStrikeOut());
}

TEST(RtfReaderTest, ParagraphSpacingAndIndentsAreKept)
{
    QTextDocument doc;
    ui::readRtf("{\\rtf1 \\pard\\sb240\\sa120\\li720\\fi-360 first\\par\\pard plain\\par}", &doc);
    const QTextBlockFormat first = doc.begin().blockFormat();
    EXPECT_DOUBLE_EQ(first.topMargin(), 12.0);
    EXPECT_DOUBLE_EQ(first.bottomMargin(), 6.0);
    EXPECT_DOUBLE_EQ(first.leftMargin(), 36.0);
    EXPECT_DOUBLE_EQ(first.textIndent(), -18.0);
    const QTextBlockFormat second = doc.begin().next().blockFormat();
    EXPECT_EQ(doc.begin().next().text(), "plain");
    EXPECT_DOUBLE_EQ(second.topMargin(), 0.0) << "\\pard resets the paragraph";
    EXPECT_DOUBLE_EQ(second.leftMargin(), 0.0);
}

TEST(RtfReaderTest, HexBytesFollowTheFontsCodePageAndUnicodeSkipsItsFallback)
{
    // GBK bytes under a Chinese font; \ansicpg as the fallback.
    EXPECT_EQ(read("{\\rtf1\\ansi\\ansicpg936{\\fonttbl{\\f0\\fnil\\fcharset134 SimSun;}}\\f0 \\'c4\\'e3\\'ba\\'c3}"),
              QStringLiteral("你好"));
    EXPECT_EQ(read("{\\rtf1\\ansi\\ansicpg1252 caf\\'e9}"), QStringLiteral("café"));
    // Without \ansicpg the machine's ANSI code page (CP936) applies.
    EXPECT_EQ(read("{\\rtf1\\ansi \\'d6\\'d0\\'ce\\'c4}"), QStringLiteral("中文"));
    // \uN is followed by \ucN fallback bytes, which are not shown, whether
    // they are literal characters or \'hh escapes.
    EXPECT_EQ(read("{\\rtf1\\uc1\\u20320?\\u22909?}"), QStringLiteral("你好"));
    EXPECT_EQ(read("{\\rtf1\\uc2\\u20320\\'c4\\'e3 x}"), QStringLiteral("你 x"));
    EXPECT_EQ(read("{\\rtf1\\uc0\\u65 B}"), QStringLiteral("AB"));
    EXPECT_EQ(read("{\\rtf1 \\u-3?}"), QString(QChar(0xFFFD)));
    // A surrogate pair written as two \u.
    EXPECT_EQ(read("{\\rtf1 \\u-10179?\\u-8704?}"), QString::fromUtf8("\xF0\x9F\x98\x80"));
    EXPECT_EQ(read("{\\rtf1 a\\{b\\}c\\\\d\\~e\\tab f}"), QStringLiteral("a{b}c\\d e\tf")) << "toPlainText shows the no-break space as a blank";
    EXPECT_EQ(read("{\\rtf1 \\~}").size(), 1);
}

TEST(RtfReaderTest, DestinationsThatShowNothingAreSkipped)
{
    EXPECT_EQ(read("{\\rtf1{\\info{\\title Secret}{\\author Me}}{\\stylesheet{\\s0 Normal;}}"
                   "{\\*\\unknowndest hidden {nested}}{\\pict\\pngblip 89504e47}"
                   "{\\field{\\*\\fldinst HYPERLINK x}{\\fldrslt shown}} text}"),
              "shown text");
    // Text after the document's closing brace is not part of it.
    EXPECT_EQ(read(std::string("{\\rtf1 body}\r\n\0\0garbage", 23)), "body");
}

TEST(RtfReaderTest, MalformedInputEndsWithTextOrAClearErrorNeverACrash)
{
    EXPECT_EQ(message([] { (void)read("plain text"); }), "Not an RTF document");
    EXPECT_EQ(message([] { (void)read("{\\rtfx}"); }), "Not an RTF document");
    EXPECT_EQ(message([] { (void)read("{\\rtf1 " + std::string(5000, '{') + "x"); }), "RTF groups nested too deeply");
    // Unclosed groups, stray closing braces, truncated escapes.
    EXPECT_EQ(read("{\\rtf1 {\\b open"), "open");
    EXPECT_EQ(read("{\\rtf1 a}}}}"), "a");
    EXPECT_EQ(read("{\\rtf1 a\\'"), "a");
    EXPECT_EQ(read("{\\rtf1 a\\'4"), "a4");
    EXPECT_EQ(read("{\\rtf1 \\fs99999999999999999 big\\cf-5 x\\f-7 y\\uc99999 z}"), "bigxyz");

    const std::string good =
        "{\\rtf1\\ansi\\ansicpg936{\\fonttbl{\\f0\\fnil\\fcharset134 \\'cb\\'ce;}}{\\colortbl;\\red1\\green2\\blue3;}"
        "\\f0\\fs32\\cf1 \\'c4\\'e3{\\b\\u20320? x}\\par\\qc y}";
    std::mt19937 rng(11);
    for (int i = 0; i < 500; ++i) {
        std::string bytes = good;
        for (int k = 0; k < 4; ++k)
            bytes[5 + rng() % (bytes.size() - 5)] = static_cast<char>(rng() % 256);
        if (i % 4 == 0)
            bytes.resize(5 + rng() % (bytes.size() - 5));
        QTextDocument doc;
        try {
            ui::readRtf(bytes, &doc);
        } catch (const ui::ERtfError &) {
        }
    }
}

TEST(RtfReaderTest, MemosLoadRtfWithFormattingAndOtherFilesAsText)
{
    TempDataHome home;
    const auto tank = home.driveC() / "testtank";
    writeFile(tank / "a.rtf", "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0 {\\b Hello}\\par world}");
    writeFile(tank / "gbk.txt", platform::toAnsi(QStringLiteral("第一题\r\n请朗读")));
    writeFile(tank / "bom.txt", "\xEF\xBB\xBFline");
    writeFile(tank / "deep.rtf", "{\\rtf1 " + std::string(3000, '{') + "z");
    writeFile(tank / "deepnul.rtf", "{\\rtf1 " + std::string(3000, '{') + std::string("\0z", 2));

    QTextEdit memo;
    memo.setPlainText("mmoContentMemo");
    ui::loadRichMemo(&memo, QStringLiteral("c:\\testtank\\a.rtf"));
    EXPECT_EQ(memo.toPlainText(), "Hello\nworld");
    EXPECT_EQ(fragmentWith(*memo.document(), "Hello").charFormat().fontWeight(), QFont::Bold);

    ui::loadRichMemo(&memo, QStringLiteral("c:\\testtank\\GBK.TXT"));
    EXPECT_EQ(memo.toPlainText(), QStringLiteral("第一题\n请朗读"));
    // RTF that cannot be read is shown as its text; with bytes that are not
    // text either, the load fails.
    ui::loadRichMemo(&memo, QStringLiteral("c:\\testtank\\deep.rtf"));
    EXPECT_TRUE(memo.toPlainText().startsWith("{\\rtf1 {{{"));
    EXPECT_EQ(message([&] { ui::loadRichMemo(&memo, QStringLiteral("c:\\testtank\\deepnul.rtf")); }),
              "Failed to Load Stream");
    EXPECT_EQ(memo.toPlainText(), "");
    EXPECT_EQ(message([&] { ui::loadRichMemo(&memo, QStringLiteral("c:\\testtank\\none.txt")); }),
              "Cannot open file \"c:\\testtank\\none.txt\". No such file or directory");
    EXPECT_EQ(memo.toPlainText(), "") << "the memo is emptied before the load";

    QPlainTextEdit answer;
    ui::loadPlainMemo(&answer, QStringLiteral("c:\\testtank\\bom.txt"));
    EXPECT_EQ(answer.toPlainText(), "line");
    ui::loadPlainMemo(&answer, QStringLiteral("c:\\testtank\\a.rtf"));
    EXPECT_TRUE(answer.toPlainText().startsWith("{\\rtf1")) << "the answer box shows any file as text";
    EXPECT_EQ(message([&] { ui::loadPlainMemo(&answer, QStringLiteral("c:\\testtank")); }),
              "Cannot open file \"c:\\testtank\". Is a directory");
}
