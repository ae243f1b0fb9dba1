// What an engine keeps resident: a ring only for each deck attached, and of it only what its file's
// rate needs (3.6 s: the read-ahead and the two seconds the callback may go back to). It used to be
// eight rings of 4 MiB, all cleared at start-up.
#include <gtest/gtest.h>

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

TEST(EngineMemory, ThreePlayingDecksKeepLittleMoreThanTheirRingsResident) {
    TempDir dir;
    std::string files[3];
    for (int i = 0; i < 3; ++i)
        files[i] = writeTone(dir.file("t" + std::to_string(i) + ".wav"), 20.0, 300.0 + 100 * i, 44100);
    std::vector<float> block(2 * 256);
    const long before = residentKiB();
    auto engine = AudioEngine::createOffline(44100, 256);
    EXPECT_LT(residentKiB() - before, 0) << "an engine with no deck";
    DeckPlayer a(*engine), b(*engine), c(*engine);
    for (DeckPlayer* p : {&a, &b, &c}) {
        p->setFileName(q(files[p == &a ? 0 : p == &b ? 1 : 2]));
        p->play();
    }
    for (int i = 0; i < 44100 * 8 / 256; ++i) // 8 s: every ring filled and gone round
        engine->renderInto(block.data(), 256);
    // Three rings of 3.6 s at 44.1 kHz (1.24 MiB each) and the snapshots; the rest is the decoders.
    EXPECT_LT(residentKiB() - before, 0);
    EXPECT_GT(a.currentPosition(), 7.0);
}

} // namespace
