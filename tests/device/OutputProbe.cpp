// A small program for the lost-device tests: the real engine (createDefault) with two decks
// playing, in a Qt event loop like the console's. Every 50 ms it prints one status line on stdout:
//   status ms=<since start> output=<Device|SilentClock|Offline> a=<seconds> b=<seconds>
//          stateA=<0..2> stateB=<0..2> ticks=<10 ms timer ticks so far> gap=<longest gap between
//          two ticks since the last line, ms>
// It ends when its standard input closes, or after the given number of seconds. It plays on the
// output FADEWELL_DEVICE names, if any (exit status 3 when that names none).
//   fadewell_output_probe FILE_A FILE_B MAX_SECONDS
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <unistd.h>

#include "audio/DeckPlayer.h"
#include "audio/engine/AudioEngine.h"
#include "audio/output/OutputDevices.h"
#include "common/CommandLine.h"

namespace {

const char* outputName(AudioEngine::Output output) {
    switch (output) {
    case AudioEngine::Output::Device:
        return "Device";
    case AudioEngine::Output::SilentClock:
        return "SilentClock";
    case AudioEngine::Output::Offline:
        break;
    }
    return "Offline";
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s FILE_A FILE_B MAX_SECONDS\n", argv[0]);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication app(argc, argv);
    QElapsedTimer clock;
    clock.start();

    // The output FADEWELL_DEVICE names, if any, as the program chooses it.
    std::string deviceError;
    const CommandLine::OutputRequest request =
        CommandLine::takeOutputOptions(argc, argv, std::getenv("FADEWELL_DEVICE"));
    auto engine = AudioEngine::createDefault(requestedOutputDevice(request, deviceError));
    if (!deviceError.empty())
        return 3;
    DeckPlayer a(*engine), b(*engine);
    a.setFileName(QString::fromLocal8Bit(argv[1]));
    b.setFileName(QString::fromLocal8Bit(argv[2]));
    a.play();
    b.play();

    long ticks = 0;
    qint64 lastTick = clock.elapsed();
    qint64 longestGap = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(10);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longestGap = std::max(longestGap, now - lastTick);
        lastTick = now;
        ++ticks;
    });
    tick.start();

    QTimer report;
    report.setInterval(50);
    QObject::connect(&report, &QTimer::timeout, [&] {
        std::printf("status ms=%lld output=%s a=%.6f b=%.6f stateA=%d stateB=%d ticks=%ld gap=%lld\n",
                    static_cast<long long>(clock.elapsed()), outputName(engine->output()),
                    a.currentPosition(), b.currentPosition(), a.playState(), b.playState(), ticks,
                    static_cast<long long>(longestGap));
        std::fflush(stdout);
        longestGap = 0;
    });
    report.start();

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[256];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
            app.quit();
    });
    QTimer::singleShot(std::atoi(argv[3]) * 1000, &app, &QCoreApplication::quit);
    return app.exec();
}
