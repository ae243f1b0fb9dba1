#pragma once
// What the messages of a MIDI controller ask of the console: the map from notes and control
// changes to the console's commands, read from a small text file or the default one, and the
// translation of each message through it.
//
// The map file: one rule a line, words separated by blanks, '#' to the end of a line a comment:
//
//   note N [channel C] play DECK     a note on (velocity above 0) starts the deck, as its key does
//   note N [channel C] auto DECK     as the deck's "auto": it starts, the other two fade out
//   note N [channel C] stop DECK     as the deck player's Stop
//   note N [channel C] reset         as Reset Volume
//   cc N [channel C] volume DECK     the control change's value moves the deck's slider: 0 to the
//                                    bottom (100, silent), 127 to the top (0, the loudest)
//   faderstart DECK on|off           a deck whose fader leaves the bottom (a value of 0, then one
//                                    above it) starts, as its key does; on for every deck unless
//                                    the map turns it off
//
// N is 0 to 127, C 1 to 16 (any channel without it), DECK A, B or C. A rule for one channel wins
// over a rule for any channel. A map file replaces the default map whole.
//
// Threads: any; a Translator is used by one thread at a time.
#include <array>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "control/OscMessages.h"

namespace midi {

struct Rule {
    enum class Source { Note, ControlChange };
    Source source = Source::Note;
    int number = 0;                                     // the note's or the controller's, 0 to 127
    int channel = 0;                                    // 1 to 16; 0 for any
    osc::Command::Kind kind = osc::Command::Kind::Play; // Play, Auto, Stop, Reset or Volume
    int deck = -1;                                      // 0, 1, 2; -1 for Reset
    int line = 0;                                       // where the map file says it; 0 in the default map
};

struct Map {
    std::vector<Rule> rules;
    std::array<bool, 3> faderStart = {true, true, true};
};

// Notes 60, 61, 62 (C4, C#4, D4) play A, B, C; 64, 65, 66 (E4, F4, F#4) auto; 67, 68, 69 (G4,
// G#4, A4) stop; 71 (B4) Reset Volume; all on any channel. Control change 7 (channel volume) on
// channels 1, 2, 3 moves the sliders of A, B, C. Fader start on for every deck.
Map defaultMap();

// A refused map: the line (from 1) and what is wrong with it.
struct MapError {
    int line = 0;
    std::string reason;
};
std::variant<Map, MapError> parseMap(std::string_view text);

// The map in a file: "FILE:LINE: reason" or "cannot read FILE: reason" when it cannot be had.
std::variant<Map, std::string> readMap(const std::string& path);

// A slider position (0 at the top, 100 at the bottom) for a controller's value (0 to 127).
int sliderPosition(int value);

class Translator {
public:
    explicit Translator(Map map);

    struct Result {
        std::vector<osc::Command> commands; // in order; none for a message that asks nothing
        std::string faultKey;               // a message the map does not know: said once by its key
        std::string fault;
    };
    // One whole message: its status byte and data bytes. Only notes on and control changes act;
    // every other message (note off, clock, sysex, ...) asks nothing, and is not a fault.
    Result translate(const unsigned char* bytes, std::size_t size);

private:
    const Rule* find(Rule::Source source, int number, int channel) const;

    Map m_map;
    std::vector<int> m_lastValue; // per rule: the controller's last value, -1 before the first
};

} // namespace midi
