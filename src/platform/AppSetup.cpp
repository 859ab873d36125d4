#include "platform/AppSetup.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace platform {

namespace {

bool isUtf8(const char *locale)
{
    return locale && (strcasestr(locale, "UTF-8") || strcasestr(locale, "utf8"));
}

} // namespace

void ensureUtf8Locale()
{
    const char *ctype = std::setlocale(LC_CTYPE, "");
    if (isUtf8(ctype))
        return;
    if (std::setlocale(LC_CTYPE, "C.UTF-8"))
        setenv("LC_CTYPE", "C.UTF-8", 1);
}

void fixNumericLocale()
{
    std::setlocale(LC_NUMERIC, "C");
}

bool installChineseQtTexts()
{
    static QTranslator translator;
    if (!translator.isEmpty())
        return true;
    if (!translator.load(QLocale(QLocale::Chinese, QLocale::SimplifiedChineseScript, QLocale::China),
                         QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    return QCoreApplication::installTranslator(&translator);
}

} // namespace platform
