#pragma once
// The decks whose files share a rate other than the engine's are mixed at that rate and resampled
// together, in the callback: three decks of 44.1 kHz files on a 48 kHz device cost one resampler.
// A group is made on the user-interface thread when a file first needs its rate, and kept; its
// rate is published last, with release, so the callback sees a group whole or not at all.
//
// Threads: groupFor() runs on the user-interface thread; everything else on the audio callback's
// thread (or, offline, the rendering thread), but rate(), which any thread may read.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "audio/decode/Resampler.h"
#include "audio/engine/DeckTypes.h"

namespace engine {

class RateGroups {
public:
    RateGroups(int engineRate, int framesPerBuffer);

    // User-interface thread: the group for a file rate, made if need be; -1 when none can be (the
    // ratio is too unusual for the polyphase filter, or every group is taken).
    int groupFor(int fileRate);
    // The rate of group g's frames (0: not made yet). Any thread.
    int rate(int g) const {
        return m_groups[static_cast<std::size_t>(g)].rate.load(std::memory_order_acquire);
    }

    // --- The callback, a block at a time ---
    // Clears every group's mix for a block of frames at the engine's rate.
    void beginBlock(std::size_t frames) noexcept;
    // Where a deck of group g mixes this block, and how many frames at the group's rate (nullptr
    // when the group is not made yet).
    float* mixFor(int g, std::size_t& frames) noexcept;
    // A deck of group g added sound to its mix this block.
    void fed(int g) noexcept { m_fed[static_cast<std::size_t>(g)] = true; }
    // Resamples every group that holds sound (or the tail of it) and adds it to out.
    void endBlock(float* out, std::size_t frames) noexcept;
    // Whether any group still has sound (or the tail of it) to put out.
    bool anyRunning() const noexcept {
        for (const Group& group : m_groups)
            if (group.running)
                return true;
        return false;
    }
    // Input frames of group g that its filter holds back: given, not heard yet.
    std::uint64_t heldBack(int g) const noexcept;
    // Input frames group g needs for frames output frames.
    std::size_t inputFor(int g, std::size_t frames) const noexcept;

    // --- The history: where each group stood at a snapshot (slot), to go back there ---
    struct At {
        bool running = false;
        std::size_t tailLeft = 0;
    };
    using Saved = std::array<At, kMaxGroups>;
    // count: how many snapshots the history keeps. User-interface thread, before any callback.
    void reserveSnapshots(std::size_t count) { m_slots = count; }
    void save(Saved& at, std::size_t slot) noexcept;
    void restore(const Saved& at, std::size_t slot) noexcept;

private:
    struct Group {
        std::atomic<int> rate{0}; // published last, with release; 0: not made yet
        std::unique_ptr<PolyphaseResampler> resampler;
        std::vector<float> mix;                       // the group's decks, one block at their rate
        std::vector<float> resampled;                 // one block at the engine's rate
        std::vector<PolyphaseResampler::State> saved; // the filter at each snapshot (slot for slot)
        // Callback only.
        bool running = false;     // holds frames still to come out (otherwise cleared, and skipped)
        std::size_t tailLeft = 0; // input frames of silence until the last deck's tail is out
    };

    const int m_engineRate;
    const int m_framesPerBuffer;
    std::size_t m_slots = 0;
    std::array<Group, kMaxGroups> m_groups;
    // Callback only: this block's input frames, and which groups are made and were fed.
    std::array<std::size_t, kMaxGroups> m_needed{};
    std::array<bool, kMaxGroups> m_ready{};
    std::array<bool, kMaxGroups> m_fed{};
};

} // namespace engine
