#include "audio/engine/DeckFades.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {
// Four floats as one value (SSE, NEON): the compiler keeps plain loops like these scalar at -O2.
using Float4 = float __attribute__((vector_size(16)));

// out[i] += in[i] * gain, four at a time.
void addScaled(float* __restrict out, const float* __restrict in, std::size_t count, float gain) noexcept {
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        Float4 o, x;
        std::memcpy(&o, out + i, sizeof o);
        std::memcpy(&x, in + i, sizeof x);
        o += x * gain;
        std::memcpy(out + i, &o, sizeof o);
    }
    for (; i < count; ++i)
        out[i] += in[i] * gain;
}

// Stereo frames: out += in * gains[frame], two frames at a time.
void addRamped(float* __restrict out, const float* __restrict in, const float* __restrict gains,
               std::size_t frames) noexcept {
    std::size_t i = 0;
    for (; i + 2 <= frames; i += 2) {
        Float4 o, x;
        std::memcpy(&o, out + 2 * i, sizeof o);
        std::memcpy(&x, in + 2 * i, sizeof x);
        const Float4 g = {gains[i], gains[i], gains[i + 1], gains[i + 1]};
        o += x * g;
        std::memcpy(out + 2 * i, &o, sizeof o);
    }
    for (; i < frames; ++i) {
        out[2 * i] += in[2 * i] * gains[i];
        out[2 * i + 1] += in[2 * i + 1] * gains[i];
    }
}
} // namespace

std::size_t DeckFades::mix(const float* in, float* out, std::size_t frames, int transportTarget,
                           int transportRamp) {
    constexpr std::size_t kStretch = GainRamp::kStretch;
    const float transportScale = 1.0f / static_cast<float>(transportRamp);
    std::size_t k = 0;
    while (k < frames) {
        if (transport == transportTarget && transportTarget != 0 && volume.left() == 0) {
            // Steady playing, the usual case: one gain, straight through.
            addScaled(out + 2 * k, in + 2 * k, 2 * (frames - k), volume.now());
            return frames;
        }
        if (transportTarget == 0 && transport == 0)
            return k; // faded out: the rest is not taken
        // Ramping: the transport fade and the volume ramp move a step a frame until both rest. A
        // stretch of frames before either reaches its end goes at once: first their gains, then
        // one pass over the frames.
        const int direction = transport < transportTarget ? 1 : (transport > transportTarget ? -1 : 0);
        std::size_t n = std::min(frames - k, kStretch);
        if (direction != 0)
            n = std::min(n, static_cast<std::size_t>(std::abs(transportTarget - transport)));
        if (volume.left() > 0)
            n = std::min(n, static_cast<std::size_t>(volume.left()));
        float gains[kStretch];
        if (volume.left() > 0) {
            volume.gains(transport, direction, transportScale, gains, n);
        } else {
            const float gain = volume.now();
            for (std::size_t j = 0; j < kStretch; ++j)
                gains[j] = static_cast<float>(transport + direction * static_cast<int>(j + 1)) *
                           transportScale * gain;
        }
        addRamped(out + 2 * k, in + 2 * k, gains, n);
        transport += direction * static_cast<int>(n);
        if (volume.left() > 0)
            volume.advance(static_cast<int>(n));
        k += n;
    }
    return k;
}
