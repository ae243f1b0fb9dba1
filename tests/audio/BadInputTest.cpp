// Files that cannot be played: each is refused with its file and reason, and the player goes on
// exactly as it was. A file that becomes unreadable while playing stops its deck cleanly.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <mutex>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "audio/PlayerTestSupport.h"
#include "audio/decode/Decoder.h"
#include "common/Errors.h"
#include "support/AsNobody.h"

using namespace fixtures;

namespace {

struct BadCase {
    const char* name;
    std::function<std::string(const TempDir&)> make; // returns the path to load
    const char* reason;
};

std::string randomBytes(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(gen() & 0xFF);
    return s;
}

// A FLAC file whose audio frames, after its metadata, are overwritten with noise.
std::string corruptFlac(const TempDir& dir) {
    const std::string path =
        writeTone(dir.file("corrupt.flac"), 1.0, 440.0, 44100, 2, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    const auto size = std::filesystem::file_size(path);
    std::string bytes(size, '\0');
    {
        std::ifstream in(path, std::ios::binary);
        in.read(bytes.data(), static_cast<std::streamsize>(size));
    }
    const std::size_t firstFrame = bytes.find("\xFF\xF8", 42);
    bytes.replace(firstFrame, size - firstFrame, randomBytes(size - firstFrame, 7));
    return writeBytes(path, bytes);
}

std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// One second of tone in a codec of ffmpeg's choosing (arguments), from a WAV.
std::string encoded(const TempDir& dir, const std::string& name, const std::string& arguments) {
    return ffmpegEncode(writeTone(dir.file(name + ".source.wav"), 1.0, 440.0), dir.file(name), arguments);
}

// A WAV whose format tag names an audio coding no decoder knows (0x1234).
std::string wavOfUnknownCoding(const TempDir& dir) {
    const std::string path = writeTone(dir.file("unknown.wav"), 1.0, 440.0);
    std::string bytes = readBytes(path);
    const std::size_t fmt = bytes.find("fmt ");
    bytes[fmt + 8] = '\x34';
    bytes[fmt + 9] = '\x12';
    return writeBytes(path, bytes);
}

// An MP4 whose audio is MPEG-H 3D Audio ('mhm1'), a codec FFmpeg knows and Debian's build does not
// decode: an ALAC file with its sample entry renamed.
std::string mp4OfCodecNotBuiltIn(const TempDir& dir) {
    const std::string path = encoded(dir, "mpegh.m4a", "-c:a alac");
    std::string bytes = readBytes(path);
    const std::size_t entry = bytes.find("alac", bytes.find("stsd"));
    bytes.replace(entry, 4, "mhm1");
    return writeBytes(path, bytes);
}

const BadCase kBadCases[] = {
    {"Missing", [](const TempDir& d) { return d.file("missing.wav"); }, "no such file"},
    {"Folder", [](const TempDir& d) { return d.path(); }, "folder"},
    {"Empty", [](const TempDir& d) { return writeBytes(d.file("empty.wav"), ""); }, "empty file"},
    {"Text", [](const TempDir& d) { return writeBytes(d.file("notes.mp3"), std::string(5000, 'x')); },
     "not an audio file"},
    {"Noise", [](const TempDir& d) { return writeBytes(d.file("noise.wav"), randomBytes(20000, 3)); },
     "not an audio file"},
    {"WavCutInItsHeader",
     [](const TempDir& d) {
         const auto p = writeTone(d.file("cut.wav"), 1.0, 440.0);
         truncateFile(p, 30);
         return p;
     },
     "corrupt"},
    {"WavCutInItsData",
     [](const TempDir& d) {
         const auto p = writeTone(d.file("cut.wav"), 2.0, 440.0);
         truncateFile(p, 44 + 4 * 44100);
         return p;
     },
     "truncated"},
    {"FlacCutShort",
     [](const TempDir& d) {
         const auto p =
             writeTone(d.file("cut.flac"), 2.0, 440.0, 44100, 2, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
         truncateFile(p, std::filesystem::file_size(p) / 2);
         return p;
     },
     "truncated"},
    {"FlacWithCorruptAudio", corruptFlac, "corrupt"},
    {"WavWithNoFrames", [](const TempDir& d) { return writeSamples(d.file("none.wav"), {}, 44100, 2); },
     "no audio"},
    {"VideoWithoutSound",
     [](const TempDir& d) {
         const std::string path = d.file("film.mp4");
         runTool("ffmpeg -nostdin -y -loglevel error -f lavfi -i testsrc=duration=1:size=64x48:rate=10 -c:v "
                 "mpeg4 '" +
                 path + "'");
         return path;
     },
     "a format this program cannot play (video without sound"},
    {"CodecNotBuiltIn", mp4OfCodecNotBuiltIn, "a format this program cannot play (MPEG-H 3D Audio)"},
    {"UnknownCodingInWav", wavOfUnknownCoding, "a format this program cannot play (audio coded 0x1234)"},
    {"UnknownCodecInMp4",
     [](const TempDir& d) {
         std::string bytes = readBytes(encoded(d, "ac4.m4a", "-c:a alac"));
         bytes.replace(bytes.find("alac", bytes.find("stsd")), 4, "ac-4");
         return writeBytes(d.file("ac4.m4a"), bytes);
     },
     "a format this program cannot play (audio coded 'ac-4')"},
    {"Midi",
     [](const TempDir& d) {
         return writeBytes(d.file("song.mid"),
                           std::string("MThd\0\0\0\x06\0\x01\0\x01\x01\xE0MTrk\0\0\0\x04\0\xFF\x2F\0", 26));
     },
     "a format this program cannot play (MIDI"},
    {"Picture",
     [](const TempDir& d) {
         const std::string path = d.file("cover.png");
         runTool("ffmpeg -nostdin -y -loglevel error -f lavfi -i testsrc=size=32x32 -frames:v 1 '" + path +
                 "'");
         return path;
     },
     "not an audio file (a picture)"},
    {"M4aCutBeforeItsIndex",
     [](const TempDir& d) {
         const std::string path = encoded(d, "cut.m4a", "-c:a aac"); // the index (moov) is written last
         truncateFile(path, std::filesystem::file_size(path) / 2);
         return path;
     },
     "damaged: "},
};

class BadInputTest : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadInputTest, IsRefusedWithItsReasonAndThePlayerPlaysOn) {
    TempDir dir;
    auto engine = AudioEngine::createOffline(kRate, kBlock);
    DeckPlayer player(*engine);
    const QString good = q(writeTone(dir.file("good.wav"), 3.0, 440.0, kRate));
    player.setFileName(good);
    player.setVolume(-600);
    player.play();
    engine->render(kRate / 2);
    const double position = player.currentPosition();
    const double duration = player.duration();
    NotificationLog log(player);

    const std::string bad = GetParam().make(dir);
    try {
        player.setFileName(q(bad));
        FAIL() << "loaded " << bad;
    } catch (const PlayerError& e) {
        const std::string message = e.what();
        EXPECT_NE(message.find("Can't load \"" + bad + "\""), std::string::npos) << message;
        EXPECT_NE(message.find(GetParam().reason), std::string::npos) << message;
    }
    EXPECT_EQ(player.fileName(), good);
    EXPECT_EQ(player.playState(), DeckPlayer::Playing);
    EXPECT_EQ(player.currentPosition(), position);
    EXPECT_EQ(player.duration(), duration);
    EXPECT_EQ(player.volume(), -600);
    EXPECT_TRUE(log.entries.empty());
    // Not a sample lost: the tone goes on at its level, from where it was.
    const auto out = engine->render(kRate / 4);
    EXPECT_NEAR(rmsDb(out), -9.03 - 6.0, 0.1);
    EXPECT_DOUBLE_EQ(player.currentPosition(), position + 0.25);
}

INSTANTIATE_TEST_SUITE_P(EveryBadFile, BadInputTest, ::testing::ValuesIn(kBadCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BadInput, UnreadableFileIsRefusedAsPermissionDenied) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    TempDir dir;
    const std::string path = writeTone(dir.file("locked.wav"), 1.0, 440.0);
    std::filesystem::permissions(path, std::filesystem::perms::none);
    auto engine = AudioEngine::createOffline(kRate, kBlock);
    DeckPlayer player(*engine);
    try {
        player.setFileName(q(path));
        FAIL();
    } catch (const PlayerError& e) {
        EXPECT_NE(std::string(e.what()).find("permission denied"), std::string::npos) << e.what();
    }
    EXPECT_EQ(player.fileName(), "");
}

// The tests run as root, who reads every file: the decoder is asked in a child process that has
// become an ordinary user ("nobody") first.
TEST(BadInput, UnreadableFileIsRefusedAsPermissionDeniedForAnOrdinaryUser) {
    TempDir dir;
    const std::string path = writeTone(dir.file("locked.wav"), 1.0, 440.0);
    std::filesystem::permissions(dir.path(),
                                 std::filesystem::perms::owner_all | std::filesystem::perms::others_exec);
    std::filesystem::permissions(path, std::filesystem::perms::none);
    const std::string message = fixtures::runAsNobody([&]() -> std::string {
        try {
            Decoder::open(path);
            return "opened";
        } catch (const PlayerError& e) {
            return e.what();
        }
    });
    EXPECT_EQ(message, "Can't load \"" + path + "\": cannot be read: permission denied");
}

TEST(BadInput, FileCutShortWhilePlayingStopsItsDeckAndTheOtherPlaysOn) {
    TempDir dir;
    auto engine = AudioEngine::createOffline(kRate, kBlock);
    DeckPlayer a(*engine);
    DeckPlayer b(*engine);
    const std::string pathA =
        writeTone(dir.file("a.wav"), 20.0, 440.0, kRate, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    a.setFileName(q(pathA));
    b.setFileName(q(writeConstant(dir.file("b.wav"), 20.0, 0.25f)));
    a.play();
    b.play();
    engine->render(kRate / 10);
    NotificationLog logA(a);
    truncateFile(pathA, 44 + 4 * kRate); // one second of audio left of twenty

    // The deck plays what it had read ahead (seconds: longer than what is left, shorter than the
    // file) before it meets the cut.
    testing::internal::CaptureStderr();
    for (int i = 0; i < 200 && a.playState() == DeckPlayer::Playing; ++i)
        engine->render(kRate / 10);
    const std::string err = testing::internal::GetCapturedStderr();

    EXPECT_EQ(a.playState(), DeckPlayer::Stopped);
    EXPECT_EQ(a.currentPosition(), 0.0);
    EXPECT_EQ(logA.entries, (std::vector<std::string>{"play 2->0"}));
    EXPECT_NE(err.find(pathA), std::string::npos) << err;
    EXPECT_NE(err.find("could not be read"), std::string::npos) << err;
    EXPECT_EQ(b.playState(), DeckPlayer::Playing);
    const auto out = engine->render(kRate / 10);
    // After deck A's 3 ms fade-out, deck B alone, undisturbed.
    EXPECT_EQ(peak(framesOf(out, kBlock, kRate)), 0.25f);
    EXPECT_EQ(fixtures::maxStep(framesOf(out, kBlock, kRate), 0), 0.0f);
}

} // namespace

// ---------------------------------------------------------------- on the engine, beside a playing deck
//
// Every bad file below meets the engine on deck A while deck B plays a constant 0.25 at full volume.
// Whatever deck A does, it must end in a clear refusal or a clean end of deck A (state 0, back at
// the start), within a time limit, while deck B's every sample stays 0.25 and its position follows
// the rendered frames exactly.

namespace {

using namespace std::chrono_literals;

// Ends the whole test program, naming the case, when a case runs past its time: a hang fails
// instead of blocking the suite until CTest's timeout.
class Deadline {
public:
    Deadline(std::string what, std::chrono::seconds limit)
        : m_thread([this, what = std::move(what), limit] {
              std::unique_lock lock(m_mutex);
              if (!m_done.wait_for(lock, limit, [this] { return m_finished; })) {
                  std::fprintf(stderr, "HUNG: %s ran past %lld s\n", what.c_str(),
                               static_cast<long long>(limit.count()));
                  std::_Exit(3);
              }
          }) {}
    ~Deadline() {
        {
            std::lock_guard lock(m_mutex);
            m_finished = true;
        }
        m_done.notify_one();
        m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    std::thread m_thread;
};

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void putLe(std::string& bytes, std::size_t at, std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i)
        bytes[at + static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// A one-second 16-bit stereo WAV at 44.1 kHz whose "fmt " chunk is rewritten to say `rate` and
// `channels` (the data stays as it was).
std::string wavClaiming(const TempDir& dir, const std::string& name, std::uint32_t rate,
                        std::uint16_t channels) {
    const std::string path =
        writeTone(dir.file(name), 1.0, 440.0, 44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    std::string bytes = readFile(path);
    const std::size_t fmt = bytes.find("fmt ");
    const std::uint16_t blockAlign = static_cast<std::uint16_t>(channels * 2);
    putLe(bytes, fmt + 10, channels, 2);
    putLe(bytes, fmt + 12, rate, 4);
    putLe(bytes, fmt + 16, rate * blockAlign, 4);
    putLe(bytes, fmt + 20, blockAlign, 2);
    return writeBytes(path, bytes);
}

// Deck A for the bad file, deck B playing a constant 0.25 (60 s) at full volume.
class BesidePlayingDeck : public ::testing::Test {
protected:
    void SetUp() override {
        b.setFileName(q(writeConstant(dir.file("steady.wav"), 60.0, 0.25f, kRate)));
        b.play();
        // Deck B fades in over its first 3 ms; from then on it is exactly 0.25.
        const auto first = engine->render(kRate / 10);
        framesB = kRate / 10;
        EXPECT_EQ(std::vector<float>(first.begin() + 2 * 200, first.end()),
                  std::vector<float>(first.size() - 2 * 200, 0.25f));
    }

    // Renders `frames` and checks deck B's part of the mix: every sample exactly 0.25 plus
    // `deckA` (deck A's own constant, 0 when it is silent or done), and B's position exactly the
    // frames rendered since it started.
    std::vector<float> renderChecked(std::size_t frames, float deckA = 0.0f) {
        auto out = engine->render(frames);
        framesB += frames;
        for (std::size_t i = 0; i < out.size(); ++i)
            if (out[i] != 0.25f + deckA) {
                ADD_FAILURE() << "deck B disturbed at frame " << framesB - frames + i / 2 << ": " << out[i];
                break;
            }
        EXPECT_EQ(b.currentPosition(), static_cast<double>(framesB) / kRate) << "deck B's position";
        EXPECT_EQ(b.playState(), DeckPlayer::Playing);
        return out;
    }

    // Loads path on deck A: true when it took the file; false when it refused it with a clear
    // error (naming the file), leaving deck A as it was.
    bool loadA(const std::string& path) {
        const QString before = a.fileName();
        try {
            a.setFileName(q(path));
            engine->processNotifications();
            return true;
        } catch (const PlayerError& e) {
            const std::string message = e.what();
            EXPECT_NE(message.find("Can't load \"" + path + "\": "), std::string::npos) << message;
            EXPECT_EQ(a.fileName(), before);
            return false;
        }
    }

    // Plays deck A silently until it stops by itself; fails when it is still playing after
    // `seconds` of audio. Deck B is checked all along.
    void playAToItsEnd(double seconds) {
        a.setVolume(-10000); // deck A's sound (whatever a broken file gives) must not reach the mix...
        a.play();            // ...but a NaN from it would, and fail the check of deck B
        const auto limit = static_cast<std::size_t>(seconds * 10);
        testing::internal::CaptureStderr(); // "could not be read any more", for files lost while playing
        for (std::size_t i = 0; i < limit && a.playState() == DeckPlayer::Playing; ++i)
            renderChecked(kRate / 10);
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(a.playState(), DeckPlayer::Stopped) << "deck A never ended";
        EXPECT_EQ(a.currentPosition(), 0.0);
        renderChecked(kRate / 10);
    }

    TempDir dir;
    std::unique_ptr<AudioEngine> engine = AudioEngine::createOffline(kRate, kBlock);
    DeckPlayer a{*engine};
    DeckPlayer b{*engine};
    std::size_t framesB = 0;
};

struct AbsurdCase {
    const char* name;
    std::function<std::string(const TempDir&)> make;
    const char* refusal = nullptr; // when set, the file must be refused, with this in the reason
};

const AbsurdCase kAbsurdCases[] = {
    {"HeaderSaysZeroHertz", [](const TempDir& d) { return wavClaiming(d, "rate0.wav", 0, 2); },
     "sample rate"},
    {"HeaderSaysOneHertz", [](const TempDir& d) { return wavClaiming(d, "rate1.wav", 1, 2); }, "sample rate"},
    {"HeaderSaysTenMegahertz", [](const TempDir& d) { return wavClaiming(d, "rate10M.wav", 10'000'000, 2); },
     "sample rate"},
    {"HeaderSaysNoChannels", [](const TempDir& d) { return wavClaiming(d, "ch0.wav", 44100, 0); }},
    {"HeaderSays1024Channels", [](const TempDir& d) { return wavClaiming(d, "ch1024.wav", 44100, 1024); }},
    {"WavHeaderWithNoData",
     [](const TempDir& d) {
         const auto p = writeTone(d.file("head.wav"), 1.0, 440.0);
         truncateFile(p, readFile(p).find("data") + 8);
         return p;
     }},
    {"WavClaimsTenTimesTheDataItHas",
     [](const TempDir& d) {
         const auto p = writeTone(d.file("claims.wav"), 1.0, 440.0);
         std::string bytes = readFile(p);
         const std::size_t data = bytes.find("data");
         const std::uint32_t size = 10 * 4 * 44100;
         putLe(bytes, data + 4, size, 4);
         putLe(bytes, 4, static_cast<std::uint32_t>(data + 8 + size - 8), 4);
         return writeBytes(p, bytes);
     }},
    {"FlacHeaderWithNoFrames",
     [](const TempDir& d) {
         const auto p =
             writeTone(d.file("head.flac"), 1.0, 440.0, 44100, 2, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
         truncateFile(p, readFile(p).find("\xFF\xF8", 42));
         return p;
     }},
    {"FlacWithNoFrames",
     [](const TempDir& d) {
         return writeTone(d.file("none.flac"), 0.0, 440.0, 44100, 2, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
     }},
    {"Mp3WithNoFrames",
     [](const TempDir& d) {
         return writeTone(d.file("none.mp3"), 0.0, 440.0, 44100, 2,
                          SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III);
     }},
    {"Mp3TagAlone",
     [](const TempDir& d) { return writeBytes(d.file("tag.mp3"), std::string("ID3\4\0\0\0\0\0\0", 10)); }},
    {"TextStartingLikeAnId3Tag",
     [](const TempDir& d) { return writeBytes(d.file("id3.mp3"), "ID3 is how " + std::string(3000, 'x')); }},
    {"Fifo",
     [](const TempDir& d) {
         const auto p = d.file("pipe.wav");
         ::mkfifo(p.c_str(), 0600); // opening it to read would wait for a writer for ever
         return p;
     }},
    {"SymlinkLoop",
     [](const TempDir& d) {
         std::filesystem::create_symlink(d.file("loop.wav"), d.file("loop.wav"));
         return d.file("loop.wav");
     }},
    {"PathThroughAFile",
     [](const TempDir& d) { return writeTone(d.file("plain.wav"), 0.5, 440.0) + "/inside.wav"; }},
    {"FolderNamedMp3",
     [](const TempDir& d) {
         std::filesystem::create_directory(d.file("album.mp3"));
         return d.file("album.mp3");
     }},
};

class AbsurdFileTest : public BesidePlayingDeck, public ::testing::WithParamInterface<AbsurdCase> {};

// Refused with a clear error, or taken and played to a clean end: never a crash, a hang, a NaN in
// the mix or a disturbance of deck B.
TEST_P(AbsurdFileTest, IsRefusedOrEndsCleanlyBesideAPlayingDeck) {
    Deadline deadline(GetParam().name, 20s);
    const std::string path = GetParam().make(dir);
    const bool taken = loadA(path);
    if (taken)
        playAToItsEnd(std::min(a.duration() + 2.0, 30.0));
    else
        renderChecked(kRate / 10);
    if (GetParam().refusal != nullptr) {
        EXPECT_FALSE(taken) << "should be refused for its " << GetParam().refusal;
    }
}

// A header saying 1 Hz made one second of audio a twelve-hour file of rumble, resampled 48000-fold;
// one saying 10 MHz made it 4 ms of chirp. Both are damage, not audio: refused, naming the rate.
TEST_F(BesidePlayingDeck, HeaderSayingOneHertzOrTenMegahertzIsRefusedNotPlayed) {
    for (const std::uint32_t rate : {1u, 999u, 768'001u, 10'000'000u}) {
        const std::string path = wavClaiming(dir, "rate" + std::to_string(rate) + ".wav", rate, 2);
        try {
            a.setFileName(q(path));
            ADD_FAILURE() << "took a file at " << rate << " Hz, " << a.duration() << " s long";
        } catch (const PlayerError& e) {
            EXPECT_NE(std::string(e.what()).find("unusable sample rate (" + std::to_string(rate) + " Hz)"),
                      std::string::npos)
                << e.what();
        }
        renderChecked(kRate / 20);
    }
    // The edges of what is played.
    for (const std::uint32_t rate : {1000u, 768'000u}) {
        ASSERT_TRUE(loadA(wavClaiming(dir, "edge" + std::to_string(rate) + ".wav", rate, 2)));
        EXPECT_EQ(a.duration(), 44100.0 / rate);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryAbsurdFile, AbsurdFileTest, ::testing::ValuesIn(kAbsurdCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct Format {
    const char* name;
    const char* ext;
    int format;
};

class CutAtRandomPoints : public BesidePlayingDeck, public ::testing::WithParamInterface<Format> {};

// Eight cuts per format at seeded random points, from inside the header to just before the end.
TEST_P(CutAtRandomPoints, EachCutIsRefusedOrEndsCleanly) {
    const Format& f = GetParam();
    const std::string original =
        writeTone(dir.file(std::string("whole.") + f.ext), 2.0, 440.0, 44100, 2, f.format);
    const std::string bytes = readFile(original);
    std::mt19937 random(20261207u + static_cast<unsigned>(f.format));
    // The seed is fixed, so a failure names a cut that can be made again.
    std::uniform_int_distribution<std::size_t> cutAt(1, bytes.size() - 1);
    for (int i = 0; i < 8; ++i) {
        const std::size_t cut = i == 0 ? 200 : cutAt(random); // one cut surely inside the header area
        SCOPED_TRACE(std::string(f.name) + " cut at " + std::to_string(cut) + " of " +
                     std::to_string(bytes.size()));
        Deadline deadline(std::string(f.name) + " cut at " + std::to_string(cut), 20s);
        const std::string path =
            writeBytes(dir.file("cut" + std::to_string(i) + "." + f.ext), bytes.substr(0, cut));
        if (loadA(path))
            playAToItsEnd(a.duration() + 3.0);
        else
            renderChecked(kRate / 20);
    }
}

const Format kFormats[] = {{"Wav", "wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
                           {"Flac", "flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
                           {"Mp3", "mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III}};

INSTANTIATE_TEST_SUITE_P(EveryFormat, CutAtRandomPoints, ::testing::ValuesIn(kFormats),
                         [](const auto& info) { return std::string(info.param.name); });

struct EncodedFormat {
    const char* name;
    const char* file;
    const char* arguments; // ffmpeg's
};

class CutEncodedAtRandomPoints : public BesidePlayingDeck,
                                 public ::testing::WithParamInterface<EncodedFormat> {};

// The formats FFmpeg reads, cut the same way: six cuts each.
TEST_P(CutEncodedAtRandomPoints, EachCutIsRefusedOrEndsCleanly) {
    const EncodedFormat& f = GetParam();
    const std::string original = ffmpegEncode(writeTone(dir.file("source.wav"), 2.0, 440.0),
                                              dir.file(std::string("whole-") + f.file), f.arguments);
    const std::string bytes = readFile(original);
    std::mt19937 random(20261207u + static_cast<unsigned>(bytes.size()));
    std::uniform_int_distribution<std::size_t> cutAt(1, bytes.size() - 1);
    for (int i = 0; i < 6; ++i) {
        const std::size_t cut = i == 0 ? 200 : cutAt(random);
        SCOPED_TRACE(std::string(f.name) + " cut at " + std::to_string(cut) + " of " +
                     std::to_string(bytes.size()));
        Deadline deadline(std::string(f.name) + " cut at " + std::to_string(cut), 20s);
        const std::string path =
            writeBytes(dir.file("cut" + std::to_string(i) + "-" + f.file), bytes.substr(0, cut));
        if (loadA(path))
            playAToItsEnd(a.duration() + 3.0);
        else
            renderChecked(kRate / 20);
    }
}

const EncodedFormat kEncodedFormats[] = {{"AacInM4a", "t.m4a", "-c:a aac -movflags +faststart"},
                                         {"Wma", "t.wma", "-c:a wmav2"},
                                         {"WavPack", "t.wv", "-c:a wavpack"},
                                         {"Opus", "t.opus", "-c:a libopus"},
                                         {"Ac3", "t.ac3", "-c:a ac3"}};

INSTANTIATE_TEST_SUITE_P(EveryFfmpegFormat, CutEncodedAtRandomPoints, ::testing::ValuesIn(kEncodedFormats),
                         [](const auto& info) { return std::string(info.param.name); });

// A constant level in any libsndfile format at 48 kHz: 0.5 is exact in 16-bit PCM, so a lossless
// file decodes to it sample for sample.
std::string writeConstantAs(const std::string& path, double seconds, float value, int format) {
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = 2;
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (f == nullptr)
        throw std::runtime_error("cannot write " + path);
    const std::vector<float> samples(static_cast<std::size_t>(seconds * kRate) * 2, value);
    sf_writef_float(f, samples.data(), static_cast<sf_count_t>(samples.size() / 2));
    sf_close(f);
    return path;
}

const Format kExactFormats[] = {{"Wav", "wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT},
                                {"Flac", "flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16}};

// Deck A plays a 2-second constant 0.5 at full volume beside deck B; something happens to its file
// after 0.5 s (`meanwhile`); deck A must play every sample of what it loaded and end at 2 s.
class FileChangesWhilePlaying : public BesidePlayingDeck, public ::testing::WithParamInterface<Format> {
protected:
    void playThrough(const std::function<void(const std::string& path)>& meanwhile) {
        Deadline deadline("file changed while playing", 20s);
        const Format& f = GetParam();
        const std::string path = writeConstantAs(dir.file(std::string("a.") + f.ext), 2.0, 0.5f, f.format);
        ASSERT_TRUE(loadA(path));
        ASSERT_EQ(a.duration(), 2.0);
        a.play();
        // The first 3 ms fade deck A in; from then on the mix is exactly 0.75.
        auto first = engine->render(kRate / 2);
        framesB += kRate / 2;
        EXPECT_EQ(std::vector<float>(first.begin() + 2 * 200, first.end()),
                  std::vector<float>(first.size() - 2 * 200, 0.75f));
        meanwhile(path);
        renderChecked(kRate + kRate / 2, 0.5f); // the rest of deck A, to its last frame
        EXPECT_EQ(a.currentPosition(), 2.0);
        renderChecked(kRate / 10); // deck B alone
        EXPECT_EQ(a.playState(), DeckPlayer::Stopped);
        EXPECT_EQ(a.currentPosition(), 0.0);
        EXPECT_EQ(a.fileName(), q(path));
    }
};

// On Linux an open file outlives its name: deleted while its deck plays, it plays on to its end.
TEST_P(FileChangesWhilePlaying, DeletedPlaysOnToItsEnd) {
    playThrough([](const std::string& path) { std::filesystem::remove(path); });
}

// Another file renamed over the name (how editors and downloads replace a file): the deck plays
// the file it loaded to its end.
TEST_P(FileChangesWhilePlaying, ReplacedByRenamePlaysTheLoadedFileToItsEnd) {
    playThrough([this](const std::string& path) {
        const std::string other = writeTone(dir.file("other.wav"), 0.5, 880.0, 44100, 1);
        std::filesystem::rename(other, path);
    });
}

INSTANTIATE_TEST_SUITE_P(LosslessFormats, FileChangesWhilePlaying, ::testing::ValuesIn(kExactFormats),
                         [](const auto& info) { return std::string(info.param.name); });

// FFmpeg's reader opens its file again to go back to the start (and Ogg Speex for every seek): it
// does so through the descriptor it opened at load, so a file deleted and another renamed over its
// name while it plays is still the file it plays, from the start again too.
TEST_F(BesidePlayingDeck, FfmpegFileDeletedAndReplacedPlaysOnAndFromItsStartAgain) {
    Deadline deadline("FFmpeg file replaced while playing", 20s);
    const std::string path =
        ffmpegEncode(writeConstantAs(dir.file("a.wav"), 2.0, 0.5f, SF_FORMAT_WAV | SF_FORMAT_FLOAT),
                     dir.file("a.wv"), "-c:a wavpack");
    ASSERT_TRUE(loadA(path));
    ASSERT_EQ(a.duration(), 2.0);
    a.play();
    engine->render(kRate / 2);
    framesB += kRate / 2;
    std::filesystem::remove(path);
    std::filesystem::rename(writeTone(dir.file("other.wav"), 0.5, 880.0, 44100, 1), path);
    renderChecked(kRate / 2, 0.5f);
    a.setCurrentPosition(0.0); // back to the start: the stream is opened again
    engine->render(kRate / 10);
    framesB += kRate / 10;
    renderChecked(kRate + kRate / 2, 0.5f);       // all of it again, to its last frame
    EXPECT_NEAR(a.currentPosition(), 1.6, 0.005); // less the seek's 3 ms fade
}

// The same file rewritten in place (same inode) with another, shorter file of another format
// while loaded: what is read from then on is not what the header promised. The deck plays what it
// can and ends cleanly, or stops as a lost file; deck B is untouched.
class RewrittenInPlace : public BesidePlayingDeck, public ::testing::WithParamInterface<Format> {};

TEST_P(RewrittenInPlace, EndsCleanly) {
    Deadline deadline("rewritten in place", 20s);
    const Format& f = GetParam();
    const std::string path = writeTone(dir.file(std::string("a.") + f.ext), 3.0, 440.0, 44100, 2, f.format);
    ASSERT_TRUE(loadA(path));
    const std::string other =
        writeTone(dir.file("other.ogg"), 0.7, 880.0, 22050, 1, SF_FORMAT_OGG | SF_FORMAT_VORBIS);
    {
        std::ofstream out(path, std::ios::binary | std::ios::in | std::ios::trunc); // same inode
        out << readFile(other);
    }
    playAToItsEnd(5.0);
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, RewrittenInPlace, ::testing::ValuesIn(kFormats),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
