#pragma once
// Control of the console by OSC over UDP (the addresses are in OscMessages.h). A thread of its own
// receives each datagram on a socket bound to one address (the loopback address unless asked
// otherwise), has liblo read it and queues what it asks; the user-interface thread takes the queue
// through one queued call and runs each command through the console's own handlers, so the window
// shows it and every rule of the console holds. Nothing of the window is touched from the
// receiving thread.
//
// A flood never freezes the window: at most one queued call is pending at a time, a run of volume
// moves of one deck (or of fade texts) is folded into its latest value while it waits, and beyond
// kMaxPending commands waiting, more are dropped. Whatever changes nothing (a malformed datagram,
// an unknown address, a wrong type, a value out of range, a full queue) is said once per distinct
// fault, at most kMaxFaultsSaid of them.
//
// Threads: construction, destruction and the commands' run on the user-interface thread; the
// receiving thread parses, queues and says the faults.
#include <QObject>
#include <cstdint>
#include <functional>
#include <string>
#include <sys/socket.h>
#include <thread>

#include "control/ConsoleCommands.h"
#include "control/OscMessages.h"

class frmConsole;

class OscServer : public QObject {
    Q_OBJECT
public:
    static constexpr std::size_t kMaxPending = 64;
    static constexpr std::size_t kMaxFaultsSaid = 32;

    // Where faults are said, on the receiving thread: stderr unless a test listens.
    using Say = std::function<void(const std::string&)>;

    // Binds host:port (port 0: any free port) and starts receiving. Throws std::runtime_error
    // naming the address and the reason when the socket cannot be had.
    OscServer(frmConsole& console, const std::string& host, int port, Say say = {});
    ~OscServer() override;
    OscServer(const OscServer&) = delete;
    OscServer& operator=(const OscServer&) = delete;

    // The port bound: the one asked for, or the one chosen for port 0.
    int port() const { return m_port; }

private:
    struct Pending {
        osc::Command command;
        sockaddr_storage from{};
        socklen_t fromLength = 0;
    };

    void receive();                                                   // the receiving thread
    void queue(Pending pending);                                      // the receiving thread
    void sayOnce(const std::string& key, const std::string& message); // the receiving thread
    void runPending();                                                // the user-interface thread
    void run(const Pending& pending);                                 // the user-interface thread
    void answerStatus(const Pending& pending);                        // the user-interface thread

    frmConsole& m_console;
    Say m_say;
    int m_socket = -1;
    int m_wake = -1; // an eventfd: the destructor's word to the receiving thread
    int m_port = 0;

    ConsoleCommandQueue<Pending> m_queue{kMaxPending};
    FaultsSaidOnce m_faults; // the receiving thread's
    std::thread m_thread;
};
