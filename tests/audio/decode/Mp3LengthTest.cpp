// An MP3 without a LAME/Xing header: its length is only an estimate until the engine has counted
// its frames; then a further open-state notification gives the exact length, and the sound ends
// exactly when the remaining time reaches 0.
#include <cmath>
#include <gtest/gtest.h>

#include "audio/PlayerTestSupport.h"

using namespace fixtures;

namespace {

std::string headerlessMp3(const TempDir& dir, double seconds) {
    const std::string path =
        writeTone(dir.file("bare.mp3"), seconds, 440.0, kRate, 2, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III);
    EXPECT_TRUE(stripMp3InfoHeader(path));
    return path;
}

TEST(Mp3Length, HeaderlessMp3GetsItsExactLengthInAFurtherNotification) {
    TempDir dir;
    const std::string path = headerlessMp3(dir, 3.0);
    auto engine = AudioEngine::createOffline(kRate, kBlock);
    DeckPlayer player(*engine);
    NotificationLog log(player);

    player.setFileName(q(path));
    EXPECT_EQ(log.take(), (std::vector<std::string>{"open 0->1"}));
    const double estimate = player.duration();
    engine->processNotifications();
    EXPECT_EQ(log.take(), (std::vector<std::string>{"open 1->2"}));
    const double exact = player.duration();
    // The fixture is the trap: the bitrate estimate is far off.
    EXPECT_GT(std::abs(estimate - exact), 0.1);
    // The decoded sound: 3 s plus the encoder's priming and padding, whole MPEG frames of 1152.
    EXPECT_NEAR(exact, 3.0, 0.1);
    EXPECT_EQ(std::fmod(exact * kRate, 1152.0), 0.0);

    // Played to the end, the sound lasts exactly that long.
    player.play();
    std::size_t frames = 0;
    while (player.playState() == DeckPlayer::Playing && frames < 5 * kRate) {
        engine->render(kBlock);
        frames += kBlock;
    }
    EXPECT_LE(std::abs(static_cast<double>(frames) - exact * kRate), kBlock);
}

TEST(Mp3Length, RemainingTimeReachesZeroWhenTheSoundEnds) {
    TempDir dir;
    const std::string path = headerlessMp3(dir, 2.0);
    auto engine = AudioEngine::createOffline(kRate, kBlock);
    DeckPlayer player(*engine);
    player.setFileName(q(path));
    engine->processNotifications();
    player.setCurrentPosition(player.duration() - 0.2);
    player.play();
    double lastRemaining = 1.0;
    while (player.playState() == DeckPlayer::Playing) {
        lastRemaining = player.duration() - player.currentPosition();
        engine->render(kBlock);
    }
    EXPECT_NEAR(lastRemaining, 0.0, double(kBlock) / kRate + 1e-9);
}

TEST(Mp3Length, Mp3WithHeaderIsExactAtOnce) {
    TempDir dir;
    const std::string path =
        writeTone(dir.file("tagged.mp3"), 2.0, 440.0, 44100, 2, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III);
    auto engine = AudioEngine::createOffline(kRate, kBlock);
    DeckPlayer player(*engine);
    player.setFileName(q(path));
    EXPECT_DOUBLE_EQ(player.duration(), 2.0);
    engine->processNotifications();
    EXPECT_DOUBLE_EQ(player.duration(), 2.0);
}

} // namespace
