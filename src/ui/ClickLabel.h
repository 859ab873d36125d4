#pragma once

#include <QLabel>

#include <functional>

namespace ui {

// A label that acts on a left click, like the skinned labels the windows
// use as links ("播放下一项-->"). OnClick runs through the error display.
// UI thread only.
class ClickLabel : public QLabel
{
    Q_OBJECT
public:
    explicit ClickLabel(const QString &text, QWidget *parent = nullptr);

    std::function<void()> OnClick;

    // Runs the click as a person's click would (tests drive it through this).
    void click();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
};

} // namespace ui
