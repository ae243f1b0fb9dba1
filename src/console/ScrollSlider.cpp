#include "console/ScrollSlider.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>

ScrollSlider::ScrollSlider(QWidget* parent) : QSlider(Qt::Vertical, parent) {
    connect(this, &QAbstractSlider::valueChanged, this, [this] {
        if (m_userInput)
            emit Scroll();
    });
}

namespace {
// Marks the span in which an input event may change the value.
class UserInput {
public:
    explicit UserInput(bool& flag) : m_flag(flag), m_outer(flag) { m_flag = true; }
    ~UserInput() { m_flag = m_outer; }

private:
    bool& m_flag;
    bool m_outer;
};
} // namespace

void ScrollSlider::keyPressEvent(QKeyEvent* event) {
    UserInput input(m_userInput);
    QSlider::keyPressEvent(event);
}
void ScrollSlider::mousePressEvent(QMouseEvent* event) {
    UserInput input(m_userInput);
    QSlider::mousePressEvent(event);
}
void ScrollSlider::mouseMoveEvent(QMouseEvent* event) {
    UserInput input(m_userInput);
    QSlider::mouseMoveEvent(event);
}
void ScrollSlider::mouseReleaseEvent(QMouseEvent* event) {
    UserInput input(m_userInput);
    QSlider::mouseReleaseEvent(event);
}
void ScrollSlider::wheelEvent(QWheelEvent* event) {
    UserInput input(m_userInput);
    QSlider::wheelEvent(event);
}
void ScrollSlider::timerEvent(QTimerEvent* event) {
    // A repeat action is set only while the user holds the mouse on the track.
    if (repeatAction() == SliderNoAction) {
        QSlider::timerEvent(event);
        return;
    }
    UserInput input(m_userInput);
    QSlider::timerEvent(event);
}
