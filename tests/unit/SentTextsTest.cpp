#include <gtest/gtest.h>

#include <string>

#include "core/SentTexts.h"

namespace {

TEST(SentTexts, ATextCountsAsSentOnlyWhileAtLeastOneLoanLasts) {
    SentTexts texts;
    const std::string line = "a log line";
    EXPECT_FALSE(texts.contains(line.c_str()));
    {
        const SentTexts::Loan first(texts, line.c_str());
        {
            // The initialisation thread and the GUI thread may lend one
            // static text at once.
            const SentTexts::Loan second(texts, line.c_str());
            EXPECT_TRUE(texts.contains(line.c_str()));
        }
        EXPECT_TRUE(texts.contains(line.c_str()));
        EXPECT_FALSE(texts.contains(line.c_str() + 1));
    }
    EXPECT_FALSE(texts.contains(line.c_str()));
    EXPECT_FALSE(texts.contains(nullptr));
}

}  // namespace
