// Starts the console: the window with every control at its start-up values, its load handler, then
// the window shown. Everything else happens in the console's handlers.
#include <QApplication>

#include "audio/AudioEngine.h"
#include "console/frmConsole.h"
#include "platform/AlsaMixer.h"
#include "platform/Clock.h"
#include "platform/FileDialog.h"
#include "platform/MessageBoxes.h"
#include "platform/QtShell.h"
#include "platform/SystemRegistry.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
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
    return app.exec();
}
