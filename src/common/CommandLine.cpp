#include "common/CommandLine.h"

#include <QFile>
#include <cstring>
#include <ostream>

#include "AppInfo.h"

namespace CommandLine {
namespace {

// One option: its long name, an optional short name, the name of its value (none: it takes none),
// what it does for the usage text, and what it sets in the request.
struct Option {
    const char* name;
    const char* shortName;
    const char* valueName;
    const char* description;
    void (*apply)(Request& request, const QString& value);
};

void setAction(Request& r, Action action) {
    if (r.action == Action::Run)
        r.action = action;
}

const Option kOptions[] = {
    {"--help", "-h", nullptr, "show this help and exit",
     [](Request& r, const QString&) { setAction(r, Action::Help); }},
    {"--version", nullptr, nullptr, "show the version and exit",
     [](Request& r, const QString&) { setAction(r, Action::Version); }},
};

const Option* findOption(const QString& name) {
    for (const Option& o : kOptions)
        if (name == QLatin1String(o.name) || (o.shortName != nullptr && name == QLatin1String(o.shortName)))
            return &o;
    return nullptr;
}

Request failure(const QString& error) {
    Request r;
    r.action = Action::Error;
    r.error = error;
    return r;
}

} // namespace

Request parse(const QStringList& arguments) {
    Request request;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument.isEmpty())
            return failure(QStringLiteral("an empty argument is not a file name"));
        if (optionsEnded || !argument.startsWith(u'-')) {
            request.files.append(argument);
            continue;
        }
        if (argument == u"--") {
            optionsEnded = true;
            continue;
        }
        // --name=value, or --name value for an option that takes one.
        const qsizetype equals = argument.startsWith(u"--") ? argument.indexOf(u'=') : -1;
        const QString name = equals < 0 ? argument : argument.left(equals);
        const Option* option = findOption(name);
        if (option == nullptr)
            return failure(QStringLiteral("unknown option %1").arg(name));
        QString value;
        if (option->valueName == nullptr) {
            if (equals >= 0)
                return failure(QStringLiteral("option %1 takes no value").arg(name));
        } else if (equals >= 0) {
            value = argument.mid(equals + 1);
        } else if (i + 1 < arguments.size()) {
            value = arguments[++i];
        }
        if (option->valueName != nullptr && value.isEmpty())
            return failure(
                QStringLiteral("option %1 needs a value (%2)").arg(name, QLatin1String(option->valueName)));
        option->apply(request, value);
    }
    return request;
}

QStringList arguments(int argc, char** argv) {
    QStringList list;
    for (int i = 1; i < argc; ++i)
        list.append(QFile::decodeName(argv[i]));
    return list;
}

QString usage() {
    QString text = QStringLiteral(
        "Usage: fadewell [OPTION]... [FILE]...\n"
        "Plays recorded audio live on three decks, A, B and C.\n"
        "\n"
        "The files given are loaded on the decks in order: the first on A, the second on B, the third\n"
        "on C, each halted at its start. A file that cannot be played is named in a message and its\n"
        "deck stays as it was; the next file still goes to the next deck. Files beyond the third are\n"
        "named on standard error and not loaded.\n"
        "\n"
        "Options:\n");
    for (const Option& o : kOptions) {
        QString names = o.shortName != nullptr ? QStringLiteral("%1, ").arg(QLatin1String(o.shortName))
                                               : QStringLiteral("    ");
        names += QLatin1String(o.name);
        if (o.valueName != nullptr)
            names += u' ' + QLatin1String(o.valueName);
        text += QStringLiteral("  %1  %2\n").arg(names, -20).arg(QLatin1String(o.description));
    }
    text += QStringLiteral("  %1  %2\n")
                .arg(QStringLiteral("    --"), -20)
                .arg(QStringLiteral("every argument after it is a file, even one starting with '-'"));
    // The output's options, taken out before these are read (takeOutputOptions).
    text += QStringLiteral("  %1  %2\n")
                .arg(QStringLiteral("    --list-devices"), -20)
                .arg(QStringLiteral("list the output devices and exit"));
    text += QStringLiteral("  %1  %2\n")
                .arg(QStringLiteral("    --device NAME"), -20)
                .arg(QStringLiteral("play on that output device (or a unique part of its name)"));
    text += QStringLiteral(
        "\nThe environment variable FADEWELL_DEVICE names the output device when --device does not.\n");
    return text;
}

QString version() {
    return QStringLiteral("%1 %2.%3.%4\n")
        .arg(QLatin1String(AppInfo::kTitle))
        .arg(AppInfo::kVersionMajor)
        .arg(AppInfo::kVersionMinor)
        .arg(AppInfo::kVersionRevision);
}

std::optional<int> answer(const Request& request, std::ostream& out, std::ostream& err) {
    switch (request.action) {
    case Action::Run:
        return std::nullopt;
    case Action::Help:
        out << usage().toStdString() << std::flush;
        return 0;
    case Action::Version:
        out << version().toStdString() << std::flush;
        return 0;
    case Action::Error:
        err << "fadewell: " << request.error.toStdString() << "\n\n" << usage().toStdString() << std::flush;
        return 2;
    }
    return 2;
}

OutputRequest takeOutputOptions(int& argc, char** argv, const char* environmentDevice) {
    OutputRequest request;
    int kept = 1;
    int i = 1;
    for (; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--") == 0)
            break; // what follows is not an option, whatever it looks like
        if (std::strcmp(arg, "--list-devices") == 0) {
            request.list = true;
        } else if (std::strcmp(arg, "--device") == 0) {
            if (i + 1 >= argc) {
                request.error = "--device needs the name of an output device (\"fadewell --list-devices\" "
                                "lists them)";
            } else {
                request.name = argv[++i];
                request.source = "--device";
            }
        } else if (std::strncmp(arg, "--device=", 9) == 0) {
            request.name = arg + 9;
            request.source = "--device";
        } else {
            argv[kept++] = argv[i];
        }
    }
    for (; i < argc; ++i)
        argv[kept++] = argv[i];
    argc = kept;
    argv[argc] = nullptr;
    if (!request.name && environmentDevice != nullptr && *environmentDevice != '\0') {
        request.name = environmentDevice;
        request.source = "FADEWELL_DEVICE";
    }
    return request;
}

} // namespace CommandLine
