// Files that cannot be played: each is refused with its file and reason, and the player goes on
// exactly as it was. A file that becomes unreadable while playing stops its deck cleanly.
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <unistd.h>

#include "PlayerTestSupport.h"
#include "common/Errors.h"

using namespace fixtures;

namespace {

struct BadCase {
    const char* name;
    std::function<std::string(const TempDir&)> make; // returns the path to load
    const char* reason;
};

std::string randomBytes(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(gen() & 0xFF);
    return s;
}

// A FLAC file whose audio frames, after its metadata, are overwritten with noise.
std::string corruptFlac(const TempDir& dir) {
    const std::string path =
        writeTone(dir.file("corrupt.flac"), 1.0, 440.0, 44100, 2, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    const auto size = std::filesystem::file_size(path);
    std::string bytes(size, '\0');
    {
        std::ifstream in(path, std::ios::binary);
        in.read(bytes.data(), static_cast<std::streamsize>(size));
    }
    const std::size_t firstFrame = bytes.find("\xFF\xF8", 42);
    bytes.replace(firstFrame, size - firstFrame, randomBytes(size - firstFrame, 7));
    return writeBytes(path, bytes);
}

const BadCase kBadCases[] = {
    {"Missing", [](const TempDir& d) { return d.file("missing.wav"); }, "no such file"},
    {"Folder", [](const TempDir& d) { return d.path(); }, "folder"},
    {"Empty", [](const TempDir& d) { return writeBytes(d.file("empty.wav"), ""); }, "empty file"},
    {"Text", [](const TempDir& d) { return writeBytes(d.file("notes.mp3"), std::string(5000, 'x')); },
     "not an audio file"},
    {"Noise", [](const TempDir& d) { return writeBytes(d.file("noise.wav"), randomBytes(20000, 3)); },
     "not an audio file"},
    {"WavCutInItsHeader",
     [](const TempDir& d) {
         const auto p = writeTone(d.file("cut.wav"), 1.0, 440.0);
         truncateFile(p, 30);
         return p;
     },
     "corrupt"},
    {"WavCutInItsData",
     [](const TempDir& d) {
         const auto p = writeTone(d.file("cut.wav"), 2.0, 440.0);
         truncateFile(p, 44 + 4 * 44100);
         return p;
     },
     "truncated"},
    {"FlacCutShort",
     [](const TempDir& d) {
         const auto p =
             writeTone(d.file("cut.flac"), 2.0, 440.0, 44100, 2, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
         truncateFile(p, std::filesystem::file_size(p) / 2);
         return p;
     },
     "truncated"},
    {"FlacWithCorruptAudio", corruptFlac, "corrupt"},
    {"WavWithNoFrames", [](const TempDir& d) { return writeSamples(d.file("none.wav"), {}, 44100, 2); },
     "no audio"},
};

class BadInputTest : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadInputTest, IsRefusedWithItsReasonAndThePlayerPlaysOn) {
    TempDir dir;
    auto engine = AudioEngine::createOffline(kRate, kBlock);
    MediaPlayer player(*engine);
    const QString good = q(writeTone(dir.file("good.wav"), 3.0, 440.0, kRate));
    player.setFileName(good);
    player.setVolume(-600);
    player.play();
    engine->render(kRate / 2);
    const double position = player.currentPosition();
    const double duration = player.duration();
    NotificationLog log(player);

    const std::string bad = GetParam().make(dir);
    try {
        player.setFileName(q(bad));
        FAIL() << "loaded " << bad;
    } catch (const PlayerError& e) {
        const std::string message = e.what();
        EXPECT_NE(message.find("Can't load \"" + bad + "\""), std::string::npos) << message;
        EXPECT_NE(message.find(GetParam().reason), std::string::npos) << message;
    }
    EXPECT_EQ(player.fileName(), good);
    EXPECT_EQ(player.playState(), MediaPlayer::Playing);
    EXPECT_EQ(player.currentPosition(), position);
    EXPECT_EQ(player.duration(), duration);
    EXPECT_EQ(player.volume(), -600);
    EXPECT_TRUE(log.entries.empty());
    // Not a sample lost: the tone goes on at its level, from where it was.
    const auto out = engine->render(kRate / 4);
    EXPECT_NEAR(rmsDb(out), -9.03 - 6.0, 0.1);
    EXPECT_DOUBLE_EQ(player.currentPosition(), position + 0.25);
}

INSTANTIATE_TEST_SUITE_P(EveryBadFile, BadInputTest, ::testing::ValuesIn(kBadCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BadInput, UnreadableFileIsRefusedAsPermissionDenied) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    TempDir dir;
    const std::string path = writeTone(dir.file("locked.wav"), 1.0, 440.0);
    std::filesystem::permissions(path, std::filesystem::perms::none);
    auto engine = AudioEngine::createOffline(kRate, kBlock);
    MediaPlayer player(*engine);
    try {
        player.setFileName(q(path));
        FAIL();
    } catch (const PlayerError& e) {
        EXPECT_NE(std::string(e.what()).find("permission denied"), std::string::npos) << e.what();
    }
    EXPECT_EQ(player.fileName(), "");
}

TEST(BadInput, FileCutShortWhilePlayingStopsItsDeckAndTheOtherPlaysOn) {
    TempDir dir;
    auto engine = AudioEngine::createOffline(kRate, kBlock);
    MediaPlayer a(*engine);
    MediaPlayer b(*engine);
    const std::string pathA =
        writeTone(dir.file("a.wav"), 5.0, 440.0, kRate, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    a.setFileName(q(pathA));
    b.setFileName(q(writeConstant(dir.file("b.wav"), 5.0, 0.25f)));
    a.play();
    b.play();
    engine->render(kRate / 10);
    NotificationLog logA(a);
    truncateFile(pathA, 44 + 4 * kRate); // one second of audio left of five

    testing::internal::CaptureStderr();
    for (int i = 0; i < 20 && a.playState() == MediaPlayer::Playing; ++i)
        engine->render(kRate / 10);
    const std::string err = testing::internal::GetCapturedStderr();

    EXPECT_EQ(a.playState(), MediaPlayer::Stopped);
    EXPECT_EQ(a.currentPosition(), 0.0);
    EXPECT_EQ(logA.entries, (std::vector<std::string>{"play 2->0"}));
    EXPECT_NE(err.find(pathA), std::string::npos) << err;
    EXPECT_NE(err.find("could not be read"), std::string::npos) << err;
    EXPECT_EQ(b.playState(), MediaPlayer::Playing);
    const auto out = engine->render(kRate / 10);
    // After deck A's 3 ms fade-out, deck B alone, undisturbed.
    EXPECT_EQ(peak(framesOf(out, kBlock, kRate)), 0.25f);
    EXPECT_EQ(fixtures::maxStep(framesOf(out, kBlock, kRate), 0), 0.0f);
}

} // namespace
