#include "platform/Dialogs.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
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
    QFontDialog dialog(Font, parent);
    dialog.setOption(QFontDialog::DontUseNativeDialog);
    // The colour list, as the classic dialog has it under the effects.
    auto *colours = new QComboBox(&dialog);
    colours->setObjectName(QStringLiteral("colourList"));
    const auto addColour = [colours](const QString &name, const QColor &colour) {
        QPixmap swatch(24, 12);
        swatch.fill(colour);
        colours->addItem(QIcon(swatch), name, colour);
    };
    for (const auto &[name, rgb] : basicColours())
        addColour(name, QColor::fromRgb(rgb));
    if (colours->findData(Color) < 0)
        addColour(QStringLiteral("自定义"), Color);
    colours->setCurrentIndex(colours->findData(Color));
    auto *label = new QLabel(QStringLiteral("颜色(&C):"), &dialog);
    label->setBuddy(colours);
    if (auto *grid = qobject_cast<QGridLayout *>(dialog.layout())) {
        // Qt's dialog keeps its buttons in the last row; the list goes above.
        const int row = grid->rowCount();
        QLayoutItem *buttons = nullptr;
        for (int i = 0; i < grid->count(); ++i) {
            int r, c, rs, cs;
            grid->getItemPosition(i, &r, &c, &rs, &cs);
            if (r == row - 1 && qobject_cast<QDialogButtonBox *>(grid->itemAt(i)->widget())) {
                buttons = grid->takeAt(i);
                break;
            }
        }
        auto *line = new QHBoxLayout;
        line->addWidget(label);
        line->addWidget(colours, 1);
        grid->addLayout(line, buttons ? row - 1 : row, 0, 1, grid->columnCount());
        if (buttons)
            grid->addItem(buttons, row, 0, 1, grid->columnCount());
    } else {
        dialog.layout()->addWidget(label);
        dialog.layout()->addWidget(colours);
    }
    if (dialog.exec() != QDialog::Accepted)
        return false;
    Font = dialog.selectedFont();
    Color = colours->currentData().value<QColor>();
    return true;
}

const std::vector<std::pair<QString, QRgb>> &basicColours()
{
    static const std::vector<std::pair<QString, QRgb>> colours{
        {QStringLiteral("黑色"), qRgb(0, 0, 0)},         {QStringLiteral("褐红色"), qRgb(128, 0, 0)},
        {QStringLiteral("绿色"), qRgb(0, 128, 0)},       {QStringLiteral("橄榄色"), qRgb(128, 128, 0)},
        {QStringLiteral("藏青色"), qRgb(0, 0, 128)},     {QStringLiteral("紫色"), qRgb(128, 0, 128)},
        {QStringLiteral("深青色"), qRgb(0, 128, 128)},   {QStringLiteral("灰色"), qRgb(128, 128, 128)},
        {QStringLiteral("银色"), qRgb(192, 192, 192)},   {QStringLiteral("红色"), qRgb(255, 0, 0)},
        {QStringLiteral("酸橙色"), qRgb(0, 255, 0)},     {QStringLiteral("黄色"), qRgb(255, 255, 0)},
        {QStringLiteral("蓝色"), qRgb(0, 0, 255)},       {QStringLiteral("紫红色"), qRgb(255, 0, 255)},
        {QStringLiteral("水绿色"), qRgb(0, 255, 255)},   {QStringLiteral("白色"), qRgb(255, 255, 255)},
    };
    return colours;
}

} // namespace platform
