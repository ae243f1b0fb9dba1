#include "audio/output/SilentClock.h"

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

class SilentClock final : public OutputBackend {
public:
    SilentClock(OutputSource& source, int rate, int framesPerBuffer)
        : m_buffer(static_cast<std::size_t>(framesPerBuffer) * 2) {
        m_thread = std::thread([this, &source, rate, framesPerBuffer] {
            const auto period = std::chrono::duration<double>(static_cast<double>(framesPerBuffer) / rate);
            auto next = std::chrono::steady_clock::now();
            while (!m_stop.load(std::memory_order_acquire)) {
                source.process(m_buffer.data(), static_cast<std::size_t>(framesPerBuffer));
                next += std::chrono::duration_cast<std::chrono::steady_clock::duration>(period);
                std::this_thread::sleep_until(next);
            }
        });
    }
    ~SilentClock() override {
        m_stop.store(true, std::memory_order_release);
        m_thread.join();
    }
    double latencySeconds() const override { return 0.0; }
    bool alive() override { return true; }

private:
    std::vector<float> m_buffer;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace

std::unique_ptr<OutputBackend> startSilentClock(OutputSource& source, int rate, int framesPerBuffer) {
    return std::make_unique<SilentClock>(source, rate, framesPerBuffer);
}
