#include <gtest/gtest.h>

#include <algorithm>

#include "core/Log.h"
#include "core/Main.h"
#include "core/SystemPaths.h"
#include "storage/FilesystemResource.h"
#include "tests/unit/support/FakeFileSystem.h"
#include "tests/unit/support/FakeHidPort.h"
#include "tests/unit/support/FakeHttpTransport.h"
#include "tests/unit/support/FakeMainWindow.h"
#include "tests/unit/support/FakeSystemLanguage.h"
#include "tests/unit/support/FakeSystemPaths.h"
#include "tests/unit/support/FakeWindowTimers.h"
#include "tests/unit/support/TempFolder.h"
#include "timer/TimerResource.h"
#include "ui/Texts.h"

namespace {

class StartupTest : public ::testing::Test {
  protected:
    StartupTest() : paths(folder.file("quorvel.exe"), "C:\\ProgramData") {
        setMainWindowCommands(&window);
        Texts::resetForTesting();
        folder.write("resources/en.txt", "SYS_EXIT=Exit\r\n");
        platform.paths = &paths;
        platform.files = &files;
        platform.language = &language;
        platform.timers = &timers;
        platform.http = &http;
        platform.hid = &hid;
    }
    ~StartupTest() override { Texts::resetForTesting(); }

    ProcessStateGuard guard;
    FakeMainWindow window;
    TempFolder folder;
    FakeSystemPaths paths;
    FakeFileSystem files;
    FakeSystemLanguage language;
    FakeWindowTimers timers;
    FakeHttpTransport http;
    FakeHidPort hid;
    Platform platform;
};

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

TEST_F(StartupTest, MissingKeysAreNamedInTheLog) {
    folder.write("quorvel.ini", "ENABLE_LOGGING=true\nPORTAL_SERVER_HOST=h\n");
    Main main(platform);
    main.initialise();

    const std::vector<std::string> lines = window.logLines();
    const bool named = std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.find("missing key in initial configuration file: USB_WAIT_TIMEOUT") !=
               std::string::npos;
    });
    EXPECT_TRUE(named);
    EXPECT_EQ(main.filesystemResource()->getConfiguration().getPortalServerHost(), "h");
}

TEST_F(StartupTest, WithLoggingOnTheLinesBeforeTheConfigurationAreNotShown) {
    folder.write("quorvel.ini", "ENABLE_LOGGING=true\n");
    Main main(platform);

    main.initialise();

    // The window was asked to show itself while the configuration was read,
    // and only what was logged after that reached it.
    ASSERT_FALSE(window.commands.empty());
    EXPECT_EQ(window.commands.front().wParam, static_cast<uintptr_t>(ID_SHOW_LOGGER));
    const std::vector<std::string> lines = window.logLines();
    ASSERT_FALSE(lines.empty());
    for (const std::string& line : lines) {
        EXPECT_EQ(line.find("Initialisation"), std::string::npos) << line;
        EXPECT_EQ(line.find("Main::start"), std::string::npos) << line;
    }
    EXPECT_NE(lines.front().find("missing key in initial configuration file"), std::string::npos);
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.find("reading init data: ok") != std::string::npos;
    }));
}

TEST_F(StartupTest, StoredDeadlinesArmTheHelloAndTransmitTimers) {
    folder.write("quorvel.ini", "REASON=3\n");
    RunTimeData stored;
    stored.nextHelloTime = timeStampIn(3600 * 1000);
    stored.nextTransmitTime = timeStampIn(90 * 1000);
    stored.helloReason = 0;
    stored.frames = "S0102,";
    const RunTimeDataBytes bytes = encodeRunTimeData(stored);
    files.folders.insert("C:\\ProgramData\\quorvel\\");
    files.files["C:\\ProgramData\\quorvel\\quorvel.dat"] = {bytes.begin(), bytes.end()};

    Main main(platform);
    main.initialise();

    ASSERT_EQ(timers.armings.size(), 2u);
    EXPECT_EQ(timers.armings[0].id, 1u);
    EXPECT_NEAR(timers.armings[0].delay, 3600 * 1000, 2000);
    EXPECT_EQ(timers.armings[1].id, 2u);
    EXPECT_NEAR(timers.armings[1].delay, 90 * 1000, 2000);
    EXPECT_EQ(main.timerResource()->getHelloReason(), 0);
}

}  // namespace
