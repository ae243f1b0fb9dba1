// Loading and clearing decks, the live deck, the volume sliders and Reset Volume.
#include <QCheckBox>
#include <QFile>
#include <QTest>

#include "ConsoleFixture.h"

namespace {
int playerVolume(MediaPlayer* p) { return p->volume(); }
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

TEST_F(ConsoleTest, TitleDropsFourCharactersWhateverTheExtension) {
    frmConsole& c = start();
    load('A', tone("track.flac", 1));
    EXPECT_EQ(c.lblMediaA->text(), "track.");
    load('A', tone("abcd", 1));
    EXPECT_EQ(c.lblMediaA->text(), "");
    load('A', tone("song.wav", 1));
    load('A', tone("abc", 1));
    EXPECT_EQ(c.lblMediaA->text(), "song") << "a name shorter than four characters keeps the old title";
    EXPECT_EQ(c.MediaPlayerA->fileName(), dirPath() + "/abc");
}

TEST_F(ConsoleTest, AutoSetVolumeMovesTheSliderWithoutReapplyingIt) {
    frmConsole& c = start();
    c.SliderB->setValue(60);
    load('B', tone("b.wav", 1));
    EXPECT_EQ(c.SliderB->value(), 20);
    EXPECT_EQ(playerVolume(c.MediaPlayerB), -41 * 60);
    c.SliderB_Scroll();
    EXPECT_EQ(playerVolume(c.MediaPlayerB), -820);

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
    for (auto [position, volume, level] : {std::tuple{0, 0, 65000u}, std::tuple{1, -41, 64350u},
                                           std::tuple{20, -820, 52000u}, std::tuple{50, -2050, 32500u},
                                           std::tuple{100, -4100, 0u}}) {
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
