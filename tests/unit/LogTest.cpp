// The log and its way to the window (commands, the view's text), time stamps and the clock,
// and the activity registry's dispatch.

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "activities/HelloEvents.h"
#include "activities/StatusEvents.h"
#include "core/ActivityRegistry.h"
#include "core/Clock.h"
#include "core/EventListeners.h"
#include "core/Log.h"
#include "core/SentTexts.h"
#include "core/TimeStamp.h"
#include "resources/resource.h"
#include "tests/unit/support/FakeMainWindow.h"
#include "tests/unit/support/TestClock.h"
#include "ui/LogText.h"
#include "ui/WindowCommand.h"

namespace {

using Strings = std::vector<std::string>;

class LogTest : public ::testing::Test {
  protected:
    LogTest() { clock.setProcessMilliseconds(1532); }
    TestClock clock;
    FakeMainWindow window;
    LogCapture capture{window, clock};
};

// Only while logging is on; text from outside must not make the log show what the agent
// did not write.
TEST_F(LogTest, ALineIsTheProcessClockAndTheMessageWithControlCharactersEscaped) {
    log("value ", 5);
    EXPECT_TRUE(window.commands.empty());
    setLoggingEnabled(true);
    const std::pair<std::string, std::string> cases[] = {
        {"bell\a", "bell\\x07"},
        {std::string("zero\0byte", 9), "zero\\x00byte"},
        {"tab\tback\bspace", "tab\\x09back\\x08space"},
        {"\x1b[2K\x1b[1A - [9] forged\x7f", "\\x1b[2K\\x1b[1A - [9] forged\\x7f"},
        {"lines\r\nstay\nas\rthey are", "lines\r\nstay\nas\rthey are"},
        {"caf\xe9 \x80\xff", "caf\xe9 \x80\xff"},
    };
    for (const auto& [message, shown] : cases) {
        window.commands.clear();
        log("portal: ", message);
        EXPECT_EQ(window.logLines(), Strings{" - [1532] portal: " + shown}) << shown;
    }
    log("count: ", -5);
    EXPECT_EQ(window.logLines().back(), " - [1532] count: -5");
    setLogSink(nullptr);  // without a sink lines are dropped quietly
    log("lost");
    EXPECT_EQ(window.logLines().size(), 2u);
}

// Newest registration first, each logged in local time before it runs.
TEST_F(LogTest, ActivitiesRunNewestFirstEachLoggedBeforeItRuns) {
    clock.setUtcOffsetMinutes(120);  // 2012-01-01 08:03:09 UTC
    ActivityRegistry registry;
    Strings entries;
    EventListeners<NotifyUSBStateEvent> first([&](const auto&) { entries.push_back("first"); });
    EventListeners<NotifyUSBStateEvent> second([&](const auto&) {
        entries.push_back("second, lines " + std::to_string(window.logLines().size()));
    });
    first.listenTo(registry);
    second.listenTo(registry);
    setLoggingEnabled(true);
    NotifyUSBStateEvent event(true);
    registry.fire(&event);
    ContinueHelloEvent unregistered;
    registry.fire(&unregistered);
    EXPECT_EQ(entries, (Strings{"second, lines 1", "first"}));
    const std::string line = " - [1532] 2012.1.1 10:3:9 - EventListener";
    EXPECT_EQ(window.logLines(), (Strings{line, line}));
}

constexpr int32_t maxSeconds = std::numeric_limits<int32_t>::max();

TimeStamp at(int32_t seconds, uint16_t milliseconds) {
    TimeStamp stamp;
    stamp.seconds = seconds;
    stamp.milliseconds = milliseconds;
    return stamp;
}

TEST(TimeStampArithmetic, OffsetsCarryAndBorrowWholeSecondsAndNeverOverflow) {
    const struct {
        TimeStamp from;
        int32_t offset;
        TimeStamp expected;
    } cases[] = {
        {at(100, 800), 1500, at(102, 300)},
        {at(100, 200), -500, at(99, 700)},
        {at(100, 0), -2000, at(98, 0)},
        {at(maxSeconds, 999), 5000, at(maxSeconds, 999)},
    };
    for (const auto& c : cases) {
        const TimeStamp result = timeStampAfter(c.from, c.offset);
        EXPECT_EQ(result.seconds, c.expected.seconds) << c.offset;
        EXPECT_EQ(result.milliseconds, c.expected.milliseconds) << c.offset;
    }
}

// What a timer is armed with: zero for the past, clamped to 32 bits.
TEST(TimeStampArithmetic, MillisecondsUntilADeadline) {
    const TimeStamp now = at(1000, 700);
    const std::pair<TimeStamp, int32_t> cases[] = {
        {at(1002, 200), 1500},
        {at(1000, 700), 0},
        {at(1000, 701), 1},
        {at(999, 900), 0},
        {at(-2147483647 - 1, 0), 0},
        {at(2148484, 0), 2147483300},
        {at(2148484, 400), 2147483647},
        {at(maxSeconds, 999), 2147483647},
    };
    for (const auto& [deadline, expected] : cases) {
        EXPECT_EQ(millisecondsBetween(now, deadline), expected)
            << deadline.seconds << " s " << deadline.milliseconds << " ms";
    }
}

TEST(TimeStampClock, TheSystemClockAgreesWithTheCRuntime) {
    SystemClock system;
    const TimeStamp now = system.now();
    EXPECT_LE(std::abs(now.seconds - static_cast<int32_t>(std::time(nullptr))), 2);
    EXPECT_LT(now.milliseconds, 1000);
    EXPECT_GE(system.processMilliseconds(), 0);

    const std::time_t moment = 1311584703;  // 2011-07-25 09:05:03 UTC
    const std::tm expected = *std::localtime(&moment);
    const LocalTime local = system.localTime(static_cast<int32_t>(moment));
    EXPECT_EQ((std::vector<int>{local.year, local.month, local.day, local.hour, local.minute,
                                local.second}),
              (std::vector<int>{expected.tm_year + 1900, expected.tm_mon + 1, expected.tm_mday,
                                expected.tm_hour, expected.tm_min, expected.tm_sec}));
}

// Addresses lent as texts, only compared; fatal texts' low words equal codes tested earlier.
constexpr uintptr_t lentLine = 0x00451230;
constexpr uintptr_t textAt(unsigned lowWord) {
    return 0x00460000u | lowWord;
}
constexpr uintptr_t lentTexts[] = {
    lentLine,        textAt(0x5000),  textAt(ID_LOG_LINE), textAt(ID_SHOW_LOGGER),
    textAt(ID_EXIT), textAt(ID_ABOUT)};

struct Routing {
    const char* what;
    uintptr_t wParam;
    intptr_t lParam;
    WindowCommand expected;
};

constexpr intptr_t at(uintptr_t address) {
    return static_cast<intptr_t>(address);
}

const Routing routings[] = {
    {"log line", ID_LOG_LINE, at(lentLine), WindowCommand::LogLine},
    {"show logger", ID_SHOW_LOGGER, 0x1234, WindowCommand::ShowLogger},
    {"status changed", 0, ID_STATUS_CHANGED, WindowCommand::StatusChanged},
    {"open portal", ID_OPEN_PORTAL, 0, WindowCommand::OpenPortal},
    {"fatal error", textAt(0x5000), ID_FATAL_ERROR, WindowCommand::FatalError},
    {"exit", ID_EXIT, 0, WindowCommand::Exit},
    {"about", ID_ABOUT, 0, WindowCommand::About},
    // The menu bar's items act as Exit and About.
    {"menu bar quit", IDM_QUIT, 0, WindowCommand::Exit},
    {"menu bar info", IDM_INFO, 0, WindowCommand::About},
    // Menus and accelerators put a notification code in the high word.
    {"exit, high word set", 0x00010000u | ID_EXIT, 0, WindowCommand::Exit},
    {"log line, high word set", 0x00010000u | ID_LOG_LINE, at(lentLine), WindowCommand::LogLine},
    // A code in the other field, or a field that must be 0 and is not.
    {"status code in wParam", ID_STATUS_CHANGED, 0, WindowCommand::Ignore},
    {"fatal code in wParam", ID_FATAL_ERROR, 0, WindowCommand::Ignore},
    {"log code in lParam", 0, ID_LOG_LINE, WindowCommand::Ignore},
    {"open portal, lParam 1", ID_OPEN_PORTAL, 1, WindowCommand::Ignore},
    // Any program can send these; an address this process is not lending
    // is neither read nor obeyed.
    {"log line, foreign address", ID_LOG_LINE, 0x1234, WindowCommand::Ignore},
    {"log line, no address", ID_LOG_LINE, 0, WindowCommand::Ignore},
    {"fatal error, foreign address", 0x00450000u, ID_FATAL_ERROR, WindowCommand::Ignore},
    // Two codes in one message, each in its own field: the earlier test wins.
    {"show logger, status in lParam", ID_SHOW_LOGGER, ID_STATUS_CHANGED, WindowCommand::ShowLogger},
    {"show logger, fatal code in lParam", ID_SHOW_LOGGER, ID_FATAL_ERROR,
     WindowCommand::ShowLogger},
    {"exit, status in lParam", ID_EXIT, ID_STATUS_CHANGED, WindowCommand::StatusChanged},
    // A lent address is a text, whatever its low word looks like.
    {"fatal text ending in log line", textAt(ID_LOG_LINE), ID_FATAL_ERROR,
     WindowCommand::FatalError},
    {"fatal text ending in show logger", textAt(ID_SHOW_LOGGER), ID_FATAL_ERROR,
     WindowCommand::FatalError},
    {"fatal text ending in exit", textAt(ID_EXIT), ID_FATAL_ERROR, WindowCommand::FatalError},
    {"fatal text ending in about", textAt(ID_ABOUT), ID_FATAL_ERROR, WindowCommand::FatalError},
};

TEST(WindowCommandRouting, EachMessageGoesToTheFirstTestItMatchesInTheWindowsOrder) {
    SentTexts lent;
    std::vector<std::unique_ptr<SentTexts::Loan>> loans;
    for (const uintptr_t text : lentTexts) {
        loans.push_back(
            std::make_unique<SentTexts::Loan>(lent, reinterpret_cast<const void*>(text)));
    }
    // The initialisation thread and the GUI thread may lend one static text at once.
    { const SentTexts::Loan again(lent, reinterpret_cast<const void*>(lentLine)); }
    for (const Routing& routing : routings) {
        EXPECT_EQ(classifyWindowCommand(routing.wParam, routing.lParam, lent), routing.expected)
            << routing.what;
    }
    // Once its last loan ends, a text's address is like any other.
    loans.clear();
    EXPECT_EQ(classifyWindowCommand(ID_LOG_LINE, at(lentLine), lent), WindowCommand::Ignore);
}

// Dropping a quarter at the cap, so each new line does not cost the whole log.
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

// A reader's place moves up by the lines it held that went, not by lines it never got.
TEST(LogTextTest, TheViewGetsWhatItLacksAndHowManyOfItsLinesWent) {
    LogText text(40);
    text.append("a1");
    text.append("b2");
    LogText::ForView update = text.takeForView();
    EXPECT_FALSE(update.whole);
    EXPECT_EQ(update.added, "\r\na1\r\nb2");
    EXPECT_FALSE(text.viewBehind());
    text.append("c3");
    EXPECT_TRUE(text.viewBehind());
    text.append(std::string(20, 'd'));  // 43 > 40: a1, b2 and c3 go
    update = text.takeForView();
    EXPECT_TRUE(update.whole);
    EXPECT_EQ(update.droppedLines, 2u);
    EXPECT_EQ(update.droppedCharacters, 8u);
    EXPECT_EQ(text.text(), "Logger:\r\n" + std::string(20, 'd'));
    EXPECT_FALSE(text.viewBehind());
    text.append("e5");
    EXPECT_EQ(text.takeForView().added, "\r\ne5");
    // A line larger than the cap keeps its beginning.
    text.append(std::string(100, 'x'));
    EXPECT_EQ(text.text(), "Logger:\r\n" + std::string(31, 'x'));
}

TEST(LogTextTest, AVeryLongLineIsShownInPartWithTheCountOfTheRest) {
    const std::string fits(LogText::maxShownLine, 'a');
    EXPECT_EQ(LogText::shownPart(fits), fits);
    const std::string shown = LogText::shownPart(fits + "bcd");
    EXPECT_EQ(shown, fits + " ... (3 more characters not shown)");
}

// Around the cap: within it, no zero byte, the header first and the newest line whole.
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
                SCOPED_TRACE(::testing::Message() << cap << " " << length << " " << before);
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
