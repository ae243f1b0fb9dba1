// Scheduling and memory for the output thread: real time where the machine allows it, and where it
// does not, the thread runs on at a lower priority and the program says why, never failing.
#include <array>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <sched.h>
#include <string>
#include <sys/mman.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <utility>

#include "audio/output/ThreadPriority.h"
#include "support/AsNobody.h"

namespace {

int policyOf(pid_t tid) {
    return sched_getscheduler(tid) & ~SCHED_RESET_ON_FORK;
}

TEST(ThreadPriority, ARealtimeRequestGivesFifoWhereAllowed) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root may set SCHED_FIFO on this machine";
    ThreadPriority::Grant grant;
    int policy = -1, priority = -1;
    std::thread([&] {
        const pid_t self = ThreadPriority::currentThread();
        grant = ThreadPriority::makeRealtime(self, 20);
        policy = policyOf(self);
        sched_param param{};
        sched_getparam(self, &param);
        priority = param.sched_priority;
    }).join();
    EXPECT_EQ(grant.level, ThreadPriority::Level::RealTime);
    EXPECT_EQ(grant.how, "SCHED_FIFO priority 20");
    EXPECT_EQ(policy, SCHED_FIFO);
    EXPECT_EQ(priority, 20);
}

TEST(ThreadPriority, ARefusedRequestLeavesTheThreadRunningAndSaysWhy) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "the test drops root's rights in a child; it needs them to drop";
    // A child without root's rights and without a real-time allowance, as an ordinary user on a
    // desktop whose broker is not running: it must be told no, and go on.
    const std::string report = fixtures::runAsNobody(
        [] {
            const ThreadPriority::Grant grant =
                ThreadPriority::makeRealtime(ThreadPriority::currentThread(), 20);
            return std::to_string(static_cast<int>(grant.level)) + " " + std::to_string(policyOf(0)) + " " +
                   grant.how;
        },
        [] {
            const rlimit none{0, 0};
            ::setrlimit(RLIMIT_RTPRIO, &none);
        });
    // Level Normal (2), still SCHED_OTHER, and the refusal named.
    EXPECT_EQ(report.rfind("2 0 normal priority (SCHED_FIFO refused: Operation not permitted", 0), 0u)
        << report;
}

// A real-time safety test: it runs in the plain build, since the sanitizers' runtime makes mlockall
// a no-op that reports success.
TEST(RealtimeSafety, MemoryTouchedIsLockedWhereAllowed) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "under a sanitizer mlockall does nothing";
#endif
    if (::geteuid() != 0)
        GTEST_SKIP() << "locking without a limit needs root here";
    ASSERT_TRUE(ThreadPriority::lockMemory());
    std::vector<char> touched(8 << 20, 1);
    std::ifstream status("/proc/self/status");
    long lockedKiB = -1;
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmLck:", 0) == 0)
            lockedKiB = std::stol(line.substr(6));
    ::munlockall();
    EXPECT_GE(lockedKiB, 8 << 10) << "the 8 MiB just touched are not all locked";
}

// The main heap's resident and locked KiB.
std::pair<long, long> heapResidentAndLocked() {
    std::ifstream smaps("/proc/self/smaps");
    std::string line;
    while (std::getline(smaps, line) && line.find(" [heap]") == std::string::npos) {
    }
    long resident = -1;
    while (std::getline(smaps, line) && line.rfind("Locked:", 0) != 0)
        resident = line.rfind("Rss:", 0) == 0 ? std::stol(line.substr(4)) : resident;
    return {resident, line.empty() ? -1 : std::stol(line.substr(7))};
}

TEST(RealtimeSafety, FreedHeapIsHandedBackAndTheHeapLockedAgain) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "under a sanitizer mlockall does nothing";
#endif
    if (!ThreadPriority::lockMemory())
        GTEST_SKIP() << "locking without a limit needs root here";
    auto* blocks = new std::array<std::unique_ptr<char[]>, 4096>; // 4 MB in small pieces, as a dialog's
    for (auto& block : *blocks)
        block = std::make_unique<char[]>(1000);
    const auto pin = std::make_unique<char[]>(1000); // so the freed pieces lie inside the heap
    delete blocks;
    const long before = heapResidentAndLocked().first;
    ThreadPriority::returnFreedHeap();
    const auto [after, locked] = heapResidentAndLocked();
    ::munlockall();
    EXPECT_LT(after, before - 3000) << "the freed heap stayed resident";
    EXPECT_EQ(locked, after) << "the heap was left unlocked";
}

} // namespace
