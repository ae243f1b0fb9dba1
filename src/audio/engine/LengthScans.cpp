#include "audio/engine/LengthScans.h"

namespace engine {

void LengthScans::start(int deck, std::uint32_t loadSerial, Count count, std::function<void()> done) {
    auto job = std::make_unique<Job>();
    job->deck = deck;
    job->loadSerial = loadSerial;
    Job* raw = job.get();
    job->thread = std::thread([raw, count = std::move(count), done = std::move(done)] {
        raw->frames = count(&raw->cancel);
        raw->done.store(true, std::memory_order_release);
        done();
    });
    m_jobs.push_back(std::move(job));
}

void LengthScans::cancel(int deck) {
    for (auto& job : m_jobs)
        if (job->deck == deck)
            job->cancel.store(true);
}

void LengthScans::stopAll() {
    for (auto& job : m_jobs)
        job->cancel.store(true);
    for (auto& job : m_jobs)
        job->thread.join();
    m_jobs.clear();
}

std::vector<LengthScans::Result> LengthScans::collect(bool all) {
    std::vector<Result> ended;
    for (auto it = m_jobs.begin(); it != m_jobs.end();) {
        Job& job = **it;
        if (!all && !job.done.load(std::memory_order_acquire)) {
            ++it;
            continue;
        }
        job.thread.join();
        ended.push_back({job.deck, job.loadSerial, job.cancel.load() ? -1 : job.frames});
        it = m_jobs.erase(it);
    }
    return ended;
}

} // namespace engine
