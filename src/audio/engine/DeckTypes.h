#pragma once
// What the engine and its parts say of a deck to the rest of the program, kept below the engine so
// that its parts need not include AudioEngine.h: how many decks and rate groups there are, what a
// deck's file is, and what a deck's owner hears.
#include <string>

namespace engine {

// How many decks (players) one engine can hold.
constexpr int kMaxDecks = 8;
// How many file rates the callback resamples itself (each rate once, for all its decks); the
// worker resamples the files of any further rate, deck by deck.
constexpr int kMaxGroups = 16;

struct DeckInfo {
    double duration = 0.0; // seconds; an estimate until exact
    bool exact = true;
    int fileRate = 0;
    int fileChannels = 0;
};

// What a deck's owner hears from the engine, on the user-interface thread.
class DeckListener {
public:
    virtual ~DeckListener() = default;
    // The deck played its file to the end; it plays nothing more until told to.
    virtual void deckEnded() = 0;
    // The exact length of a file whose length had to be counted (MP3, WMA, ...) is now known (a
    // further call to deckInfo() gives it).
    virtual void deckLengthKnown() = 0;
    // The file could not be read any more; the deck is silent.
    virtual void deckLost(const std::string& reason) = 0;
};

} // namespace engine
