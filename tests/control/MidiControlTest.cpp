// MIDI messages on the default map drive a console built with the test fakes through its own
// handlers: notes start, auto-fade, stop and reset; a fader moves its slider and starts its deck
// only when it leaves the bottom; a flood of fader moves ends at the latest.
#include <QTest>
#include <initializer_list>
#include <mutex>

#include "common/Globals.h"
#include "console/ConsoleFixture.h"
#include "control/MidiControl.h"

namespace {

class MidiTest : public ConsoleTest {
protected:
    void SetUp() override {
        start();
        control = std::make_unique<MidiControl>(*console, midi::defaultMap(), [this](const std::string& m) {
            std::lock_guard lock(saidMutex);
            said.push_back(m);
        });
    }
    // Messages as a port hands them on, from a thread that is not the window's; then the window
    // runs what they asked.
    void send(std::initializer_list<std::initializer_list<unsigned char>> messages) {
        std::thread port([&] {
            for (const auto& m : messages) {
                const std::vector<unsigned char> bytes(m);
                control->receive(bytes.data(), bytes.size());
            }
        });
        port.join();
        QCoreApplication::processEvents();
    }
    bool playing(MediaPlayer* player) const { return player->playState() == MediaPlayer::Playing; }

    std::unique_ptr<MidiControl> control;
    std::mutex saidMutex;
    std::vector<std::string> said;
};

TEST_F(MidiTest, NotesPlayAutoFadeStopAndReset) {
    loadTone('A');
    loadTone('B');
    send({{0x90, 60, 0}}); // a note on at velocity 0 is a note off
    EXPECT_FALSE(playing(console->MediaPlayerA));
    send({{0x95, 60, 100}, {0x85, 60, 0}}); // any channel
    EXPECT_TRUE(playing(console->MediaPlayerA));
    EXPECT_EQ(console->liveDeck(), "A");
    EXPECT_FALSE(console->fadeIsActive());

    send({{0x90, 65, 90}});
    EXPECT_EQ(console->liveDeck(), "B");
    EXPECT_TRUE(playing(console->MediaPlayerB));
    EXPECT_TRUE(console->fadeIsActive()); // A fades out as with B's "auto"

    send({{0x90, 67, 90}});
    EXPECT_EQ(console->MediaPlayerA->playState(), MediaPlayer::Stopped);
    send({{0xB0, 7, 127}, {0xB1, 7, 100}}); // A's and B's sliders
    EXPECT_EQ(console->SliderA->value(), 0);
    send({{0x90, 71, 1}}); // Reset Volume: the decks that are not live back to the standard level
    EXPECT_EQ(console->SliderA->value(), 20);
    EXPECT_EQ(console->SliderB->value(), midi::sliderPosition(100));
    EXPECT_TRUE(said.empty());
}

// The fader's value onto the slider (0 at the bottom, 127 at the top) at both ends; a start only
// on a move from 0 to above it, never on the first value heard or a move that was not at 0.
TEST_F(MidiTest, AFaderMovesItsSliderAndStartsItsDeckOnlyWhenItLeavesTheBottom) {
    loadTone('A');
    loadTone('C');
    send({{0xB0, 7, 64}, {0xB0, 7, 127}});
    EXPECT_EQ(console->SliderA->value(), 0);
    EXPECT_EQ(console->MediaPlayerA->volume(), Globals::PlayerVolumeFromSlider(0));
    EXPECT_FALSE(playing(console->MediaPlayerA)) << "started without leaving the bottom";
    send({{0xB0, 7, 0}});
    EXPECT_EQ(console->SliderA->value(), 100);
    EXPECT_FALSE(playing(console->MediaPlayerA));
    send({{0xB0, 7, 1}, {0xB0, 7, 90}});
    EXPECT_TRUE(playing(console->MediaPlayerA));
    EXPECT_EQ(console->liveDeck(), "A"); // as its key: it goes live
    EXPECT_EQ(console->SliderA->value(), midi::sliderPosition(90));

    // C's fader at the bottom before A's moves: the channels are the decks'.
    send({{0xB2, 7, 0}, {0xB0, 7, 0}, {0xB0, 7, 20}});
    EXPECT_FALSE(playing(console->MediaPlayerC));
    EXPECT_EQ(console->SliderC->value(), 100);
    send({{0xB2, 7, 5}});
    EXPECT_TRUE(playing(console->MediaPlayerC));
    EXPECT_EQ(console->liveDeck(), "C");
}

// Thousands of moves of two faders and unmapped messages while the window is busy: each slider
// ends at its fader's last value, each unknown message is said once.
TEST_F(MidiTest, AFloodOfFaderMovesEndsAtTheLatest) {
    loadTone('A');
    loadTone('B');
    std::thread port([&] {
        for (int i = 0; i < 5000; ++i) {
            const unsigned char bytes[] = {static_cast<unsigned char>(0xB0 | (i % 2)), 7,
                                           static_cast<unsigned char>(1 + i % 120)};
            control->receive(bytes, 3);
            const unsigned char unknown[] = {0x90, static_cast<unsigned char>(i % 3), 1};
            control->receive(unknown, 3);
        }
        const unsigned char last[][3] = {{0xB0, 7, 100}, {0xB1, 7, 27}};
        for (const auto& m : last)
            control->receive(m, 3);
    });
    port.join();
    QCoreApplication::processEvents();
    EXPECT_EQ(console->SliderA->value(), midi::sliderPosition(100));
    EXPECT_EQ(console->SliderB->value(), midi::sliderPosition(27));
    EXPECT_FALSE(playing(console->MediaPlayerA)); // the first value heard was not 0
    std::lock_guard lock(saidMutex);
    EXPECT_EQ(said,
              (std::vector<std::string>{"note 0 on channel 1 is not in the MIDI map; nothing changed",
                                        "note 1 on channel 1 is not in the MIDI map; nothing changed",
                                        "note 2 on channel 1 is not in the MIDI map; nothing changed"}));
}

} // namespace
