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
//   ... the same for B and C (the letter in either case)
//   /fadewell/fade/seconds s     the auto-fade text becomes s (a positive number, as the fade reads it)
//   /fadewell/reset              as Reset Volume
//   /fadewell/status             answers the sender, one /fadewell/status/deck message per deck:
//                                s deck, s title, s state (empty, stopped, halted, playing),
//                                f remaining seconds, i 1 for the live deck and 0 for the others
//
// Messages that act take no argument but those shown. A bundle is not taken.
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

constexpr int kVolumeTop = 0;
constexpr int kVolumeBottom = 100;
constexpr std::size_t kLongestFadeText = 16;

std::variant<Command, Fault> parse(const void* data, std::size_t size);

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
