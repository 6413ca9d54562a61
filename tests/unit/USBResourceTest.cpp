// USBResource against the dongle model through an in-memory HID port:
// discovery, bounded transfers, checkUSBhandle and the three conversations.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "activities/HelloEvents.h"
#include "activities/StatusEvents.h"
#include "activities/TransmitEvents.h"
#include "core/Activity.h"
#include "dongle/DongleDevice.h"
#include "dongle/ReportProtocol.h"
#include "dongle/USBResource.h"
#include "tests/unit/support/FakeHidPort.h"
#include "tests/unit/support/FakeMainWindow.h"
#include "tests/unit/support/TestClock.h"
#include "ui/DisplayStatus.h"

namespace {

const char donglePath[] = "\\\\?\\hid#vid_5e91&pid_2d4a#7&1a2b3c&0&0000#{4d1e55b2}";
const char otherPath[] = "\\\\?\\hid#vid_046d&pid_c077#1&0&0000#{4d1e55b2}";

// Every event the resource fires, as "Name=value".
class EventLog final : public Activity {
  public:
    const char* getName() const override { return "EventLog"; }
    void execute(Event* event) override {
        const std::string name = event->getName();
        if (name == NotifyUSBStateEvent::className()) {
            events.push_back(name + "=" +
                             (static_cast<NotifyUSBStateEvent*>(event)->getState() ? "1" : "0"));
        } else if (name == NotifyDutyCycleStateEvent::className()) {
            const bool state = static_cast<NotifyDutyCycleStateEvent*>(event)->getState();
            events.push_back(name + "=" + (state ? "1" : "0"));
        } else if (name == ContinueTransmitEvent::className()) {
            events.push_back(name + "=" +
                             std::to_string(static_cast<ContinueTransmitEvent*>(event)->getCode()));
        } else {
            events.push_back(name);
        }
    }
    std::vector<std::string> events;
};

class USBResourceTest : public ::testing::Test {
  protected:
    USBResourceTest() {
        setProcessClock(&clock);
        setMainWindowCommands(&window);
        setLoggingEnabled(true);
        setDongleDevice({});
    }
    ~USBResourceTest() override { setDongleDevice({}); }

    void attachDongle(uint16_t product = dongle::productId) {
        port.devices.push_back({donglePath, dongle::vendorId, product, {36, 36}, true, &model});
    }

    USBResource& resource() {
        if (!usb_) {
            usb_ = std::make_unique<USBResource>(port, [this] { return present; });
            for (const char* name :
                 {NotifyUSBStateEvent::className(), ContinueHelloEvent::className(),
                  NotifyDutyCycleStateEvent::className(), ContinueTransmitEvent::className()}) {
                usb_->getActivities().add(&events, name);
            }
        }
        return *usb_;
    }

    bool logged(const std::string& text) const { return countLogged(text) > 0; }
    int countLogged(const std::string& text) const {
        const auto lines = window.logLines();
        return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const auto& line) {
            return line.size() >= text.size() &&
                   line.compare(line.size() - text.size(), text.size(), text) == 0;
        }));
    }
    int framesBroadcast() const { return static_cast<int>(model.broadcast().size()); }

    ProcessStateGuard guard;
    TestClock clock{1700000000, 0};
    FakeMainWindow window;
    DongleModel model;
    FakeHidPort port;
    EventLog events;
    bool present = true;

  private:
    std::unique_ptr<USBResource> usb_;
};

// ---- discovery -------------------------------------------------------------

TEST_F(USBResourceTest, SecondDeviceIsFoundAfterTheFirstWasClosed) {
    port.devices.push_back({otherPath, 0x046D, 0xC077, {8, 8}, true, nullptr});
    attachDongle();
    auto device = resource().openDevice();
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(port.closedWithoutMatch.back(), otherPath);
    EXPECT_EQ(port.openDevices, 1);  // only the dongle is still open
    EXPECT_EQ(dongleDevice().path, donglePath);
    EXPECT_EQ(dongleDevice().capabilities.inputReportByteLength, 36);
}

TEST_F(USBResourceTest, RightVendorWrongProductIsNotAccepted) {
    attachDongle(0x2D4B);
    EXPECT_EQ(resource().openDevice(), nullptr);
    EXPECT_EQ(port.openDevices, 0);
    EXPECT_EQ(dongleDevice().path, "");
}

TEST_F(USBResourceTest, DeviceThatCannotBeOpenedIsSkipped) {
    attachDongle();
    port.devices.front().openable = false;
    DongleModel second;
    port.devices.push_back(
        {"second", dongle::vendorId, dongle::productId, {36, 36}, true, &second});
    ASSERT_NE(resource().openDevice(), nullptr);
    EXPECT_EQ(dongleDevice().path, "second");
}

TEST_F(USBResourceTest, InitTellsWhetherADongleIsThereAndClosesIt) {
    EXPECT_EQ(resource().init(), -1);
    attachDongle();
    EXPECT_EQ(resource().init(), 0);
    EXPECT_EQ(port.openDevices, 0);
    EXPECT_EQ(port.discoveries, 3);  // the constructor's own init as well
}

TEST_F(USBResourceTest, AFailedDiscoveryKeepsTheLastKnownPath) {
    attachDongle();
    resource().openDevice();
    model.unplug();
    EXPECT_EQ(resource().openDevice(), nullptr);
    EXPECT_TRUE(isDonglePath(donglePath));
}

TEST(DonglePath, ComparedWithAsciiLettersFolded) {
    setDongleDevice({});
    EXPECT_FALSE(isDonglePath(""));
    setDongleDevice({"\\\\?\\HID#Vid_5E91&PID_2d4a#x", {}});
    EXPECT_TRUE(isDonglePath("\\\\?\\hid#vid_5e91&pid_2D4A#X"));
    EXPECT_FALSE(isDonglePath("\\\\?\\hid#vid_5e91&pid_2d4a#y"));
    EXPECT_FALSE(isDonglePath("\\\\?\\hid#vid_5e91&pid_2d4a#x#"));
    setDongleDevice({"\xC4x", {}});  // bytes beyond ASCII must match exactly
    EXPECT_FALSE(isDonglePath("\xE4x"));
    setDongleDevice({});
}

// ---- transfers and checkUSBhandle -------------------------------------------

TEST_F(USBResourceTest, ReceiveTimeOutIsLoggedAndTransientWhileTheDongleIsPresent) {
    attachDongle();
    auto device = resource().openDevice();
    ReportBuffer input = dongle::clearedInputReport();
    const int result = resource().receiveReport(input, device.get(), 250);
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(logged(" WAIT_TIMEOUT in receiveReport"));
    EXPECT_EQ(port.nowMs, 250u);
    EXPECT_EQ(resource().checkUSBhandle(result, device.get()), 0);
}

TEST_F(USBResourceTest, CheckUSBhandleWithTheFlagCleared) {
    attachDongle();
    auto device = resource().openDevice();
    present = false;
    EXPECT_EQ(resource().checkUSBhandle(0, device.get()), 0);
    EXPECT_FALSE(logged("the dongle is not available"));
    EXPECT_EQ(resource().checkUSBhandle(-1, device.get()), -1);
    EXPECT_EQ(resource().checkUSBhandle(-2, device.get()), -1);
    EXPECT_EQ(countLogged("no device found! invalid create handle of "
                          "device[USBResource::checkUSBhandle]: the dongle is not available"),
              2);
}

TEST_F(USBResourceTest, CheckUSBhandleWithoutAHandleFailsWhateverTheFlag) {
    present = true;
    EXPECT_EQ(resource().checkUSBhandle(-1, nullptr), -1);
    EXPECT_EQ(resource().checkUSBhandle(0, nullptr), 0);
}

TEST_F(USBResourceTest, DefaultPresenceIsTheTraysUsbState) {
    attachDongle();
    USBResource usb(port);
    auto device = usb.openDevice();
    displayStatus().usbState = false;
    EXPECT_EQ(usb.checkUSBhandle(-1, device.get()), -1);
    displayStatus().usbState = true;
    EXPECT_EQ(usb.checkUSBhandle(-1, device.get()), 0);
    displayStatus().usbState = false;
}

TEST_F(USBResourceTest, TransfersNeverExceedTheBufferWhateverTheDeviceDeclares) {
    attachDongle();
    port.devices.front().capabilities = {64, 65};
    auto device = resource().openDevice();
    ReportBuffer buffer{};
    EXPECT_EQ(resource().sendReport(dongle::dutyCycleRequest(), device.get(), 100), 0);
    EXPECT_EQ(resource().receiveReport(buffer, device.get(), 100), 0);
    EXPECT_EQ(port.lastWriteLength, 36u);
    EXPECT_EQ(port.lastReadLength, 36u);
}

TEST_F(USBResourceTest, NegativeTimeOutMeansNoWait) {
    attachDongle();
    auto device = resource().openDevice();
    ReportBuffer buffer{};
    EXPECT_EQ(resource().receiveReport(buffer, device.get(), -5), -1);
    EXPECT_EQ(port.lastTimeout, 0u);
}

TEST_F(USBResourceTest, TransfersOnAVanishedDongleFail) {
    attachDongle();
    auto device = resource().openDevice();
    model.unplug();
    ReportBuffer buffer{};
    EXPECT_EQ(resource().sendReport(dongle::dutyCycleRequest(), device.get(), 100), -2);
    EXPECT_EQ(resource().receiveReport(buffer, device.get(), 100), -2);
    EXPECT_EQ(resource().sendReport(buffer, nullptr, 100), -2);
}

// ---- getDeviceInfos ----------------------------------------------------------

class DeviceInfos : public USBResourceTest {
  protected:
    int read() { return resource().getDeviceInfos(serial, firmware, radio, 100); }
    std::string serial = "old", firmware = "old", radio = "old";
};

TEST_F(DeviceInfos, ReadsTheIdentity) {
    model.setIdentity({"QV00000042", 0x0AFF, 258});
    attachDongle();
    ASSERT_EQ(read(), 0);
    EXPECT_EQ(serial, "QV00000042");
    EXPECT_EQ(firmware, "258");
    EXPECT_EQ(radio, "0aff");
    EXPECT_EQ(events.events, std::vector<std::string>{"NotifyUSBStateEvent=1"});
    EXPECT_TRUE(
        logged("getDeviceInfos inputReportBuffer: 02:10:80:ff:51:56:30:30"
               ":30:30:30:30:34:32:0a:ff:01:02:00:00:00:00:00:00:00:00:00:00:00:00:00:00:"
               "00:00:00:00:"));
    EXPECT_EQ(port.openDevices, 0);
    EXPECT_EQ(model.received().size(), 1u);
}

TEST_F(DeviceInfos, SkipsOtherAnswersBeforeTheIdentity) {
    model.setWrongAnswersBeforeEach(9);
    attachDongle();
    ASSERT_EQ(read(), 0);
    EXPECT_EQ(serial, "QV12345678");
    EXPECT_EQ(port.reads, 10);
}

TEST_F(DeviceInfos, NoDongle) {
    EXPECT_EQ(read(), -1);
    EXPECT_EQ(events.events,
              (std::vector<std::string>{"NotifyUSBStateEvent=0", "ContinueHelloEvent"}));
    EXPECT_TRUE(
        logged("no device found! cannot create handle of "
               "device[USBResource::getDeviceInfos]: the dongle is not available"));
    EXPECT_EQ(serial, "old");
}

TEST_F(DeviceInfos, SilentDongleIsAFailureNotAnEmptyIdentity) {
    model.setSilent(true);
    attachDongle();
    EXPECT_EQ(read(), -1);
    EXPECT_EQ(port.reads, 10);
    EXPECT_EQ(countLogged(" WAIT_TIMEOUT in receiveReport"), 10);
    EXPECT_EQ(events.events,
              (std::vector<std::string>{"NotifyUSBStateEvent=0", "ContinueHelloEvent"}));
    EXPECT_EQ(serial, "old");
    EXPECT_EQ(port.openDevices, 0);
}

TEST_F(DeviceInfos, SilentDongleWithTheFlagClearedStopsAtTheFirstTimeOut) {
    model.setSilent(true);
    attachDongle();
    present = false;
    EXPECT_EQ(read(), -1);
    EXPECT_EQ(port.reads, 1);
    EXPECT_TRUE(logged("no device found! no valid handle "));
}

TEST_F(DeviceInfos, UnpluggedMidConversation) {
    model.unplugAfter(DongleModel::Request::DeviceInformation);
    model.setSilent(true);
    attachDongle();
    present = false;  // as the main window would after the removal notice
    EXPECT_EQ(read(), -1);
    EXPECT_EQ(events.events,
              (std::vector<std::string>{"NotifyUSBStateEvent=0", "ContinueHelloEvent"}));
}

TEST_F(DeviceInfos, FiveDigitFirmwareGivesAnEmptyText) {
    model.setIdentity({"QV00000042", 0x0AFF, 10000});
    attachDongle();
    ASSERT_EQ(read(), 0);
    EXPECT_EQ(firmware, "");
    EXPECT_TRUE(logged("firmware version does not fit four digits: 10000"));
}

// ---- getDutyCycleUtilisation -------------------------------------------------

TEST_F(USBResourceTest, DutyCycleIsReadAndTheHandleClosed) {
    model.setBaseUtilisation(37);
    attachDongle();
    EXPECT_EQ(resource().getDutyCycleUtilisation(100), 37);
    EXPECT_EQ(port.openDevices, 0);
}

TEST_F(USBResourceTest, SlowAnswerArrivesOnALaterRead) {
    model.setBaseUtilisation(12);
    model.setAnswerDelay(150);
    attachDongle();
    EXPECT_EQ(resource().getDutyCycleUtilisation(100), 12);
    EXPECT_EQ(countLogged(" WAIT_TIMEOUT in receiveReport"), 1);
    EXPECT_EQ(port.nowMs, 150u);
}

TEST_F(USBResourceTest, DutyCycleErrorsAreRaisedWithTheirTexts) {
    try {
        resource().getDutyCycleUtilisation(100);
        ADD_FAILURE() << "no error raised without a dongle";
    } catch (const USBError& error) {
        EXPECT_STREQ(error.what(),
                     "no device found! cannot create handle of "
                     "device[USBResource::getDutyCycleUtilisation]: the dongle is not available");
    }
    EXPECT_TRUE(
        logged("cannot create handle of device[USBResource::getDutyCycleUtilisation]: "
               "the dongle is not available"));

    model.setSilent(true);
    attachDongle();
    try {
        resource().getDutyCycleUtilisation(100);
        ADD_FAILURE() << "no error raised for a silent dongle";
    } catch (const USBError& error) {
        EXPECT_STREQ(error.what(), "no response from USB!");
    }
    EXPECT_EQ(port.openDevices, 0);  // closed although the query was abandoned
}

// ---- start and transmit -------------------------------------------------------

class Transmission : public USBResourceTest {
  protected:
    Transmission() {
        model.setBaseUtilisation(50);
        attachDongle();
    }
    int send(const FrameList& list, int32_t counter = 5, int32_t repeat = 2, int32_t maxDuty = 50) {
        return resource().start(true, list, counter, repeat, 3, maxDuty, 100);
    }
    const FrameList frames = {"S020B112233445566", "S0A0B0C0D0E0F", "S11223344556677"};
};

TEST_F(Transmission, DutyCycleAtTheMaximumSendsEveryFrameRepeatTimes) {
    ASSERT_EQ(send(frames), 0);
    EXPECT_EQ(framesBroadcast(), 6);
    EXPECT_EQ(events.events,
              (std::vector<std::string>{"NotifyDutyCycleStateEvent=1", "NotifyUSBStateEvent=1",
                                        "ContinueTransmitEvent=0"}));
    EXPECT_TRUE(logged("duty cycle utilisation is[%]: 50"));
    EXPECT_TRUE(logged("-------- [USBResource::start] --------"));
    EXPECT_EQ(countLogged("sending frame to usb: S020B112233445566"), 2);
    EXPECT_TRUE(
        logged("outputReportBuffer: 01:09:02:ff:11:22:d3:44:55:66:2c:00:00:00:00:00:00:"
               "00:00:00:00:00:00:00:00:00:00:00:00:00:00:00:00:00:00:00:"));
    EXPECT_EQ(countLogged(" inputReportBuffer: 02:10:82:ff:01:00:00:00:00:00:00:00:00:00:00:00:"
                          "00:00:00:00:00:00:00:00:00:00:00:00:00:00:00:00:00:00:00:00:"),
              6);
    EXPECT_EQ(port.openDevices, 0);
}

TEST_F(Transmission, CounterAndFlagBitsInEveryFrame) {
    ASSERT_EQ(send({"S020B112233445566"}, 13, 3), 0);
    ASSERT_EQ(framesBroadcast(), 3);
    for (const auto& telegram : model.broadcast()) {
        EXPECT_EQ(telegram[3], 0xD3);  // counter 13 keeps its low bits: 5
    }
}

TEST_F(Transmission, DutyCycleOneAboveTheMaximumSendsNothing) {
    EXPECT_EQ(send(frames, 5, 2, 49), -1);
    EXPECT_EQ(framesBroadcast(), 0);
    EXPECT_EQ(events.events,
              (std::vector<std::string>{"NotifyDutyCycleStateEvent=0", "ContinueTransmitEvent=1"}));
    EXPECT_TRUE(logged("over max duty cycle utilisation!"));
}

TEST_F(Transmission, DongleUnpluggedAfterTheDutyCycleQuery) {
    model.unplugAfter(DongleModel::Request::DutyCycle);
    EXPECT_EQ(send(frames), -1);
    EXPECT_EQ(framesBroadcast(), 0);
    EXPECT_EQ(events.events,
              (std::vector<std::string>{"NotifyDutyCycleStateEvent=1", "NotifyUSBStateEvent=0",
                                        "ContinueTransmitEvent=2"}));
    EXPECT_TRUE(
        logged("no device found! cannot create handle of device[USBResource::transmit]: "
               "the dongle is not available"));
}

TEST_F(Transmission, NoDongleAtTheDutyCycleQueryEndsWithOutcomeTwo) {
    port.devices.clear();
    EXPECT_EQ(send(frames), -1);
    EXPECT_EQ(events.events,
              (std::vector<std::string>{"NotifyUSBStateEvent=0", "ContinueTransmitEvent=2"}));
    EXPECT_TRUE(
        logged("no device found! cannot create handle of "
               "device[USBResource::getDutyCycleUtilisation]: the dongle is not available"));
}

TEST_F(Transmission, SilentDutyCycleQueryEndsWithOutcomeTwo) {
    model.setSilent(true);
    EXPECT_EQ(send(frames), -1);
    EXPECT_EQ(events.events,
              (std::vector<std::string>{"NotifyUSBStateEvent=0", "ContinueTransmitEvent=2"}));
    EXPECT_TRUE(logged("no response from USB!"));
    EXPECT_EQ(port.openDevices, 0);
}

TEST_F(Transmission, RepeatCountZeroSendsNothingYetSucceeds) {
    EXPECT_EQ(send(frames, 5, 0), 0);
    EXPECT_EQ(framesBroadcast(), 0);
    EXPECT_EQ(events.events.back(), "ContinueTransmitEvent=0");
    EXPECT_EQ(send(frames, 5, -3), 0);
    EXPECT_EQ(framesBroadcast(), 0);
}

TEST_F(Transmission, OneCharacterFrameEndsThePass) {
    ASSERT_EQ(send({"S020B112233445566", "S0A0B0C0D0E0F", "S", "S11223344556677"}, 5, 2), 0);
    EXPECT_EQ(framesBroadcast(), 4);
    EXPECT_EQ(countLogged("sending frame to usb: S11223344556677"), 0);
    EXPECT_EQ(events.events.back(), "ContinueTransmitEvent=0");
}

TEST_F(Transmission, RefusedAcknowledgementIsNotAcceptedAndTheNextReportIsRead) {
    model.setRejectFrames(true);
    ASSERT_EQ(send({"S020B112233445566"}, 5, 1), 0);
    EXPECT_EQ(port.writes, 2);  // duty-cycle request and the one frame, never resent
    EXPECT_EQ(port.reads, 1 + 3);
    EXPECT_EQ(countLogged(" WAIT_TIMEOUT in receiveReport"), 2);
    EXPECT_FALSE(logged(" inputReportBuffer: "));
}

TEST_F(Transmission, StatusStyleAcknowledgementIsAccepted) {
    model.setStatusStyleAcknowledgement(true);
    ASSERT_EQ(send({"S020B112233445566", "S0A0B0C0D0E0F"}, 5, 1), 0);
    EXPECT_EQ(port.reads, 1 + 2);
    EXPECT_EQ(countLogged(" inputReportBuffer: 02:10:90:ff:00:00:00:00:00:00:00:00:00:00:00:00:"
                          "00:00:00:00:00:00:00:00:00:00:00:00:00:00:00:00:00:00:00:00:"),
              2);
}

TEST_F(Transmission, UnacknowledgedFrameIsPassedOverNotResent) {
    model.setAcknowledgementsMuted(true);
    ASSERT_EQ(send(frames, 5, 1), 0);
    EXPECT_EQ(framesBroadcast(), 3);
    EXPECT_EQ(port.writes, 1 + 3);
    EXPECT_EQ(port.reads, 1 + 3 * 3);
}

TEST_F(Transmission, TooLongFrameIsSkippedAndTheRestSent) {
    ASSERT_EQ(send({"S" + std::string(66, 'A'), "S020B112233445566"}, 5, 1), 0);
    EXPECT_EQ(framesBroadcast(), 1);
    EXPECT_TRUE(logged("frame does not fit a report, not sent: S" + std::string(66, 'A')));
}

TEST_F(Transmission, DongleLostDuringAPassEndsOnlyThatPass) {
    model.unplugAfter(DongleModel::Request::Frame);
    present = false;
    ASSERT_EQ(send(frames, 5, 2), 0);
    EXPECT_EQ(framesBroadcast(), 1);
    EXPECT_EQ(events.events.back(), "ContinueTransmitEvent=0");
    EXPECT_TRUE(
        logged("no device found! invalid create handle of "
               "device[USBResource::checkUSBhandle]: the dongle is not available"));
}

TEST_F(Transmission, EmptyListIsReportedByTransmit) {
    auto device = resource().openDevice();
    EXPECT_EQ(resource().transmit({}, 0, 0x80, device.get(), 3, 100), -1);
    EXPECT_TRUE(logged("frames are empty"));
    EXPECT_EQ(send({}), 0);  // start still reports the attempt as done
    EXPECT_EQ(events.events.back(), "ContinueTransmitEvent=0");
}

TEST(DisplayStatusRecord, TimeTextIsCopiedWhole) {
    DisplayStatus status;
    EXPECT_FALSE(status.usbState);
    EXPECT_FALSE(status.internetState);
    EXPECT_FALSE(status.dutyState);
    EXPECT_EQ(status.nextPortalConnectionTime(), "");
    status.setNextPortalConnectionTime("09:05");
    EXPECT_EQ(status.nextPortalConnectionTime(), "09:05");
}

}  // namespace
