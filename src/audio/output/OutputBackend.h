#pragma once
// Where the engine's callback runs: a stream on the sound server, a PortAudio output stream, or the
// silent clock (a thread that runs the callback in real time and throws the sound away). Created and
// destroyed on the engine's start-up or worker thread; the callback then runs on the backend's own thread.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/output/OutputDevices.h"

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

// The default output's sample rate (the sound server's default sink, or PortAudio's default
// device where no server answers), or 0 when there is no usable default output. Says why in error.
int defaultOutputRate(std::string& error);
// Whether the default output can be opened now: ALSA's default device, opened and closed at once.
// Costs about 2 ms when there is none, so the engine can look for a device that comes back twice a
// second without a full PortAudio start (50 to 120 ms, and messages on stderr).
bool defaultOutputPresent();
// Opens and starts PortAudio's default output (or device, when given) at rate; nullptr (and why in
// error) when it cannot. beforeStart, when given, runs once the stream is open, just before its
// first callback can come: the caller stops its previous output there, so that one callback runs
// at a time.
std::unique_ptr<OutputBackend> openPortAudio(OutputSource& source, int rate, int framesPerBuffer,
                                             std::string& error,
                                             const std::function<void()>& beforeStart = {},
                                             const OutputDevice* device = nullptr);
// PortAudio's output devices (its host APIs' names: "ALSA", ...), found without a word on stderr.
std::vector<OutputDevice> listPortAudioOutputs();
std::unique_ptr<OutputBackend> startSilentClock(OutputSource& source, int rate, int framesPerBuffer);

// The desktop's sound server (PulseAudio, or PipeWire's PulseAudio service), spoken to directly.
// The rate of its default sink (or of the sink of that name), or 0 (and why in error) when no
// server answers or it has no such sink.
int soundServerRate(std::string& error, const std::string& sink = "@DEFAULT_SINK@");
// Opens and starts a stream on the server's default sink (or the sink of that name) at rate, its
// thread at real-time priority where allowed; nullptr (and why in error) when it cannot.
// beforeStart as for openPortAudio.
std::unique_ptr<OutputBackend> openSoundServer(OutputSource& source, int rate, int framesPerBuffer,
                                               std::string& error,
                                               const std::function<void()>& beforeStart = {},
                                               const std::string& sink = {});
// The server's sinks (host API "PulseAudio"); none when no server answers.
std::vector<OutputDevice> listServerSinks();

// The sound server where one answers, otherwise PortAudio's default device.
std::unique_ptr<OutputBackend> openDefaultOutput(OutputSource& source, int rate, int framesPerBuffer,
                                                 std::string& error,
                                                 const std::function<void()>& beforeStart = {});

// The same three for a chosen device, or for the default output when device is nullptr. A chosen
// device is only ever that device: when it cannot be had, nothing else is opened in its place.
int outputRate(const OutputDevice* device, std::string& error);
bool outputPresent(const OutputDevice* device);
std::unique_ptr<OutputBackend> openOutput(const OutputDevice* device, OutputSource& source, int rate,
                                          int framesPerBuffer, std::string& error,
                                          const std::function<void()>& beforeStart = {});
