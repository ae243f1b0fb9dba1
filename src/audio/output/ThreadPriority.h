#pragma once
// Scheduling for the threads that feed the output device. On a busy machine an ordinary thread can
// wait tens of milliseconds for a core, longer than the device's buffer lasts; a real-time thread
// runs as soon as it is woken. Asked for the way desktop audio programs on Linux ask: SCHED_FIFO
// directly where the process may (root, or an RLIMIT_RTPRIO), otherwise from the desktop's
// real-time broker (RealtimeKit, on the system D-Bus); failing both, a raised nice level; failing
// that, the thread runs on as it was. Never fails: it only says what it got.
//
// Threads: any thread but the audio callback (a request may wait for the broker's answer).
#include <string>
#include <sys/types.h>

namespace ThreadPriority {

enum class Level { RealTime, Raised, Normal };

struct Grant {
    Level level = Level::Normal;
    std::string how; // "SCHED_FIFO priority 20", "nice -10 from the real-time broker", or why not
};

// The kernel's id of the calling thread (what the requests below take).
pid_t currentThread() noexcept;

// SCHED_FIFO at priority (1..99, lowered to what the broker allows) for thread tid of this
// process; where that is refused, the highest nice level it can get.
Grant makeRealtime(pid_t tid, int priority);
// A nice level of at most niceLevel (negative: more than ordinary processes) for thread tid.
Grant raise(pid_t tid, int niceLevel);

// Keeps every page the process has, and every page it touches from now on, in memory: under
// memory pressure the output thread's code and buffers are never paged out, so it never waits on
// the disk. Only where the process may lock without limit (root, or RLIMIT_MEMLOCK unlimited):
// under a limit, a locked process would find its allocations refused once it reached it. Says on
// success whether it locked.
bool lockMemory();

// Hands the free pages inside the main heap back to the system (what a closed window freed there:
// a file dialog leaves nearly a megabyte). Under lockMemory() they stay otherwise: a locked page is
// never given back. The main heap alone is unlocked for that moment (some milliseconds: the trim's
// madvise calls) and locked again; its pages stay in memory throughout, only a shortage of memory
// in those milliseconds could take one. Every other mapping, the output thread's stack and heap,
// the rings and the code, stays locked. The output thread may wait for its own heap's lock while
// malloc_trim looks through that heap's free pages (a short walk that gives nothing back there,
// since they are locked; the sound server holds a second of sound meanwhile); the callback
// allocates nothing and never waits. UI thread.
void returnFreedHeap();

// Writes what the output threads got, once per process, on stderr: the operator learns whether
// the machine gives the sound priority. Later calls say nothing.
void reportOnce(const Grant& grant);

} // namespace ThreadPriority
