#include <gtest/gtest.h>

#include "common/Numeric.h"
#include "support/CommaLocale.h"

using namespace Numeric;

TEST(CheckedArithmetic, RaisesInsteadOfWrapping) {
    EXPECT_EQ(checkedAdd<std::int16_t>(32766, 1), 32767);
    EXPECT_THROW(checkedAdd<std::int16_t>(32767, 1), OverflowError);
    EXPECT_THROW(checkedSub<std::int16_t>(-32768, 1), OverflowError);
    EXPECT_THROW(checkedMul<std::int32_t>(65536, 32768), OverflowError);
    EXPECT_EQ(checkedMul<std::int32_t>(-650, 100), -65000);
    EXPECT_THROW(checkedNarrow<std::int16_t>(40000), OverflowError);
}

TEST(RoundHalfEven, SendsHalvesToTheEvenNeighbour) {
    EXPECT_EQ(roundHalfEven(2.5), 2);
    EXPECT_EQ(roundHalfEven(3.5), 4);
    EXPECT_EQ(roundHalfEven(-2.5), -2);
    EXPECT_EQ(roundHalfEven(-3.5), -4);
    EXPECT_EQ(roundHalfEven(2.5000001), 3);
    EXPECT_EQ(roundHalfEven(1.25 + 0), 1);
    EXPECT_EQ(roundHalfEven(101.25), 101);
    EXPECT_THROW(roundHalfEven(std::nan("")), FloatingPointError);
    EXPECT_THROW(roundHalfEven(1e300), OverflowError);
}

TEST(NumericValue, ReadsTheNumberAtTheStartOfTheText) {
    EXPECT_EQ(numericValue("4"), 4.0);
    EXPECT_EQ(numericValue(" 4"), 4.0);
    EXPECT_EQ(numericValue("4.5"), 4.5);
    EXPECT_EQ(numericValue("12abc"), 12.0);
    EXPECT_EQ(numericValue("-4"), -4.0);
    EXPECT_EQ(numericValue("1e1"), 10.0);
    EXPECT_EQ(numericValue("&H10"), 16.0);
    EXPECT_EQ(numericValue("&O10"), 8.0);
    EXPECT_EQ(numericValue(""), 0.0);
    EXPECT_EQ(numericValue("abc"), 0.0);
    EXPECT_EQ(numericValue("."), 0.0);
    EXPECT_EQ(numericValue("-"), 0.0);
    EXPECT_EQ(numericValue("1e999"), 0.0);
}

// A desktop in a comma-decimal language must not turn "1.5" into 1: the point is the decimal mark of
// the text whatever the language.
TEST(NumericValue, ReadsAPointAsTheDecimalMarkInACommaLanguage) {
    CommaLocale german;
    ASSERT_TRUE(CommaLocale::inForce()) << "the test could not put the program under " << CommaLocale::kName;
    EXPECT_EQ(numericValue("1.5"), 1.5);
    EXPECT_EQ(numericValue(" 2.25 s"), 2.25);
    EXPECT_EQ(numericValue("-0.5"), -0.5);
    EXPECT_EQ(numericValue("+.5"), 0.5);
    EXPECT_EQ(numericValue("1.5e1"), 15.0);
    EXPECT_EQ(numericValue("1,5"), 1.0) << "the comma ends the number";
    EXPECT_EQ(numericValue("1e999"), 0.0);
    EXPECT_EQ(numericValue("1e-999"), 0.0);
}

TEST(ClockText, UsesTheTwelveHourClockWithLowerCaseSuffix) {
    EXPECT_EQ(clockText(QTime(9, 41, 7)), "9:41:07 am");
    EXPECT_EQ(clockText(QTime(13, 5, 9)), "1:05:09 pm");
    EXPECT_EQ(clockText(QTime(0, 30, 0)), "12:30:00 am");
    EXPECT_EQ(clockText(QTime(12, 0, 0)), "12:00:00 pm");
    EXPECT_EQ(clockText(QTime(23, 59, 59)), "11:59:59 pm");
    EXPECT_EQ(clockText(QTime(0, 0, 0)), "12:00:00 am");
}
