#pragma once
// How one deck's frames reach the mix, over plain interleaved stereo buffers: a transport fade (a
// start, halt, stop or seek fades in or out over a few milliseconds) and a volume ramp (a new gain
// reached over a few milliseconds). The engine's callback walks a deck's ring and hands each piece
// of it here. Nothing here allocates, locks or does I/O.
#include <cstddef>

// A gain reached by a straight ramp, a frame at a time; its last frame lands exactly on the target.
class GainRamp {
public:
    float now() const { return m_gain; }
    float target() const { return m_target; }
    int left() const { return m_left; }
    // At g from the next frame on, no ramp.
    void jumpTo(float g) {
        m_gain = m_target = g;
        m_left = 0;
    }
    // From where it is now to g over frames frames.
    void rampTo(float g, int frames) {
        m_target = g;
        m_from = m_gain;
        m_length = frames;
        m_left = frames;
        m_step = (g - m_gain) / static_cast<float>(frames);
    }
    // gains[j] = the transport fade's gain j frames from now (it moves from transport a step of
    // direction a frame, each step worth scale) x the ramp's, for the kStretch frames from now;
    // the caller takes count of them (at most left()), and the one the ramp ends on is its target
    // exactly. Each is worked out from where the ramps began, so that no frame waits for the one
    // before: a loop the compiler vectorises.
    static constexpr std::size_t kStretch = 64;
    void gains(int transport, int direction, float scale, float* gains, std::size_t count) const {
        const int done = m_length - m_left;
        for (std::size_t j = 0; j < kStretch; ++j)
            gains[j] = static_cast<float>(transport + direction * static_cast<int>(j + 1)) * scale *
                       (m_from + m_step * static_cast<float>(done + static_cast<int>(j) + 1));
        if (count == static_cast<std::size_t>(m_left))
            gains[count - 1] =
                static_cast<float>(transport + direction * static_cast<int>(count)) * scale * m_target;
    }
    void advance(int frames) {
        m_left -= frames;
        m_gain = m_left == 0 ? m_target : m_from + m_step * static_cast<float>(m_length - m_left);
    }

private:
    float m_gain = 1.0f;
    float m_target = 1.0f;
    float m_from = 0.0f;
    float m_step = 0.0f;
    int m_length = 1;
    int m_left = 0;
};

// A deck's fades: saved and restored whole with the rest of the callback's state.
struct DeckFades {
    int transport = 0; // 0 silent .. the transport ramp's length: playing
    GainRamp volume;

    // At the start of a block, the gain asked for now: heard from the next frame, through a ramp of
    // volumeRamp frames if the deck is heard; a deck nobody hears starts at it at once.
    void aim(float gain, int volumeRamp) {
        if (transport == 0)
            volume.jumpTo(gain);
        else if (gain != volume.target())
            volume.rampTo(gain, volumeRamp);
    }

    // Adds up to frames frames of in to out, each scaled by its gains, the transport moving a step a
    // frame toward transportTarget (of transportRamp steps). Stops early once a fade-out reaches
    // silence (transportTarget 0): returns the frames it took.
    std::size_t mix(const float* in, float* out, std::size_t frames, int transportTarget, int transportRamp);
};
