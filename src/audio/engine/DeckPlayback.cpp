#include "audio/engine/DeckPlayback.h"

#include <algorithm>

namespace engine {

namespace {
constexpr double kVolumeRampSeconds = 0.005;    // a fade tick's step reaches its gain this fast
constexpr double kTransportRampSeconds = 0.003; // start, halt, stop and seek fade in and out
} // namespace

bool DeckPlayback::takeSeek(Deck& d, std::uint16_t requestedGen) noexcept {
    // Silent now: drop everything before the requested position's first frame.
    while (const Marker* m = d.markers.front()) {
        const Marker marker = *m;
        d.markers.pop();
        if (marker.kind != Marker::Seek)
            continue;
        d.ring.discardUntil(marker.index);
        if (marker.gen == requestedGen) {
            d.cb.gen = marker.gen;
            d.cb.consumed = 0;
            d.cb.ended = false;
            d.cb.group = marker.group;
            // Going back to before this moment keeps the skip: nothing before it is read again,
            // and what was read ahead before the new position is the worker's to fill at once.
            d.skip = {m_history.nextSnapshot(), d.cb, d.ring.readIndex(), d.markers.readIndex()};
            d.ring.release(d.ring.readIndex());
            d.markers.release(d.markers.readIndex());
            return true;
        }
    }
    return false; // the worker has not reached it yet
}

bool DeckPlayback::mix(Deck& d, float* out, std::size_t frames) noexcept {
    const std::uint16_t requestedGen = genOf(d.seekRequest.load(std::memory_order_acquire));
    const bool play = d.playing.load(std::memory_order_acquire);
    const float target = d.gain.load(std::memory_order_acquire);
    // The rate of the frames in the ring: the group's, or the engine's.
    const int rate = d.cb.group >= 0 ? m_groups.rate(d.cb.group) : m_sampleRate;
    const int volumeRamp = std::max(1, static_cast<int>(kVolumeRampSeconds * rate));
    const int transportRamp = std::max(1, static_cast<int>(kTransportRampSeconds * rate));
    d.cb.fades.aim(target, volumeRamp);

    bool mixed = false;
    std::size_t i = 0;
    while (i < frames) {
        const bool seekPending = requestedGen != d.cb.gen;
        if (seekPending && d.cb.fades.transport == 0) {
            const int group = d.cb.group;
            if (!takeSeek(d, requestedGen) || d.cb.group != group)
                break; // not there yet; or the new frames go elsewhere, from the next block on
            continue;
        }
        const bool audible = play && !seekPending && !d.cb.ended;
        if (!audible && d.cb.fades.transport == 0)
            break;

        std::size_t available = d.ring.readable();
        const Marker* m = d.markers.front();
        if (m != nullptr)
            available =
                std::min<std::size_t>(available, static_cast<std::size_t>(m->index - d.ring.readIndex()));
        if (available == 0) {
            d.cb.fades.transport = 0; // nothing left to fade out with
            if (m != nullptr && m->kind == Marker::End && m->gen == d.cb.gen) {
                d.markers.pop();
                d.cb.ended = true;
                d.cb.endedGen = d.cb.gen;
                continue;
            }
            if (seekPending)
                continue; // silent now: the seek applies
            if (audible)  // the worker is behind: heard as a dropout
                m_starved.fetch_add(1, std::memory_order_relaxed);
            break; // an underrun, or a seek this block did not see requested yet
        }

        // Through the ring in the pieces it holds in one run, until a fade-out reaches silence: the
        // rest stays in the ring (and a seek waiting for the silence is taken up next).
        const int transportTarget = audible ? transportRamp : 0;
        const std::size_t count = std::min(frames - i, available);
        std::size_t k = 0;
        while (k < count) {
            const std::size_t run = std::min(count - k, d.ring.contiguous(k));
            const std::size_t took =
                d.cb.fades.mix(d.ring.frame(k), out + 2 * (i + k), run, transportTarget, transportRamp);
            k += took;
            if (took < run)
                break;
        }
        d.ring.consume(k);
        d.cb.consumed += k;
        i += k;
        mixed = mixed || k > 0;
    }
    return mixed;
}

} // namespace engine
