#include "platform/Dialogs.h"

#include <QApplication>
#include <QComboBox>
#include <QFontDialog>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

// Runs the real font dialog, letting `user` act on it once it is up.
bool runFontDialog(platform::TFontDialog &d, const std::function<void(QFontDialog &, QComboBox &)> &user)
{
    bool seen = false;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *dialog = qobject_cast<QFontDialog *>(QApplication::activeModalWidget());
        if (!dialog || seen)
            return;
        seen = true;
        auto *colours = dialog->findChild<QComboBox *>(QStringLiteral("colourList"));
        if (!colours) {
            ADD_FAILURE() << "the font dialog has no colour list";
            dialog->reject();
            return;
        }
        user(*dialog, *colours);
    });
    poll.start();
    const bool ok = d.Execute();
    EXPECT_TRUE(seen);
    return ok;
}

} // namespace

// The font dialog offers the classic sixteen colours below Qt's own
// choices, starts on the caller's colour and hands back both choices.
TEST(DialogsTest, FontDialogCarriesTheColourList)
{
    platform::TFontDialog d;
    d.Font = QFont(QStringLiteral("Sans"), 20);
    d.Color = QColor(0, 128, 0);
    const bool ok = runFontDialog(d, [](QFontDialog &dialog, QComboBox &colours) {
        EXPECT_EQ(colours.count(), 16);
        EXPECT_EQ(colours.currentText(), QStringLiteral("绿色"));
        colours.setCurrentIndex(colours.findText(QStringLiteral("红色")));
        QFont bigger = dialog.currentFont();
        bigger.setPointSize(28);
        dialog.setCurrentFont(bigger);
        dialog.accept();
    });
    ASSERT_TRUE(ok);
    EXPECT_EQ(d.Color, QColor(255, 0, 0));
    EXPECT_EQ(d.Font.pointSize(), 28);

    // A colour that is not in the list is kept as a custom entry; cancelling
    // changes nothing.
    d.Color = QColor(10, 20, 30);
    EXPECT_FALSE(runFontDialog(d, [](QFontDialog &dialog, QComboBox &colours) {
        EXPECT_EQ(colours.count(), 17);
        EXPECT_EQ(colours.currentData().value<QColor>(), QColor(10, 20, 30));
        colours.setCurrentIndex(0);
        dialog.reject();
    }));
    EXPECT_EQ(d.Color, QColor(10, 20, 30));
    EXPECT_EQ(d.Font.pointSize(), 28);
}
