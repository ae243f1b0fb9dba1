// The audio callback never allocates, frees, locks or does I/O. The detector (realtime/
// RealtimeDetector.h) counts such calls made while the calling thread is armed; the offline renderer
// runs the callback on the calling thread, so arming it around renderInto() watches exactly what the
// callback (and the wait for the worker) does, through play, halt, seek, volume ramps, resampling and
// end of file.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <mutex>
#include <new>
#include <pthread.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "audio/PlayerTestSupport.h"
#include "audio/output/JackOutput.h"
#include "realtime/RealtimeDetector.h"

namespace {

using namespace fixtures;
using realtime::Armed;
using realtime::g_hits;

// Called through a pointer the optimiser cannot see through, so the allocation really happens.
volatile float g_sink = 0.0f;
void allocateSomething() {
    std::vector<float> v(1000);
    v[10] = 1.0f;
    g_sink = v[10];
}
void (*volatile g_allocate)() = &allocateSomething;

TEST(RealtimeSafetyDetector, CatchesAnAllocationALockAndAWrite) {
    g_hits = 0;
    {
        Armed armed;
        g_allocate();
    }
    EXPECT_GE(g_hits.load(), 2); // new and delete
    g_hits = 0;
    std::mutex m;
    {
        Armed armed;
        m.lock();
        m.unlock();
    }
    EXPECT_EQ(g_hits.load(), 1);
    g_hits = 0;
    {
        Armed armed;
        static const char dot[] = "";
        (void)!::write(STDERR_FILENO, dot, 0);
    }
    EXPECT_EQ(g_hits.load(), 1);
}

TEST(RealtimeSafetyDetector, CatchesTheAllocatingRenderCall) {
    auto engine = AudioEngine::createOffline(kRate, kBlock);
    g_hits = 0;
    {
        Armed armed;
        engine->render(kBlock); // returns a vector: allocates
    }
    EXPECT_GT(g_hits.load(), 0);
}

TEST(RealtimeSafetyDetector, IsQuietWhenDisarmed) {
    g_hits = 0;
    g_allocate();
    EXPECT_EQ(g_hits.load(), 0);
}

TEST(RealtimeSafety, CallbackNeverAllocatesLocksOrDoesIo) {
    TempDir dir;
    auto engine = AudioEngine::createOffline(kRate, kBlock);
    DeckPlayer a(*engine), b(*engine), c(*engine);
    a.setFileName(q(writeTone(dir.file("a.flac"), 3.0, 440.0, 44100, 2, SF_FORMAT_FLAC | SF_FORMAT_PCM_16)));
    b.setFileName(
        q(writeTone(dir.file("b.mp3"), 3.0, 330.0, 44100, 1, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III)));
    c.setFileName(q(writeTone(dir.file("c.wav"), 0.6, 550.0, kRate)));
    engine->processNotifications();

    std::vector<float> out(2 * kRate / 5);
    float loudest = 0.0f;
    // Renders 0.2 s with the detector armed; everything else runs disarmed, as the UI would.
    const auto renderArmed = [&] {
        g_hits = 0;
        {
            Armed armed;
            engine->renderInto(out.data(), kRate / 5);
        }
        loudest = std::max(loudest, peak(out));
        return g_hits.load();
    };

    a.play();
    b.play();
    c.play();
    EXPECT_EQ(renderArmed(), 0) << "playing";
    a.setVolume(-2000);
    b.setVolume(-4100);
    EXPECT_EQ(renderArmed(), 0) << "volume ramps";
    // A key changes what the output has queued: the engine goes back and makes it again.
    a.setVolume(-1000);
    g_hits = 0;
    {
        Armed armed;
        EXPECT_GT(engine->rewind(kRate / 10), 0u);
    }
    EXPECT_EQ(g_hits.load(), 0) << "going back";
    EXPECT_EQ(renderArmed(), 0) << "making it again";
    a.halt();
    EXPECT_EQ(renderArmed(), 0) << "halt";
    b.setCurrentPosition(2.0);
    a.play();
    EXPECT_EQ(renderArmed(), 0) << "seek and play";
    EXPECT_EQ(renderArmed(), 0) << "end of file of deck C";
    engine->processNotifications();
    EXPECT_EQ(c.playState(), DeckPlayer::Stopped); // it really ended
    a.stop();
    b.setVolume(-10000);
    EXPECT_EQ(renderArmed(), 0) << "stop and silence";
    for (int i = 0; i < 5 && b.playState() == DeckPlayer::Playing; ++i) {
        EXPECT_EQ(renderArmed(), 0) << "end of file of deck B";
        engine->processNotifications();
    }
    EXPECT_EQ(b.playState(), DeckPlayer::Stopped);
    EXPECT_GT(loudest, 0.3f); // and it made sound
}

// What JACK's thread hears: a steady value, and from its first call on that thread armed for good,
// so the output's own work around it (the ports' buffers, a period split into pieces) and libjack's
// cycle are watched too.
class ArmingSource final : public OutputSource {
public:
    void process(float* out, std::size_t frames) noexcept override {
        realtime::t_armed = true;
        std::fill(out, out + 2 * frames, 0.25f);
        calls.fetch_add(1, std::memory_order_relaxed);
    }
    std::size_t rewind(std::size_t) noexcept override { return 0; }
    int changeSignal() const override { return -1; }
    std::atomic<int> calls{0};
};

TEST(RealtimeSafety, JackCallbackNeverAllocatesLocksOrDoesIo) {
    // A private server on the dummy backend, its periods longer than the output's pieces.
    const std::string name = "fadewell-rt-" + std::to_string(::getpid());
    ::setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
    const char* argv[] = {"jackd", "-r",    "-n", name.c_str(), "-d",   "dummy",
                          "-r",    "48000", "-p", "4096",       nullptr};
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t server = -1;
    const int spawned = posix_spawnp(&server, "jackd", &quiet, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&quiet);
    ASSERT_EQ(spawned, 0) << "jackd (scripts/deps.sh installs it)";
    std::string error;
    for (int i = 0; i < 100 && jackRate(error) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));

    const OutputDevice system{OutputDevice::Kind::Jack, "system", "", "JACK", 2, 48000};
    ArmingSource source;
    g_hits = 0;
    auto output = openJack(source, 48000, error, {}, system);
    EXPECT_NE(output, nullptr) << error;
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    output.reset(); // no callback after this
    EXPECT_GE(source.calls.load(), 6) << "JACK's thread ran the callback";
    EXPECT_EQ(g_hits.load(), 0);
    ::kill(server, SIGTERM);
    ::waitpid(server, nullptr, 0);
    ::unsetenv("JACK_DEFAULT_SERVER");
}

} // namespace
