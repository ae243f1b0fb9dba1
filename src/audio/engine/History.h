#pragma once
// What the callback has made and may go back to: at the start of a block, at most one every block
// of the engine's, a snapshot of its state (where each deck stood in its ring, its markers and its
// fades, where each rate group's filter stood), kept for as long as an output keeps sound queued
// (two seconds). An output that must have what it queued made again (a key was pressed) has the
// callback go back to one (rewind()). What the listener hears now is read from the snapshot that
// lies the output's latency back, and published to the decks' positions.
//
// Threads: the audio callback's (or, offline, the rendering thread's), but for setLatency() and
// outputSwitched(): the engine's start-up or worker thread, the latter only while no callback runs.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "audio/engine/DeckTypes.h"
#include "audio/engine/EngineDeck.h"
#include "audio/engine/RateGroups.h"

namespace engine {

class History {
public:
    // How far back the callback can go to make its sound again: the most an output keeps queued.
    // The decks' rings keep this much of what was read, besides their read-ahead.
    static constexpr double kMostRewindSeconds = 2.0;

    History(const std::vector<std::unique_ptr<Deck>>& decks, RateGroups& groups, int sampleRate,
            int framesPerBuffer);

    // The frames the callback has made so far.
    std::uint64_t frame() const noexcept { return m_frame; }
    // The index the next snapshot will have: a deck that skips to a new position now is after
    // every snapshot before it.
    std::uint64_t nextSnapshot() const noexcept { return m_end; }
    // The start of a block: a snapshot, unless the last one is less than a block back. What lies
    // further back than any output keeps queued is handed back to the worker.
    void take() noexcept;
    // The end of a block of frames: the positions heard published.
    void advance(std::size_t frames) noexcept;
    // Goes back up to frames of what the callback made (less where a snapshot lies only later, or
    // when asked further back than two seconds); returns how many it went back.
    std::size_t rewind(std::size_t frames) noexcept;

    // The listener hears what the callback made this many frames ago.
    void setLatency(std::uint64_t frames) { m_latencyFrames.store(frames, std::memory_order_relaxed); }
    // A new output takes over: what it makes is not heard before what the one before made.
    void outputSwitched() noexcept;

private:
    struct Snapshot {
        struct DeckAt {
            CallbackDeck cb;
            std::uint64_t ringCursor = 0;
            std::uint64_t markerCursor = 0;
            std::uint64_t heard = 0; // generation and frames heard of it
        };
        std::uint64_t frame = 0; // output frames made before it
        std::array<DeckAt, kMaxDecks> decks{};
        RateGroups::Saved groups{};
    };

    Snapshot& at(std::uint64_t index) noexcept {
        return m_snapshots[static_cast<std::size_t>(index % m_count)];
    }
    std::uint64_t heardNow(const Deck& d) const noexcept;
    bool heardBeforeASkip(std::uint64_t index) noexcept;
    void publishHeard() noexcept;

    // How many snapshots it keeps: one at most every block of the engine's, and so kMostSnapshots x
    // framesPerBuffer frames back at least, where two seconds would need more.
    static constexpr std::uint64_t kMostSnapshots = 1024;
    // Snapshots are a block apart at least: two seconds hold this many, and one more on each side
    // (the one just beyond the limit, kept until the next is, and the one being taken).
    static std::uint64_t snapshotsFor(std::uint64_t rewindLimit, std::uint64_t framesPerBuffer);

    const std::vector<std::unique_ptr<Deck>>& m_decks;
    RateGroups& m_groups;
    const std::uint64_t m_framesPerBuffer;
    const std::uint64_t m_rewindLimit; // frames back the callback keeps what it may go back to
    const std::uint64_t m_count;       // snapshots in the ring
    std::uint64_t m_frame = 0;
    std::vector<Snapshot> m_snapshots;
    std::uint64_t m_begin = 0; // the snapshots kept: indices [begin, end) of the ring
    std::uint64_t m_end = 0;
    std::uint64_t m_heardSnapshot = 0; // the one publishHeard() found last
    std::atomic<std::uint64_t> m_switchFrame{0}; // m_frame when the output last changed
    std::atomic<std::uint64_t> m_latencyFrames{0};
};

} // namespace engine
