// Files that FFmpeg plays to their end and the fast readers misread: each plays on a deck to its
// end, with a length within one of its codec's frames of what FFmpeg decodes.
#include <gtest/gtest.h>

#include <FLAC/stream_encoder.h>
#include <bit>
#include <cmath>
#include <fstream>
#include <functional>
#include <iterator>

#include "audio/PlayerTestSupport.h"

using namespace fixtures;

namespace {

constexpr unsigned kFrames = 110250; // 2.5 s at 44.1 kHz: neither block size below divides it
// STREAMINFO's fields, after "fLaC" and its block header: the minimum block size, the total's low
// 32 bits.
constexpr std::size_t kMinBlock = 8, kTotal = 22;

// libFLAC's output: "fLaC" and the metadata, then the frames with their block sizes.
struct Flac {
    std::string head;
    std::vector<std::pair<std::string, unsigned>> frames;
};

Flac encodeFlac(unsigned blockSize) {
    Flac flac;
    FLAC__StreamEncoder* e = FLAC__stream_encoder_new();
    FLAC__stream_encoder_set_channels(e, 2);
    FLAC__stream_encoder_set_sample_rate(e, 44100);
    FLAC__stream_encoder_set_blocksize(e, blockSize);
    FLAC__stream_encoder_set_total_samples_estimate(e, kFrames);
    FLAC__stream_encoder_init_stream(
        e,
        [](const FLAC__StreamEncoder*, const FLAC__byte b[], size_t n, uint32_t samples, uint32_t, void* f) {
            auto& out = *static_cast<Flac*>(f);
            const std::string bytes(reinterpret_cast<const char*>(b), n);
            samples == 0 ? void(out.head += bytes) : void(out.frames.emplace_back(bytes, samples));
            return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
        },
        nullptr, nullptr, nullptr, &flac);
    std::vector<FLAC__int32> samples(2 * kFrames);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<FLAC__int32>(16000 * std::sin(2 * M_PI * 440.0 * (i / 2) / 44100));
    FLAC__stream_encoder_process_interleaved(e, samples.data(), kFrames);
    FLAC__stream_encoder_finish(e);
    FLAC__stream_encoder_delete(e);
    return flac;
}

std::string put(std::string bytes, std::size_t at, std::uint64_t value, int size) { // big-endian
    for (int i = 0; i < size; ++i)
        bytes[at + static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * (size - 1 - i)));
    return bytes;
}

std::string fileOf(const std::string& head, const std::vector<std::pair<std::string, unsigned>>& frames) {
    std::string all = head;
    for (const auto& frame : frames)
        all += frame.first;
    return all;
}

unsigned crc(const std::string& bytes, int bits, unsigned poly) { // FLAC's CRC-8 and CRC-16
    unsigned c = 0;
    for (const unsigned char b : bytes)
        for (int i = 0, x = c ^ (b << (bits - 8)); i < 8; ++i, c = x)
            x = ((x >> (bits - 1)) & 1 ? (x << 1) ^ poly : x << 1) & ((1 << bits) - 1);
    return c;
}

// A frame in the variable-block-size form: the blocking bit set, the number of its first sample
// (UTF-8 coded) for the frame's number, both CRCs again. At 44.1 kHz no rate follows the number.
std::string variable(const std::string& frame, std::uint64_t first) {
    const auto size = static_cast<unsigned char>(frame[2]) >> 4;
    const std::size_t numberEnd = 4 + std::max(1, std::countl_one(static_cast<unsigned char>(frame[4])));
    const std::size_t headerEnd = numberEnd + (size == 6 ? 1 : size == 7 ? 2 : 0); // a block size
    std::string number(1, static_cast<char>(first));
    for (int n = 2; first >= 0x80 && n <= 7 && number.size() == 1; ++n)
        if (first < (std::uint64_t{1} << (5 * n + 1))) {
            number.assign(static_cast<std::size_t>(n), '\0');
            for (int i = 0; i < n; ++i)
                number[static_cast<std::size_t>(i)] =
                    static_cast<char>(i == 0 ? ((0xFF00 >> n) & 0xFF) | (first >> (6 * (n - 1)))
                                             : 0x80 | ((first >> (6 * (n - 1 - i))) & 0x3F));
        }
    std::string out = frame.substr(0, 4) + number + frame.substr(numberEnd, headerEnd - numberEnd);
    out[1] = static_cast<char>(out[1] | 1);
    out += static_cast<char>(crc(out, 8, 0x07));
    out += frame.substr(headerEnd + 1, frame.size() - headerEnd - 3);
    return put(out + "..", out.size(), crc(out, 16, 0x8005), 2);
}

// Blocks of 4608 and of 1152 in turn, in the variable form; the last of 810, below the minimum.
std::string variableBlockSizes(const std::string& path) {
    const Flac big = encodeFlac(4608), small = encodeFlac(1152);
    std::vector<std::pair<std::string, unsigned>> frames;
    std::uint64_t first = 0;
    for (std::size_t k = 0; k < big.frames.size(); ++k)
        for (std::size_t i = 0; i < (k % 2 ? 4u : 1u); ++i) {
            const auto& frame = k % 2 ? small.frames[4 * k + i] : big.frames[k];
            frames.emplace_back(variable(frame.first, first), 0);
            first += frame.second;
        }
    return writeBytes(path, fileOf(put(big.head, kMinBlock, 1152, 2), frames));
}

// Numbered frames of one block size, a field of the header rewritten.
std::string flacWith(const std::string& path, std::size_t field, std::uint64_t value, int size) {
    const Flac flac = encodeFlac(4608);
    return writeBytes(path, fileOf(put(flac.head, field, value, size), flac.frames));
}

std::string mp3(const TempDir& d, const std::string& arguments) {
    const std::string path = ffmpegEncode(writeTone(d.file("s.wav"), 2.5, 440.0), d.file("t.mp3"), arguments);
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const struct Kind {
    const char* name;
    std::function<std::string(const TempDir&)> make;
    int codecFrame; // how far the length may be from FFmpeg's decode
} kKinds[] = {
    {"FlacWithVariableBlockSizes", [](const TempDir& d) { return variableBlockSizes(d.file("v.flac")); },
     4608},
    {"FlacWhoseMinimumBlockCountsItsLastBlock",
     [](const TempDir& d) { return flacWith(d.file("m.flac"), kMinBlock, kFrames % 4608, 2); }, 4608},
    {"OggFlacWhoseMinimumBlockCountsItsLastBlock",
     [](const TempDir& d) {
         const std::string flac = flacWith(d.file("m.flac"), kMinBlock, kFrames % 4608, 2);
         return ffmpegEncode(flac, d.file("m.oga"), "-c copy -f ogg");
     },
     4608},
    {"FlacWhoseHeaderStatesAFewSamplesMore", // libFLAC cannot reach its end: FFmpeg's reader plays it
     [](const TempDir& d) { return flacWith(d.file("more.flac"), kTotal, kFrames + 1000, 4); }, 4608},
    {"Mp3OfAFrameOrTwo", [](const TempDir& d) { return writeBytes(d.file("short.mp3"), mp3(d, "-t 0.02")); },
     1152},
    {"Mp3WhoseXingHeaderSaysOneFrame",
     [](const TempDir& d) {
         const std::string bytes = mp3(d, "");
         return writeBytes(d.file("xing.mp3"), put(bytes, bytes.find("Info") + 8, 1, 4));
     },
     1152},
    {"Mp3WithAnEmptyFrame", // at 48 kHz and 128 kb/s every frame is 384 bytes
     [](const TempDir& d) {
         std::string bytes = mp3(d, "-ar 48000 -b:a 128k -write_xing 0 -id3v2_version 0");
         return writeBytes(d.file("gap.mp3"),
                           bytes.insert(40 * 384, bytes.substr(0, 4) + std::string(380, '\0')));
     },
     1152},
};

class ReferencePlayableTest : public ::testing::TestWithParam<Kind> {};

TEST_P(ReferencePlayableTest, PlaysOnADeckToItsEndForTheLengthFfmpegDecodes) {
    TempDir dir;
    const std::string path = GetParam().make(dir);
    int rate = 0, channels = 0;
    const std::size_t samples = ffmpegDecode(path, rate, channels).size(); // sets rate and channels
    ASSERT_GT(channels, 0);
    const double reference = static_cast<double>(samples / static_cast<std::size_t>(channels)) / rate;
    ASSERT_GT(reference, 0.0);
    auto engine = AudioEngine::createOffline(kRate, kBlock);
    DeckPlayer player(*engine);
    player.setFileName(q(path));
    engine->processNotifications(); // a length that is counted
    EXPECT_NEAR(player.duration(), reference, static_cast<double>(GetParam().codecFrame) / rate);
    player.play();
    std::vector<float> out;
    while (player.playState() == DeckPlayer::Playing && out.size() < 2 * 10 * kRate) {
        const std::vector<float> block = engine->render(kBlock);
        out.insert(out.end(), block.begin(), block.end());
    }
    EXPECT_NEAR(static_cast<double>(out.size() / 2) / kRate, player.duration(), 2.0 * kBlock / kRate);
    EXPECT_GT(rmsDb(out), -20.0); // the tone, not silence
}

INSTANTIATE_TEST_SUITE_P(EveryKind, ReferencePlayableTest, ::testing::ValuesIn(kKinds),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
