#pragma once
// The console's OSC address space: what one datagram asks for, or why it asks for nothing. liblo
// reads the message (its path, type tags and arguments, each checked against the datagram's
// length); this file knows the addresses:
//
//   /fadewell/deck/A/play        as the A key: the deck starts and goes live
//   /fadewell/deck/A/auto        as deck A's "auto": the deck starts, the other two fade out
//   /fadewell/deck/A/stop        as the deck player's Stop: stopped and rewound
//   /fadewell/deck/A/volume i    the deck's slider to position i (0 at the top, the loudest, to 100),
//                                then as the operator's move of the slider
//   /fadewell/deck/A/volume f    a fader's travel, as show controllers send it: 1.0 at the top (the
//                                slider's 0) to 0.0 at the quiet end (100), so a fader up is louder
//   ... the same for B and C (the letter in either case)
//   /fadewell/fade/seconds s     the auto-fade text becomes s (a positive number, as the fade reads it)
//   /fadewell/fade/seconds i|f   the same, the number written as text (2.5f is "2.5")
//   /fadewell/reset              as Reset Volume
//   /fadewell/status             answers the sender, one /fadewell/status/deck message per deck:
//                                s deck, s title, s state (empty, stopped, halted, playing),
//                                f remaining seconds, i 1 for the live deck and 0 for the others
//
// The buttons (play, auto, stop, reset) also take one 'i' or 'f' as a button box sends both edges:
// 1, the press, acts; 0, the release, does nothing and is no fault. Messages take no argument but
// those shown. A bundle is not taken.
//
// Threads: any; no state.
#include <cstddef>
#include <string>
#include <variant>
#include <vector>

namespace osc {

struct Command {
    enum class Kind { Play, Auto, Stop, Volume, FadeSeconds, Reset, Status };
    Kind kind;
    int deck = -1;         // 0, 1, 2 for A, B, C; -1 for the messages that name no deck
    int value = 0;         // Volume: the slider position
    std::string text = {}; // FadeSeconds: the auto-fade text
};

// Why a datagram changes nothing. key names the fault without its values, so that a sender that
// repeats one mistake is told once: the kind of fault and the address.
struct Fault {
    std::string key;
    std::string message;
};

// A button's release: nothing to do, and nothing wrong.
struct Release {};

constexpr int kVolumeTop = 0;
constexpr int kVolumeBottom = 100;
constexpr std::size_t kLongestFadeText = 16;

std::variant<Command, Fault, Release> parse(const void* data, std::size_t size);

// What /fadewell/status answers for one deck.
struct DeckStatus {
    std::string letter;
    std::string title;
    std::string state;
    float remainingSeconds = 0;
    bool live = false;
};
// The datagram of one deck's answer.
std::vector<char> statusMessage(const DeckStatus& deck);

} // namespace osc
