#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

#include "AppInfo.h"
#include "common/CommandLine.h"

using CommandLine::Action;
using CommandLine::OutputRequest;
using CommandLine::parse;
using CommandLine::takeOutputOptions;

namespace {
QStringList args(const std::vector<const char*>& list) {
    QStringList l;
    for (const char* a : list)
        l.append(QString::fromUtf8(a));
    return l;
}
} // namespace

TEST(CommandLine, FilesAreKeptInTheirOrderAndNoneIsDropped) {
    const auto r = parse(args({"a.wav", "dir/b b.mp3", "c.flac", "d.ogg"}));
    EXPECT_EQ(r.action, Action::Run);
    EXPECT_EQ(r.files, args({"a.wav", "dir/b b.mp3", "c.flac", "d.ogg"}));
    EXPECT_EQ(parse({}).action, Action::Run);
    EXPECT_TRUE(parse({}).files.isEmpty());
}

TEST(CommandLine, AfterTheDoubleDashEveryArgumentIsAFile) {
    const auto r = parse(args({"a.wav", "--", "--help", "-x.wav", "--"}));
    EXPECT_EQ(r.action, Action::Run);
    EXPECT_EQ(r.files, args({"a.wav", "--help", "-x.wav", "--"}));
}

TEST(CommandLine, HelpAndVersionWhereverTheyStand) {
    EXPECT_EQ(parse(args({"--help"})).action, Action::Help);
    EXPECT_EQ(parse(args({"-h"})).action, Action::Help);
    EXPECT_EQ(parse(args({"a.wav", "--version"})).action, Action::Version);
    // The first one asked decides.
    EXPECT_EQ(parse(args({"--version", "--help"})).action, Action::Version);
    EXPECT_EQ(parse(args({"--help", "--version"})).action, Action::Help);
}

// Nothing is accepted and ignored: an argument that is not understood is an error that names it,
// even beside --help.
TEST(CommandLine, WhatIsNotUnderstoodIsAnErrorNamingIt) {
    const std::pair<std::vector<const char*>, const char*> rows[] = {
        {{"--bogus"}, "unknown option --bogus"},
        {{"a.wav", "-x"}, "unknown option -x"},
        {{"--help", "--bogus"}, "unknown option --bogus"},
        {{"--bogus=1"}, "unknown option --bogus"},
        {{"-"}, "unknown option -"},
        {{"-hv"}, "unknown option -hv"},
        {{"--help=yes"}, "option --help takes no value"},
        {{"a.wav", ""}, "an empty argument is not a file name"},
    };
    for (const auto& [arguments, error] : rows) {
        const auto r = parse(args(arguments));
        EXPECT_EQ(r.action, Action::Error) << error;
        EXPECT_EQ(r.error.toStdString(), error);
    }
}

TEST(CommandLine, AnswersHelpAndVersionOnStandardOutputAndErrorsOnStandardError) {
    std::ostringstream out, err;
    EXPECT_EQ(CommandLine::answer(parse(args({"--help"})), out, err), 0);
    EXPECT_NE(out.str().find("Usage: fadewell [OPTION]... [FILE]..."), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("--version"), std::string::npos);
    EXPECT_TRUE(err.str().empty());

    out.str({});
    EXPECT_EQ(CommandLine::answer(parse(args({"--version"})), out, err), 0);
    const std::string expected = std::string("Fadewell ") + std::to_string(AppInfo::kVersionMajor) + "." +
                                 std::to_string(AppInfo::kVersionMinor) + "." +
                                 std::to_string(AppInfo::kVersionRevision) + "\n";
    EXPECT_EQ(out.str(), expected);
    EXPECT_TRUE(err.str().empty());

    out.str({});
    EXPECT_EQ(CommandLine::answer(parse(args({"--bogus"})), out, err), 2);
    EXPECT_TRUE(out.str().empty());
    EXPECT_EQ(err.str().rfind("fadewell: unknown option --bogus\n", 0), 0u) << err.str();
    EXPECT_NE(err.str().find("Usage:"), std::string::npos);

    EXPECT_EQ(CommandLine::answer(parse(args({"a.wav"})), out, err), std::nullopt);
}

TEST(CommandLine, ArgumentsSkipTheProgramNameAndKeepUtf8Names) {
    char name[] = "fadewell";
    char first[] = "caf\xc3\xa9.wav";
    char second[] = "--help";
    char* argv[] = {name, first, second, nullptr};
    EXPECT_EQ(CommandLine::arguments(3, argv),
              QStringList({QStringLiteral("café.wav"), QStringLiteral("--help")}));
}

namespace {
// argv as main receives it, with the null pointer after the last argument.
struct Args {
    explicit Args(std::vector<std::string> words) : strings(std::move(words)) {
        for (auto& s : strings)
            pointers.push_back(s.data());
        pointers.push_back(nullptr);
        argc = static_cast<int>(strings.size());
    }
    std::vector<std::string> left() const { return {pointers.begin(), pointers.begin() + argc}; }
    std::vector<std::string> strings;
    std::vector<char*> pointers;
    int argc = 0;
};
} // namespace

TEST(OutputOptions, AreTakenOutOfTheCommandLineAndTheOptionBeatsTheEnvironment) {
    Args a({"fadewell", "one.wav", "--device", "other", "two.wav"});
    OutputRequest r = takeOutputOptions(a.argc, a.pointers.data(), "testsink");
    EXPECT_EQ(r.name.value_or("-"), "other");
    EXPECT_EQ(r.source, "--device");
    EXPECT_FALSE(r.list);
    EXPECT_EQ(a.left(), (std::vector<std::string>{"fadewell", "one.wav", "two.wav"}));
    EXPECT_EQ(a.pointers[static_cast<std::size_t>(a.argc)], nullptr);

    Args b({"fadewell", "--device=Scarlett 2i2", "--list-devices"});
    r = takeOutputOptions(b.argc, b.pointers.data(), nullptr);
    EXPECT_EQ(r.name.value_or("-"), "Scarlett 2i2");
    EXPECT_TRUE(r.list);
    EXPECT_EQ(b.left(), (std::vector<std::string>{"fadewell"}));

    // The environment when no option names a device; an empty variable names none.
    Args c({"fadewell"});
    r = takeOutputOptions(c.argc, c.pointers.data(), "other");
    EXPECT_EQ(r.name.value_or("-"), "other");
    EXPECT_EQ(r.source, "FADEWELL_DEVICE");
    Args d({"fadewell"});
    EXPECT_FALSE(takeOutputOptions(d.argc, d.pointers.data(), "").name.has_value());
    EXPECT_FALSE(takeOutputOptions(d.argc, d.pointers.data(), nullptr).name.has_value());

    // After "--" everything is a file, whatever its name; an empty --device is kept, to be refused.
    Args e({"fadewell", "--device=", "--", "--device", "x.wav"});
    r = takeOutputOptions(e.argc, e.pointers.data(), "other");
    EXPECT_EQ(r.name.value_or("-"), "");
    EXPECT_EQ(e.left(), (std::vector<std::string>{"fadewell", "--", "--device", "x.wav"}));
}

TEST(OutputOptions, DeviceWithoutANameIsAUsageError) {
    Args a({"fadewell", "song.wav", "--device"});
    const OutputRequest r = takeOutputOptions(a.argc, a.pointers.data(), "other");
    EXPECT_NE(r.error.find("--device needs the name of an output device"), std::string::npos) << r.error;
    EXPECT_EQ(a.left(), (std::vector<std::string>{"fadewell", "song.wav"}));
}

// --log with or without its file, --osc against FADEWELL_OSC_PORT, and what is refused.
TEST(ControlOptions, AreTakenOutAndRead) {
    struct Case {
        std::vector<std::string> words;
        const char* environmentPort;
        std::string logFile; // "none": no log; "": the default file
        int port;            // 0: no OSC
        std::string host, error, warning;
        std::vector<std::string> left;
    };
    const std::string none = "none";
    // clang-format off
    const Case cases[] = {
        {{"fadewell", "a.wav", "--log", "air.txt", "b.wav"}, nullptr, "air.txt", 0, "127.0.0.1", "", "", {"fadewell", "a.wav", "b.wav"}},
        {{"fadewell", "--log", "--", "--log"}, nullptr, "", 0, "127.0.0.1", "", "", {"fadewell", "--", "--log"}},
        {{"fadewell", "a.wav", "--log"}, nullptr, "", 0, "127.0.0.1", "", "", {"fadewell", "a.wav"}},
        {{"fadewell", "--log=x", "--osc", "9000", "--osc-host=0.0.0.0"}, "7000", "x", 9000, "0.0.0.0", "", "", {"fadewell"}},
        {{"fadewell", "a.wav"}, "7000", none, 7000, "127.0.0.1", "", "", {"fadewell", "a.wav"}},
        {{"fadewell"}, "70000", none, 0, "127.0.0.1", "", "FADEWELL_OSC_PORT=70000 is not a UDP port", {"fadewell"}},
        {{"fadewell", "--osc", "0"}, nullptr, none, 0, "127.0.0.1", "--osc needs a UDP port", "", {"fadewell"}},
        {{"fadewell", "--osc-host", "::1"}, nullptr, none, 0, "::1", "--osc-host needs --osc", "", {"fadewell"}},
        {{"fadewell", "--log="}, nullptr, "", 0, "127.0.0.1", "--log= needs a file name", "", {"fadewell"}},
    };
    // clang-format on
    for (const Case& c : cases) {
        Args a(c.words);
        const auto r = CommandLine::takeControlOptions(a.argc, a.pointers.data(), c.environmentPort);
        SCOPED_TRACE(c.words.back());
        EXPECT_EQ(r.log ? r.logFile : none, c.logFile);
        EXPECT_EQ(r.oscPort.value_or(0), c.port);
        EXPECT_EQ(r.oscHost, c.host);
        EXPECT_EQ(r.error.substr(0, c.error.size()), c.error);
        EXPECT_EQ(r.error.empty(), c.error.empty());
        EXPECT_EQ(r.warning.substr(0, c.warning.size()), c.warning);
        EXPECT_EQ(a.left(), c.left);
    }
}

// --midi against FADEWELL_MIDI, --midi-map only with a MIDI input, and neither taken for a file.
TEST(ControlOptions, MidiAndItsMapAreTakenOutAndTheOptionBeatsTheEnvironment) {
    struct Case {
        std::vector<std::string> words;
        const char* environment;
        std::string name, source, map, error;
        std::vector<std::string> left;
    };
    // clang-format off
    const Case cases[] = {
        {{"fadewell", "a.wav", "--midi", "nano", "--midi-map", "desk.map"}, "other", "nano", "--midi", "desk.map", "", {"fadewell", "a.wav"}},
        {{"fadewell", "--midi=Fader Box:out", "a.wav"}, nullptr, "Fader Box:out", "--midi", "", "", {"fadewell", "a.wav"}},
        {{"fadewell", "--midi-map=desk.map"}, "nano", "nano", "FADEWELL_MIDI", "desk.map", "", {"fadewell"}},
        {{"fadewell", "--", "--midi", "x"}, "", "-", "", "", "", {"fadewell", "--", "--midi", "x"}},
        {{"fadewell", "--midi-map", "desk.map"}, nullptr, "-", "", "desk.map", "--midi-map needs --midi", {"fadewell"}},
        {{"fadewell", "--midi"}, nullptr, "-", "--midi", "", "--midi needs the name of a MIDI input", {"fadewell"}},
    };
    // clang-format on
    for (const Case& c : cases) {
        Args a(c.words);
        const auto r = CommandLine::takeControlOptions(a.argc, a.pointers.data(), nullptr, c.environment);
        SCOPED_TRACE(c.words.back());
        EXPECT_EQ(r.midiName.value_or("-"), c.name);
        EXPECT_EQ(r.midiSource, c.source);
        EXPECT_EQ(r.midiMapFile, c.map);
        EXPECT_EQ(r.error.substr(0, c.error.size()), c.error);
        EXPECT_EQ(r.error.empty(), c.error.empty());
        EXPECT_EQ(a.left(), c.left);
    }
}
