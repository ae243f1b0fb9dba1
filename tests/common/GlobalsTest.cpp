#include <gtest/gtest.h>

#include "common/Errors.h"
#include "common/Globals.h"

using Globals::FormatTime;
using Globals::PlayerVolumeFromSlider;
using Globals::StripPath;

struct TimeCase {
    double seconds;
    const char* text;
};

class FormatTimeTable : public ::testing::TestWithParam<TimeCase> {};

TEST_P(FormatTimeTable, TruncatesEveryFieldOfTheNarrowedValue) {
    const auto& c = GetParam();
    EXPECT_EQ(FormatTime(static_cast<float>(c.seconds)).toStdString(), c.text) << "seconds " << c.seconds;
}

INSTANTIATE_TEST_SUITE_P(Rows, FormatTimeTable,
                         ::testing::Values(TimeCase{0, "0:00.0"}, TimeCase{0.6, "0:00.6"}, TimeCase{0.7, "0:00.7"},
                                           TimeCase{5.25, "0:05.2"}, TimeCase{59.5, "0:59.5"},
                                           TimeCase{59.96, "0:59.9"}, TimeCase{60, "1:00.0"},
                                           TimeCase{61.5, "1:01.5"}, TimeCase{600, "10:00.0"},
                                           TimeCase{3599.9, "59:59.8"}, TimeCase{3600, "60:00.0"},
                                           TimeCase{7384.2, "123:04.2"}, TimeCase{9.99, "0:09.9"},
                                           TimeCase{119.95, "1:59.9"}),
                         [](const auto& info) { return "row" + std::to_string(info.index); });

TEST(FormatTime, SecondsFieldNeverReadsSixty) {
    for (int hundredths = 0; hundredths < 100 * 3600; hundredths += 7) {
        const QString text = FormatTime(static_cast<float>(hundredths / 100.0));
        const QString seconds = text.section(u':', 1).left(2);
        ASSERT_LT(seconds.toInt(), 60) << text.toStdString();
    }
}

TEST(FormatTime, RaisesOnValuesItCannotShow) {
    EXPECT_THROW(FormatTime(std::numeric_limits<float>::quiet_NaN()), FloatingPointError);
    EXPECT_THROW(FormatTime(std::numeric_limits<float>::infinity()), FloatingPointError);
    EXPECT_THROW(FormatTime(1966080.0f), OverflowError);
    EXPECT_EQ(FormatTime(1966079.0f), "32767:59.0");
}

TEST(StripPath, KeepsTheTextAfterTheLastSeparator) {
    const QChar backslash = u'\\';
    EXPECT_EQ(StripPath(R"(C:\Music\Set 1\track.wav)", backslash), "track.wav");
    EXPECT_EQ(StripPath("track.wav", backslash), "track.wav");
    EXPECT_EQ(StripPath(R"(C:\Music\)", backslash), "");
    EXPECT_EQ(StripPath("", backslash), "");
    EXPECT_EQ(StripPath("C:/Music/track.wav", backslash), "C:/Music/track.wav");
    EXPECT_EQ(StripPath(R"(a\\b)", backslash), "b");
}

TEST(StripPath, SplitsAtTheSlashOnThisPlatform) {
    EXPECT_EQ(StripPath("/home/op/Music/Set 1/track.wav"), "track.wav");
    EXPECT_EQ(StripPath("/home/op/Music/"), "");
    EXPECT_EQ(StripPath(R"(C:\Music\track.wav)"), R"(C:\Music\track.wav)");
    EXPECT_EQ(StripPath("a//b"), "b");
}

TEST(StripPath, RaisesWhenTheConsumedCountPassesSixteenBits) {
    const QString longDir = QString(20000, u'x');
    EXPECT_EQ(StripPath("/" + longDir + "/song.wav"), "song.wav");
    EXPECT_THROW(StripPath("/" + longDir + "/" + longDir + "/song.wav"), OverflowError);
    EXPECT_THROW(StripPath(QString(40000, u'x') + "/song.wav"), OverflowError);
}

TEST(PlayerVolumeFromSlider, MapsPositionsOntoMinus41PerStep) {
    EXPECT_EQ(PlayerVolumeFromSlider(0), 0);
    EXPECT_EQ(PlayerVolumeFromSlider(1), -41);
    EXPECT_EQ(PlayerVolumeFromSlider(20), -820);
    EXPECT_EQ(PlayerVolumeFromSlider(50), -2050);
    EXPECT_EQ(PlayerVolumeFromSlider(100), -4100);
    EXPECT_EQ(PlayerVolumeFromSlider(799), -32759);
    EXPECT_EQ(PlayerVolumeFromSlider(-799), 32759);
    EXPECT_THROW(PlayerVolumeFromSlider(800), OverflowError);
    EXPECT_THROW(PlayerVolumeFromSlider(-800), OverflowError);
}
