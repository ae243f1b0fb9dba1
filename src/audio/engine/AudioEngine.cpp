#include "audio/engine/AudioEngine.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QObject>
#if defined(__SSE__)
#include <xmmintrin.h>
#endif

#include "audio/engine/DeckFeeder.h"
#include "audio/engine/DeckMixer.h"
#include "audio/decode/Decoder.h"
#include "audio/engine/EngineDeck.h"
#include "audio/output/OutputBackend.h"
#include "audio/output/OutputSupervisor.h"
#include "audio/decode/Resampler.h"
#include "audio/engine/RingBuffer.h"
#include "audio/output/ThreadPriority.h"
#include "common/Errors.h"

using namespace engine;

namespace {

// Read-ahead: a deck plays on this long while its file cannot be read (a slow disk, a worker kept
// from the processor); at the usual rates, more (the rings' sizes are powers of two).
constexpr double kRingSeconds = 1.6;
constexpr int kRingRate = 96000; // rings hold kRingSeconds at this rate or the engine's, if higher
constexpr double kVolumeRampSeconds = 0.005;    // a fade tick's step reaches its gain this fast
constexpr double kTransportRampSeconds = 0.003; // start, halt, stop and seek fade in and out
// How far back the callback can go to make its sound again (the most an output keeps queued), and
// how many snapshots it keeps for that: one at most every block of the engine's, and so
// kSnapshots x framesPerBuffer frames back at least.
constexpr double kMostRewindSeconds = 2.0;
constexpr std::uint64_t kSnapshots = 1024;
constexpr auto kWorkerPeriod = std::chrono::milliseconds(5);
constexpr int kWorkerNice = -10;

// Flush-to-zero and denormals-are-zero for the callback, restored after it: a fading tail must
// not fall into denormal arithmetic, and the rendering thread of an offline engine is the caller's.
class DenormalGuard {
public:
    DenormalGuard() noexcept {
#if defined(__SSE__)
        m_saved = _mm_getcsr();
        _mm_setcsr(m_saved | 0x8040);
#endif
    }
    ~DenormalGuard() {
#if defined(__SSE__)
        _mm_setcsr(m_saved);
#endif
    }

private:
    unsigned m_saved = 0;
};

} // namespace

// The callback's state at the start of a block: where its decks stood in their rings and ramps, and
// the position each had reached. The callback goes back to one of these when sound it has made, not
// heard yet, must be made again (rewind()); what the listener hears now is read from the one that
// lies the output's latency back.
struct AudioEngine::Snapshot {
    struct DeckAt {
        CallbackDeck cb;
        std::uint64_t ringCursor = 0;
        std::uint64_t markerCursor = 0;
        std::uint64_t heard = 0; // generation and frames heard of it
    };
    struct GroupAt {
        bool running = false;
        std::size_t tailLeft = 0;
    };
    std::uint64_t frame = 0; // output frames made before it
    std::array<DeckAt, kMaxDecks> decks{};
    std::array<GroupAt, kMaxGroups> groups{};
};

// The decks whose files share a rate other than the engine's are mixed at that rate and resampled
// together, in the callback: three decks of 44.1 kHz files on a 48 kHz device cost one resampler.
// A group is made on the user-interface thread when a file first needs its rate, and kept.
struct AudioEngine::RateGroup {
    std::atomic<int> rate{0}; // published last, with release; 0: not made yet
    std::unique_ptr<PolyphaseResampler> resampler;
    std::vector<float> mix;                       // the group's decks, one block at their rate
    std::vector<float> resampled;                 // one block at the engine's rate
    std::vector<PolyphaseResampler::State> saved; // the filter at each snapshot (slot for slot)
    // Callback only.
    bool cbRunning = false;     // holds frames still to come out (otherwise cleared, and skipped)
    std::size_t cbTailLeft = 0; // input frames of silence until the last deck's tail is out
};

struct AudioEngine::ScanJob {
    int deck = 0;
    std::uint32_t loadSerial = 0;
    std::atomic<bool> cancel{false};
    std::atomic<bool> done{false};
    std::int64_t frames = -1;
    std::thread thread;
};

AudioEngine::AudioEngine(int sampleRate, int framesPerBuffer, Output output)
    : m_sampleRate(sampleRate), m_framesPerBuffer(framesPerBuffer), m_offline(output == Output::Offline),
      m_uiContext(std::make_unique<QObject>()) {
    if (sampleRate < 8000 || sampleRate > 384000 || framesPerBuffer < 16 || framesPerBuffer > 8192)
        throw std::invalid_argument("AudioEngine: unusable sample rate or buffer size");
    // What the callback may go back to stays in the ring too, on top of the read-ahead.
    const auto ringFrames =
        static_cast<std::size_t>((kRingSeconds + kMostRewindSeconds) * std::max(sampleRate, kRingRate)) +
        4 * kFillChunk;
    for (int i = 0; i < kMaxDecks; ++i)
        m_decks.push_back(std::make_unique<Deck>(ringFrames, sampleRate));
    for (int i = 0; i < kMaxGroups; ++i)
        m_groups.push_back(std::make_unique<RateGroup>());
    m_snapshots.resize(kSnapshots);
    m_rewindLimit = static_cast<std::uint64_t>(kMostRewindSeconds * sampleRate);
    if (!m_offline) // nothing plays an offline engine's sound but its caller
        m_changeSignal = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

std::unique_ptr<AudioEngine> AudioEngine::createOffline(int sampleRate, int framesPerBuffer) {
    std::unique_ptr<AudioEngine> engine(new AudioEngine(sampleRate, framesPerBuffer, Output::Offline));
    engine->startWorker();
    return engine;
}

std::unique_ptr<AudioEngine> AudioEngine::createSilentClock(int sampleRate, int framesPerBuffer) {
    std::unique_ptr<AudioEngine> engine(new AudioEngine(sampleRate, framesPerBuffer, Output::SilentClock));
    engine->makeSupervisor({});
    engine->m_supervisor->openSilentClock();
    engine->startWorker();
    return engine;
}

std::unique_ptr<AudioEngine> AudioEngine::createDefault(std::optional<OutputDevice> device) {
    constexpr int kFramesPerBuffer = 256;
    ThreadPriority::lockMemory();
    // A PortAudio device that reaches the sound server (ALSA's "pulse" or "default") goes through
    // ALSA's plugin, whose stream the server would list as the plugin's: the program's name and
    // icon instead, as its own stream has them. Set at start-up, before the engine's threads start;
    // whatever the user set there stays.
    ::setenv("PULSE_PROP_OVERRIDE_application.name", "Fadewell", 0);
    ::setenv("PULSE_PROP_OVERRIDE_application.icon_name", "fadewell", 0);
    std::string error;
    const int rate = outputRate(device ? &*device : nullptr, error);
    std::unique_ptr<AudioEngine> engine(
        new AudioEngine(rate > 0 ? rate : 48000, kFramesPerBuffer, Output::Device));
    engine->makeSupervisor(std::move(device));
    engine->m_supervisor->openDevice(rate > 0 ? std::string() : error.empty() ? "no output device" : error);
    engine->adoptLatency(engine->m_supervisor->latencySeconds());
    engine->startWorker();
    return engine;
}

void AudioEngine::makeSupervisor(std::optional<OutputDevice> device) {
    m_supervisor =
        std::make_unique<OutputSupervisor>(*this, m_sampleRate, m_framesPerBuffer, std::move(device), [this] {
            // No callback runs here. What the new output will make is not heard before what the
            // one before made; its own latency is taken up on the worker's next pass.
            m_switchFrame.store(m_cbFrame, std::memory_order_relaxed);
            m_latencyFrames.store(m_rewindLimit, std::memory_order_relaxed);
            m_latencyStale.store(true, std::memory_order_relaxed);
        });
}

AudioEngine::~AudioEngine() {
    // The worker looks after the output (it replaces it when the device goes or comes back): stop
    // it before touching the output. The callback needs no worker; it only underruns meanwhile.
    stopWorker();
    m_supervisor.reset(); // no callback runs after this
    for (auto& job : m_scans) {
        job->cancel.store(true);
        job->thread.join();
    }
    m_uiContext.reset();
    if (m_changeSignal >= 0)
        ::close(m_changeSignal);
}

void AudioEngine::noteChange() {
    if (m_changeSignal < 0)
        return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(m_changeSignal, &one, sizeof one);
}

AudioEngine::Output AudioEngine::output() const {
    if (m_offline)
        return Output::Offline;
    return m_supervisor->onDevice() ? Output::Device : Output::SilentClock;
}

double AudioEngine::outputLatency() const {
    return m_latencySeconds.load();
}

// Start-up or worker thread: what the listener hears is what the callback made this long ago.
void AudioEngine::adoptLatency(double seconds) {
    m_latencySeconds.store(seconds);
    m_latencyFrames.store(static_cast<std::uint64_t>(std::llround(std::max(0.0, seconds) * m_sampleRate)));
}

AudioEngine::Deck& AudioEngine::deck(int index) const {
    if (index < 0 || index >= kMaxDecks)
        throw std::out_of_range("AudioEngine: no such deck");
    return *m_decks[static_cast<std::size_t>(index)];
}

// ---------------------------------------------------------------- decks (user-interface thread)

int AudioEngine::attachDeck(Listener& listener) {
    for (int i = 0; i < kMaxDecks; ++i) {
        Deck& d = deck(i);
        if (!d.attached) {
            d.attached = true;
            d.listener = &listener;
            d.endReported = false;
            return i;
        }
    }
    throw PlayerError("The audio engine has no free deck");
}

void AudioEngine::detachDeck(int index) {
    unload(index);
    Deck& d = deck(index);
    d.attached = false;
    d.listener = nullptr;
}

AudioEngine::DeckInfo AudioEngine::load(int index, const std::string& path) {
    Deck& d = deck(index);
    std::unique_ptr<Decoder> decoder = Decoder::open(path); // throws, deck untouched
    const DecoderInfo& fi = decoder->info();
    int group = -1;
    if (fi.fileRate != m_sampleRate) {
        group = groupFor(fi.fileRate);
        if (group < 0)
            decoder->resampleTo(m_sampleRate); // an unusual ratio: the worker resamples this deck alone
    }

    for (auto& job : m_scans)
        if (job->deck == index)
            job->cancel.store(true);

    d.playing.store(false, std::memory_order_release);
    d.info = {static_cast<double>(fi.frames) / fi.fileRate, fi.exactLength, fi.fileRate, fi.fileChannels};
    d.uiRingRate = group >= 0 ? fi.fileRate : m_sampleRate;
    d.loaded = true;
    ++d.loadSerial;
    d.uiGen = static_cast<std::uint16_t>(d.uiGen + 1);
    d.segmentStart = 0.0;
    d.endReported = false;
    {
        std::lock_guard lock(d.handoff);
        d.pendingDecoder = std::move(decoder); // a decoder the worker never took is freed here
        d.pendingGroup = group;
        d.pendingSerial = d.loadSerial;
    }
    d.loadRequested.store(d.loadSerial, std::memory_order_release);
    d.seekRequest.store(pack(d.uiGen, 0), std::memory_order_release);

    if (fi.countFrames) {
        auto job = std::make_unique<ScanJob>();
        job->deck = index;
        job->loadSerial = d.loadSerial;
        ScanJob* raw = job.get();
        job->thread = std::thread([this, raw, count = fi.countFrames] {
            raw->frames = count(&raw->cancel);
            raw->done.store(true, std::memory_order_release);
            postNotifications();
        });
        m_scans.push_back(std::move(job));
    }
    noteChange();
    wakeWorker();
    return d.info;
}

void AudioEngine::unload(int index) {
    Deck& d = deck(index);
    for (auto& job : m_scans)
        if (job->deck == index)
            job->cancel.store(true);
    d.playing.store(false, std::memory_order_release);
    d.info = {};
    d.uiRingRate = m_sampleRate;
    d.loaded = false;
    ++d.loadSerial;
    d.uiGen = static_cast<std::uint16_t>(d.uiGen + 1);
    d.segmentStart = 0.0;
    {
        std::lock_guard lock(d.handoff);
        d.pendingDecoder.reset();
        d.pendingGroup = -1;
        d.pendingSerial = d.loadSerial;
    }
    d.loadRequested.store(d.loadSerial, std::memory_order_release);
    d.seekRequest.store(pack(d.uiGen, 0), std::memory_order_release);
    noteChange();
    wakeWorker();
}

AudioEngine::DeckInfo AudioEngine::deckInfo(int index) const {
    return deck(index).info;
}

void AudioEngine::setPlaying(int index, bool playing) {
    if (deck(index).playing.exchange(playing, std::memory_order_acq_rel) != playing)
        noteChange();
    wakeWorker();
}

void AudioEngine::seek(int index, double seconds) {
    Deck& d = deck(index);
    if (!d.loaded)
        return;
    seconds = std::clamp(std::isfinite(seconds) ? seconds : 0.0, 0.0, d.info.duration);
    d.uiGen = static_cast<std::uint16_t>(d.uiGen + 1);
    d.segmentStart = seconds;
    d.endReported = false;
    const auto frame = static_cast<std::uint64_t>(std::llround(seconds * d.info.fileRate));
    d.seekRequest.store(pack(d.uiGen, frame), std::memory_order_release);
    noteChange();
    wakeWorker();
}

void AudioEngine::setGain(int index, float gain) {
    gain = std::max(0.0f, gain);
    if (deck(index).gain.exchange(gain, std::memory_order_acq_rel) != gain)
        noteChange();
}

double AudioEngine::position(int index) const {
    const Deck& d = deck(index);
    const std::uint64_t heard = d.heard.load(std::memory_order_acquire);
    if (genOf(heard) != d.uiGen)
        return d.segmentStart; // the callback has not reached the latest seek yet
    return std::min(d.segmentStart + static_cast<double>(framesOf(heard)) / d.uiRingRate, d.info.duration);
}

int AudioEngine::groupFor(int fileRate) {
    for (int i = 0; i < kMaxGroups; ++i) {
        RateGroup& g = *m_groups[static_cast<std::size_t>(i)];
        const int rate = g.rate.load(std::memory_order_relaxed); // only this thread writes it
        if (rate == fileRate)
            return i;
        if (rate != 0)
            continue;
        // The most input one block can need: the frames it spans, and one for the rounding.
        const auto chunk = static_cast<std::size_t>(
            std::ceil(static_cast<double>(m_framesPerBuffer) * fileRate / m_sampleRate) + 2);
        g.resampler = PolyphaseResampler::create(fileRate, m_sampleRate, chunk);
        if (!g.resampler)
            return -1;
        g.mix.assign(2 * g.resampler->maxWrite(), 0.0f);
        g.resampled.assign(2 * static_cast<std::size_t>(m_framesPerBuffer), 0.0f);
        g.saved.reserve(kSnapshots);
        for (std::uint64_t k = 0; k < kSnapshots; ++k)
            g.saved.push_back(g.resampler->makeState());
        g.rate.store(fileRate, std::memory_order_release);
        return i;
    }
    return -1; // every group taken: the worker resamples
}

// ---------------------------------------------------------------- audio callback

void AudioEngine::process(float* out, std::size_t frames) noexcept {
    DenormalGuard guard;
    const auto block = static_cast<std::size_t>(m_framesPerBuffer); // what the groups are sized for
    for (std::size_t done = 0; done < frames; done += block)
        processBlock(out + 2 * done, std::min(block, frames - done));
}

void AudioEngine::processBlock(float* out, std::size_t frames) noexcept {
    takeSnapshot();
    std::fill(out, out + 2 * frames, 0.0f);
    // What each rate group needs at its own rate for this block.
    std::array<std::size_t, kMaxGroups> needed{};
    std::array<bool, kMaxGroups> ready{};
    std::array<bool, kMaxGroups> fed{};
    for (std::size_t g = 0; g < kMaxGroups; ++g) {
        RateGroup& group = *m_groups[g];
        if (group.rate.load(std::memory_order_acquire) == 0)
            continue;
        ready[g] = true;
        needed[g] = group.resampler->inputFor(frames);
        std::fill_n(group.mix.begin(), 2 * needed[g], 0.0f);
    }

    for (auto& deckPtr : m_decks) {
        Deck& d = *deckPtr;
        // A deck that is silent takes up a requested seek (or new file) before its target is
        // chosen, so a file at another rate starts in this very block.
        const std::uint16_t requestedGen = genOf(d.seekRequest.load(std::memory_order_acquire));
        if (requestedGen != d.cb.gen && d.cb.fades.transport == 0)
            takeSeek(d, requestedGen);
        if (d.cb.group < 0) {
            mixDeck(d, out, frames);
        } else {
            const auto g = static_cast<std::size_t>(d.cb.group);
            if (ready[g] && mixDeck(d, m_groups[g]->mix.data(), needed[g]))
                fed[g] = true;
        }
    }

    for (std::size_t g = 0; g < kMaxGroups; ++g) {
        RateGroup& group = *m_groups[g];
        if (!ready[g] || !(fed[g] || group.cbRunning))
            continue; // nobody in it, and its last tail is out: it stays cleared
        group.resampler->write(group.mix.data(), needed[g]);
        const std::size_t got = group.resampler->read(group.resampled.data(), frames);
        for (std::size_t i = 0; i < 2 * got; ++i)
            out[i] += group.resampled[i];
        if (fed[g]) {
            group.cbRunning = true;
            group.cbTailLeft = static_cast<std::size_t>(group.resampler->tapsPerPhase());
        } else {
            group.cbTailLeft -= std::min(group.cbTailLeft, needed[g]);
            if (group.cbTailLeft == 0) {
                group.cbRunning = false;
                group.resampler->clear();
            }
        }
    }

    m_cbFrame += frames;
    publishHeard();
}

std::uint64_t AudioEngine::heardNow(const Deck& d) const noexcept {
    // A group's filter holds back the last few frames it was given: not heard yet.
    std::uint64_t played = d.cb.consumed;
    if (d.cb.group >= 0) {
        const auto ahead = static_cast<std::uint64_t>(
            std::ceil(m_groups[static_cast<std::size_t>(d.cb.group)]->resampler->inputAhead()));
        played = played > ahead ? played - ahead : 0;
    }
    return pack(d.cb.gen, played);
}

AudioEngine::Snapshot& AudioEngine::snapshot(std::uint64_t index) noexcept {
    return m_snapshots[static_cast<std::size_t>(index % kSnapshots)];
}

void AudioEngine::takeSnapshot() noexcept {
    if (m_snapshotEnd != m_snapshotBegin &&
        m_cbFrame - snapshot(m_snapshotEnd - 1).frame < static_cast<std::uint64_t>(m_framesPerBuffer))
        return; // one a block of the engine's at most, however the output cuts its requests
    if (m_snapshotEnd - m_snapshotBegin == kSnapshots)
        ++m_snapshotBegin; // the oldest gives way
    const auto slot = static_cast<std::size_t>(m_snapshotEnd % kSnapshots);
    Snapshot& s = m_snapshots[slot];
    s.frame = m_cbFrame;
    // A deck that never took up a file, and a group never made, are as every slot starts: not
    // copied (this runs every few milliseconds, each time into memory not touched for seconds).
    for (std::size_t k = 0; k < kMaxDecks; ++k) {
        const Deck& d = *m_decks[k];
        if (d.markers.readIndex() != 0)
            s.decks[k] = {d.cb, d.ring.readIndex(), d.markers.readIndex(), heardNow(d)};
    }
    for (std::size_t g = 0; g < kMaxGroups; ++g) {
        RateGroup& group = *m_groups[g];
        if (group.rate.load(std::memory_order_relaxed) == 0)
            continue;
        s.groups[g] = {group.cbRunning, group.cbTailLeft};
        if (group.cbRunning)
            group.resampler->save(group.saved[slot]);
    }
    ++m_snapshotEnd;
    // What lies further back than any output keeps queued goes back to the worker to fill again.
    while (m_snapshotEnd - m_snapshotBegin > 1 &&
           snapshot(m_snapshotBegin + 1).frame + m_rewindLimit <= m_cbFrame)
        ++m_snapshotBegin;
    // A deck that skipped to a new position since the oldest snapshot needs nothing from before
    // the skip (see rewind()).
    const Snapshot& oldest = snapshot(m_snapshotBegin);
    for (std::size_t k = 0; k < kMaxDecks; ++k) {
        Deck& d = *m_decks[k];
        if (d.skip.snapshot > m_snapshotBegin)
            continue; // handed back up to the skip when it was made
        d.ring.release(oldest.decks[k].ringCursor);
        d.markers.release(oldest.decks[k].markerCursor);
    }
}

void AudioEngine::publishHeard() noexcept {
    // A new output holds nothing yet: what is heard is what the previous one made, up to the switch.
    const std::uint64_t latency = std::min(m_latencyFrames.load(std::memory_order_relaxed),
                                           m_cbFrame - m_switchFrame.load(std::memory_order_relaxed));
    if (latency == 0) {
        for (auto& d : m_decks) {
            d->heard.store(heardNow(*d), std::memory_order_release);
            d->endedGen.store(d->cb.endedGen, std::memory_order_release);
        }
        return;
    }
    // What the listener hears now is what the callback made latency frames ago: the state of the
    // last snapshot before that.
    if (m_cbFrame < latency)
        return;
    const std::uint64_t heardFrame = m_cbFrame - latency;
    std::uint64_t i = m_snapshotEnd;
    while (i > m_snapshotBegin && snapshot(i - 1).frame > heardFrame)
        --i;
    if (i == m_snapshotBegin)
        return;
    const Snapshot& s = snapshot(i - 1);
    for (std::size_t k = 0; k < kMaxDecks; ++k) {
        m_decks[k]->heard.store(s.decks[k].heard, std::memory_order_release);
        m_decks[k]->endedGen.store(s.decks[k].cb.endedGen, std::memory_order_release);
    }
}

bool AudioEngine::heardBeforeASkip(std::uint64_t index) noexcept {
    for (std::size_t k = 0; k < kMaxDecks; ++k)
        if (index < m_decks[k]->skip.snapshot && snapshot(index).decks[k].cb.fades.transport != 0)
            return true;
    return false;
}

std::size_t AudioEngine::rewind(std::size_t frames) noexcept {
    // The earliest snapshot no further back than asked.
    const std::uint64_t target = m_cbFrame - std::min<std::uint64_t>(frames, m_cbFrame);
    std::uint64_t i = m_snapshotEnd;
    while (i > m_snapshotBegin && snapshot(i - 1).frame >= target)
        --i;
    // Not to where a deck was still heard before it skipped to a new position: its fade-out would
    // be cut (what it was fading out from was handed back); a little later instead.
    while (i < m_snapshotEnd && heardBeforeASkip(i))
        ++i;
    if (i == m_snapshotEnd)
        return 0;
    const auto slot = static_cast<std::size_t>(i % kSnapshots);
    const Snapshot& s = m_snapshots[slot];
    for (std::size_t k = 0; k < kMaxDecks; ++k) {
        Deck& d = *m_decks[k];
        if (i < d.skip.snapshot) {
            // Back to before the deck skipped to its new position: the skip is kept (at that
            // moment the deck was fading out to make it, or silent), and its new position plays
            // from here. What it read ahead before the skip was handed back.
            d.cb = d.skip.cb;
            d.ring.rewindTo(d.skip.ringCursor);
            d.markers.rewindTo(d.skip.markerCursor);
            d.skip.snapshot = i + 1; // the snapshot gone back to still holds the deck before it
            continue;
        }
        d.cb = s.decks[k].cb;
        d.ring.rewindTo(s.decks[k].ringCursor);
        d.markers.rewindTo(s.decks[k].markerCursor);
    }
    for (std::size_t g = 0; g < kMaxGroups; ++g) {
        RateGroup& group = *m_groups[g];
        if (group.rate.load(std::memory_order_acquire) == 0)
            continue;
        group.cbRunning = s.groups[g].running;
        group.cbTailLeft = s.groups[g].tailLeft;
        if (group.cbRunning)
            group.resampler->restore(group.saved[slot]);
        else
            group.resampler->clear(); // as it was: a group at rest is cleared
    }
    const auto back = static_cast<std::size_t>(m_cbFrame - s.frame);
    m_cbFrame = s.frame;
    m_snapshotEnd = i + 1;
    return back;
}

bool AudioEngine::takeSeek(Deck& d, std::uint16_t requestedGen) noexcept {
    // Silent now: drop everything before the requested position's first frame.
    while (const Marker* m = d.markers.front()) {
        const Marker marker = *m;
        d.markers.pop();
        if (marker.kind != Marker::Seek)
            continue;
        d.ring.discardUntil(marker.index);
        if (marker.gen == requestedGen) {
            d.cb.gen = marker.gen;
            d.cb.consumed = 0;
            d.cb.ended = false;
            d.cb.group = marker.group;
            // Going back to before this moment keeps the skip: nothing before it is read again,
            // and what was read ahead before the new position is the worker's to fill at once.
            d.skip = {m_snapshotEnd, d.cb, d.ring.readIndex(), d.markers.readIndex()};
            d.ring.release(d.ring.readIndex());
            d.markers.release(d.markers.readIndex());
            return true;
        }
    }
    return false; // the worker has not reached it yet
}

bool AudioEngine::mixDeck(Deck& d, float* out, std::size_t frames) noexcept {
    const std::uint16_t requestedGen = genOf(d.seekRequest.load(std::memory_order_acquire));
    const bool play = d.playing.load(std::memory_order_acquire);
    const float target = d.gain.load(std::memory_order_acquire);
    // The rate of the frames in the ring: the group's, or the engine's.
    const int rate =
        d.cb.group >= 0 ? m_groups[static_cast<std::size_t>(d.cb.group)]->rate.load(std::memory_order_acquire)
                        : m_sampleRate;
    const int volumeRamp = std::max(1, static_cast<int>(kVolumeRampSeconds * rate));
    const int transportRamp = std::max(1, static_cast<int>(kTransportRampSeconds * rate));
    d.cb.fades.aim(target, volumeRamp);

    bool mixed = false;
    std::size_t i = 0;
    while (i < frames) {
        const bool seekPending = requestedGen != d.cb.gen;
        if (seekPending && d.cb.fades.transport == 0) {
            const int group = d.cb.group;
            if (!takeSeek(d, requestedGen) || d.cb.group != group)
                break; // not there yet; or the new frames go elsewhere, from the next block on
            continue;
        }
        const bool audible = play && !seekPending && !d.cb.ended;
        if (!audible && d.cb.fades.transport == 0)
            break;

        std::size_t available = d.ring.readable();
        const Marker* m = d.markers.front();
        if (m != nullptr)
            available =
                std::min<std::size_t>(available, static_cast<std::size_t>(m->index - d.ring.readIndex()));
        if (available == 0) {
            d.cb.fades.transport = 0; // nothing left to fade out with
            if (m != nullptr && m->kind == Marker::End && m->gen == d.cb.gen) {
                d.markers.pop();
                d.cb.ended = true;
                d.cb.endedGen = d.cb.gen;
                continue;
            }
            if (seekPending)
                continue; // silent now: the seek applies
            if (audible)  // the worker is behind: heard as a dropout
                m_starved.fetch_add(1, std::memory_order_relaxed);
            break; // an underrun, or a seek this block did not see requested yet
        }

        // Through the ring in the pieces it holds in one run, until a fade-out reaches silence: the
        // rest stays in the ring (and a seek waiting for the silence is taken up next).
        const int transportTarget = audible ? transportRamp : 0;
        const std::size_t count = std::min(frames - i, available);
        std::size_t k = 0;
        while (k < count) {
            const std::size_t run = std::min(count - k, d.ring.contiguous(k));
            const std::size_t took =
                d.cb.fades.mix(d.ring.frame(k), out + 2 * (i + k), run, transportTarget, transportRamp);
            k += took;
            if (took < run)
                break;
        }
        d.ring.consume(k);
        d.cb.consumed += k;
        i += k;
        mixed = mixed || k > 0;
    }
    return mixed;
}

// ---------------------------------------------------------------- offline rendering

bool AudioEngine::needsPass(std::size_t frames) const {
    for (const auto& dp : m_decks) {
        const Deck& d = *dp;
        if (d.loadRequested.load(std::memory_order_acquire) != d.loadServed.load(std::memory_order_acquire) ||
            genOf(d.seekRequest.load(std::memory_order_acquire)) !=
                d.servedGen.load(std::memory_order_acquire))
            return true;
        // Called on the thread that runs the callback: its state can be read here.
        const std::size_t need =
            d.cb.group < 0 ? frames
                           : m_groups[static_cast<std::size_t>(d.cb.group)]->resampler->inputFor(frames);
        if (d.feeding.load(std::memory_order_acquire) && d.ring.readable() < need)
            return true;
    }
    return false;
}

void AudioEngine::renderInto(float* out, std::size_t frames) {
    if (!m_offline)
        throw std::logic_error("AudioEngine::render is for offline engines");
    const auto block = static_cast<std::size_t>(m_framesPerBuffer);
    for (std::size_t done = 0; done < frames; done += block) {
        const std::size_t count = std::min(block, frames - done);
        // Before a block that some deck could lack data for, the worker fills every ring, as it
        // would have had time to in real time; so nothing here depends on scheduling.
        if (needsPass(count)) {
            const std::uint32_t pass = m_passRequested.load(std::memory_order_relaxed) + 1;
            m_passRequested.store(pass, std::memory_order_release);
            m_passRequested.notify_one();
            for (std::uint32_t seen = m_passDone.load(std::memory_order_acquire); seen != pass;
                 seen = m_passDone.load(std::memory_order_acquire))
                m_passDone.wait(seen, std::memory_order_acquire);
        }
        process(out + 2 * done, count);
    }
}

std::vector<float> AudioEngine::render(std::size_t frames) {
    std::vector<float> out(frames * 2);
    renderInto(out.data(), frames);
    processNotifications();
    return out;
}

// ---------------------------------------------------------------- worker thread

void AudioEngine::startWorker() {
    m_worker = std::thread([this] { workerLoop(); });
}

void AudioEngine::stopWorker() {
    if (!m_worker.joinable())
        return;
    m_stopWorker.store(true, std::memory_order_release);
    m_passRequested.fetch_add(1, std::memory_order_release);
    m_passRequested.notify_all();
    wakeWorker();
    m_worker.join();
}

void AudioEngine::wakeWorker() {
    {
        std::lock_guard lock(m_wakeMutex);
        m_wakeRequested = true;
    }
    m_wake.notify_one();
}

void AudioEngine::workerLoop() {
    if (m_offline) {
        std::uint32_t served = 0;
        while (!m_stopWorker.load(std::memory_order_acquire)) {
            const std::uint32_t requested = m_passRequested.load(std::memory_order_acquire);
            if (requested == served) {
                m_passRequested.wait(served, std::memory_order_acquire);
                continue;
            }
            servicePass();
            served = requested;
            m_passDone.store(served, std::memory_order_release);
            m_passDone.notify_all();
        }
        return;
    }
    // The rings hold seconds of sound, but on a machine whose every core is taken an ordinary
    // thread can wait long for its turn: the worker goes before ordinary programs where allowed.
    pthread_setname_np(pthread_self(), "fadewell-worker");
    ThreadPriority::raise(ThreadPriority::currentThread(), kWorkerNice);
    while (!m_stopWorker.load(std::memory_order_acquire)) {
        servicePass();
        watchEvents();
        m_supervisor->supervise();
        std::unique_lock lock(m_wakeMutex);
        m_wake.wait_for(lock, kWorkerPeriod, [this] { return m_wakeRequested; });
        m_wakeRequested = false;
    }
}

void AudioEngine::servicePass() {
    bool served = false;
    for (int i = 0; i < kMaxDecks; ++i) {
        Deck& d = *m_decks[static_cast<std::size_t>(i)];
        const Fed fed = feed(d);
        served = served || fed.served;
        if (fed.lost) {
            std::lock_guard lock(m_eventMutex);
            m_lost.push_back({i, d.workerSerial, *fed.lost});
        }
    }
    // A new position or file is in its ring now: what the output has queued can be made again
    // with it, instead of it starting only behind the queue.
    if (served)
        noteChange();
}

void AudioEngine::watchEvents() {
    // Dropouts the audience heard, said on stderr at most every few seconds: a deck the worker
    // did not keep fed, or a sound server that found nothing to play.
    const auto now = std::chrono::steady_clock::now();
    if (now >= m_nextDropoutNotice) {
        const std::uint32_t starved = m_starved.load(std::memory_order_relaxed);
        const unsigned long underflows = m_supervisor->underflows();
        if (starved != m_starvedSeen)
            std::fprintf(
                stderr, "Fadewell: a playing deck ran out of sound %u times: its file was not read in time\n",
                starved - m_starvedSeen);
        if (underflows > m_underflowsSeen)
            std::fprintf(
                stderr, "Fadewell: the sound output ran dry %lu times: the machine was too busy to feed it\n",
                underflows - m_underflowsSeen);
        if (starved != m_starvedSeen || underflows != m_underflowsSeen)
            m_nextDropoutNotice = now + std::chrono::seconds(5);
        m_starvedSeen = starved;
        m_underflowsSeen = underflows;
    }
    // The output changed, or says its latency is other than it was (a buffer made longer).
    if (const double latency = m_supervisor->latencySeconds();
        m_latencyStale.exchange(false) || latency != m_latencySeconds.load(std::memory_order_relaxed))
        adoptLatency(latency);
    bool news = false;
    for (auto& d : m_decks) {
        const std::uint32_t ended = d->endedGen.load(std::memory_order_acquire);
        if (ended != d->endedSeen) {
            d->endedSeen = ended;
            news = true;
        }
    }
    {
        std::lock_guard lock(m_eventMutex);
        news = news || !m_lost.empty();
    }
    if (news)
        postNotifications();
}

void AudioEngine::postNotifications() {
    if (m_offline)
        return; // offline, processNotifications() is called by the test
    if (m_notifyPosted.exchange(true))
        return;
    QMetaObject::invokeMethod(
        m_uiContext.get(), [this] { processNotifications(); }, Qt::QueuedConnection);
}

// ---------------------------------------------------------------- notifications (user-interface thread)

void AudioEngine::processNotifications() {
    m_notifyPosted.store(false);
    std::vector<LostEvent> lost;
    {
        std::lock_guard lock(m_eventMutex);
        lost.swap(m_lost);
    }
    for (const LostEvent& e : lost) {
        Deck& d = deck(e.deck);
        if (d.attached && d.listener != nullptr && d.loadSerial == e.loadSerial)
            d.listener->deckLost(e.reason);
    }

    const bool offline = m_offline;
    for (auto it = m_scans.begin(); it != m_scans.end();) {
        ScanJob& job = **it;
        if (!offline && !job.done.load(std::memory_order_acquire)) {
            ++it;
            continue;
        }
        job.thread.join();
        Deck& d = deck(job.deck);
        const bool current = !job.cancel.load() && d.loaded && d.loadSerial == job.loadSerial;
        const bool lengthKnown = current && job.frames > 0;
        if (lengthKnown) {
            d.info.duration = static_cast<double>(job.frames) / d.info.fileRate;
            d.info.exact = true;
        }
        it = m_scans.erase(it); // job is freed here: only the copies above are read after it
        if (lengthKnown && d.listener != nullptr)
            d.listener->deckLengthKnown();
    }

    for (auto& dp : m_decks) {
        Deck& d = *dp;
        if (!d.attached || d.listener == nullptr || d.endReported)
            continue;
        if (d.endedGen.load(std::memory_order_acquire) == d.uiGen) {
            d.endReported = true;
            d.listener->deckEnded();
        }
    }
}
