#include "platform/ErrorDisplay.h"

#include "platform/AppTitle.h"

#include <QApplication>
#include <QMessageBox>

namespace platform {

namespace {

ErrorSink &sink()
{
    static ErrorSink s;
    return s;
}

} // namespace

QString errorText(const QString &message)
{
    QString text = message;
    // The comparison is by code unit, as the original compared characters
    // of the ANSI string: anything above '.' gets a full stop.
    if (!text.isEmpty() && text.back().unicode() > u'.')
        text += u'.';
    return text;
}

QString exceptionMessage(const std::exception &e)
{
    return QString::fromUtf8(e.what());
}

void setErrorSink(ErrorSink s)
{
    sink() = std::move(s);
}

void showError(const QString &message)
{
    const QString caption = applicationTitle();
    const QString text = errorText(message);
    if (sink()) {
        sink()(caption, text);
        return;
    }
    QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

} // namespace platform
