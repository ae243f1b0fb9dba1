#pragma once
// A shell that starts nothing: it knows a set of files, records every file probed and every program
// it was asked to start, and, like a real system, fails to start a program that is not one of its
// files (or any program at all when told to).
#include <QSet>
#include <QString>
#include <QStringList>

#include "common/Errors.h"
#include "platform/Shell.h"

class FakeShell final : public Shell {
public:
    bool fileExists(const QString& path) const override {
        probed.append(path);
        return files.contains(path);
    }

    void startProgram(const QString& path) override {
        startAttempts.append(path);
        if (refuseEveryStart || !files.contains(path))
            throw FadewellError("cannot start " + path.toStdString());
        started.append(path);
    }

    QSet<QString> files;
    bool refuseEveryStart = false;

    mutable QStringList probed;
    QStringList startAttempts;
    QStringList started;
};
