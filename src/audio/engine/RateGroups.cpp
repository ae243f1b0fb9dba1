#include "audio/engine/RateGroups.h"

#include <algorithm>
#include <cmath>

namespace engine {

RateGroups::RateGroups(int engineRate, int framesPerBuffer)
    : m_engineRate(engineRate), m_framesPerBuffer(framesPerBuffer) {}

int RateGroups::groupFor(int fileRate) {
    for (int i = 0; i < kMaxGroups; ++i) {
        Group& g = m_groups[static_cast<std::size_t>(i)];
        const int rate = g.rate.load(std::memory_order_relaxed); // only this thread writes it
        if (rate == fileRate)
            return i;
        if (rate != 0)
            continue;
        // The most input one block can need: the frames it spans, and one for the rounding.
        const auto chunk = static_cast<std::size_t>(
            std::ceil(static_cast<double>(m_framesPerBuffer) * fileRate / m_engineRate) + 2);
        g.resampler = PolyphaseResampler::create(fileRate, m_engineRate, chunk);
        if (!g.resampler)
            return -1;
        g.mix.assign(2 * g.resampler->maxWrite(), 0.0f);
        g.resampled.assign(2 * static_cast<std::size_t>(m_framesPerBuffer), 0.0f);
        g.saved.reserve(m_slots);
        for (std::size_t k = 0; k < m_slots; ++k)
            g.saved.push_back(g.resampler->makeState());
        g.rate.store(fileRate, std::memory_order_release);
        return i;
    }
    return -1; // every group taken: the worker resamples
}

void RateGroups::beginBlock(std::size_t frames) noexcept {
    for (std::size_t g = 0; g < kMaxGroups; ++g) {
        Group& group = m_groups[g];
        m_fed[g] = false;
        m_ready[g] = group.rate.load(std::memory_order_acquire) != 0;
        if (!m_ready[g])
            continue;
        m_needed[g] = group.resampler->inputFor(frames);
        std::fill_n(group.mix.begin(), 2 * m_needed[g], 0.0f);
    }
}

float* RateGroups::mixFor(int g, std::size_t& frames) noexcept {
    const auto i = static_cast<std::size_t>(g);
    if (!m_ready[i])
        return nullptr;
    frames = m_needed[i];
    return m_groups[i].mix.data();
}

void RateGroups::endBlock(float* out, std::size_t frames) noexcept {
    for (std::size_t g = 0; g < kMaxGroups; ++g) {
        Group& group = m_groups[g];
        if (!m_ready[g] || !(m_fed[g] || group.running))
            continue; // nobody in it, and its last tail is out: it stays cleared
        group.resampler->write(group.mix.data(), m_needed[g]);
        const std::size_t got = group.resampler->read(group.resampled.data(), frames);
        for (std::size_t i = 0; i < 2 * got; ++i)
            out[i] += group.resampled[i];
        if (m_fed[g]) {
            group.running = true;
            group.tailLeft = static_cast<std::size_t>(group.resampler->tapsPerPhase());
        } else {
            group.tailLeft -= std::min(group.tailLeft, m_needed[g]);
            if (group.tailLeft == 0) {
                group.running = false;
                group.resampler->clear();
            }
        }
    }
}

std::uint64_t RateGroups::heldBack(int g) const noexcept {
    return static_cast<std::uint64_t>(
        std::ceil(m_groups[static_cast<std::size_t>(g)].resampler->inputAhead()));
}

std::size_t RateGroups::inputFor(int g, std::size_t frames) const noexcept {
    return m_groups[static_cast<std::size_t>(g)].resampler->inputFor(frames);
}

void RateGroups::save(Saved& at, std::size_t slot) noexcept {
    for (std::size_t g = 0; g < kMaxGroups; ++g) {
        Group& group = m_groups[g];
        if (group.rate.load(std::memory_order_relaxed) == 0)
            continue;
        at[g] = {group.running, group.tailLeft};
        if (group.running)
            group.resampler->save(group.saved[slot]);
    }
}

void RateGroups::restore(const Saved& at, std::size_t slot) noexcept {
    for (std::size_t g = 0; g < kMaxGroups; ++g) {
        Group& group = m_groups[g];
        if (group.rate.load(std::memory_order_acquire) == 0)
            continue;
        group.running = at[g].running;
        group.tailLeft = at[g].tailLeft;
        if (group.running)
            group.resampler->restore(group.saved[slot]);
        else
            group.resampler->clear(); // as it was: a group at rest is cleared
    }
}

} // namespace engine
