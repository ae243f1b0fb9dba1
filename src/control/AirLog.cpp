#include "control/AirLog.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "console/MediaPlayer.h"
#include "console/frmConsole.h"

namespace {

// One field of a line: what would break the line or the fields is written as an escape.
QString field(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'\\':
            out += u"\\\\";
            break;
        case u'\t':
            out += u"\\t";
            break;
        case u'\n':
            out += u"\\n";
            break;
        case u'\r':
            out += u"\\r";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// Minutes (never carried into hours), seconds and tenths, each truncated, as the console shows
// times: 185 000 ms is "3:05.0".
QString playedText(std::int64_t ms) {
    return QStringLiteral("%1:%2.%3")
        .arg(ms / 60000)
        .arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms / 100 % 10);
}

// A file that already holds bytes no text has (an audio file's header) is not a log.
bool looksLikeText(int fd) {
    char head[512];
    const ssize_t n = ::pread(fd, head, sizeof head, 0);
    return n <= 0 || std::memchr(head, '\0', static_cast<std::size_t>(n)) == nullptr;
}

// Whether the file's last line has no end: the last byte of a file that is not empty.
bool endsMidLine(int fd) {
    const off_t size = ::lseek(fd, 0, SEEK_END);
    char last = '\n';
    return size > 0 && ::pread(fd, &last, 1, size - 1) == 1 && last != '\n';
}

} // namespace

AirLog::Clock AirLog::systemClock() {
    return {[] { return QDateTime::currentDateTime(); },
            [] {
                return std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now().time_since_epoch())
                    .count();
            }};
}

AirLog::AirLog(QString path, Clock clock, Say say)
    : m_path(std::move(path)), m_clock(std::move(clock)), m_say(std::move(say)) {
    if (!m_say)
        m_say = [](const std::string& message) { std::fprintf(stderr, "fadewell: %s\n", message.c_str()); };
}

// The program ends: a deck still on air stops with it, and its play is closed as a stop.
AirLog::~AirLog() {
    for (Deck& deck : m_decks)
        if (deck.onAir)
            closePlay(deck, QStringLiteral("stop"));
    if (m_fd >= 0)
        ::close(m_fd);
}

QString AirLog::defaultPath() {
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    // A relative value is to be ignored, as if it were not set.
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/fadewell/air.log");
}

void AirLog::watch(frmConsole& console) {
    MediaPlayer* players[] = {console.MediaPlayerA, console.MediaPlayerB, console.MediaPlayerC};
    const QLabel* titles[] = {console.lblMediaA, console.lblMediaB, console.lblMediaC};
    const char* letters[] = {"A", "B", "C"};
    for (std::size_t i = 0; i < m_decks.size(); ++i) {
        m_decks[i].letter = QLatin1String(letters[i]);
        m_decks[i].title = titles[i];
        watchDeck(m_decks[i], players[i]);
    }
}

void AirLog::watchDeck(Deck& deck, MediaPlayer* player) {
    connect(player, &MediaPlayer::ended, this, [&deck] { deck.ending = true; });
    connect(player, &MediaPlayer::playStateChanged, this,
            [this, &deck, player](int, int newState) { playStateChanged(deck, *player, newState); });
}

void AirLog::playStateChanged(Deck& deck, const MediaPlayer& player, int newState) {
    const bool ended = deck.ending;
    deck.ending = false;
    if (newState == MediaPlayer::Playing) {
        if (deck.onAir)
            return;
        deck.onAir = true;
        deck.path = QFileInfo(player.fileName()).absoluteFilePath(); // the command line's may be relative
        deck.shownTitle = deck.title->text();
        if (deck.shownTitle.isEmpty())
            deck.shownTitle = QFileInfo(deck.path).completeBaseName();
        deck.startedAt = m_clock.steadyMilliseconds();
        writeLine(deck, QStringLiteral("start"), QStringLiteral("-"));
        return;
    }
    if (deck.onAir)
        closePlay(deck, ended                             ? QStringLiteral("end")
                        : newState == MediaPlayer::Paused ? QStringLiteral("halt")
                                                          : QStringLiteral("stop"));
}

void AirLog::closePlay(Deck& deck, const QString& event) {
    deck.onAir = false;
    const std::int64_t played = std::max<std::int64_t>(0, m_clock.steadyMilliseconds() - deck.startedAt);
    writeLine(deck, event, playedText(played));
}

void AirLog::writeLine(const Deck& deck, const QString& event, const QString& played) {
    const QDateTime now = m_clock.now();
    const QString stamp = now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODate);
    const QString line =
        QStringList{stamp, deck.letter, event, played, field(deck.shownTitle), field(deck.path)}.join(u'\t') +
        u'\n';
    if (!open())
        return;
    // A line that a crash, a full disk or a kill cut short is closed first, so that it is not
    // glued to this one.
    const QByteArray bytes = (m_endsMidLine ? QByteArray("\n") : QByteArray()) + line.toUtf8();
    // One write() for the whole line; a short write (a full disk) leaves the rest unwritten rather
    // than a torn line followed by the next one.
    const ssize_t written = ::write(m_fd, bytes.constData(), static_cast<std::size_t>(bytes.size()));
    if (written == bytes.size()) {
        m_endsMidLine = false;
        return;
    }
    const int error = written < 0 ? errno : ENOSPC;
    sayOnce("write:" + std::to_string(error), "the log " + m_path.toStdString() + " could not be written (" +
                                                  std::strerror(error) + "); the console plays on");
    ::close(m_fd);
    m_fd = -1;
}

bool AirLog::open() {
    if (m_fd >= 0)
        return true;
    if (m_refused)
        return false;
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    m_fd = ::open(QFile::encodeName(m_path).constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (m_fd < 0) {
        const int error = errno;
        sayOnce("open:" + std::to_string(error), "the log " + m_path.toStdString() + " cannot be opened (" +
                                                     std::strerror(error) + "); the console plays on");
        return false;
    }
    if (!looksLikeText(m_fd)) {
        m_refused = true;
        ::close(m_fd);
        m_fd = -1;
        sayOnce("not text", "the log " + m_path.toStdString() +
                                " is not a text file; nothing is written to it; the console plays on");
        return false;
    }
    m_endsMidLine = endsMidLine(m_fd);
    return true;
}

void AirLog::sayOnce(const std::string& key, const std::string& message) {
    if (m_said.insert(key).second)
        m_say(message);
}
