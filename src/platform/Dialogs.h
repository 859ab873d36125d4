#pragma once

#include <QColor>
#include <QFont>
#include <QString>

#include <functional>
#include <utility>
#include <vector>

class QWidget;

// Message boxes and the common dialogs, each behind a small class whose
// Execute a test can script. UI thread only.
namespace platform {

enum class MsgIcon { None, Information, Warning, Error, Question };
enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MsgResult { Ok, Cancel, Yes, No };

struct MessageRequest {
    QString text;
    QString caption;
    MsgIcon icon = MsgIcon::None;
    MsgButtons buttons = MsgButtons::Ok;
};

// Shows a modal message box; returns the button pressed.
MsgResult messageBox(QWidget *parent, const QString &text, const QString &caption,
                     MsgIcon icon = MsgIcon::None, MsgButtons buttons = MsgButtons::Ok);

// Tests answer message boxes instead of a person: the script sees each
// request and returns the button to press.
using MessageScript = std::function<MsgResult(const MessageRequest &)>;
void setMessageScript(MessageScript script);

// Open and save dialogs with a Windows-style filter ("名称|*.ext|...").
class TOpenDialog
{
public:
    QString Filter;
    QString DefaultExt;
    QString InitialDir;
    QString FileName;
    QString Title;

    // Shows the dialog; true with FileName set when the user chose a file.
    bool Execute(QWidget *parent = nullptr);

    // A test script receives the dialog, may set FileName, and returns
    // what Execute returns.
    using Script = std::function<bool(TOpenDialog &)>;
    static void setScript(Script script);
};

class TSaveDialog
{
public:
    QString Filter;
    QString DefaultExt;
    QString InitialDir;
    QString FileName;
    QString Title;

    bool Execute(QWidget *parent = nullptr);

    using Script = std::function<bool(TSaveDialog &)>;
    static void setScript(Script script);
};

// The font dialog with the colour list of the classic one: face, size and
// style from Qt's font dialog, and a "颜色" list of the sixteen basic colours
// below them.
class TFontDialog
{
public:
    QFont Font;
    QColor Color = Qt::black;

    bool Execute(QWidget *parent = nullptr);

    using Script = std::function<bool(TFontDialog &)>;
    static void setScript(Script script);
};

// The sixteen basic colours of the font dialog's colour list, with their
// names as the list shows them.
[[nodiscard]] const std::vector<std::pair<QString, QRgb>> &basicColours();

// "Text files|*.txt|All|*.*" to Qt's "Text files (*.txt);;All (*.*)".
[[nodiscard]] QString qtFilter(const QString &windowsFilter);

} // namespace platform
