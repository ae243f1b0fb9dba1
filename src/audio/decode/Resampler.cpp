#include "audio/decode/Resampler.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <stdexcept>
#include <string>
#include <vector>

#include <soxr.h>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

// The dot products of one output frame: both channels against one phase's taps. The input is
// planar (left and right apart) so the coefficients, loaded once, serve both channels.
struct PolyphaseResampler::Kernel {
    const float* left;
    const float* right;
    const float* coefs; // phases x taps
    std::size_t taps;   // a multiple of 8
};

namespace {

constexpr double kAudibleLimit = 20000.0;   // Hz: what is not the signal may land above this, never below
constexpr double kLeakageCeiling = 24000.0; // and not above this, the top of 48 kHz material
constexpr double kPassbandShare = 0.91;     // of the lower Nyquist frequency, when that is under 20 kHz
constexpr double kRejectionDb = 120.0;      // everything that is not the signal, below 20 kHz
constexpr int kMaxPhases = 2048;
constexpr std::size_t kMaxTableFloats = std::size_t{1} << 20; // 4 MiB of coefficients
constexpr std::size_t kInputFrames = 4096;                    // most frames one write() takes, unless told

// The zeroth-order modified Bessel function of the first kind, for the Kaiser window.
double besselI0(double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 64; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
        if (term < sum * 1e-17)
            break;
    }
    return sum;
}

// The filter's edges for a pair of rates, in Hz. Between passband and stopband the filter lets
// through part of what is not the signal (images going up, aliases going down); the stopband
// begins where that would land outside 20 to 24 kHz, inaudible, where 48 kHz material carries its
// own top. What lands there from frequency f going to outRate sits at outRate - f once folded.
struct Edges {
    double pass;
    double stop;
};
Edges edgesFor(double inRate, double outRate) {
    const double nyquist = std::min(inRate, outRate) / 2.0;
    if (nyquist < kAudibleLimit)
        return {kPassbandShare * nyquist, nyquist};
    if (outRate > 2.0 * kLeakageCeiling) // nothing folds below the ceiling: stop at it
        return {kAudibleLimit, std::max(nyquist, kLeakageCeiling)};
    return {kAudibleLimit, std::max(nyquist, outRate - kAudibleLimit)};
}

using Kernel = PolyphaseResampler::Kernel;
using ConvolveFn = PolyphaseResampler::Convolve;

// Four floats as one value: SSE on x86-64, NEON on ARM, plain code elsewhere.
using Float4 = float __attribute__((vector_size(16)));

Float4 load4(const float* p) {
    Float4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void convolvePortable(const Kernel& kernel, std::size_t base, int phase, int phases, int stepWhole,
                      int stepPart, float* out, std::size_t count) {
    for (std::size_t k = 0; k < count; ++k) {
        const float* l = kernel.left + base;
        const float* r = kernel.right + base;
        const float* c = kernel.coefs + static_cast<std::size_t>(phase) * kernel.taps;
        Float4 sumL{}, sumR{}, sumL2{}, sumR2{};
        for (std::size_t j = 0; j < kernel.taps; j += 8) {
            const Float4 c0 = load4(c + j), c1 = load4(c + j + 4);
            sumL += load4(l + j) * c0;
            sumR += load4(r + j) * c0;
            sumL2 += load4(l + j + 4) * c1;
            sumR2 += load4(r + j + 4) * c1;
        }
        sumL += sumL2;
        sumR += sumR2;
        out[2 * k] = (sumL[0] + sumL[1]) + (sumL[2] + sumL[3]);
        out[2 * k + 1] = (sumR[0] + sumR[1]) + (sumR[2] + sumR[3]);
        base += static_cast<std::size_t>(stepWhole);
        phase += stepPart;
        if (phase >= phases) {
            phase -= phases;
            ++base;
        }
    }
}

#if defined(__x86_64__)
// The same with eight lanes and fused multiply-adds, for processors that have them (nearly all
// since 2013); chosen when the program runs.
__attribute__((target("avx2,fma"))) void convolveAvx2(const Kernel& kernel, std::size_t base, int phase,
                                                      int phases, int stepWhole, int stepPart, float* out,
                                                      std::size_t count) {
    for (std::size_t k = 0; k < count; ++k) {
        const float* l = kernel.left + base;
        const float* r = kernel.right + base;
        const float* c = kernel.coefs + static_cast<std::size_t>(phase) * kernel.taps;
        __m256 sumL = _mm256_setzero_ps(), sumR = _mm256_setzero_ps();
        __m256 sumL2 = _mm256_setzero_ps(), sumR2 = _mm256_setzero_ps();
        std::size_t j = 0;
        for (; j + 16 <= kernel.taps; j += 16) {
            const __m256 c0 = _mm256_loadu_ps(c + j), c1 = _mm256_loadu_ps(c + j + 8);
            sumL = _mm256_fmadd_ps(_mm256_loadu_ps(l + j), c0, sumL);
            sumR = _mm256_fmadd_ps(_mm256_loadu_ps(r + j), c0, sumR);
            sumL2 = _mm256_fmadd_ps(_mm256_loadu_ps(l + j + 8), c1, sumL2);
            sumR2 = _mm256_fmadd_ps(_mm256_loadu_ps(r + j + 8), c1, sumR2);
        }
        if (j < kernel.taps) {
            const __m256 c0 = _mm256_loadu_ps(c + j);
            sumL = _mm256_fmadd_ps(_mm256_loadu_ps(l + j), c0, sumL);
            sumR = _mm256_fmadd_ps(_mm256_loadu_ps(r + j), c0, sumR);
        }
        // Eight lanes to four for each channel, then [l0+l1, l2+l3, r0+r1, r2+r3] -> [L, R, L, R].
        const __m256 left = _mm256_add_ps(sumL, sumL2), right = _mm256_add_ps(sumR, sumR2);
        const __m128 left4 = _mm_add_ps(_mm256_castps256_ps128(left), _mm256_extractf128_ps(left, 1));
        const __m128 right4 = _mm_add_ps(_mm256_castps256_ps128(right), _mm256_extractf128_ps(right, 1));
        __m128 both = _mm_hadd_ps(left4, right4);
        both = _mm_hadd_ps(both, both);
        _mm_storel_pi(reinterpret_cast<__m64*>(out + 2 * k), both);
        base += static_cast<std::size_t>(stepWhole);
        phase += stepPart;
        if (phase >= phases) {
            phase -= phases;
            ++base;
        }
    }
}
#endif

ConvolveFn convolveFor(Resampler::Arithmetic arithmetic) {
#if defined(__x86_64__)
    if (arithmetic == Resampler::Arithmetic::Fastest && __builtin_cpu_supports("avx2") &&
        __builtin_cpu_supports("fma"))
        return &convolveAvx2;
#endif
    return &convolvePortable;
}

// For ratios whose table would be too large: libsoxr, high quality, one thread.
class SoxrResampler final : public Resampler {
public:
    SoxrResampler(int inRate, int outRate) : m_input(2 * kInputFrames) {
        soxr_error_t err = nullptr;
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        // One thread: the worker feeds every deck in turn, and soxr's own thread pool would only
        // compete with it (and with the audio callback) for the cores.
        const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
        m_soxr = soxr_create(inRate, outRate, 2, &err, &io, &quality, &runtime);
        if (err != nullptr || m_soxr == nullptr) {
            soxr_delete(m_soxr);
            throw std::runtime_error(err != nullptr ? err : "libsoxr refused the ratio");
        }
    }
    ~SoxrResampler() override { soxr_delete(m_soxr); }
    SoxrResampler(const SoxrResampler&) = delete;
    SoxrResampler& operator=(const SoxrResampler&) = delete;

    std::size_t room() override { return m_pending == 0 && !m_ended ? kInputFrames : 0; }
    void write(const float* stereo, std::size_t frames) override {
        std::copy_n(stereo, 2 * frames, m_input.begin());
        m_pending = frames;
        m_offset = 0;
    }
    void endInput() override { m_ended = true; }

    std::size_t read(float* out, std::size_t maxFrames) override {
        std::size_t done = 0;
        while (done == 0 && m_pending > 0) {
            std::size_t used = 0;
            soxr_process(m_soxr, &m_input[2 * m_offset], m_pending, &used, out, maxFrames, &done);
            m_pending -= used;
            m_offset += used;
            if (used == 0 && done == 0)
                break;
        }
        if (done == 0 && m_pending == 0 && m_ended) // what soxr still holds
            soxr_process(m_soxr, nullptr, 0, nullptr, out, maxFrames, &done);
        return done;
    }

    void clear() override {
        soxr_clear(m_soxr);
        m_pending = m_offset = 0;
        m_ended = false;
    }

private:
    soxr_t m_soxr = nullptr;
    std::vector<float> m_input;
    std::size_t m_pending = 0; // frames of m_input not yet taken by soxr
    std::size_t m_offset = 0;
    bool m_ended = false;
};

} // namespace

std::unique_ptr<PolyphaseResampler>
PolyphaseResampler::create(int inRate, int outRate, std::size_t chunkFrames, Arithmetic arithmetic) {
    const int common = std::gcd(inRate, outRate);
    const int phases = outRate / common;
    const int step = inRate / common;
    if (phases > kMaxPhases)
        return nullptr;

    // Kaiser's estimates: the window's shape for the rejection, its length for the transition.
    const Edges edges = edgesFor(inRate, outRate);
    const double transition = (edges.stop - edges.pass) / inRate; // in cycles per input frame
    const double beta = 0.1102 * (kRejectionDb - 8.7);
    const double length = (kRejectionDb - 7.95) / (14.36 * transition);
    const int taps = std::max(8, static_cast<int>(std::ceil(length / 8.0)) * 8);
    if (static_cast<std::size_t>(phases) * static_cast<std::size_t>(taps) > kMaxTableFloats)
        return nullptr;

    const double cutoff = (edges.pass + edges.stop) / 2.0 / inRate; // cycles per input frame
    const double half = taps / 2.0;
    const double windowScale = 1.0 / besselI0(beta);
    std::vector<float> coefs(static_cast<std::size_t>(phases) * static_cast<std::size_t>(taps));
    std::vector<double> phase(static_cast<std::size_t>(taps));
    for (int p = 0; p < phases; ++p) {
        double sum = 0.0;
        for (int j = 0; j < taps; ++j) {
            // Distance from the output frame's time to this tap's input frame, in input frames.
            const double d = static_cast<double>(p) / phases + half - 1.0 - j;
            const double x = 2.0 * cutoff * d;
            const double sinc = x == 0.0 ? 1.0 : std::sin(M_PI * x) / (M_PI * x);
            const double r = d / half;
            const double window = r * r < 1.0 ? besselI0(beta * std::sqrt(1.0 - r * r)) * windowScale : 0.0;
            phase[static_cast<std::size_t>(j)] = 2.0 * cutoff * sinc * window;
            sum += phase[static_cast<std::size_t>(j)];
        }
        // Each phase passes a constant exactly as it is.
        for (int j = 0; j < taps; ++j) {
            const auto value = static_cast<float>(phase[static_cast<std::size_t>(j)] / sum);
            coefs[static_cast<std::size_t>(p) * static_cast<std::size_t>(taps) +
                  static_cast<std::size_t>(j)] = value;
        }
    }
    return std::make_unique<PolyphaseResampler>(phases, step, taps, std::move(coefs), convolveFor(arithmetic),
                                                chunkFrames);
}

PolyphaseResampler::PolyphaseResampler(int phases, int step, int taps, std::vector<float> coefs,
                                       Convolve convolve, std::size_t chunkFrames)
    : m_phases(phases), m_stepWhole(step / phases), m_stepPart(step % phases), m_step(step),
      m_taps(static_cast<std::size_t>(taps)), m_coefs(std::move(coefs)), m_convolve(convolve),
      m_chunk(chunkFrames + m_taps), m_left(m_chunk + 2 * m_taps), m_right(m_chunk + 2 * m_taps) {
    clear();
}

std::size_t PolyphaseResampler::room() {
    const std::size_t capacity = m_left.size() - m_taps; // room kept for the zeros after the end
    if (m_end + m_chunk > capacity)
        compact();
    return m_ended ? 0 : std::min(m_chunk, capacity - m_end);
}

void PolyphaseResampler::write(const float* stereo, std::size_t frames) {
    if (m_end + frames > m_left.size() - m_taps)
        compact();
    float* left = m_left.data() + m_end;
    float* right = m_right.data() + m_end;
    for (std::size_t i = 0; i < frames; ++i) {
        left[i] = stereo[2 * i];
        right[i] = stereo[2 * i + 1];
    }
    m_end += frames;
    m_inputTotal += frames;
}

void PolyphaseResampler::endInput() {
    if (m_ended)
        return;
    m_ended = true;
    // The last output frame lies before the last input frame's end.
    m_outputLimit =
        (m_inputTotal * static_cast<std::uint64_t>(m_phases) + static_cast<std::uint64_t>(m_step) - 1) /
        static_cast<std::uint64_t>(m_step);
    // Silence after the end, for the filter's second half.
    std::fill_n(m_left.begin() + static_cast<std::ptrdiff_t>(m_end), m_taps / 2, 0.0f);
    std::fill_n(m_right.begin() + static_cast<std::ptrdiff_t>(m_end), m_taps / 2, 0.0f);
    m_end += m_taps / 2;
}

std::size_t PolyphaseResampler::read(float* out, std::size_t maxFrames) {
    std::size_t frames = maxFrames;
    if (m_ended)
        frames = static_cast<std::size_t>(std::min<std::uint64_t>(frames, m_outputLimit - m_outputTotal));
    if (frames == 0 || m_base + m_taps > m_end)
        return 0;
    // Every output frame whose window the input in hand covers, up to the limit.
    const std::size_t covered = ((m_end - m_taps - m_base + 1) * static_cast<std::size_t>(m_phases) -
                                 static_cast<std::size_t>(m_phase) + static_cast<std::size_t>(m_step) - 1) /
                                static_cast<std::size_t>(m_step);
    const std::size_t run = std::min(frames, covered);
    const Kernel kernel{m_left.data(), m_right.data(), m_coefs.data(), m_taps};
    m_convolve(kernel, m_base, m_phase, m_phases, m_stepWhole, m_stepPart, out, run);
    // The same steps the kernel took, at once.
    const std::uint64_t advance =
        static_cast<std::uint64_t>(m_phase) + run * static_cast<std::uint64_t>(m_step);
    m_base += static_cast<std::size_t>(advance / static_cast<std::uint64_t>(m_phases));
    m_phase = static_cast<int>(advance % static_cast<std::uint64_t>(m_phases));
    m_outputTotal += run;
    return run;
}

void PolyphaseResampler::clear() {
    // Silence before the start, for the first frame's first half.
    m_end = m_taps / 2 - 1;
    std::fill_n(m_left.begin(), m_end, 0.0f);
    std::fill_n(m_right.begin(), m_end, 0.0f);
    m_base = 0;
    m_phase = 0;
    m_inputTotal = m_outputTotal = m_outputLimit = 0;
    m_ended = false;
}

std::size_t PolyphaseResampler::inputFor(std::size_t outFrames) const {
    if (outFrames == 0)
        return 0;
    // The last of them needs its whole window.
    const std::uint64_t advance =
        static_cast<std::uint64_t>(m_phase) + (outFrames - 1) * static_cast<std::uint64_t>(m_step);
    const std::size_t windowEnd =
        m_base + static_cast<std::size_t>(advance / static_cast<std::uint64_t>(m_phases)) + m_taps;
    return windowEnd > m_end ? windowEnd - m_end : 0;
}

double PolyphaseResampler::inputAhead() const {
    const double nextOutputTime =
        static_cast<double>(m_outputTotal) * static_cast<double>(m_step) / static_cast<double>(m_phases);
    return static_cast<double>(m_inputTotal) - nextOutputTime;
}

PolyphaseResampler::State PolyphaseResampler::makeState() const {
    State state;
    state.left.resize(m_taps);
    state.right.resize(m_taps);
    return state;
}

void PolyphaseResampler::save(State& state) const {
    assert(m_end - m_base <= state.left.size());
    state.held = std::min(m_end - m_base, state.left.size());
    std::copy_n(m_left.begin() + static_cast<std::ptrdiff_t>(m_base), state.held, state.left.begin());
    std::copy_n(m_right.begin() + static_cast<std::ptrdiff_t>(m_base), state.held, state.right.begin());
    state.phase = m_phase;
    state.inputTotal = m_inputTotal;
    state.outputTotal = m_outputTotal;
    state.outputLimit = m_outputLimit;
    state.ended = m_ended;
}

// As it was saved, compacted: the same frames from the window's start on, so what comes out next
// is the same to the bit.
void PolyphaseResampler::restore(const State& state) {
    std::copy_n(state.left.begin(), state.held, m_left.begin());
    std::copy_n(state.right.begin(), state.held, m_right.begin());
    m_base = 0;
    m_end = state.held;
    m_phase = state.phase;
    m_inputTotal = state.inputTotal;
    m_outputTotal = state.outputTotal;
    m_outputLimit = state.outputLimit;
    m_ended = state.ended;
}

void PolyphaseResampler::compact() {
    const std::size_t kept = m_end - m_base;
    std::memmove(m_left.data(), m_left.data() + m_base, kept * sizeof(float));
    std::memmove(m_right.data(), m_right.data() + m_base, kept * sizeof(float));
    m_end = kept;
    m_base = 0;
}

std::unique_ptr<Resampler> Resampler::create(int inRate, int outRate, Arithmetic arithmetic) {
    if (auto polyphase = PolyphaseResampler::create(inRate, outRate, kInputFrames, arithmetic))
        return polyphase;
    return std::make_unique<SoxrResampler>(inRate, outRate);
}
