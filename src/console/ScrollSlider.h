#pragma once
// A vertical volume slider whose Scroll signal comes only from the user: keys, mouse and wheel, and
// every step that holding a key or the mouse on the track repeats. A value the program writes raises
// nothing, so handlers apply a program-set value by calling the slider's handler themselves.
#include <QSlider>

class ScrollSlider : public QSlider {
    Q_OBJECT
public:
    explicit ScrollSlider(QWidget* parent = nullptr);

signals:
    void Scroll();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    // The steps of a press held on the track come from the slider's own repeat timer.
    void timerEvent(QTimerEvent* event) override;

private:
    bool m_userInput = false;
};
