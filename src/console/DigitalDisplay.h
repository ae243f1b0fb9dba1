#pragma once
// A time display in a digital face: right-aligned text in its box, drawn at the box's own font size,
// or smaller when the text would not fit (a long track's "123:04.2"), so no digit is ever cut off.
#include <QLabel>

class DigitalDisplay : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

    // The font the current text is drawn with.
    QFont fittedFont() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};
