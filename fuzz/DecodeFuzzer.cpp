// Arbitrary bytes given to the player's open-and-decode path: written as a file, loaded on a deck of
// an offline engine, played for a few blocks, moved, played again and unloaded. Every reader is
// reached: libsndfile, libFLAC, libmpg123 and FFmpeg (whose length count runs too: the offline
// engine waits for it in processNotifications()). A refused file must
// be refused with PlayerError; anything else that escapes, any memory error, leak or hang is a fault.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "audio/engine/AudioEngine.h"
#include "common/Errors.h"

namespace {

struct QuietListener final : AudioEngine::Listener {
    void deckEnded() override {}
    void deckLengthKnown() override {}
    void deckLost(const std::string&) override {}
};

AudioEngine* g_engine = nullptr;
QuietListener g_listener;
int g_deck = -1;
std::string g_dir;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char pattern[] = "/tmp/fadewell-fuzz-XXXXXX";
    const char* dir = ::mkdtemp(pattern);
    if (dir == nullptr)
        std::abort();
    g_dir = dir;
    // One engine for the whole run, as in the program: the deck is reloaded for every input.
    g_engine = AudioEngine::createOffline(48000, 256).release();
    g_deck = g_engine->attachDeck(g_listener);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    // The first byte picks the name's extension (which some decoders look at), the rest is the file.
    static const char* const kExtensions[] = {".wav", ".mp3", ".flac", ".ogg", ".aiff", ".opus",
                                              "",     ".m4a", ".wma",  ".wv",  ".ape",  ".ac3",
                                              ".spx", ".oga", ".mpc",  ".tta", ".aac",  ".mka"};
    const std::string path = g_dir + "/input" + kExtensions[data[0] % std::size(kExtensions)];
    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr)
            std::abort();
        if (size > 1)
            std::fwrite(data + 1, 1, size - 1, f);
        std::fclose(f);
    }
    try {
        const AudioEngine::DeckInfo info = g_engine->load(g_deck, path);
        if (!(info.duration >= 0.0) || info.fileRate <= 0 || info.fileChannels <= 0)
            std::abort();
        g_engine->setPlaying(g_deck, true);
        g_engine->render(2048);
        g_engine->seek(g_deck, info.duration / 2);
        g_engine->render(1024);
        g_engine->seek(g_deck, info.duration);
        g_engine->render(1024);
        g_engine->processNotifications(); // a count's exact length, and seeks from its points
        g_engine->seek(g_deck, g_engine->deckInfo(g_deck).duration / 3);
        g_engine->render(1024);
        const double position = g_engine->position(g_deck);
        if (!(position >= 0.0 && position <= g_engine->deckInfo(g_deck).duration))
            std::abort();
    } catch (const PlayerError&) {
        // A refused file: what the player must do with bytes it cannot play.
    }
    g_engine->unload(g_deck);
    g_engine->render(256);
    ::unlink(path.c_str());
    return 0;
}
