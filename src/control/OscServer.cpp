#include "control/OscServer.h"

#include <QLabel>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netdb.h>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

#include "console/MediaPlayer.h"
#include "console/frmConsole.h"

namespace {

// How many datagrams the receiving thread reads between two looks at the destructor's word.
constexpr int kReadsPerLook = 256;
// The largest datagram UDP carries; a longer one cannot arrive, a shorter buffer would cut some.
constexpr std::size_t kLargestDatagram = 65536;

int bindSocket(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string where = host + ":" + std::to_string(port);
    if (const int error = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found); error != 0)
        throw std::runtime_error("OSC cannot listen on " + where + ": " + gai_strerror(error));
    int lastError = 0;
    int fd = -1;
    for (const addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd >= 0 && ::bind(fd, a->ai_addr, a->ai_addrlen) != 0) {
            lastError = errno;
            ::close(fd);
            fd = -1;
        } else if (fd < 0) {
            lastError = errno;
        }
    }
    freeaddrinfo(found);
    if (fd < 0)
        throw std::runtime_error("OSC cannot listen on " + where + ": " + std::strerror(lastError));
    return fd;
}

int boundPort(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
}

} // namespace

OscServer::OscServer(frmConsole& console, const std::string& host, int port, Say say)
    : m_console(console), m_say(std::move(say)),
      m_faults(kMaxFaultsSaid, [this](const std::string& message) { m_say(message); }) {
    if (!m_say)
        m_say = [](const std::string& message) {
            std::fprintf(stderr, "fadewell: OSC: %s\n", message.c_str());
        };
    m_socket = bindSocket(host, port);
    m_port = boundPort(m_socket);
    m_wake = ::eventfd(0, EFD_CLOEXEC);
    if (m_wake < 0) {
        ::close(m_socket);
        throw std::runtime_error(std::string("OSC cannot start: ") + std::strerror(errno));
    }
    m_thread = std::thread([this] { receive(); });
}

OscServer::~OscServer() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(m_wake, &one, sizeof one);
    m_thread.join();
    ::close(m_wake);
    ::close(m_socket);
}

void OscServer::receive() {
    std::vector<char> buffer(kLargestDatagram);
    pollfd watched[2] = {{m_socket, POLLIN, 0}, {m_wake, POLLIN, 0}};
    for (;;) {
        if (::poll(watched, 2, -1) < 0 && errno != EINTR)
            return;
        if (watched[1].revents != 0)
            return;
        for (int i = 0; i < kReadsPerLook; ++i) {
            Pending pending;
            pending.fromLength = sizeof pending.from;
            const ssize_t size = ::recvfrom(m_socket, buffer.data(), buffer.size(), MSG_TRUNC,
                                            reinterpret_cast<sockaddr*>(&pending.from), &pending.fromLength);
            if (size < 0)
                break; // nothing more waiting (or an error the next poll() shows again)
            if (static_cast<std::size_t>(size) > buffer.size()) {
                sayOnce("huge", "a datagram longer than " + std::to_string(buffer.size()) +
                                    " bytes was cut short; nothing changed");
                continue;
            }
            auto parsed = osc::parse(buffer.data(), static_cast<std::size_t>(size));
            if (const auto* fault = std::get_if<osc::Fault>(&parsed)) {
                sayOnce(fault->key, fault->message);
                continue;
            }
            if (std::holds_alternative<osc::Release>(parsed))
                continue;
            pending.command = std::get<osc::Command>(std::move(parsed));
            queue(std::move(pending));
        }
    }
}

void OscServer::queue(Pending pending) {
    const auto pushed = m_queue.push(std::move(pending));
    if (pushed.dropped)
        sayOnce("full", "more than " + std::to_string(kMaxPending) +
                            " commands were waiting for the console; the ones after them were dropped");
    if (pushed.post)
        QMetaObject::invokeMethod(this, &OscServer::runPending, Qt::QueuedConnection);
}

void OscServer::sayOnce(const std::string& key, const std::string& message) {
    m_faults(key, message);
}

void OscServer::runPending() {
    for (const Pending& pending : m_queue.take())
        run(pending);
}

void OscServer::run(const Pending& pending) {
    if (pending.command.kind == osc::Command::Kind::Status)
        answerStatus(pending);
    else
        runConsoleCommand(m_console, pending.command);
}

void OscServer::answerStatus(const Pending& pending) {
    const MediaPlayer* players[] = {m_console.MediaPlayerA, m_console.MediaPlayerB, m_console.MediaPlayerC};
    const QLabel* titles[] = {m_console.lblMediaA, m_console.lblMediaB, m_console.lblMediaC};
    static const char* const kStates[] = {"stopped", "halted", "playing"};
    for (int i = 0; i < 3; ++i) {
        osc::DeckStatus status;
        status.letter = std::string(1, static_cast<char>('A' + i));
        status.title = titles[i]->text().toStdString();
        const int state = players[i]->playState();
        status.state = players[i]->fileName().isEmpty() ? "empty"
                       : state >= 0 && state <= 2       ? kStates[state]
                                                        : "unknown";
        status.remainingSeconds = static_cast<float>(players[i]->duration() - players[i]->currentPosition());
        status.live = m_console.liveDeck() == QString(QChar(static_cast<char16_t>(u'A' + i)));
        const std::vector<char> bytes = osc::statusMessage(status);
        // The receiving thread only reads the socket: a send from here does not disturb it. A
        // sender that is gone is not the console's concern.
        ::sendto(m_socket, bytes.data(), bytes.size(), MSG_DONTWAIT,
                 reinterpret_cast<const sockaddr*>(&pending.from), pending.fromLength);
    }
}
