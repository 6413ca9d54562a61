#include <gtest/gtest.h>

#include "core/Text.h"

namespace {

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

}  // namespace
