// The resampler measured: lengths, tones against their exact values at the new rate, what must be
// filtered away, and that how frames are handed over changes nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "audio/decode/Resampler.h"

namespace {

constexpr double kTwoPi = 2.0 * M_PI;

// Stereo: a tone of frequency `left` on the left, `right` on the right, amplitude 0.5.
std::vector<float> tones(int rate, std::size_t frames, double left, double right) {
    std::vector<float> v(2 * frames);
    for (std::size_t i = 0; i < frames; ++i) {
        v[2 * i] = static_cast<float>(0.5 * std::sin(kTwoPi * left * static_cast<double>(i) / rate));
        v[2 * i + 1] = static_cast<float>(0.5 * std::cos(kTwoPi * right * static_cast<double>(i) / rate));
    }
    return v;
}

// Runs all of `input` through `r`, handing frames over and taking them out in pieces whose sizes
// `pieceSize` gives, then ends the input and takes the rest.
template <class PieceSize>
std::vector<float> run(Resampler& r, const std::vector<float>& input, PieceSize pieceSize) {
    std::vector<float> out;
    std::vector<float> piece;
    std::size_t given = 0;
    bool ended = false;
    for (;;) {
        piece.resize(2 * pieceSize());
        const std::size_t got = r.read(piece.data(), piece.size() / 2);
        out.insert(out.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(2 * got));
        if (got > 0)
            continue;
        if (ended)
            return out;
        if (given == input.size() / 2) {
            r.endInput();
            ended = true;
            continue;
        }
        const std::size_t room = r.room();
        EXPECT_GT(room, 0u) << "the resampler gave no output and takes no input";
        if (room == 0)
            return out;
        const std::size_t n = std::min({room, pieceSize(), input.size() / 2 - given});
        r.write(input.data() + 2 * given, n);
        given += n;
    }
}

std::vector<float> run(Resampler& r, const std::vector<float>& input) {
    return run(r, input, [] { return std::size_t{1024}; });
}

// Root-mean-square difference between channel `ch` of `out` and the exact tone, over the frames
// away from the ends, relative to the tone's amplitude, in dB.
double errorDb(const std::vector<float>& out, int ch, int rate, double freq, bool cosine,
               std::size_t margin) {
    double sum = 0.0;
    std::size_t n = 0;
    for (std::size_t k = margin; k + margin < out.size() / 2; ++k) {
        const double phase = kTwoPi * freq * static_cast<double>(k) / rate;
        const double exact = 0.5 * (cosine ? std::cos(phase) : std::sin(phase));
        const double e = out[2 * k + static_cast<std::size_t>(ch)] - exact;
        sum += e * e;
        ++n;
    }
    return 20.0 * std::log10(std::sqrt(sum / static_cast<double>(n)) / 0.5);
}

// Level of channel `ch` in dB relative to amplitude 0.5, over the frames away from the ends.
double levelDb(const std::vector<float>& out, int ch, std::size_t margin) {
    double sum = 0.0;
    std::size_t n = 0;
    for (std::size_t k = margin; k + margin < out.size() / 2; ++k) {
        sum += static_cast<double>(out[2 * k + static_cast<std::size_t>(ch)]) *
               out[2 * k + static_cast<std::size_t>(ch)];
        ++n;
    }
    return 20.0 * std::log10(std::sqrt(2.0 * sum / static_cast<double>(n)) / 0.5);
}

struct Ratio {
    int in;
    int out;
};
const Ratio kUsualRatios[] = {{44100, 48000}, {48000, 44100}, {96000, 48000},  {22050, 48000},
                              {8000, 48000},  {32000, 44100}, {192000, 44100}, {48000, 96000}};

TEST(Resampler, GivesExactlyTheOutputLengthOfItsInput) {
    for (const Ratio& ratio : kUsualRatios) {
        for (const std::size_t frames :
             {std::size_t{1}, std::size_t{97}, std::size_t{44100}, std::size_t{123457}}) {
            auto r = Resampler::create(ratio.in, ratio.out);
            const auto out = run(*r, tones(ratio.in, frames, 440.0, 440.0));
            const auto expected =
                (static_cast<std::uint64_t>(frames) * static_cast<std::uint64_t>(ratio.out) +
                 static_cast<std::uint64_t>(ratio.in) - 1) /
                static_cast<std::uint64_t>(ratio.in);
            EXPECT_EQ(out.size() / 2, expected)
                << ratio.in << " -> " << ratio.out << ", " << frames << " frames";
        }
    }
}

TEST(Resampler, TonesComeOutAsTheSameTonesAtTheNewRateWithoutDelay) {
    struct Case {
        Ratio ratio;
        double left, right;
    };
    // Tones whose images or aliases would land below 20 kHz: all of them must be gone.
    const Case cases[] = {
        {{44100, 48000}, 1000.0, 100.0},   {{44100, 48000}, 10000.0, 15000.0},
        {{48000, 44100}, 1000.0, 19000.0}, {{96000, 48000}, 440.0, 19500.0},
        {{22050, 48000}, 3000.0, 9000.0},  {{8000, 48000}, 300.0, 3300.0},
        {{48000, 96000}, 997.0, 18000.0},
    };
    for (const Case& c : cases) {
        auto r = Resampler::create(c.ratio.in, c.ratio.out);
        const auto out =
            run(*r, tones(c.ratio.in, static_cast<std::size_t>(c.ratio.in / 2), c.left, c.right));
        const auto margin = static_cast<std::size_t>(4 * r->tapsPerPhase() * c.ratio.out / c.ratio.in);
        EXPECT_LT(errorDb(out, 0, c.ratio.out, c.left, false, margin), -110.0)
            << c.ratio.in << " -> " << c.ratio.out << ", " << c.left << " Hz left";
        EXPECT_LT(errorDb(out, 1, c.ratio.out, c.right, true, margin), -110.0)
            << c.ratio.in << " -> " << c.ratio.out << ", " << c.right << " Hz right";
    }
}

TEST(Resampler, KeepsTheLevelUpTo20kHz) {
    // 44.1 kHz on 48 kHz: the top of the band, whose images may stay above 20 kHz.
    for (const double freq : {16000.0, 18000.0, 19000.0, 20000.0}) {
        auto r = Resampler::create(44100, 48000);
        // A tone with nothing else: its level is its whole output's level, images aside; the
        // images of these tones land between 24 and 28 kHz, so measure through the projection.
        const auto out = run(*r, tones(44100, 44100, freq, freq));
        double re = 0.0, im = 0.0;
        const std::size_t margin = 1000;
        std::size_t n = 0;
        for (std::size_t k = margin; k + margin < out.size() / 2; ++k) {
            const double phase = kTwoPi * freq * static_cast<double>(k) / 48000.0;
            re += out[2 * k] * std::sin(phase);
            im += out[2 * k] * std::cos(phase);
            ++n;
        }
        const double amplitude = 2.0 * std::hypot(re, im) / static_cast<double>(n);
        EXPECT_NEAR(20.0 * std::log10(amplitude / 0.5), 0.0, 0.001) << freq << " Hz";
    }
}

TEST(Resampler, RemovesWhatWouldAliasIntoTheAudibleBand) {
    // Frequencies the new rate cannot hold and that would fold to below 20 kHz.
    const struct {
        Ratio ratio;
        double freq;
    } cases[] = {{{96000, 48000}, 30000.0},
                 {{96000, 48000}, 40000.0},
                 {{192000, 44100}, 60000.0},
                 {{96000, 44100}, 25000.0}};
    for (const auto& c : cases) {
        auto r = Resampler::create(c.ratio.in, c.ratio.out);
        const auto out = run(*r, tones(c.ratio.in, static_cast<std::size_t>(c.ratio.in / 2), c.freq, c.freq));
        EXPECT_LT(levelDb(out, 0, 200), -115.0)
            << c.ratio.in << " -> " << c.ratio.out << ", " << c.freq << " Hz";
        EXPECT_LT(levelDb(out, 1, 200), -115.0)
            << c.ratio.in << " -> " << c.ratio.out << ", " << c.freq << " Hz";
    }
}

TEST(Resampler, OutputDoesNotDependOnHowFramesAreHandedOver) {
    for (const Ratio& ratio : kUsualRatios) {
        const auto input = tones(ratio.in, 30000, 1234.5, 321.0);
        auto whole = Resampler::create(ratio.in, ratio.out);
        const auto expected = run(*whole, input, [] { return std::size_t{1} << 20; });
        std::mt19937 random(7);
        std::uniform_int_distribution<std::size_t> size(1, 700);
        auto pieces = Resampler::create(ratio.in, ratio.out);
        const auto got = run(*pieces, input, [&] { return size(random); });
        EXPECT_EQ(got, expected) << ratio.in << " -> " << ratio.out;
    }
}

TEST(Resampler, ClearStartsAFreshStream) {
    const auto input = tones(44100, 5000, 700.0, 5000.0);
    auto fresh = Resampler::create(44100, 48000);
    const auto expected = run(*fresh, input);

    auto used = Resampler::create(44100, 48000);
    run(*used, tones(44100, 3333, 9000.0, 80.0)); // a whole other stream, ended
    used->clear();
    EXPECT_EQ(run(*used, input), expected);

    used->clear(); // and one broken off halfway
    const std::vector<float> loud(2 * 2000, 0.9f);
    used->write(loud.data(), 2000);
    std::vector<float> some(2 * 100);
    used->read(some.data(), 100);
    used->clear();
    EXPECT_EQ(run(*used, input), expected);
}

TEST(Resampler, FastArithmeticAgreesWithThePortableWay) {
    for (const Ratio& ratio : kUsualRatios) {
        const auto input = tones(ratio.in, 20000, 4321.0, 111.0);
        auto fast = Resampler::create(ratio.in, ratio.out, Resampler::Arithmetic::Fastest);
        auto plain = Resampler::create(ratio.in, ratio.out, Resampler::Arithmetic::Portable);
        const auto a = run(*fast, input);
        const auto b = run(*plain, input);
        ASSERT_EQ(a.size(), b.size());
        float worst = 0.0f;
        for (std::size_t i = 0; i < a.size(); ++i)
            worst = std::max(worst, std::abs(a[i] - b[i]));
        EXPECT_LT(worst, 1e-6f) << ratio.in << " -> " << ratio.out;
    }
}

TEST(Resampler, RatiosNeedingTooLargeATableStillResampleWell) {
    // 44 101 Hz on 48 kHz shares no factor: 48 000 phases. libsoxr does it.
    auto r = Resampler::create(44101, 48000);
    EXPECT_EQ(r->tapsPerPhase(), 0);
    const auto out = run(*r, tones(44101, 44101, 1000.0, 1000.0));
    EXPECT_NEAR(static_cast<double>(out.size() / 2), 48000.0, 2.0);
    EXPECT_NEAR(levelDb(out, 0, 2000), 0.0, 0.01);
}

} // namespace
