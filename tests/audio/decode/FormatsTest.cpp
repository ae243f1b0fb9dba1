// The formats of a music library beyond WAV, FLAC, Ogg Vorbis and MP3, and the files libsndfile
// refused though they play: each is accepted, has the length its codec decodes to (within one of
// the codec's frames), is heard sample for sample as FFmpeg's own decode where the codec is
// lossless, seeks to the exact sample, and plays on a deck for exactly its length.
//
// The fixtures are made once per run of this program from one 16-bit source by the tools the test
// command installs (ffmpeg, mpcenc) and by libFLAC and libsndfile; Monkey's Audio has no encoder in
// Debian, so it has no fixture here.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <random>

#include <FLAC/stream_encoder.h>

#include "audio/PlayerTestSupport.h"
#include "audio/decode/Decoder.h"

using namespace fixtures;

namespace {

constexpr int kSourceRate = 44100;
constexpr std::size_t kSourceFrames = 110250; // 2.5 s

// A rising sweep on the left, a falling one on the right, a little noise on both: no stretch of it
// looks like another a sample away, so a seek one sample off shows. 16-bit values exactly.
std::vector<float> sourceSamples() {
    std::vector<float> s(2 * kSourceFrames);
    std::mt19937 noise(5);
    std::uniform_real_distribution<double> small(-0.02, 0.02);
    double phaseL = 0.0, phaseR = 0.0;
    for (std::size_t i = 0; i < kSourceFrames; ++i) {
        const double t = static_cast<double>(i) / kSourceFrames;
        phaseL += 2.0 * M_PI * (150.0 + 5000.0 * t) / kSourceRate;
        phaseR += 2.0 * M_PI * (5200.0 - 5000.0 * t) / kSourceRate;
        s[2 * i] =
            static_cast<float>(std::round((0.45 * std::sin(phaseL) + small(noise)) * 32767.0) / 32768.0);
        s[2 * i + 1] =
            static_cast<float>(std::round((0.3 * std::sin(phaseR) + small(noise)) * 32767.0) / 32768.0);
    }
    return s;
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Ogg FLAC as the flac tool writes it (its header knows the length): with libFLAC's encoder.
void writeOggFlac(const std::vector<float>& samples, const std::string& path) {
    FLAC__StreamEncoder* e = FLAC__stream_encoder_new();
    FLAC__stream_encoder_set_channels(e, 2);
    FLAC__stream_encoder_set_bits_per_sample(e, 16);
    FLAC__stream_encoder_set_sample_rate(e, kSourceRate);
    FLAC__stream_encoder_set_total_samples_estimate(e, kSourceFrames);
    if (FLAC__stream_encoder_init_ogg_file(e, path.c_str(), nullptr, nullptr) !=
        FLAC__STREAM_ENCODER_INIT_STATUS_OK)
        throw std::runtime_error("cannot write " + path);
    std::vector<FLAC__int32> ints(samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i)
        ints[i] = static_cast<FLAC__int32>(std::lround(samples[i] * 32768.0f));
    FLAC__stream_encoder_process_interleaved(e, ints.data(), kSourceFrames);
    FLAC__stream_encoder_finish(e);
    FLAC__stream_encoder_delete(e);
}

// An ID3v2.3 tag (one title frame and padding), as taggers put before any file.
std::string id3v2Tag() {
    const std::string frame = std::string("TIT2\0\0\0\x06\0\0\0title", 16);
    const std::size_t size = frame.size() + 200;
    std::string tag("ID3\x03\0\0", 6);
    for (int shift : {21, 14, 7, 0})
        tag += static_cast<char>((size >> shift) & 0x7F);
    return tag + frame + std::string(200, '\0');
}

struct FormatCase {
    const char* name;
    const char* file;
    std::function<void(const std::string& source, const std::string& path)> make;
    bool lossless;
    int codecFrame; // samples in one of the codec's frames: how far the length may be from its count
};

std::function<void(const std::string&, const std::string&)> ffmpeg(std::string arguments) {
    return [arguments](const std::string& source, const std::string& path) {
        ffmpegEncode(source, path, arguments);
    };
}

const FormatCase kFormats[] = {
    {"AacInM4a", "aac.m4a", ffmpeg("-c:a aac -b:a 160k"), false, 1024},
    {"AlacInM4a", "alac.m4a", ffmpeg("-c:a alac"), true, 0},
    {"AacInAdts", "raw.aac", ffmpeg("-c:a aac -b:a 160k"), false, 1024},
    {"Wma", "t.wma", ffmpeg("-c:a wmav2 -b:a 160k"), false, 2048},
    {"WavPack", "t.wv", ffmpeg("-c:a wavpack"), true, 0},
    {"Tta", "t.tta", ffmpeg("-c:a tta"), true, 0},
    {"Ac3", "t.ac3", ffmpeg("-c:a ac3 -b:a 192k"), false, 1536},
    {"Opus", "t.opus", ffmpeg("-c:a libopus -b:a 128k"), false, 960},
    {"Speex", "t.spx", ffmpeg("-ar 16000 -ac 1 -c:a libspeex"), false, 640},
    {"Musepack", "t.mpc",
     [](const std::string& source, const std::string& path) {
         runTool("mpcenc --silent --overwrite '" + source + "' '" + path + "'");
     },
     false, 1152},
    {"OggFlacFromLibflac", "libflac.oga",
     [](const std::string&, const std::string& path) { writeOggFlac(sourceSamples(), path); }, true, 0},
    {"OggFlacFromFfmpeg", "ffmpeg.oga", ffmpeg("-c:a flac -f ogg"), true, 0},
    {"FlacAfterAnId3Tag", "tagged.flac",
     [](const std::string& source, const std::string& path) {
         ffmpegEncode(source, path, "-c:a flac");
         writeBytes(path, id3v2Tag() + readAll(path));
     },
     true, 0},
    {"VorbisWithDataAfterItsEnd", "tail.ogg",
     [](const std::string& source, const std::string& path) {
         ffmpegEncode(source, path, "-c:a libvorbis");
         // An ID3v1 tag and stray bytes after the end-of-stream page.
         writeBytes(path, readAll(path) + "TAG" + std::string(125, 'x') + std::string(3000, '\0'));
     },
     false, 1024},
    {"Mp3InWav", "mp3.wav", ffmpeg("-c:a libmp3lame -b:a 192k -f wav"), false, 1152},
};

// Every fixture, made on first use and kept for the rest of the run.
const std::string& fixture(const FormatCase& c) {
    static TempDir dir;
    // 16-bit PCM, as every encoder here takes it (ffmpeg converts the float WAV without loss).
    static const std::string source =
        ffmpegEncode(writeSamples(dir.file("source-float.wav"), sourceSamples(), kSourceRate, 2),
                     dir.file("source.wav"), "-c:a pcm_s16le");
    static std::map<std::string, std::string> made;
    auto it = made.find(c.name);
    if (it == made.end()) {
        const std::string path = dir.file(c.file);
        c.make(source, path);
        it = made.emplace(c.name, path).first;
    }
    return it->second;
}

// The file's frames as the decoder gives them, stereo, to the end.
std::vector<float> decodeAll(Decoder& d) {
    std::vector<float> out;
    std::vector<float> block(2 * 1500);
    for (std::size_t got; (got = d.read(block.data(), 1500)) > 0;)
        out.insert(out.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(2 * got));
    return out;
}

std::vector<float> asStereo(const std::vector<float>& samples, int channels) {
    const auto c = static_cast<std::size_t>(channels);
    std::vector<float> stereo(2 * (samples.size() / c));
    for (std::size_t i = 0; i < stereo.size() / 2; ++i) {
        stereo[2 * i] = samples[i * c];
        stereo[2 * i + 1] = samples[i * c + (c > 1 ? 1 : 0)];
    }
    return stereo;
}

float maxDifference(std::span<const float> a, std::span<const float> b) {
    float d = 0.0f;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        d = std::max(d, std::abs(a[i] - b[i]));
    return d;
}

double rmsDifference(std::span<const float> a, std::span<const float> b) {
    double sum = 0.0;
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i)
        sum += (static_cast<double>(a[i]) - b[i]) * (static_cast<double>(a[i]) - b[i]);
    return n > 0 ? std::sqrt(sum / static_cast<double>(n)) : 0.0;
}

// The exact length: at open, or once counted (as the engine counts it, on its scanning thread).
std::int64_t lengthOf(Decoder& d) {
    if (d.info().exactLength)
        return d.info().frames;
    std::int64_t counted = -1;
    std::thread([&] { counted = d.info().countFrames(nullptr); }).join();
    return counted;
}

class LibraryFormatTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(LibraryFormatTest, IsAcceptedWithTheLengthItsCodecDecodesTo) {
    const FormatCase& c = GetParam();
    const std::string& path = fixture(c);
    auto d = Decoder::open(path);
    int rate = 0, channels = 0;
    const std::vector<float> reference = ffmpegDecode(path, rate, channels);
    EXPECT_EQ(d->info().fileRate, rate);
    EXPECT_EQ(d->info().fileChannels, channels);
    const auto referenceFrames =
        static_cast<std::int64_t>(reference.size() / static_cast<std::size_t>(channels));
    const std::int64_t length = lengthOf(*d);
    EXPECT_LE(std::abs(length - referenceFrames), c.codecFrame) << length << " against " << referenceFrames;
    // What plays is the length, to the frame.
    EXPECT_EQ(static_cast<std::int64_t>(decodeAll(*d).size() / 2), length);
    EXPECT_FALSE(d->failed()) << d->failure();
}

TEST_P(LibraryFormatTest, IsHeardAsItsReferenceDecode) {
    const FormatCase& c = GetParam();
    const std::string& path = fixture(c);
    auto d = Decoder::open(path);
    int rate = 0, channels = 0;
    const std::vector<float> raw = ffmpegDecode(path, rate, channels);
    const std::vector<float> reference = asStereo(raw, channels);
    const std::vector<float> decoded = decodeAll(*d);
    if (c.lossless) {
        ASSERT_EQ(decoded.size(), reference.size());
        EXPECT_EQ(decoded, reference) << "not sample for sample";
        EXPECT_EQ(decoded, asStereo(sourceSamples(), 2)) << "not the source";
    } else {
        // The same sound at the same level: the middle second's RMS within 0.2 dB of the reference's.
        const std::size_t middle = static_cast<std::size_t>(rate) / 2;
        EXPECT_NEAR(rmsDb(framesOf(decoded, middle, static_cast<std::size_t>(rate))),
                    rmsDb(framesOf(reference, middle, static_cast<std::size_t>(rate))), 0.2);
    }
}

TEST_P(LibraryFormatTest, SeeksToTheExactSample) {
    const FormatCase& c = GetParam();
    auto d = Decoder::open(fixture(c));
    const std::int64_t length = lengthOf(*d); // seeks after a count start from the points it noted
    const std::vector<float> whole = decodeAll(*d);
    ASSERT_EQ(static_cast<std::int64_t>(whole.size() / 2), length);
    const std::span<const float> all(whole);
    for (const std::int64_t to : {std::int64_t{1}, std::int64_t{12345}, length / 2 + 7, length - 3000}) {
        d->seek(to);
        std::vector<float> got(2 * 2000);
        got.resize(2 * d->read(got.data(), 2000));
        ASSERT_EQ(got.size(), 2u * 2000) << "from " << to;
        const auto at = static_cast<std::size_t>(to);
        const float here = maxDifference(got, framesOf(all, at, 2000));
        if (c.lossless) {
            EXPECT_EQ(here, 0.0f) << "from " << to;
            continue;
        }
        // A lossy decoder started before the point gives nearly the same sound (AAC's noise
        // substitution and AC-3's dither draw other random numbers); a sample off differs many
        // times more.
        const double hereRms = rmsDifference(got, framesOf(all, at, 2000));
        const double before = rmsDifference(got, framesOf(all, at - 1, 2000));
        const double after = rmsDifference(got, framesOf(all, at + 1, 2000));
        EXPECT_LT(hereRms, 0.02) << "from " << to; // the sound itself is at -10 dB RMS
        EXPECT_LT(5.0 * hereRms, std::min(before, after)) << "from " << to;
    }
    d->seek(length); // the very end: nothing left, no failure
    std::vector<float> none(2 * 100);
    EXPECT_EQ(d->read(none.data(), 100), 0u);
    EXPECT_FALSE(d->failed());
}

// On a deck: the duration the player reports is the length, and the deck plays for exactly that
// long at the reference's level.
TEST_P(LibraryFormatTest, PlaysOnADeckForItsLength) {
    const FormatCase& c = GetParam();
    const std::string& path = fixture(c);
    auto engine = AudioEngine::createOffline(kRate, kBlock);
    DeckPlayer player(*engine);
    player.setFileName(q(path));
    engine->processNotifications(); // waits for a count
    auto d = Decoder::open(path);
    const std::int64_t length = lengthOf(*d);
    EXPECT_DOUBLE_EQ(player.duration(), static_cast<double>(length) / d->info().fileRate);
    player.play();
    const auto frames = static_cast<std::size_t>(player.duration() * kRate);
    const auto out = engine->render(frames - kRate / 20);
    EXPECT_EQ(player.playState(), DeckPlayer::Playing);
    int rate = 0, channels = 0;
    const std::vector<float> raw = ffmpegDecode(path, rate, channels);
    const std::vector<float> reference = asStereo(raw, channels);
    EXPECT_NEAR(
        rmsDb(framesOf(out, kRate / 2, kRate)),
        rmsDb(framesOf(reference, static_cast<std::size_t>(rate) / 2, static_cast<std::size_t>(rate))), 0.3);
    engine->render(kRate / 20 + 2 * kBlock);
    EXPECT_EQ(player.playState(), DeckPlayer::Stopped);
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, LibraryFormatTest, ::testing::ValuesIn(kFormats),
                         [](const auto& info) { return std::string(info.param.name); });

// Six channels (a film's AC-3) are mixed down to two: the centre, where a film's dialogue is, is
// heard on both sides, not dropped with the channels after the first two.
TEST(Formats, MoreThanTwoChannelsAreMixedDownWithTheirCentre) {
    TempDir dir;
    std::vector<float> six(6 * 48000);
    for (std::size_t i = 0; i < 48000; ++i)
        six[6 * i + 2] =
            static_cast<float>(0.5 * std::sin(2.0 * M_PI * 440.0 * static_cast<double>(i) / 48000));
    const std::string wav = writeSamples(dir.file("centre.wav"), six, 48000, 6);
    const std::string ac3 =
        ffmpegEncode(wav, dir.file("centre.ac3"), "-c:a ac3 -b:a 384k -channel_layout 5.1");
    auto d = Decoder::open(ac3);
    EXPECT_EQ(d->info().fileChannels, 2);
    const std::vector<float> out = decodeAll(*d);
    std::vector<float> left, right;
    for (std::size_t i = 0; i < out.size() / 2; ++i) {
        left.push_back(out[2 * i]);
        right.push_back(out[2 * i + 1]);
    }
    EXPECT_GT(rmsDb(left), -20.0);
    EXPECT_NEAR(rmsDb(left), rmsDb(right), 0.1);
}

} // namespace
