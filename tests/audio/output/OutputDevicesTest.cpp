// Choosing the output device: the name an operator gives matched against the devices there are,
// the list --list-devices prints, and (Pulse* suites, on the private server) the sinks listed, a
// chosen sink that is not there, and one that goes and comes back. (The options that ask for a
// device are read with the command line's: tests/common/CommandLineTest.cpp.)
#include <QTest>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "audio/PlayerTestSupport.h"
#include "audio/output/OutputDevices.h"
#include "support/PulseServer.h"

namespace {

OutputDevice sink(std::string name, std::string description) {
    return {OutputDevice::Kind::ServerSink, std::move(name), std::move(description), "PulseAudio", 2, 44100};
}
OutputDevice portAudio(std::string name, int channels = 2) {
    return {OutputDevice::Kind::PortAudio, std::move(name), "", "ALSA", channels, 48000};
}

// What a desktop with a USB interface and the laptop's own card might show.
const std::vector<OutputDevice> kDevices = {
    sink("alsa_output.pci-0000_00_1f.3.analog-stereo", "Built-in Audio Analog Stereo"),
    sink("alsa_output.usb-Focusrite_Scarlett_2i2-00.analog-stereo", "Scarlett 2i2 USB"),
    sink("other", "Second Output"),
    sink("Other2", "Other output, too"),
    portAudio("HDA Intel PCH: ALC892 Analog (hw:0,0)"),
    portAudio("pulse", 32),
    portAudio("default", 32),
};

struct MatchCase {
    const char* wanted;
    const char* chosen; // nullptr: none, and the error holds every fragment below
    std::vector<std::string> errorHolds;
};

TEST(OutputDeviceChoice, MatchesExactlyThenWholeThenAUniquePartAndRefusesTheRest) {
    const std::vector<MatchCase> cases = {
        // The exact name, even where it is also part of another's name or description.
        {"other", "other", {}},
        {"pulse", "pulse", {}},
        {"HDA Intel PCH: ALC892 Analog (hw:0,0)", "HDA Intel PCH: ALC892 Analog (hw:0,0)", {}},
        // The whole name or description in another case beats parts of others.
        {"OTHER2", "Other2", {}},
        {"second output", "other", {}},
        // A part of one name or description alone, in any case.
        {"scarlett", "alsa_output.usb-Focusrite_Scarlett_2i2-00.analog-stereo", {}},
        {"Built-in", "alsa_output.pci-0000_00_1f.3.analog-stereo", {}},
        {"alc892", "HDA Intel PCH: ALC892 Analog (hw:0,0)", {}},
        {"hw:0,0", "HDA Intel PCH: ALC892 Analog (hw:0,0)", {}},
        // A part of several: refused, every candidate named.
        {"analog",
         nullptr,
         {"\"analog\" could mean 3 output devices",
          "\"alsa_output.pci-0000_00_1f.3.analog-stereo\" (PulseAudio)",
          "\"alsa_output.usb-Focusrite_Scarlett_2i2-00.analog-stereo\" (PulseAudio)",
          "\"HDA Intel PCH: ALC892 Analog (hw:0,0)\" (ALSA)"}},
        {"oth", nullptr, {"could mean 2 output devices", "\"other\"", "\"Other2\""}},
        // Nothing like it, and nothing at all.
        {"nosuch", nullptr, {"no output device is named \"nosuch\" or has it in its name"}},
        {"", nullptr, {"the device name is empty"}},
        {" ", nullptr, {"could mean"}}, // a blank is part of several descriptions: never a guess
    };
    for (const MatchCase& c : cases) {
        SCOPED_TRACE(std::string("wanted \"") + c.wanted + "\"");
        const DeviceChoice choice = chooseOutputDevice(kDevices, c.wanted);
        if (c.chosen != nullptr) {
            ASSERT_TRUE(choice.device.has_value()) << choice.error;
            EXPECT_EQ(choice.device->name, c.chosen);
            EXPECT_TRUE(choice.error.empty());
        } else {
            EXPECT_FALSE(choice.device.has_value()) << "chose " << choice.device->name;
            for (const std::string& fragment : c.errorHolds)
                EXPECT_NE(choice.error.find(fragment), std::string::npos) << choice.error;
        }
    }
}

TEST(OutputDeviceChoice, ASinkAndADeviceOfOneNameGiveTheSinkAndNoDevicesGiveAnError) {
    const std::vector<OutputDevice> both = {sink("default", "Server default"), portAudio("default")};
    const DeviceChoice choice = chooseOutputDevice(both, "default");
    ASSERT_TRUE(choice.device.has_value());
    EXPECT_EQ(choice.device->kind, OutputDevice::Kind::ServerSink);
    EXPECT_FALSE(chooseOutputDevice({}, "default").device.has_value());
}

TEST(OutputDeviceList, ShowsEveryDeviceInAlignedColumns) {
    const std::string text = formatDeviceList({sink("testsink", "TestSink"), portAudio("pulse", 32)});
    EXPECT_EQ(text, "NAME      HOST API    CHANNELS  RATE   DESCRIPTION\n"
                    "testsink  PulseAudio  2         44100  TestSink\n"
                    "pulse     ALSA        32        48000\n");
    EXPECT_EQ(formatDeviceList({}), "No output devices found.\n");
}

// On the private server: its sink listed as the server has it, PortAudio's devices after it.
TEST(PulseOutputDevices, ListsTheServersSinksThenPortAudiosDevices) {
    ASSERT_TRUE(usePulseServer());
    const std::vector<OutputDevice> devices = listOutputDevices();
    ASSERT_FALSE(devices.empty());
    const OutputDevice& first = devices.front();
    EXPECT_EQ(first.kind, OutputDevice::Kind::ServerSink);
    EXPECT_EQ(first.name, "testsink");
    EXPECT_EQ(first.description, "TestSink");
    EXPECT_EQ(first.hostApi, "PulseAudio");
    EXPECT_EQ(first.channels, 2);
    EXPECT_EQ(first.defaultRate, 44100.0);
    bool alsa = false;
    for (const OutputDevice& d : devices)
        alsa = alsa || (d.kind == OutputDevice::Kind::PortAudio && d.hostApi == "ALSA" && d.channels > 0);
    EXPECT_TRUE(alsa) << "no PortAudio device listed";
    EXPECT_TRUE(outputPresent(&first));
    const OutputDevice gone = sink("gone", "");
    EXPECT_FALSE(outputPresent(&gone)) << "a sink that is not there";
}

// A chosen sink that is not there is never swapped for another: the silent clock plays, said on
// stderr, until that very sink appears.
TEST(PulseOutputDevices, AChosenSinkThatIsNotThereGivesTheSilentClockNotTheDefaultSink) {
    ASSERT_TRUE(usePulseServer());
    testing::internal::CaptureStderr();
    auto engine = AudioEngine::createDefault(sink("gone", "Gone"));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(engine->output(), AudioEngine::Output::SilentClock);
    EXPECT_NE(err.find("\"gone\""), std::string::npos) << err;
    EXPECT_NE(err.find("playing on a silent clock"), std::string::npos) << err;
    QTest::qWait(700); // the engine has looked for the sink meanwhile, and still not found it
    EXPECT_EQ(engine->output(), AudioEngine::Output::SilentClock);
}

// What a command prints on stdout, its last newline taken off.
std::string output(const std::string& command) {
    std::string text;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            text.append(buffer, got);
        ::pclose(pipe);
    }
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

// Whether the server plays a stream on the sink of that name.
bool streamOn(const std::string& sink) {
    const std::string index = output("pactl list short sinks | awk '$2 == \"" + sink + "\" {print $1}'");
    return !index.empty() &&
           !output("pactl list short sink-inputs | awk '$2 == \"" + index + "\" {print $1}'").empty();
}

// The server moves the stream of a chosen sink that goes away to its default sink; once the sink is
// back, the engine opens its stream there again.
TEST(PulseOutputDevices, AChosenSinkThatGoesAndComesBackGetsItsStreamBack) {
    ASSERT_TRUE(usePulseServer());
    const std::string load = "pactl load-module module-null-sink sink_name=chosen rate=44100";
    std::string module = output(load);
    ASSERT_FALSE(module.empty()) << "no second sink";
    const DeviceChoice choice = chooseOutputDevice(listOutputDevices(), "chosen");
    ASSERT_TRUE(choice.device.has_value()) << choice.error;
    testing::internal::CaptureStderr();
    auto engine = AudioEngine::createDefault(*choice.device);
    EXPECT_EQ(engine->output(), AudioEngine::Output::Device);
    EXPECT_TRUE(QTest::qWaitFor([] { return streamOn("chosen"); }, 3000)) << "not on the chosen sink";

    (void)output("pactl unload-module " + module);
    EXPECT_TRUE(QTest::qWaitFor([] { return streamOn("testsink"); }, 3000)) << "the server kept no stream";
    QTest::qWait(600); // the engine has seen the sink gone
    module = output(load);
    EXPECT_TRUE(QTest::qWaitFor([] { return streamOn("chosen"); }, 5000)) << "not back on the chosen sink";
    EXPECT_FALSE(streamOn("testsink"));
    EXPECT_EQ(engine->output(), AudioEngine::Output::Device);
    engine.reset();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("the audio output device went away"), std::string::npos) << err;
    EXPECT_NE(err.find("the audio output device is back"), std::string::npos) << err;
    (void)output("pactl unload-module " + module);
}

} // namespace
