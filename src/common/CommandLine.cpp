#include "common/CommandLine.h"

#include <QFile>
#include <charconv>
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
                .arg(QStringLiteral("list the output devices and the MIDI inputs and exit"));
    text += QStringLiteral("  %1  %2\n")
                .arg(QStringLiteral("    --device NAME"), -20)
                .arg(QStringLiteral("play on that output device (or a unique part of its name)"));
    // Control from outside and the log, taken out the same way (takeControlOptions).
    text += QStringLiteral("  %1  %2\n")
                .arg(QStringLiteral("    --log [FILE]"), -20)
                .arg(QStringLiteral(
                    "log each deck started, halted, stopped or ended in FILE; alone (last,\n"
                    "                        or before another option): $XDG_STATE_HOME/fadewell/air.log"));
    text += QStringLiteral("  %1  %2\n")
                .arg(QStringLiteral("    --osc PORT"), -20)
                .arg(QStringLiteral("take OSC messages on that UDP port"));
    text += QStringLiteral("  %1  %2\n")
                .arg(QStringLiteral("    --osc-host ADDR"), -20)
                .arg(QStringLiteral("the address OSC listens on (127.0.0.1 unless given)"));
    text += QStringLiteral("  %1  %2\n")
                .arg(QStringLiteral("    --midi NAME"), -20)
                .arg(QStringLiteral("take MIDI from that input (or a unique part of its name)"));
    text += QStringLiteral("  %1  %2\n")
                .arg(QStringLiteral("    --midi-map FILE"), -20)
                .arg(QStringLiteral("map MIDI notes and controllers to the console as FILE says"));
    text += QStringLiteral(
        "\nThe environment variable FADEWELL_DEVICE names the output device when --device does not,\n"
        "FADEWELL_OSC_PORT the OSC port when --osc does not, FADEWELL_MIDI the MIDI input when --midi\n"
        "does not.\n");
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

namespace {
// Takes the options that take(i) knows out of argv, up to a "--" (what follows is not an option,
// whatever it looks like): take(i) says whether argv[i] is one of them, and moves i past any value
// it took. The rest stays in argv, in order, argc lowered.
template <class Take> void takeOptions(int& argc, char** argv, Take take) {
    int kept = 1;
    int i = 1;
    for (; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            break;
        if (!take(i))
            argv[kept++] = argv[i];
    }
    for (; i < argc; ++i)
        argv[kept++] = argv[i];
    argc = kept;
    argv[argc] = nullptr;
}
} // namespace

OutputRequest takeOutputOptions(int& argc, char** argv, const char* environmentDevice) {
    OutputRequest request;
    takeOptions(argc, argv, [&](int& i) {
        const char* arg = argv[i];
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
            return false;
        }
        return true;
    });
    if (!request.name && environmentDevice != nullptr && *environmentDevice != '\0') {
        request.name = environmentDevice;
        request.source = "FADEWELL_DEVICE";
    }
    return request;
}

namespace {
std::optional<int> portNumber(const char* text) {
    int port = 0;
    const char* end = text + std::strlen(text);
    const auto [ptr, ec] = std::from_chars(text, end, port);
    if (ec != std::errc() || ptr != end || port < 1 || port > 65535)
        return std::nullopt;
    return port;
}
} // namespace

ControlRequest takeControlOptions(int& argc, char** argv, const char* environmentOscPort,
                                  const char* environmentMidi) {
    ControlRequest request;
    std::optional<std::string> host;
    std::optional<std::string> midiMap;
    takeOptions(argc, argv, [&](int& i) {
        // The value of an option given as "--name=value" or "--name value"; nothing when arg is not it.
        const auto valueOf = [&](const char* name, std::optional<std::string>& value) {
            const std::size_t n = std::strlen(name);
            if (std::strncmp(argv[i], name, n) != 0)
                return false;
            if (argv[i][n] == '=') {
                value = argv[i] + n + 1;
                return true;
            }
            if (argv[i][n] != '\0')
                return false;
            if (i + 1 < argc)
                value = argv[++i];
            return true;
        };
        const char* arg = argv[i];
        std::optional<std::string> value;
        if (std::strcmp(arg, "--log") == 0) {
            request.log = true;
            if (i + 1 < argc && argv[i + 1][0] != '-' && argv[i + 1][0] != '\0')
                request.logFile = argv[++i];
        } else if (std::strncmp(arg, "--log=", 6) == 0) {
            request.log = true;
            request.logFile = arg + 6;
            if (request.logFile.empty())
                request.error = "--log= needs a file name (or --log alone for the default file)";
        } else if (valueOf("--osc-host", host)) {
            if (!host || host->empty())
                request.error = "--osc-host needs an address to listen on (such as 0.0.0.0 for every one)";
        } else if (valueOf("--osc", value)) {
            request.oscPort = value ? portNumber(value->c_str()) : std::nullopt;
            request.oscSource = "--osc";
            if (!request.oscPort)
                request.error = "--osc needs a UDP port number from 1 to 65535";
        } else if (valueOf("--midi-map", midiMap)) {
            if (!midiMap || midiMap->empty())
                request.error = "--midi-map needs the name of a MIDI map file";
        } else if (valueOf("--midi", value)) {
            if (!value || value->empty())
                request.error =
                    "--midi needs the name of a MIDI input (\"fadewell --list-devices\" lists them)";
            request.midiName = value;
            request.midiSource = "--midi";
        } else {
            return false;
        }
        return true;
    });
    if (!request.midiName && environmentMidi != nullptr && *environmentMidi != '\0') {
        request.midiName = environmentMidi;
        request.midiSource = "FADEWELL_MIDI";
    }
    if (midiMap) {
        request.midiMapFile = *midiMap;
        if (!request.midiName && request.error.empty())
            request.error = "--midi-map needs --midi NAME (or FADEWELL_MIDI)";
    }
    if (request.oscSource.empty() && environmentOscPort != nullptr && *environmentOscPort != '\0') {
        request.oscPort = portNumber(environmentOscPort);
        if (request.oscPort)
            request.oscSource = "FADEWELL_OSC_PORT";
        else
            request.warning = "FADEWELL_OSC_PORT=" + std::string(environmentOscPort) +
                              " is not a UDP port number from 1 to 65535: OSC is off";
    }
    if (host) {
        request.oscHost = *host;
        if (!request.oscPort && request.error.empty() && request.warning.empty())
            request.error = "--osc-host needs --osc PORT (or FADEWELL_OSC_PORT)";
    }
    return request;
}

} // namespace CommandLine
