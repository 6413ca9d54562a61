#include <gtest/gtest.h>

#include "core/Clock.h"
#include "core/Log.h"
#include "tests/unit/support/FakeMainWindow.h"
#include "tests/unit/support/TestClock.h"

namespace {

class LogTest : public ::testing::Test {
  protected:
    LogTest() { clock.setProcessMilliseconds(1532); }
    TestClock clock;
    FakeMainWindow window;
    LogCapture capture{window, clock};
};

TEST_F(LogTest, NothingReachesTheWindowWhileLoggingIsOff) {
    log("Initialisation: ...");
    log("value ", 5);
    log("text ", std::string("x"));
    log("dump ", ReportBuffer{});
    EXPECT_TRUE(window.commands.empty());
}

TEST_F(LogTest, ALineIsTheProcessClockAndTheMessageSentAsALogLineCommand) {
    setLoggingEnabled(true);
    log("Initialisation: ok");
    ASSERT_EQ(window.commands.size(), 1u);
    EXPECT_EQ(window.commands[0].code, static_cast<unsigned>(ID_LOG_LINE));
    EXPECT_EQ(window.commands[0].text, " - [1532] Initialisation: ok");
}

TEST_F(LogTest, VariantsAppendTheirValueDirectly) {
    setLoggingEnabled(true);
    log("a: ", std::string("b"));
    log("count: ", -5);
    EXPECT_EQ(window.logLines(),
              (std::vector<std::string>{" - [1532] a: b", " - [1532] count: -5"}));
}

// Text from outside (the portal's answer above all) must not make the log
// view, or a log copied elsewhere, show what the agent did not write.
TEST_F(LogTest, ControlCharactersOtherThanLineBreaksAreShownEscaped) {
    setLoggingEnabled(true);
    const std::pair<std::string, std::string> cases[] = {
        {"plain", "plain"},
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
        EXPECT_EQ(window.logLines(), std::vector<std::string>{" - [1532] portal: " + shown})
            << shown;
    }
}

TEST_F(LogTest, BufferVariantDumpsExactly36Bytes) {
    setLoggingEnabled(true);
    ReportBuffer buffer{};
    buffer[0] = 0x0A;
    buffer[1] = 0xFF;
    buffer[35] = 0x42;
    log("outputReportBuffer: ", buffer);
    const std::string dump =
        window.logLines().at(0).substr(std::string(" - [1532] outputReportBuffer: ").size());
    EXPECT_EQ(dump.size(), 108u);
    EXPECT_EQ(dump.substr(0, 9), "0a:ff:00:");
    EXPECT_EQ(dump.substr(105), "42:");
}

TEST_F(LogTest, ClockTimeTextHasNoLeadingZeros) {
    clock.set(1325404989, 0);  // 2012-01-01 08:03:09 UTC
    EXPECT_EQ(clockTimeText(), "2012.1.1 8:3:9 - ");
    clock.setUtcOffsetMinutes(120);
    clock.set(1311577503, 0);  // 2011-07-25 07:05:03 UTC, 09:05:03 at UTC+2
    EXPECT_EQ(clockTimeText(), "2011.7.25 9:5:3 - ");
}

TEST_F(LogTest, WithoutASinkLinesAreDroppedQuietly) {
    setLogSink(nullptr);
    setLoggingEnabled(true);
    log("lost");
    EXPECT_TRUE(window.commands.empty());
}

}  // namespace
