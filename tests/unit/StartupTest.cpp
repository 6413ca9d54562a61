// Start-up as the initialisation thread runs it, on the wired agent.

#include <gtest/gtest.h>

#include <algorithm>

#include "core/Main.h"
#include "core/SystemPaths.h"
#include "tests/unit/support/WiredAgent.h"
#include "timer/TimerResource.h"
#include "ui/UserInterfaceResource.h"

namespace {

TEST(ProgramFolder, IsDriveAndDirectoryWithTheSeparator) {
    EXPECT_EQ(folderOf("C:\\Program Files\\Quorvel\\quorvel.exe"), "C:\\Program Files\\Quorvel\\");
    EXPECT_EQ(folderOf("/opt/quorvel/quorvel.exe"), "/opt/quorvel/");
    EXPECT_EQ(folderOf("C:quorvel.exe"), "C:");
    EXPECT_EQ(folderOf("quorvel.exe"), "");
}

TEST(WaitForMainWindow, WaitsUntilTheWindowIsThereAtMostTenTimes) {
    for (const int appearsAfter : {0, 3, 99}) {
        int waits = 0;
        EXPECT_EQ(waitForMainWindow([&] { return waits == appearsAfter; }, [&] { ++waits; }),
                  std::min(appearsAfter, 10));
        EXPECT_EQ(waits, std::min(appearsAfter, 10));
    }
}

TEST(Startup, WithLoggingOnTheLinesBeforeTheConfigurationAreNotShown) {
    WiredAgent agent;
    agent.start("PORTAL_SERVER_HOTS=h\nENABLE_LOGGING=true\n");

    // The window was asked to show itself while the configuration was read,
    // and only what was logged after that reached it.
    ASSERT_FALSE(agent.window.commands.empty());
    EXPECT_EQ(agent.window.commands.front().code, static_cast<unsigned>(ID_SHOW_LOGGER));
    const std::vector<std::string> lines = agent.window.logLines();
    ASSERT_GE(lines.size(), 2u);
    for (const std::string& line : lines) {
        EXPECT_EQ(line.find("Initialisation"), std::string::npos) << line;
        EXPECT_EQ(line.find("Main::start"), std::string::npos) << line;
    }
    // The configuration's mistakes, logged once the switch below them is read.
    EXPECT_NE(lines[0].find("] initial configuration file: line 1: unknown key "
                            "\"PORTAL_SERVER_HOTS\" ignored; did you mean PORTAL_SERVER_HOST?"),
              std::string::npos)
        << lines[0];
    EXPECT_NE(lines[1].find("] initial configuration file: missing key PORTAL_SERVER_HOST"),
              std::string::npos);
    EXPECT_TRUE(agent.window.logged("reading init data: ok"));
}

// A restart resumes the stored plan, and writes nothing to do so.
TEST(Startup, StoredDeadlinesArmTheHelloAndTransmitTimers) {
    WiredAgent agent;
    RunTimeData stored;
    stored.nextHelloTime = agent.clock.timeStampIn(3600 * 1000);
    stored.nextTransmitTime = agent.clock.timeStampIn(90 * 1000);
    stored.helloReason = 0;
    stored.frames = "S0102,";
    agent.storeRunTimeData(stored);

    Main& main = agent.start("REASON=3\n");

    const auto& armings = agent.timers.armings;
    ASSERT_EQ(armings.size(), 2u);
    EXPECT_EQ(armings[0].id, 1u);
    EXPECT_EQ(armings[0].delay, 3600u * 1000u);
    EXPECT_EQ(armings[1].id, 2u);
    EXPECT_EQ(armings[1].delay, 90u * 1000u);
    EXPECT_EQ(main.timerResource()->getHelloReason(), 0);
    EXPECT_EQ(agent.files.writeCalls, 0);
}

// The window's commands reach the agent only through the published
// resource, and it is published wired: an Open Portal that arrives at once
// already starts a hello.
TEST(Startup, TheUserInterfaceIsPublishedOnlyOnceWired) {
    WiredAgent agent;
    EXPECT_EQ(publishedUserInterface(), nullptr);
    Main& main = agent.start();
    ASSERT_EQ(publishedUserInterface(), main.userInterfaceResource());

    publishedUserInterface()->openPortal();
    EXPECT_EQ(main.timerResource()->getHelloReason(), 2);
    EXPECT_EQ(agent.lastDelay(TimerResource::helloTimerId), 0);
}

}  // namespace
