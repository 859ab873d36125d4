#include "ui/RtfReader.h"

#include "platform/CodePage.h"
#include "platform/WinPath.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <vector>

namespace ui {

namespace {

// Real documents nest a few dozen groups deep; far deeper input is hostile
// or broken, and refusing it keeps memory bounded.
constexpr std::size_t kMaxDepth = 1000;
// A text file for a test is a few kilobytes; this bounds what a damaged or
// hostile file can make the memo hold.
constexpr std::size_t kMaxFileBytes = 32u * 1024u * 1024u;

enum class Align { Left, Centre, Right, Justify };

struct CharState {
    int font = -1;     // index into the font table; -1: memo's font
    int halfPoints = 0; // 0: memo's size
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
    int colour = 0;    // 0: the memo's colour
};

struct ParaState {
    Align align = Align::Left;
    int spaceBefore = 0; // twips
    int spaceAfter = 0;
    int leftIndent = 0;
    int rightIndent = 0;
    int firstIndent = 0;
};

struct GroupState {
    CharState chr;
    ParaState para;
    int uc = 1;          // bytes to skip after \uN
    bool skip = false;   // inside a destination that shows nothing
    enum class Dest { Text, FontTable, ColourTable } dest = Dest::Text;
};

struct FontEntry {
    QString name;
    int charset = -1;
    std::string nameBytes;
};

// Windows character set numbers to code pages.
int charsetCodePage(int charset, int fallback)
{
    switch (charset) {
    case 0: return 1252;
    case 77: return 10000;
    case 128: return 932;
    case 129: return 949;
    case 134: return 936;
    case 136: return 950;
    case 161: return 1253;
    case 162: return 1254;
    case 177: return 1255;
    case 178: return 1256;
    case 186: return 1257;
    case 204: return 1251;
    case 222: return 874;
    case 238: return 1250;
    default: return fallback;
    }
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isAlpha(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Destinations whose text is not part of the document.
bool isSkippedDestination(std::string_view w)
{
    static const char *const skipped[] = {
        "info", "stylesheet", "pict", "header", "headerl", "headerr", "headerf", "footer", "footerl", "footerr",
        "footerf", "footnote", "object", "objdata", "xe", "tc", "fldinst", "listtable", "listoverridetable",
        "revtbl", "rsidtbl", "generator", "themedata", "colorschememapping", "latentstyles", "datastore",
        "xmlnstbl", "mmathPr", "pgdsctbl", "filetbl", "bkmkstart", "bkmkend", "nonshppict", "shpinst", "sp",
        "private", "annotation", "atnid", "atnauthor", "comment", "userprops", "template", "docvar", "fchars",
        "lchars", "pn", "pntext", "pntxta", "pntxtb", "listtext", "ftnsep", "ftnsepc", "aftnsep", "aftnsepc"};
    for (const char *s : skipped)
        if (w == s)
            return true;
    return false;
}

class Reader
{
public:
    Reader(std::string_view in, QTextDocument *doc) : m_in(in), m_cursor(doc)
    {
        m_cursor.movePosition(QTextCursor::End);
        m_defaultFormat = m_cursor.charFormat();
        m_defaultBlock = m_cursor.blockFormat();
    }

    void run()
    {
        if (!looksLikeRtf(m_in) || m_in.size() < 6 || !isDigit(m_in[5]))
            throw ERtfError("Not an RTF document");
        m_stack.push_back(GroupState{});
        std::size_t i = 0;
        const std::size_t n = m_in.size();
        bool started = false;
        while (i < n) {
            const char c = m_in[i];
            if (c == '{') {
                flush();
                if (m_stack.size() >= kMaxDepth)
                    throw ERtfError("RTF groups nested too deeply");
                GroupState g = m_stack.back();
                m_stack.push_back(g);
                m_skipBytes = 0;
                started = true;
                ++i;
                continue;
            }
            if (c == '}') {
                flush();
                endGroup();
                m_skipBytes = 0;
                ++i;
                // The document's outermost group has ended: what follows
                // (often NULs or blanks) is not part of it.
                if (started && m_stack.size() <= 1)
                    break;
                continue;
            }
            if (c == '\\') {
                i = controlSequence(i + 1);
                continue;
            }
            if (c == '\r' || c == '\n' || c == '\0') {
                ++i;
                continue;
            }
            if (m_skipBytes > 0) {
                --m_skipBytes;
                ++i;
                continue;
            }
            addByte(c);
            ++i;
        }
        flush();
    }

private:
    GroupState &state() { return m_stack.back(); }

    void endGroup()
    {
        GroupState &g = state();
        if (g.dest == GroupState::Dest::FontTable && m_stack.size() >= 2
            && m_stack[m_stack.size() - 2].dest == GroupState::Dest::FontTable)
            finishFontEntry();
        if (m_stack.size() > 1)
            m_stack.pop_back();
    }

    // Reads a control word or symbol starting after the backslash; returns
    // the index after it.
    std::size_t controlSequence(std::size_t i)
    {
        const std::size_t n = m_in.size();
        if (i >= n)
            return i;
        const char c = m_in[i];
        if (!isAlpha(c)) {
            return controlSymbol(c, i);
        }
        const std::size_t wordStart = i;
        while (i < n && isAlpha(m_in[i]) && i - wordStart < 32)
            ++i;
        const std::string_view word = m_in.substr(wordStart, i - wordStart);
        bool hasParam = false;
        long long param = 0;
        bool negative = false;
        if (i < n && m_in[i] == '-' && i + 1 < n && isDigit(m_in[i + 1])) {
            negative = true;
            ++i;
        }
        const std::size_t digitsStart = i;
        while (i < n && isDigit(m_in[i])) {
            if (i - digitsStart < 10)
                param = param * 10 + (m_in[i] - '0');
            hasParam = true;
            ++i;
        }
        if (negative)
            param = -param;
        if (i < n && m_in[i] == ' ')
            ++i;
        controlWord(word, hasParam, static_cast<int>(std::clamp<long long>(param, -2147483647LL, 2147483647LL)));
        return i;
    }

    std::size_t controlSymbol(char c, std::size_t i)
    {
        switch (c) {
        case '\'': {
            if (i + 2 < m_in.size() && std::isxdigit(static_cast<unsigned char>(m_in[i + 1]))
                && std::isxdigit(static_cast<unsigned char>(m_in[i + 2]))) {
                const int value = std::stoi(std::string(m_in.substr(i + 1, 2)), nullptr, 16);
                if (m_skipBytes > 0)
                    --m_skipBytes;
                else
                    addByte(static_cast<char>(value));
                return i + 3;
            }
            return i + 1;
        }
        case '*':
            // An optional destination this reader does not know: skip it.
            state().skip = true;
            return i + 1;
        case '\\': case '{': case '}':
            if (m_skipBytes > 0)
                --m_skipBytes;
            else
                addByte(c);
            return i + 1;
        case '~':
            addChar(QChar(0x00A0));
            return i + 1;
        case '_':
            addChar(QChar(0x2011));
            return i + 1;
        case '-':
            return i + 1; // optional hyphen: not shown
        case '\r': case '\n':
            paragraph();
            return i + 1;
        case '\t':
            addChar(QChar(u'\t'));
            return i + 1;
        default:
            return i + 1;
        }
    }

    void controlWord(std::string_view w, bool hasParam, int p)
    {
        GroupState &g = state();
        const bool on = !hasParam || p != 0;
        if (w == "rtf" || w == "ansi" || w == "pc" || w == "pca" || w == "mac")
            return;
        if (w == "ansicpg") {
            if (hasParam && !platform::codePageName(p).empty())
                m_ansiCodePage = p;
            return;
        }
        if (w == "deff") {
            m_defaultFont = p;
            return;
        }
        if (w == "fonttbl") {
            flush();
            g.dest = GroupState::Dest::FontTable;
            return;
        }
        if (w == "colortbl") {
            flush();
            g.dest = GroupState::Dest::ColourTable;
            m_colours.clear();
            m_red = m_green = m_blue = 0;
            m_colourSet = false;
            return;
        }
        if (isSkippedDestination(w)) {
            flush();
            g.skip = true;
            return;
        }
        if (g.dest == GroupState::Dest::ColourTable) {
            if (w == "red") { m_red = std::clamp(p, 0, 255); m_colourSet = true; }
            else if (w == "green") { m_green = std::clamp(p, 0, 255); m_colourSet = true; }
            else if (w == "blue") { m_blue = std::clamp(p, 0, 255); m_colourSet = true; }
            return;
        }
        if (g.dest == GroupState::Dest::FontTable) {
            if (w == "f") {
                finishFontEntry();
                m_fontIndex = p;
            } else if (w == "fcharset") {
                m_fonts[m_fontIndex].charset = p;
            }
            return;
        }
        if (w == "u") {
            int code = p;
            if (code < 0)
                code += 65536;
            if (code >= 0 && code <= 0xFFFF)
                addChar(QChar(static_cast<char16_t>(code)));
            m_skipBytes = g.uc;
            return;
        }
        if (w == "uc") { g.uc = std::clamp(p, 0, 16); return; }
        if (w == "par" || w == "sect" || w == "page") { paragraph(); return; }
        if (w == "line") { addChar(QChar(QChar::LineSeparator)); return; }
        if (w == "tab") { addChar(QChar(u'\t')); return; }
        if (w == "emdash") { addChar(QChar(0x2014)); return; }
        if (w == "endash") { addChar(QChar(0x2013)); return; }
        if (w == "lquote") { addChar(QChar(0x2018)); return; }
        if (w == "rquote") { addChar(QChar(0x2019)); return; }
        if (w == "ldblquote") { addChar(QChar(0x201C)); return; }
        if (w == "rdblquote") { addChar(QChar(0x201D)); return; }
        if (w == "bullet") { addChar(QChar(0x2022)); return; }
        if (w == "emspace") { addChar(QChar(0x2003)); return; }
        if (w == "enspace") { addChar(QChar(0x2002)); return; }

        // Formatting changes apply from here on: text gathered so far keeps
        // the format it was written in.
        flush();
        if (w == "plain") { g.chr = CharState{}; g.chr.font = m_defaultFont; }
        else if (w == "b") g.chr.bold = on;
        else if (w == "i") g.chr.italic = on;
        else if (w == "ul" || w == "uld" || w == "uldb" || w == "ulw" || w == "ulth" || w == "uldash")
            g.chr.underline = on;
        else if (w == "ulnone") g.chr.underline = false;
        else if (w == "strike") g.chr.strike = on;
        else if (w == "f") g.chr.font = p;
        else if (w == "fs") g.chr.halfPoints = hasParam ? std::clamp(p, 2, 3276) : 24;
        else if (w == "cf") g.chr.colour = std::max(p, 0);
        else if (w == "pard") g.para = ParaState{};
        else if (w == "ql") g.para.align = Align::Left;
        else if (w == "qc") g.para.align = Align::Centre;
        else if (w == "qr") g.para.align = Align::Right;
        else if (w == "qj") g.para.align = Align::Justify;
        else if (w == "sb") g.para.spaceBefore = std::clamp(p, 0, 31680);
        else if (w == "sa") g.para.spaceAfter = std::clamp(p, 0, 31680);
        else if (w == "li") g.para.leftIndent = std::clamp(p, -31680, 31680);
        else if (w == "ri") g.para.rightIndent = std::clamp(p, -31680, 31680);
        else if (w == "fi") g.para.firstIndent = std::clamp(p, -31680, 31680);
    }

    void finishFontEntry()
    {
        auto it = m_fonts.find(m_fontIndex);
        if (it == m_fonts.end())
            return;
        FontEntry &f = it->second;
        if (!f.nameBytes.empty()) {
            std::string bytes = f.nameBytes;
            while (!bytes.empty() && (bytes.back() == ';' || bytes.back() == ' '))
                bytes.pop_back();
            f.name = platform::fromCodePage(bytes, platform::codePageName(charsetCodePage(f.charset, m_ansiCodePage)));
            f.nameBytes.clear();
        }
    }

    void addByte(char c)
    {
        GroupState &g = state();
        if (g.skip)
            return;
        if (g.dest == GroupState::Dest::ColourTable) {
            if (c == ';') {
                m_colours.push_back(m_colourSet ? QColor(m_red, m_green, m_blue) : QColor());
                m_red = m_green = m_blue = 0;
                m_colourSet = false;
            }
            return;
        }
        if (g.dest == GroupState::Dest::FontTable) {
            FontEntry &f = m_fonts[m_fontIndex];
            if (c == ';') {
                f.nameBytes.push_back(c);
                finishFontEntry();
            } else if (f.name.isEmpty() || !f.nameBytes.empty()) {
                f.nameBytes.push_back(c);
            }
            return;
        }
        m_pendingBytes.push_back(c);
    }

    void addChar(QChar ch)
    {
        if (state().skip || state().dest != GroupState::Dest::Text)
            return;
        decodePending();
        m_pendingText.append(ch);
    }

    int codePageOfCurrentFont() const
    {
        const int font = m_stack.back().chr.font >= 0 ? m_stack.back().chr.font : m_defaultFont;
        const auto it = m_fonts.find(font);
        if (it == m_fonts.end())
            return m_ansiCodePage;
        return charsetCodePage(it->second.charset, m_ansiCodePage);
    }

    void decodePending()
    {
        if (m_pendingBytes.empty())
            return;
        m_pendingText += platform::fromCodePage(m_pendingBytes, platform::codePageName(codePageOfCurrentFont()));
        m_pendingBytes.clear();
    }

    QTextCharFormat charFormat() const
    {
        const CharState &c = m_stack.back().chr;
        QTextCharFormat f = m_defaultFormat;
        const int font = c.font >= 0 ? c.font : -1;
        if (font >= 0) {
            const auto it = m_fonts.find(font);
            if (it != m_fonts.end() && !it->second.name.isEmpty())
                f.setFontFamilies(QStringList{it->second.name});
        }
        if (c.halfPoints > 0)
            f.setFontPointSize(c.halfPoints / 2.0);
        f.setFontWeight(c.bold ? QFont::Bold : QFont::Normal);
        f.setFontItalic(c.italic);
        f.setFontUnderline(c.underline);
        f.setFontStrikeOut(c.strike);
        if (c.colour > 0 && static_cast<std::size_t>(c.colour) < m_colours.size() && m_colours[c.colour].isValid())
            f.setForeground(m_colours[c.colour]);
        return f;
    }

    void applyAlignment()
    {
        QTextBlockFormat b = m_cursor.blockFormat();
        const ParaState &para = m_stack.back().para;
        // Twips to points: the document lays out in points like the fonts.
        b.setTopMargin(para.spaceBefore / 20.0);
        b.setBottomMargin(para.spaceAfter / 20.0);
        b.setLeftMargin(std::max(0, para.leftIndent) / 20.0);
        b.setRightMargin(std::max(0, para.rightIndent) / 20.0);
        b.setTextIndent(para.firstIndent / 20.0);
        switch (para.align) {
        case Align::Left: b.setAlignment(Qt::AlignLeft); break;
        case Align::Centre: b.setAlignment(Qt::AlignHCenter); break;
        case Align::Right: b.setAlignment(Qt::AlignRight); break;
        case Align::Justify: b.setAlignment(Qt::AlignJustify); break;
        }
        m_cursor.setBlockFormat(b);
    }

    void flush()
    {
        if (m_stack.empty())
            return;
        decodePending();
        if (m_pendingText.isEmpty())
            return;
        m_total += static_cast<std::size_t>(m_pendingText.size());
        if (m_total > kMaxFileBytes)
            throw ERtfError("RTF document too large");
        applyAlignment();
        m_cursor.insertText(m_pendingText, charFormat());
        m_pendingText.clear();
    }

    void paragraph()
    {
        if (state().skip || state().dest != GroupState::Dest::Text)
            return;
        flush();
        applyAlignment();
        m_cursor.insertBlock(m_defaultBlock, charFormat());
        ++m_total;
    }

    std::string_view m_in;
    QTextCursor m_cursor;
    QTextCharFormat m_defaultFormat;
    QTextBlockFormat m_defaultBlock;
    std::vector<GroupState> m_stack;
    std::map<int, FontEntry> m_fonts;
    int m_fontIndex = 0;
    int m_defaultFont = -1;
    int m_ansiCodePage = 936;
    std::vector<QColor> m_colours;
    int m_red = 0, m_green = 0, m_blue = 0;
    bool m_colourSet = false;
    int m_skipBytes = 0;
    std::string m_pendingBytes;
    QString m_pendingText;
    std::size_t m_total = 0;
};

} // namespace

bool looksLikeRtf(std::string_view bytes)
{
    return bytes.substr(0, 5) == "{\\rtf";
}

void readRtf(std::string_view bytes, QTextDocument *doc)
{
    Reader reader(bytes, doc);
    reader.run();
}

std::string readFileBytes(const QString &windowsPath)
{
    const std::filesystem::path path = platform::hostPath(windowsPath);
    const auto cannotOpen = [&windowsPath](const char *why) {
        return std::runtime_error(
            QStringLiteral("Cannot open file \"%1\". %2").arg(windowsPath, QString::fromLocal8Bit(why)).toStdString());
    };
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
        throw cannotOpen(std::strerror(EISDIR));
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw cannotOpen(std::strerror(errno ? errno : ENOENT));
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (!ec && size > kMaxFileBytes)
        throw cannotOpen(std::strerror(EFBIG));
    std::string bytes;
    bytes.resize(ec ? 0 : static_cast<std::size_t>(size));
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

void loadRichMemo(QTextEdit *memo, const QString &windowsPath)
{
    memo->clear();
    const std::string bytes = readFileBytes(windowsPath);
    if (looksLikeRtf(bytes)) {
        try {
            readRtf(bytes, memo->document());
            memo->moveCursor(QTextCursor::Start);
            return;
        } catch (const ERtfError &) {
            // Retried as plain text below; only bytes that are not text
            // either make the load fail.
        }
        memo->clear();
        if (bytes.find('\0') != std::string::npos)
            throw std::runtime_error(kFailedToLoadStream);
    }
    memo->setPlainText(platform::decodeText(bytes));
}

void loadPlainMemo(QPlainTextEdit *memo, const QString &windowsPath)
{
    memo->clear();
    const std::string bytes = readFileBytes(windowsPath);
    memo->setPlainText(platform::decodeText(bytes));
}

} // namespace ui
