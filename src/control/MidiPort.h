#pragma once
// The MIDI inputs there are, through RtMidi's two ways on Linux: the ALSA sequencer and JACK MIDI,
// and a connection to the one an operator names (matched as an output device's name is: exact,
// then whole in any case, then a unique part; common/NameChoice.h).
//
// From the ALSA sequencer, RtMidi's own input thread (an ordinary one, asleep until a message
// comes) hands each message on. From JACK, a thread of the port's own takes what RtMidi has
// queued, every 2 ms: RtMidi's callback would run in the JACK graph's real-time process thread,
// which must not wait for the console's queue.
//
// Threads: construction, listing and destruction on the user-interface thread; the handler on
// RtMidi's ALSA input thread or on the port's own.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class RtMidiIn;

struct MidiInputPort {
    std::string name; // as RtMidi names it: "client:port" for JACK, "client:port 20:0" for ALSA
    std::string api;  // "ALSA" or "JACK"
};

struct MidiInputList {
    std::vector<MidiInputPort> ports;
    // Each way that could not be looked at, and why: "ALSA: no MIDI sequencer (/dev/snd/seq is missing)".
    std::vector<std::string> unavailable;
};

// Every MIDI input there is now. Whatever the libraries print while they look is kept off stderr.
MidiInputList listMidiInputs();

// The inputs as --list-devices prints them, under a heading of their own.
std::string formatMidiInputList(const MidiInputList& list);

class MidiPort {
public:
    // One whole message: the status byte and its data.
    using Handler = std::function<void(const unsigned char* bytes, std::size_t size)>;

    // Connects to the input the name matches and starts handing its messages on. Throws
    // std::runtime_error saying why not: no input of that name (and the inputs there are), one name
    // for several, no way to MIDI at all, RtMidi's own reason.
    MidiPort(const std::string& wanted, Handler handler);
    ~MidiPort();
    MidiPort(const MidiPort&) = delete;
    MidiPort& operator=(const MidiPort&) = delete;

    const MidiInputPort& port() const { return m_port; }

private:
    void poll(); // the port's thread

    MidiInputPort m_port;
    Handler m_handler;
    std::unique_ptr<RtMidiIn> m_in;
    std::mutex m_mutex; // the stop word and its wake
    std::condition_variable m_wake;
    bool m_stop = false;
    std::thread m_thread;
};
