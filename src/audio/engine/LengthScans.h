#pragma once
// The exact length of a file whose length is only an estimate until its frames are counted (MP3,
// WMA, ...): counted on a thread of its own per file, so that neither the user-interface thread
// nor the worker waits for it. A scan of a file that was replaced is cancelled and its result
// dropped.
//
// Threads: every method on the user-interface thread; a scan's done() runs on its own thread.
#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <thread>
#include <vector>

namespace engine {

class LengthScans {
public:
    // Counts the frames; stops early, returning -1, once *cancel is true.
    using Count = std::function<std::int64_t(const std::atomic<bool>* cancel)>;

    LengthScans() = default;
    ~LengthScans() { stopAll(); }
    LengthScans(const LengthScans&) = delete;
    LengthScans& operator=(const LengthScans&) = delete;

    // Counts the file now on deck (its load loadSerial); done runs when the count has ended.
    void start(int deck, std::uint32_t loadSerial, Count count, std::function<void()> done);
    // The deck's file is replaced: its scans stop as soon as they can.
    void cancel(int deck);
    // Cancels every scan and waits for it.
    void stopAll();

    struct Result {
        int deck = 0;
        std::uint32_t loadSerial = 0;
        std::int64_t frames = -1; // -1: not counted (cancelled, or the file could not be read)
    };
    // The scans that have ended, each once; with all, every scan, waiting for those still counting.
    std::vector<Result> collect(bool all);

private:
    struct Job {
        int deck = 0;
        std::uint32_t loadSerial = 0;
        std::atomic<bool> cancel{false};
        std::atomic<bool> done{false};
        std::int64_t frames = -1;
        std::thread thread;
    };
    std::list<std::unique_ptr<Job>> m_jobs;
};

} // namespace engine
