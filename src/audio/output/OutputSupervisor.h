#pragma once
// The engine's output, owned: the chosen device (or the default output) opened at start, the silent
// clock where there is none, a device that goes away noticed (the silent clock takes over, so
// positions go on in real time) and opened again as soon as it is back, a chosen sink that the
// sound server moved away followed back. One output plays at a time: the one taking over starts
// only after the one before has stopped.
//
// Threads: made and started on the user-interface thread, then the engine's worker only, but for
// onDevice() (any thread).
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "audio/output/OutputBackend.h"
#include "audio/output/OutputDevices.h"

class OutputSupervisor {
public:
    // switched runs whenever one output takes over from another, at a moment when neither runs
    // the source's callback.
    OutputSupervisor(OutputSource& source, int rate, int framesPerBuffer, std::optional<OutputDevice> device,
                     std::function<void()> switched);
    ~OutputSupervisor(); // no callback runs after it

    // The device, or (said on stderr, with error when the device's rate could not even be had)
    // the silent clock and a look for the device on every pass.
    void openDevice(std::string error = {});
    // The silent clock alone, never a device.
    void openSilentClock();
    // Looks after the output; does its work at most every quarter of a second.
    void supervise();

    bool onDevice() const { return m_onDevice.load(std::memory_order_acquire); }
    // The output's latency now (0 on the silent clock).
    double latencySeconds() const;
    // Times a device found nothing to play, on every output since start.
    unsigned long underflows() const;

private:
    std::unique_ptr<OutputBackend> openInPlace(const OutputDevice* device, std::string& error);
    void retire();
    void replace(std::unique_ptr<OutputBackend> next, bool onDevice);
    void toSilentClock(std::chrono::steady_clock::time_point now);
    void followChosenSink(std::chrono::steady_clock::time_point now);
    const OutputDevice* chosen() const { return m_device ? &*m_device : nullptr; }

    OutputSource& m_source;
    const int m_rate;
    const int m_framesPerBuffer;
    const std::optional<OutputDevice> m_device; // none: the default output
    const std::function<void()> m_switched;

    std::unique_ptr<OutputBackend> m_backend;
    std::atomic<bool> m_onDevice{false};
    unsigned long m_underflowsBefore = 0; // of the outputs that were replaced
    double m_retryDelay = 0.0;            // seconds before the next attempt at a device that would not open
    std::chrono::steady_clock::time_point m_nextSupervise{};
    std::chrono::steady_clock::time_point m_nextRetry{};
    bool m_lookForDevice = true;
    std::string m_refusal;          // why the device that is there did not open, as last said on stderr
    bool m_deviceAway = false;      // the server moved our stream off the chosen sink because it went
    bool m_movedByOperator = false; // our stream was moved off it while it was there
};
