#pragma once
// The callback's side of a deck: taking up a seek (or a new file) once the worker has reached it,
// and mixing the deck's frames from its ring, through its fades, into a block.
//
// Threads: the audio callback's (or, offline, the rendering thread's) alone. Nothing here locks,
// allocates, does I/O or logs.
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "audio/engine/EngineDeck.h"
#include "audio/engine/History.h"
#include "audio/engine/RateGroups.h"

namespace engine {

class DeckPlayback {
public:
    DeckPlayback(const RateGroups& groups, const History& history, int sampleRate)
        : m_groups(groups), m_history(history), m_sampleRate(sampleRate) {}

    // Takes up the deck's requested seek or new file, if the worker has reached it: everything
    // before the new position's first frame is dropped. The deck must be silent.
    bool takeSeek(Deck& d, std::uint16_t requestedGen) noexcept;
    // Mixes the deck's frames into out (frames at the deck's rate); true if it added any.
    bool mix(Deck& d, float* out, std::size_t frames) noexcept;

    // Mixes a playing deck had no sound for: heard as dropouts. Any thread may read it.
    std::uint32_t starved() const { return m_starved.load(std::memory_order_relaxed); }

private:
    const RateGroups& m_groups;
    const History& m_history;
    const int m_sampleRate;
    std::atomic<std::uint32_t> m_starved{0};
};

} // namespace engine
