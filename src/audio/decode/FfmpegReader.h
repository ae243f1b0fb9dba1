#pragma once
// The formats libsndfile, libFLAC and libmpg123 do not read (AAC and ALAC in MP4, WMA, Monkey's
// Audio, WavPack, TTA, Musepack, AC-3, Opus, Speex, Ogg FLAC, ...), and the files those readers
// refuse or cannot read to their end, through FFmpeg's libavformat and libavcodec.
//
// Streams like the other readers: one packet at a time, nothing kept that grows with the length of
// the file but the container's own index. Lengths are exact: measured at open by decoding the last
// second where the container's timestamps count samples, otherwise counted by decoding the whole
// file on the engine's scanning thread (countFrames). Seeks are sample-accurate: decoding starts
// before the target (from a point whose sample number is known: a timestamp that counts samples, or
// a point noted by the count) and drops the frames up to it.
//
// Threads: openWithFfmpeg() on the user-interface thread; the reader then belongs to the engine's
// worker thread, countFrames to a scanning thread. Both read the file through the one descriptor
// opened here, each with its own position, so a file renamed over or deleted while it is loaded
// plays on as it was.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "audio/decode/FileReader.h"

struct FfmpegOpened {
    std::unique_ptr<FileReader> reader;
    int rate = 0;
    int channels = 0;        // as the reader gives them: 1 or 2 (more are mixed down to two)
    std::int64_t frames = 0; // exact when exactLength, otherwise the container's estimate
    bool exactLength = false;
    // Set when !exactLength: decodes the whole file to count its frames (and notes points the
    // reader's later seeks start from). -1 when cancelled or when nothing could be read.
    std::function<std::int64_t(const std::atomic<bool>*)> countFrames;
    std::string codec; // the codec's name, as FFmpeg gives it ("aac", "wmav2", ...)
};

// Why FFmpeg will not play a file. `recognised` is true when FFmpeg knew what kind of file it is,
// so that the reason speaks of this file; false when it could make nothing of it.
struct FfmpegRefusal {
    std::string reason;
    bool recognised = false;
};

// Opens path with FFmpeg, checks that its audio decodes and works out its length. Throws
// FfmpegRefusal. A raw MP3 stream is libmpg123's and refused here, unless takeMp3 (libmpg123 has
// refused it).
FfmpegOpened openWithFfmpeg(const std::string& path, bool takeMp3 = false);
