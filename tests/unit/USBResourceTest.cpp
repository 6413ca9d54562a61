// USBResource against the dongle model through an in-memory HID port:
// discovery, bounded transfers, checkUSBhandle and the three conversations.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "dongle/DongleDevice.h"
#include "dongle/ReportProtocol.h"
#include "dongle/USBResource.h"
#include "tests/unit/support/EventRecorder.h"
#include "tests/unit/support/FakeHidPort.h"
#include "tests/unit/support/FakeMainWindow.h"
#include "ui/DisplayStatus.h"

namespace {

using Strings = std::vector<std::string>;

const char donglePath[] = "\\\\?\\hid#vid_5e91&pid_2d4a#7&1a2b3c&0&0000#{4d1e55b2}";
const char otherPath[] = "\\\\?\\hid#vid_046d&pid_c077#1&0&0000#{4d1e55b2}";
const std::string noDongle = "no device found! cannot create handle of device[USBResource::";
const std::string lostHandle =
    "no device found! invalid create handle of device[USBResource::checkUSBhandle]: the dongle "
    "is not available";
const std::string timeout = " WAIT_TIMEOUT in receiveReport";

class USBResourceTest : public ::testing::Test {
  protected:
    USBResourceTest() {
        setLoggingEnabled(true);
        setDongleDevice({});
    }
    ~USBResourceTest() override { setDongleDevice({}); }

    void attachDongle(uint16_t product = dongle::productId, DongleModel* dongle = nullptr,
                      const char* path = donglePath) {
        port.devices.push_back(
            {path, dongle::vendorId, product, {36, 36}, true, dongle ? dongle : &model});
    }

    USBResource& resource() {
        if (!usb_) {
            usb_ = std::make_unique<USBResource>(port, [this] { return present; });
            recorder.listenTo(*usb_);
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

    FakeMainWindow window;
    LogCapture capture{window};
    DongleModel model;
    FakeHidPort port;
    EventRecorder recorder;
    bool present = true;

  private:
    std::unique_ptr<USBResource> usb_;
};

// ---- discovery -------------------------------------------------------------

TEST_F(USBResourceTest, TheDongleIsFoundSecondAfterTheFirstDeviceWasClosed) {
    port.devices.push_back({otherPath, 0x046D, 0xC077, {8, 8}, true, nullptr});
    attachDongle();
    auto device = resource().openDevice();
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(port.closedWithoutMatch.back(), otherPath);
    EXPECT_EQ(port.openDevices, 1);
    EXPECT_EQ(dongleDevice().path, donglePath);
    EXPECT_EQ(dongleDevice().capabilities.inputReportByteLength, 36);
}

TEST_F(USBResourceTest, WrongProductOrUnopenableDevicesAreSkipped) {
    attachDongle(0x2D4B);
    EXPECT_EQ(resource().openDevice(), nullptr);
    EXPECT_EQ(port.openDevices, 0);
    EXPECT_EQ(dongleDevice().path, "");
    attachDongle();
    port.devices.back().openable = false;
    DongleModel second;
    attachDongle(dongle::productId, &second, "second");
    ASSERT_NE(resource().openDevice(), nullptr);
    EXPECT_EQ(dongleDevice().path, "second");
}

TEST_F(USBResourceTest, InitTellsWhetherADongleIsThereAndClosesIt) {
    EXPECT_EQ(resource().init(), -1);
    attachDongle();
    EXPECT_EQ(resource().init(), 0);
    EXPECT_EQ(port.openDevices, 0);
    EXPECT_EQ(port.discoveries, 3);  // the constructor's own init as well
    resource().openDevice();
    model.unplug();
    EXPECT_EQ(resource().openDevice(), nullptr);
    EXPECT_TRUE(isDonglePath(donglePath));  // a failed discovery keeps the last path
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

TEST_F(USBResourceTest, ATimeOutIsLoggedAndTransientOnlyWhileTheDongleIsPresent) {
    attachDongle();
    auto device = resource().openDevice();
    ReportBuffer input = dongle::clearedInputReport();
    EXPECT_EQ(resource().receiveReport(input, device.get(), 250), -1);
    EXPECT_TRUE(logged(timeout));
    EXPECT_EQ(port.nowMs, 250u);
    EXPECT_EQ(resource().receiveReport(input, device.get(), -5), -1);
    EXPECT_EQ(port.lastTimeout, 0u);  // a negative time-out means no wait

    EXPECT_EQ(resource().checkUSBhandle(-1, device.get()), 0);
    present = false;
    EXPECT_EQ(resource().checkUSBhandle(0, device.get()), 0);
    EXPECT_FALSE(logged("the dongle is not available"));
    EXPECT_EQ(resource().checkUSBhandle(-1, device.get()), -1);
    EXPECT_EQ(resource().checkUSBhandle(-2, device.get()), -1);
    EXPECT_EQ(countLogged(lostHandle), 2);
    present = true;
    EXPECT_EQ(resource().checkUSBhandle(-1, nullptr), -1);
    EXPECT_EQ(resource().checkUSBhandle(0, nullptr), 0);
}

TEST_F(USBResourceTest, TransfersStayWithinTheBufferAndFailOnAVanishedDongle) {
    attachDongle();
    port.devices.front().capabilities = {64, 65};
    auto device = resource().openDevice();
    ReportBuffer buffer{};
    EXPECT_EQ(resource().sendReport(dongle::dutyCycleRequest(), device.get(), 100), 0);
    EXPECT_EQ(resource().receiveReport(buffer, device.get(), 100), 0);
    EXPECT_EQ(port.lastWriteLength, 36u);
    EXPECT_EQ(port.lastReadLength, 36u);
    model.unplug();
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

TEST_F(DeviceInfos, ReadsTheIdentityPastOtherAnswers) {
    model.setIdentity({"QV00000042", 0x0AFF, 258});
    attachDongle();
    ASSERT_EQ(read(), 0);
    EXPECT_EQ(serial + " " + firmware + " " + radio, "QV00000042 258 0aff");
    EXPECT_EQ(recorder.summary(), Strings{"NotifyUSBStateEvent=1"});
    EXPECT_TRUE(
        logged("getDeviceInfos inputReportBuffer: 02:10:80:ff:51:56:30:30"
               ":30:30:30:30:34:32:0a:ff:01:02:00:00:00:00:00:00:00:00:00:00:00:00:00:00:"
               "00:00:00:00:"));
    EXPECT_EQ(port.openDevices, 0);
    EXPECT_EQ(model.received().size(), 1u);

    model.setWrongAnswersBeforeEach(9);
    model.setIdentity({"QV12345678", 0x0AFF, 10000});
    ASSERT_EQ(read(), 0);
    EXPECT_EQ(serial, "QV12345678");
    EXPECT_EQ(port.reads, 1 + 10);
    EXPECT_EQ(firmware, "");
    EXPECT_TRUE(logged("firmware version does not fit four digits: 10000"));
}

TEST_F(DeviceInfos, FailuresEndTheHelloWithoutAnIdentity) {
    const auto expectHelloEnded = [&] {
        recorder.records.clear();
        EXPECT_EQ(read(), -1);
        EXPECT_EQ(recorder.summary(), (Strings{"NotifyUSBStateEvent=0", "ContinueHelloEvent="}));
        EXPECT_EQ(serial, "old");
        EXPECT_EQ(port.openDevices, 0);
    };
    expectHelloEnded();
    EXPECT_TRUE(logged(noDongle + "getDeviceInfos]: the dongle is not available"));
    attachDongle();
    model.setSilent(true);
    expectHelloEnded();
    EXPECT_EQ(port.reads, 10);
    EXPECT_EQ(countLogged(timeout), 10);
    present = false;  // a cleared flag stops at the first time-out
    expectHelloEnded();
    EXPECT_EQ(port.reads, 10 + 1);
    EXPECT_TRUE(logged("no device found! no valid handle "));
    model.unplugAfter(DongleModel::Request::DeviceInformation);
    expectHelloEnded();
}

// ---- getDutyCycleUtilisation -------------------------------------------------

TEST_F(USBResourceTest, DutyCycleIsReadEvenWhenSlowAndTheHandleClosed) {
    model.setBaseUtilisation(12);
    model.setAnswerDelay(150);
    attachDongle();
    EXPECT_EQ(resource().getDutyCycleUtilisation(100), 12);
    EXPECT_EQ(countLogged(timeout), 1);
    EXPECT_EQ(port.nowMs, 150u);
    EXPECT_EQ(port.openDevices, 0);
}

TEST_F(USBResourceTest, DutyCycleErrorsAreRaisedWithTheirTexts) {
    const auto error = [&]() -> std::string {
        try {
            resource().getDutyCycleUtilisation(100);
        } catch (const USBError& raised) {
            return raised.what();
        }
        return "no error raised";
    };
    const std::string missing = "getDutyCycleUtilisation]: the dongle is not available";
    EXPECT_EQ(error(), noDongle + missing);
    EXPECT_TRUE(logged("cannot create handle of device[USBResource::" + missing));
    model.setSilent(true);
    attachDongle();
    EXPECT_EQ(error(), "no response from USB!");
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
    ASSERT_EQ(send(frames, 13), 0);  // counter 13 keeps its low bits, 5: d3 below
    EXPECT_EQ(framesBroadcast(), 6);
    EXPECT_EQ(recorder.summary(), (Strings{"NotifyDutyCycleStateEvent=1", "NotifyUSBStateEvent=1",
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

TEST_F(Transmission, FailuresBeforeTheFirstFrameSendNothing) {
    const auto expectNothingSent = [&](int32_t maxDuty, const Strings& expected,
                                       const std::string& log) {
        recorder.records.clear();
        EXPECT_EQ(send(frames, 5, 2, maxDuty), -1) << log;
        EXPECT_EQ(framesBroadcast(), 0) << log;
        EXPECT_EQ(recorder.summary(), expected) << log;
        EXPECT_TRUE(logged(log)) << log;
        EXPECT_EQ(port.openDevices, 0) << log;
    };
    expectNothingSent(49, {"NotifyDutyCycleStateEvent=0", "ContinueTransmitEvent=1"},
                      "over max duty cycle utilisation!");
    model.unplugAfter(DongleModel::Request::DutyCycle);
    expectNothingSent(
        50, {"NotifyDutyCycleStateEvent=1", "NotifyUSBStateEvent=0", "ContinueTransmitEvent=2"},
        noDongle + "transmit]: the dongle is not available");
    model.plug();
    model.setSilent(true);
    expectNothingSent(50, {"NotifyUSBStateEvent=0", "ContinueTransmitEvent=2"},
                      "no response from USB!");
    port.devices.clear();
    expectNothingSent(50, {"NotifyUSBStateEvent=0", "ContinueTransmitEvent=2"},
                      noDongle + "getDutyCycleUtilisation]: the dongle is not available");
}

TEST_F(Transmission, NothingToSendOrAOneCharacterFrameEndsThePassYetSucceeds) {
    auto device = resource().openDevice();
    EXPECT_EQ(resource().transmit({}, 0, 0x80, device.get(), 3, 100), -1);
    EXPECT_TRUE(logged("frames are empty"));
    device.reset();
    EXPECT_EQ(send({}), 0);
    EXPECT_EQ(send(frames, 5, 0), 0);
    EXPECT_EQ(send(frames, 5, -3), 0);
    EXPECT_EQ(framesBroadcast(), 0);
    EXPECT_EQ(recorder.summary().back(), "ContinueTransmitEvent=0");
    ASSERT_EQ(send({"S020B112233445566", "S0A0B0C0D0E0F", "S", "S11223344556677"}, 5, 2), 0);
    EXPECT_EQ(framesBroadcast(), 4);
    EXPECT_FALSE(logged("sending frame to usb: S11223344556677"));
}

TEST_F(Transmission, ARefusedAcknowledgementIsNotAcceptedAndTheNextReportIsRead) {
    model.setRejectFrames(true);
    ASSERT_EQ(send({"S020B112233445566"}, 5, 1), 0);
    EXPECT_EQ(port.writes, 2);  // duty-cycle request and the one frame, never resent
    EXPECT_EQ(port.reads, 1 + 3);
    EXPECT_EQ(countLogged(timeout), 2);
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

TEST_F(Transmission, UnacknowledgedOrTooLongFramesArePassedOverNotResent) {
    model.setAcknowledgementsMuted(true);
    ASSERT_EQ(send(frames, 5, 1), 0);
    EXPECT_EQ(framesBroadcast(), 3);
    EXPECT_EQ(port.writes, 1 + 3);
    EXPECT_EQ(port.reads, 1 + 3 * 3);
    model.setAcknowledgementsMuted(false);
    ASSERT_EQ(send({"S" + std::string(66, 'A'), "S020B112233445566"}, 5, 1), 0);
    EXPECT_EQ(framesBroadcast(), 3 + 1);
    EXPECT_TRUE(logged("frame does not fit a report, not sent: S" + std::string(66, 'A')));
}

TEST_F(Transmission, DongleLostDuringAPassEndsOnlyThatPass) {
    model.unplugAfter(DongleModel::Request::Frame);
    present = false;
    ASSERT_EQ(send(frames, 5, 2), 0);
    EXPECT_EQ(framesBroadcast(), 1);
    EXPECT_EQ(recorder.summary().back(), "ContinueTransmitEvent=0");
    EXPECT_TRUE(logged(lostHandle));
}

TEST(DisplayStatusRecord, StartsClearAndKeepsTheWholeTimeText) {
    DisplayStatus status;
    EXPECT_FALSE(status.usbState || status.internetState || status.dutyState);
    status.setNextPortalConnectionTime("09:05");
    EXPECT_EQ(status.nextPortalConnectionTime(), "09:05");
}

}  // namespace
