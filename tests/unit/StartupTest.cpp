#include <gtest/gtest.h>

#include <algorithm>

#include <list>
#include <map>

#include "core/Log.h"
#include "core/Main.h"
#include "core/SystemPaths.h"
#include "dongle/USBResource.h"
#include "portal/HTTPClientResource.h"
#include "storage/FilesystemResource.h"
#include "tests/unit/support/WiredAgent.h"
#include "timer/TimerResource.h"
#include "ui/UserInterfaceResource.h"

namespace {

class StartupTest : public ::testing::Test {
  protected:
    WiredAgent agent;
};

using Registrations = std::map<std::string, std::list<std::string>>;

TEST(ProgramFolder, IsDriveAndDirectoryWithTheSeparator) {
    EXPECT_EQ(folderOf("C:\\Program Files\\Quorvel\\quorvel.exe"), "C:\\Program Files\\Quorvel\\");
    EXPECT_EQ(folderOf("/opt/quorvel/quorvel.exe"), "/opt/quorvel/");
    EXPECT_EQ(folderOf("C:quorvel.exe"), "C:");
    EXPECT_EQ(folderOf("quorvel.exe"), "");
}

TEST(WaitForMainWindow, DoesNotWaitWhenTheWindowIsThere) {
    int waits = 0;
    EXPECT_EQ(waitForMainWindow([] { return true; }, [&] { ++waits; }), 0);
    EXPECT_EQ(waits, 0);
}

TEST(WaitForMainWindow, GivesUpAfterTenWaits) {
    int waits = 0;
    EXPECT_EQ(waitForMainWindow([] { return false; }, [&] { ++waits; }), 10);
    EXPECT_EQ(waits, 10);
}

TEST(WaitForMainWindow, StopsAsSoonAsTheWindowAppears) {
    int waits = 0;
    EXPECT_EQ(waitForMainWindow([&] { return waits == 3; }, [&] { ++waits; }), 3);
}

TEST_F(StartupTest, WithLoggingOnTheLinesBeforeTheConfigurationAreNotShown) {
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
    EXPECT_NE(
        lines.front().find("] initial configuration file: line 1: unknown key "
                           "\"PORTAL_SERVER_HOTS\" ignored; did you mean PORTAL_SERVER_HOST?"),
        std::string::npos)
        << lines.front();
    EXPECT_NE(lines[1].find("] initial configuration file: missing key PORTAL_SERVER_HOST"),
              std::string::npos);
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.find("reading init data: ok") != std::string::npos;
    }));
}

TEST_F(StartupTest, StoredDeadlinesArmTheHelloAndTransmitTimers) {
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
}

// Which activity handles which event, on which resource's registry: the
// whole wiring, one activity per event.
TEST_F(StartupTest, EveryEventReachesItsActivityOnTheRegistryOfTheResourceThatFiresIt) {
    Main& main = agent.start();

    EXPECT_EQ(main.timerResource()->getActivities().registrations(),
              (Registrations{{"CyclicHelloEvent", {"CyclicHelloActivity"}},
                             {"CyclicTransmitEvent", {"CyclicTransmitActivity"}},
                             {"NotifyTimerStateEvent", {"NotifyTimerStateActivity"}}}));
    EXPECT_EQ(main.httpClientResource()->getActivities().registrations(),
              (Registrations{{"IntervalEvent", {"IntervalActivity"}},
                             {"NotifyHTTPStateEvent", {"NotifyHTTPStateActivity"}},
                             {"SendFramesEvent", {"SendFramesActivity"}},
                             {"StartBrowserEvent", {"StartBrowserActivity"}}}));
    EXPECT_EQ(main.filesystemResource()->getActivities().registrations(),
              (Registrations{{"CyclicHelloTimeEvent", {"CyclicHelloTimeActivity"}},
                             {"CyclicTransmitTimeEvent", {"CyclicTransmitTimeActivity"}}}));
    EXPECT_EQ(main.usbResource()->getActivities().registrations(),
              (Registrations{{"ContinueHelloEvent", {"ContinueHelloActivity"}},
                             {"ContinueTransmitEvent", {"ContinueTransmitActivity"}},
                             {"NotifyDutyCycleStateEvent", {"NotifyDutyCycleActivity"}},
                             {"NotifyUSBStateEvent", {"NotifyUSBStateActivity"}}}));
    EXPECT_EQ(main.userInterfaceResource()->getActivities().registrations(),
              (Registrations{{"ShowAboutDialogEvent", {"ShowAboutDialogActivity"}},
                             {"StartSessionEvent", {"StartSessionActivity"}}}));
}

// The window's commands reach the agent only through the published
// resource, and it is published wired: an Open Portal that arrives at once
// already starts a hello.
TEST_F(StartupTest, TheUserInterfaceIsPublishedOnlyOnceWired) {
    EXPECT_EQ(publishedUserInterface(), nullptr);
    Main& main = agent.start();
    ASSERT_EQ(publishedUserInterface(), main.userInterfaceResource());

    publishedUserInterface()->openPortal();
    EXPECT_EQ(main.timerResource()->getHelloReason(), 2);
    EXPECT_EQ(agent.lastDelay(TimerResource::helloTimerId), 0);
}

}  // namespace
