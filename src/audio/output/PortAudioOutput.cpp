#include "audio/output/PortAudioOutput.h"

#include <algorithm>
#include <alsa/asoundlib.h>
#include <atomic>
#include <cstdio>

#include <fcntl.h>
#include <pa_jack.h>
#include <portaudio.h>
#include <unistd.h>

#include "audio/output/ThreadPriority.h"

namespace {

// How much sound the device holds: what the output thread may be late by before a dropout.
constexpr double kDeviceBufferSeconds = 0.025;

// PortAudio's start probes every host API it was built with, and the JACK client library prints
// half a page about a server nobody asked for when none runs. The program's own notices are one
// line each; the library's are kept off the terminal while PortAudio starts and stops.
class StderrSilenced {
public:
    StderrSilenced() {
        std::fflush(stderr);
        m_saved = ::dup(STDERR_FILENO);
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (m_saved >= 0 && null >= 0)
            ::dup2(null, STDERR_FILENO);
        if (null >= 0)
            ::close(null);
    }
    ~StderrSilenced() {
        if (m_saved < 0)
            return;
        std::fflush(stderr);
        ::dup2(m_saved, STDERR_FILENO);
        ::close(m_saved);
    }
    StderrSilenced(const StderrSilenced&) = delete;
    StderrSilenced& operator=(const StderrSilenced&) = delete;

private:
    int m_saved = -1;
};

// ALSA's library prints every failed probe of a missing card to stderr; while we probe for a
// device those lines say nothing the operator needs.
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

class AlsaQuiet {
public:
    AlsaQuiet() { snd_lib_error_set_handler(&quietAlsa); }
    ~AlsaQuiet() { snd_lib_error_set_handler(nullptr); }
};

// One PortAudio session: Pa_Initialize now, Pa_Terminate at the end, so each reopening sees the
// devices as they are now.
class PaSession {
public:
    PaSession() {
        StderrSilenced quiet;
        // PortAudio's JACK host API is a client of the JACK server for as long as the session
        // lasts: under the program's name, not "PortAudio".
        PaJack_SetClientName("Fadewell");
        m_ok = Pa_Initialize() == paNoError;
    }
    ~PaSession() {
        if (m_ok) {
            StderrSilenced quiet;
            Pa_Terminate();
        }
    }
    PaSession(const PaSession&) = delete;
    PaSession& operator=(const PaSession&) = delete;
    bool ok() const { return m_ok; }

private:
    bool m_ok = false;
};

class PortAudioOutput final : public OutputBackend {
public:
    PortAudioOutput(std::unique_ptr<PaSession> session, OutputSource& source)
        : m_session(std::move(session)), m_source(source) {}
    ~PortAudioOutput() override {
        if (m_stream != nullptr) {
            Pa_AbortStream(m_stream);
            Pa_CloseStream(m_stream);
        }
    }

    bool open(int rate, int framesPerBuffer, std::string& error, const std::function<void()>& beforeStart,
              const OutputDevice* chosen) {
        const PaDeviceIndex device = chosen != nullptr ? findDevice(*chosen) : Pa_GetDefaultOutputDevice();
        if (device == paNoDevice) {
            error = chosen != nullptr ? "no output device \"" + chosen->name + "\" (" + chosen->hostApi + ")"
                                      : "no default output device";
            return false;
        }
        const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
        PaStreamParameters params{};
        params.device = device;
        params.channelCount = 2;
        params.sampleFormat = paFloat32;
        params.suggestedLatency = info != nullptr
                                      ? std::max(info->defaultLowOutputLatency, kDeviceBufferSeconds)
                                      : kDeviceBufferSeconds;
        PaError err =
            Pa_OpenStream(&m_stream, nullptr, &params, rate, static_cast<unsigned long>(framesPerBuffer),
                          paClipOff, &PortAudioOutput::onAudio, this);
        if (err == paNoError) {
            if (beforeStart)
                beforeStart();
            err = Pa_StartStream(m_stream);
        }
        if (err != paNoError) {
            error = Pa_GetErrorText(err);
            return false;
        }
        const PaStreamInfo* streamInfo = Pa_GetStreamInfo(m_stream);
        m_latency = streamInfo != nullptr ? streamInfo->outputLatency : 0.0;
        return true;
    }

    double latencySeconds() const override { return m_latency; }
    unsigned long underflows() const override { return m_underflows.load(std::memory_order_relaxed); }

    bool alive() override {
        // The callback's thread is PortAudio's, made when the stream started: it is given its
        // priority here, on the engine's worker, as soon as its first callback has said who it is.
        const pid_t thread = m_thread.load(std::memory_order_acquire);
        if (thread != 0 && thread != m_promoted) {
            m_promoted = thread;
            ThreadPriority::reportOnce(ThreadPriority::makeRealtime(thread, kOutputThreadPriority));
        }
        return !m_watch.stalled() && Pa_IsStreamActive(m_stream) == 1;
    }

private:
    // The device of that name and host API in this PortAudio session (indexes change between
    // sessions).
    static PaDeviceIndex findDevice(const OutputDevice& chosen) {
        for (PaDeviceIndex i = 0; i < Pa_GetDeviceCount(); ++i) {
            const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
            const PaHostApiInfo* api = info != nullptr ? Pa_GetHostApiInfo(info->hostApi) : nullptr;
            if (api != nullptr && info->maxOutputChannels > 0 && chosen.name == info->name &&
                chosen.hostApi == api->name)
                return i;
        }
        return paNoDevice;
    }

    static int onAudio(const void*, void* out, unsigned long frames, const PaStreamCallbackTimeInfo*,
                       PaStreamCallbackFlags flags, void* self) {
        auto* me = static_cast<PortAudioOutput*>(self);
        if ((flags & paOutputUnderflow) != 0) // the device ran dry before this callback
            me->m_underflows.fetch_add(1, std::memory_order_relaxed);
        if (me->m_thread.load(std::memory_order_relaxed) == 0) // the first callback only
            me->m_thread.store(ThreadPriority::currentThread(), std::memory_order_release);
        me->m_source.process(static_cast<float*>(out), frames);
        me->m_watch.counted();
        return paContinue;
    }

    std::unique_ptr<PaSession> m_session;
    OutputSource& m_source;
    PaStream* m_stream = nullptr;
    double m_latency = 0.0;
    CallbackWatch m_watch;
    std::atomic<unsigned long> m_underflows{0};
    std::atomic<pid_t> m_thread{0}; // the callback's, once it has run
    pid_t m_promoted = 0;           // worker only
};

// Whether ALSA's device of that name opens for playback now: opened and closed at once.
bool alsaDeviceOpens(const std::string& pcm) {
    AlsaQuiet quiet;
    // ALSA reads its configuration once per process, and what "default" means can depend on what
    // was running then (a sound server); read it afresh, as PortAudio does on each start.
    snd_config_update_free_global();
    snd_pcm_t* handle = nullptr;
    if (snd_pcm_open(&handle, pcm.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) != 0)
        return false;
    snd_pcm_close(handle);
    return true;
}

} // namespace

int portAudioDefaultRate(std::string& error) {
    AlsaQuiet quiet;
    PaSession session;
    if (!session.ok()) {
        error = "PortAudio did not start";
        return 0;
    }
    const PaDeviceIndex device = Pa_GetDefaultOutputDevice();
    const PaDeviceInfo* info = device == paNoDevice ? nullptr : Pa_GetDeviceInfo(device);
    if (info == nullptr || info->maxOutputChannels < 1) {
        error = "no default output device";
        return 0;
    }
    return static_cast<int>(info->defaultSampleRate + 0.5);
}

bool defaultOutputPresent() {
    return alsaDeviceOpens("default");
}

bool portAudioDevicePresent(const OutputDevice& device) {
    if (device.hostApi != "ALSA")
        return true; // no cheap look: the retries find it
    // PortAudio names an ALSA card's device "Card: Device (hw:0,0)" and a plugin by its own name.
    std::string pcm = device.name;
    if (const auto open = pcm.rfind("(hw:"); open != std::string::npos && pcm.back() == ')')
        pcm = pcm.substr(open + 1, pcm.size() - open - 2);
    return alsaDeviceOpens(pcm);
}

std::unique_ptr<OutputBackend> openPortAudio(OutputSource& source, int rate, int framesPerBuffer,
                                             std::string& error, const std::function<void()>& beforeStart,
                                             const OutputDevice* device) {
    AlsaQuiet quiet;
    auto session = std::make_unique<PaSession>();
    if (!session->ok()) {
        error = "PortAudio did not start";
        return nullptr;
    }
    auto output = std::make_unique<PortAudioOutput>(std::move(session), source);
    if (!output->open(rate, framesPerBuffer, error, beforeStart, device))
        return nullptr;
    return output;
}

std::vector<OutputDevice> listPortAudioOutputs() {
    AlsaQuiet quiet;
    PaSession session;
    std::vector<OutputDevice> devices;
    if (!session.ok())
        return devices;
    for (PaDeviceIndex i = 0; i < Pa_GetDeviceCount(); ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        const PaHostApiInfo* api = info != nullptr ? Pa_GetHostApiInfo(info->hostApi) : nullptr;
        // JACK is played on by a client of our own (JackOutput.h), listed apart.
        if (api == nullptr || info->maxOutputChannels < 1 || api->type == paJACK)
            continue;
        OutputDevice d;
        d.kind = OutputDevice::Kind::PortAudio;
        d.name = info->name;
        d.hostApi = api->name;
        d.channels = info->maxOutputChannels;
        d.defaultRate = info->defaultSampleRate;
        devices.push_back(std::move(d));
    }
    return devices;
}
