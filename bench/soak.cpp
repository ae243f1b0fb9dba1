// The long run, offline: three decks play through hours of audio (each reloads its file and plays
// again when it ends), with a fade every few seconds and random volume moves, as an operator
// would. After every 10 ms of audio it checks that each deck's position is the frames rendered
// since its start (within the resampling filter's delay for a file at another rate), that the mix
// is finite and within its bounds, and that the callback neither allocated, freed, locked nor did
// I/O (the real-time detector is armed around renderInto on the rendering thread); every simulated
// hour it reads the resident memory. Exit status 1 on any failure.
//   fadewell_soak [--hours H] [--seed N]      (default 24 hours of audio, seed 1)
#include <QApplication>
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>
#include <random>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include "BenchSupport.h"
#include "audio/DeckPlayer.h"
#include "audio/engine/AudioEngine.h"
#include "common/Globals.h"
#include "realtime/RealtimeDetector.h"
#include "support/AudioFixtures.h"

namespace {

constexpr int kRate = 48000;
constexpr int kBlock = 256;
constexpr std::size_t kTick = kRate / 100; // 10 ms, the console's fade timer
constexpr float kAmplitude = 0.3f;

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto s = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return s(usage.ru_utime) + s(usage.ru_stime);
}

struct Deck {
    const char* name;
    std::string path;
    std::unique_ptr<DeckPlayer> player;
    std::uint64_t frames = 0; // rendered since it last started
    long loops = 0;
    int slider = 20; // 0 loudest .. 100 quietest, as the console's sliders
    void applySlider() {
        player->setVolume(Globals::PlayerVolumeFromSlider(static_cast<std::int16_t>(slider)));
    }
};

} // namespace

int main(int argc, char** argv) {
    double hours = 24.0;
    unsigned seed = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--hours") == 0 && i + 1 < argc)
            hours = std::atof(argv[++i]);
        else if (std::strcmp(argv[i], "--seed") == 0 && i + 1 < argc)
            seed = static_cast<unsigned>(std::atol(argv[++i]));
        else {
            std::fprintf(stderr, "usage: %s [--hours H] [--seed N]\n", argv[0]);
            return 2;
        }
    }
    {
        // The detector must be live in this program, or its zero below would mean nothing.
        realtime::g_hits.store(0);
        {
            realtime::Armed armed;
            delete new (std::nothrow) volatile int(1); // NOLINT: an allocation the detector must see
        }
        if (realtime::g_hits.load() < 2) {
            std::fprintf(stderr, "the real-time detector is not linked in\n");
            return 2;
        }
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    fixtures::TempDir dir;
    std::mt19937 random(seed);

    // Three formats, three lengths, so the ends fall at different moments; two are resampled.
    auto engine = AudioEngine::createOffline(kRate, kBlock);
    std::array<Deck, 3> decks{Deck{"A",
                                   fixtures::writeTone(dir.file("a.flac"), 173.0, 220.0, 44100, 2,
                                                       SF_FORMAT_FLAC | SF_FORMAT_PCM_16, kAmplitude),
                                   nullptr},
                              Deck{"B",
                                   fixtures::writeTone(dir.file("b.mp3"), 127.0, 330.0, 44100, 1,
                                                       SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, kAmplitude),
                                   nullptr},
                              Deck{"C",
                                   fixtures::writeTone(dir.file("c.wav"), 97.0, 440.0, kRate, 2,
                                                       SF_FORMAT_WAV | SF_FORMAT_PCM_16, kAmplitude),
                                   nullptr}};
    for (Deck& d : decks) {
        d.player = std::make_unique<DeckPlayer>(*engine);
        d.player->setFileName(QString::fromStdString(d.path));
        d.applySlider();
        d.player->play();
    }
    engine->processNotifications();

    const auto totalTicks = static_cast<std::uint64_t>(hours * 3600.0 * 100.0);
    std::vector<float> out(2 * kTick);
    long failures = 0;
    std::uint64_t tick = 0;
    const auto fail = [&](const std::string& what) {
        if (++failures <= 20)
            std::fprintf(stderr, "FAIL at %.4f h of audio: %s\n", static_cast<double>(tick) / 360000.0,
                         what.c_str());
    };
    long realtimeHits = 0;
    long fades = 0, sliderMoves = 0;
    float loudest = 0.0f;
    long rssBaseline = -1, rssMax = 0;
    std::uint64_t nextFade = 300; // ticks
    int fadeTarget = -1;
    const auto wallStart = std::chrono::steady_clock::now();
    const double cpuStart = cpuSeconds();

    for (tick = 1; tick <= totalTicks; ++tick) {
        realtime::g_hits.store(0, std::memory_order_relaxed);
        {
            realtime::Armed armed;
            engine->renderInto(out.data(), kTick);
        }
        realtimeHits += realtime::g_hits.load(std::memory_order_relaxed);
        for (float s : out) {
            if (!std::isfinite(s) || std::abs(s) > 3 * kAmplitude + 1e-4f) {
                fail("mix sample " + std::to_string(s));
                break;
            }
            loudest = std::max(loudest, std::abs(s));
        }

        // Positions are the frames rendered, until the last tick of a file: exactly for the deck at
        // the engine's rate. A file the callback resamples counts its own frames, and a deck that
        // starts while its rate group plays on is heard half a filter length (24 frames) later:
        // within 30 of its frames.
        for (Deck& d : decks) {
            d.frames += kTick;
            const double expected = static_cast<double>(d.frames) / kRate;
            const double duration = d.player->duration();
            const double position = d.player->currentPosition();
            if (expected < duration - 0.01) {
                if (std::abs(position - expected) > 30.0 / 44100)
                    fail(std::string("deck ") + d.name + " at " + std::to_string(position) + " s after " +
                         std::to_string(expected) + " s rendered");
            } else if (position < expected - 0.01 - 30.0 / 44100 || position > duration) {
                fail(std::string("deck ") + d.name + " near its end at " + std::to_string(position));
            }
        }

        engine->processNotifications();
        for (Deck& d : decks)
            if (d.player->playState() != DeckPlayer::Playing) {
                // It ended: load the file again and play on, as an operator looping a bed would.
                const double duration = d.player->duration();
                const double expectedEnd = static_cast<double>(d.frames) / kRate;
                if (expectedEnd < duration - 0.001 || expectedEnd > duration + 0.02)
                    fail(std::string("deck ") + d.name + " ended after " + std::to_string(expectedEnd) +
                         " s of " + std::to_string(duration));
                d.player->setFileName(QString::fromStdString(d.path));
                d.applySlider();
                d.player->play();
                d.frames = 0;
                ++d.loops;
            }

        // A fade every few seconds: one deck rises to the top, the others sink a step per tick.
        if (tick == nextFade) {
            fadeTarget = static_cast<int>(random() % 3);
            ++fades;
        }
        if (fadeTarget >= 0) {
            bool moving = false;
            for (int i = 0; i < 3; ++i) {
                Deck& d = decks[static_cast<std::size_t>(i)];
                const int goal = i == fadeTarget ? 0 : 100;
                if (d.slider != goal) {
                    d.slider += d.slider < goal ? 1 : -1;
                    d.applySlider();
                    moving = true;
                }
            }
            if (!moving) {
                fadeTarget = -1;
                nextFade = tick + 200 + random() % 600;
            }
        }
        // Now and then the operator grabs a slider.
        if (random() % 40 == 0) {
            Deck& d = decks[random() % 3];
            d.slider = static_cast<int>(random() % 101);
            d.applySlider();
            ++sliderMoves;
        }

        if (tick % (3600 * 100) == 0 || tick == totalTicks || tick == 600 * 100) {
            const long rss = residentKiB();
            if (tick == 600 * 100 || (rssBaseline < 0 && tick == totalTicks))
                rssBaseline = rss; // after ten minutes: every file loaded, every ring and thread made
            if (tick > 600 * 100)
                rssMax = std::max(rssMax, rss);
            const double wall =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
            const double audio = static_cast<double>(tick) / 100.0;
            std::printf(
                "%7.2f h of audio  wall %7.1f s  x%.0f real time  RSS %ld KiB  loops A %ld B %ld C %ld\n",
                audio / 3600.0, wall, audio / wall, rss, decks[0].loops, decks[1].loops, decks[2].loops);
            std::fflush(stdout);
        }
    }

    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    const double cpu = cpuSeconds() - cpuStart;
    const double audio = static_cast<double>(totalTicks) / 100.0;
    const long growth = rssMax > 0 && rssBaseline > 0 ? rssMax - rssBaseline : 0;
    std::printf("\naudio %.2f h (%.0f s), wall %.1f s (x%.0f real time), CPU %.1f s (x%.0f)\n",
                audio / 3600.0, audio, wall, audio / wall, cpu, audio / cpu);
    std::printf("loops A %ld, B %ld, C %ld; fades %ld; slider moves %ld; loudest sample %.4f\n",
                decks[0].loops, decks[1].loops, decks[2].loops, fades, sliderMoves, loudest);
    std::printf("resident memory after 10 min %ld KiB, highest after %ld KiB, growth %ld KiB\n", rssBaseline,
                rssMax, growth);
    std::printf("calls that allocate, free, lock or do I/O in the callback: %ld\n", realtimeHits);
    std::printf("position or level failures: %ld\n", failures);
    if (realtimeHits != 0 || failures != 0 || growth > 4096) {
        std::printf("SOAK FAILED\n");
        return 1;
    }
    std::printf("SOAK PASSED\n");
    return 0;
}
