// Starts the console: the window with every control at its start-up values, its load handler, then
// the window shown and the files of the command line loaded on its decks. Everything else happens
// in the console's handlers.
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <variant>

#include "audio/engine/AudioEngine.h"
#include "audio/output/OutputDevices.h"
#include "audio/output/ThreadPriority.h"
#include "common/CommandLine.h"
#include "console/frmConsole.h"
#include "control/AirLog.h"
#include "control/MidiControl.h"
#include "control/MidiMap.h"
#include "control/MidiPort.h"
#include "control/OscServer.h"
#include "platform/AlsaMixer.h"
#include "platform/Clock.h"
#include "platform/FileDialog.h"
#include "platform/MessageBoxes.h"
#include "platform/QtShell.h"
#include "platform/SystemRegistry.h"

int main(int argc, char** argv) {
    // The output's options first (they leave argv), then the files, --help and --version.
    const CommandLine::OutputRequest output =
        CommandLine::takeOutputOptions(argc, argv, std::getenv("FADEWELL_DEVICE"));
    if (!output.error.empty()) {
        std::fprintf(stderr, "fadewell: %s\n", output.error.c_str());
        return 2;
    }
    const CommandLine::ControlRequest control = CommandLine::takeControlOptions(
        argc, argv, std::getenv("FADEWELL_OSC_PORT"), std::getenv("FADEWELL_MIDI"));
    if (!control.error.empty()) {
        std::fprintf(stderr, "fadewell: %s\n", control.error.c_str());
        return 2;
    }
    if (!control.warning.empty())
        std::fprintf(stderr, "fadewell: %s\n", control.warning.c_str());
    const CommandLine::Request request = CommandLine::parse(CommandLine::arguments(argc, argv));
    if (const auto status = CommandLine::answer(request, std::cout, std::cerr))
        return *status;
    if (output.list) {
        std::fputs(formatDeviceList(listOutputDevices()).c_str(), stdout);
        std::fputs(formatMidiInputList(listMidiInputs()).c_str(), stdout);
        return 0;
    }
    // A map file with a mistake is refused before anything starts: a controller whose notes mean
    // something else than its operator wrote must not reach the decks on air.
    midi::Map midiMap = midi::defaultMap();
    if (!control.midiMapFile.empty()) {
        auto read = midi::readMap(control.midiMapFile);
        if (const auto* error = std::get_if<std::string>(&read)) {
            std::fprintf(stderr, "fadewell: %s\n", error->c_str());
            return 2;
        }
        midiMap = std::get<midi::Map>(std::move(read));
    }
    // The toolkit sees the program's name alone: every other argument was ours.
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    QApplication::setApplicationName(QStringLiteral("Fadewell"));

    std::string outputError;
    auto engine = AudioEngine::createDefault(requestedOutputDevice(output, outputError));
    if (!outputError.empty())
        std::fprintf(stderr, "Fadewell: %s\n", outputError.c_str());
    mixer::AlsaMixer mixer;
    // What a file dialog freed is handed back: the engine's locked memory would keep it resident.
    QtFileDialog fileDialog(ThreadPriority::returnFreedHeap);
    QtMessageBoxes messageBoxes;
    SystemClock clock;
    SystemRegistry registry;
    QtShell shell;
    ConsolePlatform platform{*engine, mixer,    fileDialog, messageBoxes,
                             clock,   registry, shell,      [] { QCoreApplication::exit(0); }};

    frmConsole console(platform);
    // The log watches the decks from before the first file is loaded. OSC listens before the load
    // handler runs, whose message box (no mixer) would otherwise hold a show controller off until
    // someone answers it. Neither keeps the console from running when it cannot work.
    std::unique_ptr<AirLog> airLog;
    if (control.log) {
        airLog = std::make_unique<AirLog>(control.logFile.empty() ? AirLog::defaultPath()
                                                                  : QString::fromLocal8Bit(control.logFile));
        airLog->watch(console);
    }
    std::unique_ptr<OscServer> osc;
    std::string oscError;
    if (control.oscPort) {
        try {
            osc = std::make_unique<OscServer>(console, control.oscHost, *control.oscPort);
        } catch (const std::runtime_error& e) {
            oscError = e.what();
            std::fprintf(stderr, "fadewell: %s (%s)\n", e.what(), control.oscSource.c_str());
        }
    }
    // MIDI, as OSC, before the load handler. The port hands each message to the control, so it is
    // declared after it and goes first.
    std::unique_ptr<MidiControl> midiControl;
    std::unique_ptr<MidiPort> midiPort;
    std::string midiError;
    if (control.midiName) {
        midiControl = std::make_unique<MidiControl>(console, std::move(midiMap));
        try {
            midiPort = std::make_unique<MidiPort>(
                *control.midiName, [c = midiControl.get()](const unsigned char* bytes, std::size_t size) {
                    c->receive(bytes, size);
                });
        } catch (const std::runtime_error& e) {
            midiError = e.what();
            std::fprintf(stderr, "fadewell: %s (%s)\n", e.what(), control.midiSource.c_str());
        }
    }
    console.Form_Load();
    console.show();
    if (!outputError.empty())
        messageBoxes.notify(&console, QString::fromStdString(outputError), {});
    if (!oscError.empty())
        messageBoxes.notify(&console, QString::fromStdString(oscError), {});
    if (!midiError.empty())
        messageBoxes.notify(&console, QString::fromStdString(midiError), {});
    QTimer::singleShot(0, &console, [&] {
        for (const QString& file : console.openFiles(request.files))
            std::cerr << "fadewell: not loaded, there are only three decks: " << file.toStdString() << "\n";
    });
    return app.exec();
}
