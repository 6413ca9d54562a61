#include <gtest/gtest.h>

#include "resources/resource.h"
#include "ui/LogText.h"
#include "ui/WindowCommand.h"

namespace {

TEST(WindowCommandRouting, EachCommandIsReadFromItsOwnField) {
    EXPECT_EQ(classifyWindowCommand(ID_LOG_LINE, 0x1234), WindowCommand::LogLine);
    EXPECT_EQ(classifyWindowCommand(ID_SHOW_LOGGER, 0x1234), WindowCommand::ShowLogger);
    EXPECT_EQ(classifyWindowCommand(0, ID_STATUS_CHANGED), WindowCommand::StatusChanged);
    EXPECT_EQ(classifyWindowCommand(ID_OPEN_PORTAL, 0), WindowCommand::OpenPortal);
    EXPECT_EQ(classifyWindowCommand(0x5000, ID_FATAL_ERROR), WindowCommand::FatalError);
    EXPECT_EQ(classifyWindowCommand(ID_EXIT, 0), WindowCommand::Exit);
    EXPECT_EQ(classifyWindowCommand(ID_ABOUT, 0), WindowCommand::About);
}

TEST(WindowCommandRouting, ACodeInTheWrongFieldDoesNothing) {
    EXPECT_EQ(classifyWindowCommand(ID_STATUS_CHANGED, 0), WindowCommand::Ignore);
    EXPECT_EQ(classifyWindowCommand(ID_FATAL_ERROR, 0), WindowCommand::Ignore);
    EXPECT_EQ(classifyWindowCommand(0, ID_LOG_LINE), WindowCommand::Ignore);
}

TEST(WindowCommandRouting, AFatalErrorTextWhoseAddressEndsInACommandCodeIsStillAFatalError) {
    // wParam is the address of the message text; its low word is arbitrary.
    for (const uintptr_t lowWord : {ID_LOG_LINE, ID_SHOW_LOGGER, ID_EXIT, ID_ABOUT}) {
        EXPECT_EQ(classifyWindowCommand(0x00450000u | lowWord, ID_FATAL_ERROR),
                  WindowCommand::FatalError)
            << lowWord;
    }
}

TEST(WindowCommandRouting, OpenPortalNeedsAZeroLParam) {
    EXPECT_EQ(classifyWindowCommand(ID_OPEN_PORTAL, 1), WindowCommand::Ignore);
}

TEST(WindowCommandRouting, OnlyTheLowWordOfWParamCounts) {
    // Menus and accelerators put a notification code in the high word.
    EXPECT_EQ(classifyWindowCommand(0x00010000u | ID_EXIT, 0), WindowCommand::Exit);
    EXPECT_EQ(classifyWindowCommand(0x00010000u | ID_LOG_LINE, 0x1234), WindowCommand::LogLine);
}

TEST(WindowCommandRouting, MenuBarItemsActAsExitAndAbout) {
    EXPECT_EQ(classifyWindowCommand(IDM_QUIT, 0), WindowCommand::Exit);
    EXPECT_EQ(classifyWindowCommand(IDM_INFO, 0), WindowCommand::About);
}

TEST(WindowCommandRouting, UserInterfaceCommandsAreTheOnesThatRunApplicationLogic) {
    EXPECT_TRUE(needsUserInterface(WindowCommand::OpenPortal));
    EXPECT_TRUE(needsUserInterface(WindowCommand::About));
    EXPECT_TRUE(needsUserInterface(WindowCommand::StatusChanged));
    EXPECT_FALSE(needsUserInterface(WindowCommand::LogLine));
    EXPECT_FALSE(needsUserInterface(WindowCommand::Exit));
    EXPECT_FALSE(needsUserInterface(WindowCommand::FatalError));
}

TEST(LogTextTest, EveryLineIsPrecededByALineBreak) {
    LogText text;
    text.append("first");
    text.append("second");
    EXPECT_EQ(text.text(), "Logger:\r\nfirst\r\nsecond");
}

TEST(LogTextTest, OldestWholeLinesGoFirstOnceTheCapIsPassed) {
    LogText text(30);
    // The view appends while nothing is dropped and is given the whole
    // text again once something is.
    EXPECT_FALSE(text.append("line-1"));  // Logger:\r\nline-1 = 15
    EXPECT_FALSE(text.append("line-2"));  // 23
    EXPECT_TRUE(text.append("line-3"));   // 31 > 30: line-1 goes
    EXPECT_EQ(text.text(), "Logger:\r\nline-2\r\nline-3");
    EXPECT_LE(text.text().size(), 30u);
}

// The view takes the whole text again whenever lines are dropped; at the
// cap that must not happen for every new line, or each costs the whole log.
TEST(LogTextTest, AtTheCapAQuarterIsFreedSoTheWholeTextIsRarelySetAgain) {
    LogText text(1000);
    int wholeAgain = 0;
    for (int i = 0; i < 1000; ++i) {
        wholeAgain += text.append("line " + std::to_string(1000 + i)) ? 1 : 0;
        ASSERT_LE(text.text().size(), 1000u);
    }
    // 11 000 characters through a 1 000-character text, a quarter freed
    // each time: about 38 times, against about 900 when one line goes.
    EXPECT_GE(wholeAgain, 30);
    EXPECT_LE(wholeAgain, 50);
    EXPECT_EQ(text.text().substr(text.text().size() - 9), "line 1999");
}

TEST(LogTextTest, AVeryLongLineIsShownInPartWithTheCountOfTheRest) {
    const std::string fits(LogText::maxShownLine, 'a');
    EXPECT_EQ(LogText::shownPart(fits), fits);
    const std::string shown = LogText::shownPart(fits + "bcd");
    EXPECT_EQ(shown, fits + " ... (3 more characters not shown)");
}

TEST(LogTextTest, ALineLargerThanTheCapKeepsItsBeginning) {
    LogText text(20);
    text.append("old");
    EXPECT_TRUE(text.append(std::string(100, 'x')));
    EXPECT_EQ(text.text(), "Logger:\r\n" + std::string(11, 'x'));
}

// Around the cap (one under, exactly, one over) for many small caps: the
// text stays within the cap, never carries a zero byte, starts with the
// header and ends with the newest line whole whenever that line fits.
TEST(LogTextTest, AtEveryCapAndLineLengthTheTextStaysWholeAndWithin) {
    const std::string header = "Logger:";
    for (std::size_t cap = header.size() + 2; cap <= 48; ++cap) {
        for (std::size_t length = 1; length <= cap; ++length) {
            for (const char* before : {"", "a", "older line", "two\r\nlines"}) {
                LogText text(cap);
                if (*before != '\0') {
                    text.append(before);
                }
                const std::string line(length, 'x');
                text.append(line);
                const std::string& t = text.text();
                SCOPED_TRACE("cap " + std::to_string(cap) + ", line " + std::to_string(length) +
                             ", before \"" + before + "\"");
                ASSERT_LE(t.size(), cap);
                ASSERT_EQ(t.find('\0'), std::string::npos);
                ASSERT_EQ(t.compare(0, header.size(), header), 0);
                if (header.size() + 2 + length <= cap) {
                    ASSERT_GE(t.size(), length + 2);
                    ASSERT_EQ(t.substr(t.size() - length - 2), "\r\n" + line);
                }
            }
        }
    }
}

}  // namespace
