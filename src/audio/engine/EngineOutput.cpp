// The engine's ways to make its sound heard: made offline, on the silent clock or on a device (the
// supervisor that keeps an output open), and what the output's latency means for what is heard.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "audio/engine/AudioEngine.h"
#include "audio/engine/History.h"
#include "audio/output/OutputSupervisor.h"
#include "audio/output/ThreadPriority.h"

std::unique_ptr<AudioEngine> AudioEngine::createOffline(int sampleRate, int framesPerBuffer) {
    std::unique_ptr<AudioEngine> engine(new AudioEngine(sampleRate, framesPerBuffer, Output::Offline));
    engine->startWorker();
    return engine;
}

std::unique_ptr<AudioEngine> AudioEngine::createSilentClock(int sampleRate, int framesPerBuffer) {
    std::unique_ptr<AudioEngine> engine(new AudioEngine(sampleRate, framesPerBuffer, Output::SilentClock));
    engine->makeSupervisor({});
    engine->m_supervisor->openSilentClock();
    engine->startWorker();
    return engine;
}

std::unique_ptr<AudioEngine> AudioEngine::createDefault(std::optional<OutputDevice> device) {
    constexpr int kFramesPerBuffer = 256;
    ThreadPriority::lockMemory();
    // A PortAudio device that reaches the sound server (ALSA's "pulse" or "default") goes through
    // ALSA's plugin, whose stream the server would list as the plugin's: the program's name and
    // icon instead, as its own stream has them. Set at start-up, before the engine's threads start;
    // whatever the user set there stays.
    ::setenv("PULSE_PROP_OVERRIDE_application.name", "Fadewell", 0);
    ::setenv("PULSE_PROP_OVERRIDE_application.icon_name", "fadewell", 0);
    std::string error;
    const int rate = outputRate(device ? &*device : nullptr, error);
    std::unique_ptr<AudioEngine> engine(
        new AudioEngine(rate > 0 ? rate : 48000, kFramesPerBuffer, Output::Device));
    engine->makeSupervisor(std::move(device));
    engine->m_supervisor->openDevice(rate > 0 ? std::string() : error.empty() ? "no output device" : error);
    engine->adoptLatency(engine->m_supervisor->latencySeconds());
    engine->startWorker();
    return engine;
}

void AudioEngine::makeSupervisor(std::optional<OutputDevice> device) {
    m_supervisor =
        std::make_unique<OutputSupervisor>(*this, m_sampleRate, m_framesPerBuffer, std::move(device), [this] {
            // No callback runs here. What the new output will make is not heard before what the
            // one before made; its own latency is taken up on the worker's next pass.
            m_history->outputSwitched();
            m_latencyStale.store(true, std::memory_order_relaxed);
        });
}

AudioEngine::Output AudioEngine::output() const {
    if (m_offline)
        return Output::Offline;
    return m_supervisor->onDevice() ? Output::Device : Output::SilentClock;
}

double AudioEngine::outputLatency() const {
    return m_latencySeconds.load();
}

// Start-up or worker thread: what the listener hears is what the callback made this long ago.
void AudioEngine::adoptLatency(double seconds) {
    m_latencySeconds.store(seconds);
    m_history->setLatency(static_cast<std::uint64_t>(std::llround(std::max(0.0, seconds) * m_sampleRate)));
}
