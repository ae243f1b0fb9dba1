#include "audio/decode/Mpg123Reader.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <sys/types.h>
#include <vector>

#include <mpg123.h>

namespace {

void initMpg123() {
    static std::once_flag once;
    std::call_once(once, [] { mpg123_init(); });
}

struct Mpg123Deleter {
    void operator()(mpg123_handle* h) const {
        mpg123_close(h);
        mpg123_delete(h);
    }
};
using Mpg123Ptr = std::unique_ptr<mpg123_handle, Mpg123Deleter>;

// libmpg123 reads its file a frame at a time; through a buffered stream that is a system call
// per 64 KiB instead of one per frame. The stream is a window of the file: all of it, or the data
// chunk of a WAV that holds MP3.
struct Mpg123Stream {
    FILE* file = nullptr;
    std::int64_t start = 0;
    std::int64_t end = -1; // -1: the end of the file
};
ssize_t bufferedRead(void* handle, void* buffer, size_t bytes) {
    auto* s = static_cast<Mpg123Stream*>(handle);
    if (s->end >= 0) {
        const std::int64_t left = s->end - static_cast<std::int64_t>(ftello(s->file));
        bytes = static_cast<size_t>(std::clamp<std::int64_t>(left, 0, static_cast<std::int64_t>(bytes)));
    }
    const size_t got = std::fread(buffer, 1, bytes, s->file);
    return got == 0 && std::ferror(s->file) ? -1 : static_cast<ssize_t>(got);
}
off_t bufferedSeek(void* handle, off_t offset, int whence) {
    auto* s = static_cast<Mpg123Stream*>(handle);
    off_t to = offset;
    if (whence == SEEK_SET) {
        to = static_cast<off_t>(s->start) + offset;
    } else if (whence == SEEK_CUR) {
        to = ftello(s->file) + offset;
    } else if (whence == SEEK_END) {
        if (s->end < 0) {
            if (fseeko(s->file, 0, SEEK_END) != 0)
                return -1;
            to = ftello(s->file) + offset;
        } else {
            to = static_cast<off_t>(s->end) + offset;
        }
    }
    if (to < s->start || fseeko(s->file, to, SEEK_SET) != 0)
        return -1;
    return to - static_cast<off_t>(s->start);
}
void bufferedClose(void* handle) {
    const std::unique_ptr<Mpg123Stream> s(static_cast<Mpg123Stream*>(handle)); // made in openMpg123
    std::fclose(s->file);
}

Mpg123Ptr openMpg123(const std::string& path, std::int64_t offset = 0, std::int64_t length = -1) {
    initMpg123();
    int err = MPG123_OK;
    Mpg123Ptr h(mpg123_new(nullptr, &err));
    if (!h)
        return nullptr;
    mpg123_param(h.get(), MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_GAPLESS | MPG123_FORCE_FLOAT, 0.0);
    FILE* f = std::fopen(path.c_str(), "rbe");
    if (f == nullptr)
        return nullptr;
    std::setvbuf(f, nullptr, _IOFBF, 64 * 1024);
    if (fseeko(f, static_cast<off_t>(offset), SEEK_SET) != 0 ||
        mpg123_replace_reader_handle(h.get(), &bufferedRead, &bufferedSeek, &bufferedClose) != MPG123_OK) {
        std::fclose(f);
        return nullptr;
    }
    auto stream = std::make_unique<Mpg123Stream>(Mpg123Stream{f, offset, length < 0 ? -1 : offset + length});
    // From here mpg123_close (in the deleter) closes the stream through bufferedClose.
    if (mpg123_open_handle(h.get(), stream.release()) != MPG123_OK)
        return nullptr;
    return h;
}

class Mpg123Reader final : public FileReader {
public:
    Mpg123Reader(Mpg123Ptr h, int channels) : m_handle(std::move(h)), m_channels(channels) {}
    std::size_t read(float* out, std::size_t frames) override {
        std::size_t done = 0;
        int r = MPG123_NEW_FORMAT;
        for (int tries = 0; r == MPG123_NEW_FORMAT && done == 0 && tries < 4; ++tries)
            r = mpg123_read(m_handle.get(), out,
                            frames * static_cast<std::size_t>(m_channels) * sizeof(float), &done);
        if (r != MPG123_OK && r != MPG123_DONE && r != MPG123_NEW_FORMAT)
            m_error = true;
        return done / (sizeof(float) * static_cast<std::size_t>(m_channels));
    }
    bool seek(std::int64_t frame) override {
        return mpg123_seek(m_handle.get(), static_cast<off_t>(frame), SEEK_SET) >= 0;
    }
    bool error() const override { return m_error; }

private:
    Mpg123Ptr m_handle;
    int m_channels;
    bool m_error = false;
};

} // namespace

Mpg123Opened openMpg123Reader(const std::string& path, std::int64_t offset, std::int64_t length) {
    Mpg123Opened opened;
    Mpg123Ptr h = openMpg123(path, offset, length);
    long rate = 0;
    int channels = 0, encoding = 0;
    if (!h || mpg123_getformat(h.get(), &rate, &channels, &encoding) != MPG123_OK || rate <= 0 ||
        channels <= 0)
        return opened;
    opened.rate = static_cast<int>(rate);
    opened.channels = channels;
    opened.floatOutput = encoding == MPG123_ENC_FLOAT_32;
    if (opened.floatOutput) {
        const off_t frames = mpg123_length(h.get());
        opened.frames = frames > 0 ? static_cast<std::int64_t>(frames) : 0;
    }
    opened.reader = std::make_unique<Mpg123Reader>(std::move(h), channels);
    return opened;
}

std::int64_t countMp3Frames(const std::string& path, const std::atomic<bool>* cancel, std::int64_t offset,
                            std::int64_t length) {
    Mpg123Ptr h = openMpg123(path, offset, length);
    if (!h)
        return -1;
    // A length header whose frame count leaves less than its own trimming (one frame, say) makes
    // libmpg123 read the whole stream untrimmed, where a scan would trim it: counted by reading.
    if (mpg123_framelength(h.get()) > 0 && mpg123_length(h.get()) <= 0) {
        std::vector<float> block(8192);
        std::int64_t frames = 0;
        int r = MPG123_OK;
        while (r == MPG123_OK || r == MPG123_NEW_FORMAT) {
            if (cancel != nullptr && cancel->load(std::memory_order_relaxed))
                return -1;
            std::size_t done = 0;
            r = mpg123_read(h.get(), block.data(), block.size() * sizeof(float), &done);
            frames += static_cast<std::int64_t>(done / sizeof(float));
        }
        long rate = 0;
        int channels = 0, encoding = 0;
        if (r != MPG123_DONE || mpg123_getformat(h.get(), &rate, &channels, &encoding) != MPG123_OK ||
            channels <= 0)
            return -1;
        return frames > 0 ? frames / channels : -1;
    }
    // mpg123_scan walks every frame header without decoding; with the gapless flag the count is
    // the number of frames reading gives.
    if (cancel != nullptr && cancel->load(std::memory_order_relaxed))
        return -1;
    if (mpg123_scan(h.get()) != MPG123_OK)
        return -1;
    const off_t frames = mpg123_length(h.get());
    return frames > 0 ? static_cast<std::int64_t>(frames) : -1;
}
