#pragma once
// The worker's filling of one deck: takes up a file the user-interface thread handed over, serves a
// requested seek (a marker where the new position's frames begin), reads ahead until the deck's
// ring is full, and marks the file's end. Runs on the engine's worker thread, a pass at a time; a
// pass never waits for the callback (a full ring or marker queue waits for the next pass).
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace engine {

struct Deck;

// What one pass over a deck came to.
struct Fed {
    bool served = false;             // a new position (or file) has its first frames in the ring
    std::optional<std::string> lost; // the file could not be read any more, and why
};

Fed feed(Deck& d);

// How long the worker may sleep after a pass over decks before it must look again (a change of a
// deck wakes it sooner): briefly while the callback has yet to take up a new position (the ring
// has room again only once it has); often while a playing deck's file has been read to its end
// (its end is told soon after it is heard); and otherwise the output supervisor's own interval,
// playing or not: a ring reads more than six such intervals ahead.
std::chrono::milliseconds nextPassWithin(const std::vector<std::unique_ptr<Deck>>& decks);

} // namespace engine
