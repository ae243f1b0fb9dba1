#pragma once
// One deck's media player as the console shows it, in the deck's place: a DeckPlayer (the
// operations and notifications the console drives) with a small display of its own, a transport row
// and a position bar. Every method runs on the user-interface thread; notifications arrive there
// too. The player takes the focus in the window's tab order; with it, Space plays or pauses the deck.
#include <QString>
#include <QWidget>
#include <cstdint>

#include "audio/DeckPlayer.h"

class AudioEngine;
class ConsoleTimer;
class QTimer;
class QToolButton;

class MediaPlayer : public QWidget {
    Q_OBJECT
public:
    enum PlayState : int {
        Stopped = DeckPlayer::Stopped,
        Paused = DeckPlayer::Paused,
        Playing = DeckPlayer::Playing
    };
    enum OpenState : int {
        Closed = DeckPlayer::Closed,
        Opening = DeckPlayer::Opening,
        Open = DeckPlayer::Open
    };

    explicit MediaPlayer(AudioEngine& engine, QWidget* parent = nullptr);
    ~MediaPlayer() override;

    // The deck's operations, as DeckPlayer gives them (DeckPlayer.h says what each does).
    void setFileName(const QString& path) { m_player.setFileName(path); }
    QString fileName() const { return m_player.fileName(); }
    double duration() const { return m_player.duration(); }
    double currentPosition() const { return m_player.currentPosition(); }
    int playState() const { return m_player.playState(); }
    void setVolume(std::int32_t hundredthsOfDb) { m_player.setVolume(hundredthsOfDb); }
    std::int32_t volume() const { return m_player.volume(); }
    void play() { m_player.play(); }
    void halt() { m_player.halt(); }
    void stop() { m_player.stop(); }
    // What a click on the position bar does.
    void setCurrentPosition(double seconds) { m_player.setCurrentPosition(seconds); }

    // The two display switches: the transport row (play, pause, stop) and the position bar.
    void setTransportVisible(bool visible);
    bool transportVisible() const;
    void setPositionBarVisible(bool visible);
    bool positionBarVisible() const;

    // The display refreshes on the ticks of another timer (a window's own display tick, so that
    // following the position wakes the thread no more often than the window does), on the tick that
    // completes each 100 ms; until this is called, on a timer of its own.
    void refreshOnTicksOf(ConsoleTimer* ticks);

signals:
    // The player's own notifications, passed on.
    void openStateChanged(int oldState, int newState);
    void playStateChanged(int oldState, int newState);
    void ended();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    class PositionBar;

    void updateDisplay();
    void refresh();       // every 100 ms while it follows the position
    void playerChanged(); // a notification of the player
    void setFollowing(bool following);

    DeckPlayer m_player;
    QWidget* m_transport = nullptr;
    QToolButton* m_playButton = nullptr;
    QToolButton* m_pauseButton = nullptr;
    QToolButton* m_stopButton = nullptr;
    PositionBar* m_positionBar = nullptr;
    QTimer* m_refresh = nullptr;     // its own timer, until it is given another's ticks
    ConsoleTimer* m_ticks = nullptr; // the other timer
    int m_ticksPerRefresh = 1;       // of the other timer's
    int m_ticksSinceRefresh = 0;
    bool m_following = true; // refreshing, to follow the position
    int m_stillTicks = 0;    // refreshes in a row with the player not playing
    bool m_transportVisible = true;
    bool m_positionBarVisible = true;
};
