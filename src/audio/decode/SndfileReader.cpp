#include "audio/decode/SndfileReader.h"

namespace {

class SndfileReader final : public FileReader {
public:
    explicit SndfileReader(SNDFILE* f) : m_file(f) {}
    ~SndfileReader() override { sf_close(m_file); }
    std::size_t read(float* out, std::size_t frames) override {
        const sf_count_t got = sf_readf_float(m_file, out, static_cast<sf_count_t>(frames));
        return got > 0 ? static_cast<std::size_t>(got) : 0;
    }
    bool seek(std::int64_t frame) override { return sf_seek(m_file, frame, SEEK_SET) >= 0; }
    bool error() const override { return sf_error(m_file) != SF_ERR_NO_ERROR; }

private:
    SNDFILE* m_file;
};

} // namespace

std::unique_ptr<FileReader> makeSndfileReader(SNDFILE* f) {
    return std::make_unique<SndfileReader>(f);
}
