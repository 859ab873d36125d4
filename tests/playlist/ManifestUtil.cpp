#include "ManifestUtil.h"

#include "platform/CodePage.h"

namespace manifest {

QString escape(const QString &s)
{
    QString out;
    for (QChar c : s) {
        switch (c.unicode()) {
        case u'&': out += QStringLiteral("&amp;"); break;
        case u'<': out += QStringLiteral("&lt;"); break;
        case u'>': out += QStringLiteral("&gt;"); break;
        case u'"': out += QStringLiteral("&quot;"); break;
        case u'\'': out += QStringLiteral("&apos;"); break;
        case u'\r': out += QStringLiteral("&#013;"); break;
        case u'\n': out += QStringLiteral("&#010;"); break;
        default: out += c;
        }
    }
    return out;
}

std::string packet(const std::vector<Row> &rows, Encoding encoding)
{
    QString prolog = QStringLiteral("<?xml version=\"1.0\" standalone=\"yes\"?>");
    if (encoding == Encoding::Utf8Declared)
        prolog = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>");
    else if (encoding == Encoding::Gb2312Declared)
        prolog = QStringLiteral("<?xml version=\"1.0\" encoding=\"gb2312\" standalone=\"yes\"?>");
    QString x = prolog + QStringLiteral("  <DATAPACKET Version=\"2.0\"><METADATA><FIELDS>");
    x += QStringLiteral("<FIELD attrname=\"RowID\" fieldtype=\"i4\"/>");
    for (const char *name : {"ItemID", "SubItemID", "PlayIndex", "FileType", "FilePath", "PlayTime", "PlayFlag",
                             "PlayDesc", "PlayHint", "Font"})
        x += QStringLiteral("<FIELD attrname=\"%1\" fieldtype=\"string\" WIDTH=\"100\"/>").arg(QLatin1String(name));
    x += QStringLiteral("</FIELDS><PARAMS LCID=\"2052\"/></METADATA><ROWDATA>");
    int id = 1;
    for (const Row &r : rows) {
        x += QStringLiteral("<ROW RowID=\"%1\"").arg(id);
        const auto attr = [&x](const char *name, const QString &v) {
            x += QStringLiteral(" %1=\"%2\"").arg(QLatin1String(name), escape(v));
        };
        attr("ItemID", r.itemId);
        attr("SubItemID", r.subItemId);
        attr("PlayIndex", QString::number(id));
        attr("FileType", r.fileType);
        attr("FilePath", r.filePath);
        attr("PlayTime", r.playTime);
        attr("PlayFlag", QStringLiteral("0"));
        attr("PlayDesc", r.playDesc);
        attr("PlayHint", r.playHint);
        attr("Font", r.font);
        x += QStringLiteral("/>");
        ++id;
    }
    x += QStringLiteral("</ROWDATA></DATAPACKET>");
    if (encoding == Encoding::GbkBare || encoding == Encoding::Gb2312Declared)
        return platform::toAnsi(x);
    return x.toStdString();
}

} // namespace manifest
