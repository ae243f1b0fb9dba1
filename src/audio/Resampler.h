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
// Frames go in through inputSpace()/commitInput() (so a decoder writes straight into the filter's
// history) and come out through read(). Output frame k is the input at time k * inRate / outRate:
// no delay, and N input frames give exactly ceil(N * outRate / inRate) output frames.
// Not thread-safe: a Resampler belongs to one thread (the engine's worker).
#include <cstddef>
#include <memory>

class Resampler {
public:
    // How the polyphase filter does its arithmetic: with the widest vectors this processor has, or
    // the plain way every processor can (the reference the fast way is tested against).
    enum class Arithmetic { Fastest, Portable };

    // The resampler for this pair of rates (different, both positive). Throws std::runtime_error
    // when libsoxr refuses the ratio.
    static std::unique_ptr<Resampler> create(int inRate, int outRate, Arithmetic arithmetic = Arithmetic::Fastest);
    virtual ~Resampler() = default;

    // Where the next input frames go and how many fit; 0 frames when read() must take output first.
    virtual float* inputSpace(std::size_t& frames) = 0;
    virtual void commitInput(std::size_t frames) = 0;
    // No more input: read() then gives the last frames the filter holds, and 0 when all are out.
    virtual void endInput() = 0;
    // Up to maxFrames output frames; 0 when it needs more input (or, after endInput(), is done).
    virtual std::size_t read(float* out, std::size_t maxFrames) = 0;
    // Forgets every frame: the next input is the start of a new stream (a seek).
    virtual void clear() = 0;
    // Filter length in input frames (the polyphase filter's taps per phase; 0 for libsoxr).
    virtual int tapsPerPhase() const { return 0; }
};
