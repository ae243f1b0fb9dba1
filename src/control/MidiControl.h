#pragma once
// Control of the console by MIDI: each message a port delivers is translated through the map
// (MidiMap.h) and its commands queued; the user-interface thread takes the queue through one queued
// call and runs each command through the console's own handlers, exactly as OSC's are run
// (ConsoleCommands.h), so the window shows it and every rule of the console holds.
//
// A fader swept fast sends hundreds of control changes a second: the moves of one deck waiting for
// the window are folded into the latest, and a fader start is kept in its place between them.
// A message the map does not know is said once.
//
// Threads: construction, destruction and the commands' run on the user-interface thread; receive()
// on the port's thread (one at a time).
#include <QObject>
#include <cstddef>
#include <functional>
#include <string>

#include "control/ConsoleCommands.h"
#include "control/MidiMap.h"

class frmConsole;

class MidiControl : public QObject {
    Q_OBJECT
public:
    static constexpr std::size_t kMaxPending = 64;
    static constexpr std::size_t kMaxFaultsSaid = 32;

    // Where faults are said, on the port's thread: stderr unless a test listens.
    using Say = std::function<void(const std::string&)>;

    MidiControl(frmConsole& console, midi::Map map, Say say = {});

    // One whole MIDI message: its status byte and data bytes.
    void receive(const unsigned char* bytes, std::size_t size);

private:
    struct Pending {
        osc::Command command;
    };
    void runPending(); // the user-interface thread

    frmConsole& m_console;
    midi::Translator m_translator; // the port's thread's
    FaultsSaidOnce m_faults;       // the port's thread's
    ConsoleCommandQueue<Pending> m_queue{kMaxPending};
};
