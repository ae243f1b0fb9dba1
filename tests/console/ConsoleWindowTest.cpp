// Start-up, the window definition, the menu and the handling of failures no handler traps.
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "ConsoleFixture.h"
#include "console/DigitalDisplay.h"

using Answer = MessageBoxes::Answer;

TEST_F(ConsoleTest, StartsWithEveryControlAtItsStartUpValue) {
    frmConsole& c = start();
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(c.windowTitle(), "Fadewell");
    EXPECT_EQ(c.chkSetVolume->checkState(), Qt::Checked);
    for (ScrollSlider* s : {c.SliderA, c.SliderB, c.SliderC, c.SliderMic, c.SliderLine, c.SliderMaster}) {
        EXPECT_EQ(s->value(), 20) << s->objectName().toStdString();
        EXPECT_EQ(s->minimum(), 0);
        EXPECT_EQ(s->maximum(), 100);
        EXPECT_EQ(s->pageStep(), 10);
        EXPECT_EQ(s->singleStep(), 2);
        EXPECT_EQ(s->orientation(), Qt::Vertical);
    }
    for (QLabel* l : {c.lblMediaA, c.lblMediaB, c.lblMediaC, c.lblDurationA, c.lblDurationB, c.lblDurationC,
                      c.lblRemainingA, c.lblRemainingB, c.lblRemainingC, c.lblPlayerFlag, c.lblRemainingBig,
                      c.lblRunningTime, c.lblTime, c.lblAutofadeMessage})
        EXPECT_TRUE(l->text().isEmpty()) << l->objectName().toStdString();
    EXPECT_EQ(c.txtAutoFade->text(), "4");
    EXPECT_EQ(c.liveDeck(), "");
    EXPECT_FALSE(c.fadeIsActive());
    for (int deck = 0; deck < 3; ++deck)
        EXPECT_FALSE(c.deckLoaded(deck));
    EXPECT_EQ(c.mixerOpenResultCode(), 0u);
    EXPECT_EQ(c.masterControl().lMaximum, 65535);
    EXPECT_NE(c.masterControl().dwControlID, 0u);
    EXPECT_NE(c.micControl().dwControlID, 0u);
    EXPECT_NE(c.lineControl().dwControlID, 0u);
    EXPECT_TRUE(c.mixerControlFound());
}

TEST_F(ConsoleTest, NoMixerDeviceSaysSoOnceAndLeavesAutoSetVolumeClear) {
    mixer = mixer::MemoryMixer(0);
    frmConsole& c = start();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].prompt, "Couldn't open the mixer.");
    EXPECT_EQ(boxes.shown[0].buttons, MessageBoxes::Buttons::Ok);
    EXPECT_EQ(boxes.shown[0].icon, MessageBoxes::Icon::None);
    EXPECT_TRUE(boxes.shown[0].title.isEmpty());
    EXPECT_EQ(c.chkSetVolume->checkState(), Qt::Unchecked);
    EXPECT_NE(c.mixerOpenResultCode(), 0u);
    EXPECT_FALSE(c.mixerControlFound());
    EXPECT_EQ(c.masterControl().cbStruct, 0u);
    // The mixer sliders stay usable; their writes fail without a message.
    c.SliderMaster->setValue(50);
    c.SliderMaster_Scroll();
    EXPECT_EQ(boxes.shown.size(), 1u);
}

TEST_F(ConsoleTest, CardWithoutMicrophoneIsNotReportedAndKeepsTheLineResult) {
    mixer = mixer::MemoryMixer();
    mixer.addVolumeLine(mixer::MIXERLINE_COMPONENTTYPE_DST_SPEAKERS);
    mixer.addVolumeLine(mixer::MIXERLINE_COMPONENTTYPE_SRC_LINE);
    frmConsole& c = start();
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(c.chkSetVolume->checkState(), Qt::Checked);
    EXPECT_EQ(c.micControl().dwControlID, 0u);
    EXPECT_TRUE(c.mixerControlFound()) << "only the line-in lookup's result remains";
}

TEST_F(ConsoleTest, CardWithoutLineInEndsWithControlNotFound) {
    mixer = mixer::MemoryMixer();
    mixer.addVolumeLine(mixer::MIXERLINE_COMPONENTTYPE_DST_SPEAKERS);
    mixer.addVolumeLine(mixer::MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE);
    frmConsole& c = start();
    EXPECT_FALSE(c.mixerControlFound());
    EXPECT_NE(c.micControl().dwControlID, 0u);
}

TEST_F(ConsoleTest, ExitAsksFirstAndNoChangesNothing) {
    frmConsole& c = start();
    loadTone('A');
    c.cmdAudoFadeA_Click();
    boxes.answers.push_back(Answer::No);
    c.mnuFileExit_Click();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].prompt, "are you sure you want to quit?");
    EXPECT_EQ(boxes.shown[0].title, "Quit?");
    EXPECT_EQ(boxes.shown[0].buttons, MessageBoxes::Buttons::YesNo);
    EXPECT_EQ(boxes.shown[0].icon, MessageBoxes::Icon::Question);
    EXPECT_EQ(endCalls, 0);
    EXPECT_TRUE(c.fadeIsActive());
    EXPECT_EQ(c.liveDeck(), "A");

    boxes.answers.push_back(Answer::Yes);
    c.mnuFileExit_Click();
    EXPECT_EQ(endCalls, 1);
}

TEST_F(ConsoleTest, ControlsStandWhereTheWindowDefinitionPutsThem) {
    frmConsole& c = start();
    c.show();
    QApplication::processEvents();
    // 15 twips to the pixel; the frame's controls are placed inside the frame.
    EXPECT_EQ(c.centralWidget()->size(), QSize(10305 / 15, 6060 / 15));
    EXPECT_EQ(c.Frame1->geometry(), QRect(3510 / 15, 210 / 15, 6585 / 15, 2505 / 15));
    EXPECT_EQ(c.MediaPlayerB->parentWidget(), c.Frame1);
    EXPECT_EQ(c.MediaPlayerB->geometry(), QRect(480 / 15, 1020 / 15, 3345 / 15, 675 / 15));
    EXPECT_EQ(c.cmdMediaC->geometry(), QRect(3360 / 15, 2040 / 15, 345 / 15, 315 / 15));
    EXPECT_EQ(c.lblMediaB->x(), 3960 / 15);
    EXPECT_EQ(c.lblRemainingC->geometry(), QRect(2640 / 15, 2040 / 15, 765 / 15, 285 / 15));
    EXPECT_EQ(c.SliderMaster->geometry(), QRect(3570 / 15, 3240 / 15, 630 / 15, 2325 / 15));
    EXPECT_EQ(c.cmdAudoFadeB->geometry(), QRect(930 / 15, 5520 / 15, 555 / 15, 285 / 15));
    EXPECT_EQ(c.lblRemainingBig->geometry(), QRect(5970 / 15, 3300 / 15, 1995 / 15, 735 / 15));
    EXPECT_EQ(c.txtAutoFade->geometry(), QRect(8490 / 15, 4470 / 15, 435 / 15, 315 / 15));
    EXPECT_EQ(c.lblRemainingBig->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    // The first connector runs from deck A's row to the top of its slider.
    EXPECT_EQ(c.Line[0]->geometry().left(), 570 / 15);
    EXPECT_EQ(c.Line[0]->geometry().top(), 900 / 15);
    EXPECT_EQ(c.Line[1]->geometry().bottom(), 2820 / 15);
}

TEST_F(ConsoleTest, CaptionsAndToolTipsAreTheProgramsOwnWords) {
    frmConsole& c = start();
    EXPECT_EQ(c.cmdMediaA->text(), "...");
    EXPECT_EQ(c.cmdMediaA->toolTip(), "Load audio file into player");
    EXPECT_EQ(c.cmdClearPlayerB->toolTip(), "Clear audio file from player");
    EXPECT_EQ(c.cmdAudoFadeC->text(), "auto");
    EXPECT_EQ(c.cmdAudoFadeC->toolTip(), "Autofade other players and start this one");
    EXPECT_EQ(c.cmdResetVolume->text(), "Reset Volume");
    EXPECT_EQ(c.cmdResetVolume->toolTip(), "Set inactive player volume to 80% and pause players");
    EXPECT_EQ(c.chkSetVolume->text(), "Auto Set Volume");
    EXPECT_EQ(c.Label14->text(), "Auto fade (seconds)");
    EXPECT_EQ(c.Frame1->title(), "Players");
    EXPECT_EQ(c.mnuFileExit->text(), "E&xit");
    EXPECT_EQ(c.mnuHelpAbout->text(), "&About");
    // Every control can be found by its name and read by an accessibility tool.
    for (const char* name : {"SliderA", "SliderMaster", "lblPlayerFlag", "lblRemainingBig", "cmdMediaB",
                             "cmdClearPlayerC", "MediaPlayerC", "txtAutoFade", "Line6", "Label15"}) {
        auto* w = c.findChild<QWidget*>(QLatin1String(name));
        ASSERT_NE(w, nullptr) << name;
        EXPECT_FALSE(w->accessibleName().isEmpty()) << name;
    }
    EXPECT_EQ(c.lblPlayerFlag->accessibleName(), "Live deck");
}

// The window opens with the focus on SliderA, so a stray Space or Enter presses no button; Tab then
// visits every control in the window definition's order, the three players among them, and comes
// round to SliderA again.
TEST_F(ConsoleTest, FocusStartsOnSliderAAndTabVisitsTheWindowDefinitionsOrder) {
    frmConsole& c = start();
    c.show();
    QApplication::setActiveWindow(&c);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&c));
    EXPECT_EQ(QApplication::focusWidget(), c.SliderA)
        << "focus on "
        << (QApplication::focusWidget() ? QApplication::focusWidget()->objectName().toStdString() : "");
    const std::vector<QWidget*> expected = {
        c.SliderB,         c.SliderC,         c.SliderMic,       c.SliderLine,     c.MediaPlayerA,
        c.MediaPlayerB,    c.MediaPlayerC,    c.cmdMediaC,       c.cmdMediaB,      c.cmdMediaA,
        c.cmdClearPlayerA, c.cmdClearPlayerB, c.cmdClearPlayerC, c.cmdAudoFadeA,   c.cmdAudoFadeB,
        c.cmdAudoFadeC,    c.chkSetVolume,    c.txtAutoFade,     c.cmdResetVolume, c.SliderMaster,
        c.SliderA};
    std::vector<std::string> seen;
    std::vector<std::string> names;
    for (QWidget* w : expected) {
        names.push_back(w->objectName().toStdString());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        seen.push_back(QApplication::focusWidget() ? QApplication::focusWidget()->objectName().toStdString()
                                                   : "");
    }
    EXPECT_EQ(seen, names);
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(dialog.opened, 0) << "Tab opened no dialog";
}

// A player with the focus answers Space: it plays the deck, and pauses it. The console's own keys
// still reach the console first: A starts deck A while deck B's player has the focus.
TEST_F(ConsoleTest, APlayerWithTheFocusPlaysAndPausesOnSpace) {
    frmConsole& c = start();
    loadTone('A');
    loadTone('B');
    c.show();
    QApplication::setActiveWindow(&c);
    c.MediaPlayerB->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), c.MediaPlayerB);
    QTest::keyClick(c.MediaPlayerB, Qt::Key_Space);
    EXPECT_EQ(c.MediaPlayerB->playState(), MediaPlayer::Playing);
    EXPECT_EQ(c.liveDeck(), "B");
    QTest::keyClick(c.MediaPlayerB, Qt::Key_Space);
    EXPECT_EQ(c.MediaPlayerB->playState(), MediaPlayer::Paused);
    QTest::keyClick(c.MediaPlayerB, Qt::Key_Space);
    EXPECT_EQ(c.MediaPlayerB->playState(), MediaPlayer::Playing);

    QTest::keyClick(c.MediaPlayerB, Qt::Key_A);
    EXPECT_EQ(c.MediaPlayerA->playState(), MediaPlayer::Playing);
    EXPECT_EQ(c.liveDeck(), "A");
    EXPECT_EQ(c.MediaPlayerB->playState(), MediaPlayer::Playing) << "the player took no A for itself";
    QTest::keyClick(c.MediaPlayerB, Qt::Key_3, Qt::KeypadModifier);
    EXPECT_EQ(c.liveDeck(), "A") << "keypad 3 on the empty deck C changes nothing";

    // Space on an empty deck's player does nothing and says nothing.
    c.MediaPlayerC->setFocus();
    QTest::keyClick(c.MediaPlayerC, Qt::Key_Space);
    EXPECT_EQ(c.MediaPlayerC->playState(), MediaPlayer::Stopped);
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(dialog.opened, 2) << "only the two loads opened the dialog";
}

// "Auto Set Volume" stands on the panel's dark grey, like the window behind it, not on the pale
// colour the style gives buttons.
TEST_F(ConsoleTest, AutoSetVolumeIsDrawnOnThePanelsDarkGrey) {
    frmConsole& c = start();
    c.show();
    QApplication::processEvents();
    const QImage window = c.grab().toImage();
    const QRect box(c.chkSetVolume->mapTo(&c, QPoint(0, 0)), c.chkSetVolume->size());
    const QColor panel(128, 128, 128);
    int onPanel = 0;
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x)
            onPanel += window.pixelColor(x, y) == panel ? 1 : 0;
    const int all = box.width() * box.height();
    EXPECT_GT(onPanel, all / 2) << onPanel << " of " << all << " pixels on the panel's grey";
    EXPECT_EQ(window.pixelColor(box.topRight()), panel);
    EXPECT_EQ(window.pixelColor(box.bottomRight()), panel);
    // The window's own background beside it is the same grey.
    EXPECT_EQ(window.pixelColor(box.right() + 2, box.center().y()), panel);
}

TEST_F(ConsoleTest, TimersRunFromStartUpAtTheirIntervals) {
    console = std::make_unique<frmConsole>(
        ConsolePlatform{*engine, mixer, dialog, boxes, clock, registry, shell, [this] { ++endCalls; }});
    for (auto [t, interval] : {std::pair{console->tmrFade, 10}, std::pair{console->tmrRemainingTime, 50},
                               std::pair{console->tmrClock, 1000}}) {
        EXPECT_TRUE(t->isActive()) << t->objectName().toStdString();
        EXPECT_EQ(t->interval(), interval);
        EXPECT_EQ(t->timerType(), Qt::PreciseTimer);
    }
}

// The fade timer sleeps until an "auto" starts a fade, runs it to its end from the event loop, and
// sleeps again, still enabled.
TEST_F(ConsoleTest, TheFadeTimerWakesForAFadeAndSleepsAfterIt) {
    frmConsole& c = start();
    for (ConsoleTimer* t : {c.tmrFade, c.tmrRemainingTime, c.tmrClock})
        t->start();
    loadTone('A');
    c.SliderB->setValue(0);
    c.SliderC->setValue(0);
    EXPECT_FALSE(c.tmrFade->isTicking()) << "no fade runs: a tick would wake the thread for nothing";
    c.cmdAudoFadeA_Click();
    EXPECT_TRUE(c.tmrFade->isTicking());
    QTRY_VERIFY_WITH_TIMEOUT(!c.fadeIsActive(), 5000);
    EXPECT_EQ(c.SliderB->value(), 100);
    EXPECT_EQ(c.SliderC->value(), 100);
    EXPECT_TRUE(c.tmrFade->isActive());
    EXPECT_FALSE(c.tmrFade->isTicking());
}

TEST_F(ConsoleTest, FailureNoHandlerTrapsIsReportedOnceAndTheConsoleGoesOn) {
    frmConsole& c = start();
    c.CurrentPlayer("A");
    c.txtAutoFade->setText("4");
    // A slider position past 799 makes the volume arithmetic overflow inside the Scroll handler.
    c.SliderA->setMaximum(1000);
    c.SliderA->setValue(900);
    for (int i = 0; i < 3; ++i)
        emit c.SliderA->Scroll();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_FALSE(boxes.shown[0].modal);
    EXPECT_NE(boxes.shown[0].prompt.indexOf("Overflow"), -1);
    EXPECT_EQ(c.liveDeck(), "A");
}

// The About window is modal, but the console's timers and players go on while it is open.
TEST_F(ConsoleTest, HelpAboutShowsTheBoxWhileTheFadeGoesOn) {
    frmConsole& c = start();
    loadTone('A');
    c.SliderB->setValue(0);
    c.SliderC->setValue(0);
    c.cmdAudoFadeA_Click();
    c.tmrFade->start();
    QString caption;
    QTimer::singleShot(300, [&] {
        auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        caption = box->windowTitle();
        box->findChild<QPushButton*>("cmdOK")->click();
    });
    c.mnuHelpAbout_Click();
    EXPECT_EQ(caption, "About Fadewell");
    EXPECT_GT(c.SliderB->value(), 5) << "fade ticks ran while the box was open";
}

TEST_F(ConsoleTest, TimeDisplaysShrinkTheirFaceRatherThanCutADigit) {
    frmConsole& c = start();
    auto* big = static_cast<DigitalDisplay*>(c.lblRemainingBig);
    big->setText("0:00.0");
    const double usual = big->fittedFont().pointSizeF();
    big->setText("32767:59.9");
    const QFont fitted = big->fittedFont();
    EXPECT_LT(fitted.pointSizeF(), usual);
    EXPECT_LE(QFontMetrics(fitted).horizontalAdvance(big->text()), big->contentsRect().width());
}

// The digits keep one size as the time runs: 9:59.9 and 10:00.0 are drawn alike, and so are the
// remaining and running displays side by side; only a track over 100 minutes is drawn smaller.
TEST_F(ConsoleTest, TimeDisplaysKeepOneSizeFromStartUpOn) {
    frmConsole& c = start();
    auto* remaining = static_cast<DigitalDisplay*>(c.lblRemainingBig);
    auto* running = static_cast<DigitalDisplay*>(c.lblRunningTime);
    auto* clock = static_cast<DigitalDisplay*>(c.lblTime);
    const auto sizeFor = [](DigitalDisplay* d, const char* text) {
        d->setText(QLatin1String(text));
        return d->fittedFont().pointSizeF();
    };
    for (DigitalDisplay* d : {remaining, running}) {
        const double standard = d->standardFont().pointSizeF();
        EXPECT_LE(standard, 27.75);
        for (const char* text : {"", "0:00.0", "9:59.9", "10:00.0", "59:59.9", "99:59.9"})
            EXPECT_EQ(sizeFor(d, text), standard) << d->objectName().toStdString() << " \"" << text << '"';
        d->setText("00:00.0");
        EXPECT_LE(QFontMetricsF(d->fittedFont()).horizontalAdvance(d->text()), d->contentsRect().width());
        EXPECT_LT(sizeFor(d, "123:04.2"), standard);
        EXPECT_LE(QFontMetricsF(d->fittedFont()).horizontalAdvance(d->text()), d->contentsRect().width());
    }
    EXPECT_EQ(remaining->standardFont().pointSizeF(), running->standardFont().pointSizeF());
    const double clockSize = clock->standardFont().pointSizeF();
    for (const char* text : {"1:05:09 am", "9:41:07 am", "10:00:00 pm", "12:59:59 pm"})
        EXPECT_EQ(sizeFor(clock, text), clockSize) << text;
}

// The time displays tick twenty times a second: a display whose text stays as it was is not drawn
// again, and a display measures its text again when its room or its face changes.
TEST_F(ConsoleTest, TimeDisplaysAreDrawnOnlyWhenTheirTextChangesAndFitAChangedRoom) {
    frmConsole& c = start();
    c.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&c));
    loadTone('A');
    c.CurrentPlayer("A");
    c.tmrRemainingTime_Timer();
    c.tmrClock_Timer();
    QCoreApplication::processEvents();
    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            paints += e->type() == QEvent::Paint;
            return false;
        }
    } counter;
    for (QLabel* l : {c.lblRemainingA, c.lblRemainingBig, c.lblRunningTime, c.lblTime})
        l->installEventFilter(&counter);
    for (int tick = 0; tick < 5; ++tick) {
        c.tmrRemainingTime_Timer();
        c.tmrClock_Timer();
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(counter.paints, 0) << "the deck is halted and the clock stands: nothing changed";
    c.lblRemainingA->setText("0:01.0");
    c.tmrRemainingTime_Timer();
    QCoreApplication::processEvents();
    EXPECT_GT(counter.paints, 0) << "a changed text is drawn";

    auto* big = static_cast<DigitalDisplay*>(c.lblRemainingBig);
    const double wide = big->fittedFont().pointSizeF();
    big->resize(big->width() / 2, big->height());
    EXPECT_LT(big->fittedFont().pointSizeF(), wide);
    EXPECT_LE(QFontMetricsF(big->fittedFont()).horizontalAdvance(big->text()), big->contentsRect().width());
    QFont smaller = big->font();
    smaller.setPointSizeF(8);
    big->setFont(smaller);
    EXPECT_LE(big->fittedFont().pointSizeF(), 8.0);
}

// A screen reader reads a changing label's text under its fixed name.
TEST_F(ConsoleTest, ChangingLabelsExposeTheirTextUnderAFixedName) {
    frmConsole& c = start();
    c.CurrentPlayer("B");
    c.lblRemainingA->setText("1:01.5");
    for (auto [label, text] : {std::pair{c.lblPlayerFlag, "B"}, std::pair{c.lblRemainingA, "1:01.5"}}) {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(label);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->text(QAccessible::Name), label->accessibleName());
        QAccessibleTextInterface* t = a->textInterface();
        ASSERT_NE(t, nullptr) << label->objectName().toStdString();
        EXPECT_EQ(t->text(0, t->characterCount()), QLatin1String(text));
    }
    EXPECT_EQ(QAccessible::queryAccessibleInterface(c.lblPlayerFlag)->text(QAccessible::Name), "Live deck");
}
