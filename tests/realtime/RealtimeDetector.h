#pragma once
// Counts allocations, frees, lock calls, reads and writes made by a thread while it is armed
// (RealtimeDetector.cpp replaces those functions for the whole program it is linked into). Arm
// the thread that runs the audio callback, e.g. around AudioEngine::renderInto() offline.
#include <atomic>

namespace realtime {

extern thread_local bool t_armed;
// Calls seen while armed, on any thread; reset it before a measurement.
extern std::atomic<int> g_hits;

// Arms the detector on this thread for its lifetime.
class Armed {
public:
    Armed() { t_armed = true; }
    ~Armed() { t_armed = false; }
    Armed(const Armed&) = delete;
    Armed& operator=(const Armed&) = delete;
};

} // namespace realtime
