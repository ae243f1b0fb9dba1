// The media player over the offline engine: what the listener would hear, positions, lengths,
// notifications and bad files. Fixtures are written by the tests; time advances by rendering.
#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

#include "audio/PlayerTestSupport.h"
#include "common/Errors.h"

using namespace fixtures;

namespace {

class DeckPlayerTest : public ::testing::Test {
protected:
    TempDir dir;
    std::unique_ptr<AudioEngine> engine = AudioEngine::createOffline(kRate, kBlock);
    DeckPlayer player{*engine};
    NotificationLog log{player};

    // Renders until the player reports a state other than playing, at most maxSeconds; returns the
    // frames rendered until then.
    std::size_t renderUntilStopped(double maxSeconds) {
        std::size_t frames = 0;
        while (player.playState() == DeckPlayer::Playing && frames < maxSeconds * kRate) {
            engine->render(kBlock);
            frames += kBlock;
        }
        return frames;
    }
};

TEST_F(DeckPlayerTest, VolumeMinus4100IsMinus41DbBelowUnity) {
    player.setFileName(q(writeTone(dir.file("tone.wav"), 2.0, 1000.0, kRate)));
    player.play();
    const auto unity = engine->render(kRate / 2);
    player.setVolume(-4100);
    engine->render(kRate / 10); // past the ramp
    const auto quiet = engine->render(kRate / 2);
    const double difference =
        rmsDb(framesOf(quiet, 0, kRate / 2)) - rmsDb(framesOf(unity, kRate / 10, kRate / 2));
    EXPECT_NEAR(difference, -41.0, 0.1);
    EXPECT_EQ(player.volume(), -4100);
}

TEST_F(DeckPlayerTest, VolumeAtOrBelowMinus10000IsSilence) {
    player.setFileName(q(writeConstant(dir.file("c.wav"), 1.0, 0.5f)));
    player.setVolume(-10000);
    player.play();
    EXPECT_EQ(peak(engine->render(kRate / 4)), 0.0f);
    player.setVolume(-12000);
    EXPECT_EQ(peak(engine->render(kRate / 4)), 0.0f);
}

TEST_F(DeckPlayerTest, VolumeAboveZeroIsRefusedAndKeepsTheVolume) {
    player.setVolume(-820);
    EXPECT_THROW(player.setVolume(1), PlayerError);
    EXPECT_EQ(player.volume(), -820);
}

TEST_F(DeckPlayerTest, VolumeStepIsRampedWithoutAJump) {
    // A constant level shows the gain itself, sample by sample.
    player.setFileName(q(writeConstant(dir.file("c.wav"), 2.0, 0.5f)));
    player.play();
    engine->render(kRate / 10);
    player.setVolume(-2000); // gain 1 -> 0.1
    const auto out = engine->render(kRate / 10);
    const float rampFrames = 0.005f * kRate;
    EXPECT_LE(maxStep(out, 0), 0.5f * 0.9f / rampFrames * 1.01f);
    EXPECT_GT(maxStep(out, 0), 0.0f);                         // it did change
    EXPECT_NEAR(out[2 * 300], 0.05f, 1e-4f);                  // and arrived within the ramp
    EXPECT_FLOAT_EQ(out[0], 0.5f - 0.5f * 0.9f / rampFrames); // starting in the very next block
}

TEST_F(DeckPlayerTest, StartHaltAndStopAreRampedWithoutAClick) {
    player.setFileName(q(writeConstant(dir.file("c.wav"), 2.0, 0.5f)));
    player.play();
    const auto out = engine->render(kRate / 10);
    player.halt();
    const auto halted = engine->render(kRate / 10);
    player.play();
    const auto resumed = engine->render(kRate / 10);
    player.stop();
    const auto stopped = engine->render(kRate / 10);
    const float allowed = 0.5f / (0.003f * kRate) * 1.01f;
    for (const std::vector<float>* span : {&out, &halted, &resumed, &stopped})
        EXPECT_LE(maxStep(*span, 0), allowed);
    EXPECT_EQ(peak(framesOf(halted, kBlock, kRate)), 0.0f);
    EXPECT_EQ(peak(framesOf(stopped, kBlock, kRate)), 0.0f);
}

TEST_F(DeckPlayerTest, PlayAfterHaltIsHeardInTheVeryNextBlock) {
    player.setFileName(q(writeTone(dir.file("tone.wav"), 3.0, 440.0, kRate)));
    player.play();
    engine->render(kRate / 2);
    player.halt();
    EXPECT_EQ(peak(framesOf(engine->render(kRate / 2), kBlock, kRate)), 0.0f);
    player.play();
    const auto block = engine->render(kBlock);
    // The fade-in takes 144 frames; the rest of the first block is at full level.
    EXPECT_GT(peak(framesOf(block, 0, 144)), 0.0f);
    EXPECT_NEAR(peak(framesOf(block, 144, kBlock)), 0.5f, 0.02f);
}

TEST_F(DeckPlayerTest, LoadedFileIsHeardInTheVeryFirstBlock) {
    player.setFileName(q(writeTone(dir.file("tone.wav"), 1.0, 440.0, kRate)));
    player.play();
    EXPECT_GT(peak(engine->render(kBlock)), 0.4f);
}

TEST_F(DeckPlayerTest, PositionAfterNFramesIsNOverTheRate) {
    player.setFileName(q(writeTone(dir.file("tone.wav"), 2.0, 440.0, kRate)));
    EXPECT_EQ(player.currentPosition(), 0.0);
    player.play();
    engine->render(48 * kBlock);
    EXPECT_DOUBLE_EQ(player.currentPosition(), 48.0 * kBlock / kRate);
    engine->render(100);
    EXPECT_DOUBLE_EQ(player.currentPosition(), (48.0 * kBlock + 100) / kRate);
    player.halt();
    const double halted = player.currentPosition();
    engine->render(kRate / 10);
    // The fade-out is heard, then nothing moves.
    EXPECT_NEAR(player.currentPosition(), halted, 0.004);
    const double settled = player.currentPosition();
    engine->render(kRate / 10);
    EXPECT_EQ(player.currentPosition(), settled);
}

TEST_F(DeckPlayerTest, A441kFileOnA48kStreamKeepsItsDuration) {
    player.setFileName(q(writeTone(dir.file("tone.wav"), 1.0, 440.0, 44100)));
    EXPECT_DOUBLE_EQ(player.duration(), 1.0);
    player.play();
    const auto out = engine->render(kRate + kRate / 2);
    // The sound lasts one second at the stream's rate: the level holds until 1 s and is gone after.
    EXPECT_GT(rmsDb(framesOf(out, kRate - 600, 400)), -12.0);
    EXPECT_EQ(peak(framesOf(out, kRate + 200, kRate / 4)), 0.0f);
    EXPECT_NEAR(rmsDb(framesOf(out, kRate / 4, kRate / 2)), -9.03, 0.05); // a 0.5 sine, resampled
    EXPECT_EQ(player.playState(), DeckPlayer::Stopped);
}

TEST_F(DeckPlayerTest, MonoIsSpreadToBothChannels) {
    player.setFileName(q(writeTone(dir.file("mono.wav"), 1.0, 440.0, kRate, 1)));
    player.play();
    const auto out = engine->render(kRate / 4);
    EXPECT_GT(peak(out), 0.4f);
    for (std::size_t i = 0; i < out.size(); i += 2)
        ASSERT_EQ(out[i], out[i + 1]) << "frame " << i / 2;
}

TEST_F(DeckPlayerTest, EndOfFileStopsRewindsAndReportsStateZero) {
    player.setFileName(q(writeTone(dir.file("short.wav"), 0.25, 440.0, kRate)));
    player.play();
    log.take();
    const std::size_t frames = renderUntilStopped(1.0);
    EXPECT_NEAR(static_cast<double>(frames), 0.25 * kRate, kBlock);
    EXPECT_EQ(player.playState(), DeckPlayer::Stopped);
    EXPECT_EQ(player.currentPosition(), 0.0);
    EXPECT_EQ(log.take(), (std::vector<std::string>{"play 2->0"}));
    // And it plays again from the start.
    player.play();
    EXPECT_GT(peak(engine->render(kBlock)), 0.3f);
}

TEST_F(DeckPlayerTest, SeekPlaysFromTheNewPosition) {
    // Each sample holds its own time in seconds / 10, so the output tells where it comes from.
    std::vector<float> ramp(2 * kRate * 2);
    for (std::size_t i = 0; i < ramp.size() / 2; ++i)
        ramp[2 * i] = ramp[2 * i + 1] = static_cast<float>(i) / kRate / 10.0f;
    player.setFileName(q(writeSamples(dir.file("ramp.wav"), ramp, kRate, 2)));
    player.play();
    engine->render(kRate / 10);
    player.setCurrentPosition(1.5);
    EXPECT_DOUBLE_EQ(player.currentPosition(), 1.5);
    const auto out = engine->render(kRate / 10);
    // Fade out of the old place, then the new one from 1.5 s (fading in over 3 ms).
    const std::size_t at = 2 * 144 + 10;
    EXPECT_NEAR(out[2 * at], 0.15f + (at - 144.0f) / kRate / 10.0f, 1e-5f);
    EXPECT_EQ(player.playState(), DeckPlayer::Playing);
    EXPECT_NEAR(player.currentPosition(), 1.5 + (kRate / 10 - 144) / double(kRate), 1e-9);
}

TEST_F(DeckPlayerTest, NotificationsComeInOrderAndBeforeTheCallReturns) {
    const std::string a = writeTone(dir.file("a.wav"), 1.0, 440.0, kRate);
    const std::string b =
        writeTone(dir.file("b.flac"), 1.0, 440.0, kRate, 2, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    player.setFileName(q(a));
    EXPECT_EQ(log.take(), (std::vector<std::string>{"open 0->1", "open 1->2"}));
    player.halt(); // what a load does next: nothing to pause
    EXPECT_TRUE(log.take().empty());
    player.play();
    EXPECT_EQ(log.take(), (std::vector<std::string>{"play 0->2"}));
    player.play();
    EXPECT_TRUE(log.take().empty());
    player.halt();
    EXPECT_EQ(log.take(), (std::vector<std::string>{"play 2->1"}));
    player.play();
    player.stop();
    EXPECT_EQ(log.take(), (std::vector<std::string>{"play 1->2", "play 2->0"}));
    player.play();
    log.take();
    player.setFileName(q(b)); // a new file while playing: it stops first, then opens
    EXPECT_EQ(log.take(), (std::vector<std::string>{"play 2->0", "open 2->1", "open 1->2"}));
    EXPECT_EQ(player.duration(), 1.0);
    player.setFileName("");
    EXPECT_EQ(log.take(), (std::vector<std::string>{"open 2->0"}));
    EXPECT_EQ(player.fileName(), "");
    EXPECT_EQ(player.duration(), 0.0);
    EXPECT_THROW(player.play(), PlayerError);
}

TEST_F(DeckPlayerTest, UnloadWhilePlayingStopsTheSoundAndReportsStateZero) {
    player.setFileName(q(writeTone(dir.file("a.wav"), 1.0, 440.0, kRate)));
    player.play();
    engine->render(kBlock);
    log.take();
    player.setFileName("");
    EXPECT_EQ(log.take(), (std::vector<std::string>{"play 2->0", "open 2->0"}));
    EXPECT_EQ(peak(framesOf(engine->render(kRate / 10), kBlock, kRate)), 0.0f);
}

// --- every listed format decodes

struct FormatCase {
    const char* name;
    const char* file;
    int format;
    int rate;
    double lengthTolerance; // seconds: lossy codecs with priming
};

class FormatTest : public DeckPlayerTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(FormatTest, DecodesAtTheRightLevelAndLength) {
    const FormatCase& c = GetParam();
    const std::string path = writeTone(dir.file(c.file), 2.0, 440.0, c.rate, 2, c.format);
    player.setFileName(q(path));
    engine->processNotifications();
    EXPECT_NEAR(player.duration(), 2.0, c.lengthTolerance);
    player.play();
    const auto out = engine->render(kRate);
    EXPECT_NEAR(rmsDb(framesOf(out, kRate / 4, kRate / 2)), -9.03, 0.3) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    EveryFormat, FormatTest,
    ::testing::Values(FormatCase{"wav", "t.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 0.0},
                      FormatCase{"aiff", "t.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 48000, 0.0},
                      FormatCase{"flac", "t.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 0.0},
                      FormatCase{"vorbis", "t.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100, 0.0},
                      FormatCase{"opus", "t.opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, 48000, 0.0},
                      FormatCase{"mp3", "t.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 44100, 0.0}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
