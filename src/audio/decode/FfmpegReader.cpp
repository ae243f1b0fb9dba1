#include "audio/decode/FfmpegReader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avstring.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libavutil/macros.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <limits>
#include <mutex>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kMinFileRate = 1000; // as the Decoder's other readers
constexpr int kMaxFileRate = 768000;
constexpr int kIoBufferBytes = 64 * 1024;
constexpr int kMaxBadPackets = 64;        // in a row: past that, the stream is damage, not audio
constexpr std::size_t kMaxAnchors = 4096; // points noted by a count, thinned when full
constexpr std::int64_t kNoLength = -1;

// FFmpeg's libraries, and the hundred libraries of codecs and protocols they bring with them (some
// 25 MB resident), are loaded when the first file needs them, not when the program starts: a
// console that plays WAV, FLAC and MP3 never loads them.
// clang-format off
#define FADEWELL_FFMPEG_FUNCTIONS(X) X(av_channel_layout_copy) X(av_channel_layout_default) X(av_channel_layout_uninit) X(av_find_best_stream) X(av_frame_alloc) X(av_frame_free) X(av_free) X(av_freep) X(av_get_packed_sample_fmt) X(av_log_set_level) X(av_malloc) X(av_match_name) X(av_packet_alloc) X(av_packet_free) X(av_packet_unref) X(av_probe_input_buffer2) X(av_read_frame) X(av_rescale) X(av_rescale_q) X(av_sample_fmt_is_planar) X(av_seek_frame) X(avcodec_alloc_context3) X(avcodec_descriptor_get) X(avcodec_flush_buffers) X(avcodec_free_context) X(avcodec_get_name) X(avcodec_open2) X(avcodec_parameters_to_context) X(avcodec_receive_frame) X(avcodec_send_packet) X(avformat_alloc_context) X(avformat_close_input) X(avformat_find_stream_info) X(avformat_open_input) X(avio_alloc_context) X(avio_context_free) X(swr_alloc_set_opts2) X(swr_convert) X(swr_free) X(swr_init)
// clang-format on

struct FfmpegApi {
#define FADEWELL_FFMPEG_FIELD(name) decltype(&::name) name = nullptr;
    FADEWELL_FFMPEG_FUNCTIONS(FADEWELL_FFMPEG_FIELD)
#undef FADEWELL_FFMPEG_FIELD
};

FfmpegApi g_ffmpeg; // complete once loadFfmpeg() has succeeded; never changed after

// The libraries by the names of the versions this program was built with.
std::string loadFfmpeg() {
    const std::string names[] = {
        "libavformat.so." AV_STRINGIFY(LIBAVFORMAT_VERSION_MAJOR), "libavcodec.so." AV_STRINGIFY(LIBAVCODEC_VERSION_MAJOR),
        "libavutil.so." AV_STRINGIFY(LIBAVUTIL_VERSION_MAJOR), "libswresample.so." AV_STRINGIFY(LIBSWRESAMPLE_VERSION_MAJOR)};
    std::vector<void*> libraries;
    for (const std::string& name : names) {
        void* library = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr)
            return "FFmpeg's libraries could not be loaded (" + std::string(::dlerror()) + ")";
        libraries.push_back(library); // kept for the life of the program
    }
    FfmpegApi api;
    const auto find = [&](const char* symbol) -> void* {
        for (void* library : libraries)
            if (void* found = ::dlsym(library, symbol))
                return found;
        return nullptr;
    };
#define FADEWELL_FFMPEG_FIND(name)                                                                     \
    if ((api.name = reinterpret_cast<decltype(api.name)>(find(#name))) == nullptr)                     \
        return "FFmpeg's libraries lack " #name;
    FADEWELL_FFMPEG_FUNCTIONS(FADEWELL_FFMPEG_FIND)
#undef FADEWELL_FFMPEG_FIND
    g_ffmpeg = api;
    // FFmpeg's warnings about damaged files would go to the program's stderr, one per packet.
    g_ffmpeg.av_log_set_level(AV_LOG_QUIET);
    return {};
}

const FfmpegApi& ffmpeg() {
    return g_ffmpeg;
}

// Loads FFmpeg once (any thread); throws FfmpegRefusal when it cannot be.
void initFfmpeg() {
    static const std::string failure = loadFfmpeg();
    if (!failure.empty())
        throw FfmpegRefusal{failure, false};
}

// The demuxers tried, all of audio files; nothing else is opened (no playlists, pictures or
// network). MP3 is left to libmpg123, which counts its frames exactly; FFmpeg takes only the MP3s
// libmpg123 refuses.
constexpr const char* kAudioDemuxers[] = {"mov",      "asf", "ape",  "wv",  "tta", "mpc", "mpc8", "ac3",
                                          "eac3",     "ogg", "flac", "aac", "wav", "w64", "aiff", "caf",
                                          "matroska", "dsf", "iff",  "tak", "dts", "shn", "au"};
// Of those, the demuxers whose timestamps count the samples of their audio exactly (when the time
// base is a whole number of ticks a sample or of samples a tick). ASF counts milliseconds,
// Matroska too, raw AC-3 rounds each frame's 1536 samples to 90 kHz ticks.
constexpr const char* kSampleExactDemuxers[] = {"mov",  "ape", "wv",   "tta", "mpc",
                                                "mpc8", "ogg", "flac", "aac"};

bool named(const AVInputFormat* format, const char* const* begin, const char* const* end) {
    return std::any_of(begin, end, [format](const char* name) { return ffmpeg().av_match_name(name, format->name); });
}



struct SharedFile {
    explicit SharedFile(int d) : fd(d) {}
    ~SharedFile() { ::close(fd); }
    SharedFile(const SharedFile&) = delete;
    SharedFile& operator=(const SharedFile&) = delete;
    int fd;
};

// One reader's place in the shared file: pread, so readers on other threads never move it.
struct IoCursor {
    std::shared_ptr<const SharedFile> file;
    std::int64_t pos = 0;
};

int readPacket(void* opaque, std::uint8_t* buffer, int size) {
    auto* c = static_cast<IoCursor*>(opaque);
    for (;;) {
        const ssize_t n = ::pread(c->file->fd, buffer, static_cast<std::size_t>(size), c->pos);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return AVERROR(errno);
        if (n == 0)
            return AVERROR_EOF;
        c->pos += n;
        return static_cast<int>(n);
    }
}

std::int64_t seekPacket(void* opaque, std::int64_t offset, int whence) {
    auto* c = static_cast<IoCursor*>(opaque);
    struct stat st {};
    if (::fstat(c->file->fd, &st) != 0)
        return AVERROR(errno);
    if (whence & AVSEEK_SIZE)
        return st.st_size;
    std::int64_t base = 0;
    switch (whence & ~AVSEEK_FORCE) {
    case SEEK_SET:
        break;
    case SEEK_CUR:
        base = c->pos;
        break;
    case SEEK_END:
        base = st.st_size;
        break;
    default:
        return AVERROR(EINVAL);
    }
    if (offset > std::numeric_limits<std::int64_t>::max() - base || base + offset < 0)
        return AVERROR(EINVAL);
    c->pos = base + offset;
    return c->pos;
}

// A demuxer must not open anything beside the file (references in MP4, playlists).
int refuseNestedOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) {
    return AVERROR(EPERM);
}

struct IoFree {
    void operator()(AVIOContext* io) const {
        ffmpeg().av_freep(&io->buffer);
        ffmpeg().avio_context_free(&io);
    }
};
struct FormatClose {
    void operator()(AVFormatContext* f) const { ffmpeg().avformat_close_input(&f); }
};
struct CodecFree {
    void operator()(AVCodecContext* c) const { ffmpeg().avcodec_free_context(&c); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { ffmpeg().av_packet_free(&p); }
};
struct FrameFree {
    void operator()(AVFrame* f) const { ffmpeg().av_frame_free(&f); }
};
struct SwrFree {
    void operator()(SwrContext* s) const { ffmpeg().swr_free(&s); }
};

std::string codecName(AVCodecID id, unsigned tag) {
    if (id == AV_CODEC_ID_NONE) {
        // A container's four letters ('ac-4'), or a WAV's number (0x1234).
        char text[32];
        const char letters[4] = {static_cast<char>(tag & 0xFF), static_cast<char>((tag >> 8) & 0xFF),
                                 static_cast<char>((tag >> 16) & 0xFF), static_cast<char>(tag >> 24)};
        if (std::all_of(std::begin(letters), std::end(letters), [](char c) { return c >= 0x20 && c < 0x7F; }))
            std::snprintf(text, sizeof text, "audio coded '%.4s'", letters);
        else
            std::snprintf(text, sizeof text, "audio coded 0x%04X", tag);
        return text;
    }
    const AVCodecDescriptor* d = ffmpeg().avcodec_descriptor_get(id);
    return d != nullptr && d->long_name != nullptr ? d->long_name : ffmpeg().avcodec_get_name(id);
}

// A demuxer and the audio stream's decoder over the shared file.
class Stream {
public:
    // format: the demuxer, or null to find it (takeMp3: a raw MP3 stream too). Throws FfmpegRefusal.
    Stream(std::shared_ptr<const SharedFile> file, const std::string& path, const AVInputFormat* format,
           bool takeMp3 = false) {
        m_cursor.file = std::move(file);
        auto* buffer = static_cast<std::uint8_t*>(ffmpeg().av_malloc(kIoBufferBytes));
        if (buffer == nullptr)
            throw std::bad_alloc();
        m_io.reset(
            ffmpeg().avio_alloc_context(buffer, kIoBufferBytes, 0, &m_cursor, &readPacket, nullptr, &seekPacket));
        if (!m_io) {
            ffmpeg().av_free(buffer);
            throw std::bad_alloc();
        }
        if (format == nullptr)
            format = probe(path, takeMp3);
        AVFormatContext* ctx = ffmpeg().avformat_alloc_context();
        if (ctx == nullptr)
            throw std::bad_alloc();
        ctx->pb = m_io.get();
        ctx->io_open = &refuseNestedOpen;
        if (ffmpeg().avformat_open_input(&ctx, path.c_str(), format, nullptr) < 0) // frees ctx on failure
            throw FfmpegRefusal{std::string("damaged: its ") +
                                    (format->long_name != nullptr ? format->long_name : format->name) +
                                    " header is corrupt or cut short",
                                true};
        m_format.reset(ctx);
        if (ffmpeg().avformat_find_stream_info(ctx, nullptr) < 0)
            throw FfmpegRefusal{"damaged: its streams cannot be read", true};
        openAudioStream();
        m_packet.reset(ffmpeg().av_packet_alloc());
        m_frame.reset(ffmpeg().av_frame_alloc());
        if (!m_packet || !m_frame)
            throw std::bad_alloc();
    }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    const AVInputFormat* format() const { return m_format->iformat; }
    AVStream* stream() const { return m_format->streams[m_index]; }
    const AVCodec* decoder() const { return m_codec->codec; }
    std::int64_t formatDuration() const { return m_format->duration; }
    bool failed() const { return m_failed; }

    // The next decoded frame (valid until the next call), or null at the end of the stream or when
    // it cannot be read any more (failed()). Damaged packets are skipped, as libFLAC skips damaged
    // frames; a long run of them ends the stream as failed.
    AVFrame* next() {
        while (!m_ended) {
            const int r = ffmpeg().avcodec_receive_frame(m_codec.get(), m_frame.get());
            if (r == 0) {
                m_badPackets = 0;
                return m_frame.get();
            }
            if (r == AVERROR_EOF) {
                m_ended = true;
                break;
            }
            if (r != AVERROR(EAGAIN) && !badPacket())
                break;
            if (m_draining) {
                m_ended = true; // a decoder that neither drains nor ends
                break;
            }
            if (!m_pending) {
                const int got = ffmpeg().av_read_frame(m_format.get(), m_packet.get());
                if (got < 0) {
                    m_failed = got == AVERROR(EIO) || got == AVERROR(ENOMEM);
                    m_draining = true;
                    ffmpeg().avcodec_send_packet(m_codec.get(), nullptr);
                    continue;
                }
                if (m_packet->stream_index != m_index) {
                    ffmpeg().av_packet_unref(m_packet.get());
                    continue;
                }
                m_pending = true;
            }
            const int sent = ffmpeg().avcodec_send_packet(m_codec.get(), m_packet.get());
            if (sent == AVERROR(EAGAIN))
                continue; // frames first; the packet stays pending
            m_pending = false;
            ffmpeg().av_packet_unref(m_packet.get());
            if (sent < 0 && !badPacket())
                break;
        }
        return nullptr;
    }

    // To the last point at or before ts (in the stream's time base); the decoder starts afresh.
    bool seek(std::int64_t ts) {
        if (ffmpeg().av_seek_frame(m_format.get(), m_index, ts, AVSEEK_FLAG_BACKWARD) < 0)
            return false;
        ffmpeg().avcodec_flush_buffers(m_codec.get());
        ffmpeg().av_packet_unref(m_packet.get());
        m_pending = m_draining = m_ended = m_failed = false;
        m_badPackets = 0;
        return true;
    }

private:
    const AVInputFormat* probe(const std::string& path, bool takeMp3) {
        const AVInputFormat* found = nullptr;
        const int score = ffmpeg().av_probe_input_buffer2(m_io.get(), &found, path.c_str(), nullptr, 0, 0);
        // A weak guess is what random bytes and text get: nothing recognised.
        if (score < AVPROBE_SCORE_RETRY || found == nullptr)
            throw FfmpegRefusal{"", false};
        if (named(found, std::begin(kAudioDemuxers), std::end(kAudioDemuxers)))
            return found;
        const std::string name = found->name;
        if (name == "mp3" && takeMp3)
            return found;
        if (name == "mp3")
            throw FfmpegRefusal{"", false}; // libmpg123's, which refused it
        if (name == "image2" || name.find("_pipe") != std::string::npos)
            throw FfmpegRefusal{"not an audio file (a picture)", true};
        if (score < AVPROBE_SCORE_EXTENSION)
            throw FfmpegRefusal{"", false};
        throw FfmpegRefusal{std::string("a format this program cannot play (") + found->long_name + ")",
                            true};
    }

    void openAudioStream() {
        AVFormatContext* ctx = m_format.get();
        const AVCodec* decoder = nullptr;
        const int index = ffmpeg().av_find_best_stream(ctx, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
        if (index < 0 || decoder == nullptr) {
            for (unsigned i = 0; i < ctx->nb_streams; ++i) {
                const AVCodecParameters* p = ctx->streams[i]->codecpar;
                if (p->codec_type == AVMEDIA_TYPE_AUDIO)
                    throw FfmpegRefusal{"a format this program cannot play (" +
                                            codecName(p->codec_id, p->codec_tag) + ")",
                                        true};
            }
            for (unsigned i = 0; i < ctx->nb_streams; ++i) {
                const AVStream* s = ctx->streams[i];
                if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
                    !(s->disposition & AV_DISPOSITION_ATTACHED_PIC))
                    throw FfmpegRefusal{
                        std::string("a format this program cannot play (video without sound: ") +
                            ffmpeg().avcodec_get_name(s->codecpar->codec_id) + ")",
                        true};
            }
            throw FfmpegRefusal{"no audio in the file", true};
        }
        m_index = index;
        for (unsigned i = 0; i < ctx->nb_streams; ++i)
            if (static_cast<int>(i) != index)
                ctx->streams[i]->discard = AVDISCARD_ALL;
        AVStream* st = ctx->streams[index];
        m_codec.reset(ffmpeg().avcodec_alloc_context3(decoder));
        if (!m_codec)
            throw std::bad_alloc();
        if (ffmpeg().avcodec_parameters_to_context(m_codec.get(), st->codecpar) < 0)
            throw FfmpegRefusal{"damaged: its audio stream's parameters cannot be read", true};
        m_codec->pkt_timebase = st->time_base;
        m_codec->thread_count = 1; // the worker is the one thread decoding
        if (ffmpeg().avcodec_open2(m_codec.get(), decoder, nullptr) < 0)
            throw FfmpegRefusal{"damaged: its " + codecName(st->codecpar->codec_id, 0) +
                                    " stream cannot be decoded (its parameters are refused)",
                                true};
    }

    bool badPacket() {
        if (++m_badPackets <= kMaxBadPackets)
            return true;
        m_failed = m_ended = true;
        return false;
    }

    IoCursor m_cursor;
    std::unique_ptr<AVIOContext, IoFree> m_io;
    std::unique_ptr<AVFormatContext, FormatClose> m_format;
    std::unique_ptr<AVCodecContext, CodecFree> m_codec;
    std::unique_ptr<AVPacket, PacketFree> m_packet;
    std::unique_ptr<AVFrame, FrameFree> m_frame;
    int m_index = -1;
    int m_badPackets = 0;
    bool m_pending = false; // m_packet holds a packet the decoder has not taken yet
    bool m_draining = false;
    bool m_ended = false;
    bool m_failed = false;
};

// What is known of a file once it is open; shared, never changed, by its readers.
struct Source {
    std::shared_ptr<const SharedFile> file;
    std::string path;
    const AVInputFormat* format = nullptr;
    std::string codec;
    int rate = 0;
    int fileChannels = 0;
    int channels = 0; // given by the readers
    AVRational timeBase{0, 1};
    std::int64_t originPts = 0; // the timestamp of the first frame decoded: sample 0
    bool sampleExact = false;   // timestamps give sample numbers
    bool seekFromStart = false; // timestamps after a seek cannot be trusted at all
    std::int64_t preroll = 0;   // samples decoded before a seek's target, for a lossy codec's state
    std::int64_t trimEnd = std::numeric_limits<std::int64_t>::max(); // MP4: the end its index gives
    std::int64_t length = kNoLength;                                 // exact, when measured at open

    std::int64_t sampleOf(std::int64_t pts) const {
        return ffmpeg().av_rescale_q(pts - originPts, timeBase, AVRational{1, rate});
    }
    std::int64_t ptsOf(std::int64_t sample) const {
        return originPts + ffmpeg().av_rescale_q(sample, AVRational{1, rate}, timeBase);
    }
};

struct Anchor {
    std::int64_t pts;
    std::int64_t sample;
};

// Points whose sample numbers a count found: where seeks in files without sample-exact timestamps
// start from. Written once by the count (scanning thread), read by the reader's seeks (worker).
struct SeekMap {
    std::mutex mutex;
    std::vector<Anchor> anchors; // by sample
    bool complete = false;
};

class FfmpegFileReader final : public FileReader {
public:
    FfmpegFileReader(std::shared_ptr<const Source> source, std::shared_ptr<SeekMap> map)
        : m_source(std::move(source)), m_map(std::move(map)) {
        restart(0);
    }

    std::size_t read(float* out, std::size_t frames) override {
        const auto channels = static_cast<std::size_t>(m_source->channels);
        std::size_t done = 0;
        while (done < frames) {
            if (m_offset == m_available) {
                if (m_ended || !nextBlock())
                    break;
                continue;
            }
            const std::size_t n = std::min(frames - done, m_available - m_offset);
            std::copy_n(m_block.data() + m_offset * channels, n * channels, out + done * channels);
            done += n;
            m_offset += n;
        }
        return done;
    }

    bool seek(std::int64_t frame) override {
        if (m_source->length != kNoLength && frame >= m_source->length)
            return false;
        if (frame == 0 && m_atStart && m_stream) {
            m_target = 0;
            m_error = false;
            return true;
        }
        const std::int64_t from = std::max<std::int64_t>(0, frame - m_source->preroll);
        if (from == 0 || !m_stream || m_source->seekFromStart) {
            restart(frame);
            return true;
        }
        m_error = false;
        m_target = frame;
        m_tries = 0;
        startSeek(from);
        return true;
    }

    bool error() const override { return m_error; }

    // The sample after the last one read: the length, once read() has returned 0 without error.
    std::int64_t position() const {
        return m_next < 0 ? kNoLength : m_blockStart + static_cast<std::int64_t>(m_offset);
    }
    // Whether a seek found its place (a frame with a known sample number).
    bool placed() const { return m_next >= 0; }
    // For the tail check at open: a seek that overshoots fails instead of decoding from the start.
    void refuseSlowSeeks() { m_slowSeeksAllowed = false; }
    // For the count: notes points to seek from, handed over by publishAnchors().
    void noteAnchors() {
        m_noting = true;
        m_noteEvery = std::max<std::int64_t>(1, m_source->rate / 2);
    }
    void publishAnchors() {
        std::lock_guard lock(m_map->mutex);
        m_map->anchors = std::move(m_noted);
        m_map->complete = true;
    }

private:
    enum class Mode { ExactTimestamps, RoughTimestamps, Anchor };

    // From the file's first frame again, dropping the frames before target.
    void restart(std::int64_t target) {
        m_stream.reset();
        m_offset = m_available = 0;
        m_ended = false;
        m_error = false;
        m_target = target;
        m_next = 0;
        m_lastPts = AV_NOPTS_VALUE;
        try {
            m_stream = std::make_unique<Stream>(m_source->file, m_source->path, m_source->format);
            m_atStart = true;
        } catch (const FfmpegRefusal&) {
            m_error = m_ended = true; // the file changed under us
        } catch (const std::bad_alloc&) {
            m_error = m_ended = true;
        }
    }

    bool findAnchor(std::int64_t sample, Anchor& found) {
        std::lock_guard lock(m_map->mutex);
        if (!m_map->complete)
            return false;
        const auto& a = m_map->anchors;
        auto it = std::upper_bound(a.begin(), a.end(), sample,
                                   [](std::int64_t s, const Anchor& x) { return s < x.sample; });
        if (it == a.begin())
            return false;
        found = *std::prev(it);
        return true;
    }

    // Where a frame decoded after a seek begins, if it can be told; false to drop it.
    bool place(const AVFrame* f, std::int64_t& start) {
        if (f->pts == AV_NOPTS_VALUE)
            return false;
        if (m_mode == Mode::Anchor) {
            if (f->pts < m_anchor.pts)
                return false;
            if (f->pts > m_anchor.pts) { // the seek went past the point
                slowSeek();
                return false;
            }
            start = m_anchor.sample;
            return true;
        }
        start = m_source->sampleOf(f->pts);
        if (start > m_target && m_mode == Mode::ExactTimestamps) { // the seek went past the target
            slowSeek();
            return false;
        }
        return true;
    }

    // Decoding starts at `from` (before the target by the preroll at least), from a point whose
    // sample number is known: a noted point, or a timestamp.
    void startSeek(std::int64_t from) {
        m_from = from;
        m_next = -1;
        m_offset = m_available = 0;
        m_ended = false;
        Anchor anchor{};
        if (!m_source->sampleExact && findAnchor(from, anchor)) {
            m_mode = Mode::Anchor;
            m_anchor = anchor;
            // From before the point, so that the frame at the point is decoded whole.
            const std::int64_t back =
                ffmpeg().av_rescale_q(m_source->preroll + 1, AVRational{1, m_source->rate}, m_source->timeBase);
            if (!m_stream->seek(anchor.pts - back))
                restart(m_target);
            return;
        }
        // Timestamps: exact where they count samples, otherwise a first guess until the count.
        m_mode = m_source->sampleExact ? Mode::ExactTimestamps : Mode::RoughTimestamps;
        if (!m_stream->seek(m_source->ptsOf(from)))
            restart(m_target);
    }

    // The seek landed past its point: again from further back, at last from the start.
    void slowSeek() {
        const std::int64_t further = m_from - std::max<std::int64_t>(m_source->rate, 2 * (m_target - m_from));
        if (++m_tries <= 3 && further > 0) {
            startSeek(further);
            return;
        }
        if (m_slowSeeksAllowed) {
            restart(m_target);
        } else {
            m_ended = true;
            m_next = -1;
        }
    }

    bool nextBlock() {
        for (;;) {
            AVFrame* f = m_stream ? m_stream->next() : nullptr;
            if (f == nullptr && m_next < 0 && m_stream && !m_stream->failed()) {
                slowSeek(); // the seek found nothing to place (FFmpeg's Musepack at its last packet)
                if (!m_ended)
                    continue;
            }
            if (f == nullptr) {
                m_ended = true;
                m_error = m_error || !m_stream || m_stream->failed();
                return false;
            }
            m_atStart = false;
            if (f->sample_rate != m_source->rate || f->ch_layout.nb_channels != m_source->fileChannels) {
                m_ended = m_error = true; // another stream than the one opened
                return false;
            }
            if (f->nb_samples <= 0)
                continue;
            std::int64_t start = m_next;
            if (m_next < 0) {
                if (!place(f, start)) {
                    if (m_ended)
                        return false;
                    continue;
                }
            }
            const auto n = static_cast<std::int64_t>(f->nb_samples);
            m_next = start + n;
            if (m_noting)
                note(f->pts, start);
            if (start >= m_source->trimEnd) {
                m_ended = true;
                return false;
            }
            convert(f);
            m_blockStart = start;
            // (start may be below 0: the frames a seek lands before the first.)
            m_available =
                static_cast<std::size_t>(start <= m_source->trimEnd - n ? n : m_source->trimEnd - start);
            m_offset = start < m_target ? static_cast<std::size_t>(std::min(n, m_target - start)) : 0;
            if (m_offset < m_available)
                return true;
        }
    }

    void note(std::int64_t pts, std::int64_t start) {
        if (pts == AV_NOPTS_VALUE)
            return;
        // Two frames with one timestamp cannot be told apart: neither is a point to seek from.
        if (pts == m_lastPts && !m_noted.empty() && m_noted.back().pts == pts)
            m_noted.pop_back();
        const bool rising = m_lastPts == AV_NOPTS_VALUE || pts > m_lastPts;
        m_lastPts = std::max(pts, m_lastPts == AV_NOPTS_VALUE ? pts : m_lastPts);
        if (!rising || start < m_noteAt)
            return;
        m_noted.push_back({pts, start});
        m_noteAt = start + m_noteEvery;
        if (m_noted.size() >= kMaxAnchors) { // every other one, twice as far apart
            std::size_t kept = 0;
            for (std::size_t i = 0; i < m_noted.size(); i += 2)
                m_noted[kept++] = m_noted[i];
            m_noted.resize(kept);
            m_noteEvery *= 2;
        }
    }

    // The frame's samples as interleaved floats of the reader's channels.
    void convert(const AVFrame* f) {
        const auto n = static_cast<std::size_t>(f->nb_samples);
        const auto out = static_cast<std::size_t>(m_source->channels);
        if (m_block.size() < n * out)
            m_block.resize(n * out);
        if (m_source->fileChannels > 2) {
            downmix(f);
            return;
        }
        const auto channels = static_cast<std::size_t>(m_source->fileChannels);
        const auto format = static_cast<AVSampleFormat>(f->format);
        const bool planar = ffmpeg().av_sample_fmt_is_planar(format) != 0;
        for (std::size_t c = 0; c < channels; ++c) {
            const std::uint8_t* data = planar ? f->extended_data[c] : f->extended_data[0];
            const std::size_t step = planar ? 1 : channels;
            const std::size_t first = planar ? 0 : c;
            float* dst = m_block.data() + c;
            switch (ffmpeg().av_get_packed_sample_fmt(format)) {
            case AV_SAMPLE_FMT_FLT:
                copySamples(reinterpret_cast<const float*>(data), first, step, n, dst, out, 1.0f);
                break;
            case AV_SAMPLE_FMT_S16:
                copySamples(reinterpret_cast<const std::int16_t*>(data), first, step, n, dst, out,
                            1.0f / 32768.0f);
                break;
            case AV_SAMPLE_FMT_S32:
                copySamples(reinterpret_cast<const std::int32_t*>(data), first, step, n, dst, out,
                            1.0f / 2147483648.0f);
                break;
            case AV_SAMPLE_FMT_DBL:
                copySamples(reinterpret_cast<const double*>(data), first, step, n, dst, out, 1.0f);
                break;
            case AV_SAMPLE_FMT_S64:
                copySamples(reinterpret_cast<const std::int64_t*>(data), first, step, n, dst, out,
                            1.0f / 9223372036854775808.0f);
                break;
            case AV_SAMPLE_FMT_U8:
                for (std::size_t i = 0; i < n; ++i)
                    dst[i * out] = (static_cast<float>(data[first + i * step]) - 128.0f) / 128.0f;
                break;
            default:
                for (std::size_t i = 0; i < n; ++i)
                    dst[i * out] = 0.0f;
                m_error = m_ended = true;
                break;
            }
        }
    }

    template <class T>
    static void copySamples(const T* in, std::size_t first, std::size_t step, std::size_t n, float* dst,
                            std::size_t out, float scale) {
        for (std::size_t i = 0; i < n; ++i)
            dst[i * out] = static_cast<float>(in[first + i * step]) * scale;
    }

    // More than two channels become two, as FFmpeg's resampler mixes them (centre and surrounds
    // into both sides): the first two alone would lose a film's dialogue.
    void downmix(const AVFrame* f) {
        if (!m_swr) {
            AVChannelLayout in{};
            if (f->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
                ffmpeg().av_channel_layout_default(&in, f->ch_layout.nb_channels);
            else
                ffmpeg().av_channel_layout_copy(&in, &f->ch_layout);
            AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
            SwrContext* s = nullptr;
            const int made =
                ffmpeg().swr_alloc_set_opts2(&s, &stereo, AV_SAMPLE_FMT_FLT, m_source->rate, &in,
                                    static_cast<AVSampleFormat>(f->format), m_source->rate, 0, nullptr);
            ffmpeg().av_channel_layout_uninit(&in);
            m_swr.reset(s);
            if (made < 0 || ffmpeg().swr_init(s) < 0) {
                m_swr.reset();
                std::fill_n(m_block.data(), 2 * static_cast<std::size_t>(f->nb_samples), 0.0f);
                m_error = m_ended = true;
                return;
            }
        }
        auto* dst = reinterpret_cast<std::uint8_t*>(m_block.data());
        const int got = ffmpeg().swr_convert(m_swr.get(), &dst, f->nb_samples,
                                    const_cast<const std::uint8_t**>(f->extended_data), f->nb_samples);
        if (got < f->nb_samples)
            std::fill(m_block.begin() + 2 * std::max(got, 0), m_block.begin() + 2 * f->nb_samples, 0.0f);
    }

    std::shared_ptr<const Source> m_source;
    std::shared_ptr<SeekMap> m_map;
    std::unique_ptr<Stream> m_stream;
    std::unique_ptr<SwrContext, SwrFree> m_swr;
    std::vector<float> m_block; // the last frame decoded, interleaved
    std::size_t m_offset = 0;
    std::size_t m_available = 0;
    std::int64_t m_blockStart = 0;
    std::int64_t m_next = 0;   // sample number of the next frame's first sample; -1 while unknown
    std::int64_t m_target = 0; // samples before it are dropped (a seek's target)
    Mode m_mode = Mode::ExactTimestamps;
    Anchor m_anchor{};
    std::int64_t m_from = 0; // where the current seek began decoding
    int m_tries = 0;
    bool m_atStart = false; // nothing decoded since the stream was opened
    bool m_ended = false;
    bool m_error = false;
    bool m_slowSeeksAllowed = true;
    bool m_noting = false;
    std::vector<Anchor> m_noted;
    std::int64_t m_noteEvery = 1;
    std::int64_t m_noteAt = 0;
    std::int64_t m_lastPts = AV_NOPTS_VALUE;
};

// The exact length of a file whose timestamps count samples: decode from a second before the end
// the container gives to the real end. -1 when that cannot be done (no end found in the file near
// that point, damage): then the whole file is counted.
std::int64_t measureLength(const std::shared_ptr<const Source>& source, std::int64_t estimate) {
    FfmpegFileReader tail(source, std::make_shared<SeekMap>());
    tail.refuseSlowSeeks();
    tail.seek(std::max<std::int64_t>(0, estimate - source->rate));
    const auto channels = static_cast<std::size_t>(source->channels);
    std::vector<float> buffer(4096 * channels);
    const std::int64_t limit = 30 * static_cast<std::int64_t>(source->rate); // of decoding, at most
    std::int64_t read = 0;
    while (read < limit) {
        const std::size_t got = tail.read(buffer.data(), 4096);
        if (got == 0)
            break;
        read += static_cast<std::int64_t>(got);
    }
    if (read >= limit || tail.error() || !tail.placed())
        return kNoLength;
    return tail.position();
}

} // namespace

FfmpegOpened openWithFfmpeg(const std::string& path, bool takeMp3) {
    initFfmpeg();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw FfmpegRefusal{std::string("cannot be read: ") + std::strerror(errno), true};
    auto file = std::make_shared<const SharedFile>(fd);

    auto source = std::make_shared<Source>();
    source->file = file;
    source->path = path;
    Stream probe(file, path, nullptr, takeMp3);
    source->format = probe.format();
    const AVStream* st = probe.stream();
    source->codec = probe.decoder()->name;
    source->timeBase = st->time_base;
    if (source->timeBase.num <= 0 || source->timeBase.den <= 0)
        throw FfmpegRefusal{"damaged: its timing cannot be read", true};

    const AVFrame* first = probe.next();
    if (first == nullptr)
        throw FfmpegRefusal{probe.failed() ? "damaged: its audio data cannot be decoded (corrupt)"
                                           : "no audio in the file",
                            true};
    source->rate = first->sample_rate;
    if (source->rate < kMinFileRate || source->rate > kMaxFileRate)
        throw FfmpegRefusal{"unusable sample rate (" + std::to_string(source->rate) + " Hz)", true};
    source->fileChannels = first->ch_layout.nb_channels;
    if (source->fileChannels <= 0)
        throw FfmpegRefusal{"damaged: no channels", true};
    source->channels = std::min(source->fileChannels, 2);
    source->originPts = first->pts == AV_NOPTS_VALUE ? 0 : first->pts;

    const AVRational tb = source->timeBase;
    const std::int64_t rate = source->rate;
    const bool wholeTicks = tb.den % (tb.num * rate) == 0 || (rate * tb.num) % tb.den == 0;
    // In Ogg, FFmpeg 5.1 stamps the packets after a seek right for Vorbis and Opus only (FLAC and
    // Speex a few packets off): the others are read again from the start to be placed.
    const bool ogg = ffmpeg().av_match_name("ogg", source->format->name);
    const AVCodecID id = st->codecpar->codec_id;
    source->sampleExact =
        first->pts != AV_NOPTS_VALUE && wholeTicks &&
        named(source->format, std::begin(kSampleExactDemuxers), std::end(kSampleExactDemuxers)) &&
        (!ogg || id == AV_CODEC_ID_VORBIS || id == AV_CODEC_ID_OPUS);
    source->seekFromStart = ogg && !source->sampleExact;
    const AVCodecDescriptor* descriptor = ffmpeg().avcodec_descriptor_get(st->codecpar->codec_id);
    const bool lossless = descriptor != nullptr && (descriptor->props & AV_CODEC_PROP_LOSSLESS) &&
                          !(descriptor->props & AV_CODEC_PROP_LOSSY);
    // A lossy decoder needs the frames before a point to decode it as from the start (overlapping
    // transforms, predictors): 200 ms, and two large frames.
    source->preroll = lossless ? 0 : rate / 5 + 4096;

    const std::int64_t start = st->start_time == AV_NOPTS_VALUE ? source->originPts : st->start_time;
    std::int64_t estimate = 0;
    if (st->duration != AV_NOPTS_VALUE && st->duration > 0)
        estimate = source->sampleOf(start + st->duration);
    else if (probe.formatDuration() != AV_NOPTS_VALUE && probe.formatDuration() > 0)
        estimate = ffmpeg().av_rescale(probe.formatDuration(), rate, AV_TIME_BASE);
    // An MP4's index says where the audio ends; what the codec decodes after it is the encoder's
    // padding.
    if (ffmpeg().av_match_name("mov", source->format->name) && st->duration > 0 && estimate > 0)
        source->trimEnd = estimate;

    FfmpegOpened opened;
    opened.rate = source->rate;
    opened.channels = source->channels;
    opened.codec = source->codec;
    if (source->sampleExact) {
        const std::int64_t length = measureLength(source, estimate);
        if (length > 0) {
            source->length = length;
            opened.frames = length;
            opened.exactLength = true;
        }
    }
    if (!opened.exactLength) {
        opened.frames = std::max<std::int64_t>(estimate, 0);
        auto map = std::make_shared<SeekMap>();
        opened.countFrames = [source = std::shared_ptr<const Source>(source),
                              map](const std::atomic<bool>* cancel) -> std::int64_t {
            FfmpegFileReader counter(source, map);
            counter.noteAnchors();
            std::vector<float> buffer(4096 * static_cast<std::size_t>(source->channels));
            std::int64_t total = 0;
            for (;;) {
                if (cancel != nullptr && cancel->load(std::memory_order_relaxed))
                    return -1;
                const std::size_t got = counter.read(buffer.data(), 4096);
                if (got == 0)
                    break;
                total += static_cast<std::int64_t>(got);
            }
            counter.publishAnchors();
            return total > 0 ? total : -1;
        };
        opened.reader = std::make_unique<FfmpegFileReader>(source, map);
    } else {
        opened.reader = std::make_unique<FfmpegFileReader>(source, std::make_shared<SeekMap>());
    }
    return opened;
}
