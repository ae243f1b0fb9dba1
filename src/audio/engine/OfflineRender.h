#pragma once
// An offline engine renders only when asked, and the same every time: before any block that some
// deck could lack frames for (a load, a seek, a ring running low), the rendering thread has the
// worker fill every deck's ring, as it would have had time to in real time, and waits for it; so
// nothing rendered depends on how the threads were scheduled.
//
// Threads: needsPass() and awaitPass() on the rendering thread (the one that runs the callback);
// serve() on the engine's worker; stop() on any thread.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "audio/engine/EngineDeck.h"
#include "audio/engine/RateGroups.h"

namespace engine {

class OfflinePasses {
public:
    // Whether some deck could lack frames for the next block of frames: a load or seek the worker
    // has not served, or a ring that holds less than the block needs of a file not at its end.
    static bool needsPass(const std::vector<std::unique_ptr<Deck>>& decks, const RateGroups& groups,
                          std::size_t frames);
    // Asks the worker for a pass and waits until it is done.
    void awaitPass();
    // The worker: runs pass each time one is asked for, until stop().
    void serve(const std::function<void()>& pass);
    void stop();

private:
    std::atomic<bool> m_stop{false};
    std::atomic<std::uint32_t> m_requested{0};
    std::atomic<std::uint32_t> m_done{0};
};

} // namespace engine
