#include "console/DigitalDisplay.h"

#include <QPainter>

namespace {
constexpr int kPadding = 3;
}

QFont DigitalDisplay::fittedFont() const {
    QFont fitted = font();
    const int room = contentsRect().width() - 2 * kPadding;
    while (fitted.pointSizeF() > 4.0 && QFontMetrics(fitted).horizontalAdvance(text()) > room)
        fitted.setPointSizeF(fitted.pointSizeF() * 0.92);
    return fitted;
}

void DigitalDisplay::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    drawFrame(&painter);
    painter.setFont(fittedFont());
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(contentsRect().adjusted(kPadding, 0, -kPadding, 0), static_cast<int>(alignment()), text());
}
