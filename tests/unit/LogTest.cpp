#include <gtest/gtest.h>

#include "activities/HelloEvents.h"
#include "activities/StatusEvents.h"
#include "core/ActivityRegistry.h"
#include "core/Clock.h"
#include "core/EventListeners.h"
#include "core/Log.h"
#include "tests/unit/support/FakeMainWindow.h"
#include "tests/unit/support/TestClock.h"

namespace {

using Strings = std::vector<std::string>;

class LogTest : public ::testing::Test {
  protected:
    LogTest() { clock.setProcessMilliseconds(1532); }
    TestClock clock;
    FakeMainWindow window;
    LogCapture capture{window, clock};
};

TEST_F(LogTest, ALineIsTheProcessClockAndTheMessageOnlyWhileLoggingIsOn) {
    log("Initialisation: ...");
    log("value ", 5);
    EXPECT_TRUE(window.commands.empty());
    setLoggingEnabled(true);
    log("a: ", std::string("b"));
    log("count: ", -5);
    ASSERT_EQ(window.commands.size(), 2u);
    EXPECT_EQ(window.commands[0].code, static_cast<unsigned>(ID_LOG_LINE));
    EXPECT_EQ(window.logLines(), (Strings{" - [1532] a: b", " - [1532] count: -5"}));
    setLogSink(nullptr);  // without a sink lines are dropped quietly
    log("lost");
    EXPECT_EQ(window.commands.size(), 2u);
}

// Text from outside must not make the log show what the agent did not write.
TEST_F(LogTest, ControlCharactersOtherThanLineBreaksAreShownEscaped) {
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

}  // namespace
