#include "platform/AppTitle.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace platform {

QString titleFromExecutable(const QString &path)
{
    QString name = QFileInfo(path).fileName();
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot > 0)
        name.truncate(dot);
    if (name.size() > 1)
        name = name.left(1) + name.mid(1).toLower();
    return name;
}

QString applicationTitle()
{
    if (QCoreApplication::instance())
        return titleFromExecutable(QCoreApplication::applicationFilePath());
    return QStringLiteral("quenvar");
}

QString executableDir()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QStringLiteral(".");
}

} // namespace platform
