// How the fade timer keeps time in the running program: the real console on the real audio engine
// (or its silent clock when there is no output device), three decks playing, every timer running.
// Measures the fade timer's ticks per second during a fade, how long a fade with the default text
// takes from the click to its end (100 ticks: about one second when no tick is lost), the ticks in a
// second with no fade (none: the timer sleeps), and the fade tick's own work.
//   fadewell-bench-fade-timer [runs]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <sndfile.h>
#include <vector>

#include "audio/engine/AudioEngine.h"
#include "console/ConsoleTimer.h"
#include "console/MediaPlayer.h"
#include "console/ScrollSlider.h"
#include "console/frmConsole.h"
#include "platform/Clock.h"
#include "platform/FileDialog.h"
#include "platform/MessageBoxes.h"
#include "platform/QtShell.h"
#include "platform/SystemRegistry.h"
#include "support/MemoryMixer.h"

namespace {

void writeTone(const QString& path, double seconds, double frequency) {
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.toLocal8Bit().constData(), SFM_WRITE, &info);
    if (file == nullptr)
        throw std::runtime_error("cannot write " + path.toStdString());
    const auto frames = static_cast<sf_count_t>(seconds * info.samplerate);
    std::vector<float> samples(static_cast<std::size_t>(frames) * 2);
    for (sf_count_t i = 0; i < frames; ++i)
        samples[2 * i] = samples[2 * i + 1] = static_cast<float>(0.3 * std::sin(2 * M_PI * frequency * i / 44100.0));
    sf_writef_float(file, samples.data(), frames);
    sf_close(file);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

    QTemporaryDir dir;
    auto engine = AudioEngine::createDefault();
    mixer::MemoryMixer mixer;
    mixer.addVolumeLine(mixer::MIXERLINE_COMPONENTTYPE_DST_SPEAKERS);
    QtFileDialog dialog;
    QtMessageBoxes boxes;
    SystemClock clock;
    SystemRegistry registry;
    QtShell shell;
    frmConsole console(ConsolePlatform{*engine, mixer, dialog, boxes, clock, registry, shell, [] {}});
    console.Form_Load();
    console.show();

    MediaPlayer* players[] = {console.MediaPlayerA, console.MediaPlayerB, console.MediaPlayerC};
    for (int i = 0; i < 3; ++i) {
        const QString path = dir.filePath(QStringLiteral("deck%1.wav").arg(i));
        writeTone(path, 120.0, 220.0 * (i + 1));
        players[i]->setFileName(path);
        players[i]->play();
    }

    int ticks = 0;
    QObject::connect(console.tmrFade, &ConsoleTimer::timeout, [&] { ++ticks; });

    // The fade tick's own work, timed around direct calls while a fade runs.
    std::vector<double> tickMicros;

    std::printf("output: %s, three decks playing\n",
                engine->output() == AudioEngine::Output::Device ? "sound device" : "silent clock");
    std::printf("run  ticks/s  fade(ms)  ticks-in-fade  ticks-in-the-idle-second\n");
    std::vector<double> fades;
    for (int run = 0; run < runs; ++run) {
        for (ScrollSlider* s : {console.SliderA, console.SliderB, console.SliderC})
            s->setValue(0);
        const int deck = run % 3;
        QPushButton* autos[] = {console.cmdAudoFadeA, console.cmdAudoFadeB, console.cmdAudoFadeC};
        QElapsedTimer elapsed;
        const int ticksBefore = ticks;
        elapsed.start();
        autos[deck]->click();
        while (console.fadeIsActive() && elapsed.elapsed() < 5000)
            app.processEvents(QEventLoop::WaitForMoreEvents, 5);
        const double fadeMs = elapsed.nsecsElapsed() / 1e6;
        const int fadeTicks = ticks - ticksBefore;
        const double perSecond = fadeTicks / (fadeMs / 1e3);
        // One more second with no fade: the timer sleeps, and ticks nothing.
        const int idleBefore = ticks;
        QElapsedTimer idle;
        idle.start();
        while (idle.elapsed() < 1000)
            app.processEvents(QEventLoop::WaitForMoreEvents, 5);
        const int idleTicks = ticks - idleBefore;
        std::printf("%3d  %7.1f  %8.1f  %13d  %d\n", run + 1, perSecond, fadeMs, fadeTicks, idleTicks);
        fades.push_back(fadeMs);
    }

    // The tick's own work: a fade that never ends (text "12" moves nothing but re-applies volumes).
    console.txtAutoFade->setText(QStringLiteral("12"));
    console.cmdAudoFadeA->click();
    for (int i = 0; i < 2000; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        console.tmrFade_Timer();
        tickMicros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
    }
    std::sort(tickMicros.begin(), tickMicros.end());
    std::sort(fades.begin(), fades.end());
    std::printf("fade with text 4: median %.1f ms (100 ticks of 10 ms = 1000 ms)\n", fades[fades.size() / 2]);
    std::printf("fade tick work: median %.1f us, 99th percentile %.1f us, max %.1f us (budget 10000 us)\n",
                tickMicros[tickMicros.size() / 2], tickMicros[tickMicros.size() * 99 / 100], tickMicros.back());
    return 0;
}
