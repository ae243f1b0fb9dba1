#pragma once
// Which of the things there are (output devices, MIDI inputs) a name typed by an operator means:
// the one whose name is exactly it (the first such); else the one whose name or description is it
// in any case; else the one whose name or description contains it in any case. None, or more than
// one at the deciding step, is refused with a reason that names the candidates, so the operator
// can type a longer part.
//
// Threads: any; no state.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace NameChoice {

struct Candidate {
    std::string name;
    std::string description; // may be empty
    std::string source;      // shown beside the name when it is a candidate: "PulseAudio", "JACK", ...
};

struct Choice {
    std::optional<std::size_t> index; // into the candidates
    std::string error;                // why none was chosen
};

// thing and things name what is chosen, in the error: "output device", "output devices".
Choice choose(const std::vector<Candidate>& candidates, const std::string& wanted, const std::string& thing,
              const std::string& things);

} // namespace NameChoice
