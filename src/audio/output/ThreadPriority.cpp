#include "audio/output/ThreadPriority.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <malloc.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <utility>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QVariant>

namespace ThreadPriority {
namespace {

const QString kBroker = QStringLiteral("org.freedesktop.RealtimeKit1");
const QString kBrokerPath = QStringLiteral("/org/freedesktop/RealtimeKit1");

// The broker's answers come on the system bus; without a running application object Qt's D-Bus
// cannot be used at all, and without a bus there is nobody to ask.
bool brokerReachable() {
    return QCoreApplication::instance() != nullptr && QDBusConnection::systemBus().isConnected();
}

qlonglong brokerProperty(const char* name) {
    QDBusInterface properties(kBroker, kBrokerPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                              QDBusConnection::systemBus());
    const QDBusReply<QVariant> reply =
        properties.call(QStringLiteral("Get"), kBroker, QString::fromLatin1(name));
    return reply.isValid() ? reply.value().toLongLong() : -1;
}

// The broker only serves a process that limits its real-time threads' processor time (so one that
// spins is stopped by the kernel instead of freezing the machine).
bool limitRealtimeTime(qlonglong maxMicroseconds) {
    rlimit limit{};
    if (getrlimit(RLIMIT_RTTIME, &limit) != 0)
        return false;
    const auto wanted = static_cast<rlim_t>(maxMicroseconds > 0 ? maxMicroseconds : 200000);
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < wanted)
        return limit.rlim_cur <= limit.rlim_max;
    limit.rlim_cur = limit.rlim_max = std::min<rlim_t>(wanted, limit.rlim_max);
    return setrlimit(RLIMIT_RTTIME, &limit) == 0;
}

QString brokerCall(const char* method, pid_t tid, const QVariant& value) {
    QDBusInterface broker(kBroker, kBrokerPath, kBroker, QDBusConnection::systemBus());
    const QDBusMessage reply =
        broker.call(QString::fromLatin1(method), QVariant::fromValue(quint64(tid)), value);
    return reply.type() == QDBusMessage::ErrorMessage ? reply.errorMessage() : QString();
}

// Whether lockMemory() locked the process (its pages then stay until unlocked).
std::atomic<bool> g_locked{false};

// The main heap's place, from the process's own map; {0, 0} when it has none.
std::pair<std::uintptr_t, std::uintptr_t> mainHeap() {
    std::uintptr_t begin = 0;
    std::uintptr_t end = 0;
    if (std::FILE* maps = std::fopen("/proc/self/maps", "re")) {
        char line[512];
        while (std::fgets(line, sizeof line, maps) != nullptr)
            if (std::strstr(line, "[heap]") != nullptr &&
                std::sscanf(line, "%" SCNxPTR "-%" SCNxPTR, &begin, &end) == 2)
                break;
        std::fclose(maps);
    }
    return end > begin ? std::pair{begin, end} : std::pair<std::uintptr_t, std::uintptr_t>{};
}

} // namespace

pid_t currentThread() noexcept {
    return static_cast<pid_t>(::syscall(SYS_gettid));
}

Grant raise(pid_t tid, int niceLevel) {
    if (::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), niceLevel) == 0)
        return {Level::Raised, "nice " + std::to_string(niceLevel)};
    const std::string refused = std::strerror(errno);
    if (brokerReachable()) {
        const qlonglong floor = brokerProperty("MinNiceLevel");
        const int level = floor < 0 ? std::max(niceLevel, static_cast<int>(floor)) : niceLevel;
        if (brokerCall("MakeThreadHighPriority", tid, QVariant::fromValue(qint32(level))).isEmpty())
            return {Level::Raised, "nice " + std::to_string(level) + " from the real-time broker"};
    }
    return {Level::Normal, "a raised priority was refused (" + refused + ")"};
}

Grant makeRealtime(pid_t tid, int priority) {
    sched_param param{};
    param.sched_priority =
        std::clamp(priority, sched_get_priority_min(SCHED_FIFO), sched_get_priority_max(SCHED_FIFO));
    // SCHED_RESET_ON_FORK: a program started from here (a help viewer) does not inherit it.
    if (::sched_setscheduler(tid, SCHED_FIFO | SCHED_RESET_ON_FORK, &param) == 0)
        return {Level::RealTime, "SCHED_FIFO priority " + std::to_string(param.sched_priority)};
    std::string refused = std::string("SCHED_FIFO refused: ") + std::strerror(errno);

    if (brokerReachable()) {
        const qlonglong most = brokerProperty("MaxRealtimePriority");
        if (most > 0) {
            const int granted = std::min(param.sched_priority, static_cast<int>(most));
            if (!limitRealtimeTime(brokerProperty("RTTimeUSecMax")))
                refused += "; the real-time broker needs a processor-time limit that could not be set";
            else if (const QString error =
                         brokerCall("MakeThreadRealtime", tid, QVariant::fromValue(quint32(granted)));
                     error.isEmpty())
                return {Level::RealTime,
                        "SCHED_FIFO priority " + std::to_string(granted) + " from the real-time broker"};
            else
                refused += "; the real-time broker refused: " + error.toStdString();
        }
    } else {
        refused += "; no real-time broker on the system bus";
    }
    Grant fallback = raise(tid, -11);
    fallback.how =
        (fallback.level == Level::Raised ? fallback.how + " instead of real time (" : "normal priority (") +
        refused + ")";
    return fallback;
}

bool lockMemory() {
    rlimit limit{};
    const bool unlimited = getrlimit(RLIMIT_MEMLOCK, &limit) == 0 && limit.rlim_cur == RLIM_INFINITY;
    if (!unlimited && ::geteuid() != 0)
        return false;
    // MCL_ONFAULT: pages are locked as they are first touched, not all mapped memory at once (a
    // sound server's 64 MiB pool stays mostly untouched).
    const bool locked = ::mlockall(MCL_CURRENT | MCL_FUTURE | MCL_ONFAULT) == 0;
    g_locked.store(locked, std::memory_order_relaxed);
    return locked;
}

void returnFreedHeap() {
    if (!g_locked.load(std::memory_order_relaxed)) {
        ::malloc_trim(0);
        return;
    }
    const auto [begin, end] = mainHeap();
    if (begin == end)
        return;
    auto* const start = reinterpret_cast<void*>(begin);
    ::munlock(start, end - begin);
    ::malloc_trim(0); // the other heaps stay locked: there it gives nothing back
    // Up to where the heap ends now (the trim may have shortened it; MCL_FUTURE locks what grows).
    const auto top = reinterpret_cast<std::uintptr_t>(::sbrk(0));
    ::mlock2(start, (top > begin ? top : end) - begin, MLOCK_ONFAULT);
}

void reportOnce(const Grant& grant) {
    static std::atomic<bool> said{false};
    if (said.exchange(true))
        return;
    std::fprintf(stderr, "Fadewell: the audio output thread runs at %s\n", grant.how.c_str());
}

} // namespace ThreadPriority
