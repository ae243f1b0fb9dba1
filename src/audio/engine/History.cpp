#include "audio/engine/History.h"

#include <algorithm>

namespace engine {

History::History(const std::vector<std::unique_ptr<Deck>>& decks, RateGroups& groups, int sampleRate,
                 int framesPerBuffer)
    : m_decks(decks), m_groups(groups), m_framesPerBuffer(static_cast<std::uint64_t>(framesPerBuffer)),
      m_rewindLimit(static_cast<std::uint64_t>(kMostRewindSeconds * sampleRate)),
      m_count(snapshotsFor(m_rewindLimit, m_framesPerBuffer)), m_snapshots(m_count) {
    m_groups.reserveSnapshots(m_count);
}

// Each snapshot kept costs a rate group's saved filter too (room for its window): two seconds'
// worth, not a fixed 1024, which at 44.1 kHz and 256-frame blocks would hold almost six.
std::uint64_t History::snapshotsFor(std::uint64_t rewindLimit, std::uint64_t framesPerBuffer) {
    const std::uint64_t within = (rewindLimit + framesPerBuffer - 1) / framesPerBuffer;
    return std::min(kMostSnapshots, within + 2);
}

void History::outputSwitched() noexcept {
    m_switchFrame.store(m_frame, std::memory_order_relaxed);
    m_latencyFrames.store(m_rewindLimit, std::memory_order_relaxed);
}

std::uint64_t History::heardNow(const Deck& d) const noexcept {
    // A group's filter holds back the last few frames it was given: not heard yet.
    std::uint64_t played = d.cb.consumed;
    if (d.cb.group >= 0) {
        const std::uint64_t ahead = m_groups.heldBack(d.cb.group);
        played = played > ahead ? played - ahead : 0;
    }
    return pack(d.cb.gen, played);
}

void History::take() noexcept {
    if (m_end != m_begin && m_frame - at(m_end - 1).frame < m_framesPerBuffer)
        return; // one a block of the engine's at most, however the output cuts its requests
    if (m_end - m_begin == m_count)
        ++m_begin; // the oldest gives way
    const auto slot = static_cast<std::size_t>(m_end % m_count);
    Snapshot& s = m_snapshots[slot];
    s.frame = m_frame;
    // A deck that never took up a file, and a group never made, are as every slot starts: not
    // copied (this runs every few milliseconds, each time into memory not touched for seconds).
    for (std::size_t k = 0; k < kMaxDecks; ++k) {
        const Deck& d = *m_decks[k];
        if (d.markers.readIndex() != 0)
            s.decks[k] = {d.cb, d.ring.readIndex(), d.markers.readIndex(), heardNow(d)};
    }
    m_groups.save(s.groups, slot);
    ++m_end;
    // What lies further back than any output keeps queued goes back to the worker to fill again.
    while (m_end - m_begin > 1 && at(m_begin + 1).frame + m_rewindLimit <= m_frame)
        ++m_begin;
    // A deck that skipped to a new position since the oldest snapshot needs nothing from before
    // the skip (see rewind()).
    const Snapshot& oldest = at(m_begin);
    for (std::size_t k = 0; k < kMaxDecks; ++k) {
        Deck& d = *m_decks[k];
        if (d.skip.snapshot > m_begin)
            continue; // handed back up to the skip when it was made
        d.ring.release(oldest.decks[k].ringCursor);
        d.markers.release(oldest.decks[k].markerCursor);
    }
}

void History::advance(std::size_t frames) noexcept {
    m_frame += frames;
    publishHeard();
}

void History::publishHeard() noexcept {
    // A new output holds nothing yet: what is heard is what the previous one made, up to the switch.
    const std::uint64_t latency = std::min(m_latencyFrames.load(std::memory_order_relaxed),
                                           m_frame - m_switchFrame.load(std::memory_order_relaxed));
    if (latency == 0) {
        for (const auto& d : m_decks) {
            d->heard.store(heardNow(*d), std::memory_order_release);
            d->endedGen.store(d->cb.endedGen, std::memory_order_release);
        }
        return;
    }
    // What the listener hears now is what the callback made latency frames ago: the state of the
    // last snapshot before that.
    if (m_frame < latency)
        return;
    const std::uint64_t heardFrame = m_frame - latency;
    if (m_end == m_begin)
        return;
    // The snapshot heard moves on a block at a time: the walk starts from the one found last, and
    // goes back only after a rewind or when the latency grew. Walking back from the newest every
    // block read the whole queue's snapshots, a cache line or more each.
    std::uint64_t i = std::clamp(m_heardSnapshot, m_begin, m_end - 1);
    auto slot = static_cast<std::size_t>(i % m_count);
    while (m_snapshots[slot].frame > heardFrame) {
        if (i == m_begin)
            return; // not heard yet, whatever is kept
        --i;
        slot = slot == 0 ? static_cast<std::size_t>(m_count) - 1 : slot - 1;
    }
    while (i + 1 < m_end) {
        const std::size_t next = slot + 1 == m_count ? 0 : slot + 1;
        if (m_snapshots[next].frame > heardFrame)
            break;
        ++i;
        slot = next;
    }
    m_heardSnapshot = i;
    const Snapshot& s = m_snapshots[slot];
    for (std::size_t k = 0; k < kMaxDecks; ++k) {
        m_decks[k]->heard.store(s.decks[k].heard, std::memory_order_release);
        m_decks[k]->endedGen.store(s.decks[k].cb.endedGen, std::memory_order_release);
    }
}

bool History::heardBeforeASkip(std::uint64_t index) noexcept {
    for (std::size_t k = 0; k < kMaxDecks; ++k)
        if (index < m_decks[k]->skip.snapshot && at(index).decks[k].cb.fades.transport != 0)
            return true;
    return false;
}

std::size_t History::rewind(std::size_t frames) noexcept {
    // The earliest snapshot no further back than asked.
    const std::uint64_t target = m_frame - std::min<std::uint64_t>(frames, m_frame);
    std::uint64_t i = m_end;
    while (i > m_begin && at(i - 1).frame >= target)
        --i;
    // Not to where a deck was still heard before it skipped to a new position: its fade-out would
    // be cut (what it was fading out from was handed back); a little later instead.
    while (i < m_end && heardBeforeASkip(i))
        ++i;
    if (i == m_end)
        return 0;
    const auto slot = static_cast<std::size_t>(i % m_count);
    const Snapshot& s = m_snapshots[slot];
    for (std::size_t k = 0; k < kMaxDecks; ++k) {
        Deck& d = *m_decks[k];
        if (i < d.skip.snapshot) {
            // Back to before the deck skipped to its new position: the skip is kept (at that
            // moment the deck was fading out to make it, or silent), and its new position plays
            // from here. What it read ahead before the skip was handed back.
            d.cb = d.skip.cb;
            d.ring.rewindTo(d.skip.ringCursor);
            d.markers.rewindTo(d.skip.markerCursor);
            d.skip.snapshot = i + 1; // the snapshot gone back to still holds the deck before it
            continue;
        }
        d.cb = s.decks[k].cb;
        d.ring.rewindTo(s.decks[k].ringCursor);
        d.markers.rewindTo(s.decks[k].markerCursor);
    }
    m_groups.restore(s.groups, slot);
    const auto back = static_cast<std::size_t>(m_frame - s.frame);
    m_frame = s.frame;
    m_end = i + 1;
    return back;
}

} // namespace engine
