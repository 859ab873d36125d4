#pragma once

#include <QImage>
#include <QWidget>

#include <functional>

// An image control: shows one picture at its natural size and reports mouse
// movement over it in picture coordinates. The picture is held as a value
// that handlers draw into directly; update() shows the new contents.
// UI thread only.
class PictureBox : public QWidget
{
    Q_OBJECT
public:
    explicit PictureBox(QWidget *parent = nullptr);

    // The picture drawn by this control. The control sizes itself to it.
    [[nodiscard]] QImage &picture() { return m_picture; }
    [[nodiscard]] const QImage &picture() const { return m_picture; }
    void setPicture(const QImage &picture);

    // Mouse movement over the picture, also without a button held.
    std::function<void(int x, int y)> OnMouseMove;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    QImage m_picture;
};
