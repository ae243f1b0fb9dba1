#pragma once
// Native FLAC, and FLAC in an Ogg stream (.oga), straight from libFLAC: each frame's planar integers
// become interleaved floats in one pass (through libsndfile they take a copy and a conversion
// sample by sample, a fifth of the time a FLAC deck costs).
//
// Threads: opened on the user-interface thread by Decoder::open(); the reader then belongs to the
// engine's worker thread alone.
#include <cstdint>
#include <memory>
#include <string>

#include "audio/decode/FileReader.h"

struct FlacOpened {
    std::unique_ptr<FileReader> reader; // null when libFLAC cannot open the file or read its header
    // The stream's header (STREAMINFO).
    int rate = 0;
    int channels = 0;
    std::int64_t frames = 0; // 0 when the encoder left it unknown
    int maxBlockSize = 0;    // frames in the largest block
};

// channels: what the reader gives a frame; 0: as the header says. ogg: FLAC in an Ogg stream.
FlacOpened openFlacReader(const std::string& path, int channels, bool ogg = false);
