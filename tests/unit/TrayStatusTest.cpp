#include <gtest/gtest.h>

#include <string>

#include "resources/resource.h"
#include "tests/unit/support/FakeSystemLanguage.h"
#include "tests/unit/support/TempFolder.h"
#include "ui/Texts.h"
#include "ui/TrayStatus.h"

namespace {

class TrayStatusTest : public ::testing::Test {
  protected:
    TrayStatusTest() {
        Texts::resetForTesting();
        folder.write("resources/en.txt",
                     "OPEN_PORTAL=Open\r\nNO_INTERNET=NoNet\r\nNO_USB=NoStick\r\n"
                     "MAX_DUTY_CYCLE=Duty\r\nNEXT_TRANSMIT=Next\r\n"
                     "MSG_BOX_NO_INTERNET=Offline.\r\nMSG_BOX_NO_USB=Plug it in.\r\n"
                     "MSG_BOX_DUTY_CYCLE=Wait.\r\n");
        Texts::init(folder.file("quorvel.ini"), FakeSystemLanguage("English"));
    }
    ~TrayStatusTest() override { Texts::resetForTesting(); }

    TempFolder folder;
};

StatusSnapshot status(bool internet, bool usb, bool duty, const std::string& time = "") {
    StatusSnapshot s;
    s.internetState = internet;
    s.usbState = usb;
    s.dutyState = duty;
    s.nextPortalConnectionTime = time;
    return s;
}

// Open Portal warns of the same faults, in the same order.
TEST_F(TrayStatusTest, EachFaultGivesTheFaultIconAndItsLineInOrder) {
    struct Case {
        bool internet, usb, duty;
        int icon;
        const char* lines;
        const char* warning;
    };
    const Case cases[] = {
        {true, true, true, IDI_TRAY_GOOD, "Open\r\n", ""},
        {false, true, true, IDI_TRAY_FAULT, "NoNet\r\n", "Offline.\r\n"},
        {true, false, true, IDI_TRAY_FAULT, "NoStick\r\n", "Plug it in.\r\n"},
        {true, true, false, IDI_TRAY_FAULT, "Duty\r\n", "Wait.\r\n"},
        {true, false, false, IDI_TRAY_FAULT, "NoStick\r\nDuty\r\n", "Plug it in.\r\nWait.\r\n"},
        {false, false, false, IDI_TRAY_FAULT, "NoNet\r\nNoStick\r\nDuty\r\n",
         "Offline.\r\nPlug it in.\r\nWait.\r\n"},
    };
    for (const Case& c : cases) {
        const TrayLook plain = trayLook(status(c.internet, c.usb, c.duty));
        EXPECT_EQ(plain.iconResource, c.icon) << c.lines;
        EXPECT_EQ(plain.tooltip, c.lines);
        EXPECT_EQ(trayLook(status(c.internet, c.usb, c.duty, "14:05")).tooltip,
                  std::string(c.lines) + "Next: 14:05");
        EXPECT_EQ(openPortalWarning(status(c.internet, c.usb, c.duty)), c.warning);
    }
}

TEST_F(TrayStatusTest, TheTooltipIsCutAtTheShellsLimit) {
    const std::string time(200, '9');
    for (std::size_t length : {1u, 117u, 118u, 119u, 200u}) {
        const TrayLook look = trayLook(status(true, true, true, time.substr(0, length)));
        const std::string full = "Open\r\nNext: " + time.substr(0, length);
        EXPECT_EQ(look.tooltip, full.substr(0, 127)) << length;
        EXPECT_LE(look.tooltip.size(), 127u);
    }
}

}  // namespace
