// The log of what went on air, written as the console's decks start, hand over, end and stop.
#include <QFile>
#include <QStringList>
#include <cmath>

#include "console/ConsoleFixture.h"
#include "control/AirLog.h"

namespace {

class AirLogTest : public ConsoleTest {
protected:
    // Wall-clock and steady time move together, as the engine renders.
    AirLog::Clock clock() {
        return {[this] { return m_start.addMSecs(m_ms); }, [this] { return m_ms; }};
    }
    AirLog::Say listener() {
        return [this](const std::string& message) { said.push_back(message); };
    }
    void pass(double seconds) {
        for (long i = std::lround(seconds * 100); i > 0; --i) {
            m_ms += 10; // what the engine renders is heard by the end of the step
            advance(0.01);
        }
    }
    // The log's lines, each split into its fields.
    std::vector<QStringList> lines(const QString& path) {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        std::vector<QStringList> out;
        for (const QByteArray& line : file.readAll().split('\n'))
            if (!line.isEmpty())
                out.push_back(QString::fromUtf8(line).split(u'\t'));
        return out;
    }

    std::vector<std::string> said;

private:
    QDateTime m_start{QDate(2026, 12, 9), QTime(21, 4, 5), Qt::OffsetFromUTC, 3600};
    std::int64_t m_ms = 0;
};

TEST_F(AirLogTest, HandOverLogsBothStartsTheHaltOfTheDeckThatWasLiveAndAStopAtTheEnd) {
    const QString path = dirPath() + "/air.log";
    // What a run killed in mid-line left: the new lines start on a line of their own.
    QFile killed(path);
    ASSERT_TRUE(killed.open(QIODevice::WriteOnly));
    killed.write("2026-12-09T20:58:00+01:00\tC\tstart\t-\tC\t/c.wav\n2026-12-09T20:59");
    killed.close();
    auto log = std::make_unique<AirLog>(path, clock(), listener());
    log->watch(start());
    loadTone('A');
    loadTone('B');
    console->Form_KeyDown('A', 0);
    pass(1.5);
    console->cmdAudoFadeB_Click(); // "4" moves A from 20 to the quiet end, a position a tick: 0.8 s
    while (console->fadeIsActive()) {
        console->tmrFade_Timer();
        pass(0.01);
    }
    console->cmdResetVolume_Click(); // halts A, which the fade left playing at the quiet end
    pass(0.5);
    log.reset(); // the program quits with B on air

    auto got = lines(path);
    ASSERT_EQ(got.size(), 6u);
    EXPECT_EQ(got[1], QStringList{"2026-12-09T20:59"});
    got.erase(got.begin(), got.begin() + 2);
    const QStringList expected[] = {
        {"2026-12-09T21:04:05+01:00", "A", "start", "-", "A", dirPath() + "/A.wav"},
        {"2026-12-09T21:04:06+01:00", "B", "start", "-", "B", dirPath() + "/B.wav"},
        {"2026-12-09T21:04:07+01:00", "A", "halt", "0:02.3", "A", dirPath() + "/A.wav"},
        {"2026-12-09T21:04:07+01:00", "B", "stop", "0:01.3", "B", dirPath() + "/B.wav"},
    };
    for (std::size_t i = 0; i < got.size(); ++i)
        EXPECT_EQ(got[i], expected[i]) << "line " << i;
    EXPECT_TRUE(said.empty());
}

TEST_F(AirLogTest, AFileThatEndsIsAnEndAndAStopIsAStopWhateverTheNameHolds) {
    const QString path = dirPath() + "/air.log";
    start();
    AirLog log(path, clock(), listener());
    log.watch(*console);
    const QString file = tone("Take\t2.wav", 0.5);
    load('A', file);
    console->Form_KeyDown('A', 0);
    pass(1.0); // the file ends after half a second; the player rewinds and stops
    ASSERT_EQ(console->MediaPlayerA->playState(), MediaPlayer::Stopped);
    console->Form_KeyDown('A', 0);
    pass(0.2);
    console->MediaPlayerA->stop();

    const auto got = lines(path);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[1][2], "end");
    EXPECT_EQ(got[1][4], "Take\\t2"); // one line, one event, whatever the title holds
    EXPECT_EQ(got[1][5], dirPath() + "/Take\\t2.wav");
    const double endedAfter = got[1][3].mid(2).toDouble();
    EXPECT_GE(endedAfter, 0.5);
    EXPECT_LE(endedAfter, 0.6);
    EXPECT_EQ(got[3][2], "stop");
    EXPECT_EQ(got[3][3], "0:00.2");
}

// A log that cannot be written is said once, and the console plays on; a file that is not text
// (an audio file named by mistake) is never touched.
TEST_F(AirLogTest, AFileThatCannotBeWrittenIsSaidOnceAndTheConsolePlaysOn) {
    const QString audio = tone("song.wav", 1);
    const auto bytesOf = [](const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    const QByteArray audioBytes = bytesOf(audio);
    for (const QString& path : {audio + "/air.log", audio}) {
        SCOPED_TRACE(path.toStdString());
        said.clear();
        console.reset();
        AirLog log(path, clock(), listener());
        log.watch(start());
        loadTone('A');
        loadTone('B');
        console->Form_KeyDown('A', 0);
        console->Form_KeyDown('B', 0);
        console->MediaPlayerA->stop();
        EXPECT_EQ(said.size(), 1u);
        EXPECT_EQ(console->liveDeck(), "B");
        EXPECT_GT(rmsDb(advance(0.2)), -20.0);
        EXPECT_EQ(bytesOf(audio), audioBytes);
    }
}

} // namespace
