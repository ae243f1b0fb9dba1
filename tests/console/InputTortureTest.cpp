// Input torture: tens of thousands of random operator actions, ticks and rendered audio fired at the
// console, with its invariants checked after every step. The run is reproducible from its seed,
// printed at the start; FADEWELL_TORTURE_SEED and FADEWELL_TORTURE_STEPS override seed and length.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QToolButton>

#include "ConsoleFixture.h"

namespace {

std::uint64_t envNumber(const char* name, std::uint64_t fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 10) : fallback;
}

// Texts an operator might leave in the auto-fade box, good and bad.
const char* const kFadeTexts[] = {"4",
                                  "1",
                                  "9",
                                  "0",
                                  "",
                                  "-4",
                                  "12",
                                  "2.5",
                                  "abc",
                                  " 3",
                                  "&H3",
                                  "&O7",
                                  "1e-300",
                                  "1e400",
                                  "5d1",
                                  "+",
                                  "-",
                                  ".",
                                  "4 4",
                                  "\xc2\xbd",
                                  "\xef\xbc\x93",
                                  "99999999999999999999",
                                  "0.0000001",
                                  "1e",
                                  "&H",
                                  "&HFFFFFFFFFFFF",
                                  "nan",
                                  "inf"};

class InputTorture : public ConsoleTest {
protected:
    enum class Choice { Good, Bad, Cancel };

    void SetUp() override {
        good = {tone("short.wav", 0.3), tone("mono22k.wav", 0.45, 660.0),
                QString::fromStdString(fixtures::writeTone(dir.file("long.flac"), 1.2, 330.0, 48000, 2,
                                                           SF_FORMAT_FLAC | SF_FORMAT_PCM_16)),
                QString::fromStdString(fixtures::writeTone(dir.file("tone.mp3"), 0.5, 550.0, 44100, 2,
                                                           SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III))};
        const std::string cut = fixtures::writeTone(dir.file("cut.wav"), 0.5, 440.0);
        fixtures::truncateFile(cut, 2000);
        std::filesystem::create_directory(dir.file("folder.wav"));
        bad = {QString::fromStdString(fixtures::writeBytes(dir.file("notes.mp3"), "not audio at all\n")),
               QString::fromStdString(fixtures::writeBytes(dir.file("empty.wav"), "")),
               QString::fromStdString(cut), QString::fromStdString(dir.file("folder.wav")),
               QString::fromStdString(dir.file("missing.wav"))};
    }

    template <class T> T pick(const std::vector<T>& items) {
        return items[std::uniform_int_distribution<std::size_t>(0, items.size() - 1)(rng)];
    }
    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); }

    // A text for the auto-fade box: one of the known ones, or a few random characters.
    QString fadeText() {
        if (below(2) == 0)
            return QString::fromUtf8(kFadeTexts[below(static_cast<int>(std::size(kFadeTexts)))]);
        static const char16_t kAlphabet[] = u"0123456789.+-eEdD&HhOo \t,x\u00bd\u0663\uff13";
        QString text;
        for (int n = below(6); n > 0; --n)
            text += QChar(kAlphabet[below(static_cast<int>(std::size(kAlphabet)) - 1)]);
        return text;
    }

    // One load through the load button, the dialog answering as chosen; checks what the deck kept.
    void loadStep(int deckIndex, Choice choice, std::string& what) {
        MediaPlayer* player = players()[deckIndex];
        QPushButton* button =
            std::array{console->cmdMediaA, console->cmdMediaB, console->cmdMediaC}[deckIndex];
        const QString before = player->fileName();
        const std::size_t boxesBefore = boxes.shown.size();
        const QString path = choice == Choice::Good  ? pick(good)
                             : choice == Choice::Bad ? pick(bad)
                                                     : QString();
        what = "load deck " + std::to_string(deckIndex) + " with \"" + path.toStdString() + "\"";
        dialog.choices = {path};
        button->click();
        ASSERT_TRUE(dialog.choices.empty()) << what << ": the dialog was not asked";
        switch (choice) {
        case Choice::Good:
            EXPECT_EQ(player->fileName(), path) << what;
            EXPECT_EQ(boxes.shown.size(), boxesBefore) << what << ": a good file showed a box";
            break;
        case Choice::Bad:
            EXPECT_EQ(player->fileName(), before) << what << ": a refused file changed the deck";
            ASSERT_EQ(boxes.shown.size(), boxesBefore + 1) << what << ": a refused file told nothing";
            EXPECT_TRUE(boxes.shown.back().modal) << what;
            EXPECT_TRUE(boxes.shown.back().prompt.contains(path))
                << what << ": the box does not name the file";
            break;
        case Choice::Cancel:
            EXPECT_EQ(player->fileName(), before) << what << ": a cancel changed the deck";
            EXPECT_EQ(boxes.shown.size(), boxesBefore) << what;
            break;
        }
    }

    std::array<MediaPlayer*, 3> players() const {
        return {console->MediaPlayerA, console->MediaPlayerB, console->MediaPlayerC};
    }
    std::array<ScrollSlider*, 6> sliders() const {
        return {console->SliderA,   console->SliderB,    console->SliderC,
                console->SliderMic, console->SliderLine, console->SliderMaster};
    }

    // A timer's tick as Qt delivers it: through the console's boundary for uncaught failures.
    static void tick(ConsoleTimer* timer) { ASSERT_TRUE(QMetaObject::invokeMethod(timer, "timeout")); }

    void checkInvariants(const std::string& what) {
        for (ScrollSlider* s : sliders())
            ASSERT_TRUE(s->value() >= 0 && s->value() <= 100)
                << what << ": " << s->objectName().toStdString() << " at " << s->value();
        const QString live = console->liveDeck();
        ASSERT_TRUE(live.isEmpty() || live == u"A" || live == u"B" || live == u"C")
            << what << ": live deck \"" << live.toStdString() << "\"";
        static const QRegularExpression timeText(QStringLiteral("^\\d+:\\d\\d\\.\\d$"));
        for (int i = 0; i < 3; ++i) {
            MediaPlayer* p = players()[i];
            ASSERT_EQ(console->deckLoaded(i), !p->fileName().isEmpty()) << what << ": deck " << i;
            const double position = p->currentPosition();
            ASSERT_TRUE(position >= 0.0 && position <= p->duration() + 1e-9)
                << what << ": deck " << i << " at " << position << " of " << p->duration();
            const QString remaining =
                std::array{console->lblRemainingA, console->lblRemainingB, console->lblRemainingC}[i]->text();
            ASSERT_TRUE(remaining.isEmpty() || timeText.match(remaining).hasMatch())
                << what << ": remaining label \"" << remaining.toStdString() << "\"";
        }
        for (const auto& box : boxes.shown)
            ASSERT_TRUE(box.modal) << what << ": uncaught failure: " << box.prompt.toStdString();
    }

    std::mt19937_64 rng;
    std::vector<QString> good;
    std::vector<QString> bad;
};

TEST_F(InputTorture, RandomOperatorActionsAndTicksKeepTheConsoleConsistent) {
    const std::uint64_t seed = envNumber("FADEWELL_TORTURE_SEED", 20240607);
    const std::uint64_t steps = envNumber("FADEWELL_TORTURE_STEPS", 30000);
    std::printf("input torture: seed %llu, %llu steps (FADEWELL_TORTURE_SEED, FADEWELL_TORTURE_STEPS)\n",
                static_cast<unsigned long long>(seed), static_cast<unsigned long long>(steps));
    RecordProperty("seed", std::to_string(seed));
    rng.seed(seed);
    start();

    static const int kKeys[] = {Qt::Key_A,    Qt::Key_B,     Qt::Key_C,      Qt::Key_D,
                                Qt::Key_1,    Qt::Key_2,     Qt::Key_3,      Qt::Key_F1,
                                Qt::Key_Left, Qt::Key_Space, Qt::Key_Escape, Qt::Key_Z};
    static const int kSliderKeys[] = {Qt::Key_Up,       Qt::Key_Down, Qt::Key_PageUp,
                                      Qt::Key_PageDown, Qt::Key_Home, Qt::Key_End};
    std::size_t renders = 0, loads = 0, refused = 0;
    for (std::uint64_t step = 0; step < steps; ++step) {
        std::string what;
        const int deckIndex = below(3);
        const int action = below(100);
        if (action < 6) {
            const int r = below(10);
            const Choice choice = r < 5 ? Choice::Good : r < 8 ? Choice::Bad : Choice::Cancel;
            loadStep(deckIndex, choice, what);
            ++loads;
            refused += choice == Choice::Bad;
        } else if (action < 9) {
            what = "clear deck " + std::to_string(deckIndex);
            std::array{console->cmdClearPlayerA, console->cmdClearPlayerB,
                       console->cmdClearPlayerC}[deckIndex]
                ->click();
        } else if (action < 14) {
            what = "auto-fade deck " + std::to_string(deckIndex);
            std::array{console->cmdAudoFadeA, console->cmdAudoFadeB, console->cmdAudoFadeC}[deckIndex]
                ->click();
        } else if (action < 16) {
            what = "reset volume";
            console->cmdResetVolume->click();
        } else if (action < 17) {
            what = "toggle auto set volume";
            console->chkSetVolume->click();
        } else if (action < 27) {
            ScrollSlider* s = sliders()[static_cast<std::size_t>(below(6))];
            const int key = kSliderKeys[below(static_cast<int>(std::size(kSliderKeys)))];
            what = "key " + std::to_string(key) + " on " + s->objectName().toStdString();
            QTest::keyClick(s, static_cast<Qt::Key>(key));
        } else if (action < 35) {
            ScrollSlider* s = sliders()[static_cast<std::size_t>(below(6))];
            const int value = below(161) - 30; // the slider keeps it within its range
            what = "drag " + s->objectName().toStdString() + " to " + std::to_string(value);
            s->setValue(value);
            emit s->Scroll();
        } else if (action < 45) {
            const int key = kKeys[below(static_cast<int>(std::size(kKeys)))];
            const auto modifiers = below(3) == 0   ? Qt::KeypadModifier
                                   : below(2) == 0 ? Qt::ShiftModifier
                                                   : Qt::NoModifier;
            what = "key " + std::to_string(key) + " modifiers " + std::to_string(modifiers);
            QTest::keyClick(console.get(), static_cast<Qt::Key>(key), modifiers);
        } else if (action < 50) {
            const QString text = fadeText();
            what = "auto-fade text \"" + text.toStdString() + "\"";
            console->txtAutoFade->setText(text);
        } else if (action < 53) {
            MediaPlayer* p = players()[deckIndex];
            const char* names[] = {"playButton", "pauseButton", "stopButton"};
            const char* name = names[below(3)];
            what = std::string("player ") + std::to_string(deckIndex) + " " + name;
            auto* button = p->findChild<QToolButton*>(name);
            ASSERT_NE(button, nullptr);
            button->click(); // a disabled button does nothing, as for the operator
        } else if (action < 55) {
            MediaPlayer* p = players()[deckIndex];
            what = "seek deck " + std::to_string(deckIndex);
            p->setCurrentPosition(p->duration() * below(120) / 100.0);
        } else if (action < 75) {
            what = "fade tick";
            tick(console->tmrFade);
        } else if (action < 85) {
            what = "remaining tick";
            tick(console->tmrRemainingTime);
        } else if (action < 87) {
            clock.now = QTime(below(24), below(60), below(60));
            what = "clock tick";
            tick(console->tmrClock);
        } else {
            const double seconds = (1 + below(60)) / 1000.0;
            what = "render " + std::to_string(seconds) + " s";
            advance(seconds);
            ++renders;
        }
        checkInvariants("step " + std::to_string(step) + " (" + what + ")");
        if (HasFatalFailure() || HasNonfatalFailure()) {
            std::printf("input torture failed at step %llu with seed %llu\n",
                        static_cast<unsigned long long>(step), static_cast<unsigned long long>(seed));
            return;
        }
    }
    std::printf("input torture: %zu loads (%zu refused), %zu renders\n", loads, refused, renders);
    EXPECT_GT(refused, 0u);
    EXPECT_GT(loads - refused, 0u);
}

} // namespace
