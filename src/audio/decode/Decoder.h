#pragma once
// Reading an audio file as interleaved float frames, two channels: the format decoder, followed by
// a Resampler when asked for another rate. WAV, AIFF, Ogg Vorbis and the like are read by
// libsndfile, FLAC by libFLAC, MP3 (also inside a WAV) by libmpg123, every other format (AAC, ALAC,
// WMA, Monkey's Audio, WavPack, TTA, Musepack, AC-3, Opus, Speex, Ogg FLAC, ...) by FFmpeg: one
// reader each (SndfileReader.h, FlacReader.h, Mpg123Reader.h, FfmpegReader.h). A file one of the
// fast readers (libsndfile, libFLAC, libmpg123) refuses or cannot read to the end its header states
// is tried with FFmpeg before it is refused. Here: which reader reads a file, the checks that
// refuse it and why, and the reading loop.
// Mono is spread to both channels; of more than two channels libsndfile's and libFLAC's first two
// are played, FFmpeg's are mixed down to two.
//
// Threads: open() runs on the user-interface thread (so a bad file is refused before anything
// changes); after that a Decoder belongs to the engine's worker thread alone.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <sndfile.h>

struct DecoderInfo {
    int fileRate = 0;
    int fileChannels = 0;
    std::int64_t frames = 0; // frames at the file's rate; an estimate when !exactLength
    bool exactLength = true; // false until the frames have been counted (MP3, some FFmpeg formats)
    // Set when !exactLength: counts the frames the file decodes to, on a scanning thread (never the
    // worker's or the callback's). Stops early, returning -1, when *cancel becomes true; -1 when the
    // file cannot be read. May be called once.
    std::function<std::int64_t(const std::atomic<bool>* cancel)> countFrames;
};

class FileReader; // the format decoder, without resampling
class Resampler;

class Decoder {
public:
    // Opens and checks path. Throws PlayerError "Can't load "<path>": <reason>" for a file that
    // cannot be played. Frames come out at the file's rate unless resampleTo() says otherwise.
    static std::unique_ptr<Decoder> open(const std::string& path);
    // From now on read() gives frames at outputRate. Throws PlayerError when the ratio cannot be done.
    void resampleTo(int outputRate);
    ~Decoder();
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    const DecoderInfo& info() const { return m_info; }
    const std::string& path() const { return m_path; }

    // Worker thread. Positions the decoder at a frame of the file (file rate).
    void seek(std::int64_t fileFrame);
    // Worker thread. Writes up to maxFrames stereo frames; 0 at the end of the file or after a
    // failure (see failed()).
    std::size_t read(float* stereoOut, std::size_t maxFrames);
    // True when reading stopped because the file became unreadable (error, or it ended early).
    bool failed() const { return !m_failure.empty(); }
    const std::string& failure() const { return m_failure; }

private:
    Decoder() = default;
    // The ways into a file; each sets m_reader and m_info, or refuses.
    bool openMp3(std::int64_t offset, std::int64_t length); // false: libmpg123 cannot open it
    // Takes f. Returns why the file cannot be played ("" when it can); slack: how far from its
    // header's length a FLAC may decode (a frame).
    std::string openWithSndfile(SNDFILE* f, const SF_INFO& info, std::int64_t& slack);
    void openWithFfmpeg(const std::string& reasonIfUnknown);
    // When a fast reader refused the file (for fastReason), or cannot read it to the end its header
    // states: FFmpeg's reader instead, if it plays the file. It must then decode to within slack
    // frames of statedFrames (when > 0). Returns the truest reason the file cannot be played, ""
    // when FFmpeg's reader took it.
    std::string fallBackToFfmpeg(const std::string& fastReason, std::int64_t statedFrames = 0,
                                 std::int64_t slack = 0, bool mp3 = false);
    // Why the file's first block cannot be played, "" when it decodes.
    std::string firstBlockRefusal(bool mp3);
    bool openOggFlac(); // false: left to FFmpeg
    // Up to maxFrames frames of the file, as stereo, into out; sets m_fileEnded (and the failure,
    // if any) when the file gives no more.
    std::size_t readFile(float* stereoOut, std::size_t maxFrames);

    std::string m_path;
    DecoderInfo m_info;
    std::unique_ptr<FileReader> m_reader;
    std::unique_ptr<Resampler> m_resampler; // only after resampleTo()
    std::vector<float> m_raw;               // a block of the file's own channels, when not two
    std::vector<float> m_block;             // a block of stereo frames for the resampler
    std::int64_t m_filePosition = 0;        // next frame the reader gives
    bool m_fileEnded = false;
    std::string m_failure;
};
