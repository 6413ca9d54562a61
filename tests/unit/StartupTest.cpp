// Start-up as the initialisation thread runs it, on the wired agent.

#include <gtest/gtest.h>

#include <algorithm>

#include "core/Main.h"
#include "core/SystemPaths.h"
#include "tests/unit/support/WiredAgent.h"

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
}

}  // namespace
