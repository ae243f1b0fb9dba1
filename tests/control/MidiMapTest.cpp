// The MIDI map: a file an operator writes, read or refused with the line and the reason, and the
// messages it translates (the console's side is MidiControlTest's).
#include <gtest/gtest.h>
#include <string>
#include <variant>

#include "control/MidiMap.h"

namespace {

using Kind = osc::Command::Kind;

TEST(MidiMap, ABadLineIsRefusedWithItsNumberAndReason) {
    const struct {
        const char* text;
        int line;
        const char* reason;
    } cases[] = {
        {"# a comment\n\nnote 60 play A\nnote 60 play B\n", 4,
         "note 60 on any channel is mapped already, on line 3"},
        {"pad 36 play A", 1, "unknown rule \"pad\""},
        {"note 128 play A", 1, "\"128\" is not a note number from 0 to 127"},
        {"note -1 play A", 1, "is not a note number"},
        {"note 6x play A", 1, "is not a note number"},
        {"cc 300 volume A", 1, "\"300\" is not a controller number"},
        {"note 60 channel 17 play A", 1, "\"channel\" takes a MIDI channel from 1 to 16"},
        {"note 60 channel 0 play A", 1, "from 1 to 16"},
        {"note 60 channel", 1, "\"channel\" takes a MIDI channel"},
        {"note 60", 1, "incomplete"},
        {"note 60 jump A", 1, "unknown action \"jump\" for a note"},
        {"note 60 volume A", 1, "unknown action \"volume\" for a note"},
        {"cc 7 play A", 1, "unknown action \"play\" for a cc: volume"},
        {"note 60 play", 1, "\"play\" needs a deck"},
        {"note 60 play D", 1, "\"D\" is not a deck"},
        {"note 60 play A now", 1, "unexpected \"now\""},
        {"note 71 reset A", 1, "unexpected \"A\""},
        {"faderstart A", 1, "faderstart takes a deck and on or off"},
        {"faderstart D on", 1, "faderstart takes"},
        {"cc 7 channel 1 volume A\ncc 7 channel 1 volume B", 2,
         "cc 7 on channel 1 is mapped already, on line 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto parsed = midi::parseMap(c.text);
        ASSERT_TRUE(std::holds_alternative<midi::MapError>(parsed));
        const auto& error = std::get<midi::MapError>(parsed);
        EXPECT_EQ(error.line, c.line);
        EXPECT_NE(error.reason.find(c.reason), std::string::npos) << error.reason;
    }
}

// A file's rules act, in any case and with comments; a channel's rule wins over any channel's; the
// file replaces the default map (note 60 is no longer play A).
TEST(MidiMap, AFileMapTranslatesNotesAndFadersAndReplacesTheDefault) {
    const auto parsed = midi::parseMap("NOTE 36 Play b   # pad 1\n"
                                       "note 37 channel 10 auto c\n"
                                       "note 37 stop c\n"
                                       "note 38 reset\n"
                                       "cc 1 volume a\n"
                                       "faderstart A off\n");
    ASSERT_TRUE(std::holds_alternative<midi::Map>(parsed)) << std::get<midi::MapError>(parsed).reason;
    midi::Translator t(std::get<midi::Map>(parsed));
    const auto one = [&](std::initializer_list<unsigned char> bytes) {
        const std::vector<unsigned char> b(bytes);
        const auto r = t.translate(b.data(), b.size());
        return r.commands.size() == 1 ? r.commands[0] : osc::Command{Kind::Status, -9};
    };
    EXPECT_EQ(one({0x90, 36, 100}).kind, Kind::Play);
    EXPECT_EQ(one({0x90, 36, 100}).deck, 1);
    EXPECT_EQ(one({0x99, 37, 1}).kind, Kind::Auto); // channel 10
    EXPECT_EQ(one({0x90, 37, 1}).kind, Kind::Stop); // any other channel
    EXPECT_EQ(one({0x9F, 38, 1}).kind, Kind::Reset);
    EXPECT_EQ(one({0xB3, 1, 0}).value, 100);
    EXPECT_EQ(one({0xB3, 1, 127}).value, 0); // fader start off: the move alone
    const unsigned char old[] = {0x90, 60, 100};
    const auto unmapped = t.translate(old, 3);
    EXPECT_TRUE(unmapped.commands.empty());
    EXPECT_EQ(unmapped.fault, "note 60 on channel 1 is not in the MIDI map; nothing changed");
}

} // namespace
