#include "audio/output/OutputSupervisor.h"

#include <algorithm>
#include <cstdio>

#include "audio/output/SilentClock.h"

namespace {
// How often the output is looked after: a lost device is noticed, and a device that appears is
// opened, within about this (plus the backend's own detection time).
constexpr auto kSupervisePeriod = std::chrono::milliseconds(250);
constexpr auto kLookPeriod = std::chrono::milliseconds(500); // looking for a device that is not there
constexpr double kFirstRetryDelay = 2.0; // seconds, doubling to 30, for a device that will not open
} // namespace

OutputSupervisor::OutputSupervisor(OutputSource& source, int rate, int framesPerBuffer,
                                   std::optional<OutputDevice> device, std::function<void()> switched)
    : m_source(source), m_rate(rate), m_framesPerBuffer(framesPerBuffer), m_device(std::move(device)),
      m_switched(std::move(switched)), m_retryDelay(kFirstRetryDelay) {}

OutputSupervisor::~OutputSupervisor() {
    retire();
}

void OutputSupervisor::openDevice(std::string error) {
    if (error.empty()) {
        if (auto device = openOutput(chosen(), m_source, m_rate, m_framesPerBuffer, error)) {
            replace(std::move(device), true);
            return;
        }
    }
    if (m_device)
        error = "\"" + m_device->name + "\": " + error;
    std::fprintf(stderr, "Fadewell: no audio output device could be opened (%s); playing on a silent clock\n",
                 error.c_str());
    replace(startSilentClock(m_source, m_rate, m_framesPerBuffer), false);
    m_nextRetry = std::chrono::steady_clock::now(); // opened as soon as one appears
}

void OutputSupervisor::openSilentClock() {
    replace(startSilentClock(m_source, m_rate, m_framesPerBuffer), false);
    m_lookForDevice = false;
}

double OutputSupervisor::latencySeconds() const {
    return m_backend ? m_backend->latencySeconds() : 0.0;
}

unsigned long OutputSupervisor::underflows() const {
    return m_underflowsBefore + (m_backend ? m_backend->underflows() : 0);
}

// Stops the output playing now, keeping its count of underflows.
void OutputSupervisor::retire() {
    if (m_backend)
        m_underflowsBefore += m_backend->underflows();
    m_backend.reset();
}

// The output playing now, after the one before (stopped already, or stopped here).
void OutputSupervisor::replace(std::unique_ptr<OutputBackend> next, bool onDevice) {
    retire();
    m_backend = std::move(next);
    m_onDevice.store(onDevice, std::memory_order_release);
}

// Opens device (or the default output) to take over from the output playing now, which stops just
// before the new one's first callback: positions lose no time to the attempt.
std::unique_ptr<OutputBackend> OutputSupervisor::openInPlace(const OutputDevice* device, std::string& error) {
    return openOutput(device, m_source, m_rate, m_framesPerBuffer, error, [this] {
        retire();
        if (m_switched)
            m_switched(); // no callback runs here
    });
}

// After the output playing was stopped (or found gone).
void OutputSupervisor::toSilentClock(std::chrono::steady_clock::time_point now) {
    if (m_switched)
        m_switched(); // before the clock's first callback
    replace(startSilentClock(m_source, m_rate, m_framesPerBuffer), false);
    m_retryDelay = kFirstRetryDelay;
    m_nextRetry = now;
    m_deviceAway = false;
    m_movedByOperator = false;
}

void OutputSupervisor::supervise() {
    const auto now = std::chrono::steady_clock::now();
    if (now < m_nextSupervise)
        return;
    m_nextSupervise = now + kSupervisePeriod;
    if (onDevice()) {
        if (m_backend && m_backend->alive())
            return followChosenSink(now);
        retire();
        std::fprintf(stderr,
                     "Fadewell: the audio output device went away; playing on a silent clock until it is "
                     "back\n");
        return toSilentClock(now);
    }
    if (!m_lookForDevice)
        return;
    // Look for the device every pass (cheap); open it as soon as it is there. A device that is there
    // but will not open is tried again less and less often.
    if (!outputPresent(chosen())) {
        m_retryDelay = kFirstRetryDelay;
        m_nextRetry = now + kLookPeriod;
        return;
    }
    if (now < m_nextRetry)
        return;
    std::string error;
    if (auto device = openInPlace(chosen(), error)) {
        replace(std::move(device), true);
        m_refusal.clear();
        std::fprintf(stderr, "Fadewell: the audio output device is back\n");
        return;
    }
    // Said once for each reason: a device back in another form (a JACK server started at another
    // rate) would otherwise leave the operator without sound and without a word why.
    if (error != m_refusal)
        std::fprintf(stderr,
                     "Fadewell: the audio output device is there but does not open (%s); trying again\n",
                     error.c_str());
    m_refusal = error;
    if (!m_backend) // the stream opened but did not start
        replace(startSilentClock(m_source, m_rate, m_framesPerBuffer), false);
    m_nextRetry = now + std::chrono::milliseconds(static_cast<long>(m_retryDelay * 1000));
    m_retryDelay = std::min(m_retryDelay * 2.0, 30.0);
}

// A chosen sink that goes away does not silence the program: the sound server moves its stream to
// another sink, where it plays on. Once the chosen sink is back, the stream is opened on it again.
// A move made while the chosen sink was there is the operator's (the desktop's sound settings): the
// stream stays where it was put, and the sink is not looked for.
void OutputSupervisor::followChosenSink(std::chrono::steady_clock::time_point now) {
    if (!m_device || !m_backend->movedElsewhere()) {
        if (m_deviceAway) // the server itself moved the stream back to the sink
            std::fprintf(stderr, "Fadewell: the audio output device is back\n");
        m_deviceAway = false;
        m_movedByOperator = false;
        return;
    }
    if (m_movedByOperator)
        return;
    const bool present = outputPresent(chosen());
    if (!m_deviceAway) {
        if (present) {
            m_movedByOperator = true;
            return;
        }
        std::fprintf(stderr, "Fadewell: the audio output device went away; the sound server plays the sound "
                             "on another until it is back\n");
        m_deviceAway = true;
        return;
    }
    if (!present)
        return;
    std::string error;
    if (auto device = openInPlace(chosen(), error)) {
        replace(std::move(device), true);
        m_deviceAway = false;
        std::fprintf(stderr, "Fadewell: the audio output device is back\n");
        return;
    }
    if (m_backend)
        return; // not opened: the stream plays on where the server put it, and the next pass tries again
    // Opened but not started, after the moved stream was stopped: as when a device is lost.
    toSilentClock(now);
}
