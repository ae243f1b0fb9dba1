#pragma once
// The console: the program's main window with the three decks, the six volume sliders, the time
// displays and the controls of the auto-fade, and every handler behind them. Everything here runs
// on the user-interface thread.
#include <QIcon>
#include <QList>
#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <array>
#include <cstdint>
#include <functional>
#include <utility>

#include "platform/FailureReporter.h"
#include "platform/MixerApi.h"

class AudioEngine;
class Clock;
class ConsoleTimer;
class FileDialog;
class MediaPlayer;
class MessageBoxes;
class QAction;
class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class ScrollSlider;
class Shell;
namespace registry {
class Registry;
}

// What the console needs of the world outside it; tests give it fakes.
struct ConsolePlatform {
    AudioEngine& engine;
    mixer::MixerApi& mixer;
    FileDialog& fileDialog;
    MessageBoxes& messageBoxes;
    Clock& clock;
    registry::Registry& registry;
    Shell& shell;
    // Ends the program at once: no further handler, tick or notification runs.
    std::function<void()> endProgram;
};

class frmConsole : public QMainWindow {
    Q_OBJECT
public:
    // Creates the window and every control with its start-up values; the three timers run from here.
    explicit frmConsole(const ConsolePlatform& platform, QWidget* parent = nullptr);
    ~frmConsole() override;

    // Window start-up and menu.
    void Form_Load();
    void mnuFileExit_Click();
    void mnuHelpAbout_Click();

    // Decks: load, clear, the players' notifications, the live deck.
    void cmdMediaA_Click();
    void cmdMediaB_Click();
    void cmdMediaC_Click();
    void cmdClearPlayerA_Click();
    void cmdClearPlayerB_Click();
    void cmdClearPlayerC_Click();
    void MediaPlayerA_OpenStateChange(int oldState, int newState);
    void MediaPlayerB_OpenStateChange(int oldState, int newState);
    void MediaPlayerC_OpenStateChange(int oldState, int newState);
    void MediaPlayerA_PlayStateChange(int oldState, int newState);
    void MediaPlayerB_PlayStateChange(int oldState, int newState);
    void MediaPlayerC_PlayStateChange(int oldState, int newState);
    void CurrentPlayer(const QString& Player);
    void HideMediaPlayerControls();

    // Files from outside the window, each through the same load as a deck's load button. The
    // command line's files go to decks A, B and C in order, one each, whatever a file before them
    // did; the files beyond the third are returned, not loaded.
    QStringList openFiles(const QStringList& paths);
    // A drop of URLs at a place of the window (window coordinates). On a control of one deck (its
    // letter, player, title, buttons, time labels or slider) the first file loads that deck, even
    // one on air: the operator aimed there. Every other file, and every file dropped elsewhere,
    // goes to the first deck that holds no file, in A, B, C order, so a deck that holds a file is
    // never touched unless it was aimed at. What cannot be loaded (not a local file, a folder, no
    // deck left that holds no file) is named in one message that does not block.
    void Form_DragDrop(const QList<QUrl>& urls, const QPoint& position);

    // Volume sliders and reset.
    void SliderA_Scroll();
    void SliderB_Scroll();
    void SliderC_Scroll();
    void SliderMaster_Scroll();
    void SliderLine_Scroll();
    void SliderMic_Scroll();
    void cmdResetVolume_Click();

    // Auto-fade.
    void cmdAudoFadeA_Click();
    void cmdAudoFadeB_Click();
    void cmdAudoFadeC_Click();
    void tmrFade_Timer();
    void txtAutoFade_Change();

    // Time displays.
    void tmrRemainingTime_Timer();
    void tmrClock_Timer();

    // Keyboard: keyCode is the platform's code of the pressed key; shift is not read.
    void Form_KeyDown(int keyCode, int shift);

    // A control from outside the window (OSC) runs a handler at the same boundary as the window's
    // own events: whatever the handler throws is reported as theirs is, and goes no further.
    template <class Handler> void runHandler(const char* name, Handler&& handler) noexcept {
        m_failures.run(name, std::forward<Handler>(handler));
    }

    // Read-only views of the window's state, for tests and accessibility tools.
    const QString& liveDeck() const { return mCurrentPlayer; }
    bool fadeIsActive() const { return fadeActive; }
    bool deckLoaded(int deck) const { return m_decks.at(deck).loaded; }
    double deckFadeLevel(int deck) const { return m_decks.at(deck).fadeLevel; }
    mixer::HMIXER mixerHandle() const { return hMixer; }
    mixer::MMRESULT mixerOpenResultCode() const { return mixerOpenResult; }
    bool mixerControlFound() const { return mixerCtlFound; }
    const mixer::MixerControlRecord& masterControl() const { return masterVolCtl; }
    const mixer::MixerControlRecord& lineControl() const { return lineVolCtl; }
    const mixer::MixerControlRecord& micControl() const { return micVolCtl; }
    const QIcon& consoleIcon() const { return m_icon; }

    // The controls, under their own names.
    QGroupBox* Frame1 = nullptr;
    QLabel *Label1 = nullptr, *Label2 = nullptr, *Label3 = nullptr;
    MediaPlayer *MediaPlayerA = nullptr, *MediaPlayerB = nullptr, *MediaPlayerC = nullptr;
    QPushButton *cmdClearPlayerA = nullptr, *cmdClearPlayerB = nullptr, *cmdClearPlayerC = nullptr;
    QPushButton *cmdMediaA = nullptr, *cmdMediaB = nullptr, *cmdMediaC = nullptr;
    QLabel *lblMediaA = nullptr, *lblMediaB = nullptr, *lblMediaC = nullptr;
    QLabel *Label9 = nullptr, *Label10 = nullptr;
    QLabel *lblDurationA = nullptr, *lblDurationB = nullptr, *lblDurationC = nullptr;
    QLabel *lblRemainingA = nullptr, *lblRemainingB = nullptr, *lblRemainingC = nullptr;
    std::array<QFrame*, 6> Line{}; // Line1 to Line6
    QLabel* Label13 = nullptr;
    QLabel *Label4 = nullptr, *Label5 = nullptr, *Label6 = nullptr, *Label7 = nullptr, *Label8 = nullptr,
           *Label15 = nullptr;
    ScrollSlider *SliderA = nullptr, *SliderB = nullptr, *SliderC = nullptr;
    ScrollSlider *SliderMic = nullptr, *SliderLine = nullptr, *SliderMaster = nullptr;
    QPushButton *cmdAudoFadeA = nullptr, *cmdAudoFadeB = nullptr, *cmdAudoFadeC = nullptr;
    QLabel* lblDisplayBlackBox = nullptr;
    QLabel* lblPlayerFlag = nullptr;
    QLabel *Label11 = nullptr, *Label12 = nullptr;
    QLabel *lblRemainingBig = nullptr, *lblRunningTime = nullptr, *lblTime = nullptr;
    QCheckBox* chkSetVolume = nullptr;
    QPushButton* cmdResetVolume = nullptr;
    QLabel* Label14 = nullptr;
    QLineEdit* txtAutoFade = nullptr;
    QLabel* lblAutofadeMessage = nullptr;
    ConsoleTimer *tmrRemainingTime = nullptr, *tmrClock = nullptr, *tmrFade = nullptr;
    QAction *mnuFileExit = nullptr, *mnuHelpAbout = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // One deck's controls and state; the three decks share every operation.
    struct Deck {
        QString letter;
        MediaPlayer* player;
        QPushButton* loadButton;
        QPushButton* clearButton;
        QLabel* title;
        QLabel* length;
        QLabel* remaining;
        ScrollSlider* slider;
        QPushButton* autoFadeButton;
        bool loaded = false;    // the deck holds a file
        double fadeLevel = 0.0; // slider position + step, of the latest active fade tick
    };

    void createControls();
    void connectHandlers();
    template <class Sender, class Signal, class Handler>
    void connectHandler(Sender* sender, Signal signal, const char* name, Handler handler);

    Deck& deck(const QString& letter);
    void loadDeck(Deck& deck);
    bool loadFile(Deck& deck, const QString& path);
    Deck* deckAt(const QPoint& position);
    Deck* firstEmptyDeck();
    void clearDeck(Deck& deck);
    void deckOpenStateChange(Deck& deck);
    void deckPlayStateChange(Deck& deck, int newState);
    void deckSliderScroll(Deck& deck);
    void mixerSliderScroll(ScrollSlider* slider, const mixer::MixerControlRecord& control);
    void autoFade(Deck& deck);
    void showAutoFadeMessage();
    void clearEmptyDeckNotice();

    void setTitle(Deck& deck, const QString& title);
    void keepTicksTogether();
    void setFadeActive(bool active);
    // A time display's text for a time, formatted again only when the time changed: a halted or
    // empty deck's displays tick twenty times a second with the same time.
    struct ShownTime {
        std::uint32_t seconds = 0x7fc00000; // the float's bits; a NaN, never given
        QString text;
    };
    static const QString& timeText(ShownTime& shown, float seconds);

    ConsolePlatform m_platform;
    FailureReporter m_failures;
    QIcon m_icon;
    std::array<Deck, 3> m_decks;

    // Module state.
    mixer::HMIXER hMixer = 0;
    mixer::MixerControlRecord masterVolCtl{};
    mixer::MixerControlRecord lineVolCtl{};
    mixer::MixerControlRecord micVolCtl{};
    mixer::MMRESULT mixerOpenResult = 0;
    bool mixerCtlFound = false;
    QString mCurrentPlayer;
    bool fadeActive = false;
    // Why the last "auto" click changed nothing, shown on the auto-fade message line; empty once a
    // fade starts, a deck is loaded or the auto-fade text changes.
    QString m_emptyDeckNotice;
    std::array<ShownTime, 3> m_shownRemaining; // each deck's remaining time
    ShownTime m_shownRunning;
    // Wake-ups of the window's thread, and the one the last fade tick came in (keepTicksTogether).
    std::uint64_t m_wakeUps = 0;
    std::uint64_t m_fadeTickWakeUp = 0;
};
