#pragma once
// For test suites named Pulse*: points this process's sound clients (ALSA, PortAudio, pactl) at the
// private PulseAudio server that CTest starts for them. Returns false, and the test should fail,
// when the server's folder was not given.
#include <cstdlib>
#include <string>

inline bool usePulseServer() {
    const char* dir = std::getenv("FADEWELL_PULSE_DIR");
    if (dir == nullptr || *dir == '\0')
        return false;
    const std::string d = dir;
    ::setenv("XDG_RUNTIME_DIR", d.c_str(), 1);
    ::setenv("PULSE_COOKIE", (d + "/cookie").c_str(), 1);
    ::setenv("PULSE_STATE_PATH", (d + "/state").c_str(), 1);
    return true;
}
