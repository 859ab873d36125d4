#include "ui/ClickLabel.h"

#include "platform/ErrorDisplay.h"

#include <QMouseEvent>

namespace ui {

ClickLabel::ClickLabel(const QString &text, QWidget *parent) : QLabel(text, parent)
{
    setCursor(Qt::PointingHandCursor);
}

void ClickLabel::click()
{
    if (OnClick)
        platform::guarded(OnClick);
}

void ClickLabel::mouseReleaseEvent(QMouseEvent *event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        click();
}

} // namespace ui
