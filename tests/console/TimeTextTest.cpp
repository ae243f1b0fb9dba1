// A time drawn glyph for glyph in its form's layout is drawn pixel for pixel as QPainter::drawText
// draws it, in every face and box the console draws times in.
#include <QFontDatabase>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <gtest/gtest.h>

#include "console/TimeText.h"

namespace {

QImage drawn(const QFont& font, const QRect& box, int flags, const QStringList& texts, bool usual) {
    QImage image(box.width() + 20, box.height() + 20, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(QColor(0, 255, 0));
    TimeText time; // one for all the texts, as a display keeps one
    for (const QString& text : texts) {
        painter.fillRect(image.rect(), Qt::black);
        usual ? painter.drawText(box, flags, text) : time.draw(painter, box, flags, text);
    }
    return image;
}

TEST(TimeText, DrawsEachTimeAsDrawTextDoes) {
    QFont seven({"DSEG7 Classic", "Monospace"}, 28, QFont::Bold);
    seven.setPointSizeF(21.25);
    QFont fourteen({"DSEG14 Classic", "Monospace"});
    fourteen.setPointSizeF(14.25);
    QFont label({"MS Sans Serif", "DejaVu Sans Condensed"});
    label.setPointSizeF(8.25);
    const int right = Qt::AlignRight | Qt::AlignVCenter, left = Qt::AlignLeft | Qt::AlignVCenter;
    const struct {
        QFont font;
        QRect box;
        int flags;
    } cases[] = {{seven, {3, 1, 126, 47}, right},
                 {fourteen, {3, 1, 123, 27}, right},
                 {label, {0, 0, 51, 19}, left},
                 {label, {0, 0, 51, 19}, right | Qt::TextForceLeftToRight},
                 {seven, {3, 1, 40, 47}, right}}; // too narrow: clipped
    const QStringList times = {"0:00.0", "9:59.9",     "10:00.0",     "59:58.7", "123:04.2",
                               "0:03.1", "1:05:09 am", "12:59:59 pm", "-0:01.5", ""};
    for (const auto& c : cases)
        for (const QString& text : times) {
            // Drawn after another text of its form and after one of another form.
            const QStringList sequences[] = {
                {text}, {QString(text).replace('1', '8'), text}, {"7:77.7", text}};
            for (const QStringList& sequence : sequences)
                EXPECT_EQ(drawn(c.font, c.box, c.flags, sequence, false),
                          drawn(c.font, c.box, c.flags, sequence, true))
                    << c.font.family().toStdString() << " " << c.box.width() << " \"" << text.toStdString()
                    << '"';
        }
}

// A deck's remaining-time label draws as a QLabel does, and as one where it has a frame.
TEST(TimeText, ATimeLabelLooksAsALabelDoes) {
    QFont font({"MS Sans Serif", "DejaVu Sans Condensed"});
    font.setPointSizeF(8.25);
    for (bool framed : {false, true})
        for (const char* text : {"0:00.0", "3:59.9", "12:34.5", "-0:00.1", ""}) {
            QLabel plain(text);
            TimeLabel time(text);
            for (QLabel* l : {&plain, static_cast<QLabel*>(&time)}) {
                QPalette palette = l->palette();
                palette.setColor(QPalette::WindowText, Qt::yellow);
                palette.setColor(QPalette::Window, Qt::gray);
                l->setPalette(palette);
                l->setAutoFillBackground(true);
                l->setFont(font);
                l->setGeometry(0, 0, 51, 19);
                l->setFrameShape(framed ? QFrame::Box : QFrame::NoFrame);
            }
            EXPECT_EQ(time.grab().toImage(), plain.grab().toImage()) << text << (framed ? ", framed" : "");
        }
}

} // namespace
