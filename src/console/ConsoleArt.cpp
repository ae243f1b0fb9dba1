#include "console/ConsoleArt.h"

#include <QPainter>

QIcon drawConsoleIcon() {
    // Three fader strips on a dark panel, the middle one raised: three decks, one live.
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(20, 20, 20), 1));
    p.setBrush(QColor(64, 64, 64));
    p.drawRoundedRect(QRectF(1.5, 1.5, 29, 29), 4, 4);
    const int knobY[] = {20, 8, 16};
    for (int i = 0; i < 3; ++i) {
        const int x = 8 + i * 8;
        p.setPen(QPen(QColor(160, 160, 160), 2));
        p.drawLine(x, 6, x, 26);
        p.setPen(Qt::NoPen);
        p.setBrush(i == 1 ? QColor(0, 255, 0) : QColor(255, 255, 0));
        p.drawRect(x - 3, knobY[i] - 2, 6, 4);
    }
    return QIcon(pixmap);
}

QPixmap drawClearCross() {
    QPixmap pixmap(10, 10);
    pixmap.fill(QColor(192, 192, 192));
    QPainter p(&pixmap);
    p.setPen(QPen(QColor(128, 0, 0), 2));
    p.drawLine(2, 2, 7, 7);
    p.drawLine(7, 2, 2, 7);
    return pixmap;
}
