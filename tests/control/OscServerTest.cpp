// OSC over real UDP datagrams on 127.0.0.1: the server drives a console built with the test fakes,
// answers status, and shrugs off hostile datagrams and floods.
#include <QLineEdit>
#include <QTest>
#include <arpa/inet.h>
#include <cmath>
#include <cstring>
#include <functional>
#include <lo/lo.h>
#include <mutex>
#include <netinet/in.h>
#include <random>
#include <set>
#include <sys/socket.h>
#include <unistd.h>
#include <variant>

#include "common/Globals.h"
#include "console/ConsoleFixture.h"
#include "control/OscServer.h"

namespace {

using Argument = std::variant<int, float, std::string>;

// A message as liblo writes it.
std::string message(const char* path, std::initializer_list<Argument> arguments = {}) {
    lo_message m = lo_message_new();
    for (const Argument& a : arguments) {
        if (const int* i = std::get_if<int>(&a))
            lo_message_add_int32(m, *i);
        else if (const float* f = std::get_if<float>(&a))
            lo_message_add_float(m, *f);
        else
            lo_message_add_string(m, std::get<std::string>(a).c_str());
    }
    std::string bytes(lo_message_length(m, path), '\0');
    std::size_t size = bytes.size();
    lo_message_serialise(m, path, bytes.data(), &size);
    lo_message_free(m);
    return bytes;
}

struct DeckAnswer {
    std::string letter, title, state;
    float remaining;
    int live;
};

class OscTest : public ConsoleTest {
protected:
    void SetUp() override {
        start();
        server = std::make_unique<OscServer>(*console, "127.0.0.1", 0, [this](const std::string& m) {
            std::lock_guard lock(saidMutex);
            said.push_back(m);
        });
        client = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<std::uint16_t>(server->port()));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    }
    void TearDown() override {
        server.reset();
        ::close(client);
    }

    void send(const std::string& bytes) {
        ::sendto(client, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }

    // Asks for the status, again until it comes (a flood may have filled the socket's buffer), and
    // returns the three decks' answers. Everything sent before the answer has been run.
    std::vector<DeckAnswer> status() {
        std::vector<DeckAnswer> answers;
        for (int attempt = 0; attempt < 50 && answers.size() < 3; ++attempt) {
            send(message("/fadewell/status"));
            (void)QTest::qWaitFor([&] { return receive(answers) == 3; }, 200);
        }
        return answers;
    }

    std::size_t receive(std::vector<DeckAnswer>& answers) {
        char buffer[2048];
        ssize_t n;
        while (answers.size() < 3 && (n = ::recv(client, buffer, sizeof buffer, 0)) > 0) {
            int result = 0;
            lo_message m = lo_message_deserialise(buffer, static_cast<std::size_t>(n), &result);
            EXPECT_STREQ(buffer, "/fadewell/status/deck");
            EXPECT_STREQ(lo_message_get_types(m), "sssfi");
            lo_arg** a = lo_message_get_argv(m);
            const auto text = [&](int i) { return std::string(reinterpret_cast<const char*>(a[i])); };
            DeckAnswer answer{text(0), text(1), text(2), 0, 0};
            std::memcpy(&answer.remaining, a[3], 4); // 4-aligned: not through lo_arg's members
            std::memcpy(&answer.live, a[4], 4);
            answers.push_back(answer);
            lo_message_free(m);
        }
        return answers.size();
    }

    std::unique_ptr<OscServer> server;
    int client = -1;
    sockaddr_in to{};
    std::mutex saidMutex;
    std::vector<std::string> said;
};

TEST_F(OscTest, PlayVolumeAutoStopAndStatusActAsTheOperatorsOwn) {
    loadTone('A');
    loadTone('B');
    // What show controllers send: a fader's float (1.0 the top), seconds as numbers, a button box's
    // release (0: nothing) before its press.
    const std::pair<std::string, std::function<bool()>> forms[] = {
        {message("/fadewell/deck/A/volume", {0.8f}), [&] { return console->SliderA->value() == 20; }},
        {message("/fadewell/deck/A/volume", {0.0f}), [&] { return console->SliderA->value() == 100; }},
        {message("/fadewell/deck/A/volume", {1.0f}), [&] { return console->SliderA->value() == 0; }},
        {message("/fadewell/fade/seconds", {2.5f}), [&] { return console->txtAutoFade->text() == "2.5"; }},
        {message("/fadewell/fade/seconds", {3}), [&] { return console->txtAutoFade->text() == "3"; }},
    };
    for (const auto& [bytes, done] : forms) {
        send(bytes);
        EXPECT_TRUE(QTest::qWaitFor(done, 2000));
    }
    EXPECT_EQ(console->MediaPlayerA->volume(), Globals::PlayerVolumeFromSlider(0));
    send(message("/fadewell/deck/A/play", {0}));
    send(message("/fadewell/deck/B/auto", {0.0f}));
    ASSERT_EQ(status().size(), 3u);
    EXPECT_EQ(console->liveDeck(), "");

    send(message("/fadewell/deck/A/play"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return console->liveDeck() == "A"; }, 2000));
    EXPECT_EQ(console->MediaPlayerA->playState(), MediaPlayer::Playing);
    EXPECT_GT(rmsDb(advance(0.2)), -20.0); // heard
    EXPECT_FALSE(console->fadeIsActive()); // a key fades nothing

    send(message("/fadewell/deck/b/volume", {60}));
    send(message("/fadewell/fade/seconds", {std::string("2")}));
    send(message("/fadewell/deck/B/auto", {1.0f}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return console->liveDeck() == "B"; }, 2000));
    EXPECT_EQ(console->SliderB->value(), 60);
    EXPECT_EQ(console->MediaPlayerB->volume(), Globals::PlayerVolumeFromSlider(60));
    EXPECT_EQ(console->txtAutoFade->text(), "2");
    EXPECT_TRUE(console->fadeIsActive());

    const auto answers = status();
    ASSERT_EQ(answers.size(), 3u);
    EXPECT_EQ(answers[0].letter + answers[0].title, "AA");
    EXPECT_EQ(answers[0].state, "playing");
    EXPECT_NEAR(answers[0].remaining, 2.8, 0.02);
    EXPECT_EQ(answers[0].live, 0);
    EXPECT_EQ(answers[1].state, "playing");
    EXPECT_EQ(answers[1].live, 1);
    EXPECT_NEAR(answers[1].remaining, 3.0, 0.02);
    EXPECT_EQ(answers[2].state, "empty");

    send(message("/fadewell/deck/A/stop", {1}));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return console->MediaPlayerA->playState() == MediaPlayer::Stopped; }, 2000));
    EXPECT_EQ(console->MediaPlayerA->currentPosition(), 0.0);
    EXPECT_TRUE(said.empty());
}

// Truncated, mistyped, out of range, unknown, bundled, random and a flood of thousands: nothing
// changes, each fault is said once, and the window answers at once after.
TEST_F(OscTest, HostileDatagramsChangeNothingAndTheWindowStillAnswers) {
    loadTone('A');
    loadTone('B');
    const std::string volume = message("/fadewell/deck/A/volume", {50});
    std::vector<std::string> hostile = {
        "",
        volume.substr(0, volume.size() - 3),
        message("/fadewell/deck/A/volume", {50.0f}),
        message("/fadewell/deck/A/volume", {std::string("50")}),
        message("/fadewell/deck/A/volume", {101}),
        message("/fadewell/deck/A/volume", {-1}),
        message("/fadewell/deck/A/volume", {50, 50}),
        message("/fadewell/deck/A/play", {2}),
        message("/fadewell/deck/D/play"),
        message("/fadewell/deck/A/"),
        message("/fadewell/fade/seconds", {std::string("0")}),
        message("/fadewell/fade/seconds", {std::string(4000, '9')}),
        message("/fadewell/fade/seconds", {-4}),
        std::string("#bundle\0"
                    "\0\0\0\0\0\0\0\1",
                    16) +
            volume,
        std::string("/fadewell/deck/A/volume\0,i\0\0", 28), // an int promised, none sent
        "/" + std::string(60000, 'a'),                      // no end to the path
    };
    for (const float f : {1.5f, -0.1f, std::nanf("")})
        hostile.push_back(message("/fadewell/deck/A/volume", {f}));
    hostile.push_back(message("/fadewell/deck/A/stop", {0.5f}));
    hostile.push_back(message("/fadewell/fade/seconds", {1e30f}));
    hostile.push_back(message("/fadewell/fade/seconds", {0.0f}));
    hostile.push_back(message("/fadewell/status", {1}));
    std::mt19937 random(21);
    for (int i = 0; i < 200; ++i) {
        // Out of range read as an int or (a NaN) as a float, so that no flip of the path or the type
        // tag can make a move of a slider.
        std::string bytes =
            message("/fadewell/deck/A/volume", {0x7FC00000 | static_cast<int>(random() % 1000)});
        for (int flips = 0; flips < 3; ++flips)
            bytes[random() % 28] = static_cast<char>(random());
        hostile.push_back(bytes.substr(0, random() % (bytes.size() + 1)));
    }
    for (int round = 0; round < 2000; ++round) // thousands, as fast as the socket takes them
        for (int i = 0; i < 3; ++i)
            send(hostile[static_cast<std::size_t>(round * 3 + i) % 16]);
    // The flood may overflow the socket's buffer: once it is read, each kind of fault once more,
    // so that every kind reaches the server.
    ASSERT_EQ(status().size(), 3u) << "the window did not answer";
    for (const std::string& bytes : hostile)
        send(bytes);
    for (int i = 0; i < 3000; ++i)
        send(message("/fadewell/deck/C/play")); // C holds no file: a valid message that does nothing

    const auto answers = status();
    ASSERT_EQ(answers.size(), 3u) << "the window did not answer";
    for (const DeckAnswer& a : answers)
        EXPECT_NE(a.state, "playing") << a.letter;
    EXPECT_EQ(console->liveDeck(), "");
    for (ScrollSlider* slider : {console->SliderA, console->SliderB, console->SliderC})
        EXPECT_EQ(slider->value(), 20);
    EXPECT_EQ(console->txtAutoFade->text(), "4");

    std::lock_guard lock(saidMutex);
    const std::set<std::string> distinct(said.begin(), said.end());
    EXPECT_EQ(distinct.size(), said.size()) << "a fault said twice";
    EXPECT_GE(said.size(), 12u);
    EXPECT_LE(said.size(), OscServer::kMaxFaultsSaid + 1);
}

// Thousands of fader moves of two decks while the window is busy (this thread sends them): however
// many wait, each deck's latest move is where its slider ends.
TEST_F(OscTest, AFloodOfVolumeMovesEndsAtTheLatest) {
    loadTone('A');
    loadTone('B');
    for (int i = 0; i < 5000; ++i) {
        send(message(i % 2 == 0 ? "/fadewell/deck/A/volume" : "/fadewell/deck/B/volume", {i % 100}));
        if (i % 100 == 0)
            usleep(
                1000); // the socket's buffer holds a few hundred: the flood is the queue's, not the kernel's
    }
    send(message("/fadewell/deck/A/volume", {42}));
    send(message("/fadewell/deck/B/volume", {58}));
    usleep(100000); // the window still busy while the server takes in the last of them
    ASSERT_EQ(status().size(), 3u);
    EXPECT_EQ(console->SliderA->value(), 42);
    EXPECT_EQ(console->SliderB->value(), 58);
    EXPECT_EQ(console->MediaPlayerA->volume(), Globals::PlayerVolumeFromSlider(42));
    EXPECT_TRUE(said.empty()) << said.front();
}

} // namespace
