// The auto-fade, the time displays and the keyboard.
#include <QLabel>
#include <QLineEdit>
#include <bit>

#include "common/Globals.h"
#include "common/Numeric.h"
#include "console/AutoFade.h"
#include "console/ConsoleTimer.h"
#include "console/MediaPlayer.h"
#include "console/ScrollSlider.h"
#include "console/ShownTextAccessibility.h"
#include "console/frmConsole.h"
#include "platform/Clock.h"

namespace {
const QString kAutoFadeWarning = QStringLiteral("Valid auto fade values are 1 through 9");
} // namespace

void frmConsole::cmdAudoFadeA_Click() {
    autoFade(m_decks[0]);
}
void frmConsole::cmdAudoFadeB_Click() {
    autoFade(m_decks[1]);
}
void frmConsole::cmdAudoFadeC_Click() {
    autoFade(m_decks[2]);
}

// Starts the deck and fades the other two. The letter is stored directly: the live-deck indicator
// follows when the player reports that it plays. A deck that holds no file would fade the others
// into dead air: the click changes nothing and the message line says why.
void frmConsole::autoFade(Deck& d) {
    QString fileName;
    skipOnFailure([&] { fileName = d.player->fileName(); });
    if (fileName.isEmpty()) {
        m_emptyDeckNotice = QStringLiteral("Deck %1 has no file loaded").arg(d.letter);
        showAutoFadeMessage();
        return;
    }
    clearEmptyDeckNotice();
    skipOnFailure([&] { d.player->play(); });
    setFadeActive(true);
    mCurrentPlayer = d.letter;
}

void frmConsole::clearEmptyDeckNotice() {
    if (m_emptyDeckNotice.isEmpty())
        return;
    m_emptyDeckNotice.clear();
    showAutoFadeMessage();
}

// The message line shows the notice of an "auto" refused, until the next fade or load; otherwise
// whether the auto-fade text is one of the values 1 to 9.
void frmConsole::showAutoFadeMessage() {
    QString message = m_emptyDeckNotice;
    if (message.isEmpty()) {
        const QString text = txtAutoFade->text();
        const bool valid = text.size() == 1 && text[0] >= u'1' && text[0] <= u'9';
        message = valid ? QString() : kAutoFadeWarning;
    }
    const QString shown = lblAutofadeMessage->text();
    lblAutofadeMessage->setText(message);
    if (shown != message && !m_emptyDeckNotice.isEmpty())
        announceShownText(lblAutofadeMessage, shown);
}

// An active tick moves the sliders of the decks that are not live as AutoFade says, re-applies all
// three deck volumes, and ends the fade on the tick AutoFade ends it.
void frmConsole::tmrFade_Timer() {
    if (!fadeActive)
        return;
    AutoFade::Positions positions{};
    std::optional<std::size_t> live;
    for (std::size_t i = 0; i < m_decks.size(); ++i) {
        positions[i] = m_decks[i].slider->value();
        if (m_decks[i].letter == mCurrentPlayer)
            live = i;
    }
    const auto tick = AutoFade::tick(positions, live, txtAutoFade->text());
    if (!tick)
        return;
    for (std::size_t i = 0; i < m_decks.size(); ++i) {
        m_decks[i].fadeLevel = tick->levels[i];
        if (i != live)
            m_decks[i].slider->setValue(tick->positions[i]);
    }
    SliderA_Scroll();
    SliderB_Scroll();
    SliderC_Scroll();
    if (tick->ended)
        setFadeActive(false);
}

// The fade timer sleeps while no fade runs, since its ticks would do nothing.
void frmConsole::setFadeActive(bool active) {
    fadeActive = active;
    tmrFade->setSleeping(!active);
}

// A change of the text replaces any notice on the message line with the text's own check.
void frmConsole::txtAutoFade_Change() {
    m_emptyDeckNotice.clear();
    showAutoFadeMessage();
}

// Every loaded deck shows its remaining time; the large displays follow the live deck.
void frmConsole::tmrRemainingTime_Timer() {
    for (std::size_t i = 0; i < m_decks.size(); ++i) {
        Deck& d = m_decks[i];
        if (!d.loaded)
            continue;
        const double remaining = d.player->duration() - d.player->currentPosition();
        d.remaining->setText(timeText(m_shownRemaining[i], static_cast<float>(remaining)));
    }
    double duration = 0.0;
    double remaining = 0.0;
    for (Deck& d : m_decks) {
        if (d.letter != mCurrentPlayer)
            continue;
        duration = d.player->duration();
        remaining = duration - d.player->currentPosition();
        lblRemainingBig->setText(d.remaining->text());
    }
    lblRunningTime->setText(timeText(m_shownRunning, static_cast<float>(duration - remaining)));
}

const QString& frmConsole::timeText(ShownTime& shown, float seconds) {
    const auto bits = std::bit_cast<std::uint32_t>(seconds);
    if (bits != shown.seconds || shown.text.isNull()) {
        shown.text = Globals::FormatTime(seconds);
        shown.seconds = bits;
    }
    return shown.text;
}

void frmConsole::tmrClock_Timer() {
    lblTime->setText(Numeric::clockText(m_platform.clock.currentTime()));
}

// A, B and C (any case; the keypad's 1, 2, 3 with Num Lock on share their codes with a, b, c)
// start a deck that holds a file and make it live. Nothing fades.
void frmConsole::Form_KeyDown(int keyCode, int) {
    if (keyCode <= 0 || keyCode > 0xFFFF)
        return;
    const QString text = QString(QChar(static_cast<char16_t>(keyCode))).toUpper();
    if (text != u"A" && text != u"B" && text != u"C")
        return;
    Deck& d = deck(text);
    QString fileName;
    bool read = false;
    skipOnFailure([&] {
        fileName = d.player->fileName();
        read = true;
    });
    if (!read || fileName.isEmpty())
        return;
    skipOnFailure([&] { d.player->play(); });
    skipOnFailure([&] { CurrentPlayer(d.letter); });
}
