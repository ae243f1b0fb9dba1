#pragma once
// MP3 (also inside a WAV) through libmpg123, which reads an MP3 without a length header to its
// true end (libsndfile stops at its bitrate estimate of the length) and counts its frames exactly
// without decoding them.
//
// Threads: openMpg123Reader() on the user-interface thread, by Decoder::open(); the reader then
// belongs to the engine's worker thread alone, countMp3Frames to a scanning thread.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "audio/decode/FileReader.h"

struct Mpg123Opened {
    std::unique_ptr<FileReader> reader; // null when the stream cannot be opened or has no format
    int rate = 0;
    int channels = 0;
    std::int64_t frames = 0;  // libmpg123's estimate (0: none); countMp3Frames gives the true count
    bool floatOutput = false; // false: the decoder gives no 32-bit float output, so it cannot play
};

// Opens the MP3 stream of path: the bytes from `offset`, `length` of them (-1: to the end).
Mpg123Opened openMpg123Reader(const std::string& path, std::int64_t offset, std::int64_t length);

// Counts the frames an MP3 file decodes to, by scanning its frames with libmpg123 (fast: no
// decoding). Runs on a scanning thread; stops early, returning -1, when cancel becomes true, and
// returns -1 when the file cannot be read. The MP3 stream is the bytes from `offset`, `length` of
// them (-1: to the end): an MP3 inside a WAV is its data chunk.
std::int64_t countMp3Frames(const std::string& path, const std::atomic<bool>* cancel = nullptr,
                            std::int64_t offset = 0, std::int64_t length = -1);
