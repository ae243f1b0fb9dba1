#include "audio/engine/OfflineRender.h"

namespace engine {

bool OfflinePasses::needsPass(const std::vector<std::unique_ptr<Deck>>& decks, const RateGroups& groups,
                              std::size_t frames) {
    for (const auto& dp : decks) {
        const Deck& d = *dp;
        if (d.loadRequested.load(std::memory_order_acquire) != d.loadServed.load(std::memory_order_acquire) ||
            genOf(d.seekRequest.load(std::memory_order_acquire)) !=
                d.servedGen.load(std::memory_order_acquire))
            return true;
        // Called on the thread that runs the callback: its state can be read here.
        const std::size_t need = d.cb.group < 0 ? frames : groups.inputFor(d.cb.group, frames);
        if (d.feeding.load(std::memory_order_acquire) && d.ring.readable() < need)
            return true;
    }
    return false;
}

void OfflinePasses::awaitPass() {
    const std::uint32_t pass = m_requested.load(std::memory_order_relaxed) + 1;
    m_requested.store(pass, std::memory_order_release);
    m_requested.notify_one();
    for (std::uint32_t seen = m_done.load(std::memory_order_acquire); seen != pass;
         seen = m_done.load(std::memory_order_acquire))
        m_done.wait(seen, std::memory_order_acquire);
}

void OfflinePasses::serve(const std::function<void()>& pass) {
    std::uint32_t served = 0;
    while (!m_stop.load(std::memory_order_acquire)) {
        const std::uint32_t requested = m_requested.load(std::memory_order_acquire);
        if (requested == served) {
            m_requested.wait(served, std::memory_order_acquire);
            continue;
        }
        pass();
        served = requested;
        m_done.store(served, std::memory_order_release);
        m_done.notify_all();
    }
}

void OfflinePasses::stop() {
    m_stop.store(true, std::memory_order_release);
    m_requested.fetch_add(1, std::memory_order_release);
    m_requested.notify_all();
}

} // namespace engine
