#pragma once
// Interleaved stereo float frames in at a file's rate, out at the engine's.
//
// The usual ratios (44.1 kHz on a 48 kHz device, 48 kHz on 44.1 kHz, 96 kHz, 22.05 kHz, 32 kHz,
// 8 kHz...) are exact fractions with a few hundred phases: a polyphase windowed-sinc filter does them
// with one short dot product per output frame. Its passband is flat (within 0.001 dB) to 20 kHz, or
// to 91 % of the lower Nyquist frequency when that is lower. Whatever it lets through that is not
// the signal is at least 120 dB down, except between 20 and 24 kHz, where nobody hears it and where
// 48 kHz material carries its own top: there the filter may roll off gently, which is what keeps it
// short (48 taps for 44.1 kHz on 48 kHz). Ratios that would need too large a table (a file at
// 44 101 Hz) go through libsoxr at its high quality instead.
//
// Frames go in through room()/write() and come out through read(). Output frame k is the input at
// time k * inRate / outRate: no delay, and N input frames give exactly ceil(N * outRate / inRate)
// output frames. Not thread-safe: a Resampler belongs to one thread at a time.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class Resampler {
public:
    // How the polyphase filter does its arithmetic: with the widest vectors this processor has, or
    // the plain way every processor can (the reference the fast way is tested against).
    enum class Arithmetic { Fastest, Portable };

    // The resampler for this pair of rates (different, both positive): the polyphase filter, or
    // libsoxr for a ratio the filter has no table for. Throws std::runtime_error when libsoxr
    // refuses the ratio.
    static std::unique_ptr<Resampler> create(int inRate, int outRate,
                                             Arithmetic arithmetic = Arithmetic::Fastest);
    virtual ~Resampler() = default;

    // How many input frames write() takes now; 0 when read() must take output first.
    virtual std::size_t room() = 0;
    // Interleaved stereo frames, at most room().
    virtual void write(const float* stereo, std::size_t frames) = 0;
    // No more input: read() then gives the last frames the filter holds, and 0 when all are out.
    virtual void endInput() = 0;
    // Up to maxFrames output frames; 0 when it needs more input (or, after endInput(), is done).
    virtual std::size_t read(float* out, std::size_t maxFrames) = 0;
    // Forgets every frame: the next input is the start of a new stream (a seek).
    virtual void clear() = 0;
    // Filter length in input frames (the polyphase filter's taps per phase; 0 for libsoxr).
    virtual int tapsPerPhase() const { return 0; }
};

// The polyphase filter itself. Once made, nothing it does allocates, locks or does I/O: the audio
// callback resamples with it.
class PolyphaseResampler final : public Resampler {
public:
    struct Kernel;
    using Convolve = void (*)(const Kernel&, std::size_t base, int phase, int phases, int stepWhole,
                              int stepPart, float* out, std::size_t count);

    // Null when the ratio needs too large a table. One write() takes up to maxWrite() frames:
    // chunkFrames, and the filter's length (what the first block after clear() needs more).
    static std::unique_ptr<PolyphaseResampler> create(int inRate, int outRate, std::size_t chunkFrames = 4096,
                                                      Arithmetic arithmetic = Arithmetic::Fastest);

    std::size_t room() override;
    void write(const float* stereo, std::size_t frames) override;
    void endInput() override;
    std::size_t read(float* out, std::size_t maxFrames) override;
    void clear() override;
    int tapsPerPhase() const override { return static_cast<int>(m_taps); }

    std::size_t maxWrite() const { return m_chunk; }

    // Where the filter stands, kept so it can go back there: what save() copies takes no
    // allocation once makeState() has made room for it. Room for one window of input: what the
    // filter holds after a read() of every frame the input written covers (as a rate group's block
    // asks, writing inputFor() frames), and after clear().
    struct State {
        std::vector<float> left, right; // the frames from the next window's start on
        std::size_t held = 0;
        int phase = 0;
        std::uint64_t inputTotal = 0, outputTotal = 0, outputLimit = 0;
        bool ended = false;
    };
    State makeState() const; // allocates
    void save(State& state) const;
    void restore(const State& state);
    // Input frames still to write before read() can give outFrames frames.
    std::size_t inputFor(std::size_t outFrames) const;
    // Input frames written beyond the time of the next output frame: what the filter holds back.
    double inputAhead() const;

    // Made by create(), which designs the filter.
    PolyphaseResampler(int phases, int step, int taps, std::vector<float> coefs, Convolve convolve,
                       std::size_t chunkFrames);

private:
    void compact();

    const int m_phases;    // output frames per `m_step` input frames
    const int m_stepWhole; // input frames advanced per output frame, whole part
    const int m_stepPart;  // and the rest, in phases
    const int m_step;
    const std::size_t m_taps;         // a multiple of 8
    const std::vector<float> m_coefs; // per phase, its taps
    const Convolve m_convolve;
    const std::size_t m_chunk; // most frames one write() takes
    std::vector<float> m_left; // input from the current window's start on, one channel each
    std::vector<float> m_right;
    std::size_t m_base = 0; // first frame of the next output frame's window
    int m_phase = 0;
    std::size_t m_end = 0; // frames in m_left and m_right
    std::uint64_t m_inputTotal = 0;
    std::uint64_t m_outputTotal = 0;
    std::uint64_t m_outputLimit = 0;
    bool m_ended = false;
};
