#pragma once
// The program's command line: its options and the audio files to put on the decks. parse() and
// takeOutputOptions() only read the arguments (and the environment) and say what was asked; main()
// does it. Qt's own options (-platform, -style, ...) are not taken: the toolkit reads its
// environment variables instead, so that every argument is either one of ours or a file.
//
// Threads: the user-interface thread, at start-up.
#include <QString>
#include <QStringList>
#include <iosfwd>
#include <optional>
#include <string>

namespace CommandLine {

enum class Action {
    Run,     // start the console, with the files given
    Help,    // print the usage on standard output and exit 0
    Version, // print the program's name and version on standard output and exit 0
    Error,   // print the error and the usage on standard error and exit 2
};

struct Request {
    Action action = Action::Run;
    // In the order given; the console puts the first three on decks A, B and C.
    QStringList files;
    // With Action::Error: what is wrong, naming the argument.
    QString error;
};

// arguments: as the program received them, without its own name. "--" ends the options: every
// argument after it is a file, even one that starts with "-". The first of --help and --version
// decides; any argument that is not understood makes the whole request an error.
Request parse(const QStringList& arguments);

// The program's arguments as file names: decoded the way the system encodes file names.
QStringList arguments(int argc, char** argv);

QString usage();
QString version();

// Answers a request that ends the program before it starts (help, version, error) on the given
// streams and returns the exit status; nothing for a request to run.
std::optional<int> answer(const Request& request, std::ostream& out, std::ostream& err);

// What the command line and the environment ask of the output device (--list-devices, --device
// NAME, the environment's FADEWELL_DEVICE). The options used here are taken out of argv (argc
// lowered), so the rest of the command line reads as if they had not been there: main() takes them
// before parse() reads the rest.
struct OutputRequest {
    bool list = false;               // --list-devices
    std::optional<std::string> name; // --device NAME or --device=NAME; else FADEWELL_DEVICE, if not empty
    std::string source;              // where the name came from: "--device" or "FADEWELL_DEVICE"
    std::string error;               // a usage error (--device without a name)
};
OutputRequest takeOutputOptions(int& argc, char** argv, const char* environmentDevice);

// What the command line and the environment ask of control from outside and of the log of what
// went on air, taken out of argv as takeOutputOptions() does:
//   --log FILE, --log=FILE   append the log to FILE
//   --log                    the default file, when --log is the last argument or the next one is
//                            an option ("-..."): a following argument is otherwise taken as FILE
//   --osc PORT               take OSC messages on that UDP port (1 to 65535); else the environment's
//                            FADEWELL_OSC_PORT, if not empty
//   --osc-host ADDRESS       the address listened on (127.0.0.1 unless given)
//   --midi NAME              take MIDI from the input that NAME matches; else the environment's
//                            FADEWELL_MIDI, if not empty
//   --midi-map FILE          the MIDI map in FILE instead of the default one (with --midi only)
struct ControlRequest {
    bool log = false;
    std::string logFile;        // empty with --log alone: the default file
    std::optional<int> oscPort; // no OSC without one
    std::string oscHost = "127.0.0.1";
    std::string oscSource;               // where the port came from: "--osc" or "FADEWELL_OSC_PORT"
    std::optional<std::string> midiName; // no MIDI without one
    std::string midiSource;              // where the name came from: "--midi" or "FADEWELL_MIDI"
    std::string midiMapFile;             // empty: the default map
    std::string error;                   // a usage error: the program does not start
    std::string warning;                 // a bad FADEWELL_OSC_PORT: said, and the console runs without OSC
};
ControlRequest takeControlOptions(int& argc, char** argv, const char* environmentOscPort,
                                  const char* environmentMidi = nullptr);

} // namespace CommandLine
