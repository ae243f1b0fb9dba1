// The output straight to the desktop's sound server (PulseAudio, or PipeWire through its PulseAudio
// protocol), without the ALSA plugin in between: one thread of our own, at real-time priority,
// runs the server connection and the engine's callback, and the stream's buffer is chosen here.
// Through the ALSA plugin the same sound took two ordinary threads (PortAudio's and the plugin's
// own connection thread) and a buffer of 12 ms, and one late wake-up on a busy machine stalled the
// stream for a second.
//
// The buffer is long, so that the sound goes on while the machine is too busy to run the server's
// main thread or ours for a while; and a key is still heard at once: when the engine says a deck
// changed, what nobody has heard yet is made again and written over the old (the engine goes back
// to where that part began), from a few milliseconds after what is heard now on.
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include <poll.h>
#include <pthread.h>
#include <pulse/pulseaudio.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "audio/output/PulseOutput.h"
#include "audio/output/ThreadPriority.h"

namespace {

// What the server holds of ours: what rides out a moment when the server's main thread or this
// thread cannot run. Keys do not wait for it (see rewrite()), so it is as long as a sound server's
// own clients have it. Shorter buffers dropped out on a machine whose cores were all taken (six
// ordinary processes and a compiler each): 60 ms often, 400 ms now and then. There the server's
// main thread, at nice -11 in a session of its own, was seen waiting up to 180 ms for a core,
// twice in a row before the sound it passes on reaches the sink.
constexpr double kBufferSeconds = 1.0;
// A machine on which the server found the stream empty even so gets a longer buffer, step by step
// up to this. The server does the same for its own sound cards when they run dry. Less than the
// engine can go back (two seconds).
constexpr double kMostBufferSeconds = 1.5;
// Where a change begins: this far after what was heard when the server answered, so that the new
// sound reaches the server before its sink takes that far (a late start is cut, with a jump). The
// test server's sink takes a request's length (20 ms) at a time: with 15 ms, one of some fifty
// hand-overs had its start cut.
constexpr double kRewriteMarginSeconds = 0.030;
// The same on PipeWire's PulseAudio service, which takes a graph cycle (10.7 ms at its default
// quantum) at a time and adds up to one cycle it does not report: there 30 ms put a key 36 ms
// (40 at worst) after the server's answer, where a rewrite was still honoured 5 ms ahead.
constexpr double kPipeWireRewriteMarginSeconds = 0.015;
constexpr auto kConnectTimeout = std::chrono::seconds(3);
// How often the latency is read again: now and then, and often while the sink holds much (a sink
// that ran alone at a long latency takes a second or two to come down to the stream's).
constexpr pa_usec_t kAskEvery = 500 * PA_USEC_PER_MSEC;
constexpr pa_usec_t kAskOftenEvery = 50 * PA_USEC_PER_MSEC;
constexpr pa_usec_t kSinkHoldsMuch = 100 * PA_USEC_PER_MSEC;
// A server whose answers never let a rewrite be placed is not asked over and over: the change is
// then heard behind what is queued.
constexpr int kMostRetries = 3;
// While the answer a rewrite waits for is on its way, requests of the server wait too: answered
// meanwhile, the engine would take the change at the end of what is queued, a second ahead. A stop
// or a seek taken there hands back what the deck played before it, so going back could no longer
// undo it, and the stop would be heard a second late (on a busy machine, where answers come late,
// one stop in fifty was). At most this long, far less than is queued: a server that does not
// answer still gets its sound, and the change is heard behind the queue.
constexpr pa_usec_t kMostHold = 250 * PA_USEC_PER_MSEC;
// The most written in one piece: a request of the server is answered with as few writes as it takes.
constexpr std::size_t kMostWriteBytes = 256 * 1024;
// On PipeWire, where the stream is never corked, an output at rest reads the server's requests
// (fifty a second, for silence) this often, all that came meanwhile at once. Answered late, that
// service asks for less, and for the rest when the output next asks where it stands (onClock(),
// every half second): the queue then holds half a second of silence to a second. A change of a
// deck ends the wait at once, and the output answers at once again.
constexpr int kRestBatchMs = 200;

struct MainloopDeleter {
    void operator()(pa_mainloop* m) const { pa_mainloop_free(m); }
};
struct ContextDeleter {
    void operator()(pa_context* c) const {
        pa_context_disconnect(c);
        pa_context_unref(c);
    }
};
struct StreamDeleter {
    void operator()(pa_stream* s) const {
        pa_stream_disconnect(s);
        pa_stream_unref(s);
    }
};
struct ProplistDeleter {
    void operator()(pa_proplist* p) const { pa_proplist_free(p); }
};

// The program as the desktop's sound settings list it.
std::unique_ptr<pa_proplist, ProplistDeleter> programProperties() {
    std::unique_ptr<pa_proplist, ProplistDeleter> props(pa_proplist_new());
    pa_proplist_sets(props.get(), PA_PROP_APPLICATION_NAME, "Fadewell");
    pa_proplist_sets(props.get(), PA_PROP_APPLICATION_ID, "fadewell");
    pa_proplist_sets(props.get(), PA_PROP_APPLICATION_ICON_NAME, "fadewell");
    pa_proplist_sets(props.get(), PA_PROP_MEDIA_ROLE, "music");
    return props;
}

// Runs one iteration of m, waiting at most until deadline for something to happen: a server that
// stopped answering must not hold the caller (the engine's worker looks for a chosen sink with it).
void iterateBefore(pa_mainloop* m, std::chrono::steady_clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::microseconds>(deadline - std::chrono::steady_clock::now());
    if (pa_mainloop_prepare(m, static_cast<int>(std::max<std::int64_t>(left.count(), 0))) < 0)
        return;
    if (pa_mainloop_poll(m) >= 0)
        pa_mainloop_dispatch(m);
}

// Connects a context on mainloop m and runs the loop until it is ready or has failed.
bool connectContext(pa_mainloop* m, pa_context* c, std::string& error) {
    if (pa_context_connect(c, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        error = pa_strerror(pa_context_errno(c));
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + kConnectTimeout;
    for (;;) {
        const pa_context_state_t state = pa_context_get_state(c);
        if (state == PA_CONTEXT_READY)
            return true;
        if (!PA_CONTEXT_IS_GOOD(state) || std::chrono::steady_clock::now() > deadline) {
            error = PA_CONTEXT_IS_GOOD(state) ? "the sound server did not answer"
                                              : pa_strerror(pa_context_errno(c));
            return false;
        }
        iterateBefore(m, deadline);
    }
}

// Runs m until done() or the connection's deadline; false when the time ran out.
template <class Done> bool iterateUntil(pa_mainloop* m, Done done) {
    const auto deadline = std::chrono::steady_clock::now() + kConnectTimeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        iterateBefore(m, deadline);
    }
    return true;
}

// Whether the server is PipeWire's PulseAudio service: it names itself "PulseAudio (on PipeWire
// 0.3.65)".
bool onPipeWire(pa_mainloop* m, pa_context* c) {
    struct Answer {
        bool pipeWire = false;
        bool done = false;
    } answer;
    pa_operation* op = pa_context_get_server_info(
        c,
        [](pa_context*, const pa_server_info* info, void* data) {
            auto* a = static_cast<Answer*>(data);
            a->pipeWire = info != nullptr && info->server_name != nullptr &&
                          std::strstr(info->server_name, "PipeWire") != nullptr;
            a->done = true;
        },
        &answer);
    if (op == nullptr)
        return false;
    iterateUntil(m, [&] { return answer.done; });
    pa_operation_unref(op);
    return answer.pipeWire;
}

class PulseOutput final : public OutputBackend {
public:
    // sink: the sink's name, or empty for the server's default sink.
    PulseOutput(OutputSource& source, int rate, int framesPerBuffer, std::string sink)
        : m_source(source), m_rate(rate), m_framesPerBuffer(framesPerBuffer), m_sink(std::move(sink)),
          m_rewriteFrames(static_cast<std::size_t>(kMostBufferSeconds * 1.5 * rate)) {}

    ~PulseOutput() override {
        m_stop.store(true, std::memory_order_release);
        pa_mainloop_wakeup(m_mainloop.get());
        if (m_stopSignal >= 0)
            ::eventfd_write(m_stopSignal, 1); // for a thread at rest (waitForEvents())
        if (m_thread.joinable())
            m_thread.join();
        if (m_stopSignal >= 0)
            ::close(m_stopSignal);
    }

    bool open(std::string& error, const std::function<void()>& beforeStart) {
        m_thread = std::thread([this] { run(); });
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] { return m_phase != Phase::Opening; });
            if (m_phase == Phase::Failed) {
                error = m_error;
                return false;
            }
        }
        // The stream is open and corked, asking for nothing to be played yet: the previous output
        // stops here, so that one callback runs at a time.
        if (beforeStart)
            beforeStart();
        m_started.store(true, std::memory_order_release);
        pa_mainloop_wakeup(m_mainloop.get());
        return true;
    }

    double latencySeconds() const override { return m_latency.load(std::memory_order_relaxed); }
    unsigned long underflows() const override { return m_underflows.load(std::memory_order_relaxed); }

    // A stream kept quiet asks for nothing, and is not taken for lost for that.
    bool alive() override {
        const bool stalled = m_watch.stalled();
        return !m_failed.load(std::memory_order_acquire) && (m_quiet.load(std::memory_order_acquire) || !stalled);
    }
    bool movedElsewhere() const override { return m_elsewhere.load(std::memory_order_acquire); }

private:
    enum class Phase { Opening, Open, Failed };

    void fail(const std::string& error) {
        std::lock_guard lock(m_mutex);
        m_error = error;
        m_phase = Phase::Failed;
        m_changed.notify_all();
    }

    // The output thread: sets itself up, then plays until told to stop or the server goes.
    void run() {
        pthread_setname_np(pthread_self(), "fadewell-output");
        ThreadPriority::reportOnce(
            ThreadPriority::makeRealtime(ThreadPriority::currentThread(), kOutputThreadPriority));
        pa_mainloop* const mainloop = m_mainloop.get();
        pa_mainloop_set_poll_func(mainloop, waitForEvents, this);
        std::unique_ptr<pa_context, ContextDeleter> context(pa_context_new_with_proplist(
            pa_mainloop_get_api(mainloop), "Fadewell", programProperties().get()));
        std::string error;
        if (!connectContext(mainloop, context.get(), error))
            return fail(error);
        m_onPipeWire = onPipeWire(mainloop, context.get());
        m_margin = m_onPipeWire ? kPipeWireRewriteMarginSeconds : kRewriteMarginSeconds;

        const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, static_cast<std::uint32_t>(m_rate), 2};
        std::unique_ptr<pa_stream, StreamDeleter> stream(pa_stream_new_with_proplist(
            context.get(), "Fadewell", &format, nullptr, programProperties().get()));
        if (!stream)
            return fail(pa_strerror(pa_context_errno(context.get())));
        if (!m_sink.empty())
            pa_stream_set_moved_callback(
                stream.get(),
                [](pa_stream* s, void* self) {
                    auto* me = static_cast<PulseOutput*>(self);
                    const char* sink = pa_stream_get_device_name(s);
                    me->m_elsewhere.store(sink == nullptr || me->m_sink != sink, std::memory_order_release);
                },
                this);
        // The buffer is ours to choose: kBufferSeconds queued at the server, and its sink asked to
        // run a request's length ahead (EARLY_REQUESTS). Left to itself, a sink with no other
        // client takes as long a buffer as the stream's, takes it in pieces that long, and our
        // callback would run once a second; with ADJUST_LATENCY it would take half of ours.
        const auto bytesPerFrame = static_cast<std::uint32_t>(pa_frame_size(&format));
        const auto block = static_cast<std::uint32_t>(m_framesPerBuffer) * bytesPerFrame;
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.tlength =
            std::max(2 * block, static_cast<std::uint32_t>(kBufferSeconds * m_rate) * bytesPerFrame);
        attr.prebuf = static_cast<std::uint32_t>(-1);
        // The server asks for more in steps of its choosing (a quarter of the buffer or so): asked
        // a block at a time, its own busy main thread would have to answer every few milliseconds.
        attr.minreq = static_cast<std::uint32_t>(-1);
        attr.fragsize = static_cast<std::uint32_t>(-1);
        // No timing updates: nothing here reads them, and one still pending when the stream closes
        // is never freed.
        const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_EARLY_REQUESTS);
        // A chosen sink is asked for by name; the server may still move the stream later (the
        // operator in the desktop's sound settings, or the server when the sink goes).
        const char* sink = m_sink.empty() ? nullptr : m_sink.c_str();
        if (pa_stream_connect_playback(stream.get(), sink, &attr, flags, nullptr, nullptr) < 0)
            return fail(pa_strerror(pa_context_errno(context.get())));
        const auto deadline = std::chrono::steady_clock::now() + kConnectTimeout;
        while (pa_stream_get_state(stream.get()) != PA_STREAM_READY) {
            if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream.get())) ||
                std::chrono::steady_clock::now() > deadline)
                return fail(pa_strerror(pa_context_errno(context.get())));
            pa_mainloop_iterate(mainloop, 1, nullptr);
        }
        std::size_t attrLength = attr.tlength; // the most the server can ever ask for at once
        if (const pa_buffer_attr* got = pa_stream_get_buffer_attr(stream.get())) {
            m_latency.store(static_cast<double>(got->tlength) / bytesPerFrame / m_rate);
            attrLength = got->maxlength;
        }
        m_attr = attr;
        m_bytesPerFrame = bytesPerFrame;
        {
            std::lock_guard lock(m_mutex);
            m_phase = Phase::Open;
            m_changed.notify_all();
        }

        while (!m_started.load(std::memory_order_acquire) && !m_stop.load(std::memory_order_acquire))
            pa_mainloop_iterate(mainloop, 1, nullptr);
        pa_stream_set_underflow_callback(
            stream.get(), [](pa_stream* s, void* self) { static_cast<PulseOutput*>(self)->onUnderflow(s); },
            this);
        // A server that went away shows in the states; its stream then has no writable size
        // ((size_t)-1), which must never be taken for room to fill.
        const auto broken = [](auto*, void* self) {
            auto* me = static_cast<PulseOutput*>(self);
            me->m_broken = me->m_broken || pa_context_get_state(me->m_context) != PA_CONTEXT_READY ||
                           pa_stream_get_state(me->m_stream) != PA_STREAM_READY;
        };
        m_context = context.get();
        m_stream = stream.get();
        m_attrLength = attrLength;
        pa_context_set_state_callback(context.get(), broken, this);
        pa_stream_set_state_callback(stream.get(), broken, this);
        // Every request of the server is answered at once and in full.
        pa_stream_set_write_callback(
            stream.get(), [](pa_stream* s, std::size_t bytes, void* self) { static_cast<PulseOutput*>(self)->fill(s, bytes); },
            this);
        pa_mainloop_api* const api = pa_mainloop_get_api(mainloop);
        pa_io_event* const changes =
            m_source.changeSignal() < 0
                ? nullptr
                : api->io_new(
                      api, m_source.changeSignal(), PA_IO_EVENT_INPUT,
                      [](pa_mainloop_api*, pa_io_event*, int fd, pa_io_event_flags_t, void* self) {
                          static_cast<PulseOutput*>(self)->onChange(fd);
                      },
                      this);
        timeval now{};
        m_askingEvent = api->time_new(
            api, pa_gettimeofday(&now),
            [](pa_mainloop_api* a, pa_time_event* e, const timeval*, void* self) {
                static_cast<PulseOutput*>(self)->onClock(a, e);
            },
            this);
        m_api = api;
        broken(context.get(), this);
        if (!m_broken) {
            fill(stream.get(), pa_stream_writable_size(stream.get())); // what was asked while it was corked
            if (pa_operation* uncork = pa_stream_cork(stream.get(), 0, nullptr, nullptr))
                pa_operation_unref(uncork);
        }
        while (!m_stop.load(std::memory_order_acquire) && !m_broken)
            pa_mainloop_iterate(mainloop, 1, nullptr);
        if (m_broken)
            m_failed.store(true, std::memory_order_release);
        pa_stream_set_write_callback(stream.get(), nullptr, nullptr);
        pa_stream_set_state_callback(stream.get(), nullptr, nullptr);
        pa_context_set_state_callback(context.get(), nullptr, nullptr);
        if (changes != nullptr)
            api->io_free(changes);
        if (m_askingEvent != nullptr)
            api->time_free(m_askingEvent);
        m_stream = nullptr;
        m_context = nullptr;
    }

    // The output thread, when the server asks for bytes more: the engine's next frames, made in the
    // server's own memory where it lends it, in one write. Once the engine has made nothing but
    // silence for longer than the server holds of ours, the stream is corked (but on PipeWire): a
    // console at rest answers no requests at all (the next change of a deck uncorks it, see
    // onChange()).
    void fill(pa_stream* stream, std::size_t bytes) {
        if (m_broken || bytes == static_cast<std::size_t>(-1))
            return;
        if (m_holdingSince != 0) {
            if (pa_rtclock_now() - m_holdingSince < kMostHold)
                return; // asked again once the rewrite is made (onTiming())
            m_holdingSince = 0;
        }
        bytes = std::min(bytes, m_attrLength) / m_bytesPerFrame * m_bytesPerFrame;
        while (bytes > 0 && !m_quiet.load(std::memory_order_relaxed)) {
            void* data = nullptr;
            std::size_t lent = std::min(bytes, kMostWriteBytes);
            if (pa_stream_begin_write(stream, &data, &lent) < 0 || data == nullptr)
                return;
            lent = std::min(lent, bytes) / m_bytesPerFrame * m_bytesPerFrame;
            if (lent == 0) {
                pa_stream_cancel_write(stream);
                return;
            }
            const bool wasIdle = m_source.idle();
            m_source.process(static_cast<float*>(data), lent / m_bytesPerFrame);
            if (pa_stream_write(stream, data, lent, nullptr, 0, PA_SEEK_RELATIVE) < 0)
                return;
            m_written += static_cast<std::int64_t>(lent);
            m_watch.counted();
            bytes -= lent;
            m_silentBytes = wasIdle && m_source.idle() ? m_silentBytes + lent : 0;
            // Not on PipeWire: there a stream that stops and starts again changes the whole
            // graph's cycle, and every client on it (a recorder, another program) loses a cycle of
            // sound each time. There requests are read in batches instead (waitForEvents()).
            if (atRest() && !m_onPipeWire)
                quieten(stream);
        }
    }

    // All that is queued is silence: the engine has made nothing else for longer than the server
    // holds of ours.
    bool atRest() const { return m_silentBytes > m_attr.tlength / 4 * 5; }

    // The output thread's wait for the server, the engine or the time. At rest on PipeWire it
    // waits first for a change of a deck or the output's end alone, up to kRestBatchMs, and then
    // takes whatever the server sent meanwhile.
    static int waitForEvents(pollfd* fds, unsigned long count, int timeout, void* self) {
        auto* me = static_cast<PulseOutput*>(self);
        if (timeout != 0 && me->m_onPipeWire && me->atRest()) {
            std::array<pollfd, 2> wake{
                {{me->m_source.changeSignal(), POLLIN, 0}, {me->m_stopSignal, POLLIN, 0}}};
            ::poll(wake.data(), wake.size(), timeout < 0 ? kRestBatchMs : std::min(timeout, kRestBatchMs));
            timeout = 0;
        }
        return ::poll(fds, count, timeout);
    }

    void quieten(pa_stream* stream) {
        if (pa_operation* cork = pa_stream_cork(stream, 1, nullptr, nullptr))
            pa_operation_unref(cork);
        m_quiet.store(true, std::memory_order_release);
        m_api->time_restart(m_askingEvent, nullptr); // nothing to ask while nothing plays
    }

    void wake(pa_stream* stream) {
        m_quiet.store(false, std::memory_order_release);
        m_silentBytes = 0;
        m_watch.counted(); // the callbacks' absence while it was quiet is no stall
        if (pa_operation* uncork = pa_stream_cork(stream, 0, nullptr, nullptr))
            pa_operation_unref(uncork);
        timeval next{};
        m_api->time_restart(m_askingEvent, pa_timeval_add(pa_gettimeofday(&next), m_askEvery));
        // What was asked while it was quiet (the server does not ask twice).
        fill(stream, pa_stream_writable_size(stream));
    }

    // The output thread, when the engine says a deck changed: asks the server where it is
    // playing; the answer starts the rewrite. A change that comes while a question is on its way
    // gets one more question after the answer.
    void onChange(int fd) {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t got = ::read(fd, &count, sizeof count);
        m_silentBytes = 0; // no longer at rest: the server's answer is wanted at once
        if (m_holdingSince == 0)
            m_holdingSince = pa_rtclock_now();
        if (m_quiet.load(std::memory_order_relaxed))
            wake(m_stream);
        m_wantRewrite = true;
        if (!m_asking)
            ask();
    }

    void ask() {
        pa_operation* op = pa_stream_update_timing_info(
            m_stream,
            [](pa_stream* s, int ok, void* self) { static_cast<PulseOutput*>(self)->onTiming(s, ok); }, this);
        if (op == nullptr)
            return;
        pa_operation_unref(op);
        m_asking = true;
        m_askedForRewrite = m_wantRewrite;
        m_wantRewrite = false;
    }

    void onTiming(pa_stream* stream, int ok) {
        m_asking = false;
        const pa_timing_info* timing = ok ? pa_stream_get_timing_info(stream) : nullptr;
        if (timing != nullptr && !timing->write_index_corrupt && !timing->read_index_corrupt &&
            timing->write_index == m_written) {
            // What is heard now: what the server holds of ours, and what its sink holds.
            const double queued =
                static_cast<double>(m_written - timing->read_index) / m_bytesPerFrame / m_rate;
            m_latency.store(queued + static_cast<double>(timing->sink_usec) / 1e6, std::memory_order_relaxed);
            m_askEvery = timing->sink_usec > kSinkHoldsMuch ? kAskOftenEvery : kAskEvery;
            if (m_askedForRewrite)
                rewrite(stream, *timing);
            m_retries = 0;
        } else if (m_askedForRewrite && ++m_retries <= kMostRetries) {
            m_wantRewrite = true; // the answer came too late to use (we wrote meanwhile): ask again
        }
        if (m_wantRewrite)
            ask();
        if (m_holdingSince != 0 && !(m_asking && m_askedForRewrite)) {
            // The rewrite is made (or given up): what the server asked for meanwhile.
            m_holdingSince = 0;
            fill(stream, pa_stream_writable_size(stream));
        }
    }

    // The output thread, now and then: the server's answer keeps the latency the engine counts
    // positions with true to what the server and its sink hold.
    void onClock(pa_mainloop_api* api, pa_time_event* event) {
        if (!m_asking)
            ask();
        timeval next{};
        api->time_restart(event, pa_timeval_add(pa_gettimeofday(&next), m_askEvery));
    }

    // Makes again what nobody has heard yet, from the server's margin (and the time since the
    // answer) after what is heard now, and writes it in the old sound's place. What the sink has
    // taken already (the stretch before the server's read position) it takes again from here: the
    // server rewinds it for a write before that position.
    void rewrite(pa_stream* stream, const pa_timing_info& timing) {
        const auto frame = static_cast<std::int64_t>(m_bytesPerFrame);
        const double since = static_cast<double>(pa_timeval_age(&timing.timestamp)) / 1e6;
        const double sink = static_cast<double>(timing.sink_usec) / 1e6;
        const auto ahead = static_cast<std::int64_t>((m_margin + since - sink) * m_rate) * frame;
        const std::int64_t from = timing.read_index + ahead;
        if (from >= m_written)
            return;
        const std::size_t asked = std::min(static_cast<std::size_t>((m_written - from) / frame), m_rewriteFrames);
        const std::size_t back = m_source.rewind(asked);
        // Made again in the server's memory, a piece at a time, the first written at its place.
        std::size_t left = back * m_bytesPerFrame;
        std::int64_t offset = m_written - static_cast<std::int64_t>(left);
        pa_seek_mode_t seek = PA_SEEK_ABSOLUTE;
        while (left > 0) {
            void* data = nullptr;
            std::size_t lent = std::min(left, kMostWriteBytes);
            if (pa_stream_begin_write(stream, &data, &lent) < 0 || data == nullptr || lent < m_bytesPerFrame)
                break;
            lent = std::min(lent, left) / m_bytesPerFrame * m_bytesPerFrame;
            m_source.process(static_cast<float*>(data), lent / m_bytesPerFrame);
            pa_stream_write(stream, data, lent, nullptr, offset, seek);
            left -= lent;
            offset = 0; // the rest follows on
            seek = PA_SEEK_RELATIVE;
        }
        // A stream that lends no memory is going away; what it did not take is made all the same,
        // so that the engine stays in step with what was written.
        for (std::size_t frames = left / m_bytesPerFrame; frames > 0;) {
            const std::size_t n = std::min(frames, m_spare.size() / 2);
            m_source.process(m_spare.data(), n);
            frames -= n;
        }
    }

    // The output thread, when the server found the stream empty: counted, and the buffer made
    // half as long again, up to kMostBufferSeconds (the latency follows with the next answer).
    void onUnderflow(pa_stream* stream) {
        m_underflows.fetch_add(1, std::memory_order_relaxed);
        const auto most = static_cast<std::uint32_t>(kMostBufferSeconds * m_rate) * m_bytesPerFrame;
        if (m_attr.tlength >= most)
            return;
        m_attr.tlength = std::min(most, m_attr.tlength / 2 * 3 / m_bytesPerFrame * m_bytesPerFrame);
        pa_operation* op = pa_stream_set_buffer_attr(stream, &m_attr, nullptr, nullptr);
        if (op != nullptr)
            pa_operation_unref(op);
    }

    OutputSource& m_source;
    const int m_rate;
    const int m_framesPerBuffer;
    const std::string m_sink;
    // The output thread's.
    const std::size_t m_rewriteFrames; // the most made again at once
    std::array<float, 512> m_spare{};
    pa_mainloop_api* m_api = nullptr;
    pa_context* m_context = nullptr;
    pa_stream* m_stream = nullptr;
    pa_time_event* m_askingEvent = nullptr;
    std::size_t m_attrLength = 0; // the most the server can ever ask for at once
    bool m_broken = false;        // the server or the stream went away
    std::size_t m_silentBytes = 0; // written in a row while the engine was idle
    std::int64_t m_written = 0; // bytes, the stream's write index
    bool m_asking = false;      // a timing question is on its way
    pa_usec_t m_holdingSince = 0; // requests wait for a rewrite's answer since then (0: they do not)
    bool m_askedForRewrite = false;
    bool m_wantRewrite = false;
    int m_retries = 0;                       // answers in a row that could not be used
    double m_margin = kRewriteMarginSeconds; // where a rewrite begins after what is heard
    bool m_onPipeWire = false;               // the server is PipeWire's PulseAudio service
    pa_usec_t m_askEvery = kAskOftenEvery;
    std::atomic<double> m_latency{0.0}; // the stream's buffer as the server has it; any thread
    pa_buffer_attr m_attr{};            // the output thread's: what it last asked for
    std::uint32_t m_bytesPerFrame = 8;

    // Made before the thread and freed after it: the destructor can always wake it.
    const std::unique_ptr<pa_mainloop, MainloopDeleter> m_mainloop{pa_mainloop_new()};
    std::thread m_thread;
    std::atomic<bool> m_started{false};
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_failed{false};
    std::atomic<bool> m_elsewhere{false}; // moved off the sink asked for by name
    std::atomic<bool> m_quiet{false};     // corked while the engine is idle; the output thread writes it
    const int m_stopSignal = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); // written once, to stop
    std::mutex m_mutex;                   // opening only
    std::condition_variable m_changed;
    Phase m_phase = Phase::Opening;
    std::string m_error;

    // A server that has gone is seen in the connection's state at once; one that still holds a
    // second of our sound while too busy to ask for more has not lost the stream: reopening it
    // would only cut the sound.
    CallbackWatch m_watch{std::chrono::seconds(4)};
    std::atomic<unsigned long> m_underflows{0}; // the server found our stream empty
};

} // namespace

int soundServerRate(std::string& error, const std::string& sink) {
    const std::unique_ptr<pa_mainloop, MainloopDeleter> owner(pa_mainloop_new());
    pa_mainloop* const mainloop = owner.get();
    std::unique_ptr<pa_context, ContextDeleter> context(
        pa_context_new(pa_mainloop_get_api(mainloop), "Fadewell"));
    if (!connectContext(mainloop, context.get(), error))
        return 0;
    // The sink's own rate: a stream at any other rate would be resampled by the server.
    struct Answer {
        int rate = 0;
        bool done = false;
    } answer;
    pa_operation* op = pa_context_get_sink_info_by_name(
        context.get(), sink.c_str(),
        [](pa_context*, const pa_sink_info* info, int eol, void* data) {
            auto* a = static_cast<Answer*>(data);
            if (eol == 0 && info != nullptr)
                a->rate = static_cast<int>(info->sample_spec.rate);
            else
                a->done = true;
        },
        &answer);
    if (op != nullptr) {
        iterateUntil(mainloop, [&] { return answer.done; });
        pa_operation_unref(op);
    }
    if (answer.rate <= 0)
        error = sink == "@DEFAULT_SINK@" ? "the sound server did not say its rate"
                                         : "the sound server has no sink \"" + sink + "\"";
    return answer.rate;
}

std::unique_ptr<OutputBackend> openSoundServer(OutputSource& source, int rate, int framesPerBuffer,
                                               std::string& error, const std::function<void()>& beforeStart,
                                               const std::string& sink) {
    auto output = std::make_unique<PulseOutput>(source, rate, framesPerBuffer, sink);
    if (!output->open(error, beforeStart))
        return nullptr;
    return output;
}

std::vector<OutputDevice> listServerSinks() {
    std::vector<OutputDevice> sinks;
    const std::unique_ptr<pa_mainloop, MainloopDeleter> owner(pa_mainloop_new());
    pa_mainloop* const mainloop = owner.get();
    std::unique_ptr<pa_context, ContextDeleter> context(
        pa_context_new(pa_mainloop_get_api(mainloop), "Fadewell"));
    std::string error;
    if (!connectContext(mainloop, context.get(), error))
        return sinks;
    struct Answer {
        std::vector<OutputDevice>* sinks;
        bool done = false;
    } answer{&sinks};
    pa_operation* op = pa_context_get_sink_info_list(
        context.get(),
        [](pa_context*, const pa_sink_info* info, int eol, void* data) {
            auto* a = static_cast<Answer*>(data);
            if (eol != 0 || info == nullptr) {
                a->done = true;
                return;
            }
            OutputDevice d;
            d.kind = OutputDevice::Kind::ServerSink;
            d.name = info->name != nullptr ? info->name : "";
            d.description = info->description != nullptr ? info->description : "";
            d.hostApi = "PulseAudio";
            d.channels = info->sample_spec.channels;
            d.defaultRate = info->sample_spec.rate;
            a->sinks->push_back(std::move(d));
        },
        &answer);
    if (op != nullptr) {
        iterateUntil(mainloop, [&] { return answer.done; });
        pa_operation_unref(op);
    }
    return sinks;
}
