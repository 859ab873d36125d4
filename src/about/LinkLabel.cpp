#include "about/LinkLabel.h"

#include "platform/ErrorDisplay.h"

#include <QMouseEvent>

const QColor LinkLabel::kVisitedColour(128, 0, 128);

LinkLabel::LinkLabel(const QString &caption, QWidget *parent) : QLabel(caption, parent)
{
    setCursor(Qt::PointingHandCursor);
    applyColour();
}

void LinkLabel::setVisited(bool visited)
{
    if (visited == m_visited)
        return;
    m_visited = visited;
    applyColour();
}

QColor LinkLabel::linkColour() const
{
    return palette().color(QPalette::WindowText);
}

void LinkLabel::applyColour()
{
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText,
                 m_visited ? kVisitedColour : QPalette().color(QPalette::Highlight));
    setPalette(pal);
}

void LinkLabel::mousePressEvent(QMouseEvent *event)
{
    // A plain label ignores presses, which hands the press (and with it the
    // release) to the window underneath; the label must keep it to see the
    // click.
    if (event->button() == Qt::LeftButton)
        event->accept();
    else
        QLabel::mousePressEvent(event);
}

void LinkLabel::mouseReleaseEvent(QMouseEvent *event)
{
    QLabel::mouseReleaseEvent(event);
    // A press that is dragged off the label and released elsewhere is no
    // click.
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && OnClick)
        platform::guarded(OnClick);
}
