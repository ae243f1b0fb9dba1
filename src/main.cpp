// Starts the console: the window with every control at its start-up values, its load handler, then
// the window shown and the files of the command line loaded on its decks. Everything else happens
// in the console's handlers.
#include <QApplication>
#include <QTimer>
#include <iostream>

#include "audio/AudioEngine.h"
#include "common/CommandLine.h"
#include "console/frmConsole.h"
#include "platform/AlsaMixer.h"
#include "platform/Clock.h"
#include "platform/FileDialog.h"
#include "platform/MessageBoxes.h"
#include "platform/QtShell.h"
#include "platform/SystemRegistry.h"

int main(int argc, char** argv) {
    const CommandLine::Request request = CommandLine::parse(CommandLine::arguments(argc, argv));
    if (const auto status = CommandLine::answer(request, std::cout, std::cerr))
        return *status;
    // The toolkit sees the program's name alone: every other argument was ours.
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    QApplication::setApplicationName(QStringLiteral("Fadewell"));

    auto engine = AudioEngine::createDefault();
    mixer::AlsaMixer mixer;
    QtFileDialog fileDialog;
    QtMessageBoxes messageBoxes;
    SystemClock clock;
    SystemRegistry registry;
    QtShell shell;
    ConsolePlatform platform{*engine, mixer, fileDialog, messageBoxes, clock, registry, shell,
                             [] { QCoreApplication::exit(0); }};

    frmConsole console(platform);
    console.Form_Load();
    console.show();
    QTimer::singleShot(0, &console, [&] {
        for (const QString& file : console.openFiles(request.files))
            std::cerr << "fadewell: not loaded, there are only three decks: " << file.toStdString() << "\n";
    });
    return app.exec();
}
