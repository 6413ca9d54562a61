#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/Log.h"
#include "tests/unit/support/FakeMainWindow.h"
#include "ui/DisplayStatus.h"
#include "ui/UserInterfaceResource.h"

namespace {

class UserInterfaceResourceTest : public ::testing::Test {
  protected:
    UserInterfaceResourceTest() { setLoggingEnabled(true); }

    std::size_t refreshes() const { return window.commandsWithCode(ID_STATUS_CHANGED).size(); }

    FakeMainWindow window;
    LogCapture capture{window};
    DisplayStatus status;
};

TEST_F(UserInterfaceResourceTest, UntilTheFirstReportNothingShowsAsAFault) {
    EXPECT_FALSE(status.internetState);
    EXPECT_FALSE(status.usbState);
    UserInterfaceResource ui(window, status);
    EXPECT_TRUE(status.internetState);
    EXPECT_TRUE(status.usbState);
    EXPECT_TRUE(status.dutyState);
    EXPECT_EQ(refreshes(), 0u);
}

TEST_F(UserInterfaceResourceTest, EachReportIsLoggedCopiedAndShownEvenWhenUnchanged) {
    UserInterfaceResource ui(window, status);
    ui.setUSBState(false);
    EXPECT_TRUE(window.logged("sendMessage: internetState=true ; usbState=false ; dutyState=true"));
    EXPECT_FALSE(status.usbState);
    EXPECT_EQ(refreshes(), 1u);

    ui.setInternetState(true);
    ui.setInternetState(true);
    EXPECT_EQ(refreshes(), 3u);
    const std::vector<std::string> lines = window.logLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1].substr(lines[1].find("] ")), lines[2].substr(lines[2].find("] ")));
}

TEST_F(UserInterfaceResourceTest, AnyReportPutsTheDongleStateBackAfterARemovalNotice) {
    UserInterfaceResource ui(window, status);
    status.usbState = false;  // what a removal notice writes
    ui.setDutyState(true);
    EXPECT_TRUE(status.usbState);
}

TEST_F(UserInterfaceResourceTest, TheNextContactTimeIsShownAsGivenAlsoWhenEmpty) {
    UserInterfaceResource ui(window, status);
    ui.setNextPortalConnectionTime("09:41");
    EXPECT_EQ(status.nextPortalConnectionTime(), "09:41");
    ui.setNextPortalConnectionTime("");
    EXPECT_EQ(status.nextPortalConnectionTime(), "");
    EXPECT_TRUE(window.logged("nextPortalConnectionTime: "));
    EXPECT_EQ(refreshes(), 2u);
}

TEST_F(UserInterfaceResourceTest, AboutGivesTheLastValuesWhenNothingAnswers) {
    UserInterfaceResource ui(window, status);
    std::string software = "x", firmware = "x", serial = "x";
    ui.showAboutDialog(software, firmware, serial);
    EXPECT_EQ(software + firmware + serial, "");

    ui.setAboutInfo("2.1.0", "258", "QV12345678");
    ui.showAboutDialog(software, firmware, serial);
    EXPECT_EQ(std::vector<std::string>({software, firmware, serial}),
              std::vector<std::string>({"2.1.0", "258", "QV12345678"}));
}

}  // namespace
