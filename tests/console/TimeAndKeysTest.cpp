// The time displays, the clock and the keyboard.
#include <QKeyEvent>
#include <QLineEdit>
#include <QTest>

#include "ConsoleFixture.h"
#include "console/KeyCodes.h"

TEST_F(ConsoleTest, RemainingTimeOfAHaltedDeckEqualsItsLength) {
    frmConsole& c = start();
    load('A', tone("a.wav", 61.5));
    c.tmrRemainingTime_Timer();
    EXPECT_EQ(c.lblRemainingA->text(), "1:01.5");
    EXPECT_EQ(c.lblRemainingA->text(), c.lblDurationA->text());
}

TEST_F(ConsoleTest, BeforeAnyDeckIsLiveTheRunningDisplayReadsZero) {
    frmConsole& c = start();
    c.lblRemainingB->setText("keep");
    c.tmrRemainingTime_Timer();
    EXPECT_EQ(c.lblRunningTime->text(), "0:00.0");
    EXPECT_TRUE(c.lblRemainingBig->text().isEmpty());
    EXPECT_EQ(c.lblRemainingB->text(), "keep") << "a deck that is not loaded keeps its label";
}

TEST_F(ConsoleTest, LargeDisplaysFollowTheLiveDeck) {
    frmConsole& c = start();
    load('A', tone("a.wav", 10));
    load('B', tone("b.wav", 20));
    c.MediaPlayerA->play();
    advance(2.0);
    c.tmrRemainingTime_Timer();
    EXPECT_EQ(c.lblRemainingBig->text(), c.lblRemainingA->text());
    EXPECT_EQ(c.lblRemainingA->text(), "0:08.0");
    EXPECT_EQ(c.lblRunningTime->text(), "0:02.0");

    c.MediaPlayerB->play();
    c.tmrRemainingTime_Timer();
    EXPECT_EQ(c.lblRemainingBig->text(), "0:20.0");
    EXPECT_EQ(c.lblRunningTime->text(), "0:00.0");

    // Clearing the live deck while no other deck plays leaves the mark on it; its emptied label is
    // what the large display copies from then on.
    c.MediaPlayerA->halt();
    advance(0.5);
    c.cmdClearPlayerB_Click();
    ASSERT_EQ(c.liveDeck(), "B");
    c.tmrRemainingTime_Timer();
    EXPECT_TRUE(c.lblRemainingBig->text().isEmpty());
}

TEST_F(ConsoleTest, ClockShowsTheTwelveHourTime) {
    frmConsole& c = start();
    for (auto [time, text] :
         {std::pair{QTime(0, 30, 0), "12:30:00 am"}, std::pair{QTime(12, 0, 0), "12:00:00 pm"},
          std::pair{QTime(13, 5, 9), "1:05:09 pm"}, std::pair{QTime(23, 59, 59), "11:59:59 pm"}}) {
        clock.now = time;
        c.tmrClock_Timer();
        EXPECT_EQ(c.lblTime->text(), QLatin1String(text));
    }
}

TEST(KeyCodes, MapQtKeysToThePlatformCodes) {
    auto code = [](int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        return platformKeyCode(QKeyEvent(QEvent::KeyPress, key, mods));
    };
    EXPECT_EQ(code(Qt::Key_A), 65);
    EXPECT_EQ(code(Qt::Key_A, Qt::ShiftModifier), 65);
    EXPECT_EQ(code(Qt::Key_C), 67);
    EXPECT_EQ(code(Qt::Key_1, Qt::KeypadModifier), 97);
    EXPECT_EQ(code(Qt::Key_3, Qt::KeypadModifier), 99);
    EXPECT_EQ(code(Qt::Key_1), 49);
    EXPECT_EQ(code(Qt::Key_F1), 112);
    EXPECT_EQ(code(Qt::Key_Left), 37);
    EXPECT_EQ(code(Qt::Key_End, Qt::KeypadModifier), 35) << "keypad 1 without Num Lock";
}

TEST_F(ConsoleTest, DeckKeysStartALoadedDeckAndMakeItLive) {
    frmConsole& c = start();
    load('A', tone("a.wav", 3));
    load('B', tone("b.wav", 3));
    c.MediaPlayerB->play();
    c.SliderB->setValue(35);
    c.SliderB_Scroll();
    c.Form_KeyDown('A', 0);
    EXPECT_EQ(c.MediaPlayerA->playState(), MediaPlayer::Playing);
    EXPECT_EQ(c.liveDeck(), "A");
    EXPECT_EQ(c.lblPlayerFlag->text(), "A");
    EXPECT_EQ(c.MediaPlayerB->playState(), MediaPlayer::Playing) << "a key fades nothing";
    EXPECT_EQ(c.MediaPlayerB->volume(), -41 * 35);
    EXPECT_FALSE(c.fadeIsActive());
}

TEST_F(ConsoleTest, KeysOnAnEmptyDeckAndOtherKeysDoNothing) {
    frmConsole& c = start();
    load('B', tone("b.wav", 3));
    c.MediaPlayerB->play();
    for (int key : {int('A'), int('C'), int('D'), int('1'), 112, 37, 0})
        c.Form_KeyDown(key, 0);
    EXPECT_EQ(c.liveDeck(), "B");
    EXPECT_NE(c.MediaPlayerA->playState(), MediaPlayer::Playing);
}

TEST_F(ConsoleTest, KeyDuringAFadeTurnsTheFadeWithoutMovingTheNewLiveSlider) {
    frmConsole& c = start();
    loadTone('A');
    load('B', tone("b.wav", 3));
    c.SliderA->setValue(0);
    c.SliderB->setValue(0);
    c.SliderC->setValue(0);
    c.cmdAudoFadeA_Click();
    c.tmrFade_Timer();
    c.Form_KeyDown('B', 0);
    c.tmrFade_Timer();
    EXPECT_EQ(c.liveDeck(), "B");
    EXPECT_EQ(c.SliderB->value(), 1);
    EXPECT_EQ(c.SliderA->value(), 1);
    EXPECT_EQ(c.SliderC->value(), 2);
}

// The window previews every key: the keypad's 1 typed into the auto-fade box starts deck A, and
// the digit still lands in the box.
TEST_F(ConsoleTest, KeypadKeysReachTheWindowWhileTheTextBoxHasTheFocus) {
    frmConsole& c = start();
    load('A', tone("a.wav", 3));
    c.show();
    QApplication::setActiveWindow(&c);
    c.txtAutoFade->setFocus();
    c.txtAutoFade->clear();
    QTest::keyClick(c.txtAutoFade, Qt::Key_1, Qt::KeypadModifier, 0);
    EXPECT_EQ(c.txtAutoFade->text(), "1");
    EXPECT_EQ(c.MediaPlayerA->playState(), MediaPlayer::Playing);
    EXPECT_EQ(c.liveDeck(), "A");

    // Shift+C on an empty deck C changes nothing; the letter still goes to the box.
    QTest::keyClick(c.txtAutoFade, Qt::Key_C, Qt::ShiftModifier);
    EXPECT_EQ(c.txtAutoFade->text().toUpper(), "1C");
    EXPECT_EQ(c.liveDeck(), "A");
}
