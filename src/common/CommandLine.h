#pragma once
// The program's command line: its options and the audio files to put on the decks. parse() only
// reads the arguments and says what was asked; main() does it. Qt's own options (-platform,
// -style, ...) are not taken: the toolkit reads its environment variables instead, so that every
// argument is either one of ours or a file.
#include <QString>
#include <QStringList>
#include <iosfwd>
#include <optional>

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

} // namespace CommandLine
