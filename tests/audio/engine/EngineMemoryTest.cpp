// What an engine keeps resident: a ring only for each deck attached, and of it only what its file's
// rate needs (3.6 s: the read-ahead and the two seconds the callback may go back to). It used to be
// eight rings of 4 MiB, all cleared at start-up.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "audio/PlayerTestSupport.h"

using namespace fixtures;

namespace {

long residentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

// Three decks of 44.1 kHz files playing on an offline engine at 44.1 kHz; says what the engine and
// then the decks added, and exits 0 when within bounds.
void playThreeDecksAndExit() {
    long idle = 0, playing = 0;
    {
        TempDir dir;
        std::string files[3];
        for (int i = 0; i < 3; ++i)
            files[i] = writeTone(dir.file("t" + std::to_string(i) + ".wav"), 20.0, 300.0 + 100 * i, 44100);
        std::vector<float> block(2 * 256);
        const long before = residentKiB();
        auto engine = AudioEngine::createOffline(44100, 256);
        idle = residentKiB() - before;
        DeckPlayer a(*engine), b(*engine), c(*engine);
        DeckPlayer* players[] = {&a, &b, &c};
        for (int i = 0; i < 3; ++i) {
            players[i]->setFileName(q(files[i]));
            players[i]->play();
        }
        for (int i = 0; i < 44100 * 8 / 256; ++i) // 8 s: every ring filled and gone round
            engine->renderInto(block.data(), 256);
        playing = residentKiB() - before;
    }
    std::fprintf(stderr, "an engine: %ld KiB; three decks playing: %ld KiB\n", idle, playing);
    // Three rings of 3.6 s at 44.1 kHz (1.24 MiB each), the snapshots and the decoders.
    std::exit(idle < 2 * 1024 && playing < 7 * 1024 ? 0 : 1);
}

// Measured in a process of its own (a death test runs the test binary again for it): in this one,
// memory freed by earlier tests would be used again without showing.
TEST(EngineMemory, ThreePlayingDecksKeepLittleMoreThanTheirRingsResident) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(playThreeDecksAndExit(), ::testing::ExitedWithCode(0), "an engine");
}

} // namespace
