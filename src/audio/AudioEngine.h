#pragma once
// The process's one audio output: mixes the three decks.
#include <memory>

class AudioEngine {
public:
    // The system's default output.
    static std::unique_ptr<AudioEngine> createDefault() { return std::make_unique<AudioEngine>(); }
};
