#pragma once
// The formats libsndfile reads (WAV, AIFF, Ogg Vorbis, ...), as the Decoder reads a file: the
// file's own frames as interleaved floats.
//
// Threads: made on the user-interface thread by Decoder::open(), over the handle it opened to check
// the file; used afterwards by the engine's worker thread alone.
#include <memory>

#include <sndfile.h>

#include "audio/decode/FileReader.h"

// A reader over f, an open libsndfile handle, which it closes when it goes.
std::unique_ptr<FileReader> makeSndfileReader(SNDFILE* f);
