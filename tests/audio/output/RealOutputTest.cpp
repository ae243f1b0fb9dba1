// The real outputs: PortAudio on the private PulseAudio server (Pulse* suites, run by CTest with
// the server), and the silent clock used when there is no device. These run in real time, so they
// are kept short; notifications come through the queued call the worker posts.
#include <QElapsedTimer>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <pulse/error.h>
#include <pulse/simple.h>
#include <sched.h>
#include <unistd.h>

#include "audio/PlayerTestSupport.h"
#include "support/PulseServer.h"

using namespace fixtures;

namespace {

// Runs the event loop until the player leaves the playing state, at most timeoutMs.
bool waitUntilStopped(DeckPlayer& player, int timeoutMs) {
    return QTest::qWaitFor([&] { return player.playState() != DeckPlayer::Playing; }, timeoutMs);
}

TEST(PulseEngine, PlaysOnTheDefaultDeviceAndReportsTheEnd) {
    ASSERT_TRUE(usePulseServer());
    TempDir dir;
    auto engine = AudioEngine::createDefault();
    ASSERT_EQ(engine->output(), AudioEngine::Output::Device) << "fell back to the silent clock";
    EXPECT_EQ(engine->sampleRate(), 44100); // the test sink's rate
    EXPECT_GT(engine->outputLatency(), 0.0);
    DeckPlayer player(*engine);
    NotificationLog log(player);
    player.setFileName(q(writeTone(dir.file("tone.wav"), 1.5, 440.0, 48000)));
    player.play();
    // The server takes a moment to start a new stream; from then on the position follows the clock.
    // The clock is measured rather than assumed, so a busy machine that wakes the test late does not
    // count against the output.
    ASSERT_TRUE(QTest::qWaitFor([&] { return player.currentPosition() > 0.0; }, 4000));
    QElapsedTimer clock;
    clock.start();
    const double start = player.currentPosition();
    QTest::qWait(400);
    const double elapsed = clock.nsecsElapsed() / 1e9;
    EXPECT_NEAR(player.currentPosition() - start, elapsed, 0.12);
    ASSERT_TRUE(waitUntilStopped(player, 4000));
    EXPECT_EQ(player.currentPosition(), 0.0);
    EXPECT_EQ(log.take().back(), "play 2->0");
    EXPECT_EQ(engine->output(), AudioEngine::Output::Device);
}

// The thread that feeds the sound server is the engine's own, named, and at real-time priority
// where the machine allows it (here, as root).
TEST(PulseEngine, FeedsTheServerFromARealtimeThread) {
    ASSERT_TRUE(usePulseServer());
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root may set SCHED_FIFO on this machine";
    auto engine = AudioEngine::createDefault();
    ASSERT_EQ(engine->output(), AudioEngine::Output::Device);
    int outputThreads = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        if (name != "fadewell-output")
            continue;
        ++outputThreads;
        const pid_t tid = std::stoi(task.path().filename().string());
        EXPECT_EQ(sched_getscheduler(tid) & ~SCHED_RESET_ON_FORK, SCHED_FIFO);
    }
    EXPECT_EQ(outputThreads, 1);
}

// The output keeps hundreds of milliseconds queued at the server, so that a busy machine does not
// empty it; a key is heard long before that has played, because the queued part is made again.
// The sink's monitor is recorded in pieces of 10 ms, each taken as heard when it arrives.
TEST(PulseEngine, AKeyIsHeardLongBeforeTheQueuedSoundHasPlayed) {
    ASSERT_TRUE(usePulseServer());
    TempDir dir;
    auto engine = AudioEngine::createDefault();
    ASSERT_EQ(engine->output(), AudioEngine::Output::Device);
    ASSERT_GE(engine->outputLatency(), 0.3); // what a key would wait for otherwise
    DeckPlayer player(*engine);
    player.setFileName(q(writeConstant(dir.file("level.wav"), 30.0, 0.25f, 44100)));

    constexpr std::size_t kPiece = 441;
    const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, 44100, 2};
    const pa_buffer_attr attr{static_cast<std::uint32_t>(-1), 0, 0, 0, kPiece * 8};
    int error = 0;
    pa_simple* recorder = pa_simple_new(nullptr, "test", PA_STREAM_RECORD, "testsink.monitor", "monitor",
                                        &format, nullptr, &attr, &error);
    ASSERT_NE(recorder, nullptr) << pa_strerror(error);
    std::vector<float> piece(2 * kPiece);
    const auto loudest = [&] {
        if (pa_simple_read(recorder, piece.data(), piece.size() * sizeof(float), &error) < 0)
            return -1.0f;
        float most = 0.0f;
        for (const float v : piece)
            most = std::max(most, std::abs(v));
        return most;
    };
    // Each key: from the call to the first piece that has it (sound, or silence), in milliseconds.
    const auto heardAfter = [&](auto key, auto done) {
        const auto pressed = std::chrono::steady_clock::now();
        key();
        for (int i = 0; i < 300; ++i) {
            const float level = loudest();
            if (level < 0.0f)
                break;
            if (done(level))
                return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - pressed)
                    .count();
        }
        return 1e9;
    };
    for (int i = 0; i < 20; ++i) // the server settles: the recorder's first pieces come in a burst
        loudest();
    std::vector<double> delays;
    for (int round = 0; round < 5; ++round) {
        delays.push_back(heardAfter([&] { player.play(); }, [](float level) { return level > 0.2f; }));
        for (int i = 0; i < 30; ++i)
            loudest();
        delays.push_back(heardAfter([&] { player.halt(); }, [](float level) { return level < 0.001f; }));
        for (int i = 0; i < 30; ++i)
            loudest();
    }
    pa_simple_free(recorder);
    std::sort(delays.begin(), delays.end());
    // Made again, a key is heard in about 30 ms here; played out, it would take the whole queue.
    EXPECT_LT(delays[delays.size() / 2], 100.0) << "median of " << delays.size();
    EXPECT_LT(delays.back(), 250.0);
}

// Waking up costs far more than the little an idle engine does: at rest, the output asks the server
// for nothing (its stream corked; on PipeWire, it reads the requests five times a second) and the
// worker sleeps between the supervisor's looks; a key still sounds at once, goes on without a gap,
// and its position is what is heard. CTest runs it on PipeWire too (system.rest.pipewire).
TEST(PulseEngine, AtRestTheOutputAndTheWorkerSleepAndAKeyStillSoundsAtOnce) {
    ASSERT_TRUE(usePulseServer());
    TempDir dir;
    auto engine = AudioEngine::createDefault();
    ASSERT_EQ(engine->output(), AudioEngine::Output::Device);
    DeckPlayer player(*engine);
    player.setFileName(q(writeConstant(dir.file("level.wav"), 10.0, 0.25f, 44100)));
    const auto switches = [](const char* thread) {
        long count = 0;
        for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
            std::ifstream comm(task.path() / "comm"), status(task.path() / "status");
            std::string name, line;
            std::getline(comm, name);
            while (name == thread && std::getline(status, line))
                if (line.find("ctxt_switches:") != std::string::npos)
                    count += std::stol(line.substr(line.find(':') + 1));
        }
        return count;
    };
    QTest::qWait(3000); // more than the queue: all of it is silence
    const long output = switches("fadewell-output"), worker = switches("fadewell-worker");
    QTest::qWait(2000);
    EXPECT_LT(switches("fadewell-output") - output, 25) << "it answered requests: 100 in 2 s";
    EXPECT_LT(switches("fadewell-worker") - worker, 20) << "every 5 ms: 400 in 2 s";

    const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, 44100, 2};
    const pa_buffer_attr attr{static_cast<std::uint32_t>(-1), 0, 0, 0, 441 * 8};
    int error = 0;
    pa_simple* recorder = pa_simple_new(nullptr, "test", PA_STREAM_RECORD, "testsink.monitor", "monitor",
                                        &format, nullptr, &attr, &error);
    ASSERT_NE(recorder, nullptr) << pa_strerror(error);
    std::vector<float> piece(2 * 441);
    for (int i = 0; i < 20; ++i) // the recorder's first pieces come in a burst
        pa_simple_read(recorder, piece.data(), piece.size() * sizeof(float), &error);
    const auto pressed = std::chrono::steady_clock::now();
    const auto msSince = [](auto then) {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - then).count();
    };
    player.play();
    double heardMs = 1e9;
    for (int i = 0; i < 200 && heardMs > 1e8; ++i) {
        if (pa_simple_read(recorder, piece.data(), piece.size() * sizeof(float), &error) < 0)
            break;
        if (*std::max_element(piece.begin(), piece.end()) > 0.2f)
            heardMs = msSince(pressed);
    }
    ASSERT_LT(heardMs, 150.0) << "behind the queue it would take a second";
    const auto heard = std::chrono::steady_clock::now();
    int quietPieces = 0;
    for (int i = 0; i < 120; ++i) {
        if (pa_simple_read(recorder, piece.data(), piece.size() * sizeof(float), &error) < 0)
            break;
        quietPieces += *std::max_element(piece.begin(), piece.end()) < 0.2f ? 1 : 0;
    }
    const double playedMs = 1000.0 * player.currentPosition();
    const double sinceHeardMs = msSince(heard);
    pa_simple_free(recorder);
    EXPECT_EQ(quietPieces, 0) << "a gap in the first 1.2 s after the key";
    // The recorder hears it some 10 to 40 ms after the server plays it.
    EXPECT_NEAR(playedMs, sinceHeardMs + 25.0, 60.0) << "the position is not what is heard";
}

TEST(SilentClock, PositionsAdvanceInRealTimeAndTheEndIsReported) {
    TempDir dir;
    auto engine = AudioEngine::createSilentClock(48000, 256);
    EXPECT_EQ(engine->output(), AudioEngine::Output::SilentClock);
    DeckPlayer player(*engine);
    player.setFileName(q(writeTone(dir.file("tone.wav"), 0.5, 440.0, 44100)));
    QElapsedTimer clock;
    clock.start();
    player.play();
    QTest::qWait(250);
    const double position = player.currentPosition();
    const double elapsed = clock.nsecsElapsed() / 1e9;
    EXPECT_GT(position, 0.1);
    EXPECT_LE(position, elapsed + 0.02) << "the clock never runs ahead of real time";
    EXPECT_GE(position, elapsed - 0.15);
    ASSERT_TRUE(waitUntilStopped(player, 2000));
    EXPECT_EQ(player.playState(), DeckPlayer::Stopped);
    EXPECT_EQ(player.currentPosition(), 0.0);
}

TEST(SilentClock, DefaultEngineWithoutADeviceFallsBackAndSaysSo) {
    // No sound server to reach, and ALSA's default device leads to one on this platform.
    TempDir dir;
    const char* savedRuntime = std::getenv("XDG_RUNTIME_DIR");
    const std::string saved = savedRuntime != nullptr ? savedRuntime : "";
    ::setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
    ::setenv("PULSE_SERVER", ("unix:" + dir.file("no-such-socket")).c_str(), 1);
    testing::internal::CaptureStderr();
    auto engine = AudioEngine::createDefault();
    const std::string err = testing::internal::GetCapturedStderr();
    ::unsetenv("PULSE_SERVER");
    if (savedRuntime != nullptr)
        ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    else
        ::unsetenv("XDG_RUNTIME_DIR");
    if (engine->output() == AudioEngine::Output::Device)
        GTEST_SKIP() << "this machine has a sound card of its own";
    EXPECT_EQ(engine->output(), AudioEngine::Output::SilentClock);
    EXPECT_NE(err.find("playing on a silent clock"), std::string::npos) << err;
    DeckPlayer player(*engine);
    player.setFileName(q(writeTone(dir.file("tone.wav"), 1.0, 440.0, 44100)));
    player.play();
    QTest::qWait(150);
    EXPECT_GT(player.currentPosition(), 0.05);
}

} // namespace
