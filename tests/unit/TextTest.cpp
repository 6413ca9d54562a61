#include <gtest/gtest.h>

#include "core/Text.h"

namespace {

using Tokens = std::vector<std::string>;

TEST(SplitTokens, RunsOfDelimitersSeparateOnceAndNeverYieldEmptyPieces) {
    EXPECT_EQ(splitTokens("I600\r\nS01\r\n\r\nB1", "\r\n"), (Tokens{"I600", "S01", "B1"}));
    EXPECT_EQ(splitTokens(",,a,,b,", ","), (Tokens{"a", "b"}));
    EXPECT_EQ(splitTokens("host", ","), (Tokens{"host"}));
    EXPECT_TRUE(splitTokens("", ",").empty());
    EXPECT_TRUE(splitTokens(",,,", ",").empty());
}

// As atoi reads them, but saturating instead of overflowing.
TEST(ReadInteger, TakesLeadingDigitsAndSaturates) {
    const std::pair<const char*, int32_t> cases[] = {
        {"80abc", 80},
        {"abc", 0},
        {"", 0},
        {"\t\n\v\f\r 12", 12},
        {"-5", -5},
        {"+7x", 7},
        {"- 7", 0},
        {"2147483647", 2147483647},
        {"2147483648", 2147483647},
        {"99999999999999999999999", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"-99999999999999999999999", -2147483647 - 1},
    };
    for (const auto& [text, value] : cases) {
        EXPECT_EQ(readInteger(text), value) << text;
    }
}

TEST(DecimalText, NoLeadingZerosAndAMinusSignButTwoDigitsPadBelowTen) {
    EXPECT_EQ(decimalText(0), "0");
    EXPECT_EQ(decimalText(-5), "-5");
    EXPECT_EQ(decimalText(1532), "1532");
    EXPECT_EQ(twoDigitText(0), "00");
    EXPECT_EQ(twoDigitText(7), "07");
    EXPECT_EQ(twoDigitText(12), "12");
}

}  // namespace
