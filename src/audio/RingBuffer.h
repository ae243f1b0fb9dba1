#pragma once
// Lock-free single-producer, single-consumer queues between the worker thread (producer) and the
// audio callback (consumer). Storage is allocated once, in the constructor, on the UI thread.
//
// Indices only grow (64 bits do not wrap in practice); the slot is index & mask. The producer
// publishes a write index with release after filling the slots, the consumer reads it with acquire
// before touching them, and the same pairing in the other direction hands slots back.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

// Interleaved stereo float frames.
class StereoRing {
public:
    // capacityFrames is rounded up to a power of two.
    explicit StereoRing(std::size_t capacityFrames) {
        m_capacity = 1;
        while (m_capacity < capacityFrames)
            m_capacity <<= 1;
        m_mask = m_capacity - 1;
        m_data = std::make_unique<float[]>(m_capacity * 2);
    }

    std::size_t capacity() const { return m_capacity; }

    // Producer side (worker thread).
    std::uint64_t writeIndex() const { return m_write.load(std::memory_order_relaxed); }
    std::size_t writable() const {
        return m_capacity - static_cast<std::size_t>(m_write.load(std::memory_order_relaxed) -
                                                     m_read.load(std::memory_order_acquire));
    }
    // The free slots in one piece from the write index (up to the wrap; at most writable()), filled
    // by the producer in place and then published with commit().
    float* writeSpace(std::size_t& frames) {
        const auto slot = static_cast<std::size_t>(m_write.load(std::memory_order_relaxed) & m_mask);
        frames = std::min(writable(), m_capacity - slot);
        return &m_data[2 * slot];
    }
    void commit(std::size_t frames) {
        m_write.store(m_write.load(std::memory_order_relaxed) + frames, std::memory_order_release);
    }

    // Consumer side (audio callback).
    std::uint64_t readIndex() const { return m_read.load(std::memory_order_relaxed); }
    std::size_t readable() const {
        return static_cast<std::size_t>(m_write.load(std::memory_order_acquire) -
                                        m_read.load(std::memory_order_relaxed));
    }
    // Frames readable in one piece from readIndex() + offset, before the storage wraps.
    std::size_t contiguous(std::size_t offset) const {
        return m_capacity -
               static_cast<std::size_t>((m_read.load(std::memory_order_relaxed) + offset) & m_mask);
    }
    // The frame at readIndex() + offset (offset < readable()).
    const float* frame(std::size_t offset) const {
        return &m_data[static_cast<std::size_t>((m_read.load(std::memory_order_relaxed) + offset) & m_mask) *
                       2];
    }
    void consume(std::size_t frames) {
        m_read.store(m_read.load(std::memory_order_relaxed) + frames, std::memory_order_release);
    }
    // Drops everything before index (an index the producer has published, or an earlier one).
    void discardUntil(std::uint64_t index) {
        if (index > m_read.load(std::memory_order_relaxed))
            m_read.store(index, std::memory_order_release);
    }

private:
    std::size_t m_capacity = 0;
    std::size_t m_mask = 0;
    std::unique_ptr<float[]> m_data;
    alignas(64) std::atomic<std::uint64_t> m_write{0};
    alignas(64) std::atomic<std::uint64_t> m_read{0};
};

// A fixed number of trivially copyable items.
template <class T, std::size_t Capacity> class SpscQueue {
    static_assert((Capacity & (Capacity - 1)) == 0, "capacity must be a power of two");

public:
    // Producer.
    bool tryPush(const T& item) {
        const std::uint64_t w = m_write.load(std::memory_order_relaxed);
        if (w - m_read.load(std::memory_order_acquire) == Capacity)
            return false;
        m_items[w & (Capacity - 1)] = item;
        m_write.store(w + 1, std::memory_order_release);
        return true;
    }
    // Consumer.
    const T* front() const {
        const std::uint64_t r = m_read.load(std::memory_order_relaxed);
        if (r == m_write.load(std::memory_order_acquire))
            return nullptr;
        return &m_items[r & (Capacity - 1)];
    }
    void pop() { m_read.store(m_read.load(std::memory_order_relaxed) + 1, std::memory_order_release); }

private:
    T m_items[Capacity]{};
    alignas(64) std::atomic<std::uint64_t> m_write{0};
    alignas(64) std::atomic<std::uint64_t> m_read{0};
};
