#include "control/MidiPort.h"

#include <RtMidi.h>
#include <algorithm>
#include <alsa/asoundlib.h>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <jack/jack.h>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

#include "common/NameChoice.h"

namespace {

// How long a message may wait in RtMidi's queue before the port's thread takes it: well below what
// a hand on a button or a fader notices, a few hundred wake-ups a second at most.
constexpr auto kPollInterval = std::chrono::milliseconds(2);
// RtMidi's queue between its thread and ours: a fader swept on a USB controller sends a few hundred
// messages a second, which fill under a tenth of it in a poll interval.
constexpr unsigned kQueueSize = 1024;
constexpr const char* kClientName = "Fadewell MIDI";
constexpr const char* kSequencer = "/dev/snd/seq";

void quietJack(const char*) {}
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

// Errors RtMidi reports once an error callback is set (before, it prints them and throws).
void keepError(RtMidiError::Type, const std::string& message, void* kept) {
    *static_cast<std::string*>(kept) = message;
}

// One of RtMidi's ways to MIDI inputs, looked at: its inputs, or why it has none.
struct Way {
    const char* api = "";
    std::unique_ptr<std::string> error = std::make_unique<std::string>(); // RtMidi's last, kept by keepError
    std::unique_ptr<RtMidiIn> in;                                         // after error: gone before it
    std::vector<std::string> names;
    std::string unavailable;
};

Way lookAt(RtMidi::Api api) {
    Way way;
    way.api = api == RtMidi::LINUX_ALSA ? "ALSA" : "JACK";
    if (api == RtMidi::LINUX_ALSA && ::access(kSequencer, F_OK) != 0) {
        way.unavailable = std::string("ALSA: no MIDI sequencer (") + kSequencer + " is missing)";
        return way;
    }
    // Neither library is to print about a server or a sequencer that is not there: the reason
    // comes back through RtMidi and is said once, in the program's words.
    jack_set_error_function(&quietJack);
    jack_set_info_function(&quietJack);
    snd_lib_error_set_handler(&quietAlsa);
    try {
        {
            // Until it has an error callback, RtMidi writes its complaints to std::cerr: taken here.
            std::ostringstream said;
            std::streambuf* const cerr = std::cerr.rdbuf(said.rdbuf());
            try {
                way.in = std::make_unique<RtMidiIn>(api, kClientName, kQueueSize);
            } catch (...) {
                std::cerr.rdbuf(cerr);
                throw;
            }
            std::cerr.rdbuf(cerr);
            way.in->setErrorCallback(&keepError, way.error.get());
        }
        const unsigned count = way.in->getPortCount(); // JACK connects to its server here
        for (unsigned i = 0; i < count && way.error->empty(); ++i)
            way.names.push_back(way.in->getPortName(i));
    } catch (const RtMidiError& e) {
        *way.error = e.getMessage();
    }
    snd_lib_error_set_handler(nullptr);
    if (!way.error->empty()) {
        way.unavailable = std::string(way.api) + ": " +
                          (api == RtMidi::UNIX_JACK && way.error->find("not running") != std::string::npos
                               ? std::string("no JACK server runs")
                               : *way.error);
        way.in.reset();
        way.names.clear();
    }
    return way;
}

std::vector<Way> lookAtAll() {
    std::vector<RtMidi::Api> apis;
    RtMidi::getCompiledApi(apis);
    std::vector<Way> ways;
    for (const RtMidi::Api api : apis)
        if (api == RtMidi::LINUX_ALSA || api == RtMidi::UNIX_JACK)
            ways.push_back(lookAt(api));
    return ways;
}

MidiInputList listed(const std::vector<Way>& ways) {
    MidiInputList list;
    for (const Way& way : ways) {
        for (const std::string& name : way.names)
            list.ports.push_back({name, way.api});
        if (!way.unavailable.empty())
            list.unavailable.push_back(way.unavailable);
    }
    return list;
}

std::string joined(const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : "; ") + part;
    return text;
}

} // namespace

MidiInputList listMidiInputs() {
    return listed(lookAtAll());
}

std::string formatMidiInputList(const MidiInputList& list) {
    std::string text = "\nMIDI inputs (--midi NAME):\n";
    if (list.ports.empty())
        text += "No MIDI inputs found.\n";
    std::size_t width = 4;
    for (const MidiInputPort& p : list.ports)
        width = std::max(width, p.name.size());
    if (!list.ports.empty())
        text += "NAME" + std::string(width - 4 + 2, ' ') + "API\n";
    for (const MidiInputPort& p : list.ports)
        text += p.name + std::string(width - p.name.size() + 2, ' ') + p.api + "\n";
    for (const std::string& why : list.unavailable)
        text += "(" + why + ")\n";
    return text;
}

MidiPort::MidiPort(const std::string& wanted, Handler handler) : m_handler(std::move(handler)) {
    std::vector<Way> ways = lookAtAll();
    const MidiInputList list = listed(ways);
    if (list.ports.empty())
        throw std::runtime_error("MIDI: no MIDI inputs to connect \"" + wanted + "\" to (" +
                                 joined(list.unavailable) + ")");
    std::vector<NameChoice::Candidate> candidates;
    for (const MidiInputPort& p : list.ports)
        candidates.push_back({p.name, {}, p.api});
    const NameChoice::Choice choice = NameChoice::choose(candidates, wanted, "MIDI input", "MIDI inputs");
    if (!choice.index) {
        std::string there;
        for (const MidiInputPort& p : list.ports)
            there += (there.empty() ? "" : ", ") + ("\"" + p.name + "\" (" + p.api + ")");
        throw std::runtime_error("MIDI: " + choice.error + "; the MIDI inputs are " + there);
    }
    m_port = list.ports[*choice.index];
    for (Way& way : ways) {
        if (m_port.api != way.api)
            continue;
        for (unsigned i = 0; i < way.names.size(); ++i)
            if (way.names[i] == m_port.name) {
                way.in->openPort(i, "in");
                if (!way.error->empty() || !way.in->isPortOpen())
                    throw std::runtime_error("MIDI: cannot connect to \"" + m_port.name + "\" (" + way.api +
                                             "): " + (way.error->empty() ? "refused" : *way.error));
                way.in->ignoreTypes(true, true, true);
                m_in = std::move(way.in);
                break;
            }
    }
    if (!m_in)
        throw std::runtime_error("MIDI: \"" + m_port.name + "\" went away before it was connected");
    // Whatever RtMidi reports from here on comes from its own threads: said on stderr as it comes.
    m_in->setErrorCallback([](RtMidiError::Type, const std::string& message,
                              void*) { std::fprintf(stderr, "fadewell: MIDI: %s\n", message.c_str()); },
                           nullptr);
    if (m_port.api == std::string("ALSA"))
        m_in->setCallback(
            [](double, std::vector<unsigned char>* message, void* self) {
                if (!message->empty())
                    static_cast<MidiPort*>(self)->m_handler(message->data(), message->size());
            },
            this);
    else
        m_thread = std::thread([this] { poll(); });
}

MidiPort::~MidiPort() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable())
        m_thread.join();
    if (m_in)
        m_in->closePort(); // with ALSA, ends RtMidi's input thread: no message is handed on after it
}

void MidiPort::poll() {
    std::vector<unsigned char> message;
    message.reserve(64);
    std::unique_lock lock(m_mutex);
    while (!m_stop) {
        lock.unlock();
        for (m_in->getMessage(&message); !message.empty(); m_in->getMessage(&message))
            m_handler(message.data(), message.size());
        lock.lock();
        m_wake.wait_for(lock, kPollInterval, [this] { return m_stop; });
    }
}
