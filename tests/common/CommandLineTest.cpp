#include <gtest/gtest.h>
#include <sstream>
#include <vector>

#include "AppInfo.h"
#include "common/CommandLine.h"

using CommandLine::Action;
using CommandLine::parse;

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
