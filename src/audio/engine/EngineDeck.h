#pragma once
// A deck of the engine, as its threads share it: the ring of decoded frames and the markers of
// seeks and the end (worker to callback), the requests of the user-interface thread, the callback's
// own state, and what each thread tells the others. The engine's own (AudioEngine.cpp,
// DeckFeeder.cpp); nothing outside the engine uses it.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "audio/decode/Decoder.h"
#include "audio/engine/DeckFades.h"
#include "audio/engine/DeckTypes.h"
#include "audio/engine/RingBuffer.h"

namespace engine {

constexpr std::uint64_t kFrameMask = (std::uint64_t{1} << 48) - 1;
constexpr std::uint32_t kNoGen = 0x10000;
constexpr std::size_t kFillChunk = 1024; // frames the worker decodes at a time

// A seek request, or a position heard: a generation (16 bits) and a frame, packed so both are read
// together.
inline std::uint64_t pack(std::uint16_t gen, std::uint64_t frames) {
    return (std::uint64_t{gen} << 48) | (frames & kFrameMask);
}
inline std::uint16_t genOf(std::uint64_t packed) {
    return static_cast<std::uint16_t>(packed >> 48);
}
inline std::uint64_t framesOf(std::uint64_t packed) {
    return packed & kFrameMask;
}

struct Marker {
    enum Kind : std::uint8_t { Seek, End };
    std::uint64_t index = 0; // ring index where it takes effect
    std::uint16_t gen = 0;
    Kind kind = Seek;
    std::int8_t group = -1; // the rate group of the frames after a seek; -1: at the engine's rate
};

// What the callback knows of a deck, saved with each snapshot so the mix can be made again from there.
struct CallbackDeck {
    int group = -1; // where the frames in the ring go: a rate group, or -1 straight into the mix
    std::uint16_t gen = 0;
    std::uint64_t consumed = 0;
    bool ended = false;
    std::uint32_t endedGen = kNoGen; // the last generation played to its end
    DeckFades fades;                 // the transport fade and the volume ramp
};

// One deck. Fields are grouped by the thread that writes them.
struct Deck {
    Deck(std::size_t ringFrames, int sampleRate) : ring(ringFrames, false), uiRingRate(sampleRate) {}

    StereoRing ring; // worker -> callback; its storage allocated when the deck is first attached
    // Worker -> callback: where seeks and the end take effect. Kept for as long as the callback may
    // go back (two seconds): room for a seek every two milliseconds, as a dragged position bar asks.
    SpscQueue<Marker, 1024> markers;

    // User-interface thread -> worker and callback. A seek request is a generation (16 bits) and a
    // file frame, packed so both are read together.
    std::atomic<std::uint64_t> seekRequest{0};
    std::atomic<bool> playing{false};
    std::atomic<float> gain{1.0f};

    // Callback -> user-interface thread.
    std::atomic<std::uint64_t> heard{0}; // generation and frames heard of it
    std::atomic<std::uint32_t> endedGen{kNoGen};

    CallbackDeck cb; // callback only
    // Callback only: the deck just after it last skipped to a new position (a seek or a file taken
    // up), and the first snapshot made after that.
    struct Skip {
        std::uint64_t snapshot = 0;
        CallbackDeck cb;
        std::uint64_t ringCursor = 0;
        std::uint64_t markerCursor = 0;
    } skip;

    // User-interface thread -> worker, under handoff.
    std::mutex handoff;
    std::unique_ptr<Decoder> pendingDecoder;
    int pendingGroup = -1;
    std::size_t pendingRingFrames = 0; // what the ring holds at least for the file's rate
    std::uint32_t pendingSerial = 0;

    // Worker only.
    std::unique_ptr<Decoder> decoder;
    int group = -1; // the decoder's rate group
    std::size_t ringFrames = 0;
    bool awaitingRoom = false; // the ring grows once the callback hands back what it holds
    std::uint32_t workerSerial = 0;
    int producerGen = 0;
    bool atEnd = false;

    // Worker -> offline rendering thread: what the worker has served, so the renderer asks for a
    // pass only when a deck could lack data for the next block.
    std::atomic<std::uint32_t> loadRequested{0}; // written by the user-interface thread
    std::atomic<std::uint32_t> loadServed{0};
    std::atomic<int> servedGen{0};
    std::atomic<bool> feeding{false}; // has a file and has not reached its end
    std::uint32_t endedSeen = kNoGen;

    // User-interface thread only.
    DeckListener* listener = nullptr;
    bool attached = false;
    std::uint16_t uiGen = 0;
    double segmentStart = 0.0;
    DeckInfo info;
    int uiRingRate; // the rate positions count in
    bool loaded = false;
    std::uint32_t loadSerial = 0;
    bool endReported = false;
};

} // namespace engine
