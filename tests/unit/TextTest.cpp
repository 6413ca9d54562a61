#include <gtest/gtest.h>

#include "core/Text.h"

namespace {

using Tokens = std::vector<std::string>;

TEST(SplitTokens, RunsOfDelimitersSeparateOnceAndNeverYieldEmptyPieces) {
    EXPECT_EQ(splitTokens("I600\r\nS01\r\n\r\nB1", "\r\n"), (Tokens{"I600", "S01", "B1"}));
    EXPECT_EQ(splitTokens(",,a,,b,", ","), (Tokens{"a", "b"}));
    EXPECT_EQ(splitTokens("\n\rI1\r", "\r\n"), (Tokens{"I1"}));
}

TEST(SplitTokens, NothingButDelimitersOrNothingAtAllGivesNoPieces) {
    EXPECT_TRUE(splitTokens("", ",").empty());
    EXPECT_TRUE(splitTokens(",,,", ",").empty());
}

TEST(SplitTokens, TextWithoutDelimitersIsOnePiece) {
    EXPECT_EQ(splitTokens("host", ","), (Tokens{"host"}));
}

TEST(ReadInteger, TakesLeadingDigitsAndIgnoresTheRest) {
    EXPECT_EQ(readInteger("80abc"), 80);
    EXPECT_EQ(readInteger("abc"), 0);
    EXPECT_EQ(readInteger(""), 0);
    EXPECT_EQ(readInteger(" 3"), 3);
    EXPECT_EQ(readInteger("\t\n\v\f\r 12"), 12);
    EXPECT_EQ(readInteger("-5"), -5);
    EXPECT_EQ(readInteger("+7x"), 7);
    EXPECT_EQ(readInteger("- 7"), 0);
    EXPECT_EQ(readInteger("600000"), 600000);
}

TEST(ReadInteger, SaturatesInsteadOfOverflowing) {
    EXPECT_EQ(readInteger("2147483647"), 2147483647);
    EXPECT_EQ(readInteger("2147483648"), 2147483647);
    EXPECT_EQ(readInteger("99999999999999999999999"), 2147483647);
    EXPECT_EQ(readInteger("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(readInteger("-99999999999999999999999"), -2147483647 - 1);
}

TEST(DecimalText, NoLeadingZerosAndAMinusSign) {
    EXPECT_EQ(decimalText(0), "0");
    EXPECT_EQ(decimalText(-5), "-5");
    EXPECT_EQ(decimalText(1532), "1532");
}

TEST(TwoDigitText, PadsBelowTen) {
    EXPECT_EQ(twoDigitText(0), "00");
    EXPECT_EQ(twoDigitText(7), "07");
    EXPECT_EQ(twoDigitText(12), "12");
}

}  // namespace
