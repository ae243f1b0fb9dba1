#pragma once
// The process's one audio output. Mixes every deck (one per DeckPlayer) in a real-time callback
// that only reads lock-free ring buffers, applies each deck's gain, counts frames and resamples
// the decks whose files are at another rate (each rate once, for all its decks). A worker thread
// decodes the decks' files into those buffers; files stream from disk.
//
// Threads: every public method runs on the user-interface thread unless its comment says
// otherwise. process() is the audio callback. Notifications (end of file, exact length found, file
// lost) reach the decks' listeners on the user-interface thread, inside processNotifications():
// offline engines deliver them when it is called; the real engine calls it itself, through a
// queued call posted by its worker thread.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "audio/engine/DeckTypes.h"
#include "audio/output/OutputBackend.h"
#include "audio/output/OutputDevices.h"

class Decoder;
class QObject;
class OutputSupervisor;
namespace engine {
struct Deck;
class DeckPlayback;
class History;
class LengthScans;
class OfflinePasses;
class RateGroups;
} // namespace engine

class AudioEngine final : public OutputSource {
public:
    static constexpr int kMaxDecks = engine::kMaxDecks;
    static constexpr int kMaxGroups = engine::kMaxGroups;
    using Listener = engine::DeckListener;
    using DeckInfo = engine::DeckInfo;

    // Where the mix goes.
    enum class Output { Offline, Device, SilentClock };

    // The sound server's default sink, or PortAudio's default output, at the device's rate; or the
    // device given, and only it. When the device cannot be opened, the silent clock (positions
    // still advance in real time; said once on stderr); the engine keeps trying to reopen the same
    // device, and falls back the same way if the device goes away.
    static std::unique_ptr<AudioEngine> createDefault(std::optional<OutputDevice> device = std::nullopt);
    // Renders nothing until render() is called: for tests and benchmarks. Deterministic: before
    // any block that a deck could lack data for (a load, a seek, a buffer running low), rendering
    // waits for the worker to have filled every deck's buffer.
    static std::unique_ptr<AudioEngine> createOffline(int sampleRate = 48000, int framesPerBuffer = 256);
    // The silent clock alone, without trying any device.
    static std::unique_ptr<AudioEngine> createSilentClock(int sampleRate = 48000, int framesPerBuffer = 256);

    ~AudioEngine() override;
    AudioEngine(const AudioEngine&) = delete;
    AudioEngine& operator=(const AudioEngine&) = delete;

    // Any thread.
    int sampleRate() const { return m_sampleRate; }
    int framesPerBuffer() const { return m_framesPerBuffer; }
    Output output() const;
    // Seconds between the callback and the listener (0 offline and on the silent clock).
    double outputLatency() const;

    // Offline engines only (throws std::logic_error otherwise). Runs the callback in blocks of
    // framesPerBuffer() and returns the mix, interleaved stereo; then processNotifications().
    std::vector<float> render(std::size_t frames);
    // The same into out (2 x frames floats), without allocating and without delivering
    // notifications: what runs on the rendering thread is only the waiting for the worker and the
    // callback itself.
    void renderInto(float* out, std::size_t frames);

    // Delivers every pending notification to the decks' listeners. Offline, it first waits for any
    // length count in progress, so the result does not depend on timing.
    void processNotifications();

    // --- Decks (used by DeckPlayer) ---
    // A new deck, silent and empty; listener must outlive it. Throws PlayerError when all are taken.
    int attachDeck(Listener& listener);
    void detachDeck(int deck);
    // Opens path on the deck, halted at its start, replacing what it held. Throws PlayerError
    // naming the file and the reason; the deck is then untouched.
    DeckInfo load(int deck, const std::string& path);
    void unload(int deck);
    DeckInfo deckInfo(int deck) const;
    // Heard from the next callback on; start and stop are ramped over a few milliseconds.
    void setPlaying(int deck, bool playing);
    // Moves the deck to a position (clamped to the file); the deck keeps playing or not.
    void seek(int deck, double seconds);
    // Linear gain, reached by a short ramp in the callback.
    void setGain(int deck, float gain);
    // Seconds the listener has heard of the file.
    double position(int deck) const;

    // The audio callback: mixes every deck into out (2 x frames floats). Never locks, allocates,
    // does I/O or logs. Audio thread only (one at a time).
    void process(float* out, std::size_t frames) noexcept override;
    // The audio thread: goes back up to frames of what process() made (less where a snapshot of
    // the callback's state lies only later, or when asked further back than two seconds), so that
    // process() makes them again as the decks are set now; returns how many it went back. Never
    // locks, allocates, does I/O or logs.
    std::size_t rewind(std::size_t frames) noexcept override;
    // Readable when a deck was changed (started, halted, its gain, a seek or a file) or the worker
    // has the frames of a new position ready: what an output has queued may no longer be right.
    int changeSignal() const override { return m_changeSignal; }
    // The audio thread: no deck played or faded out in the last block (nor will one, until a deck
    // changes).
    bool idle() const noexcept override { return m_cbIdle; }

private:
    using Deck = engine::Deck;
    struct LostEvent {
        int deck;
        std::uint32_t loadSerial;
        std::string reason;
    };

    AudioEngine(int sampleRate, int framesPerBuffer, Output output);
    void startWorker();
    void stopWorker();
    void workerLoop();
    void servicePass(); // worker thread: fill every ring
    void watchEvents(); // worker thread: post processNotifications() when something happened
    void makeSupervisor(std::optional<OutputDevice> device);
    void postNotifications(); // any non-real-time thread
    void adoptLatency(double seconds);
    void wakeWorker();
    void processBlock(float* out, std::size_t frames) noexcept; // at most framesPerBuffer()
    void handOver(int index, std::unique_ptr<Decoder> decoder, int group, const DeckInfo& info);
    void noteChange(); // user-interface or worker thread
    Deck& deck(int index) const;

    int m_sampleRate;
    int m_framesPerBuffer;
    const bool m_offline;
    std::vector<std::unique_ptr<Deck>> m_decks;
    const std::unique_ptr<engine::RateGroups> m_groups;
    const std::unique_ptr<engine::History> m_history;       // the callback's
    const std::unique_ptr<engine::DeckPlayback> m_playback; // the callback's
    const std::unique_ptr<engine::OfflinePasses> m_passes;  // offline engines only
    const std::unique_ptr<engine::LengthScans> m_scans;     // user-interface thread

    std::unique_ptr<OutputSupervisor> m_supervisor; // none offline; the worker's after start-up
    int m_changeSignal = -1;                        // an eventfd; written on every change of a deck
    bool m_cbIdle = false;                          // the callback's
    std::atomic<double> m_latencySeconds{0.0};
    std::atomic<bool> m_latencyStale{false}; // the output changed: its latency to be taken up

    std::thread m_worker;
    std::atomic<bool> m_stopWorker{false};
    std::mutex m_wakeMutex;
    std::condition_variable m_wake;
    bool m_wakeRequested = false;

    std::mutex m_eventMutex; // worker and scanners vs user-interface thread
    std::vector<LostEvent> m_lost;
    std::atomic<bool> m_notifyPosted{false};
    // Worker only: the dropouts already said on stderr, and when the next notice may come.
    std::uint32_t m_starvedSeen = 0;
    unsigned long m_underflowsSeen = 0;
    std::chrono::steady_clock::time_point m_nextDropoutNotice{};
    std::unique_ptr<QObject> m_uiContext; // receives the queued processNotifications()
};
