#pragma once
// Audio fixtures the tests write for themselves with libsndfile (tones, silence, constant levels,
// broken files), a temporary folder that removes itself, and measurements of rendered output.
// Rendered spans are interleaved stereo float, as AudioEngine::render() returns them.
#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include <sndfile.h>

namespace fixtures {

// A fresh folder under the system's temporary folder, removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    // path() + "/" + name.
    std::string file(const std::string& name) const;

private:
    std::string m_path;
};

// Writes a sine of the given length, frequency and peak amplitude to path (every channel the same)
// in the given libsndfile format (e.g. SF_FORMAT_FLAC | SF_FORMAT_PCM_16, SF_FORMAT_OGG |
// SF_FORMAT_VORBIS, SF_FORMAT_OGG | SF_FORMAT_OPUS, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III).
// Returns path. Throws std::runtime_error when libsndfile refuses.
std::string writeTone(const std::string& path, double seconds, double frequency, int sampleRate = 44100,
                      int channels = 2, int format = SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                      double amplitude = 0.5);

// Writes a constant level (every sample = value) as 32-bit float WAV: exact to the sample, handy to
// see gains and ramps. Returns path.
std::string writeConstant(const std::string& path, double seconds, float value, int sampleRate = 48000,
                          int channels = 2);

// Writes interleaved samples as 32-bit float WAV. Returns path.
std::string writeSamples(const std::string& path, const std::vector<float>& interleaved, int sampleRate,
                         int channels);

// Writes raw bytes to path (non-audio and corrupt files). Returns path.
std::string writeBytes(const std::string& path, const std::string& bytes);

// Cuts the file at path down to its first `bytes` bytes.
void truncateFile(const std::string& path, std::size_t bytes);

// Removes the LAME/Xing ("Info"/"Xing") header frame of an MP3 written by libsndfile, leaving a
// stream whose length a decoder can only estimate. Returns true when a header frame was removed.
bool stripMp3InfoHeader(const std::string& path);

// Runs a command-line tool (ffmpeg, mpcenc) with the given arguments through the shell, quiet.
// Throws std::runtime_error naming the command when it fails.
void runTool(const std::string& commandLine);

// Encodes `input` into `output` with ffmpeg, `arguments` choosing the codec and its options (e.g.
// "-c:a alac"). Returns output.
std::string ffmpegEncode(const std::string& input, const std::string& output, const std::string& arguments);

// The reference decode: ffmpeg decodes path to a 32-bit float WAV, read back here. Interleaved, in
// the file's own channels; rate and channels are set.
std::vector<float> ffmpegDecode(const std::string& path, int& rate, int& channels);

// Frames libsndfile decodes from the file by reading it to the end, and what its header announces.
std::size_t decodedFrames(const std::string& path);
std::size_t announcedFrames(const std::string& path);

// RMS level in dB full scale of a span of interleaved stereo samples, both channels together.
// -infinity for silence.
double rmsDb(std::span<const float> interleavedStereo);

// The largest absolute sample and the largest difference between neighbouring samples of one
// channel (0 left, 1 right) of interleaved stereo.
float peak(std::span<const float> interleavedStereo);
float maxStep(std::span<const float> interleavedStereo, int channel);

// Frames of interleaved stereo from frame `first`, `count` frames (clamped to the span).
std::span<const float> framesOf(std::span<const float> interleavedStereo, std::size_t first,
                                std::size_t count);

} // namespace fixtures
