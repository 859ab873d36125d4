#pragma once

#include <QLabel>

#include <functional>

// A link label: an underlined caption with a hand pointer that runs OnClick
// when clicked with the left button. Its colour is the system highlight
// colour until the owner marks it visited. UI thread only.
class LinkLabel : public QLabel
{
    Q_OBJECT
public:
    explicit LinkLabel(const QString &caption, QWidget *parent = nullptr);

    [[nodiscard]] bool visited() const { return m_visited; }
    void setVisited(bool visited);
    [[nodiscard]] QColor linkColour() const;

    std::function<void()> OnClick;

    static const QColor kVisitedColour;

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void applyColour();

    bool m_visited = false;
};
