#include "audio/decode/Decoder.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include <sndfile.h>

#include "audio/decode/FfmpegReader.h"
#include "audio/decode/FileReader.h"
#include "audio/decode/FlacReader.h"
#include "audio/decode/Mpg123Reader.h"
#include "audio/decode/Resampler.h"
#include "audio/decode/SndfileReader.h"
#include "common/Errors.h"

namespace {

constexpr std::size_t kBlockFrames = 2048;
constexpr int kMinFileRate = 1000;   // below the lowest rate audio is recorded at (8 kHz) by far
constexpr int kMaxFileRate = 768000; // the highest rate any recorder writes
constexpr const char* kEndUnreadable = "damaged: truncated (its end cannot be read)";
constexpr const char* kCannotPlay = "a format this program cannot play";

[[noreturn]] void refuse(const std::string& path, const std::string& reason) {
    throw PlayerError("Can't load \"" + path + "\": " + reason);
}

// Where the audio data of a RIFF WAVE file lies: the offset and length of its data chunk.
bool findWavData(const std::string& path, std::int64_t& offset, std::int64_t& length) {
    FILE* f = std::fopen(path.c_str(), "rbe");
    if (f == nullptr)
        return false;
    unsigned char head[12];
    bool found = false;
    if (std::fread(head, 1, 12, f) == 12 && std::memcmp(head, "RIFF", 4) == 0 &&
        std::memcmp(head + 8, "WAVE", 4) == 0) {
        std::int64_t at = 12;
        unsigned char chunk[8];
        while (std::fread(chunk, 1, 8, f) == 8) {
            const std::int64_t size =
                chunk[4] | (chunk[5] << 8) | (chunk[6] << 16) | (std::int64_t{chunk[7]} << 24);
            if (std::memcmp(chunk, "data", 4) == 0) {
                offset = at + 8;
                length = size;
                found = true;
                break;
            }
            at += 8 + size + (size & 1);
            if (fseeko(f, static_cast<off_t>(at), SEEK_SET) != 0)
                break;
        }
    }
    std::fclose(f);
    return found;
}

// Whether the file begins like one of the audio formats we read: then a refusal means damage.
bool looksLikeAudio(const std::string& path) {
    char head[4] = {};
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const ssize_t got = ::read(fd, head, sizeof head);
    ::close(fd);
    if (got < 4)
        return false;
    const std::string magic(head, 4);
    const auto* u = reinterpret_cast<const unsigned char*>(head);
    return magic == "RIFF" || magic == "RIFX" || magic == "RF64" || magic == "FORM" || magic == "fLaC" ||
           magic == "OggS" || magic.compare(0, 3, "ID3") == 0 || (u[0] == 0xFF && (u[1] & 0xE0) == 0xE0);
}

// Why a file that neither libsndfile nor FFmpeg recognised is refused, in the operator's words.
std::string unrecognisedReason(const std::string& path, int sndfileError) {
    char head[4] = {};
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        const ssize_t got = ::read(fd, head, sizeof head);
        ::close(fd);
        if (got == 4 && std::memcmp(head, "MThd", 4) == 0)
            return "a format this program cannot play (MIDI: notes, not recorded sound)";
    }
    if (looksLikeAudio(path))
        return "damaged: corrupt or truncated file";
    if (sndfileError == SF_ERR_UNSUPPORTED_ENCODING)
        return "a format this program cannot play (an audio encoding that no decoder here reads)";
    // Unrecognised, or a format libsndfile gave up on while probing (text named .mp3).
    return "not an audio file";
}

// An Ogg stream whose first packet is FLAC's (0x7F "FLAC").
bool isOggFlac(const std::string& path) {
    unsigned char page[64] = {};
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const ssize_t got = ::read(fd, page, sizeof page);
    ::close(fd);
    if (got < 28 || std::memcmp(page, "OggS", 4) != 0)
        return false;
    const std::size_t packet = 27 + std::size_t{page[26]};
    return static_cast<std::size_t>(got) >= packet + 5 && std::memcmp(page + packet,
                                                                      "\x7F"
                                                                      "FLAC",
                                                                      5) == 0;
}

bool isMpegAudio(int subformat) {
    return subformat == SF_FORMAT_MPEG_LAYER_I || subformat == SF_FORMAT_MPEG_LAYER_II ||
           subformat == SF_FORMAT_MPEG_LAYER_III;
}

// A file whose data chunk claims more than the file holds: libsndfile notes it in its log and
// plays what is there, but the operator should know the file is cut short.
bool logSaysTruncated(SNDFILE* f) {
    char log[8192] = {};
    sf_command(f, SFC_GET_LOG_INFO, log, sizeof log);
    const std::string text(log);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        line.erase(0, line.find_first_not_of(' '));
        const bool dataChunk = line.rfind("data :", 0) == 0 || line.rfind("SSND :", 0) == 0;
        if ((dataChunk && line.find("should be") != std::string::npos) ||
            line.find("> file length") != std::string::npos)
            return true;
        start = end + 1;
    }
    return false;
}

} // namespace

Decoder::~Decoder() = default;

std::unique_ptr<Decoder> Decoder::open(const std::string& path) {
    // The usual reasons first, from the file system, in plain words.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        refuse(path, errno == ENOENT || errno == ENOTDIR
                         ? "no such file"
                         : std::string("cannot be read: ") + std::strerror(errno));
    if (S_ISDIR(st.st_mode))
        refuse(path, "it is a folder, not a file");
    if (!S_ISREG(st.st_mode))
        refuse(path, "not a regular file");
    {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            refuse(path, errno == EACCES ? "cannot be read: permission denied"
                                         : std::string("cannot be read: ") + std::strerror(errno));
        ::close(fd);
    }
    if (st.st_size == 0)
        refuse(path, "empty file");

    std::unique_ptr<Decoder> d(new Decoder);
    d->m_path = path;
    bool mp3 = false;

    SF_INFO sfInfo{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &sfInfo);
    if (f == nullptr) {
        const int error = sf_error(nullptr);
        if (error == SF_ERR_SYSTEM)
            refuse(path, "cannot be read");
        // FLAC in Ogg: libFLAC, whose seeks in it are exact (FFmpeg's are not).
        // Anything else that is not one of libsndfile's formats (AAC, WMA, WavPack, ...): FFmpeg.
        if (!isOggFlac(path) || !d->openOggFlac())
            d->openWithFfmpeg(unrecognisedReason(path, error));
    } else {
        const int type = sfInfo.format & SF_FORMAT_TYPEMASK;
        const int subformat = sfInfo.format & SF_FORMAT_SUBMASK;
        if (type == SF_FORMAT_MPEG || isMpegAudio(subformat)) {
            // libsndfile stops an MP3 without a length header at its bitrate estimate of the length;
            // libmpg123 reads to the true end. An MP3 inside a WAV is its data chunk.
            sf_close(f);
            std::int64_t offset = 0;
            std::int64_t length = -1;
            if (type != SF_FORMAT_MPEG && !findWavData(path, offset, length))
                refuse(path, "damaged: its MP3 data cannot be found");
            mp3 = true;
            if (!d->openMp3(offset, length)) {
                const std::string reason = d->fallBackToFfmpeg("damaged: corrupt MP3 data", 0, 0, true);
                if (!reason.empty())
                    refuse(path, reason);
                mp3 = false;
            }
        } else if (type == SF_FORMAT_OGG && subformat == SF_FORMAT_OPUS) {
            // FFmpeg's Opus decoder: 2.5 times as fast as libsndfile's (bench/README.md).
            sf_close(f);
            d->openWithFfmpeg("damaged: corrupt or truncated file");
        } else {
            std::int64_t slack = 0;
            const std::string damage = d->openWithSndfile(f, sfInfo, slack);
            if (damage == kEndUnreadable && type != SF_FORMAT_OGG) {
                // The end its header states cannot be reached: FFmpeg's reader, if it gets there.
                const std::string reason = d->fallBackToFfmpeg(damage, sfInfo.frames, slack);
                if (!reason.empty())
                    refuse(path, reason);
            } else if (!damage.empty()) {
                if (type != SF_FORMAT_OGG)
                    refuse(path, damage);
                // Data after the end of an Ogg stream (a tag, a second stream) stops libsndfile at
                // its length check; FFmpeg reads the stream to its end.
                d->openWithFfmpeg(damage);
            }
        }
    }

    // The first block must decode: this catches files whose header is fine but whose data is not.
    std::string refusal = d->firstBlockRefusal(mp3);
    if (mp3 && !refusal.empty()) {
        // libmpg123 finds no audio where FFmpeg may (a stream of a frame or two, a length header
        // that says almost nothing is there).
        refusal = d->fallBackToFfmpeg(refusal, 0, 0, true);
        if (refusal.empty())
            refusal = d->firstBlockRefusal(false);
    }
    if (!refusal.empty())
        refuse(path, refusal);
    d->seek(0);
    return d;
}

std::string Decoder::firstBlockRefusal(bool mp3) {
    if (m_info.fileChannels != 2)
        m_raw.resize(kBlockFrames * static_cast<std::size_t>(m_info.fileChannels));
    std::vector<float> first(2 * kBlockFrames);
    seek(0);
    const std::size_t got = readFile(first.data(), kBlockFrames);
    if (got == 0 && (m_reader->error() || m_info.frames > 0))
        return mp3 ? "damaged: corrupt MP3 data" : "damaged: corrupt audio data (it cannot be decoded)";
    if (mp3 && got == 0)
        return "no audio in the file";
    return {};
}

std::string Decoder::fallBackToFfmpeg(const std::string& fastReason, std::int64_t statedFrames,
                                      std::int64_t slack, bool mp3) {
    FfmpegOpened opened;
    try {
        opened = ::openWithFfmpeg(m_path, mp3);
    } catch (const FfmpegRefusal& r) {
        // Its reason where it names what cannot be played; otherwise the fast reader's, which
        // knew the file for what it is.
        return r.recognised && r.reason.rfind(kCannotPlay, 0) == 0 ? r.reason : fastReason;
    }
    if (statedFrames > 0) {
        std::int64_t decoded = opened.frames;
        if (!opened.exactLength) {
            // Counted now (FLAC decodes at hundreds of times its speed): a file cut short is
            // refused as the fast reader found it, not played to its cut.
            decoded = opened.countFrames(nullptr);
            opened.exactLength = decoded > 0;
            opened.frames = decoded;
            opened.countFrames = {};
        }
        if (decoded < statedFrames - slack)
            return fastReason;
    }
    m_reader = std::move(opened.reader);
    m_info = {opened.rate, opened.channels, opened.frames, opened.exactLength, std::move(opened.countFrames)};
    return {};
}

bool Decoder::openMp3(std::int64_t offset, std::int64_t length) {
    Mpg123Opened opened = openMpg123Reader(m_path, offset, length);
    if (!opened.reader)
        return false;
    if (!opened.floatOutput)
        refuse(m_path, "MP3 decoder gives no 32-bit float output");
    m_info = {opened.rate, opened.channels, opened.frames, false,
              [path = m_path, offset, length](const std::atomic<bool>* cancel) {
                  return countMp3Frames(path, cancel, offset, length);
              }};
    m_reader = std::move(opened.reader);
    return true;
}

std::string Decoder::openWithSndfile(SNDFILE* f, const SF_INFO& sfInfo, std::int64_t& slack) {
    m_reader = makeSndfileReader(f); // closes f from here on
    m_info = {sfInfo.samplerate, sfInfo.channels, static_cast<std::int64_t>(sfInfo.frames), true, {}};
    if (sfInfo.samplerate <= 0 || sfInfo.channels <= 0)
        return "damaged: no sample rate or channels in its header";
    // A header saying 1 Hz would make a second of audio twelve hours of rumble, one saying
    // 10 MHz a few milliseconds of chirp: damage, not audio.
    if (sfInfo.samplerate < kMinFileRate || sfInfo.samplerate > kMaxFileRate)
        return "unusable sample rate (" + std::to_string(sfInfo.samplerate) + " Hz)";
    if (logSaysTruncated(f))
        return "damaged: truncated (its audio data ends before its header says)";
    if (sfInfo.frames <= 0)
        return "no audio in the file";
    std::unique_ptr<FileReader> flac;
    if ((sfInfo.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC) {
        FlacOpened opened = openFlacReader(m_path, sfInfo.channels);
        flac = std::move(opened.reader);
        slack = opened.maxBlockSize; // a frame: what a header's length may be off by
    }
    // A file cut short (a FLAC or Ogg file whose end is missing) fails to read near its end. A
    // FLAC's end is looked for by libFLAC, which finds it behind an ID3 tag too.
    FileReader& probe = flac ? *flac : *m_reader;
    if (flac || sfInfo.seekable) {
        std::vector<float> last(static_cast<std::size_t>(sfInfo.channels));
        if (sfInfo.frames > 1 && (!probe.seek(sfInfo.frames - 1) || probe.read(last.data(), 1) != 1))
            return kEndUnreadable;
    }
    if (flac)
        m_reader = std::move(flac); // libsndfile's handle is closed here
    return {};
}

bool Decoder::openOggFlac() {
    FlacOpened flac = openFlacReader(m_path, 0, true);
    if (!flac.reader)
        return false;
    const std::int64_t frames = flac.frames;
    const int rate = flac.rate;
    if (frames <= 0 || rate < kMinFileRate || rate > kMaxFileRate)
        return false; // no length to trust, or damage: FFmpeg tells what it makes of it
    std::vector<float> last(static_cast<std::size_t>(flac.channels));
    if (!flac.reader->seek(frames - 1) || flac.reader->read(last.data(), 1) != 1) {
        const std::string reason = fallBackToFfmpeg(kEndUnreadable, frames, flac.maxBlockSize);
        if (!reason.empty())
            refuse(m_path, reason);
        return true;
    }
    m_info = {rate, flac.channels, frames, true, {}};
    m_reader = std::move(flac.reader);
    return true;
}

void Decoder::openWithFfmpeg(const std::string& reasonIfUnknown) {
    FfmpegOpened opened;
    try {
        opened = ::openWithFfmpeg(m_path);
    } catch (const FfmpegRefusal& r) {
        refuse(m_path, r.recognised ? r.reason : reasonIfUnknown);
    }
    m_reader = std::move(opened.reader);
    m_info = {opened.rate, opened.channels, opened.frames, opened.exactLength, std::move(opened.countFrames)};
}

void Decoder::resampleTo(int outputRate) {
    if (outputRate == m_info.fileRate)
        return;
    try {
        m_resampler = Resampler::create(m_info.fileRate, outputRate);
    } catch (const std::exception& e) {
        refuse(m_path, std::string("cannot resample from its rate: ") + e.what());
    }
    m_block.resize(2 * kBlockFrames);
}

void Decoder::seek(std::int64_t fileFrame) {
    fileFrame = std::max<std::int64_t>(0, fileFrame);
    // Past the end (an estimated MP3 length, a position at the very end): nothing left to play.
    m_fileEnded = !m_reader->seek(fileFrame);
    m_filePosition = fileFrame;
    m_failure.clear();
    if (m_resampler)
        m_resampler->clear();
}

std::size_t Decoder::readFile(float* stereoOut, std::size_t maxFrames) {
    std::size_t got = 0;
    if (m_info.fileChannels == 2) {
        got = m_reader->read(stereoOut, maxFrames); // already as the engine wants it
    } else {
        got = m_reader->read(m_raw.data(), std::min(maxFrames, kBlockFrames));
        const auto channels = static_cast<std::size_t>(m_info.fileChannels);
        for (std::size_t i = 0; i < got; ++i) {
            const float left = m_raw[i * channels];
            stereoOut[2 * i] = left;
            stereoOut[2 * i + 1] = channels > 1 ? m_raw[i * channels + 1] : left;
        }
    }
    m_filePosition += static_cast<std::int64_t>(got);
    if (got == 0) {
        m_fileEnded = true;
        if (m_reader->error())
            m_failure = "read error";
        else if (m_info.exactLength && m_filePosition < m_info.frames)
            m_failure = "the file ended early";
    }
    return got;
}

std::size_t Decoder::read(float* stereoOut, std::size_t maxFrames) {
    std::size_t written = 0;
    while (written < maxFrames && m_failure.empty()) {
        float* out = stereoOut + 2 * written;
        const std::size_t wanted = maxFrames - written;
        if (!m_resampler) {
            const std::size_t got = m_fileEnded ? 0 : readFile(out, wanted);
            if (got == 0)
                break;
            written += got;
            continue;
        }
        const std::size_t done = m_resampler->read(out, wanted);
        written += done;
        if (done > 0)
            continue;
        if (m_fileEnded)
            break; // the resampler has given its last frames
        const std::size_t room = m_resampler->room();
        if (room == 0)
            break;
        const std::size_t got = readFile(m_block.data(), std::min(room, kBlockFrames));
        if (got > 0)
            m_resampler->write(m_block.data(), got);
        else
            m_resampler->endInput();
    }
    return written;
}
