// What a sound server makes of the live output's way of playing (bench/README.md): a stream with a
// second queued, its sink a request ahead (EARLY_REQUESTS), and a change heard at once by writing
// it over the queued sound, from a margin after what the server says is heard now. Without the
// console, its window or its engine: only the server, so that a busy user-interface thread does
// not blur the figures.
//
//   fadewell_rewrite_probe [MARGIN_MS [TRIALS [RECORD_MS]]]     (on the server of XDG_RUNTIME_DIR)
//
// Plays silence on the default sink; each trial asks the server where it plays, writes a tone over
// everything queued from that answer's "heard now" plus MARGIN_MS (30, as the output does) on, and
// finds the tone's first sample in a recording of the sink's monitor (a buffer of RECORD_MS, 50);
// then the same with silence over the tone. Prints per trial the server's answer (what it holds of
// the stream, what its sink holds) and the milliseconds from the answer to the sound and to the
// silence; then their medians and worst, and what the server made of the buffer attributes. The sound's time is the earliest its piece can have arrived less
// the sound after it (as bench/timed_record.py takes it).
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <vector>

namespace {

double now() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

struct Probe {
    pa_mainloop* loop = pa_mainloop_new();
    pa_context* context = nullptr;
    pa_stream* play = nullptr;
    pa_stream* record = nullptr;
    int rate = 48000;
    double marginSeconds = 0.030;
    std::int64_t written = 0;       // bytes
    std::int64_t toneFrom = -1;     // frames: the tone sounds from here (the stream's frames)...
    std::int64_t toneTo = -1;       // ... to here (-1: on)
    bool toneWanted = false;        // what the next rewrite makes
    double phase = 0;               // of the tone, in the frames written so far
    std::vector<float> block;
    // The recording: one channel at the probe's rate, and when each piece arrived.
    std::vector<float> heard;
    double origin = 1e300; // the wall time of the recording's first frame, at the earliest
    bool asking = false;
    double answeredAt = 0;

    void fill(std::int64_t fromFrame, std::size_t frames) {
        block.resize(2 * frames);
        for (std::size_t i = 0; i < frames; ++i) {
            const auto frame = fromFrame + static_cast<std::int64_t>(i);
            const float v = toneFrom >= 0 && frame >= toneFrom && (toneTo < 0 || frame < toneTo)
                                ? static_cast<float>(0.3 * std::sin(2 * std::numbers::pi * 440 *
                                                                    static_cast<double>(frame) / rate))
                                : 0.0f;
            block[2 * i] = block[2 * i + 1] = v;
        }
    }
    void writeMore() {
        std::size_t writable = pa_stream_writable_size(play);
        while (writable >= 8) {
            const std::size_t frames = std::min<std::size_t>(writable / 8, 256);
            fill(written / 8, frames);
            pa_stream_write(play, block.data(), frames * 8, nullptr, 0, PA_SEEK_RELATIVE);
            written += static_cast<std::int64_t>(frames * 8);
            writable -= frames * 8;
        }
    }
    void readMore() {
        const void* data = nullptr;
        std::size_t bytes = 0;
        while (pa_stream_readable_size(record) > 0 && pa_stream_peek(record, &data, &bytes) == 0 && bytes > 0) {
            const auto* f = static_cast<const float*>(data);
            for (std::size_t i = 0; i < bytes / 8; ++i)
                heard.push_back(data != nullptr ? f[2 * i] : 0.0f);
            origin = std::min(origin, now() - static_cast<double>(heard.size()) / rate);
            pa_stream_drop(record);
        }
    }
    // The output's rewrite, as it places it.
    void onTiming(int ok) {
        asking = false;
        const pa_timing_info* t = ok ? pa_stream_get_timing_info(play) : nullptr;
        if (t == nullptr || t->write_index != written) {
            std::printf("answer unusable (%s)\n", t == nullptr ? "none" : "written since");
            return;
        }
        answeredAt = now();
        const double since = static_cast<double>(pa_timeval_age(&t->timestamp)) / 1e6;
        const double sink = static_cast<double>(t->sink_usec) / 1e6;
        const std::int64_t from =
            t->read_index / 8 + static_cast<std::int64_t>((marginSeconds + since - sink) * rate);
        std::printf("held %6.1f ms, sink %5.1f ms, transport %5.1f ms, answer %4.1f ms old; ",
                    static_cast<double>(written - t->read_index) / 8 / rate * 1000, sink * 1000,
                    static_cast<double>(t->transport_usec) / 1000, since * 1000);
        if (toneWanted) {
            toneFrom = from;
            toneTo = -1;
        } else {
            toneTo = from;
        }
        const std::int64_t end = written / 8;
        if (from < end) {
            fill(from, static_cast<std::size_t>(end - from));
            pa_stream_write(play, block.data(), static_cast<std::size_t>(end - from) * 8, nullptr, from * 8,
                            PA_SEEK_ABSOLUTE);
        }
    }
    void iterate(double seconds) {
        const double until = now() + seconds;
        while (now() < until) {
            if (play != nullptr && pa_stream_get_state(play) == PA_STREAM_READY)
                writeMore();
            if (record != nullptr && pa_stream_get_state(record) == PA_STREAM_READY)
                readMore();
            pa_mainloop_prepare(loop, 1000);
            pa_mainloop_poll(loop);
            pa_mainloop_dispatch(loop);
        }
    }
};

void serverInfo(pa_context*, const pa_server_info* info, void* self) {
    static_cast<Probe*>(self)->rate = static_cast<int>(info->sample_spec.rate);
}

} // namespace

int main(int argc, char** argv) {
    Probe p;
    p.marginSeconds = (argc > 1 ? std::atof(argv[1]) : 30) / 1000;
    const int trials = argc > 2 ? std::atoi(argv[2]) : 20;
    const int recordMs = argc > 3 ? std::atoi(argv[3]) : 50;
    p.context = pa_context_new(pa_mainloop_get_api(p.loop), "rewrite-probe");
    pa_context_connect(p.context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr);
    while (pa_context_get_state(p.context) != PA_CONTEXT_READY) {
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(p.context))) {
            std::fputs("no sound server\n", stderr);
            return 1;
        }
        pa_mainloop_iterate(p.loop, 1, nullptr);
    }
    pa_operation* op = pa_context_get_server_info(p.context, serverInfo, &p);
    while (pa_operation_get_state(op) == PA_OPERATION_RUNNING)
        pa_mainloop_iterate(p.loop, 1, nullptr);
    pa_operation_unref(op);

    const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, static_cast<std::uint32_t>(p.rate), 2};
    pa_buffer_attr attr{};
    attr.maxlength = attr.prebuf = attr.minreq = attr.fragsize = static_cast<std::uint32_t>(-1);
    attr.tlength = static_cast<std::uint32_t>(p.rate) * 8; // a second, as the output queues
    p.play = pa_stream_new(p.context, "probe", &format, nullptr);
    pa_stream_connect_playback(p.play, nullptr, &attr, PA_STREAM_EARLY_REQUESTS, nullptr, nullptr);
    pa_buffer_attr recordAttr{};
    recordAttr.maxlength = recordAttr.tlength = recordAttr.prebuf = recordAttr.minreq = static_cast<std::uint32_t>(-1);
    recordAttr.fragsize = static_cast<std::uint32_t>(p.rate * recordMs / 1000 * 8);
    p.record = pa_stream_new(p.context, "probe-recorder", &format, nullptr);
    pa_stream_connect_record(p.record, "testsink.monitor", &recordAttr, PA_STREAM_ADJUST_LATENCY);
    p.iterate(2.0);
    if (const pa_buffer_attr* got = pa_stream_get_buffer_attr(p.play))
        std::printf("rate %d; the server made of a second asked: tlength %.1f ms, minreq %.1f ms, prebuf %.1f ms\n",
                    p.rate, got->tlength / 8.0 / p.rate * 1000, got->minreq / 8.0 / p.rate * 1000,
                    got->prebuf / 8.0 / p.rate * 1000);

    std::vector<double> delays[2]; // to the sound, to the silence
    for (int trial = 0; trial < 2 * trials; ++trial) {
        p.toneWanted = trial % 2 == 0;
        p.iterate(0.4);
        pa_operation* ask = pa_stream_update_timing_info(
            p.play, [](pa_stream*, int ok, void* self) { static_cast<Probe*>(self)->onTiming(ok); }, &p);
        pa_operation_unref(ask);
        p.asking = true;
        p.answeredAt = 0;
        while (p.asking)
            p.iterate(0.001);
        p.iterate(0.4);
        if (p.answeredAt == 0)
            continue;
        // The first sample of the tone, or the first of 10 ms under it.
        const int run = p.toneWanted ? 1 : p.rate / 100;
        int quiet = 0;
        std::size_t n = static_cast<std::size_t>(std::max(0.0, (p.answeredAt - p.origin) * p.rate));
        for (; n < p.heard.size(); ++n) {
            const bool loud = std::fabs(p.heard[n]) >= 0.02;
            quiet = loud ? 0 : quiet + 1;
            if (p.toneWanted ? loud : quiet == run)
                break;
        }
        if (n >= p.heard.size()) {
            std::puts("nothing heard");
            continue;
        }
        n -= static_cast<std::size_t>(p.toneWanted ? 0 : run - 1);
        const double ms = (p.origin + static_cast<double>(n) / p.rate - p.answeredAt) * 1000;
        std::printf("%s %.1f ms after the answer\n", p.toneWanted ? "sound" : "silence", ms);
        delays[p.toneWanted ? 0 : 1].push_back(ms);
    }
    for (auto& d : delays) {
        if (d.empty())
            continue;
        std::sort(d.begin(), d.end());
        std::printf("answer to %s: median %.1f ms, worst %.1f ms, best %.1f ms, of %zu (margin %.0f ms)\n",
                    &d == delays ? "sound" : "silence", d[d.size() / 2], d.back(), d.front(), d.size(),
                    p.marginSeconds * 1000);
    }
    return 0;
}
