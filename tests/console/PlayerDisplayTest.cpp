// The player's own display: the transport row and the position bar, their two switches, and what
// a click on them does.
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

#include "audio/engine/AudioEngine.h"
#include "console/MediaPlayer.h"
#include "support/AudioFixtures.h"

using namespace fixtures;

namespace {

constexpr int kRate = 48000;
constexpr int kBlock = 256;

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

class PlayerDisplayTest : public ::testing::Test {
protected:
    TempDir dir;
    std::unique_ptr<AudioEngine> engine = AudioEngine::createOffline(kRate, kBlock);
    MediaPlayer player{*engine};

    void SetUp() override {
        player.resize(223, 45); // a deck's place: 3345 x 675 twips
        player.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&player));
    }
    QWidget* child(const char* name) { return player.findChild<QWidget*>(name); }
};

TEST_F(PlayerDisplayTest, SwitchesHideTheTransportRowAndThePositionBar) {
    ASSERT_NE(child("transport"), nullptr);
    ASSERT_NE(child("positionBar"), nullptr);
    EXPECT_TRUE(player.transportVisible());
    EXPECT_TRUE(player.positionBarVisible());
    EXPECT_TRUE(child("transport")->isVisible());
    player.setTransportVisible(false);
    EXPECT_FALSE(player.transportVisible());
    EXPECT_FALSE(child("transport")->isVisible());
    EXPECT_TRUE(child("positionBar")->isVisible());
    player.setPositionBarVisible(false);
    EXPECT_FALSE(child("positionBar")->isVisible());
    player.setTransportVisible(true);
    EXPECT_TRUE(child("transport")->isVisible());
}

TEST_F(PlayerDisplayTest, ButtonsPlayPauseAndStop) {
    auto* play = player.findChild<QToolButton*>("playButton");
    auto* pause = player.findChild<QToolButton*>("pauseButton");
    auto* stop = player.findChild<QToolButton*>("stopButton");
    EXPECT_FALSE(play->isEnabled()); // nothing to play yet
    player.setFileName(q(writeTone(dir.file("t.wav"), 2.0, 440.0, kRate)));
    QTest::mouseClick(play, Qt::LeftButton);
    EXPECT_EQ(player.playState(), MediaPlayer::Playing);
    engine->render(kRate / 2);
    QTest::mouseClick(pause, Qt::LeftButton);
    EXPECT_EQ(player.playState(), MediaPlayer::Paused);
    EXPECT_GT(player.currentPosition(), 0.4);
    QTest::mouseClick(stop, Qt::LeftButton);
    EXPECT_EQ(player.playState(), MediaPlayer::Stopped);
    EXPECT_EQ(player.currentPosition(), 0.0);
}

TEST_F(PlayerDisplayTest, ClickAndDragOnThePositionBarSeek) {
    player.setFileName(q(writeTone(dir.file("t.wav"), 10.0, 440.0, kRate)));
    QWidget* bar = child("positionBar");
    const int y = bar->height() / 2;
    QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint((bar->width() - 1) / 2, y));
    EXPECT_NEAR(player.currentPosition(), 5.0, 10.0 / bar->width());
    QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(0, y));
    QMouseEvent move(QEvent::MouseMove, QPointF((bar->width() - 1) / 4.0, y), bar->mapToGlobal(QPointF(0, y)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(bar, &move);
    QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint((bar->width() - 1) / 4, y));
    EXPECT_NEAR(player.currentPosition(), 2.5, 10.0 / bar->width());
    EXPECT_EQ(player.playState(), MediaPlayer::Stopped); // a seek does not start it
}

} // namespace
