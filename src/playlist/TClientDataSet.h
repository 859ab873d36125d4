#pragma once

#include <QString>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// The in-memory table of an XML data packet (DATAPACKET / METADATA / FIELDS
// / ROWDATA / ROW), standing in for the client data-set engine. It is read
// whole on Open and never written. Only what the test window relies on is
// offered: file name, open, close, first, next, prior, end-of-data,
// bookmarks and fields by name. UI thread only.

// A failure of the table; messages begin with the table's name and ": ".
class EDatabaseError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// A field's text that is not an integer ("'%s' is not a valid integer value").
class EConvertError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

struct TFieldDef {
    QString name;      // fieldname when the packet gives one, else attrname
    QString attrName;  // the attribute name used in each ROW
    QString fieldType; // "string", "i4", "nested", ...
    int width = 0;     // WIDTH, 0 when absent
};

// One row: a value per field, absent for NULL (an attribute the row leaves out).
using TDataRow = std::vector<std::optional<QString>>;

// The parsed packet.
struct TDataPacket {
    std::vector<TFieldDef> fields;
    std::vector<TDataRow> rows;
};

// Parses packet bytes. The encoding is taken from a byte order mark, then
// from the XML declaration; without either, valid UTF-8 is read as UTF-8
// and anything else as the ANSI code page (CP936). Bad input throws
// EDatabaseError with "<tableName>: " and a description.
[[nodiscard]] TDataPacket parseDataPacket(std::string_view bytes, const QString &tableName);

// A bookmark: the position of one record. It stays valid for every reading
// of the same file, since a row's position is its place in the file.
struct TBookmark {
    int row = -1;
    [[nodiscard]] bool valid() const { return row >= 0; }
    friend bool operator==(const TBookmark &, const TBookmark &) = default;
};

// The current record's value of one field.
class TField
{
public:
    TField(QString name, std::optional<QString> value) : m_name(std::move(name)), m_value(std::move(value)) {}
    [[nodiscard]] const QString &FieldName() const { return m_name; }
    [[nodiscard]] bool IsNull() const { return !m_value.has_value(); }
    // NULL reads as the empty text.
    [[nodiscard]] QString AsString() const { return m_value.value_or(QString()); }
    // The text as a signed 32-bit decimal integer (leading blanks allowed);
    // anything else throws EConvertError.
    [[nodiscard]] int AsInteger() const;

private:
    QString m_name;
    std::optional<QString> m_value;
};

class TClientDataSet
{
public:
    explicit TClientDataSet(QString name = QStringLiteral("dsplaylist"));

    [[nodiscard]] const QString &Name() const { return m_name; }

    // A Windows path ("c:\testtank\information.xml"), mapped to the host
    // when the table opens.
    [[nodiscard]] const QString &FileName() const { return m_fileName; }
    void setFileName(const QString &fileName) { m_fileName = fileName; }

    // Reads the whole file; the cursor stands on the first record and
    // end-of-data is set only when the table is empty. On failure the table
    // stays closed.
    void Open();
    // Empties the table; the cursor is gone.
    void Close();
    void setActive(bool on) { on ? Open() : Close(); }
    [[nodiscard]] bool Active() const { return m_active; }

    void First();
    // At the last record the cursor stays and end-of-data becomes set.
    void Next();
    // At the first record the cursor stays.
    void Prior();
    // A closed table counts as being at end-of-data.
    [[nodiscard]] bool Eof() const { return !m_active || m_eof; }

    [[nodiscard]] TBookmark GetBookmark() const;
    void GotoBookmark(const TBookmark &bookmark);

    // The current record's field, found without regard to letter case.
    [[nodiscard]] TField FieldByName(const QString &name) const;
    [[nodiscard]] const TFieldDef *FindField(const QString &name) const;

    [[nodiscard]] int RecordCount() const;
    // Position of the current record, from 0; -1 when there is none.
    [[nodiscard]] int RecNo() const { return m_active ? m_cursor : -1; }
    [[nodiscard]] const std::vector<TFieldDef> &Fields() const { return m_packet.fields; }

private:
    [[noreturn]] void fail(const QString &what) const;
    void checkActive() const;

    QString m_name;
    QString m_fileName;
    TDataPacket m_packet;
    bool m_active = false;
    bool m_eof = false;
    int m_cursor = -1;
};
