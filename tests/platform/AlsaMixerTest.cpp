// The ALSA backend for real: against the private PulseAudio server's null sink (suites named Pulse*),
// and with no sound server at all.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <regex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "audio/VolumeControl.h"
#include "platform/AlsaMixer.h"
#include "support/PulseServer.h"

using namespace mixer;

namespace {

std::string run(const std::string& command) {
    std::string output;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return output;
    std::array<char, 256> buffer;
    while (std::fgets(buffer.data(), buffer.size(), pipe) != nullptr)
        output += buffer.data();
    ::pclose(pipe);
    return output;
}

// The test sink's raw volume per channel as the server itself reports it ("front-left: 32768 /  50% ...").
std::vector<long> sinkVolumes() {
    const std::string text = run("pactl get-sink-volume testsink");
    static const std::regex channel(R"(: (\d+) /\s*(\d+)%)");
    std::vector<long> raw;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), channel); it != std::sregex_iterator();
         ++it)
        raw.push_back(std::stol((*it)[1]));
    return raw;
}

// The server applies a write on its own time; wait until every channel shows the expected level.
::testing::AssertionResult sinkReaches(long low, long high) {
    std::vector<long> volumes;
    for (int attempt = 0; attempt < 40; ++attempt) {
        volumes = sinkVolumes();
        if (!volumes.empty() &&
            std::all_of(volumes.begin(), volumes.end(), [&](long v) { return v >= low && v <= high; }))
            return ::testing::AssertionSuccess();
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    auto failure = ::testing::AssertionFailure() << "pactl reports";
    for (long v : volumes)
        failure << ' ' << v;
    return failure << ", wanted " << low << ".." << high << " on every channel";
}

class PulseMixer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(usePulseServer()) << "FADEWELL_PULSE_DIR is not set";
        const auto volumes = sinkVolumes();
        ASSERT_FALSE(volumes.empty()) << run("pactl get-sink-volume testsink");
        m_savedVolume = volumes.front();
        ASSERT_EQ(alsa.mixerOpen(&handle, 0, 0, 0, 0), MMSYSERR_NOERROR);
        ASSERT_NE(handle, 0u);
    }

    // Other tests listen to this sink: leave it as it was found.
    void TearDown() override {
        if (m_savedVolume >= 0)
            run("pactl set-sink-volume testsink " + std::to_string(m_savedVolume));
    }

    AlsaMixer alsa{"default"};
    HMIXER handle = 0;

private:
    long m_savedVolume = -1;
};

TEST_F(PulseMixer, FindsTheSpeakersVolumeWithTheFullRange) {
    MixerControlRecord master{};
    ASSERT_TRUE(VolumeControl::FindMixerControl(alsa, handle, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS,
                                                MIXERCONTROL_CONTROLTYPE_VOLUME, master));
    EXPECT_EQ(master.cbStruct, kPlatformControlSize);
    EXPECT_GE(master.dwControlID, 1u);
    EXPECT_EQ(master.dwControlType, MIXERCONTROL_CONTROLTYPE_VOLUME);
    EXPECT_EQ(master.lMinimum, 0);
    EXPECT_EQ(master.lMaximum, 65535);
    EXPECT_EQ(master.reserved[4], 65536u) << "the element's own steps";

    // A second open is a handle of its own; a handle never given out is refused.
    HMIXER second = 0;
    ASSERT_EQ(alsa.mixerOpen(&second, 0, 0, 0, 0), MMSYSERR_NOERROR);
    EXPECT_NE(second, handle);
    MixerControlRecord again{};
    EXPECT_TRUE(VolumeControl::FindMixerControl(alsa, second, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS,
                                                MIXERCONTROL_CONTROLTYPE_VOLUME, again));
    EXPECT_FALSE(VolumeControl::FindMixerControl(alsa, second + 1, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS,
                                                 MIXERCONTROL_CONTROLTYPE_VOLUME, again));
}

TEST_F(PulseMixer, WritesMoveTheSinkVolumeInProportion) {
    MixerControlRecord master{};
    ASSERT_TRUE(VolumeControl::FindMixerControl(alsa, handle, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS,
                                                MIXERCONTROL_CONTROLTYPE_VOLUME, master));

    EXPECT_TRUE(VolumeControl::SetMixerControlValue(alsa, handle, master, 32768));
    EXPECT_TRUE(sinkReaches(32767, 32769)) << "half of the 0..65535 range is half of the server's 0..65536";
    EXPECT_THAT(run("pactl get-sink-volume testsink"), ::testing::HasSubstr(" 50%"));

    // The top of the presented range is the top of the element's, not one step short of it.
    EXPECT_TRUE(VolumeControl::SetMixerControlValue(alsa, handle, master, 65535));
    EXPECT_TRUE(sinkReaches(65536, 65536));

    EXPECT_TRUE(VolumeControl::SetMixerControlValue(alsa, handle, master, 0));
    EXPECT_TRUE(sinkReaches(0, 0));
}

TEST_F(PulseMixer, RefusedWritesLeaveTheSinkAlone) {
    MixerControlRecord master{};
    ASSERT_TRUE(VolumeControl::FindMixerControl(alsa, handle, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS,
                                                MIXERCONTROL_CONTROLTYPE_VOLUME, master));
    ASSERT_TRUE(VolumeControl::SetMixerControlValue(alsa, handle, master, 16384));
    ASSERT_TRUE(sinkReaches(16384, 16384));

    MixerControlRecord neverFound{};
    EXPECT_FALSE(VolumeControl::SetMixerControlValue(alsa, handle, neverFound, 65535)) << "control 0";
    EXPECT_FALSE(VolumeControl::SetMixerControlValue(alsa, handle, master, -1)) << "past 65535";
    EXPECT_FALSE(VolumeControl::SetMixerControlValue(alsa, handle, master, 65536));
    EXPECT_FALSE(VolumeControl::SetMixerControlValue(alsa, 0, master, 65535)) << "a failed open's handle";
    EXPECT_TRUE(sinkReaches(16384, 16384));
}

TEST_F(PulseMixer, LinesTheServerLacksAreNotFound) {
    for (std::uint32_t component :
         {MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, MIXERLINE_COMPONENTTYPE_SRC_LINE}) {
        MixerControlRecord record{};
        EXPECT_FALSE(
            VolumeControl::FindMixerControl(alsa, handle, component, MIXERCONTROL_CONTROLTYPE_VOLUME, record))
            << std::hex << component;
        EXPECT_EQ(record.cbStruct, 0u) << "the line is missing, so the record is untouched";
    }
}

// Runs in a child process (a death test) with an empty runtime folder: no sound server to find, none
// started on demand. Exits 0 when the open failed with an error code and left the handle alone.
[[noreturn]] void openWithoutServer(const char* device) {
    ::alarm(20); // a hang fails the test instead of stalling the suite
    const auto dir =
        std::filesystem::temp_directory_path() / ("fadewell-noserver-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "client.conf") << "autospawn = no\n";
    ::setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    ::setenv("PULSE_CLIENTCONFIG", (dir / "client.conf").c_str(), 1);
    ::unsetenv("PULSE_SERVER");
    ::unsetenv("DISPLAY");

    AlsaMixer alsa(device);
    HMIXER handle = 0;
    const MMRESULT result = alsa.mixerOpen(&handle, 0, 0, 0, 0);
    std::filesystem::remove_all(dir);
    std::fprintf(stderr, "mixerOpen(%s) = %u, handle %u\n", device, result, handle);
    std::exit(result != MMSYSERR_NOERROR && handle == 0 ? 0 : 1);
}

bool machineHasSoundCard() {
    std::ifstream cards("/proc/asound/cards");
    std::string first;
    return cards && std::getline(cards, first) && first.find("no soundcards") == std::string::npos;
}

TEST(AlsaMixerWithoutServer, PulseDeviceFailsToOpenQuietly) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(openWithoutServer("pulse"), ::testing::ExitedWithCode(0),
                ::testing::AllOf(::testing::HasSubstr("mixerOpen(pulse) = 6"),
                                 ::testing::Not(::testing::HasSubstr("ALSA lib"))));
}

TEST(AlsaMixerWithoutServer, DefaultDeviceFailsToOpenWithoutCardOrServer) {
    if (machineHasSoundCard())
        GTEST_SKIP() << "this machine has a sound card, so ALSA's default device opens without a server";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(openWithoutServer("default"), ::testing::ExitedWithCode(0),
                ::testing::AllOf(::testing::HasSubstr("mixerOpen(default) = 6"),
                                 ::testing::Not(::testing::HasSubstr("ALSA lib"))));
}

} // namespace
