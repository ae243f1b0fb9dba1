#include "audio/engine/AudioEngine.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QObject>

#include "audio/decode/Decoder.h"
#include "audio/engine/DeckFeeder.h"
#include "audio/engine/DeckPlayback.h"
#include "audio/engine/DenormalGuard.h"
#include "audio/engine/EngineDeck.h"
#include "audio/engine/History.h"
#include "audio/engine/LengthScans.h"
#include "audio/engine/OfflineRender.h"
#include "audio/engine/RateGroups.h"
#include "audio/output/OutputSupervisor.h"
#include "audio/output/ThreadPriority.h"
#include "common/Errors.h"

using namespace engine;

namespace {

// Read-ahead: a deck plays on this long while its file cannot be read (a slow disk, a worker kept
// from the processor).
constexpr double kRingSeconds = 1.6;
constexpr int kRingRate = 96000; // rings can hold kRingSeconds at this rate or the engine's, if higher
constexpr int kWorkerNice = -10;

int usableRate(int sampleRate, int framesPerBuffer) {
    if (sampleRate < 8000 || sampleRate > 384000 || framesPerBuffer < 16 || framesPerBuffer > 8192)
        throw std::invalid_argument("AudioEngine: unusable sample rate or buffer size");
    return sampleRate;
}

// What the callback may go back to stays in the ring too, on top of the read-ahead. A ring uses
// what its file's rate needs of its storage (see StereoRing::useAtLeast()).
std::size_t ringFramesFor(int rate) {
    return static_cast<std::size_t>((kRingSeconds + History::kMostRewindSeconds) * rate) + 4 * kFillChunk;
}

std::vector<std::unique_ptr<Deck>> makeDecks(int sampleRate) {
    std::vector<std::unique_ptr<Deck>> decks;
    for (int i = 0; i < kMaxDecks; ++i)
        decks.push_back(std::make_unique<Deck>(ringFramesFor(std::max(sampleRate, kRingRate)), sampleRate));
    return decks;
}

} // namespace

AudioEngine::AudioEngine(int sampleRate, int framesPerBuffer, Output output)
    : m_sampleRate(usableRate(sampleRate, framesPerBuffer)), m_framesPerBuffer(framesPerBuffer),
      m_offline(output == Output::Offline), m_decks(makeDecks(sampleRate)),
      m_groups(std::make_unique<RateGroups>(sampleRate, framesPerBuffer)),
      m_history(std::make_unique<History>(m_decks, *m_groups, sampleRate, framesPerBuffer)),
      m_playback(std::make_unique<DeckPlayback>(*m_groups, *m_history, sampleRate)),
      m_passes(std::make_unique<OfflinePasses>()), m_scans(std::make_unique<LengthScans>()),
      m_uiContext(std::make_unique<QObject>()) {
    if (!m_offline) // nothing plays an offline engine's sound but its caller
        m_changeSignal = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

AudioEngine::~AudioEngine() {
    // The worker looks after the output (it replaces it when the device goes or comes back): stop
    // it before touching the output. The callback needs no worker; it only underruns meanwhile.
    stopWorker();
    m_supervisor.reset(); // no callback runs after this
    m_scans->stopAll();   // their end posts to the user-interface context
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
            d.ring.allocate(false); // before the deck is handed to the worker and the callback
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
        group = m_groups->groupFor(fi.fileRate);
        if (group < 0)
            decoder->resampleTo(m_sampleRate); // an unusual ratio: the worker resamples this deck alone
    }
    auto count = fi.countFrames;
    handOver(index, std::move(decoder), group,
             {static_cast<double>(fi.frames) / fi.fileRate, fi.exactLength, fi.fileRate, fi.fileChannels});
    d.endReported = false;
    if (count)
        m_scans->start(index, d.loadSerial, std::move(count), [this] { postNotifications(); });
    return d.info;
}

void AudioEngine::unload(int index) {
    handOver(index, nullptr, -1, {});
}

// The deck's new file (none: the deck is emptied) goes to the worker, halted at its start; any
// count of the old file's length stops.
void AudioEngine::handOver(int index, std::unique_ptr<Decoder> decoder, int group, const DeckInfo& info) {
    Deck& d = deck(index);
    m_scans->cancel(index);
    d.playing.store(false, std::memory_order_release);
    d.info = info;
    d.uiRingRate = group >= 0 ? info.fileRate : m_sampleRate;
    d.loaded = decoder != nullptr;
    ++d.loadSerial;
    d.uiGen = static_cast<std::uint16_t>(d.uiGen + 1);
    d.segmentStart = 0.0;
    {
        std::lock_guard lock(d.handoff);
        d.pendingDecoder = std::move(decoder); // a decoder the worker never took is freed here
        d.pendingGroup = group;
        d.pendingRingFrames = ringFramesFor(std::max(d.uiRingRate, m_sampleRate));
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

// ---------------------------------------------------------------- audio callback

void AudioEngine::process(float* out, std::size_t frames) noexcept {
    DenormalGuard guard;
    const auto block = static_cast<std::size_t>(m_framesPerBuffer); // what the groups are sized for
    for (std::size_t done = 0; done < frames; done += block)
        processBlock(out + 2 * done, std::min(block, frames - done));
}

void AudioEngine::processBlock(float* out, std::size_t frames) noexcept {
    m_history->take();
    std::fill(out, out + 2 * frames, 0.0f);
    m_groups->beginBlock(frames);
    bool idle = true;
    for (auto& deckPtr : m_decks) {
        Deck& d = *deckPtr;
        // A deck that is silent takes up a requested seek (or new file) before its target is
        // chosen, so a file at another rate starts in this very block.
        const std::uint16_t requestedGen = genOf(d.seekRequest.load(std::memory_order_acquire));
        if (requestedGen != d.cb.gen && d.cb.fades.transport == 0)
            m_playback->takeSeek(d, requestedGen);
        if (d.cb.group < 0) {
            m_playback->mix(d, out, frames);
        } else {
            // The deck's group as the block starts: a seek taken up in it may move the deck to another.
            const int group = d.cb.group;
            std::size_t needed = 0;
            float* mix = m_groups->mixFor(group, needed);
            if (mix != nullptr && m_playback->mix(d, mix, needed))
                m_groups->fed(group);
        }
        idle = idle && !d.playing.load(std::memory_order_relaxed) && d.cb.fades.transport == 0;
    }
    m_groups->endBlock(out, frames);
    m_cbIdle = idle && !m_groups->anyRunning();
    m_history->advance(frames);
}

std::size_t AudioEngine::rewind(std::size_t frames) noexcept {
    return m_history->rewind(frames);
}

// ---------------------------------------------------------------- offline rendering

void AudioEngine::renderInto(float* out, std::size_t frames) {
    if (!m_offline)
        throw std::logic_error("AudioEngine::render is for offline engines");
    const auto block = static_cast<std::size_t>(m_framesPerBuffer);
    for (std::size_t done = 0; done < frames; done += block) {
        const std::size_t count = std::min(block, frames - done);
        // Before a block that some deck could lack data for, the worker fills every ring, as it
        // would have had time to in real time; so nothing here depends on scheduling.
        if (OfflinePasses::needsPass(m_decks, *m_groups, count))
            m_passes->awaitPass();
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
    m_passes->stop();
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
    if (m_offline)
        return m_passes->serve([this] { servicePass(); });
    // The rings hold seconds of sound, but on a machine whose every core is taken an ordinary
    // thread can wait long for its turn: the worker goes before ordinary programs where allowed.
    pthread_setname_np(pthread_self(), "fadewell-worker");
    ThreadPriority::raise(ThreadPriority::currentThread(), kWorkerNice);
    while (!m_stopWorker.load(std::memory_order_acquire)) {
        servicePass();
        watchEvents();
        m_supervisor->supervise();
        std::unique_lock lock(m_wakeMutex);
        m_wake.wait_for(lock, nextPassWithin(m_decks), [this] { return m_wakeRequested; });
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
        const std::uint32_t starved = m_playback->starved();
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

    // Offline, every count in progress is waited for, so the result does not depend on timing.
    for (const LengthScans::Result& scan : m_scans->collect(m_offline)) {
        Deck& d = deck(scan.deck);
        if (scan.frames <= 0 || !d.loaded || d.loadSerial != scan.loadSerial)
            continue;
        d.info.duration = static_cast<double>(scan.frames) / d.info.fileRate;
        d.info.exact = true;
        if (d.listener != nullptr)
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
