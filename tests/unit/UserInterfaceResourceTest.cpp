// What the wired-agent cycles leave out of the tray's state: the start,
// repeated and empty reports, and About before anything was read.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/Log.h"
#include "tests/unit/support/FakeMainWindow.h"
#include "tests/unit/support/TestClock.h"
#include "ui/DisplayStatus.h"
#include "ui/UserInterfaceResource.h"

namespace {

TEST(UserInterfaceResource, EachReportIsLoggedCopiedAndShownEvenWhenUnchanged) {
    FakeMainWindow window;
    TestClock clock;
    LogCapture capture{window, clock};
    setLoggingEnabled(true);
    DisplayStatus status;
    UserInterfaceResource ui(window, status);
    // Until the first report nothing shows as a fault.
    EXPECT_TRUE(status.internetState && status.usbState && status.dutyState);
    EXPECT_TRUE(window.commands.empty());
    status.usbState = false;  // what a removal notice writes
    ui.setDutyState(true);
    EXPECT_TRUE(status.usbState);  // any report puts it back

    ui.setUSBState(false);
    EXPECT_TRUE(window.logged("sendMessage: internetState=true ; usbState=false ; dutyState=true"));
    EXPECT_FALSE(status.usbState);
    ui.setInternetState(true);
    ui.setInternetState(true);
    EXPECT_EQ(window.commandsWithCode(ID_STATUS_CHANGED).size(), 4u);

    ui.setNextPortalConnectionTime("09:41");
    EXPECT_EQ(status.nextPortalConnectionTime(), "09:41");
    ui.setNextPortalConnectionTime("");
    EXPECT_EQ(status.nextPortalConnectionTime(), "");
    EXPECT_TRUE(window.logged("nextPortalConnectionTime: "));

    std::string software = "x", firmware = "x", serial = "x";
    ui.showAboutDialog(software, firmware, serial);
    EXPECT_EQ(software + firmware + serial, "");
}

}  // namespace
