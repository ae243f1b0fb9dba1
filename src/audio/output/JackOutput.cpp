// The output as a JACK client of our own rather than through PortAudio's JACK host API, which
// shows every program as "PortAudio" with ports out_0 and out_1: a patchbay shows this one as the
// console it is. No buffer of ours lies between the engine and the server, so a key is heard one
// JACK period later, and the server's own latency is what the listener waits for.
#include "audio/output/JackOutput.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <jack/jack.h>

namespace {

constexpr const char* kClientName = "Fadewell";
constexpr const char* kPortNames[2] = {"out_left", "out_right"};
// The engine mixes into an interleaved buffer made at opening; a JACK period longer than this
// (the server's buffer size can change while it runs) is mixed in pieces of this many frames.
constexpr std::size_t kPieceFrames = 2048;

// libjack prints a paragraph on stderr for a server that is not there; the program says in one
// line what it could not do.
void quiet(const char*) {}

struct ClientCloser {
    void operator()(jack_client_t* client) const { jack_client_close(client); }
};
using Client = std::unique_ptr<jack_client_t, ClientCloser>;

Client openClient(std::string& error) {
    jack_set_error_function(&quiet);
    jack_set_info_function(&quiet);
    jack_status_t status{};
    Client client(jack_client_open(kClientName, JackNoStartServer, &status));
    if (!client)
        error = (status & JackServerFailed) != 0 ? "no JACK server runs"
                                                 : "the JACK server refused a new client (status " +
                                                       std::to_string(static_cast<int>(status)) + ")";
    return client;
}

// Every audio input port of the server, "client:port", in the server's order (playback_1 before
// playback_2).
std::vector<std::string> inputPorts(jack_client_t* client) {
    std::vector<std::string> names;
    const char** ports = jack_get_ports(client, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput);
    if (ports == nullptr)
        return names;
    for (const char** p = ports; *p != nullptr; ++p)
        names.emplace_back(*p);
    jack_free(ports);
    return names;
}

std::string owner(const std::string& port) {
    return port.substr(0, port.find(':'));
}

// The playback ports of the device (the client of that name).
std::vector<std::string> devicePorts(jack_client_t* client, const std::string& device) {
    std::vector<std::string> ports = inputPorts(client);
    std::erase_if(ports, [&](const std::string& port) { return owner(port) != device; });
    return ports;
}

class JackOutput final : public OutputBackend {
public:
    explicit JackOutput(OutputSource& source) : m_source(source), m_mix(2 * kPieceFrames) {}
    ~JackOutput() override { m_client.reset(); } // closing deactivates: no callback after it
    JackOutput(const JackOutput&) = delete;
    JackOutput& operator=(const JackOutput&) = delete;

    bool open(int rate, std::string& error, const std::function<void()>& beforeStart,
              const OutputDevice& device) {
        m_client = openClient(error);
        if (!m_client)
            return false;
        jack_client_t* client = m_client.get();
        m_rate = rate;
        const auto serverRate = static_cast<int>(jack_get_sample_rate(client));
        if (serverRate != rate) {
            error = "the JACK server runs at " + std::to_string(serverRate) + " Hz, the console at " +
                    std::to_string(rate) + " Hz";
            return false;
        }
        const std::vector<std::string> targets = devicePorts(client, device.name);
        if (targets.empty()) {
            error = "JACK has no playback ports of \"" + device.name + "\"";
            return false;
        }
        for (int i = 0; i < 2; ++i) {
            m_ports[i] = jack_port_register(client, kPortNames[i], JACK_DEFAULT_AUDIO_TYPE,
                                            JackPortIsOutput | JackPortIsTerminal, 0);
            if (m_ports[i] == nullptr) {
                error = std::string("JACK refused the port ") + kPortNames[i];
                return false;
            }
        }
        jack_set_process_callback(client, &JackOutput::onProcess, this);
        jack_on_info_shutdown(client, &JackOutput::onShutdown, this);
        if (beforeStart)
            beforeStart();
        if (jack_activate(client) != 0) {
            error = "JACK did not start the client";
            return false;
        }
        // A mono device hears both channels on its one port.
        for (std::size_t i = 0; i < 2; ++i) {
            const std::string& target = targets[std::min(i, targets.size() - 1)];
            if (const int rc = jack_connect(client, jack_port_name(m_ports[i]), target.c_str());
                rc != 0 && rc != EEXIST) {
                error = std::string("JACK did not connect ") + kPortNames[i] + " to " + target;
                return false;
            }
        }
        readLatency();
        return true;
    }

    double latencySeconds() const override { return m_latency.load(std::memory_order_relaxed); }

    bool alive() override {
        if (m_shutdown.load(std::memory_order_acquire))
            return false;
        readLatency(); // the graph may have changed: another card, more periods
        return !m_watch.stalled();
    }

private:
    // What the server says the listener waits for after our port: the periods it holds and the
    // card's own delay, the most of every port ours is connected to.
    void readLatency() {
        jack_latency_range_t range{};
        jack_port_get_latency_range(m_ports[0], JackPlaybackLatency, &range);
        const jack_nframes_t frames = std::max(range.max, jack_get_buffer_size(m_client.get()));
        m_latency.store(static_cast<double>(frames) / m_rate, std::memory_order_relaxed);
    }

    // JACK's thread, under the callback's rules: the mix in pieces, each split into the two ports.
    static int onProcess(jack_nframes_t frames, void* self) {
        auto* me = static_cast<JackOutput*>(self);
        auto* left = static_cast<float*>(jack_port_get_buffer(me->m_ports[0], frames));
        auto* right = static_cast<float*>(jack_port_get_buffer(me->m_ports[1], frames));
        float* mix = me->m_mix.data();
        for (std::size_t done = 0; done < frames;) {
            const std::size_t count = std::min<std::size_t>(kPieceFrames, frames - done);
            me->m_source.process(mix, count);
            for (std::size_t i = 0; i < count; ++i) {
                left[done + i] = mix[2 * i];
                right[done + i] = mix[2 * i + 1];
            }
            done += count;
        }
        me->m_watch.counted();
        return 0;
    }

    // A thread of libjack's, when the server goes away or drops the client.
    static void onShutdown(jack_status_t, const char*, void* self) {
        static_cast<JackOutput*>(self)->m_shutdown.store(true, std::memory_order_release);
    }

    OutputSource& m_source;
    std::vector<float> m_mix; // the callback's
    jack_port_t* m_ports[2] = {nullptr, nullptr};
    int m_rate = 48000;
    std::atomic<double> m_latency{0.0};
    std::atomic<bool> m_shutdown{false};
    CallbackWatch m_watch;
    Client m_client; // last, so that it closes (and no callback runs) before the rest goes
};

} // namespace

std::vector<OutputDevice> listJackOutputs() {
    std::string error;
    const Client client = openClient(error);
    std::vector<OutputDevice> devices;
    if (!client)
        return devices;
    const double rate = jack_get_sample_rate(client.get());
    for (const std::string& port : inputPorts(client.get())) {
        const std::string name = owner(port);
        auto known = std::find_if(devices.begin(), devices.end(),
                                  [&](const OutputDevice& d) { return d.name == name; });
        if (known == devices.end())
            devices.push_back({OutputDevice::Kind::Jack, name, "", "JACK", 1, rate});
        else
            ++known->channels;
    }
    return devices;
}

int jackRate(std::string& error) {
    const Client client = openClient(error);
    return client ? static_cast<int>(jack_get_sample_rate(client.get())) : 0;
}

bool jackDevicePresent(const OutputDevice& device) {
    std::string error;
    const Client client = openClient(error);
    return client && !devicePorts(client.get(), device.name).empty();
}

std::unique_ptr<OutputBackend> openJack(OutputSource& source, int rate, std::string& error,
                                        const std::function<void()>& beforeStart,
                                        const OutputDevice& device) {
    auto output = std::make_unique<JackOutput>(source);
    if (!output->open(rate, error, beforeStart, device))
        return nullptr;
    return output;
}
