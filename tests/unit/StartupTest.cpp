#include <gtest/gtest.h>

#include <algorithm>

#include "core/Log.h"
#include "core/Main.h"
#include "core/SystemPaths.h"
#include "storage/FilesystemResource.h"
#include "tests/unit/support/FakeMainWindow.h"
#include "tests/unit/support/FakeSystemPaths.h"
#include "tests/unit/support/TempFolder.h"

namespace {

class StartupTest : public ::testing::Test {
  protected:
    StartupTest() { setMainWindowCommands(&window); }

    std::string programPath() const { return folder.file("quorvel.exe"); }

    ProcessStateGuard guard;
    FakeMainWindow window;
    TempFolder folder;
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

TEST_F(StartupTest, ConfigurationBesideTheProgramIsRead) {
    folder.write("quorvel.ini", "PORTAL_SERVER_HOST=127.0.0.1\r\nUSB_WAIT_TIMEOUT=250\r\n");
    FakeSystemPaths paths(programPath());
    FilesystemResource filesystem(paths);

    EXPECT_EQ(filesystem.start(), 0);
    EXPECT_EQ(filesystem.getConfiguration().getPortalServerHost(), "127.0.0.1");
    EXPECT_EQ(filesystem.getConfiguration().getUsbWaitTimeout(), 250);
    EXPECT_TRUE(window.commandsWithCode(ID_FATAL_ERROR).empty());
}

TEST_F(StartupTest, AMissingConfigurationIsAFatalErrorForTheWindow) {
    FakeSystemPaths paths(programPath());
    FilesystemResource filesystem(paths);
    setLoggingEnabled(true);  // as if an earlier run had left it on

    EXPECT_EQ(filesystem.start(), -1);

    const auto fatal = window.commandsWithCode(ID_FATAL_ERROR);
    ASSERT_EQ(fatal.size(), 1u);
    EXPECT_EQ(fatal[0].lParam, ID_FATAL_ERROR);
    EXPECT_EQ(fatal[0].text, "fatal error! reading init data.");
    const std::vector<std::string> lines = window.logLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.back().find("fatal error in [FilesystemResource::init]! reading init data. "
                                "Exception:fatal error in [FilesystemResource::init]! initial "
                                "configuration file doese't exist"),
              std::string::npos);
}

TEST_F(StartupTest, MissingKeysAreNamedInTheLog) {
    folder.write("quorvel.ini", "ENABLE_LOGGING=true\nPORTAL_SERVER_HOST=h\n");
    FakeSystemPaths paths(programPath());
    FilesystemResource filesystem(paths);

    EXPECT_EQ(filesystem.start(), 0);
    const std::vector<std::string> lines = window.logLines();
    const bool named = std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.find("missing key in initial configuration file: USB_WAIT_TIMEOUT") !=
               std::string::npos;
    });
    EXPECT_TRUE(named);
}

TEST_F(StartupTest, WithLoggingOnTheLinesBeforeTheConfigurationAreNotShown) {
    folder.write("quorvel.ini", "ENABLE_LOGGING=true\n");
    FakeSystemPaths paths(programPath());
    Platform platform;
    platform.paths = &paths;
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
    EXPECT_NE(lines.back().find("reading init data: ok"), std::string::npos);
}

}  // namespace
