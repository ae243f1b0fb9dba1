#include "console/DigitalDisplay.h"

#include <QEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <utility>

namespace {
constexpr int kPadding = 3;
constexpr double kSmallest = 4.0;
constexpr double kStep = 0.25; // points

// The text with every digit a 0: texts of one form have one width.
QString formOf(const QString& text) {
    QString form = text;
    for (QChar& c : form)
        if (c.isDigit())
            c = u'0';
    return form;
}
} // namespace

DigitalDisplay::DigitalDisplay(const QString& widestUsualText, QWidget* parent)
    : QLabel(parent), m_widestUsualText(widestUsualText) {}

QFont DigitalDisplay::fitting(QFont font, const QString& text) const {
    const int room = contentsRect().width() - 2 * kPadding;
    const auto fits = [&](double size) {
        font.setPointSizeF(size);
        return QFontMetricsF(font).horizontalAdvance(text) <= room;
    };
    const double largest = font.pointSizeF();
    if (fits(largest))
        return font;
    // Widths grow about in proportion to the size: start near the answer, then find it in steps.
    const double width = QFontMetricsF(font).horizontalAdvance(text);
    double size = std::clamp(std::floor(largest * room / width / kStep) * kStep, kSmallest, largest);
    while (size + kStep < largest && fits(size + kStep))
        size += kStep;
    while (size > kSmallest && !fits(size))
        size = std::max(kSmallest, size - kStep);
    font.setPointSizeF(size);
    return font;
}

void DigitalDisplay::drawAlike(const std::vector<DigitalDisplay*>& displays) {
    for (DigitalDisplay* d : displays) {
        d->m_alike.clear();
        for (DigitalDisplay* other : displays)
            if (other != d)
                d->m_alike.push_back(other);
        d->m_standardKnown = false;
        d->m_fittedKnown = false;
    }
}

QFont DigitalDisplay::ownStandardFont() const {
    return fitting(font(), m_widestUsualText);
}

QFont DigitalDisplay::standardFont() const {
    if (!m_standardKnown) {
        m_standard = ownStandardFont();
        for (const DigitalDisplay* other : m_alike)
            m_standard.setPointSizeF(
                std::min(m_standard.pointSizeF(), other->ownStandardFont().pointSizeF()));
        m_standardKnown = true;
    }
    return m_standard;
}

void DigitalDisplay::forgetStandardFont() {
    m_standardKnown = m_fittedKnown = false;
    for (DigitalDisplay* other : m_alike)
        other->m_standardKnown = other->m_fittedKnown = false;
}

QFont DigitalDisplay::fittedFont() const {
    QString form = formOf(text());
    if (!m_fittedKnown || form != m_fittedForm) {
        m_fitted = fitting(standardFont(), text());
        m_fittedForm = std::move(form);
        m_fittedKnown = true;
    }
    return m_fitted;
}

void DigitalDisplay::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    drawFrame(&painter);
    painter.setFont(fittedFont());
    painter.setPen(palette().color(QPalette::WindowText));
    m_painted.draw(painter, contentsRect().adjusted(kPadding, 0, -kPadding, 0), static_cast<int>(alignment()),
                   text());
}

void DigitalDisplay::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange || event->type() == QEvent::ContentsRectChange)
        forgetStandardFont();
    QLabel::changeEvent(event);
}

void DigitalDisplay::resizeEvent(QResizeEvent* event) {
    forgetStandardFont();
    QLabel::resizeEvent(event);
}
