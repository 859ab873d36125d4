#include "ui/Fonts.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>

namespace ui {

QString cjkFamily()
{
    static const QString family = [] {
        const QStringList families = QFontDatabase::families();
        for (const char *candidate : {"WenQuanYi Micro Hei", "WenQuanYi Zen Hei", "Noto Sans CJK SC",
                                      "Noto Sans SC", "Droid Sans Fallback", "AR PL UMing CN"}) {
            const QString name = QString::fromLatin1(candidate);
            if (families.contains(name))
                return name;
        }
        for (const QString &f : families)
            if (QFontDatabase::writingSystems(f).contains(QFontDatabase::SimplifiedChinese))
                return f;
        return QApplication::font().family();
    }();
    return family;
}

void setupFonts()
{
    const QString cjk = cjkFamily();
    // Every face name the windows use falls back to the CJK face, so Chinese
    // text is legible whatever the name resolves to first.
    for (const char *face : {"宋体", "黑体", "楷体_GB2312", "楷体", "新宋体", "MS Sans Serif",
                             "Tahoma", "Arial", "Times New Roman", "Courier New", "Sans Serif"})
        QFont::insertSubstitution(QString::fromUtf8(face), cjk);
    QFont font(cjk);
    font.setPixelSize(12);
    QApplication::setFont(font);
}

} // namespace ui
