// Loading and clearing decks, the live deck, the volume sliders and Reset Volume.
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QKeyEvent>
#include <QTest>

#include "ConsoleFixture.h"

namespace {
int playerVolume(MediaPlayer* p) {
    return p->volume();
}
} // namespace

TEST_F(ConsoleTest, LoadShowsTheTitleAndLengthAndLeavesTheDeckHalted) {
    frmConsole& c = start();
    load('A', tone("song.wav", 61.5));
    EXPECT_EQ(c.lblMediaA->text(), "song");
    EXPECT_EQ(c.lblDurationA->text(), "1:01.5");
    EXPECT_TRUE(c.deckLoaded(0));
    EXPECT_NE(c.MediaPlayerA->playState(), MediaPlayer::Playing);
    EXPECT_TRUE(boxes.shown.empty());
}

// The title names the file the deck holds: its name less the extension, whatever its length.
TEST_F(ConsoleTest, TitleIsTheFileNameWithoutItsExtension) {
    frmConsole& c = start();
    const std::pair<const char*, const char*> rows[] = {
        {"song.wav", "song"},
        {"track.flac", "track"},
        {"Intro", "Intro"},
        {"abcd", "abcd"},
        {"x.y.wav", "x.y"},
        {"ab", "ab"},
        {"Set 1. Live.ogg", "Set 1. Live"},
        {"track.", "track"},
        {".hidden", ".hidden"},
    };
    for (auto [name, title] : rows) {
        load('A', tone(name, 0.5));
        EXPECT_EQ(c.lblMediaA->text(), QLatin1String(title)) << name;
        EXPECT_EQ(c.MediaPlayerA->fileName(), dirPath() + "/" + name);
    }
}

// A deck faded out to the quiet end and loaded again goes on air at the level its slider shows.
TEST_F(ConsoleTest, AutoSetVolumeAppliesTheLevelTheSliderShows) {
    frmConsole& c = start();
    load('B', tone("first.wav", 3));
    c.SliderB->setValue(100);
    c.SliderB_Scroll();
    ASSERT_EQ(playerVolume(c.MediaPlayerB), -4100);
    load('B', tone("b.wav", 3));
    EXPECT_EQ(c.SliderB->value(), 20);
    EXPECT_EQ(playerVolume(c.MediaPlayerB), -820);
    c.MediaPlayerB->play();
    advance(0.1);
    const double heard = rmsDb(advance(0.5));
    c.SliderB->setValue(0);
    c.SliderB_Scroll();
    advance(0.1);
    EXPECT_NEAR(rmsDb(advance(0.5)) - heard, 8.2, 0.1) << "the deck was heard 8.2 dB down, at position 20";

    // Unticked, the load applies the slider where it stands and leaves it there.
    c.chkSetVolume->setCheckState(Qt::Unchecked);
    c.SliderC->setValue(70);
    load('C', tone("c.wav", 1));
    EXPECT_EQ(c.SliderC->value(), 70);
    EXPECT_EQ(playerVolume(c.MediaPlayerC), -41 * 70);
}

// On air a slip in the dialog must not cost the deck its file.
TEST_F(ConsoleTest, CancellingTheDialogLeavesTheDeckAsItWas) {
    frmConsole& c = start();
    const QString song = tone("song.wav", 3);
    load('A', song);
    c.SliderA->setValue(55);
    c.MediaPlayerA->play();
    advance(0.5);
    dialog.choices.push_back(QString()); // cancel
    c.cmdMediaA_Click();
    EXPECT_EQ(dialog.opened, 2);
    EXPECT_EQ(c.MediaPlayerA->fileName(), song);
    EXPECT_EQ(c.MediaPlayerA->playState(), MediaPlayer::Playing);
    EXPECT_EQ(c.lblMediaA->text(), "song");
    EXPECT_TRUE(c.deckLoaded(0));
    EXPECT_EQ(c.SliderA->value(), 55);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(ConsoleTest, AFileThePlayerRefusesIsNamedAndTheDeckPlaysOn) {
    frmConsole& c = start();
    const QString song = tone("song.wav", 3);
    load('A', song);
    c.MediaPlayerA->play();
    advance(0.5);
    const QString notAudio = dirPath() + "/notes.mp3";
    QFile f(notAudio);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("these are my notes, not audio\n");
    f.close();

    load('A', notAudio);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_TRUE(boxes.shown[0].modal);
    EXPECT_NE(boxes.shown[0].prompt.indexOf("notes.mp3"), -1) << boxes.shown[0].prompt.toStdString();
    EXPECT_EQ(c.MediaPlayerA->fileName(), song);
    EXPECT_EQ(c.MediaPlayerA->playState(), MediaPlayer::Playing);
    EXPECT_EQ(c.lblMediaA->text(), "song");
    EXPECT_TRUE(c.deckLoaded(0));

    load('B', dirPath() + "/missing.wav");
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_NE(boxes.shown[1].prompt.indexOf("missing.wav"), -1);
    EXPECT_FALSE(c.deckLoaded(1));
    EXPECT_TRUE(c.lblMediaB->text().isEmpty());
}

TEST_F(ConsoleTest, ClearingOneDeckBlanksItAndHidesEveryPlayersControls) {
    frmConsole& c = start();
    load('A', tone("a.wav", 2));
    load('B', tone("b.wav", 2));
    c.MediaPlayerA->play();
    c.tmrRemainingTime_Timer();
    ASSERT_EQ(c.liveDeck(), "A");
    const int sliderBefore = c.SliderA->value();

    c.cmdClearPlayerA_Click();
    EXPECT_TRUE(c.MediaPlayerA->fileName().isEmpty());
    EXPECT_TRUE(c.lblMediaA->text().isEmpty());
    EXPECT_TRUE(c.lblDurationA->text().isEmpty());
    EXPECT_TRUE(c.lblRemainingA->text().isEmpty());
    EXPECT_FALSE(c.deckLoaded(0));
    EXPECT_EQ(c.SliderA->value(), sliderBefore);
    for (MediaPlayer* p : {c.MediaPlayerA, c.MediaPlayerB, c.MediaPlayerC}) {
        EXPECT_FALSE(p->transportVisible());
        EXPECT_FALSE(p->positionBarVisible());
    }
    EXPECT_EQ(c.liveDeck(), "A") << "clearing the live deck leaves the mark on it";
    EXPECT_EQ(c.lblPlayerFlag->text(), "A");
    EXPECT_EQ(c.lblMediaB->text(), "b");
    EXPECT_TRUE(c.deckLoaded(1));
}

TEST_F(ConsoleTest, LiveMarkFollowsThePlayersInTheSearchOrder) {
    frmConsole& c = start();
    load('A', tone("a.wav", 5));
    load('B', tone("b.wav", 5));
    load('C', tone("c.wav", 5));

    // B live and playing, C playing, A stops: B is looked at first and stays live.
    c.MediaPlayerA->play();
    c.MediaPlayerC->play();
    c.MediaPlayerB->play();
    EXPECT_EQ(c.liveDeck(), "B");
    c.MediaPlayerA->halt();
    EXPECT_EQ(c.liveDeck(), "B");

    // C live and playing, B playing, A stops: B becomes live.
    c.MediaPlayerA->play();
    c.MediaPlayerC->halt();
    c.MediaPlayerC->play();
    EXPECT_EQ(c.liveDeck(), "C");
    c.MediaPlayerA->halt();
    EXPECT_EQ(c.liveDeck(), "B");
    EXPECT_EQ(c.lblPlayerFlag->text(), "B");
}

TEST_F(ConsoleTest, ADeckThatStopsAloneStaysLive) {
    frmConsole& c = start();
    load('C', tone("c.wav", 0.5));
    c.MediaPlayerC->play();
    EXPECT_EQ(c.lblPlayerFlag->text(), "C");
    advance(1.0); // past the end of the file
    EXPECT_EQ(c.MediaPlayerC->playState(), MediaPlayer::Stopped);
    EXPECT_EQ(c.liveDeck(), "C");
    EXPECT_EQ(c.lblPlayerFlag->text(), "C");
}

TEST_F(ConsoleTest, CurrentPlayerAcceptsAnyTextAndShowsIt) {
    frmConsole& c = start();
    c.CurrentPlayer("Z");
    EXPECT_EQ(c.liveDeck(), "Z");
    EXPECT_EQ(c.lblPlayerFlag->text(), "Z");
}

TEST_F(ConsoleTest, DeckSlidersSetPlayerVolumeAndMixerSlidersTheCardsLevel) {
    frmConsole& c = start();
    for (auto [position, volume, level] :
         {std::tuple{0, 0, 65000u}, std::tuple{1, -41, 64350u}, std::tuple{20, -820, 52000u},
          std::tuple{50, -2050, 32500u}, std::tuple{100, -4100, 0u}}) {
        c.SliderB->setValue(position);
        c.SliderB_Scroll();
        EXPECT_EQ(c.MediaPlayerB->volume(), volume) << position;
        c.SliderMaster->setValue(position);
        c.SliderMaster_Scroll();
        EXPECT_EQ(mixerValue(c.masterControl().dwControlID), level) << position;
        c.SliderLine->setValue(position);
        c.SliderLine_Scroll();
        EXPECT_EQ(mixerValue(c.lineControl().dwControlID), level) << position;
        c.SliderMic->setValue(position);
        c.SliderMic_Scroll();
        EXPECT_EQ(mixerValue(c.micControl().dwControlID), level) << position;
    }
}

TEST_F(ConsoleTest, OnlyTheUsersMovesRaiseScroll) {
    frmConsole& c = start();
    c.SliderA->setValue(80);
    EXPECT_EQ(c.MediaPlayerA->volume(), 0) << "a value set by the program applies nothing";
    c.SliderA->setFocus();
    QTest::keyClick(c.SliderA, Qt::Key_PageDown);
    EXPECT_EQ(c.SliderA->value(), 90) << "page down moves towards the quiet end at the bottom";
    EXPECT_EQ(c.MediaPlayerA->volume(), -41 * 90);

    QTest::keyClick(c.SliderMaster, Qt::Key_PageUp);
    EXPECT_EQ(c.SliderMaster->value(), 10);
    EXPECT_EQ(mixerValue(c.masterControl().dwControlID), 58500u);
}

// Holding the mouse on a slider's track repeats page steps from the slider's own timer; each step is
// the user's and is applied at once, in order.
TEST_F(ConsoleTest, MouseHeldOnTheTrackAppliesEveryRepeatedStep) {
    frmConsole& c = start();
    c.show();
    QApplication::setActiveWindow(&c);
    std::vector<std::pair<int, int>> steps; // slider value, player volume just after
    QObject::connect(c.SliderA, &QAbstractSlider::valueChanged, &c,
                     [&](int value) { steps.emplace_back(value, c.MediaPlayerA->volume()); });
    // Near the bottom of the track: far below the knob at 20, towards the quiet end.
    const QPoint nearBottom(c.SliderA->width() / 2, c.SliderA->height() - 3);
    QTest::mousePress(c.SliderA, Qt::LeftButton, {}, nearBottom);
    for (int i = 0; i < 60 && (steps.empty() || steps.back().first < 70); ++i)
        QTest::qWait(50);
    QTest::mouseRelease(c.SliderA, Qt::LeftButton, {}, nearBottom);
    ASSERT_GE(steps.size(), 5u) << "the held press repeated its step";
    int previous = 20;
    for (auto [value, volume] : steps) {
        EXPECT_EQ(value, previous + 10) << "one page step at a time";
        EXPECT_EQ(volume, -41 * value) << "the step to " << value << " reached the deck";
        previous = value;
    }
    EXPECT_EQ(c.MediaPlayerA->volume(), -41 * c.SliderA->value());
}

// A held key arrives as repeated presses; each one moves the slider and is applied, the mixer
// sliders' as well as the decks'.
TEST_F(ConsoleTest, KeyHeldDownAppliesEveryRepeatedStep) {
    frmConsole& c = start();
    c.show();
    QApplication::setActiveWindow(&c);
    const auto holdKey = [](ScrollSlider* slider, Qt::Key key, int repeats) {
        slider->setFocus();
        for (int i = 0; i <= repeats; ++i) {
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(), i > 0);
            QApplication::sendEvent(slider, &press);
        }
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
        QApplication::sendEvent(slider, &release);
    };
    std::vector<std::pair<int, int>> deck;
    QObject::connect(c.SliderB, &QAbstractSlider::valueChanged, &c,
                     [&](int value) { deck.emplace_back(value, c.MediaPlayerB->volume()); });
    holdKey(c.SliderB, Qt::Key_PageDown, 5);
    ASSERT_EQ(deck.size(), 6u);
    for (std::size_t i = 0; i < deck.size(); ++i) {
        EXPECT_EQ(deck[i].first, 30 + 10 * static_cast<int>(i));
        EXPECT_EQ(deck[i].second, -41 * deck[i].first);
    }

    std::vector<std::pair<int, std::uint32_t>> master;
    const std::uint32_t id = c.masterControl().dwControlID;
    QObject::connect(c.SliderMaster, &QAbstractSlider::valueChanged, &c,
                     [&](int value) { master.emplace_back(value, mixerValue(id)); });
    holdKey(c.SliderMaster, Qt::Key_Up, 3);
    ASSERT_EQ(master.size(), 4u);
    for (auto [value, level] : master)
        EXPECT_EQ(level, static_cast<std::uint32_t>(std::abs(650 * value - 65000))) << value;
    EXPECT_EQ(c.SliderMaster->value(), 12);
}

TEST_F(ConsoleTest, ResetVolumeWithNoLiveDeckOnlyReappliesTheSliders) {
    frmConsole& c = start();
    load('A', tone("a.wav", 3));
    load('B', tone("b.wav", 3));
    c.MediaPlayerA->play();
    c.CurrentPlayer(""); // as before any deck was live
    c.SliderA->setValue(40);
    c.SliderB->setValue(70);
    c.cmdResetVolume_Click();
    EXPECT_EQ(c.MediaPlayerA->playState(), MediaPlayer::Playing);
    EXPECT_EQ(c.SliderA->value(), 40);
    EXPECT_EQ(c.SliderB->value(), 70);
    EXPECT_EQ(c.MediaPlayerA->volume(), -41 * 40);
    EXPECT_EQ(c.MediaPlayerB->volume(), -41 * 70);
    EXPECT_EQ(c.MediaPlayerC->volume(), -820);
}

TEST_F(ConsoleTest, ResetVolumeHaltsAndLevelsTheDecksThatAreNotLive) {
    frmConsole& c = start();
    load('A', tone("a.wav", 3));
    load('B', tone("b.wav", 3));
    load('C', tone("c.wav", 3));
    c.MediaPlayerB->play();
    c.MediaPlayerC->play();
    c.MediaPlayerA->play();
    ASSERT_EQ(c.liveDeck(), "A");
    c.SliderA->setValue(5);
    c.SliderB->setValue(90);
    c.SliderC->setValue(100);
    c.cmdResetVolume_Click();
    EXPECT_EQ(c.MediaPlayerA->playState(), MediaPlayer::Playing);
    EXPECT_NE(c.MediaPlayerB->playState(), MediaPlayer::Playing);
    EXPECT_NE(c.MediaPlayerC->playState(), MediaPlayer::Playing);
    EXPECT_EQ(c.SliderA->value(), 5);
    EXPECT_EQ(c.SliderB->value(), 20);
    EXPECT_EQ(c.SliderC->value(), 20);
    EXPECT_EQ(c.MediaPlayerA->volume(), -205);
    EXPECT_EQ(c.MediaPlayerB->volume(), -820);
    EXPECT_EQ(c.MediaPlayerC->volume(), -820);
    EXPECT_EQ(c.liveDeck(), "A");
}

TEST_F(ConsoleTest, ADeckSliderMoveIsHeardAsItsDecibels) {
    frmConsole& c = start();
    load('A', tone("a.wav", 3));
    c.SliderA->setValue(0);
    c.SliderA_Scroll();
    c.MediaPlayerA->play();
    advance(0.2);
    const double loud = rmsDb(advance(0.5));
    c.SliderA->setValue(50);
    c.SliderA_Scroll();
    advance(0.1); // past the gain ramp
    const double quiet = rmsDb(advance(0.5));
    EXPECT_NEAR(loud - quiet, 20.5, 0.1);
}
