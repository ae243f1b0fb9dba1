#pragma once
// Lock-free single-producer, single-consumer queues between the worker thread (producer) and the
// audio callback (consumer). Storage is allocated once, on the UI thread, before either side uses
// it (a ring's frames are not cleared: a page of them becomes resident when it is first written).
//
// Indices only grow (64 bits do not wrap in practice); the slot is the index modulo the capacity. The producer
// publishes a write index with release after filling the slots, the consumer reads it with acquire
// before touching them, and the same pairing in the other direction hands slots back.
//
// The consumer reads at a cursor of its own and hands slots back separately (release()), later:
// what it has read stays in place until then, so it can go back to it (rewindTo()) and read it
// again, as the callback does when the sound it already made must be made again differently.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

// The consumer's index into a queue: where it reads, and how far it has handed slots back to the
// producer, through the index the producer watches.
class ReadCursor {
public:
    explicit ReadCursor(std::atomic<std::uint64_t>& handedBack) : m_handedBack(handedBack) {}
    std::uint64_t at() const { return m_cursor; }
    void advance(std::uint64_t count) { m_cursor += count; }
    void skipTo(std::uint64_t index) { m_cursor = std::max(m_cursor, index); }
    // Back to an index read before and not handed back since.
    void rewindTo(std::uint64_t index) { m_cursor = std::max(index, m_released); }
    // Hands the slots before index (at most at()) back to the producer.
    void release(std::uint64_t index) {
        index = std::min(index, m_cursor);
        if (index > m_released) {
            m_released = index;
            m_handedBack.store(index, std::memory_order_release);
        }
    }

private:
    std::atomic<std::uint64_t>& m_handedBack;
    std::uint64_t m_cursor = 0;
    std::uint64_t m_released = 0; // the consumer's copy of m_handedBack
};

// Interleaved stereo float frames.
class StereoRing {
public:
    // capacityFrames is rounded up to a power of two.
    explicit StereoRing(std::size_t capacityFrames, bool allocateNow = true) : m_wanted(capacityFrames) {
        if (allocateNow)
            allocate();
    }
    // The storage of a ring made without it; before the producer or the consumer first uses the ring.
    // Used whole unless limited (useAtLeast()).
    void allocate(bool whole = true) {
        if (m_data)
            return;
        m_allocated = 1;
        while (m_allocated < m_wanted)
            m_allocated <<= 1;
        m_data.reset(new float[m_allocated * 2]);
        if (whole)
            setCapacity(m_allocated);
    }

    std::size_t capacity() const { return m_capacity.load(std::memory_order_relaxed); }

    // Producer: uses at least the first frames slots of the storage (at most all of it), and only
    // those, so that no other page of it is ever touched. It grows only once everything written has
    // been handed back (where each frame lies changes): false until then.
    bool useAtLeast(std::size_t frames) {
        const std::size_t wanted = std::min(frames, m_allocated);
        if (wanted <= capacity())
            return true;
        if (m_write.load(std::memory_order_relaxed) != m_read.load(std::memory_order_acquire))
            return false;
        setCapacity(wanted); // published to the consumer with the next commit()
        return true;
    }

    // Producer side (worker thread).
    std::uint64_t writeIndex() const { return m_write.load(std::memory_order_relaxed); }
    std::size_t writable() const {
        return capacity() - static_cast<std::size_t>(m_write.load(std::memory_order_relaxed) -
                                                     m_read.load(std::memory_order_acquire));
    }
    // The free slots in one piece from the write index (up to the wrap; at most writable()), filled
    // by the producer in place and then published with commit().
    float* writeSpace(std::size_t& frames) {
        const std::size_t slot = slotOf(m_write.load(std::memory_order_relaxed));
        frames = std::min(writable(), capacity() - slot);
        return &m_data[2 * slot];
    }
    void commit(std::size_t frames) {
        m_write.store(m_write.load(std::memory_order_relaxed) + frames, std::memory_order_release);
    }

    // Consumer side (audio callback).
    std::uint64_t readIndex() const { return m_cursor.at(); }
    std::size_t readable() const {
        return static_cast<std::size_t>(m_write.load(std::memory_order_acquire) - m_cursor.at());
    }
    // Frames readable in one piece from readIndex() + offset, before the storage wraps.
    std::size_t contiguous(std::size_t offset) const {
        return capacity() - slotOf(m_cursor.at() + offset);
    }
    // The frame at readIndex() + offset (offset < readable()).
    const float* frame(std::size_t offset) const {
        return &m_data[slotOf(m_cursor.at() + offset) * 2];
    }
    void consume(std::size_t frames) { m_cursor.advance(frames); }
    // Skips everything before index (an index the producer has published, or an earlier one).
    void discardUntil(std::uint64_t index) { m_cursor.skipTo(index); }
    // Back to an index read before and not released since.
    void rewindTo(std::uint64_t index) { m_cursor.rewindTo(index); }
    // Hands the slots before index (at most readIndex()) back to the producer.
    void release(std::uint64_t index) { m_cursor.release(index); }

private:
    std::size_t slotOf(std::uint64_t index) const { return static_cast<std::size_t>(index % capacity()); }
    void setCapacity(std::size_t frames) { m_capacity.store(frames, std::memory_order_relaxed); }

    std::size_t m_wanted = 0;
    std::size_t m_allocated = 0; // frames of storage
    // Frames in use (0: none yet, nothing is writable). The producer's; the consumer
    // reads it after the write index that made it valid (acquire).
    std::atomic<std::size_t> m_capacity{0};
    std::unique_ptr<float[]> m_data;
    alignas(64) std::atomic<std::uint64_t> m_write{0};
    alignas(64) std::atomic<std::uint64_t> m_read{0}; // released: the producer's to fill again
    ReadCursor m_cursor{m_read};                      // the consumer's
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
    // Consumer: the item at its cursor, taken with pop(), handed back with release().
    const T* front() const {
        if (m_cursor.at() == m_write.load(std::memory_order_acquire))
            return nullptr;
        return &m_items[m_cursor.at() & (Capacity - 1)];
    }
    void pop() { m_cursor.advance(1); }
    std::uint64_t readIndex() const { return m_cursor.at(); }
    void rewindTo(std::uint64_t index) { m_cursor.rewindTo(index); }
    void release(std::uint64_t index) { m_cursor.release(index); }
    // Producer: whether every item pushed has been handed back.
    bool allHandedBack() const {
        return m_write.load(std::memory_order_relaxed) == m_read.load(std::memory_order_acquire);
    }

private:
    T m_items[Capacity]{};
    alignas(64) std::atomic<std::uint64_t> m_write{0};
    alignas(64) std::atomic<std::uint64_t> m_read{0};
    ReadCursor m_cursor{m_read};
};
