// The decks: load, clear, the players' notifications and the live deck; the volume sliders and
// Reset Volume.
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <cstdlib>

#include "audio/VolumeControl.h"
#include "common/Globals.h"
#include "common/Numeric.h"
#include "console/MediaPlayer.h"
#include "console/ScrollSlider.h"
#include "console/ShownTextAccessibility.h"
#include "console/frmConsole.h"
#include "platform/FileDialog.h"
#include "platform/MessageBoxes.h"

namespace {
constexpr int kStandardLevel = 20;

// A deck's title: the file's name without its extension, the part from the last dot on. A name
// without one (or whose only dot starts it, as a hidden file's does) is shown whole, so the title
// always names the file the deck holds.
QString titleOf(const QString& path) {
    const QString name = Globals::StripPath(path);
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot > 0 ? name.left(dot) : name;
}
} // namespace

frmConsole::Deck& frmConsole::deck(const QString& letter) {
    for (Deck& d : m_decks)
        if (d.letter == letter)
            return d;
    throw FadewellError("There is no deck " + letter.toStdString());
}

void frmConsole::cmdMediaA_Click() {
    loadDeck(m_decks[0]);
}
void frmConsole::cmdMediaB_Click() {
    loadDeck(m_decks[1]);
}
void frmConsole::cmdMediaC_Click() {
    loadDeck(m_decks[2]);
}
void frmConsole::cmdClearPlayerA_Click() {
    clearDeck(m_decks[0]);
}
void frmConsole::cmdClearPlayerB_Click() {
    clearDeck(m_decks[1]);
}
void frmConsole::cmdClearPlayerC_Click() {
    clearDeck(m_decks[2]);
}
void frmConsole::MediaPlayerA_OpenStateChange(int, int) {
    deckOpenStateChange(m_decks[0]);
}
void frmConsole::MediaPlayerB_OpenStateChange(int, int) {
    deckOpenStateChange(m_decks[1]);
}
void frmConsole::MediaPlayerC_OpenStateChange(int, int) {
    deckOpenStateChange(m_decks[2]);
}
void frmConsole::MediaPlayerA_PlayStateChange(int, int newState) {
    deckPlayStateChange(m_decks[0], newState);
}
void frmConsole::MediaPlayerB_PlayStateChange(int, int newState) {
    deckPlayStateChange(m_decks[1], newState);
}
void frmConsole::MediaPlayerC_PlayStateChange(int, int newState) {
    deckPlayStateChange(m_decks[2], newState);
}
void frmConsole::SliderA_Scroll() {
    deckSliderScroll(m_decks[0]);
}
void frmConsole::SliderB_Scroll() {
    deckSliderScroll(m_decks[1]);
}
void frmConsole::SliderC_Scroll() {
    deckSliderScroll(m_decks[2]);
}
void frmConsole::SliderMaster_Scroll() {
    mixerSliderScroll(SliderMaster, masterVolCtl);
}
void frmConsole::SliderLine_Scroll() {
    mixerSliderScroll(SliderLine, lineVolCtl);
}
void frmConsole::SliderMic_Scroll() {
    mixerSliderScroll(SliderMic, micVolCtl);
}

// Every step runs whatever the one before it did, except that a cancelled dialog or a file the
// player refuses abandons the load before anything changes: on air, a deck must never lose the
// file it holds to a slip in the dialog.
void frmConsole::loadDeck(Deck& d) {
    bool chosen = false;
    skipOnFailure([&] { chosen = m_platform.fileDialog.ShowOpen(this); });
    QString path;
    skipOnFailure([&] { path = m_platform.fileDialog.FileName(); });
    if (!chosen || path.isEmpty())
        return;
    loadFile(d, path);
}

// The load of a chosen file, whoever chose it: the load button, the command line or a drop. A file
// the player refuses is named with the reason in a message box, and the deck keeps what it had.
// Returns whether the deck took the file.
bool frmConsole::loadFile(Deck& d, const QString& path) {
    if (path.isEmpty())
        return false; // an empty name would empty the deck, which only its clear button does
    try {
        d.player->setFileName(path);
    } catch (const std::exception& e) {
        m_platform.messageBoxes.show(this, QString::fromUtf8(e.what()));
        return false;
    }
    skipOnFailure([&] { d.player->halt(); });
    skipOnFailure([&] { setTitle(d, titleOf(path)); });
    skipOnFailure([&] { deckSliderScroll(d); });
    skipOnFailure([&] { d.loaded = !d.player->fileName().isEmpty(); });
    clearEmptyDeckNotice();
    // Auto Set Volume: the deck plays at the standard level its slider then shows, never at the
    // level of a fade that left it at the quiet end.
    if (chkSetVolume->checkState() != Qt::Unchecked) {
        skipOnFailure([&] { d.slider->setValue(kStandardLevel); });
        skipOnFailure([&] { deckSliderScroll(d); });
    }
    return true;
}

void frmConsole::clearDeck(Deck& d) {
    d.player->setFileName(QString());
    setTitle(d, QString());
    d.length->clear();
    d.remaining->clear();
    HideMediaPlayerControls();
    d.loaded = false;
}

// The title keeps its width and grows or shrinks in height to fit its wrapped text.
void frmConsole::setTitle(Deck& d, const QString& title) {
    d.title->setText(title);
    d.title->resize(d.title->width(), std::max(1, d.title->heightForWidth(d.title->width())));
}

void frmConsole::deckOpenStateChange(Deck& d) {
    d.length->setText(Globals::FormatTime(static_cast<float>(d.player->duration())));
}

// A deck that starts playing becomes live; any other change hands the live mark to the first other
// deck, in A, B, C order, that is playing; when none is, the mark stays where it was.
void frmConsole::deckPlayStateChange(Deck& d, int newState) {
    if (newState == MediaPlayer::Playing) {
        CurrentPlayer(d.letter);
        return;
    }
    for (Deck& other : m_decks) {
        if (&other != &d && other.player->playState() == MediaPlayer::Playing) {
            CurrentPlayer(other.letter);
            return;
        }
    }
}

void frmConsole::CurrentPlayer(const QString& Player) {
    mCurrentPlayer = Player;
    const QString shown = lblPlayerFlag->text();
    lblPlayerFlag->setText(mCurrentPlayer);
    if (shown != mCurrentPlayer)
        announceShownText(lblPlayerFlag, shown);
}

void frmConsole::HideMediaPlayerControls() {
    for (Deck& d : m_decks) {
        d.player->setPositionBarVisible(false);
        d.player->setTransportVisible(false);
    }
}

void frmConsole::deckSliderScroll(Deck& d) {
    const auto position = Numeric::checkedNarrow<std::int16_t>(d.slider->value());
    d.player->setVolume(Globals::PlayerVolumeFromSlider(position));
}

// |650 v - 65000|: 65000 at the top, 0 at the bottom. The write's result is not looked at: a mixer
// that is missing or refuses changes nothing and says nothing.
void frmConsole::mixerSliderScroll(ScrollSlider* slider, const mixer::MixerControlRecord& control) {
    const auto v = static_cast<std::int32_t>(slider->value());
    const auto signedLevel =
        Numeric::checkedSub<std::int32_t>(Numeric::checkedMul<std::int32_t>(650, v), 65000);
    const auto level = signedLevel < 0 ? Numeric::checkedSub<std::int32_t>(0, signedLevel) : signedLevel;
    VolumeControl::SetMixerControlValue(m_platform.mixer, hMixer, control, level);
}

// Halts the decks that are not live and pulls their sliders to the standard level, then applies
// all three sliders. Every step runs whatever the others did.
void frmConsole::cmdResetVolume_Click() {
    const QString live = mCurrentPlayer;
    const bool known = live == u"A" || live == u"B" || live == u"C";
    if (known) {
        for (Deck& d : m_decks)
            if (d.letter != live)
                skipOnFailure([&] { d.player->halt(); });
        for (Deck& d : m_decks)
            if (d.letter != live)
                skipOnFailure([&] { d.slider->setValue(kStandardLevel); });
    }
    for (Deck& d : m_decks)
        skipOnFailure([&] { deckSliderScroll(d); });
}
