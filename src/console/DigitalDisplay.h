#pragma once
// A time display in a digital face: right-aligned text in its box, all at one size from start-up
// on, so the digits never jump as the time runs. That size is the largest, up to the display's own
// font size, at which its widest ordinary text fits ("00:00.0" for a deck's time); only a wider text
// (a track over 100 minutes) is drawn smaller, so no digit is ever cut off.
#include <QLabel>
#include <vector>

#include "console/TimeText.h"

class DigitalDisplay : public QLabel {
    Q_OBJECT
public:
    DigitalDisplay(const QString& widestUsualText, QWidget* parent = nullptr);

    // Displays that stand side by side are drawn at one size: the smallest of their own sizes.
    static void drawAlike(const std::vector<DigitalDisplay*>& displays);

    // The font every ordinary text is drawn with.
    QFont standardFont() const;
    // The font the current text is drawn with. Measured again only when the text's form (digits
    // aside: every face it is drawn in gives its digits one width), the font or the size changed:
    // a running time changes its text ten times a second, and measuring it costs a text layout.
    QFont fittedFont() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // The largest font, starting from start, in which text fits the box.
    QFont fitting(QFont start, const QString& text) const;
    QFont ownStandardFont() const;
    void forgetStandardFont();

    QString m_widestUsualText;
    std::vector<DigitalDisplay*> m_alike; // the others drawn at this one's size
    mutable QFont m_standard;
    mutable bool m_standardKnown = false;
    mutable QFont m_fitted;
    mutable QString m_fittedForm; // the form of the text m_fitted was measured for
    mutable bool m_fittedKnown = false;
    TimeText m_painted;
};
