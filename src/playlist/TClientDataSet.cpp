#include "playlist/TClientDataSet.h"

#include "platform/CodePage.h"
#include "platform/WinPath.h"

#include <QRegularExpression>
#include <QXmlStreamReader>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <system_error>

namespace {

// A manifest is a few kilobytes; anything this large is not one, and
// reading it whole would only exhaust memory.
constexpr std::uintmax_t kMaxPacketBytes = 64u * 1024u * 1024u;

std::string utf8(const QString &s)
{
    return s.toStdString();
}

// The declared encoding of an XML prolog, or empty.
std::string declaredEncoding(std::string_view bytes)
{
    const std::string_view head = bytes.substr(0, std::min<std::size_t>(bytes.size(), 512));
    if (head.substr(0, 5) != "<?xml")
        return {};
    const std::size_t end = head.find("?>");
    const QString prolog = QString::fromLatin1(head.data(), static_cast<qsizetype>(end == std::string_view::npos ? head.size() : end));
    static const QRegularExpression re(QStringLiteral(R"(encoding\s*=\s*["']([A-Za-z0-9._:-]+)["'])"));
    const QRegularExpressionMatch m = re.match(prolog);
    return m.hasMatch() ? m.captured(1).toStdString() : std::string();
}

QString decodePacket(std::string_view bytes)
{
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF")
        return QString::fromUtf8(bytes.data() + 3, static_cast<qsizetype>(bytes.size() - 3));
    if (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF")
        return platform::decodeText(bytes);
    const std::string encoding = declaredEncoding(bytes);
    if (!encoding.empty())
        return platform::fromCodePage(bytes, encoding);
    return platform::decodeText(bytes);
}

// The text is already decoded, so the declaration's encoding must not make
// the XML reader decode it a second time: the prolog is dropped.
QString withoutProlog(const QString &text)
{
    if (!text.startsWith(QLatin1String("<?xml")))
        return text;
    const qsizetype end = text.indexOf(QLatin1String("?>"));
    return end < 0 ? text : text.mid(end + 2);
}

class PacketReader
{
public:
    PacketReader(const QString &text, const QString &tableName) : m_xml(text), m_table(tableName) {}

    TDataPacket read()
    {
        if (!nextElement())
            fail(QStringLiteral("no DATAPACKET element"));
        if (m_xml.name() != QLatin1String("DATAPACKET"))
            fail(QStringLiteral("root element is %1, not DATAPACKET").arg(m_xml.name().toString()));
        bool haveMeta = false;
        bool haveRows = false;
        while (nextChild()) {
            if (m_xml.name() == QLatin1String("METADATA")) {
                readMetadata();
                haveMeta = true;
            } else if (m_xml.name() == QLatin1String("ROWDATA")) {
                if (!haveMeta)
                    fail(QStringLiteral("ROWDATA before METADATA"));
                readRows();
                haveRows = true;
            } else {
                m_xml.skipCurrentElement();
            }
        }
        checkXml();
        if (!haveMeta)
            fail(QStringLiteral("no METADATA element"));
        if (!haveRows)
            fail(QStringLiteral("no ROWDATA element"));
        // Nothing but comments and blanks may follow the root.
        while (!m_xml.atEnd()) {
            const auto t = m_xml.readNext();
            if (t == QXmlStreamReader::StartElement)
                fail(QStringLiteral("content after DATAPACKET"));
        }
        checkXml();
        return std::move(m_packet);
    }

private:
    [[noreturn]] void fail(const QString &what)
    {
        throw EDatabaseError(utf8(QStringLiteral("%1: Invalid data packet: %2 (line %3, column %4)")
                                      .arg(m_table, what)
                                      .arg(m_xml.lineNumber())
                                      .arg(m_xml.columnNumber())));
    }

    void checkXml()
    {
        if (m_xml.hasError())
            fail(m_xml.errorString());
    }

    // The next start element anywhere (used for the root).
    bool nextElement()
    {
        while (!m_xml.atEnd()) {
            if (m_xml.readNext() == QXmlStreamReader::StartElement)
                return true;
        }
        checkXml();
        return false;
    }

    // The next child start element of the current element; false at its end.
    bool nextChild()
    {
        const bool more = m_xml.readNextStartElement();
        checkXml();
        return more;
    }

    void readMetadata()
    {
        bool haveFields = false;
        while (nextChild()) {
            if (m_xml.name() == QLatin1String("FIELDS")) {
                haveFields = true;
                while (nextChild()) {
                    if (m_xml.name() == QLatin1String("FIELD"))
                        readField();
                    else
                        m_xml.skipCurrentElement();
                }
            } else {
                m_xml.skipCurrentElement();
            }
            checkXml();
        }
        if (!haveFields)
            fail(QStringLiteral("METADATA without FIELDS"));
    }

    void readField()
    {
        const QXmlStreamAttributes a = m_xml.attributes();
        TFieldDef f;
        f.attrName = a.value(QLatin1String("attrname")).toString();
        if (f.attrName.isEmpty())
            fail(QStringLiteral("FIELD without attrname"));
        f.name = a.hasAttribute(QLatin1String("fieldname")) ? a.value(QLatin1String("fieldname")).toString()
                                                             : f.attrName;
        f.fieldType = a.value(QLatin1String("fieldtype")).toString();
        bool ok = false;
        const int width = a.value(QLatin1String("WIDTH")).toInt(&ok);
        f.width = ok ? width : 0;
        for (const TFieldDef &g : m_packet.fields)
            if (g.attrName == f.attrName)
                fail(QStringLiteral("field %1 declared twice").arg(f.attrName));
        m_packet.fields.push_back(std::move(f));
        // A nested field's own FIELDS and PARAMS describe the detail table,
        // which this table does not offer.
        m_xml.skipCurrentElement();
        checkXml();
    }

    void readRows()
    {
        while (nextChild()) {
            if (m_xml.name() != QLatin1String("ROW")) {
                m_xml.skipCurrentElement();
                continue;
            }
            TDataRow row(m_packet.fields.size());
            for (const QXmlStreamAttribute &attr : m_xml.attributes()) {
                // Attributes that are not declared fields (RowState, stray
                // values of third-party writers) carry nothing we read.
                for (std::size_t i = 0; i < m_packet.fields.size(); ++i) {
                    if (m_packet.fields[i].attrName == attr.name()) {
                        row[i] = attr.value().toString();
                        break;
                    }
                }
            }
            m_packet.rows.push_back(std::move(row));
            // Detail rows of nested fields are children of the ROW.
            m_xml.skipCurrentElement();
            checkXml();
        }
    }

    QXmlStreamReader m_xml;
    QString m_table;
    TDataPacket m_packet;
};

} // namespace

TDataPacket parseDataPacket(std::string_view bytes, const QString &tableName)
{
    const QString text = withoutProlog(decodePacket(bytes));
    PacketReader reader(text, tableName);
    return reader.read();
}

int TField::AsInteger() const
{
    const QString text = AsString();
    const auto bad = [&text]() -> EConvertError {
        return EConvertError(utf8(QStringLiteral("'%1' is not a valid integer value").arg(text)));
    };
    qsizetype i = 0;
    while (i < text.size() && text[i] == u' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i >= text.size())
        throw bad();
    long long value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            throw bad();
        value = value * 10 + (c - u'0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            throw bad();
    }
    if (negative)
        value = -value;
    if (value > INT_MAX || value < INT_MIN)
        throw bad();
    return static_cast<int>(value);
}

TClientDataSet::TClientDataSet(QString name) : m_name(std::move(name)) {}

void TClientDataSet::fail(const QString &what) const
{
    throw EDatabaseError(utf8(m_name + QStringLiteral(": ") + what));
}

void TClientDataSet::checkActive() const
{
    if (!m_active)
        fail(QStringLiteral("Cannot perform this operation on a closed dataset"));
}

void TClientDataSet::Open()
{
    if (m_active)
        return;
    if (m_fileName.isEmpty())
        fail(QStringLiteral("Missing data provider or data packet"));
    const std::filesystem::path path = platform::hostPath(m_fileName);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        fail(QStringLiteral("Missing data provider or data packet"));
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec || size > kMaxPacketBytes)
        fail(QStringLiteral("Invalid data packet: the file is too large"));
    std::ifstream in(path, std::ios::binary);
    if (!in)
        fail(QStringLiteral("Cannot open file \"%1\". %2").arg(m_fileName, QString::fromLocal8Bit(std::strerror(errno))));
    std::string bytes(static_cast<std::size_t>(size), '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    m_packet = parseDataPacket(bytes, m_name);
    m_active = true;
    m_cursor = m_packet.rows.empty() ? -1 : 0;
    m_eof = m_packet.rows.empty();
}

void TClientDataSet::Close()
{
    m_packet = {};
    m_active = false;
    m_eof = false;
    m_cursor = -1;
}

int TClientDataSet::RecordCount() const
{
    return m_active ? static_cast<int>(m_packet.rows.size()) : 0;
}

void TClientDataSet::First()
{
    checkActive();
    m_cursor = m_packet.rows.empty() ? -1 : 0;
    m_eof = m_packet.rows.empty();
}

void TClientDataSet::Next()
{
    checkActive();
    if (m_cursor + 1 < RecordCount()) {
        ++m_cursor;
        m_eof = false;
    } else {
        m_eof = true;
    }
}

void TClientDataSet::Prior()
{
    checkActive();
    if (m_cursor > 0)
        --m_cursor;
    m_eof = m_packet.rows.empty();
}

TBookmark TClientDataSet::GetBookmark() const
{
    checkActive();
    return TBookmark{m_cursor};
}

void TClientDataSet::GotoBookmark(const TBookmark &bookmark)
{
    checkActive();
    if (bookmark.row < 0 || bookmark.row >= RecordCount())
        fail(QStringLiteral("Record not found"));
    m_cursor = bookmark.row;
    m_eof = false;
}

const TFieldDef *TClientDataSet::FindField(const QString &name) const
{
    for (const TFieldDef &f : m_packet.fields)
        if (f.name.compare(name, Qt::CaseInsensitive) == 0)
            return &f;
    return nullptr;
}

TField TClientDataSet::FieldByName(const QString &name) const
{
    checkActive();
    const TFieldDef *def = FindField(name);
    if (!def)
        fail(QStringLiteral("Field '%1' not found").arg(name));
    if (m_cursor < 0)
        return TField(def->name, std::nullopt);
    const auto index = static_cast<std::size_t>(def - m_packet.fields.data());
    return TField(def->name, m_packet.rows[static_cast<std::size_t>(m_cursor)][index]);
}
