#pragma once
// The log of what went on air, for the station's music reporting: one line per deck started and
// per deck halted, stopped or ended, appended to a text file. A line is tab-separated:
//
//   2026-12-09T21:04:05+01:00   A   start   -        Title   /music/Title.flac
//   2026-12-09T21:07:10+01:00   A   end     3:05.0   Title   /music/Title.flac
//
// the local time with its offset from UTC, the deck, what happened (start, halt, stop, end), the
// time it played as minutes:seconds.tenths (on the lines that close a play; "-" on a start), the
// title the deck shows and the file's path. Tabs, line breaks and backslashes in a title or a path
// are written \t, \n, \r and \\, so that one line is always one event.
//
// Each line is written whole by a single write() to a file opened for appending, as the player
// reports the change on the user-interface thread (never on the audio thread): a crash loses at
// most the line being written; a line cut short so is ended before the next line is written, by
// this run or the next. A file that cannot be opened or written is said once on stderr; the
// console plays on and each later line tries again. A deck still on air when the log ends (the
// program quits) gets its stop line then. A file that is not text (an audio file named by
// mistake) is never written to.
//
// Threads: the user-interface thread only.
#include <QDateTime>
#include <QObject>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <set>
#include <string>

class frmConsole;
class MediaPlayer;
class QLabel;

class AirLog : public QObject {
    Q_OBJECT
public:
    // The wall-clock time of a line, and a steady count of milliseconds for the time played.
    struct Clock {
        std::function<QDateTime()> now;
        std::function<std::int64_t()> steadyMilliseconds;
    };
    static Clock systemClock();
    // Where a problem with the file is said (once per distinct problem): stderr unless a test
    // listens.
    using Say = std::function<void(const std::string&)>;

    explicit AirLog(QString path, Clock clock = systemClock(), Say say = {});
    ~AirLog() override;
    AirLog(const AirLog&) = delete;
    AirLog& operator=(const AirLog&) = delete;

    // Logs the console's three decks from now on.
    void watch(frmConsole& console);

    // The file of "--log" alone: $XDG_STATE_HOME/fadewell/air.log, or ~/.local/state/fadewell/air.log
    // without that variable. The folder is made when the first line is written.
    static QString defaultPath();
    const QString& path() const { return m_path; }

private:
    struct Deck {
        QString letter;
        const QLabel* title = nullptr;
        bool onAir = false;
        bool ending = false; // the player said its file ended; the fall to stopped follows
        QString path;        // of the file as it started: a new load replaces the player's own
        QString shownTitle;
        std::int64_t startedAt = 0;
    };

    void watchDeck(Deck& deck, MediaPlayer* player);
    void playStateChanged(Deck& deck, const MediaPlayer& player, int newState);
    void closePlay(Deck& deck, const QString& event);
    void writeLine(const Deck& deck, const QString& event, const QString& played);
    bool open();
    void sayOnce(const std::string& key, const std::string& message);

    QString m_path;
    Clock m_clock;
    Say m_say;
    std::array<Deck, 3> m_decks;
    int m_fd = -1;
    bool m_refused = false;     // the file is not text: nothing is ever written to it
    bool m_endsMidLine = false; // the file's last line was cut short: the next write ends it first
    std::set<std::string> m_said;
};
