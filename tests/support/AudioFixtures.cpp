#include "support/AudioFixtures.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <numbers>
#include <stdexcept>

namespace fixtures {

namespace {

struct SndfileCloser {
    void operator()(SNDFILE* f) const { sf_close(f); }
};
using SndfilePtr = std::unique_ptr<SNDFILE, SndfileCloser>;

SndfilePtr openForWrite(const std::string& path, int sampleRate, int channels, int format) {
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = channels;
    info.format = format;
    SndfilePtr f(sf_open(path.c_str(), SFM_WRITE, &info));
    if (!f)
        throw std::runtime_error("cannot write " + path + ": " + sf_strerror(nullptr));
    return f;
}

void writeAll(SNDFILE* f, const std::vector<float>& interleaved, int channels, const std::string& path) {
    const auto frames = static_cast<sf_count_t>(interleaved.size() / static_cast<std::size_t>(channels));
    if (sf_writef_float(f, interleaved.data(), frames) != frames)
        throw std::runtime_error("short write to " + path + ": " + sf_strerror(f));
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Byte length of the MPEG-1/2 layer III frame whose header starts at p, 0 when p is no such header.
std::size_t mp3FrameLength(const unsigned char* p) {
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0 || ((p[1] >> 1) & 3) != 1)
        return 0;
    static const int kBitratesV1[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
    static const int kBitratesV2[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
    static const int kRates[4] = {44100, 48000, 32000, 0};
    const int version = (p[1] >> 3) & 3; // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    const int bitrateIndex = p[2] >> 4;
    const int rateIndex = (p[2] >> 2) & 3;
    const int padding = (p[2] >> 1) & 1;
    if (version == 1 || kRates[rateIndex] == 0)
        return 0;
    int rate = kRates[rateIndex];
    if (version == 2)
        rate /= 2;
    else if (version == 0)
        rate /= 4;
    const int kbps = version == 3 ? kBitratesV1[bitrateIndex] : kBitratesV2[bitrateIndex];
    if (kbps == 0)
        return 0;
    const int perFrame = version == 3 ? 144 : 72;
    return static_cast<std::size_t>(perFrame * kbps * 1000 / rate + padding);
}

} // namespace

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "fadewell-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot make a temporary folder");
    m_path = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(m_path, ignored);
}

std::string TempDir::file(const std::string& name) const {
    return m_path + "/" + name;
}

std::string writeTone(const std::string& path, double seconds, double frequency, int sampleRate, int channels,
                      int format, double amplitude) {
    const auto frames = static_cast<std::size_t>(std::llround(seconds * sampleRate));
    std::vector<float> samples(frames * static_cast<std::size_t>(channels));
    for (std::size_t i = 0; i < frames; ++i) {
        const auto v = static_cast<float>(
            amplitude * std::sin(2.0 * std::numbers::pi * frequency * static_cast<double>(i) / sampleRate));
        for (int c = 0; c < channels; ++c)
            samples[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] = v;
    }
    auto f = openForWrite(path, sampleRate, channels, format);
    writeAll(f.get(), samples, channels, path);
    return path;
}

std::string writeConstant(const std::string& path, double seconds, float value, int sampleRate,
                          int channels) {
    const auto frames = static_cast<std::size_t>(std::llround(seconds * sampleRate));
    return writeSamples(path, std::vector<float>(frames * static_cast<std::size_t>(channels), value),
                        sampleRate, channels);
}

std::string writeSamples(const std::string& path, const std::vector<float>& interleaved, int sampleRate,
                         int channels) {
    auto f = openForWrite(path, sampleRate, channels, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    writeAll(f.get(), interleaved, channels, path);
    return path;
}

std::string writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
    return path;
}

void truncateFile(const std::string& path, std::size_t bytes) {
    std::filesystem::resize_file(path, bytes);
}

bool stripMp3InfoHeader(const std::string& path) {
    std::string data = readAll(path);
    std::size_t start = 0;
    if (data.size() >= 10 && data.compare(0, 3, "ID3") == 0) {
        const auto* h = reinterpret_cast<const unsigned char*>(data.data());
        start = 10 + ((static_cast<std::size_t>(h[6] & 0x7F) << 21) | ((h[7] & 0x7F) << 14) |
                      ((h[8] & 0x7F) << 7) | (h[9] & 0x7F));
    }
    while (start + 4 <= data.size() &&
           mp3FrameLength(reinterpret_cast<const unsigned char*>(data.data()) + start) == 0)
        ++start;
    if (start + 4 > data.size())
        return false;
    const std::size_t length = mp3FrameLength(reinterpret_cast<const unsigned char*>(data.data()) + start);
    const std::string first = data.substr(start, std::min(length, data.size() - start));
    if (first.find("Xing") == std::string::npos && first.find("Info") == std::string::npos)
        return false;
    data.erase(start, length);
    writeBytes(path, data);
    return true;
}

void runTool(const std::string& commandLine) {
    const std::string quiet = commandLine + " </dev/null >/dev/null 2>&1";
    if (std::system(quiet.c_str()) != 0)
        throw std::runtime_error("failed: " + commandLine);
}

std::string ffmpegEncode(const std::string& input, const std::string& output, const std::string& arguments) {
    runTool("ffmpeg -nostdin -y -loglevel error -i '" + input + "' " + arguments + " '" + output + "'");
    return output;
}

std::vector<float> ffmpegDecode(const std::string& path, int& rate, int& channels) {
    const std::string wav = path + ".reference.wav";
    runTool("ffmpeg -nostdin -y -loglevel error -i '" + path + "' -c:a pcm_f32le '" + wav + "'");
    SF_INFO info{};
    SndfilePtr f(sf_open(wav.c_str(), SFM_READ, &info));
    if (!f)
        throw std::runtime_error("cannot read " + wav);
    rate = info.samplerate;
    channels = info.channels;
    std::vector<float> samples(static_cast<std::size_t>(info.frames) *
                               static_cast<std::size_t>(info.channels));
    sf_readf_float(f.get(), samples.data(), info.frames);
    f.reset();
    std::filesystem::remove(wav);
    return samples;
}

std::size_t decodedFrames(const std::string& path) {
    SF_INFO info{};
    SndfilePtr f(sf_open(path.c_str(), SFM_READ, &info));
    if (!f)
        throw std::runtime_error("cannot read " + path + ": " + sf_strerror(nullptr));
    std::vector<float> buffer(4096 * static_cast<std::size_t>(info.channels));
    std::size_t total = 0;
    for (sf_count_t got; (got = sf_readf_float(f.get(), buffer.data(), 4096)) > 0;)
        total += static_cast<std::size_t>(got);
    return total;
}

std::size_t announcedFrames(const std::string& path) {
    SF_INFO info{};
    SndfilePtr f(sf_open(path.c_str(), SFM_READ, &info));
    if (!f)
        throw std::runtime_error("cannot read " + path + ": " + sf_strerror(nullptr));
    return static_cast<std::size_t>(info.frames);
}

double rmsDb(std::span<const float> interleavedStereo) {
    if (interleavedStereo.empty())
        return -std::numeric_limits<double>::infinity();
    double sum = 0.0;
    for (float s : interleavedStereo)
        sum += static_cast<double>(s) * s;
    const double rms = std::sqrt(sum / static_cast<double>(interleavedStereo.size()));
    return rms > 0.0 ? 20.0 * std::log10(rms) : -std::numeric_limits<double>::infinity();
}

float peak(std::span<const float> interleavedStereo) {
    float p = 0.0f;
    for (float s : interleavedStereo)
        p = std::max(p, std::abs(s));
    return p;
}

float maxStep(std::span<const float> interleavedStereo, int channel) {
    float step = 0.0f;
    for (std::size_t i = static_cast<std::size_t>(channel) + 2; i < interleavedStereo.size(); i += 2)
        step = std::max(step, std::abs(interleavedStereo[i] - interleavedStereo[i - 2]));
    return step;
}

std::span<const float> framesOf(std::span<const float> interleavedStereo, std::size_t first,
                                std::size_t count) {
    const std::size_t total = interleavedStereo.size() / 2;
    first = std::min(first, total);
    count = std::min(count, total - first);
    return interleavedStereo.subspan(first * 2, count * 2);
}

} // namespace fixtures
