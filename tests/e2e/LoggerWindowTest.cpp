// The logger window as another process sees it: how many there are, whether
// they are shown, and what the log view holds with logging on and off.

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/AgentFixture.h"

namespace quorvel::e2e {
namespace {

constexpr char kLinePrefix[] = "\r\n - [";

// The log lines after the "Logger:" heading, split at "\r\n".
std::vector<std::string> logLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t pos = text.find("\r\n");
    while (pos != std::string::npos) {
        const size_t next = text.find("\r\n", pos + 2);
        lines.push_back(text.substr(pos + 2, next == std::string::npos ? next : next - pos - 2));
        pos = next;
    }
    return lines;
}

class LoggerWindow : public AgentTest {};

TEST_F(LoggerWindow, OneStartCreatesExactlyOneLoggerWindow) {
    WineProcess& agent = startAgent(programFolder(baseConfig()));
    ASSERT_TRUE(waitForLoggerWindow(agent));
    // Counted after a round trip through the agent's UI thread, so that a
    // second window made later in start-up is counted too.
    drive({"ping"});

    const auto windows = harness().loggerWindows();
    ASSERT_TRUE(windows);
    EXPECT_EQ(windows->size(), 1u);
    EXPECT_TRUE(agent.running());
}

// With logging on: the line ending of the configuration file must not matter,
// since the file is as likely to come from a Windows editor as not.
class LoggingEnabled : public AgentTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(LoggingEnabled, WindowIsShownAndReceivesTimestampedLines) {
    const std::string lineEnd = GetParam();
    WineProcess& agent =
        startAgent(programFolder(baseConfig(lineEnd) + "ENABLE_LOGGING=true" + lineEnd));
    ASSERT_TRUE(waitForLoggerWindow(agent, /*visible=*/true));

    // Waits for the configuration's line in particular: lines about the run
    // time file may come before it.
    drive({"wait-text", "15000", "] reading init data"});
    const auto text = harness().logText();
    ASSERT_TRUE(text);
    EXPECT_EQ(text->rfind("Logger:", 0), 0u) << *text;

    const auto lines = logLines(*text);
    ASSERT_FALSE(lines.empty()) << *text;
    const std::regex shape(R"( - \[(\d+)\] .+)");
    long long previous = 0;
    for (const auto& line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, shape)) << "line: [" << line << "]";
        const long long stamp = std::stoll(m[1]);
        EXPECT_GE(stamp, previous) << "time stamps go backwards at [" << line << "]";
        // Milliseconds since this process started, which was seconds ago.
        EXPECT_LT(stamp, 120000) << line;
        previous = stamp;
    }

    EXPECT_NE(text->find(kLinePrefix), std::string::npos) << *text;

    const auto windows = harness().loggerWindows();
    ASSERT_TRUE(windows);
    ASSERT_EQ(windows->size(), 1u);
    EXPECT_TRUE(windows->front().visible);
}

INSTANTIATE_TEST_SUITE_P(LineEndings, LoggingEnabled, ::testing::Values("\n", "\r\n"),
                         [](const auto& param) {
                             return std::string(param.param) == "\n" ? "LF" : "CRLF";
                         });

// With logging off nothing must reach the window. "Nothing" is bounded by an
// observation window: from the moment the window exists, the driver samples
// its visibility and text every 10 ms for 3 s (with logging on, the first
// line arrives within about half a second of the start), then a WM_NULL round
// trip proves the agent's UI thread is alive and back in its message loop,
// and the text is read once more.
class LoggingDisabled : public AgentTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(LoggingDisabled, NoLineReachesTheWindowAndItStaysHidden) {
    WineProcess& agent = startAgent(programFolder(baseConfig() + GetParam()));
    ASSERT_TRUE(waitForLoggerWindow(agent));

    const auto watched = parseKeyValues(drive({"watch", "3000"}).out);
    EXPECT_EQ(watched.at("ever_visible"), "0");
    EXPECT_EQ(watched.at("text_changed"), "0");
    EXPECT_EQ(watched.at("last_text"), "Logger:");

    drive({"ping"});
    EXPECT_EQ(harness().logText(), std::optional<std::string>("Logger:"));
    const auto windows = harness().loggerWindows();
    ASSERT_TRUE(windows);
    ASSERT_EQ(windows->size(), 1u);
    EXPECT_FALSE(windows->front().visible);
    EXPECT_TRUE(agent.running());
}

INSTANTIATE_TEST_SUITE_P(Settings, LoggingDisabled, ::testing::Values("", "ENABLE_LOGGING=false\n"),
                         [](const auto& param) {
                             return std::string(param.param).empty() ? "KeyAbsent" : "KeyFalse";
                         });

}  // namespace
}  // namespace quorvel::e2e
