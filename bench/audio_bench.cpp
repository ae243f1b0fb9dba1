// The audio engine's benchmarks: throughput of three decks, load to ready, memory with three
// long files playing, and start latency. Fixtures are written once into FADEWELL_BENCH_DIR
// (default /tmp/fadewell-bench) and reused. Run: build-bench/bench/fadewell_bench
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <QApplication>
#include <sys/resource.h>

#include "BenchSupport.h"
#include "audio/engine/AudioEngine.h"
#include "audio/DeckPlayer.h"
#include "audio/decode/Decoder.h"
#include "support/AudioFixtures.h"

namespace {

std::string benchDir() {
    const char* dir = std::getenv("FADEWELL_BENCH_DIR");
    std::string d = dir != nullptr ? dir : "/tmp/fadewell-bench";
    std::filesystem::create_directories(d);
    return d;
}

struct Format {
    const char* ext;
    int format;               // libsndfile writes it; 0: ffmpeg encodes the WAV of the same tone
    const char* ffmpegCodec;  // then with these arguments
};
const Format kFormats[] = {{"wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, nullptr},
                           {"flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, nullptr},
                           {"mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, nullptr},
                           {"m4a", 0, "-c:a aac -b:a 192k"}};

// A tone file of the given minutes, written on first use. `variant` gives different tones.
std::string fixture(int formatIndex, int minutes, int variant = 0) {
    const Format& f = kFormats[formatIndex];
    const std::string path = benchDir() + "/tone-" + std::to_string(minutes) + "min-" + std::to_string(variant) +
                             "." + f.ext;
    if (!std::filesystem::exists(path)) {
        std::fprintf(stderr, "writing %s ...\n", path.c_str());
        const std::string partial = path + ".part." + f.ext;
        if (f.format != 0)
            fixtures::writeTone(partial, minutes * 60.0, 220.0 + 110.0 * variant, 44100, 2, f.format, 0.3);
        else
            fixtures::ffmpegEncode(fixture(0, minutes, variant), partial, f.ffmpegCodec);
        std::filesystem::rename(partial, path);
    }
    return path;
}

// CPU seconds of the whole process, every thread: fair on a busy machine, where wall time is not.
double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// 1. Three decks of ten-minute files rendered offline to 48 kHz with volumes ramping.
void BM_ThreeDeckThroughput(benchmark::State& state) {
    const int formatIndex = static_cast<int>(state.range(0));
    const std::string paths[3] = {fixture(formatIndex, 10, 0), fixture(formatIndex, 10, 1),
                                  fixture(formatIndex, 10, 2)};
    constexpr int kRate = 48000;
    constexpr int kBlock = 256;
    std::vector<float> out(2 * kBlock);
    double audioSeconds = 0.0;
    const double cpuBefore = processCpuSeconds();
    for (auto _ : state) {
        auto engine = AudioEngine::createOffline(kRate, kBlock);
        DeckPlayer a(*engine), b(*engine), c(*engine);
        DeckPlayer* players[3] = {&a, &b, &c};
        for (int i = 0; i < 3; ++i) {
            players[i]->setFileName(QString::fromStdString(paths[i]));
            players[i]->play();
        }
        engine->processNotifications();
        const auto frames = static_cast<std::size_t>(a.duration() * kRate);
        for (std::size_t done = 0; done < frames; done += kBlock) {
            if (done % (kRate / 100) < kBlock) // a fade tick every 10 ms moves every volume
                for (int i = 0; i < 3; ++i)
                    players[i]->setVolume(-static_cast<int>((done / (kRate / 100) + 700 * i) % 4100));
            engine->renderInto(out.data(), kBlock);
            benchmark::DoNotOptimize(out.data());
        }
        audioSeconds += static_cast<double>(frames) / kRate;
    }
    const double cpu = processCpuSeconds() - cpuBefore;
    state.counters["audio_s"] = audioSeconds / static_cast<double>(state.iterations());
    state.counters["process_cpu_s"] = cpu;
    state.counters["x_realtime_cpu"] = audioSeconds / cpu;
    state.counters["x_realtime"] = benchmark::Counter(audioSeconds, benchmark::Counter::kIsRate);
    state.SetLabel(kFormats[formatIndex].ext);
}
BENCHMARK(BM_ThreeDeckThroughput)->Arg(0)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

// 2. From setting the file name to the open-state notification with the exact duration.
void BM_LoadToReady(benchmark::State& state) {
    const int formatIndex = static_cast<int>(state.range(0));
    const int minutes = static_cast<int>(state.range(1));
    const std::string path = fixture(formatIndex, minutes);
    auto engine = AudioEngine::createOffline();
    DeckPlayer player(*engine);
    double duration = 0.0;
    for (auto _ : state) {
        bool exact = false;
        const auto connection = QObject::connect(&player, &DeckPlayer::openStateChanged,
                                                 [&](int, int now) { exact = now == DeckPlayer::Open; });
        player.setFileName(QString::fromStdString(path));
        if (!exact)
            engine->processNotifications(); // waits for the MP3 frame count
        QObject::disconnect(connection);
        duration = player.duration();
        state.PauseTiming();
        player.setFileName("");
        state.ResumeTiming();
    }
    state.counters["duration_s"] = duration;
    state.SetLabel(std::string(kFormats[formatIndex].ext) + " " + std::to_string(minutes) + " min");
}
BENCHMARK(BM_LoadToReady)
    ->ArgsProduct({{0, 1, 2, 3}, {10, 60}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->UseRealTime();

// 3. Resident memory with three two-hour files loaded and playing, above the idle engine.
void BM_MemoryThreeLongFiles(benchmark::State& state) {
    const std::string paths[3] = {fixture(1, 120, 0), fixture(1, 120, 1), fixture(0, 120, 0)};
    for (auto _ : state) {
        auto engine = AudioEngine::createOffline();
        engine->render(48000);
        const long idle = residentKiB();
        DeckPlayer a(*engine), b(*engine), c(*engine);
        DeckPlayer* players[3] = {&a, &b, &c};
        for (int i = 0; i < 3; ++i) {
            players[i]->setFileName(QString::fromStdString(paths[i]));
            players[i]->play();
        }
        std::vector<float> out(2 * 48000);
        for (int s = 0; s < 20; ++s) // 20 s of playing, then a jump to the last hour and 20 s more
            engine->renderInto(out.data(), 48000);
        for (auto* p : players)
            p->setCurrentPosition(p->duration() - 3000.0);
        for (int s = 0; s < 20; ++s)
            engine->renderInto(out.data(), 48000);
        const long playing = residentKiB();
        state.counters["idle_MiB"] = idle / 1024.0;
        state.counters["above_idle_MiB"] = (playing - idle) / 1024.0;
    }
}
BENCHMARK(BM_MemoryThreeLongFiles)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

// 4. Callbacks between play and the first audible frame, from a fresh load and from a halt.
void BM_StartLatency(benchmark::State& state) {
    const std::string path = fixture(1, 10);
    auto engine = AudioEngine::createOffline(48000, 256);
    DeckPlayer player(*engine);
    std::vector<float> block(512);
    long worst = 0;
    for (auto _ : state) {
        player.setFileName(QString::fromStdString(path));
        player.setCurrentPosition(123.4);
        engine->renderInto(block.data(), 256);
        for (int round = 0; round < 2; ++round) {
            player.play();
            long callbacks = 0;
            do {
                engine->renderInto(block.data(), 256);
                ++callbacks;
            } while (fixtures::peak(block) == 0.0f && callbacks < 100);
            worst = std::max(worst, callbacks - 1); // 0: heard in the very next callback
            engine->renderInto(block.data(), 256);
            player.halt();
            engine->renderInto(block.data(), 256);
        }
    }
    state.counters["extra_callbacks_worst"] = static_cast<double>(worst);
}
BENCHMARK(BM_StartLatency)->Iterations(20);

// 5. Opus decoded to the end, 10 minutes of stereo at 48 kHz: by libsndfile (libopus), as the
// program read it before, and by the program's decoder now (FFmpeg's own Opus decoder). CPU time.
void BM_OpusDecode(benchmark::State& state) {
    const std::string path = benchDir() + "/tone-10min-0.opus";
    if (!std::filesystem::exists(path)) {
        const std::string partial = path + ".part.opus";
        fixtures::writeTone(partial, 600.0, 220.0, 48000, 2, SF_FORMAT_OGG | SF_FORMAT_OPUS, 0.3);
        std::filesystem::rename(partial, path);
    }
    std::vector<float> block(2 * 4096);
    std::size_t frames = 0;
    const double cpuBefore = processCpuSeconds();
    for (auto _ : state) {
        frames = 0;
        if (state.range(0) == 0) {
            SF_INFO info{};
            SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
            for (sf_count_t got; (got = sf_readf_float(f, block.data(), 4096)) > 0;)
                frames += static_cast<std::size_t>(got);
            sf_close(f);
        } else {
            auto d = Decoder::open(path);
            for (std::size_t got; (got = d->read(block.data(), 4096)) > 0;)
                frames += got;
        }
    }
    state.counters["cpu_s"] = (processCpuSeconds() - cpuBefore) / static_cast<double>(state.iterations());
    state.counters["audio_s"] = static_cast<double>(frames) / 48000.0;
    state.SetLabel(state.range(0) == 0 ? "libsndfile" : "Decoder (FFmpeg)");
}
BENCHMARK(BM_OpusDecode)->Arg(0)->Arg(1)->Unit(benchmark::kSecond)->Iterations(3)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
