// The auto-fade's curve without the window: what one tick moves, and on which tick the fade ends.
#include <gtest/gtest.h>

#include "console/AutoFade.h"

TEST(AutoFadeTest, ATickMovesTheDecksNotLiveRoundedHalfToEvenAndClampedAndEndsAtTheQuietEnd) {
    using P = AutoFade::Positions;
    constexpr std::optional<std::size_t> kNoLiveDeck;
    struct Row {
        P from;
        std::optional<std::size_t> live;
        const char* text;
        P to;
        bool ended;
    };
    const Row rows[] = {
        {{30, 0, 10}, 0, "4", {30, 1, 11}, false},            // 1.25 a tick: the fraction is lost
        {{1, 0, 3}, 2, "2", {4, 2, 3}, false},                // 3.5 and 2.5 go to the even 4 and 2
        {{0, 1, 50}, 2, "10", {0, 2, 50}, false},             // 0.5 and 1.5 to 0 and 2
        {{0, 10, 7}, 2, "1.5", {3, 13, 7}, false},            // 3.33 a tick
        {{90, 0, 97}, 1, "0.8", {96, 0, 100}, false},         // 103.25 clamps; A is not there yet
        {{98, 99, 5}, 2, "3", {100, 100, 5}, false},          // A shows 100 from 99.67: not there yet
        {{95, 100, 0}, 2, "1", {100, 100, 0}, true},          // a level of exactly 100 is there
        {{100, 100, 0}, 2, "4", {100, 100, 0}, true},         // the live deck stays at the loud end
        {{100, 50, 100}, 0, "4", {100, 51, 100}, false},      // a live deck at the quiet end counts not
        {{0, 40, 0}, 0, "1e-320", {0, 100, 100}, true},       // an infinite step lands on the quiet end
        {{0, 98, 99}, kNoLiveDeck, "4", {1, 99, 100}, false}, // 99.25 stays short of the end
        {{100, 100, 100}, kNoLiveDeck, "4", {100, 100, 100}, false}, // with no live deck nothing ends
    };
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const Row& r = rows[i];
        const auto tick = AutoFade::tick(r.from, r.live, QString::fromLatin1(r.text));
        ASSERT_TRUE(tick.has_value()) << "row " << i;
        EXPECT_EQ(tick->positions, r.to) << "row " << i;
        EXPECT_EQ(tick->ended, r.ended) << "row " << i;
    }
}

TEST(AutoFadeTest, ATextWithNoPositiveValueHoldsEverything) {
    for (const char* text : {"", "0", "-4", "abc", " ", "0.0"})
        EXPECT_FALSE(AutoFade::tick({0, 40, 100}, 0, QString::fromLatin1(text)).has_value())
            << '"' << text << '"';
}
