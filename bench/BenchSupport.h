#pragma once
// Small measurements shared by the benchmark programs.
#include <fstream>
#include <string>

// The process's resident memory in KiB, from /proc; -1 when it cannot be read.
inline long residentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}
