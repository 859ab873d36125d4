#include "platform/Dialogs.h"

#include <QFileDialog>
#include <QFontDialog>
#include <QMessageBox>
#include <QStringList>

namespace platform {

namespace {

MessageScript &messageScript()
{
    static MessageScript s;
    return s;
}

TOpenDialog::Script &openScript()
{
    static TOpenDialog::Script s;
    return s;
}

TSaveDialog::Script &saveScript()
{
    static TSaveDialog::Script s;
    return s;
}

TFontDialog::Script &fontScript()
{
    static TFontDialog::Script s;
    return s;
}

QString withDefaultExt(const QString &file, const QString &ext)
{
    if (file.isEmpty() || ext.isEmpty())
        return file;
    const qsizetype slash = file.lastIndexOf(u'/');
    if (file.indexOf(u'.', slash + 1) >= 0)
        return file;
    return file + u'.' + (ext.startsWith(u'.') ? ext.mid(1) : ext);
}

} // namespace

QString qtFilter(const QString &windowsFilter)
{
    const QStringList parts = windowsFilter.split(u'|');
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(u';', u' ');
        out << QStringLiteral("%1 (%2)").arg(parts[i], patterns);
    }
    return out.join(QStringLiteral(";;"));
}

void setMessageScript(MessageScript script)
{
    messageScript() = std::move(script);
}

MsgResult messageBox(QWidget *parent, const QString &text, const QString &caption, MsgIcon icon,
                     MsgButtons buttons)
{
    if (messageScript())
        return messageScript()(MessageRequest{text, caption, icon, buttons});

    QMessageBox::Icon qicon = QMessageBox::NoIcon;
    switch (icon) {
    case MsgIcon::None: qicon = QMessageBox::NoIcon; break;
    case MsgIcon::Information: qicon = QMessageBox::Information; break;
    case MsgIcon::Warning: qicon = QMessageBox::Warning; break;
    case MsgIcon::Error: qicon = QMessageBox::Critical; break;
    case MsgIcon::Question: qicon = QMessageBox::Question; break;
    }
    QMessageBox::StandardButtons qbuttons = QMessageBox::Ok;
    switch (buttons) {
    case MsgButtons::Ok: qbuttons = QMessageBox::Ok; break;
    case MsgButtons::OkCancel: qbuttons = QMessageBox::Ok | QMessageBox::Cancel; break;
    case MsgButtons::YesNo: qbuttons = QMessageBox::Yes | QMessageBox::No; break;
    case MsgButtons::YesNoCancel:
        qbuttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        break;
    }
    QMessageBox box(qicon, caption, text, qbuttons, parent);
    switch (box.exec()) {
    case QMessageBox::Yes: return MsgResult::Yes;
    case QMessageBox::No: return MsgResult::No;
    case QMessageBox::Cancel: return MsgResult::Cancel;
    default: return buttons == MsgButtons::YesNo ? MsgResult::No : MsgResult::Ok;
    }
}

void TOpenDialog::setScript(Script script) { openScript() = std::move(script); }
void TSaveDialog::setScript(Script script) { saveScript() = std::move(script); }
void TFontDialog::setScript(Script script) { fontScript() = std::move(script); }

bool TOpenDialog::Execute(QWidget *parent)
{
    if (openScript())
        return openScript()(*this);
    const QString chosen = QFileDialog::getOpenFileName(parent, Title, InitialDir, qtFilter(Filter));
    if (chosen.isEmpty())
        return false;
    FileName = chosen;
    return true;
}

bool TSaveDialog::Execute(QWidget *parent)
{
    if (saveScript())
        return saveScript()(*this);
    QFileDialog dialog(parent, Title, InitialDir, qtFilter(Filter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    if (!DefaultExt.isEmpty())
        dialog.setDefaultSuffix(DefaultExt);
    if (!FileName.isEmpty())
        dialog.selectFile(FileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    FileName = withDefaultExt(dialog.selectedFiles().front(), DefaultExt);
    return true;
}

bool TFontDialog::Execute(QWidget *parent)
{
    if (fontScript())
        return fontScript()(*this);
    bool ok = false;
    const QFont chosen = QFontDialog::getFont(&ok, Font, parent);
    if (ok)
        Font = chosen;
    return ok;
}

} // namespace platform
