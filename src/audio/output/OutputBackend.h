#pragma once
// Where the engine's callback runs: a stream on the sound server (PulseOutput.h), a client of the
// JACK server (JackOutput.h), a PortAudio output stream (PortAudioOutput.h), or the silent clock
// (SilentClock.h: a thread that runs the callback in real time and throws the sound away);
// OutputDevices.h chooses between them. Here: what every one of them is and uses. Created and
// destroyed on the engine's start-up or worker thread; the callback then runs on the backend's own
// thread.
#include <atomic>
#include <chrono>
#include <cstddef>

// What an output plays: the engine's mix. Its methods run on the output's own thread, under the
// audio callback's rules (no lock, allocation, I/O or logging).
class OutputSource {
public:
    virtual ~OutputSource() = default;
    // The next frames of the mix into out (2 x frames floats).
    virtual void process(float* out, std::size_t frames) noexcept = 0;
    // Goes back up to frames of what process() made, so that it makes them again as they should
    // be now; returns how many it went back (never more than asked; 0 when it cannot).
    virtual std::size_t rewind(std::size_t frames) noexcept = 0;
    // A descriptor that becomes readable when what process() made may no longer be what should be
    // heard (a key changed it); reading it clears it. Any thread; -1 when there is none.
    virtual int changeSignal() const = 0;
    // True while process() makes nothing but silence, and will until changeSignal() becomes
    // readable (no deck playing, nothing fading out): an output may then stop asking for sound.
    virtual bool idle() const noexcept { return false; }
};

class OutputBackend {
public:
    virtual ~OutputBackend() = default;
    // Seconds from the callback to the listener; may grow while the output runs (a buffer made
    // longer after a dropout). Any thread.
    virtual double latencySeconds() const = 0;
    // False once the device has stopped calling back (unplugged, server gone).
    virtual bool alive() = 0;
    // Times the device found nothing to play since the output opened (heard as dropouts). Any
    // thread.
    virtual unsigned long underflows() const { return 0; }
    // True while the sound server plays the stream on another sink than the one it was opened on by
    // name (moved there when that sink went away, or by the operator). Any thread.
    virtual bool movedElsewhere() const { return false; }
};

// Whether a stream's callbacks still come. A sound server can take a second or two to start a new
// stream (its first callbacks only prefill); after that, a stream whose callback stopped coming for
// longer than it can hold lost its device.
class CallbackWatch {
public:
    explicit CallbackWatch(std::chrono::milliseconds patience = std::chrono::seconds(1))
        : m_patience(patience) {}
    // The output's thread, once a callback.
    void counted() noexcept { m_callbacks.fetch_add(1, std::memory_order_relaxed); }
    // The engine's worker.
    bool stalled() {
        const auto now = std::chrono::steady_clock::now();
        const unsigned long count = m_callbacks.load(std::memory_order_relaxed);
        if (count != m_lastCount) {
            m_lastCount = count;
            m_lastProgress = now;
        }
        return now - m_opened >= std::chrono::seconds(5) && now - m_lastProgress >= m_patience;
    }

private:
    const std::chrono::milliseconds m_patience;
    std::atomic<unsigned long> m_callbacks{0};
    unsigned long m_lastCount = 0;
    const std::chrono::steady_clock::time_point m_opened = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point m_lastProgress = m_opened;
};

// The priority of the thread that runs the callback, where real time is allowed: below the sound
// server's own threads, above everything ordinary.
constexpr int kOutputThreadPriority = 20;
