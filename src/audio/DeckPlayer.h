#pragma once
// One deck's media player: the operations and notifications the console drives, played through the
// process's AudioEngine. Its on-screen display (transport row, position bar) is the console's
// MediaPlayer widget, which holds one of these. Every method runs on the user-interface thread;
// notifications arrive there too.
#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <string>

class AudioEngine;

class DeckPlayer : public QObject {
    Q_OBJECT
public:
    enum PlayState : int { Stopped = 0, Paused = 1, Playing = 2 };
    // The states openStateChanged reports: no file; file taken, duration so far an estimate (an
    // MP3 whose frames are still being counted); file open with its exact duration. A load goes
    // Opening then Open, so every load raises the notification at least once with its duration
    // known; for an MP3 the second one follows once its frames are counted.
    enum OpenState : int { Closed = 0, Opening = 1, Open = 2 };

    explicit DeckPlayer(AudioEngine& engine, QObject* parent = nullptr);
    ~DeckPlayer() override;

    // Writing a path makes the player take that file, halted at its start; the empty text leaves it
    // holding none. A file that cannot be played throws PlayerError naming the file and the reason,
    // and the player keeps the file, position and state it had.
    // A new file stands stopped (state 0) at 0; if the player was playing or paused it reports
    // state 0 first, then the open states (Opening, Open), all before this returns.
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
    // Pauses playback and keeps the position (state 1). Does nothing unless playing.
    void halt();
    // Stops playback and rewinds to the start.
    void stop();
    // Moves to a position in seconds (clamped to the file), playing on if playing. Does nothing
    // when no file is held.
    void setCurrentPosition(double seconds);

signals:
    // Raised as the player opens a file, at least once after the duration of a new file is known.
    void openStateChanged(int oldState, int newState);
    // Raised on every change of play state; newState is the state now.
    void playStateChanged(int oldState, int newState);
    // The file or the position changed without a change of state (a seek, a rewind at the end):
    // a display of the position should be drawn again.
    void positionMoved();
    // The file played to its end: raised just before the play state falls to 0, so that a listener
    // can tell an end from an operator's stop.
    void ended();

private:
    class EngineEvents;
    friend class EngineEvents;

    void setPlayState(int state);
    void setOpenState(int state);
    void onEnded();
    void onLengthKnown();
    void onLost(const std::string& reason);

    AudioEngine& m_engine;
    std::unique_ptr<EngineEvents> m_events;
    int m_deck = -1;
    QString m_fileName;
    int m_playState = Stopped;
    int m_openState = Closed;
    std::int32_t m_volume = 0;
};
