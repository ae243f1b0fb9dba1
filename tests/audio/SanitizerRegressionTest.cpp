// Faults the sanitizer builds found in the engine, each test named after its fault. They also pass
// in the plain build; under AddressSanitizer (scripts/test.sh) they fail loudly if the fault returns.
#include <gtest/gtest.h>
#include <string>

#include "support/AudioFixtures.h"
#include "audio/AudioEngine.h"

namespace {

struct CountingListener final : AudioEngine::Listener {
    void deckEnded() override { ++ended; }
    void deckLengthKnown() override { ++lengthKnown; }
    void deckLost(const std::string&) override { ++lost; }
    int ended = 0, lengthKnown = 0, lost = 0;
};

// processNotifications() read the MP3 length count's job after erasing it from its list (a
// heap-use-after-free): whether the deck heard "length known" depended on freed memory.
TEST(EngineRegression, Mp3LengthKnownIsAnnouncedWithoutReadingTheFreedScanJob) {
    fixtures::TempDir dir;
    const std::string mp3 =
        fixtures::writeTone(dir.file("tone.mp3"), 0.5, 440.0, 44100, 2, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III);
    auto engine = AudioEngine::createOffline(48000, 256);
    CountingListener a, b;
    const int deckA = engine->attachDeck(a);
    const int deckB = engine->attachDeck(b);
    // Two scans finish in one call, so the loop goes on past the first erased job.
    EXPECT_FALSE(engine->load(deckA, mp3).exact);
    EXPECT_FALSE(engine->load(deckB, mp3).exact);
    engine->processNotifications();
    EXPECT_EQ(a.lengthKnown, 1);
    EXPECT_EQ(b.lengthKnown, 1);
    EXPECT_TRUE(engine->deckInfo(deckA).exact);
    EXPECT_NEAR(engine->deckInfo(deckB).duration, 0.5, 0.03);
    // A scan overtaken by a newer load is dropped without a word.
    EXPECT_FALSE(engine->load(deckA, mp3).exact);
    engine->unload(deckA);
    engine->processNotifications();
    EXPECT_EQ(a.lengthKnown, 1);
}

} // namespace
