#include "platform/QtShell.h"

#include <QFileInfo>
#include <QProcess>

#include "common/Errors.h"

bool QtShell::fileExists(const QString& path) const {
    return !path.isEmpty() && QFileInfo(path).isFile();
}

void QtShell::startProgram(const QString& path) {
    // The program is given as a path, never split into words: a folder with spaces stays one name.
    QProcess process;
    process.setProgram(path);
    if (path.isEmpty() || !process.startDetached())
        throw FadewellError("Cannot start the program \"" + path.toStdString() + "\"");
}
