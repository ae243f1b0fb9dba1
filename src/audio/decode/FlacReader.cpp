#include "audio/decode/FlacReader.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include <FLAC/stream_decoder.h>

namespace {

class FlacReader final : public FileReader {
public:
    // Null when libFLAC cannot open the file or read its header. channels 0: as the header says
    // (info() then tells the rest). ogg: FLAC in an Ogg stream (.oga).
    // numberedFrames: the stream's frames carry frame numbers though its header's minimum and
    // maximum block sizes differ (see framesAreNumbered()); libFLAC is told the block size is fixed.
    static std::unique_ptr<FlacReader> open(const std::string& path, int channels, bool ogg = false,
                                            bool numberedFrames = false) {
        std::unique_ptr<FlacReader> r(new FlacReader(channels));
        r->m_numberedFrames = numberedFrames;
        if (r->m_decoder == nullptr)
            return nullptr;
        FLAC__stream_decoder_set_md5_checking(r->m_decoder, false);
        // Read 64 KiB at a time (the C library's own buffer is 4 KiB: three decks playing made
        // over a hundred reads a second). Once initialised, the decoder closes the file.
        FILE* file = std::fopen(path.c_str(), "rbe");
        if (file == nullptr)
            return nullptr;
        std::setvbuf(file, nullptr, _IOFBF, 64 * 1024);
        const auto init = ogg ? &FLAC__stream_decoder_init_ogg_FILE : &FLAC__stream_decoder_init_FILE;
        if (init(r->m_decoder, file, &FlacReader::onWrite, &FlacReader::onMetadata, &FlacReader::onError,
                 r.get()) != FLAC__STREAM_DECODER_INIT_STATUS_OK) {
            std::fclose(file);
            return nullptr;
        }
        if (!FLAC__stream_decoder_process_until_end_of_metadata(r->m_decoder) || r->m_channels <= 0)
            return nullptr;
        return r;
    }
    // The stream's header (STREAMINFO): rate, channels, frames (0 when the encoder left it unknown).
    const FLAC__StreamMetadata_StreamInfo& info() const { return m_info; }

    // Whether a stream whose header gives different minimum and maximum block sizes numbers its
    // frames (0, 1, 2, ...: a fixed block size, the last block shorter) rather than its samples.
    // libFLAC takes the number in such a stream for a sample number (as some early encoders of
    // variable block sizes wrote it, without the header bit that says so): every frame then sits
    // at the wrong sample and no seek finds its place. Encoders that count the short last block in
    // the header's minimum write such streams. The second frame tells: it starts at sample 1 when
    // its number was a frame number. Reads the first two frames; the reader is spent after it.
    bool framesAreNumbered() {
        if (m_info.min_blocksize == m_info.max_blocksize)
            return false;
        std::vector<float> frames(static_cast<std::size_t>(m_channels));
        if (read(frames.data(), 1) != 1 || m_lastBlockSize <= 1)
            return false;
        // The rest of the first block and the second block's first frame.
        const std::uint32_t firstBlock = m_lastBlockSize;
        frames.resize(static_cast<std::size_t>(m_channels) * firstBlock);
        return read(frames.data(), firstBlock) == firstBlock && m_lastSampleNumber == 1;
    }
    ~FlacReader() override {
        if (m_decoder != nullptr)
            FLAC__stream_decoder_delete(m_decoder); // finishes it, closing the file
    }
    FlacReader(const FlacReader&) = delete;
    FlacReader& operator=(const FlacReader&) = delete;

    std::size_t read(float* out, std::size_t frames) override {
        const auto channels = static_cast<std::size_t>(m_channels);
        std::size_t done = 0;
        while (done < frames && !m_error) {
            if (m_offset == m_available) {
                if (m_ended)
                    break;
                m_offset = m_available = 0;
                if (!FLAC__stream_decoder_process_single(m_decoder))
                    m_error = true;
                const FLAC__StreamDecoderState state = FLAC__stream_decoder_get_state(m_decoder);
                m_ended = state == FLAC__STREAM_DECODER_END_OF_STREAM;
                m_error = m_error || state > FLAC__STREAM_DECODER_END_OF_STREAM;
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
        m_offset = m_available = 0; // the seek itself delivers the frame it lands in
        m_ended = false;
        if (FLAC__stream_decoder_seek_absolute(m_decoder, static_cast<FLAC__uint64>(frame)))
            return true;
        if (FLAC__stream_decoder_get_state(m_decoder) == FLAC__STREAM_DECODER_SEEK_ERROR)
            FLAC__stream_decoder_flush(m_decoder);
        return false;
    }

    bool error() const override { return m_error; }

private:
    explicit FlacReader(int channels) : m_decoder(FLAC__stream_decoder_new()), m_channels(channels) {}

    static FLAC__StreamDecoderWriteStatus onWrite(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                                  const FLAC__int32* const buffer[], void* self) {
        auto* r = static_cast<FlacReader*>(self);
        const FLAC__FrameHeader& h = frame->header;
        if (static_cast<int>(h.channels) != r->m_channels || h.bits_per_sample == 0 || h.bits_per_sample > 32)
            return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT; // not the stream its header announced
        const auto channels = static_cast<std::size_t>(r->m_channels);
        const std::size_t frames = h.blocksize;
        r->m_block.resize(std::max(r->m_block.size(), frames * channels));
        const float scale = 1.0f / static_cast<float>(std::uint64_t{1} << (h.bits_per_sample - 1));
        for (std::size_t c = 0; c < channels; ++c) {
            const FLAC__int32* in = buffer[c];
            float* out = r->m_block.data() + c;
            for (std::size_t i = 0; i < frames; ++i)
                out[i * channels] = static_cast<float>(in[i]) * scale;
        }
        r->m_available = frames;
        r->m_offset = 0;
        r->m_lastBlockSize = h.blocksize;
        r->m_lastSampleNumber =
            h.number_type == FLAC__FRAME_NUMBER_TYPE_SAMPLE_NUMBER ? h.number.sample_number : 0;
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    }
    static void onMetadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* metadata, void* self) {
        auto* r = static_cast<FlacReader*>(self);
        if (metadata->type != FLAC__METADATA_TYPE_STREAMINFO)
            return;
        if (r->m_numberedFrames) {
            // The header libFLAC keeps and reads its frames by (its own, handed to this callback):
            // one block size, so that frame numbers count blocks of it.
            auto& kept = const_cast<FLAC__StreamMetadata*>(metadata)->data.stream_info;
            kept.min_blocksize = kept.max_blocksize;
        }
        r->m_info = metadata->data.stream_info;
        if (r->m_channels == 0)
            r->m_channels = static_cast<int>(r->m_info.channels);
    }
    // Damage inside the stream (lost sync, a bad frame): libFLAC skips it and reads on, as
    // libsndfile does; a file that ends early is caught by its length.
    static void onError(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void*) {}

    FLAC__StreamDecoder* m_decoder;
    int m_channels;
    FLAC__StreamMetadata_StreamInfo m_info{};
    std::vector<float> m_block; // the last frame libFLAC decoded, interleaved
    std::size_t m_available = 0;
    std::size_t m_offset = 0;
    bool m_ended = false;
    bool m_error = false;
    bool m_numberedFrames = false;
    std::uint32_t m_lastBlockSize = 0;
    std::uint64_t m_lastSampleNumber = 0;
};

} // namespace

FlacOpened openFlacReader(const std::string& path, int channels, bool ogg) {
    FlacOpened opened;
    std::unique_ptr<FlacReader> reader = FlacReader::open(path, channels, ogg);
    if (reader && reader->framesAreNumbered())
        reader = FlacReader::open(path, channels, ogg, true);
    if (!reader)
        return opened;
    const FLAC__StreamMetadata_StreamInfo& info = reader->info();
    opened.rate = static_cast<int>(info.sample_rate);
    opened.channels = static_cast<int>(info.channels);
    opened.frames = static_cast<std::int64_t>(info.total_samples);
    opened.maxBlockSize = static_cast<int>(info.max_blocksize);
    opened.reader = std::move(reader);
    return opened;
}
