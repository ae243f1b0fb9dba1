#pragma once
// Draws a time (digits, colons, a point, am or pm) exactly as QPainter::drawText(rect, flags, text)
// does, without laying out and shaping every text: the time displays change ten times a second,
// and the layout was most of what drawing them cost. The layout is made once for the text's form
// (its digits as 0) in the painter's font, flags and box; a text of that form is its glyphs with
// each digit's own glyph in its place, which holds where every digit has one advance and each
// character one glyph (checked; otherwise the text is drawn the usual way).
#include <QFont>
#include <QGlyphRun>
#include <QPointF>
#include <QRect>
#include <QString>
#include <array>

class QPainter;

class TimeText {
public:
    void draw(QPainter& painter, const QRect& rect, int flags, const QString& text);

private:
    // Lays out form for the painter's font, flags and box; false where a text of this form cannot be
    // drawn glyph for glyph.
    bool prepare(const QFont& font, const QRect& rect, int flags, const QString& form);

    QFont m_font;
    QRect m_rect;
    int m_flags = 0;
    QString m_form;
    bool m_prepared = false;
    bool m_usable = false;
    QGlyphRun m_run;                    // the form's glyphs, one a character, where drawText puts them
    QPointF m_origin;                   // where the run is drawn
    std::array<quint32, 10> m_digits{}; // each digit's glyph
};

#include <QLabel>

// A label that shows a time: a QLabel whose text is drawn by TimeText where QLabel would draw it with
// drawText (plain text, one line, no frame, margin or indent, enabled); otherwise as any label.
class TimeLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TimeText m_painted;
};
