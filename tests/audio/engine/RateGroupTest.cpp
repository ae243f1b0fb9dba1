// Decks whose files share a rate other than the engine's are mixed at that rate and resampled
// together in the callback. What that must not change: each deck sounds as it would alone, a deck
// that starts while its group plays on starts cleanly, a group that went quiet starts again as if
// new, and a rate beyond the groups still plays.
#include <gtest/gtest.h>

#include "audio/PlayerTestSupport.h"

using namespace fixtures;

namespace {

struct Deck {
    std::string path;
    double startSeconds = 0.0;
};

// Renders the given files on a fresh engine, each started at its second, for `seconds`.
std::vector<float> renderDecks(const std::vector<Deck>& decks, double seconds) {
    auto engine = AudioEngine::createOffline(kRate, kBlock);
    std::vector<std::unique_ptr<DeckPlayer>> players;
    for (const Deck& d : decks) {
        players.push_back(std::make_unique<DeckPlayer>(*engine));
        players.back()->setFileName(q(d.path));
    }
    std::vector<float> out;
    const auto total = static_cast<std::size_t>(seconds * kRate);
    for (std::size_t frame = 0; frame < total; frame += kBlock) {
        for (std::size_t i = 0; i < decks.size(); ++i)
            if (static_cast<std::size_t>(decks[i].startSeconds * kRate) == frame)
                players[i]->play();
        const auto block = engine->render(kBlock);
        out.insert(out.end(), block.begin(), block.end());
    }
    return out;
}

float largestDifference(const std::vector<float>& a, const std::vector<float>& b) {
    float worst = 0.0f;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        worst = std::max(worst, std::abs(a[i] - b[i]));
    return worst;
}

class RateGroupTest : public ::testing::Test {
protected:
    TempDir dir;
};

TEST_F(RateGroupTest, DecksSharingARateSoundTogetherAsTheSumOfEachAlone) {
    // Two 44.1 kHz decks (one group), a 96 kHz deck (another) and a 48 kHz deck (none).
    const std::vector<Deck> decks = {
        {writeTone(dir.file("a.wav"), 2.0, 440.0, 44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0.2), 0.0},
        {writeTone(dir.file("b.flac"), 2.0, 1234.0, 44100, 1, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 0.2), 0.0},
        {writeTone(dir.file("c.wav"), 2.0, 3000.0, 96000, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0.2),
         19.0 * kBlock / kRate},
        {writeTone(dir.file("d.wav"), 2.0, 97.0, kRate, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0.2), 0.0},
    };
    const auto together = renderDecks(decks, 1.0);
    std::vector<float> sum(together.size(), 0.0f);
    for (const Deck& d : decks) {
        const auto alone = renderDecks({d}, 1.0);
        ASSERT_EQ(alone.size(), sum.size());
        EXPECT_GT(peak(framesOf(alone, kRate / 2, 1000)), 0.15f) << d.path << " is heard";
        for (std::size_t i = 0; i < sum.size(); ++i)
            sum[i] += alone[i];
    }
    EXPECT_LT(largestDifference(together, sum), 1e-6f);
}

TEST_F(RateGroupTest, ADeckJoiningAPlayingGroupStartsWithoutAClickAndIsHeardInItsFirstBlock) {
    auto engine = AudioEngine::createOffline(kRate, kBlock);
    DeckPlayer a(*engine), b(*engine);
    a.setFileName(q(writeConstant(dir.file("a.wav"), 2.0, 0.25f, 44100)));
    b.setFileName(q(writeConstant(dir.file("b.wav"), 2.0, 0.25f, 44100)));
    a.play();
    engine->render(kRate / 4);
    b.play();
    const auto block = engine->render(kBlock);
    // b's 3 ms fade-in, through the filter: from 0.25 to 0.5 in small steps.
    EXPECT_NEAR(block[2 * (kBlock - 1)], 0.5f, 1e-4f);
    EXPECT_LE(maxStep(block, 0), 0.25f / (0.003f * 44100) * 1.2f);
    const auto later = engine->render(kRate / 10);
    EXPECT_NEAR(peak(later), 0.5f, 1e-4f);
    EXPECT_LE(maxStep(later, 1), 1e-4f);
}

TEST_F(RateGroupTest, AGroupThatWentQuietFallsSilentAndStartsAgainAsIfNew) {
    const std::string path = writeTone(dir.file("t.wav"), 3.0, 550.0, 44100);
    auto engine = AudioEngine::createOffline(kRate, kBlock);
    DeckPlayer player(*engine);
    player.setFileName(q(path));
    player.play();
    engine->render(kRate / 2);
    player.halt();
    engine->render(kBlock * 4); // the fade-out and the filter's tail
    EXPECT_EQ(peak(engine->render(kRate / 4)), 0.0f) << "nothing is left ringing";
    player.setCurrentPosition(1.5);
    player.play();
    const auto again = engine->render(kRate / 4);

    auto fresh = AudioEngine::createOffline(kRate, kBlock);
    DeckPlayer other(*fresh);
    other.setFileName(q(path));
    other.setCurrentPosition(1.5);
    other.play();
    EXPECT_EQ(again, fresh->render(kRate / 4));
}

TEST_F(RateGroupTest, RatesBeyondTheGroupsStillPlayAtTheirSpeedAndLength) {
    auto engine = AudioEngine::createOffline(kRate, kBlock);
    DeckPlayer player(*engine);
    // Every group taken by a rate of its own, then one more.
    for (int i = 0; i < AudioEngine::kMaxGroups; ++i) {
        player.setFileName(
            q(writeTone(dir.file("r" + std::to_string(i) + ".wav"), 0.1, 440.0, 20000 + 1000 * i)));
        player.play();
        engine->render(kBlock);
    }
    const int lastRate = 20000 + 1000 * AudioEngine::kMaxGroups;
    player.setFileName(q(writeTone(dir.file("last.wav"), 1.0, 1000.0, lastRate)));
    EXPECT_DOUBLE_EQ(player.duration(), 1.0);
    player.play();
    const auto out = engine->render(kRate + kRate / 2);
    EXPECT_NEAR(rmsDb(framesOf(out, kRate / 4, kRate / 2)), -9.03, 0.05);
    EXPECT_GT(rmsDb(framesOf(out, kRate - 600, 400)), -12.0);
    EXPECT_EQ(peak(framesOf(out, kRate + 200, kRate / 4)), 0.0f);
    // A 1 kHz tone: 100 zero crossings upward in 0.1 s at the engine's rate.
    int crossings = 0;
    for (std::size_t i = kRate / 4; i < kRate / 4 + kRate / 10; ++i)
        crossings += out[2 * i] <= 0.0f && out[2 * (i + 1)] > 0.0f;
    EXPECT_NEAR(crossings, 100, 1);
}

} // namespace
