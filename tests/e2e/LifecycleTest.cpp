// Starting and ending the agent: the single instance rule, the ways the
// agent is told to go, each of which must end the process with exit code 0,
// and closing its window, which must not.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "resources/resource.h"
#include "storage/RunTimeData.h"
#include "tests/e2e/AgentFixture.h"

namespace quorvel::e2e {
namespace {

class Lifecycle : public AgentTest {
  protected:
    // Expects `agent` to end with exit code 0 and its window to be gone.
    void expectCleanExit(WineProcess& agent) {
        const auto code = agent.waitForExit(kExitTimeout);
        ASSERT_TRUE(code) << "the agent still runs " << kExitTimeout.count() << " ms later";
        EXPECT_EQ(*code, 0);
        const auto windows = harness().loggerWindows();
        ASSERT_TRUE(windows);
        EXPECT_TRUE(windows->empty()) << "a logger window outlived its process";
    }
};

TEST_F(Lifecycle, SecondStartHandsOverAndExitsWithZero) {
    const auto folder = programFolder(baseConfig());
    WineProcess& first = startAgent(folder);
    ASSERT_TRUE(waitForLoggerWindow(first));
    const auto before = harness().loggerWindows();
    ASSERT_TRUE(before);
    ASSERT_EQ(before->size(), 1u);

    WineProcess& second = startAgent(folder);
    const auto code = second.waitForExit(kStartTimeout);
    ASSERT_TRUE(code) << "the second start did not end";
    EXPECT_EQ(*code, 0);

    EXPECT_TRUE(first.running()) << "the running copy ended when a second was started";
    const auto after = harness().loggerWindows();
    ASSERT_TRUE(after);
    ASSERT_EQ(after->size(), 1u);
    EXPECT_EQ(after->front().hwnd, before->front().hwnd) << "the logger window was replaced";
}

TEST_F(Lifecycle, ExitCommandEndsTheAgentWithZeroWhileItsTimersArePending) {
    // A stored plan an hour ahead, with frames waiting: both timers armed.
    RunTimeData plan;
    const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    plan.nextHelloTime.seconds = static_cast<int32_t>(now + 3600);
    plan.nextTransmitTime.seconds = static_cast<int32_t>(now + 3600);
    plan.frames = "S0102,";
    const RunTimeDataBytes bytes = encodeRunTimeData(plan);
    std::filesystem::create_directories(harness().runTimeFile().parent_path());
    std::ofstream(harness().runTimeFile(), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));

    WineProcess& agent = startAgent(programFolder(baseConfig() + "ENABLE_LOGGING=true\n"));
    ASSERT_TRUE(waitForLoggerWindow(agent, /*visible=*/true));
    drive({"wait-text", "20000", "startTransmitThreadIn starts in[ms]: "});
    const auto text = harness().logText();
    ASSERT_TRUE(text);
    EXPECT_NE(text->find("startHelloThreadIn starts in[ms]: 3"), std::string::npos) << *text;
    EXPECT_EQ(text->find("startHelloThreadIn is already started"), std::string::npos) << *text;

    drive({"send", std::to_string(ID_EXIT), "0"});
    expectCleanExit(agent);
}

// The close box and Alt+F4 only put the log away: the show-logger command
// shows it again, and the menu bar's "&Beenden" still ends the agent.
TEST_F(Lifecycle, ClosingTheWindowHidesItAndBeendenEndsTheAgentWithZero) {
    WineProcess& agent = startAgent(programFolder(baseConfig() + "ENABLE_LOGGING=true\n"));
    ASSERT_TRUE(waitForLoggerWindow(agent, /*visible=*/true));

    drive({"close"});
    const auto windows = harness().loggerWindows();
    ASSERT_TRUE(windows);
    ASSERT_EQ(windows->size(), 1u) << "closing the window ended the agent";
    EXPECT_FALSE(windows->front().visible);
    EXPECT_TRUE(agent.running());

    drive({"send", std::to_string(ID_SHOW_LOGGER), "0"});
    EXPECT_EQ(harness().driver({"wait-window", "5000", "visible"}).exitCode, 0)
        << "the logger window was not shown again";
    drive({"send", std::to_string(IDM_QUIT), "0"});
    expectCleanExit(agent);
}

}  // namespace
}  // namespace quorvel::e2e
