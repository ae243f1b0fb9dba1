#include "console/TimeText.h"

#include <QPainter>
#include <QRawFont>
#include <QStyle>
#include <QTextLayout>
#include <algorithm>
#include <cmath>
#include <utility>

namespace {

bool isAsciiDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// The text with every digit a 0: texts of one form are drawn with one layout.
QString formOf(const QString& text) {
    QString form = text;
    for (QChar& c : form)
        if (isAsciiDigit(c))
            c = u'0';
    return form;
}

// One line at the layout's origin, laid out as drawText lays out a line that does not wrap.
QTextLine layOut(QTextLayout& layout) {
    QTextOption option;
    option.setTextDirection(Qt::LeftToRight);
    option.setAlignment(Qt::AlignLeft);
    layout.setTextOption(option);
    layout.setCacheEnabled(true);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    if (line.isValid()) {
        line.setLineWidth(0x01000000);
        line.setPosition(QPointF(0, 0));
    }
    layout.endLayout();
    return line;
}

// Whether these characters are shaped one glyph each, their own glyph, each placed by its own advance
// whatever stands beside it (no kerning, ligature or contextual form): then any digit can take
// another's place. Every pair of them is laid out once to see.
bool shapedPlainly(const QFont& font, const QString& chars) {
    QString pairs;
    for (QChar a : chars)
        for (QChar b : chars)
            pairs.append(a).append(b);
    QTextLayout layout(pairs, font);
    if (!layOut(layout).isValid() || layout.lineCount() != 1)
        return false;
    const QList<QGlyphRun> runs = layout.glyphRuns();
    if (runs.size() != 1)
        return false;
    const QRawFont raw = runs[0].rawFont();
    const QList<quint32> glyphs = runs[0].glyphIndexes();
    const QList<QPointF> positions = runs[0].positions();
    if (glyphs != raw.glyphIndexesForString(pairs) || glyphs.contains(0u))
        return false;
    const QList<QPointF> advances = raw.advancesForGlyphIndexes(glyphs, QRawFont::SeparateAdvances);
    QPointF expected = positions.value(0);
    for (qsizetype i = 0; i < glyphs.size(); ++i) {
        if (std::abs(positions[i].x() - expected.x()) > 1e-6 ||
            std::abs(positions[i].y() - expected.y()) > 1e-6)
            return false;
        expected += advances[i];
    }
    return true;
}

} // namespace

bool TimeText::prepare(const QFont& font, const QRect& rect, int flags, const QString& form) {
    // Only what the time displays ask of drawText: one line, left to right, no mnemonic, tab or
    // wrapping, a plain face.
    constexpr int kOther = Qt::TextWordWrap | Qt::TextWrapAnywhere | Qt::TextShowMnemonic |
                           Qt::TextHideMnemonic | Qt::TextExpandTabs | Qt::TextJustificationForced |
                           Qt::AlignJustify | Qt::TextForceRightToLeft | Qt::TextSingleLine |
                           Qt::TextLongestVariant;
    if ((flags & kOther) != 0 || font.underline() || font.overline() || font.strikeOut())
        return false;
    QString chars = QStringLiteral("0123456789");
    for (QChar c : form) {
        if (c < u' ' || c > u'~' || c == u'&')
            return false;
        if (!chars.contains(c))
            chars += c;
    }
    if (!shapedPlainly(font, chars))
        return false;

    QTextLayout layout(form, font);
    const QTextLine line = layOut(layout);
    const QList<QGlyphRun> runs = layout.glyphRuns();
    if (!line.isValid() || layout.lineCount() != 1 || runs.size() != 1 ||
        runs[0].glyphIndexes().size() != form.size())
        return false;
    const QList<quint32> digits = runs[0].rawFont().glyphIndexesForString(QStringLiteral("0123456789"));
    if (digits.size() != 10)
        return false;
    std::copy(digits.begin(), digits.end(), m_digits.begin());
    m_run = runs[0];

    // Where drawText puts the line: aligned in the box by its height and its width.
    const QRectF box(rect);
    const qreal height = line.ascent() + line.descent();
    const qreal width = line.naturalTextWidth();
    qreal xoff = 0, yoff = 0, drawnXoff = 0;
    if (flags & Qt::AlignBottom)
        yoff = box.height() - height;
    else if (flags & Qt::AlignVCenter)
        yoff = (box.height() - height) / 2;
    if (flags & Qt::AlignRight) {
        xoff = box.width() - width;
        drawnXoff = box.width() - line.horizontalAdvance();
    } else if (flags & Qt::AlignHCenter) {
        xoff = (box.width() - width) / 2;
        drawnXoff = (box.width() - line.horizontalAdvance()) / 2;
    }
    // A text that does not fit is clipped by drawText: left to it.
    if (!(flags & Qt::TextDontClip) && !box.contains(QRectF(box.x() + xoff, box.y() + yoff, width, height)))
        return false;
    m_origin = QPointF(box.x() + drawnXoff, box.y() + yoff);
    return true;
}

void TimeText::draw(QPainter& painter, const QRect& rect, int flags, const QString& text) {
    if (text.isEmpty())
        return; // drawText draws nothing either
    QString form = formOf(text);
    const QFont& font = painter.font();
    if (!m_prepared || form != m_form || rect != m_rect || flags != m_flags || font != m_font) {
        m_usable = prepare(font, rect, flags, form);
        m_prepared = true;
        m_form = std::move(form);
        m_rect = rect;
        m_flags = flags;
        m_font = font;
    }
    // (A direction taken from the text is left to right here: only ASCII digits, signs and letters.)
    if (!m_usable || painter.layoutDirection() == Qt::RightToLeft || !painter.worldTransform().isIdentity()) {
        painter.drawText(rect, flags, text);
        return;
    }
    QList<quint32> glyphs = m_run.glyphIndexes();
    for (qsizetype i = 0; i < text.size(); ++i)
        if (isAsciiDigit(text[i]))
            glyphs[i] = m_digits[static_cast<std::size_t>(text[i].unicode() - u'0')];
    QGlyphRun run = m_run;
    run.setGlyphIndexes(glyphs);
    painter.drawGlyphRun(m_origin, run);
}

void TimeLabel::paintEvent(QPaintEvent* event) {
    const QString shown = text();
    const auto selectable = Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard | Qt::TextEditable;
    if (shown.isEmpty() || frameWidth() != 0 || margin() != 0 || indent() > 0 || wordWrap() || !isEnabled() ||
        buddy() != nullptr || textFormat() == Qt::RichText ||
        (textFormat() == Qt::AutoText && Qt::mightBeRichText(shown)) ||
        (textInteractionFlags() & selectable) || shown.isRightToLeft()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    painter.setPen(QPen(palette().brush(foregroundRole()), painter.pen().widthF()));
    const int flags =
        static_cast<int>(QStyle::visualAlignment(Qt::LeftToRight, alignment())) | Qt::TextForceLeftToRight;
    m_painted.draw(painter, contentsRect(), flags, shown);
}
