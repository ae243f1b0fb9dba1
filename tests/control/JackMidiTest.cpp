// Real MIDI through a real port: a private JACK server on its dummy backend (no sound card), a MIDI
// output of the test's own in its graph, the console's MidiPort connected to it by a part of its
// name, and a note and a fader move sent through JACK. (The ALSA sequencer's path needs the
// kernel's sequencer, which a machine without /dev/snd/seq has not.)
#include <QProcess>
#include <QTest>
#include <RtMidi.h>
#include <cstdlib>
#include <jack/jack.h>
#include <stdexcept>
#include <unistd.h>

#include "console/ConsoleFixture.h"
#include "control/MidiControl.h"
#include "control/MidiPort.h"

namespace {

void quiet(const char*) {}

class JackMidiTest : public ConsoleTest {
protected:
    void SetUp() override {
        // A server of this test's own: neither this process nor RtMidi starts one by itself.
        const std::string name = "fadewell-midi-test-" + std::to_string(::getpid());
        ::setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
        ::setenv("JACK_NO_START_SERVER", "1", 1);
        jackd.setProcessChannelMode(QProcess::MergedChannels);
        jackd.start("jackd", {"-n", QString::fromStdString(name), "-d", "dummy", "-r", "48000", "-p", "256"});
        ASSERT_TRUE(jackd.waitForStarted(5000)) << "jackd (the jackd2 package) did not start";
        jack_set_error_function(&quiet);
        jack_set_info_function(&quiet);
        ASSERT_TRUE(QTest::qWaitFor(
            [] {
                jack_client_t* c = jack_client_open("probe", JackNoStartServer, nullptr);
                if (c != nullptr)
                    jack_client_close(c);
                return c != nullptr;
            },
            10000))
            << "the JACK server did not answer: " << jackd.readAll().toStdString();
        sender = std::make_unique<RtMidiOut>(RtMidi::UNIX_JACK, "Fader Box");
        sender->openVirtualPort("midi out");
        start();
    }
    void TearDown() override {
        port.reset();
        sender.reset();
        jackd.terminate();
        jackd.waitForFinished(5000);
        ::unsetenv("JACK_DEFAULT_SERVER");
        ::unsetenv("JACK_NO_START_SERVER");
    }
    void send(std::vector<unsigned char> message) { sender->sendMessage(&message); }

    QProcess jackd;
    std::unique_ptr<RtMidiOut> sender;
    std::unique_ptr<MidiControl> control;
    std::unique_ptr<MidiPort> port;
};

TEST_F(JackMidiTest, ANoteAndAFaderStartThroughJackDriveTheConsole) {
    loadTone('A');
    loadTone('B');
    // JACK's inputs are the test's own; a machine with a sequencer lists ALSA's beside them.
    const MidiInputList list = listMidiInputs();
    std::vector<std::string> jackInputs;
    for (const MidiInputPort& p : list.ports)
        if (p.api == "JACK")
            jackInputs.push_back(p.name);
    EXPECT_EQ(jackInputs, std::vector<std::string>{"Fader Box:midi out"}) << formatMidiInputList(list);

    try {
        MidiPort wrong("mixing desk", [](const unsigned char*, std::size_t) {});
        ADD_FAILURE() << "connected to a port that is not there";
    } catch (const std::runtime_error& e) {
        const std::string said = e.what();
        EXPECT_NE(said.find("no MIDI input is named \"mixing desk\""), std::string::npos) << said;
        EXPECT_NE(said.find("\"Fader Box:midi out\" (JACK)"), std::string::npos) << said;
    }

    control = std::make_unique<MidiControl>(*console, midi::defaultMap());
    port = std::make_unique<MidiPort>(
        "fader box", [this](const unsigned char* bytes, std::size_t size) { control->receive(bytes, size); });
    EXPECT_EQ(port->port().name, "Fader Box:midi out");

    send({0x90, 60, 100}); // note 60: play A
    ASSERT_TRUE(QTest::qWaitFor([&] { return console->liveDeck() == "A"; }, 3000));
    EXPECT_EQ(console->MediaPlayerA->playState(), MediaPlayer::Playing);

    send({0xB1, 7, 0}); // B's fader at the bottom, then up to the top: B starts and goes live
    send({0xB1, 7, 127});
    ASSERT_TRUE(QTest::qWaitFor([&] { return console->liveDeck() == "B"; }, 3000));
    EXPECT_EQ(console->MediaPlayerB->playState(), MediaPlayer::Playing);
    EXPECT_EQ(console->SliderB->value(), 0);
    EXPECT_GT(rmsDb(advance(0.2)), -10.0); // both heard, B at the top
}

} // namespace
