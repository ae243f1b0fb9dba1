// The output keeps a long buffer queued at the sound server and, when a key changes what should be
// heard, has the engine go back to where the unplayed part began and make it again. What must hold:
// going back and making the same sound again gives the same sound to the bit (decks, volume ramps,
// resampled groups, markers, the end of a file); a change made after going back sounds exactly as
// if it had been made at that moment; the worker keeps the decks fed however often the engine goes
// back (and has room for a new position at once); and it never goes back further than it keeps
// (two seconds).
#include <gtest/gtest.h>

#include <functional>

#include "audio/PlayerTestSupport.h"

using namespace fixtures;

namespace {

// Three decks on one offline engine: a 44.1 kHz FLAC (resampled in a group), an MP3 at 44.1 kHz
// (the same group), a WAV at the engine's rate that ends after 2 s.
class Rewind : public ::testing::Test {
public:
    struct Console {
        std::unique_ptr<AudioEngine> engine = AudioEngine::createOffline(kRate, kBlock);
        DeckPlayer a{*engine}, b{*engine}, c{*engine};

        explicit Console(const Rewind& t) {
            a.setFileName(q(t.flac));
            b.setFileName(q(t.mp3));
            c.setFileName(q(t.wav));
            engine->processNotifications();
            a.play();
            b.play();
            c.play();
            b.setVolume(-1200);
        }
        // Renders frames, as an output does, in pieces that are not the engine's blocks. The
        // players hear of what happened (deck C's end) only when the caller delivers it: a real
        // output tells them only once it is heard, and never goes back before that.
        std::vector<float> render(std::size_t frames) {
            std::vector<float> out(2 * frames);
            for (std::size_t done = 0; done < frames;) {
                const std::size_t n = std::min<std::size_t>(frames - done, 441);
                engine->renderInto(out.data() + 2 * done, n);
                done += n;
            }
            return out;
        }
    };

    TempDir dir;
    std::string flac =
        writeTone(dir.file("a.flac"), 4.0, 440.0, 44100, 2, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 0.3);
    std::string mp3 =
        writeTone(dir.file("b.mp3"), 4.0, 330.0, 44100, 1, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 0.3);
    std::string wav =
        writeTone(dir.file("c.wav"), 2.0, 550.0, kRate, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0.3);
};

std::vector<float> tail(const std::vector<float>& v, std::size_t frames) {
    return {v.end() - static_cast<std::ptrdiff_t>(2 * frames), v.end()};
}

TEST_F(Rewind, MakingTheSameSoundAgainGivesTheSameSoundToTheBit) {
    Console console(*this);
    // Points before, across and after deck C's end, going back by amounts that do and do not
    // fall on a snapshot.
    for (const std::size_t back : {100u, 256u, 30000u, 4410u, 12000u}) {
        SCOPED_TRACE(back);
        const auto first = console.render(36000);
        const std::size_t went = console.engine->rewind(back);
        ASSERT_GT(went, 0u);
        ASSERT_LE(went, back);
        EXPECT_GT(went + 2 * kBlock, back); // less than two blocks short of what was asked
        const auto again = console.render(went);
        ASSERT_EQ(again, tail(first, went));
    }
    console.engine->processNotifications();
    EXPECT_EQ(console.c.playState(), DeckPlayer::Stopped); // deck C did reach its end
}

// What was changed, and how, after the first render.
struct Change {
    const char* what;
    std::function<void(Rewind&, DeckPlayer&, DeckPlayer&, DeckPlayer&)> apply;
};

TEST_F(Rewind, AChangeMadeAfterGoingBackSoundsAsIfMadeThen) {
    const std::vector<Change> changes = {
        {"a volume", [](Rewind&, DeckPlayer& a, DeckPlayer&, DeckPlayer&) { a.setVolume(-2500); }},
        {"a halt", [](Rewind&, DeckPlayer&, DeckPlayer& b, DeckPlayer&) { b.halt(); }},
        {"a start", [](Rewind&, DeckPlayer&, DeckPlayer&, DeckPlayer& c) { c.play(); }},
        {"a seek", [](Rewind&, DeckPlayer& a, DeckPlayer&, DeckPlayer&) { a.setCurrentPosition(2.5); }},
        {"a new file",
         [](Rewind& t, DeckPlayer& a, DeckPlayer&, DeckPlayer&) {
             a.setFileName(q(t.wav));
             a.play();
         }},
    };
    constexpr std::size_t kBefore = 24000, kBack = 12000, kAfter = 30000;
    for (const Change& change : changes) {
        SCOPED_TRACE(change.what);
        // Made after going back...
        Console late(*this);
        late.c.halt();
        late.render(kBefore);
        const std::size_t went = late.engine->rewind(kBack);
        ASSERT_GT(went, 0u);
        change.apply(*this, late.a, late.b, late.c);
        const auto lateSound = late.render(went + kAfter);
        // ...and made at that moment.
        Console then(*this);
        then.c.halt();
        then.render(kBefore - went);
        change.apply(*this, then.a, then.b, then.c);
        const auto thenSound = then.render(went + kAfter);
        ASSERT_EQ(lateSound, thenSound);
        late.engine->processNotifications();
        then.engine->processNotifications();
        EXPECT_DOUBLE_EQ(late.a.currentPosition(), then.a.currentPosition());
        EXPECT_EQ(late.a.playState(), then.a.playState());
    }
}

// An output that rewrites its queue on every fade tick: the sound in its queue, written over from
// the point it went back to, is the sound of an engine that never went back.
TEST_F(Rewind, GoingBackAtEveryTickForSecondsLosesNothing) {
    Console straight(*this);
    const auto expected = straight.render(3 * kRate);

    Console rewritten(*this);
    std::vector<float> queue;
    while (queue.size() < expected.size()) {
        const auto more =
            rewritten.render(std::min<std::size_t>(2400, expected.size() / 2 - queue.size() / 2));
        queue.insert(queue.end(), more.begin(), more.end());
        const std::size_t went = rewritten.engine->rewind(12000); // a quarter of a second
        queue.resize(queue.size() - 2 * went);
        const auto again = rewritten.render(went);
        queue.insert(queue.end(), again.begin(), again.end());
    }
    ASSERT_EQ(queue.size(), expected.size());
    EXPECT_TRUE(queue == expected);
}

// The sound made after a seek request and before the output asked for it again already has the
// deck at its new position (the worker served it meanwhile). Going back to before that keeps the
// new position, and it plays from there: as if asked for at that moment.
TEST_F(Rewind, GoingBackToBeforeASkipPlaysTheNewPositionFromThere) {
    Console late(*this);
    late.c.halt();
    late.render(24000);
    late.a.halt();
    late.render(4800); // deck A silent from here
    late.a.setCurrentPosition(2.5);
    late.a.play();
    late.render(2400); // and at its new position
    const std::size_t went = late.engine->rewind(4800);
    ASSERT_GT(went, 0u);
    const std::size_t from = 24000 + 4800 + 2400 - went;
    ASSERT_LT(from, 24000u + 4800u) << "went back to before the skip";
    const auto lateSound = late.render(went + 9600);

    Console then(*this);
    then.c.halt();
    then.render(24000);
    then.a.halt();
    then.render(from - 24000);
    then.a.setCurrentPosition(2.5);
    then.a.play();
    const auto thenSound = then.render(went + 9600);
    ASSERT_EQ(lateSound, thenSound);
    late.engine->processNotifications();
    then.engine->processNotifications();
    EXPECT_DOUBLE_EQ(late.a.currentPosition(), then.a.currentPosition());
}

// What the callback may go back to includes every seek's marker of the last two seconds: a dragged
// position bar asks for a seek at every step, and each must still be heard at once.
TEST_F(Rewind, ASeekAtEveryBlockForASecondIsHeardEachTime) {
    Console console(*this);
    console.b.halt();
    console.c.halt();
    console.render(kRate / 10);
    for (int i = 0; i < 200; ++i) {
        console.a.setCurrentPosition(0.5 + 0.01 * i);
        console.render(kBlock); // the fade out, and in at the new place
        ASSERT_GT(fixtures::peak(console.render(kBlock)), 0.2f) << "seek " << i << " not heard";
    }
}

TEST_F(Rewind, GoesNoFurtherBackThanTwoSecondsNorBeforeTheStart) {
    Console console(*this);
    console.render(1000);
    EXPECT_EQ(console.engine->rewind(5000), 1000u); // to the very start
    console.render(3 * kRate);
    const std::size_t went = console.engine->rewind(3 * kRate);
    EXPECT_LE(went, static_cast<std::size_t>(2 * kRate) + 3 * kBlock);
    EXPECT_GT(went, static_cast<std::size_t>(2 * kRate) - 2 * kBlock);
    EXPECT_EQ(console.engine->rewind(0), 0u);
}

// The engine keeps as many snapshots as two seconds of its blocks need, whatever its rate and
// block: rendered in its own blocks (the most snapshots), it still goes back the whole two seconds.
TEST(RewindReach, GoesBackTheWholeTwoSecondsWhateverTheRateAndTheBlock) {
    const struct {
        int rate, block;
    } cases[] = {{44100, 256}, {48000, 128}, {96000, 256}, {8000, 16}, {48000, 4096}};
    for (const auto& c : cases) {
        auto engine = AudioEngine::createOffline(c.rate, c.block);
        std::vector<float> out(2 * static_cast<std::size_t>(c.block));
        for (int i = 0; i < 3 * c.rate / c.block; ++i)
            engine->renderInto(out.data(), static_cast<std::size_t>(c.block));
        const std::size_t went = engine->rewind(static_cast<std::size_t>(3 * c.rate));
        EXPECT_GE(went, static_cast<std::size_t>(2 * c.rate)) << c.rate << " Hz, blocks of " << c.block;
        EXPECT_LE(went, static_cast<std::size_t>(2 * c.rate + 2 * c.block))
            << c.rate << " Hz, blocks of " << c.block;
    }
}

} // namespace
