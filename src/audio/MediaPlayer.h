#pragma once
// One deck's media player: the component the console drives, with a small display of its own (a
// transport row and a position bar) in the deck's place. Plays through the process's AudioEngine.
// Every method runs on the user-interface thread; notifications arrive there too.
#include <cstdint>
#include <QString>
#include <QWidget>

class AudioEngine;

class MediaPlayer : public QWidget {
    Q_OBJECT
public:
    enum PlayState : int { Stopped = 0, Paused = 1, Playing = 2 };

    explicit MediaPlayer(AudioEngine& engine, QWidget* parent = nullptr);
    ~MediaPlayer() override;

    // Writing a path makes the player take that file, halted at its start; the empty text leaves it
    // holding none. A file that cannot be played throws PlayerError naming the file and the reason,
    // and the player keeps the file, position and state it had.
    void setFileName(const QString& path);
    // Empty exactly when the player holds no file.
    QString fileName() const;

    // Length of the held file in seconds (0 when none); exact once the open-state notification that
    // follows a load has arrived.
    double duration() const;
    // Position in seconds, as the listener hears it.
    double currentPosition() const;
    // 0 stopped, 1 paused (halted), 2 playing.
    int playState() const;

    // Hundredths of a decibel: 0 unity gain, -4100 is -41 dB, -10000 or below silence. A value
    // above 0 throws PlayerError. Reached by a short ramp, so a change never clicks.
    void setVolume(std::int32_t hundredthsOfDb);
    std::int32_t volume() const;

    // Starts playback of the held file (throws PlayerError when it holds none).
    void play();
    // Pauses playback and keeps the position.
    void halt();
    // Stops playback and rewinds to the start.
    void stop();

    // The two display switches: the transport row (play, pause, stop) and the position bar.
    void setTransportVisible(bool visible);
    bool transportVisible() const;
    void setPositionBarVisible(bool visible);
    bool positionBarVisible() const;

signals:
    // Raised as the player opens a file, at least once after the duration of a new file is known.
    void openStateChanged(int oldState, int newState);
    // Raised on every change of play state; newState is the state now.
    void playStateChanged(int oldState, int newState);
};
