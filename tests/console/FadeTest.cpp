// The auto-fade: the click, the 10 ms tick and the check of the auto-fade text.
#include <QLineEdit>

#include "ConsoleFixture.h"
#include "support/CommaLocale.h"

namespace {

// Runs fade ticks until the fade ends; returns the number of ticks it took, or -1 past the limit.
int ticksToEnd(frmConsole& c, int limit = 1000) {
    for (int tick = 1; tick <= limit; ++tick) {
        c.tmrFade_Timer();
        if (!c.fadeIsActive())
            return tick;
    }
    return -1;
}

} // namespace

TEST_F(ConsoleTest, FadeSpeedFollowsTheAutoFadeText) {
    struct Row {
        const char* text;
        int ticks;
    };
    for (Row row : {Row{"1", 20}, Row{"2", 50}, Row{"3", 51}, Row{"4", 100}, Row{"5", 100}, Row{"6", 101},
                    Row{"9", 101}}) {
        frmConsole& c = start();
        loadTone('A');
        c.txtAutoFade->setText(QLatin1String(row.text));
        c.SliderB->setValue(0);
        c.SliderC->setValue(0);
        c.cmdAudoFadeA_Click();
        EXPECT_EQ(ticksToEnd(c), row.ticks) << "text " << row.text;
        EXPECT_EQ(c.SliderB->value(), 100);
        EXPECT_EQ(c.SliderC->value(), 100);
        EXPECT_EQ(c.MediaPlayerB->volume(), -4100);
    }
}

TEST_F(ConsoleTest, DefaultFadeMovesOnePositionATickAndNeverTheLiveSlider) {
    frmConsole& c = start();
    loadTone('A');
    c.SliderA->setValue(30);
    c.SliderB->setValue(0);
    c.SliderC->setValue(10);
    c.cmdAudoFadeA_Click();
    for (int tick = 1; tick <= 5; ++tick) {
        c.tmrFade_Timer();
        EXPECT_EQ(c.SliderB->value(), tick);
        EXPECT_EQ(c.SliderC->value(), 10 + tick);
        EXPECT_EQ(c.SliderA->value(), 30);
    }
    EXPECT_DOUBLE_EQ(c.deckFadeLevel(1), 4 + 1.25);
    EXPECT_EQ(c.MediaPlayerA->volume(), -41 * 30) << "the live deck's volume is re-applied from its slider";
}

TEST_F(ConsoleTest, TextTwoRaisesAnOddPositionByThreeFirst) {
    frmConsole& c = start();
    loadTone('A');
    c.txtAutoFade->setText("2");
    c.SliderB->setValue(1);
    c.SliderC->setValue(0);
    c.cmdAudoFadeA_Click();
    c.tmrFade_Timer();
    EXPECT_EQ(c.SliderB->value(), 4); // 3.5 rounds to the even 4
    EXPECT_EQ(c.SliderC->value(), 2); // 2.5 rounds to the even 2
    c.tmrFade_Timer();
    EXPECT_EQ(c.SliderB->value(), 6);
}

TEST_F(ConsoleTest, TextOneEndsOnTheTwentiethTickWithBothLevelsAtExactly100) {
    frmConsole& c = start();
    loadTone('A');
    c.txtAutoFade->setText("1");
    c.SliderB->setValue(0);
    c.SliderC->setValue(0);
    c.cmdAudoFadeA_Click();
    EXPECT_EQ(ticksToEnd(c), 20);
    EXPECT_DOUBLE_EQ(c.deckFadeLevel(1), 100.0);
    EXPECT_DOUBLE_EQ(c.deckFadeLevel(2), 100.0);
}

TEST_F(ConsoleTest, ADeckNearTheEndClampsWhileTheOtherFinishes) {
    frmConsole& c = start();
    loadTone('A');
    c.SliderB->setValue(95);
    c.SliderC->setValue(0);
    c.cmdAudoFadeA_Click();
    for (int tick = 1; tick <= 5; ++tick)
        c.tmrFade_Timer();
    EXPECT_EQ(c.SliderB->value(), 100);
    c.tmrFade_Timer();
    EXPECT_EQ(c.SliderB->value(), 100);
    EXPECT_EQ(ticksToEnd(c), 100 - 6);
}

TEST_F(ConsoleTest, BothOthersAtTheQuietEndEndTheFadeOnTheFirstTick) {
    frmConsole& c = start();
    loadTone('B');
    c.SliderA->setValue(100);
    c.SliderC->setValue(100);
    c.cmdAudoFadeB_Click();
    EXPECT_EQ(ticksToEnd(c), 1);
}

TEST_F(ConsoleTest, ASecondAutoClickTurnsTheFadeToTheDecksNowNotLive) {
    frmConsole& c = start();
    loadTone('A');
    loadTone('B');
    c.SliderA->setValue(0);
    c.SliderB->setValue(0);
    c.SliderC->setValue(0);
    c.cmdAudoFadeA_Click();
    for (int i = 0; i < 10; ++i)
        c.tmrFade_Timer();
    ASSERT_EQ(c.SliderB->value(), 10);
    c.cmdAudoFadeB_Click();
    EXPECT_EQ(c.liveDeck(), "B");
    c.tmrFade_Timer();
    EXPECT_EQ(c.SliderA->value(), 1);
    EXPECT_EQ(c.SliderB->value(), 10);
    EXPECT_EQ(c.SliderC->value(), 11);
    EXPECT_EQ(ticksToEnd(c), 99);
}

// An "auto" on a deck without a file would fade the sound on air into dead air: it changes nothing,
// and the message line, not a box, says why until the next fade or load.
TEST_F(ConsoleTest, AutoClickOnAnEmptyDeckChangesNothingAndSaysWhy) {
    frmConsole& c = start();
    load('A', tone("a.wav", 3));
    load('B', tone("b.wav", 3));
    c.SliderA->setValue(0);
    c.SliderA_Scroll();
    c.SliderB->setValue(40);
    c.MediaPlayerA->play();
    advance(0.2);
    const double before = rmsDb(advance(0.3));
    ASSERT_EQ(c.lblPlayerFlag->text(), "A");

    c.cmdAudoFadeC_Click();
    EXPECT_FALSE(c.fadeIsActive());
    EXPECT_EQ(c.liveDeck(), "A");
    EXPECT_EQ(c.lblPlayerFlag->text(), "A");
    EXPECT_EQ(c.lblAutofadeMessage->text(), "Deck C has no file loaded");
    EXPECT_TRUE(boxes.shown.empty());
    for (int i = 0; i < 120; ++i)
        c.tmrFade_Timer();
    EXPECT_EQ(c.SliderA->value(), 0);
    EXPECT_EQ(c.SliderB->value(), 40);
    EXPECT_EQ(c.SliderC->value(), 20);
    EXPECT_EQ(c.MediaPlayerA->volume(), 0);
    EXPECT_EQ(c.MediaPlayerA->playState(), MediaPlayer::Playing);
    advance(0.1);
    EXPECT_NEAR(rmsDb(advance(0.3)), before, 0.1) << "deck A sounds on as before";

    // During a fade the click leaves the fade as it was.
    c.cmdAudoFadeB_Click();
    EXPECT_TRUE(c.lblAutofadeMessage->text().isEmpty()) << "the next fade clears the notice";
    c.tmrFade_Timer();
    ASSERT_EQ(c.SliderA->value(), 1);
    c.cmdAudoFadeC_Click();
    EXPECT_EQ(c.liveDeck(), "B");
    c.tmrFade_Timer();
    EXPECT_EQ(c.SliderA->value(), 2);
    EXPECT_EQ(c.SliderC->value(), 22);
    EXPECT_EQ(c.lblAutofadeMessage->text(), "Deck C has no file loaded");

    // A load clears the notice; under a bad text the text's own warning comes back.
    c.txtAutoFade->setText("12");
    c.cmdAudoFadeC_Click();
    EXPECT_EQ(c.lblAutofadeMessage->text(), "Deck C has no file loaded");
    loadTone('C');
    EXPECT_EQ(c.lblAutofadeMessage->text(), "Valid auto fade values are 1 through 9");
    c.txtAutoFade->setText("4");
    EXPECT_TRUE(c.lblAutofadeMessage->text().isEmpty());
}

TEST_F(ConsoleTest, AutoFadeTextIsCheckedForOneThroughNine) {
    frmConsole& c = start();
    const QString warning = "Valid auto fade values are 1 through 9";
    for (const char* bad : {"", "0", "10", " 4", "4.5", "x", "12"}) {
        c.txtAutoFade->setText(QLatin1String(bad));
        EXPECT_EQ(c.lblAutofadeMessage->text(), warning) << '"' << bad << '"';
    }
    c.txtAutoFade->setText("7");
    EXPECT_TRUE(c.lblAutofadeMessage->text().isEmpty());
}

TEST_F(ConsoleTest, TextTwelveWarnsAndTheFadeDoesNotProgress) {
    frmConsole& c = start();
    loadTone('A');
    c.txtAutoFade->setText("12");
    c.SliderB->setValue(0);
    c.SliderC->setValue(0);
    c.cmdAudoFadeA_Click();
    for (int i = 0; i < 50; ++i)
        c.tmrFade_Timer();
    EXPECT_EQ(c.SliderB->value(), 0);
    EXPECT_TRUE(c.fadeIsActive());
}

TEST_F(ConsoleTest, TextWithoutAPositiveValueHoldsTheFadeUntilANumberIsTyped) {
    frmConsole& c = start();
    loadTone('A');
    c.SliderB->setValue(40);
    c.SliderC->setValue(0);
    c.cmdAudoFadeA_Click();
    for (const char* text : {"", "0", "abc", "-4"}) {
        c.txtAutoFade->setText(QLatin1String(text));
        for (int i = 0; i < 10; ++i)
            c.tmrFade_Timer();
        EXPECT_EQ(c.SliderB->value(), 40) << '"' << text << '"';
        EXPECT_EQ(c.SliderC->value(), 0);
        EXPECT_TRUE(c.fadeIsActive());
    }
    EXPECT_TRUE(boxes.shown.empty());
    c.txtAutoFade->setText("1");
    EXPECT_EQ(ticksToEnd(c), 20);
}

// Deck B rises to its slider's volume at once; deck A falls along the slider steps to -41 dB
// over the 100 ticks of a one-second fade, and nothing clicks.
TEST_F(ConsoleTest, AFadeFromAToBIsHeardAsItShouldBe) {
    frmConsole& c = start();
    load('A', tone("a.wav", 4, 440));
    load('B', tone("b.wav", 4, 660));
    c.SliderA->setValue(0);
    c.SliderA_Scroll();
    c.SliderB->setValue(0);
    c.MediaPlayerA->play();
    advance(0.2);
    const double aAlone = rmsDb(advance(0.2));

    c.cmdAudoFadeB_Click();
    std::vector<float> during;
    int ticks = 0;
    while (c.fadeIsActive() && ticks < 200) {
        c.tmrFade_Timer();
        auto block = advance(0.01);
        during.insert(during.end(), block.begin(), block.end());
        ++ticks;
    }
    EXPECT_EQ(ticks, 100);
    EXPECT_EQ(c.lblPlayerFlag->text(), "B");
    EXPECT_LT(maxSampleStep(during), 0.2) << "two tones at -6 dB change by less than this per sample";
    const auto after = advance(0.3);
    const double mix = rmsDb(after);
    EXPECT_NEAR(mix, aAlone, 0.2) << "B plays at full volume, A at -41 dB adds almost nothing";
    EXPECT_EQ(c.MediaPlayerA->volume(), -4100);
    EXPECT_EQ(c.MediaPlayerA->playState(), MediaPlayer::Playing);
}

// A desktop in a comma-decimal language still reads "1.5" as one and a half seconds: 5 / 1.5 moves
// a faded slider 3 positions a tick (read as 1, it would move 5).
TEST_F(ConsoleTest, FractionalFadeTextKeepsItsSpeedInACommaLanguage) {
    CommaLocale german;
    ASSERT_TRUE(CommaLocale::inForce());
    frmConsole& c = start();
    loadTone('A');
    c.txtAutoFade->setText("1.5");
    c.SliderB->setValue(0);
    c.SliderC->setValue(10);
    c.cmdAudoFadeA_Click();
    c.tmrFade_Timer();
    EXPECT_EQ(c.SliderB->value(), 3);
    EXPECT_EQ(c.SliderC->value(), 13);
    EXPECT_DOUBLE_EQ(c.deckFadeLevel(1), 5.0 / 1.5);
    // B climbs 3, 6, ... 99; the tick from 99 takes its level past 100 and ends the fade.
    EXPECT_EQ(ticksToEnd(c), 33);
}
