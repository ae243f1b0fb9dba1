// A deck's fades over plain buffers: what the callback does to every piece of a deck's ring. What
// must hold: a start and a halt fade over exactly their ramp, straight and without a step; a new
// gain is reached over its ramp and lands on it exactly, from wherever a ramp before it had got to;
// a deck nobody hears takes a new gain at once; a fade-out takes no frame after silence; the sound
// is added to what the mix holds; and cutting the frames into other pieces changes nothing.
#include <gtest/gtest.h>

#include <vector>

#include "audio/engine/DeckFades.h"

namespace {

constexpr int kTransport = 144; // 3 ms at 48 kHz
constexpr int kVolume = 240;    // 5 ms

// A constant of 1 on both channels: the output is the gain of each frame.
std::vector<float> ones(std::size_t frames) {
    return std::vector<float>(2 * frames, 1.0f);
}

// Mixes frames of ones in pieces of the given size; the left channel of the result.
std::vector<float> mixInPieces(DeckFades& fades, std::size_t frames, std::size_t piece, int transportTarget,
                               std::size_t* took = nullptr) {
    const auto in = ones(frames);
    std::vector<float> out(2 * frames, 0.0f);
    std::size_t done = 0;
    while (done < frames) {
        const std::size_t n = std::min(piece, frames - done);
        const std::size_t t =
            fades.mix(in.data() + 2 * done, out.data() + 2 * done, n, transportTarget, kTransport);
        done += t;
        if (t < n)
            break;
    }
    if (took != nullptr)
        *took = done;
    std::vector<float> left(frames);
    for (std::size_t i = 0; i < frames; ++i)
        left[i] = out[2 * i];
    return left;
}

TEST(DeckFades, AStartFadesInStraightOverItsRampThenHoldsTheGain) {
    DeckFades fades;
    fades.aim(0.5f, kVolume);
    const auto gains = mixInPieces(fades, 400, 1000, kTransport);
    for (int i = 0; i < kTransport; ++i)
        ASSERT_FLOAT_EQ(gains[i], 0.5f * static_cast<float>(i + 1) / kTransport) << i;
    for (int i = kTransport; i < 400; ++i)
        ASSERT_EQ(gains[i], 0.5f) << i;
    EXPECT_EQ(fades.transport, kTransport);
}

TEST(DeckFades, AHaltFadesOutAndTakesNoFrameAfterSilence) {
    DeckFades fades;
    fades.aim(1.0f, kVolume);
    mixInPieces(fades, 500, 500, kTransport);
    std::size_t took = 0;
    const auto gains = mixInPieces(fades, 500, 500, 0, &took);
    EXPECT_EQ(took, static_cast<std::size_t>(kTransport)); // the rest stays where it is
    for (int i = 0; i < kTransport; ++i)
        ASSERT_FLOAT_EQ(gains[i], static_cast<float>(kTransport - i - 1) / kTransport) << i;
    EXPECT_EQ(gains[kTransport - 1], 0.0f);
    EXPECT_EQ(fades.transport, 0);
    EXPECT_EQ(fades.mix(ones(10).data(), ones(10).data(), 10, 0, kTransport), 0u);
}

TEST(DeckFades, ANewGainIsReachedOverItsRampExactlyAndFromWhereTheLastRampHadGot) {
    DeckFades fades;
    fades.aim(1.0f, kVolume);
    mixInPieces(fades, 500, 500, kTransport); // playing at 1
    fades.aim(0.25f, kVolume);
    auto gains = mixInPieces(fades, 100, 37, kTransport); // a ramp under way
    for (int i = 0; i < 100; ++i)
        ASSERT_NEAR(gains[i], 1.0f - 0.75f * static_cast<float>(i + 1) / kVolume, 1e-6f) << i;
    const float reached = gains[99];
    fades.aim(0.8f, kVolume); // turned back mid-ramp: no step
    gains = mixInPieces(fades, 400, 400, kTransport);
    EXPECT_NEAR(gains[0], reached + (0.8f - reached) / kVolume, 1e-6f);
    EXPECT_EQ(gains[kVolume - 1], 0.8f) << "lands on the target exactly";
    EXPECT_EQ(gains[399], 0.8f);
}

TEST(DeckFades, ADeckNobodyHearsTakesANewGainAtOnce) {
    DeckFades fades;
    fades.aim(1.0f, kVolume);
    fades.aim(0.1f, kVolume); // silent still: no ramp from 1
    const auto gains = mixInPieces(fades, 300, 300, kTransport);
    EXPECT_FLOAT_EQ(gains[kTransport - 1], 0.1f);
    EXPECT_EQ(gains[299], 0.1f);
}

TEST(DeckFades, AddsToWhatTheMixHolds) {
    DeckFades fades;
    fades.aim(0.5f, kVolume);
    mixInPieces(fades, 200, 200, kTransport);
    std::vector<float> in(20, 0.25f), out(20, 0.125f);
    fades.mix(in.data(), out.data(), 10, kTransport, kTransport);
    for (const float v : out)
        EXPECT_EQ(v, 0.25f);
}

TEST(DeckFades, CuttingTheFramesIntoOtherPiecesChangesNothing) {
    // A start, a volume ramp that outlasts it, a halt in the middle of another ramp.
    const auto run = [](std::size_t piece) {
        DeckFades fades;
        fades.aim(0.9f, kVolume);
        auto a = mixInPieces(fades, 100, piece, kTransport);
        fades.aim(0.3f, kVolume);
        const auto b = mixInPieces(fades, 500, piece, kTransport);
        fades.aim(0.6f, kVolume);
        const auto c = mixInPieces(fades, 100, piece, 0);
        a.insert(a.end(), b.begin(), b.end());
        a.insert(a.end(), c.begin(), c.end());
        return a;
    };
    const auto whole = run(100000);
    for (const std::size_t piece : {1u, 2u, 7u, 63u, 64u, 65u, 256u})
        EXPECT_EQ(run(piece), whole) << "in pieces of " << piece;
}

} // namespace
