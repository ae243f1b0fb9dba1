// Arbitrary bytes given to the decoder alone, without an engine: opened, read, moved and read to the
// end, its length counted where it is an estimate. Every reader is reached (libsndfile, libFLAC,
// libmpg123, FFmpeg) and the ways from a fast reader that refuses a file, or cannot read it to the
// end its header states, to FFmpeg's. A refused file must be refused with PlayerError; anything
// else that escapes, any memory error, leak or hang is a fault, and so is a file whose exact length
// reading stops short of without a failure.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "audio/decode/Decoder.h"
#include "common/Errors.h"

namespace {

std::string g_dir;

// Reads to the end (or up to limit frames); the frames read.
std::int64_t readToEnd(Decoder& d, std::int64_t limit) {
    std::vector<float> block(2 * 1024);
    std::int64_t total = 0;
    for (std::size_t got; total < limit && (got = d.read(block.data(), 1024)) > 0;)
        total += static_cast<std::int64_t>(got);
    return total;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char pattern[] = "/tmp/fadewell-fuzz-XXXXXX";
    const char* dir = ::mkdtemp(pattern);
    if (dir == nullptr)
        std::abort();
    g_dir = dir;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    // As fuzz_decode: the first byte picks the name's extension, the rest is the file.
    static const char* const kExtensions[] = {".wav", ".mp3", ".flac", ".ogg", ".aiff", ".opus",
                                              "",     ".m4a", ".wma",  ".wv",  ".ape",  ".ac3",
                                              ".spx", ".oga", ".mpc",  ".tta", ".aac",  ".mka"};
    const std::string path = g_dir + "/input" + kExtensions[data[0] % std::size(kExtensions)];
    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr)
            std::abort();
        if (size > 1)
            std::fwrite(data + 1, 1, size - 1, f);
        std::fclose(f);
    }
    try {
        std::unique_ptr<Decoder> d = Decoder::open(path);
        const DecoderInfo& info = d->info();
        if (info.fileRate <= 0 || info.fileChannels <= 0 || info.frames < 0)
            std::abort();
        std::int64_t length = info.frames;
        if (!info.exactLength) {
            length = info.countFrames(nullptr);
            if (length == 0)
                std::abort(); // -1 (nothing could be read) or the frames counted
        }
        constexpr std::int64_t kLimit = 20 * 768000; // a bound for a header that says anything
        const std::int64_t read = readToEnd(*d, kLimit);
        // Reading stops short of an exact length only when it fails.
        if (info.exactLength && read < kLimit && read < info.frames && !d->failed())
            std::abort();
        d->seek(length / 2);
        readToEnd(*d, 4096);
        d->seek(length > 0 ? length - 1 : 0);
        readToEnd(*d, 4096);
        d->seek(length);
        readToEnd(*d, 4096);
    } catch (const PlayerError&) {
        // A refused file: what the decoder must do with bytes it cannot play.
    }
    ::unlink(path.c_str());
    return 0;
}
