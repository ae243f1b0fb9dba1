// FLAC is read with libFLAC itself: every sample must be what libsndfile, the reference, reads from
// the same file, from the start and after seeks, at every sample size and channel count.
#include <gtest/gtest.h>

#include <random>
#include <sndfile.h>

#include "audio/decode/Decoder.h"
#include "support/AudioFixtures.h"

using namespace fixtures;

namespace {

// The file's frames as libsndfile reads them from `from` on, spread to stereo as the decoder does.
std::vector<float> referenceFrames(const std::string& path, std::int64_t from, std::size_t count) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    EXPECT_NE(f, nullptr);
    sf_seek(f, from, SEEK_SET);
    std::vector<float> raw(count * static_cast<std::size_t>(info.channels));
    const auto got = static_cast<std::size_t>(sf_readf_float(f, raw.data(), static_cast<sf_count_t>(count)));
    sf_close(f);
    std::vector<float> stereo(2 * got);
    const auto channels = static_cast<std::size_t>(info.channels);
    for (std::size_t i = 0; i < got; ++i) {
        stereo[2 * i] = raw[i * channels];
        stereo[2 * i + 1] = raw[i * channels + (channels > 1 ? 1 : 0)];
    }
    return stereo;
}

std::vector<float> decoderFrames(Decoder& d, std::size_t count) {
    std::vector<float> out(2 * count);
    std::size_t done = 0;
    while (done < count) {
        const std::size_t got = d.read(out.data() + 2 * done, std::min<std::size_t>(count - done, 777));
        if (got == 0)
            break;
        done += got;
    }
    out.resize(2 * done);
    return out;
}

TEST(FlacReading, EverySampleIsTheReferenceFromTheStartAndAfterSeeks) {
    TempDir dir;
    const struct {
        const char* name;
        int subformat;
        int channels;
    } kinds[] = {{"16-bit stereo", SF_FORMAT_PCM_16, 2},
                 {"24-bit stereo", SF_FORMAT_PCM_24, 2},
                 {"8-bit mono", SF_FORMAT_PCM_S8, 1},
                 {"16-bit, six channels", SF_FORMAT_PCM_16, 6}};
    std::mt19937 random(11);
    for (const auto& kind : kinds) {
        const std::string path = writeTone(dir.file(std::string(kind.name) + ".flac"), 1.3, 523.0, 44100,
                                           kind.channels, SF_FORMAT_FLAC | kind.subformat, 0.8);
        auto d = Decoder::open(path);
        const auto frames = static_cast<std::size_t>(d->info().frames);
        ASSERT_EQ(frames, static_cast<std::size_t>(1.3 * 44100)) << kind.name;
        EXPECT_EQ(decoderFrames(*d, frames + 10), referenceFrames(path, 0, frames)) << kind.name;
        EXPECT_FALSE(d->failed()) << kind.name;

        std::uniform_int_distribution<std::int64_t> at(0, static_cast<std::int64_t>(frames) - 1);
        for (const std::int64_t to : {std::int64_t{0}, std::int64_t{4095}, std::int64_t{4096}, at(random),
                                      at(random), static_cast<std::int64_t>(frames) - 1}) {
            d->seek(to);
            EXPECT_EQ(decoderFrames(*d, 5000), referenceFrames(path, to, 5000))
                << kind.name << " from " << to;
        }
        d->seek(static_cast<std::int64_t>(frames)); // the very end: nothing left, and no failure
        EXPECT_TRUE(decoderFrames(*d, 100).empty()) << kind.name;
        EXPECT_FALSE(d->failed()) << kind.name;
    }
}

} // namespace
