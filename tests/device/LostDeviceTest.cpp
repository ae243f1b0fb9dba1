// The output device lost and found again, for real: the engine (createDefault, PortAudio) runs in a
// child process, the probe, against a private PulseAudio server of this test's own, which the test
// kills and starts again. The probe prints its state every 50 ms (see OutputProbe.cpp); the test
// records the server's monitor with parec to hear what reaches it.
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <optional>
#include <span>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "support/AudioFixtures.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double secondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// Environment of this process with some variables replaced.
std::vector<std::string> environmentWith(const std::vector<std::pair<std::string, std::string>>& changes) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        bool replaced = false;
        for (const auto& [name, value] : changes)
            replaced = replaced || entry.rfind(name + "=", 0) == 0;
        if (!replaced)
            env.push_back(entry);
    }
    for (const auto& [name, value] : changes)
        env.push_back(name + "=" + value);
    return env;
}

// Starts argv with the environment env; stdin/stdout to the given descriptors (-1: /dev/null).
pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env, int in, int out) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (in >= 0)
        posix_spawn_file_actions_adddup2(&actions, in, STDIN_FILENO);
    else
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (out >= 0)
        posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
    else
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args, envp;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const auto& e : env)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

// Waits up to timeout for pid to end; kills it (SIGKILL, by its pid) if it does not. Returns its
// wait status, or -1 when it had to be killed.
int reap(pid_t pid, std::chrono::milliseconds timeout) {
    const auto end = Clock::now() + timeout;
    int status = 0;
    while (Clock::now() < end) {
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return status;
        std::this_thread::sleep_for(10ms);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return -1;
}

// A private PulseAudio server with a null sink, in a folder of this test's own.
class PrivateServer {
public:
    PrivateServer() {
        // The probe must never start a server by itself while ours is down.
        std::ofstream(m_dir.file("client.conf")) << "autospawn = no\n";
    }
    ~PrivateServer() {
        stop();
        killByPid(SIGKILL);
    }
    bool start() {
        const std::string command = std::string(FADEWELL_SOURCE_DIR) + "/scripts/pulse-server.sh start " +
                                    m_dir.path() + " >/dev/null 2>&1";
        return std::system(command.c_str()) == 0;
    }
    void stop() {
        const std::string command = std::string(FADEWELL_SOURCE_DIR) + "/scripts/pulse-server.sh stop " +
                                    m_dir.path() + " >/dev/null 2>&1";
        (void)std::system(command.c_str());
    }
    // The server dies at once, as in a crash: no goodbye to its clients.
    void crash() {
        killByPid(SIGKILL);
        std::filesystem::remove(m_dir.file("pulse/pid"));
    }
    // What a client of this server needs in its environment.
    std::vector<std::pair<std::string, std::string>> clientEnvironment() const {
        return {{"XDG_RUNTIME_DIR", m_dir.path()},
                {"PULSE_COOKIE", m_dir.file("cookie")},
                {"PULSE_STATE_PATH", m_dir.file("state")},
                {"PULSE_CLIENTCONFIG", m_dir.file("client.conf")},
                {"QT_QPA_PLATFORM", "offscreen"}};
    }
    const fixtures::TempDir& dir() const { return m_dir; }

private:
    void killByPid(int signal) {
        std::ifstream in(m_dir.file("pulse/pid"));
        pid_t pid = 0;
        if (in >> pid && pid > 0) {
            ::kill(pid, signal);
            for (int i = 0; i < 100 && ::kill(pid, 0) == 0; ++i)
                std::this_thread::sleep_for(10ms);
        }
    }
    fixtures::TempDir m_dir;
};

// parec on the null sink's monitor, as raw 16-bit stereo at 44.1 kHz.
class Recorder {
public:
    Recorder(const PrivateServer& server, const std::string& path) : m_path(path) {
        const int out = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        m_pid = spawn({"/usr/bin/parec", "--raw", "--latency-msec=20", "-d", "testsink.monitor",
                       "--format=s16le", "--rate=44100", "--channels=2"},
                      environmentWith(server.clientEnvironment()), -1, out);
        ::close(out);
    }
    ~Recorder() { finish(); }
    bool running() const { return m_pid > 0; }
    // Ends the recording (SIGINT, so parec writes what it holds) and returns the samples.
    std::vector<float> finish() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGINT);
            reap(m_pid, 2000ms);
            m_pid = -1;
        }
        std::ifstream in(m_path, std::ios::binary);
        std::vector<float> samples;
        std::int16_t s = 0;
        while (in.read(reinterpret_cast<char*>(&s), sizeof s))
            samples.push_back(static_cast<float>(s) / 32768.0f);
        return samples;
    }

private:
    std::string m_path;
    pid_t m_pid = -1;
};

struct Status {
    double wall = 0.0; // seconds since the probe started, as the test saw the line arrive
    std::string output;
    double a = 0.0, b = 0.0;
    int stateA = 0, stateB = 0;
    long ticks = 0;
    long gapMs = 0;
};

// The probe: the engine with two decks playing, in a child process.
class Probe {
public:
    Probe(const PrivateServer& server, const std::string& fileA, const std::string& fileB,
          std::vector<std::pair<std::string, std::string>> environment = {}) {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
            return;
        m_start = Clock::now();
        for (auto& variable : server.clientEnvironment())
            environment.push_back(variable);
        m_pid =
            spawn({FADEWELL_OUTPUT_PROBE, fileA, fileB, "40"}, environmentWith(environment), in[0], out[1]);
        ::close(in[0]);
        ::close(out[1]);
        m_stdin = in[1];
        m_reader = std::thread([this, fd = out[0]] {
            std::string pending;
            char buffer[4096];
            ssize_t got = 0;
            while ((got = ::read(fd, buffer, sizeof buffer)) > 0) {
                pending.append(buffer, static_cast<std::size_t>(got));
                for (std::size_t nl = pending.find('\n'); nl != std::string::npos; nl = pending.find('\n')) {
                    parse(pending.substr(0, nl));
                    pending.erase(0, nl + 1);
                }
            }
            ::close(fd);
        });
    }
    ~Probe() { finish(); }
    bool started() const { return m_pid > 0; }

    // Closes the probe's input (it then quits) and returns its wait status; -1 if it had to be killed.
    int finish() {
        if (m_pid <= 0)
            return m_status;
        ::close(m_stdin);
        m_status = reap(m_pid, 5000ms);
        m_pid = -1;
        if (m_reader.joinable())
            m_reader.join();
        return m_status;
    }

    std::vector<Status> statuses() const {
        std::lock_guard lock(m_mutex);
        return m_statuses;
    }
    Status last() const {
        std::lock_guard lock(m_mutex);
        return m_statuses.empty() ? Status{} : m_statuses.back();
    }
    // Waits until a status satisfies pred; that status, or nullopt after timeout.
    std::optional<Status> waitFor(const std::function<bool(const Status&)>& pred,
                                  std::chrono::milliseconds timeout) {
        const auto end = Clock::now() + timeout;
        std::size_t seen = 0;
        while (Clock::now() < end) {
            {
                std::lock_guard lock(m_mutex);
                for (; seen < m_statuses.size(); ++seen)
                    if (pred(m_statuses[seen]))
                        return m_statuses[seen];
            }
            std::this_thread::sleep_for(5ms);
        }
        return std::nullopt;
    }
    double secondsSinceStart() const { return secondsSince(m_start); }

private:
    void parse(const std::string& line) {
        Status s;
        s.wall = secondsSince(m_start);
        char output[32] = {};
        long long ms = 0, gap = 0;
        if (std::sscanf(line.c_str(),
                        "status ms=%lld output=%31s a=%lf b=%lf stateA=%d stateB=%d ticks=%ld gap=%lld", &ms,
                        output, &s.a, &s.b, &s.stateA, &s.stateB, &s.ticks, &gap) != 8)
            return;
        s.output = output;
        s.gapMs = static_cast<long>(gap);
        std::lock_guard lock(m_mutex);
        m_statuses.push_back(s);
    }

    pid_t m_pid = -1;
    int m_stdin = -1;
    int m_status = -1;
    Clock::time_point m_start;
    std::thread m_reader;
    mutable std::mutex m_mutex;
    std::vector<Status> m_statuses;
};

// RMS level, dB full scale, of the last `seconds` of a stereo recording at 44.1 kHz.
double tailRmsDb(const std::vector<float>& samples, double seconds) {
    const auto count = std::min(samples.size(), static_cast<std::size_t>(seconds * 44100) * 2);
    return fixtures::rmsDb(std::span<const float>(samples).last(count));
}

// A new server's null sink renders for the first time about two seconds after it was made (measured:
// 1.9 to 2.0 s, whoever its clients are), so no client can sound earlier. The engine's own part,
// finding the device again, is held to one second.
constexpr double kFirstRenderOfANewSink = 2.0;

// Deck A 440 Hz at 0.3, deck B 660 Hz at 0.2, both at full volume: the mix's RMS level.
const double kMixRmsDb = 20.0 * std::log10(std::sqrt(0.3 * 0.3 / 2 + 0.2 * 0.2 / 2)); // -11.87

class LostOutputDevice : public ::testing::Test {
protected:
    void SetUp() override {
        fileA = fixtures::writeTone(files.file("a.wav"), 30.0, 440.0, 44100, 2,
                                    SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0.3);
        fileB = fixtures::writeTone(files.file("b.wav"), 30.0, 660.0, 44100, 2,
                                    SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0.2);
    }

    // Both decks playing, positions advancing at the pace of the clock (within tolerance) over
    // `seconds` of waiting, and the output as expected all along.
    void expectAdvancing(Probe& probe, const std::string& output, double seconds) {
        const Status before = probe.last();
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        const Status after = probe.last();
        const double elapsed = after.wall - before.wall;
        EXPECT_EQ(before.output, output);
        EXPECT_EQ(after.output, output);
        EXPECT_NEAR(after.a - before.a, elapsed, 0.15) << "deck A on " << output;
        EXPECT_NEAR(after.b - before.b, elapsed, 0.15) << "deck B on " << output;
        EXPECT_EQ(after.stateA, 2);
        EXPECT_EQ(after.stateB, 2);
    }

    // The user-interface thread kept ticking: every status came, 10 ms timer gaps stayed short.
    void expectResponsive(const Probe& probe) {
        const auto all = probe.statuses();
        ASSERT_FALSE(all.empty());
        long worstGap = 0;
        double worstLine = 0.0;
        for (std::size_t i = 1; i < all.size(); ++i) {
            worstGap = std::max(worstGap, all[i].gapMs);
            worstLine = std::max(worstLine, all[i].wall - all[i - 1].wall);
            EXPECT_GT(all[i].ticks, all[i - 1].ticks);
        }
        EXPECT_LT(worstGap, 150) << "the 10 ms timer stalled";
        EXPECT_LT(worstLine, 0.3) << "the 50 ms status stalled";
    }

    fixtures::TempDir files;
    std::string fileA, fileB;
};

TEST_F(LostOutputDevice, ServerKilledWhileTwoDecksPlayFallsBackThenIsFoundAtOnceNotAtABackedOffRetry) {
    PrivateServer server;
    ASSERT_TRUE(server.start());
    // The null sink starts a new stream only at its next wake-up (up to two seconds when idle); a
    // listener keeps it awake, as a sound card is.
    auto recorder = std::make_unique<Recorder>(server, files.file("before.raw"));
    Probe probe(server, fileA, fileB);
    ASSERT_TRUE(probe.started());
    ASSERT_TRUE(probe.waitFor([](const Status& s) { return s.output == "Device" && s.a > 0.5; }, 8000ms))
        << "never played on the device";
    expectAdvancing(probe, "Device", 0.5);
    EXPECT_NEAR(tailRmsDb(recorder->finish(), 0.3), kMixRmsDb, 0.5) << "the server did not hear both decks";

    server.crash();
    const auto killed = Clock::now();
    const double killedAt = probe.secondsSinceStart();
    const double positionAtKill = probe.last().a;
    const auto fallback = probe.waitFor(
        [&](const Status& s) { return s.wall > killedAt && s.output == "SilentClock"; }, 4000ms);
    ASSERT_TRUE(fallback) << "never fell back to the silent clock";
    EXPECT_LT(fallback->wall - killedAt, 2.0) << "noticed the loss late";
    EXPECT_GE(fallback->a, positionAtKill);
    // Down long enough for a backing-off retry to miss the return.
    expectAdvancing(probe, "SilentClock", 3.0);
    EXPECT_GT(secondsSince(killed), 1.0);

    const double positionBeforeRestart = probe.last().a;
    ASSERT_TRUE(server.start());
    const double restartedAt = probe.secondsSinceStart();
    recorder = std::make_unique<Recorder>(server, files.file("after.raw"));
    // Back on the device, and the decks go on from where they were: no jump to the start, no skip.
    std::optional<Status> lastSilent;
    const auto back = probe.waitFor(
        [&](const Status& s) {
            if (s.wall > restartedAt && s.output == "SilentClock")
                lastSilent = s;
            return s.wall > restartedAt && s.output == "Device";
        },
        3000ms);
    ASSERT_TRUE(back) << "never went back to the device";
    EXPECT_LT(back->wall - restartedAt, 1.0) << "the device was found late";
    EXPECT_GE(back->a, positionBeforeRestart);
    if (lastSilent) {
        EXPECT_NEAR(back->a, lastSilent->a + (back->wall - lastSilent->wall), 0.15);
    }
    const auto sounding = probe.waitFor(
        [&](const Status& s) { return s.wall > back->wall && s.output == "Device" && s.a > back->a + 0.05; },
        3000ms);
    ASSERT_TRUE(sounding) << "the device stream never ran";
    EXPECT_LT(sounding->wall - restartedAt, kFirstRenderOfANewSink + 0.5) << "sound came back late";
    std::printf("lost after %.2f s; device found %.2f s, sound %.2f s after the server's return\n",
                fallback->wall - killedAt, back->wall - restartedAt, sounding->wall - restartedAt);
    expectAdvancing(probe, "Device", 0.5);
    EXPECT_NEAR(tailRmsDb(recorder->finish(), 0.3), kMixRmsDb, 0.5)
        << "the new server did not hear both decks";

    expectResponsive(probe);
    const int status = probe.finish();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the probe did not end cleanly: " << status;
}

// A sink chosen by name that goes with its server is looked for by that name, and opened again as
// soon as the server has it again.
TEST_F(LostOutputDevice, ChosenSinkLostWithItsServerIsOpenedAgainByNameWhenItIsBack) {
    PrivateServer server;
    ASSERT_TRUE(server.start());
    auto recorder = std::make_unique<Recorder>(server, files.file("before.raw"));
    Probe probe(server, fileA, fileB, {{"FADEWELL_DEVICE", "testsink"}});
    ASSERT_TRUE(probe.started());
    ASSERT_TRUE(probe.waitFor([](const Status& s) { return s.output == "Device" && s.a > 0.5; }, 8000ms))
        << "never played on the chosen sink";
    expectAdvancing(probe, "Device", 0.5);
    EXPECT_NEAR(tailRmsDb(recorder->finish(), 0.3), kMixRmsDb, 0.5) << "the sink did not hear both decks";

    server.crash();
    const double killedAt = probe.secondsSinceStart();
    ASSERT_TRUE(probe.waitFor([&](const Status& s) { return s.wall > killedAt && s.output == "SilentClock"; },
                              4000ms))
        << "never fell back to the silent clock";
    expectAdvancing(probe, "SilentClock", 2.0);

    ASSERT_TRUE(server.start());
    const double restartedAt = probe.secondsSinceStart();
    recorder = std::make_unique<Recorder>(server, files.file("after.raw"));
    const auto back =
        probe.waitFor([&](const Status& s) { return s.wall > restartedAt && s.output == "Device"; }, 3000ms);
    ASSERT_TRUE(back) << "never went back to the chosen sink";
    EXPECT_LT(back->wall - restartedAt, 1.0) << "the sink was found late";
    ASSERT_TRUE(probe.waitFor(
        [&](const Status& s) { return s.wall > back->wall && s.output == "Device" && s.a > back->a + 0.05; },
        3000ms))
        << "the stream on the sink never ran";
    expectAdvancing(probe, "Device", 0.5);
    EXPECT_NEAR(tailRmsDb(recorder->finish(), 0.3), kMixRmsDb, 0.5)
        << "the sink did not hear both decks again";
    const int status = probe.finish();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the probe did not end cleanly: " << status;
}

TEST_F(LostOutputDevice, ServerStartedAfterTheProgramIsFoundAtOnceNotAtABackedOffRetry) {
    PrivateServer server; // not started yet
    Probe probe(server, fileA, fileB);
    ASSERT_TRUE(probe.started());
    ASSERT_TRUE(probe.waitFor([](const Status& s) { return s.a > 0.1; }, 5000ms)) << "the decks never played";
    // Down long enough for a backing-off retry to miss the return.
    expectAdvancing(probe, "SilentClock", 3.0);

    const double positionBeforeStart = probe.last().a;
    ASSERT_TRUE(server.start());
    const double startedAt = probe.secondsSinceStart();
    Recorder recorder(server, files.file("rec.raw"));
    const auto back =
        probe.waitFor([&](const Status& s) { return s.wall > startedAt && s.output == "Device"; }, 3000ms);
    ASSERT_TRUE(back) << "never found the device";
    EXPECT_LT(back->wall - startedAt, 1.0) << "the device was found late";
    EXPECT_GE(back->a, positionBeforeStart);
    const auto sounding = probe.waitFor(
        [&](const Status& s) { return s.wall > back->wall && s.output == "Device" && s.a > back->a + 0.05; },
        3000ms);
    ASSERT_TRUE(sounding) << "the device stream never ran";
    EXPECT_LT(sounding->wall - startedAt, kFirstRenderOfANewSink + 0.5) << "sound came late";
    std::printf("device found %.2f s, sound %.2f s after the server started\n", back->wall - startedAt,
                sounding->wall - startedAt);
    expectAdvancing(probe, "Device", 0.5);
    EXPECT_NEAR(tailRmsDb(recorder.finish(), 0.3), kMixRmsDb, 0.5) << "the server did not hear both decks";

    expectResponsive(probe);
    const int status = probe.finish();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the probe did not end cleanly: " << status;
}

} // namespace
