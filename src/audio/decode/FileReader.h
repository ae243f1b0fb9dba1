#pragma once
// What the Decoder reads a file through: one format decoder (libsndfile, libFLAC, libmpg123 or
// FFmpeg), giving the file's own frames as interleaved floats, without resampling.
//
// Threads: made on the user-interface thread by Decoder::open(); used afterwards by the engine's
// worker thread alone.
#include <cstddef>
#include <cstdint>

class FileReader {
public:
    virtual ~FileReader() = default;
    // Frames of the file's channels into out; 0 at the end. Sets error on failure.
    virtual std::size_t read(float* out, std::size_t frames) = 0;
    // Positions the reader at a frame; false when there is nothing to read from there.
    virtual bool seek(std::int64_t frame) = 0;
    virtual bool error() const = 0;
};
