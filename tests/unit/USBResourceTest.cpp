// The dongle's report formats, and USBResource for what the cycles do not reach: discovery,
// bounded transfers, each failure.

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

namespace {

using Strings = std::vector<std::string>;

const char donglePath[] = "\\\\?\\hid#vid_5e91&pid_2d4a#7&1a2b3c&0&0000#{4d1e55b2}";
const std::string noDongle = "no device found! cannot create handle of device[USBResource::";

class USBResourceTest : public ::testing::Test {
  protected:
    USBResourceTest() {
        setLoggingEnabled(true);
        setDongleDevice({});
        model.setBaseUtilisation(50);
    }
    ~USBResourceTest() override { setDongleDevice({}); }

    void attachDongle() {
        port.devices.push_back({donglePath, dongle::vendorId, dongle::productId, {36, 36}, &model});
    }
    int send(const FrameList& list, int32_t counter = 5, int32_t repeat = 1, int32_t maxDuty = 50) {
        return usb.start(true, list, counter, repeat, 3, maxDuty, 100);
    }
    int read() { return usb.getDeviceInfos(serial, firmware, radio, 100); }

    FakeMainWindow window;
    LogCapture capture{window};
    DongleModel model;
    FakeHidPort port;
    bool present = true;
    USBResource usb{port, [this] { return present; }};
    EventRecorder recorder;
    std::string serial = "old", firmware = "old", radio = "old";
    const FrameList frames = {"S020B112233445566", "S0A0B0C0D0E0F", "S11223344556677"};
};

// Which device is the dongle is the HID port's choice (the Windows adapter's tests and Wine).
TEST_F(USBResourceTest, TransfersStayWithinTheReportAndFailOnceTheDongleIsGone) {
    attachDongle();
    port.devices.back().capabilities = {64, 65};
    auto device = usb.openDevice();
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(dongleDevice().path, donglePath);

    ReportBuffer buffer{};
    EXPECT_EQ(usb.sendReport(dongle::dutyCycleRequest(), device.get(), 100), 0);
    EXPECT_EQ(usb.receiveReport(buffer, device.get(), 100), 0);
    EXPECT_EQ(port.lastWriteLength, 36u);
    EXPECT_EQ(port.lastReadLength, 36u);
    EXPECT_EQ(usb.receiveReport(buffer, device.get(), -5), -1);
    EXPECT_EQ(port.lastTimeout, 0u);  // a negative time-out means no wait
    model.unplug();
    EXPECT_EQ(usb.sendReport(buffer, device.get(), 100), -2);
    EXPECT_EQ(usb.receiveReport(buffer, device.get(), 100), -2);
    EXPECT_EQ(usb.openDevice(), nullptr);
    EXPECT_TRUE(isDonglePath(donglePath));  // a failed discovery keeps the last path
}

TEST(DonglePath, ComparedWithAsciiLettersFolded) {
    setDongleDevice({"\\\\?\\HID#Vid_5E91&PID_2d4a#x", {}});
    EXPECT_TRUE(isDonglePath("\\\\?\\hid#vid_5e91&pid_2D4A#X"));
    EXPECT_FALSE(isDonglePath("\\\\?\\hid#vid_5e91&pid_2d4a#x#"));
    setDongleDevice({"\xC4x", {}});  // bytes beyond ASCII must match exactly
    EXPECT_FALSE(isDonglePath("\xE4x"));
    setDongleDevice({});
    EXPECT_FALSE(isDonglePath(""));
}

TEST_F(USBResourceTest, TheIdentityIsReadPastOtherAnswersOrTheHelloEndsWithoutIt) {
    recorder.listenTo(usb);
    const Strings ended{"NotifyUSBStateEvent=0", "ContinueHelloEvent="};
    attachDongle();
    model.setSilent(true);
    EXPECT_EQ(read(), -1);
    EXPECT_EQ(port.reads, 10);
    present = false;  // a removal notice stops at the first time-out
    EXPECT_EQ(read(), -1);
    EXPECT_EQ(port.reads, 10 + 1);
    EXPECT_EQ(recorder.events, (Strings{ended[0], ended[1], ended[0], ended[1]}));
    EXPECT_EQ(serial, "old");

    present = true;
    model.setSilent(false);
    model.setWrongAnswersBeforeEach(9);
    model.setIdentity({"QV12345678", 0x0AFF, 10000});
    recorder.events.clear();
    ASSERT_EQ(read(), 0);
    EXPECT_EQ(serial + " " + firmware + " " + radio, "QV12345678  0aff");
    EXPECT_EQ(port.reads, 11 + 10);
    EXPECT_EQ(recorder.events, Strings{"NotifyUSBStateEvent=1"});
    EXPECT_EQ(port.openDevices, 0);
}

// (A silent or missing dongle's query: ASilentOrMissingDongleSendsNothing.)
TEST_F(USBResourceTest, ASlowDutyCycleAnswerIsStillRead) {
    attachDongle();
    model.setAnswerDelay(150);
    EXPECT_EQ(usb.getDutyCycleUtilisation(100), 50);
}

TEST_F(USBResourceTest, EveryFrameIsSentRepeatTimesEachAfterItsAcknowledgement) {
    attachDongle();
    ASSERT_EQ(send(frames, 5, 2), 0);
    EXPECT_EQ(model.broadcast().size(), 6u);
    EXPECT_EQ(port.reads, 1 + 6);  // the duty cycle, then each frame's acknowledgement
    EXPECT_EQ(port.openDevices, 0);

    // The status answer acknowledges as well.
    model.setStatusStyleAcknowledgement(true);
    const int reads = port.reads;
    ASSERT_EQ(send({"S020B112233445566", "S0A0B0C0D0E0F"}), 0);
    EXPECT_EQ(port.reads, reads + 1 + 2);
}

// A frame is never sent twice, nor one too long or of one character.
TEST_F(USBResourceTest, FramesTheDongleDoesNotAcknowledgeArePassedOverNotResent) {
    attachDongle();
    model.setRejectFrames(true);
    ASSERT_EQ(send({"S020B112233445566"}), 0);
    EXPECT_EQ(port.writes, 2);  // duty-cycle request and the one frame
    EXPECT_EQ(port.reads, 1 + 3);

    model.setRejectFrames(false);
    model.setAcknowledgementsMuted(true);
    ASSERT_EQ(send(frames), 0);
    EXPECT_EQ(port.writes, 2 + 1 + 3);
    EXPECT_EQ(port.reads, 4 + 1 + 3 * 3);
    model.setAcknowledgementsMuted(false);
    model.clearHistory();
    ASSERT_EQ(send({"S" + std::string(66, 'A'), "S020B112233445566"}), 0);
    EXPECT_EQ(model.broadcast().size(), 1u);
    // A one-character frame ends the pass; nothing to send, or no passes, succeed.
    ASSERT_EQ(send({"S020B112233445566", "S", "S11223344556677"}, 5, 2), 0);
    EXPECT_EQ(model.broadcast().size(), 1u + 2u);
    EXPECT_EQ(send({}), 0);
    EXPECT_EQ(send(frames, 5, 0), 0);
    EXPECT_EQ(send(frames, 5, -3), 0);
    EXPECT_EQ(model.broadcast().size(), 3u);
}

TEST_F(USBResourceTest, ASilentOrMissingDongleSendsNothing) {
    attachDongle();
    recorder.listenTo(usb);
    model.setSilent(true);
    for (const std::string& log :
         {std::string("no response from USB!"),
          noDongle + "getDutyCycleUtilisation]: the dongle is not available"}) {
        recorder.events.clear();
        EXPECT_EQ(send(frames, 5, 2), -1) << log;
        EXPECT_TRUE(model.broadcast().empty()) << log;
        EXPECT_EQ(recorder.events, (Strings{"NotifyUSBStateEvent=0", "ContinueTransmitEvent=2"}))
            << log;
        EXPECT_TRUE(window.logged(log)) << log;
        EXPECT_EQ(port.openDevices, 0) << log;
        port.devices.clear();
    }
}

using namespace dongle;

ReportBuffer reportOf(std::initializer_list<uint8_t> head) {
    ReportBuffer report{};
    std::copy(head.begin(), head.end(), report.begin());
    return report;
}

TEST(FrameReport, LayoutCounterFlagAndChecksum) {
    struct Case {
        std::string frame;
        uint8_t counter, flag;
        ReportBuffer expected;
    };
    const Case cases[] = {
        // Hex digits in either case.
        {"S020b112233445566", 5 << 4, 0x80,
         reportOf({0x01, 0x09, 0x02, 0xFF, 0x11, 0x22, 0xD3, 0x44, 0x55, 0x66, 0x2C})},
        // D4 = 0x3F: bits 0..2 kept, bit 3 cleared, counter 7 in bits 4..6.
        {"s000011223F4456", 7 << 4, 0x00,
         reportOf({0x01, 0x08, 0x00, 0xFF, 0x11, 0x22, 0x77, 0x44, 0x56, 0x18})},
        // Odd digit count or non-hex digits: an all-zero telegram of that length.
        {"S0B1122334", 0x50, 0x80, reportOf({0x01, 0x05, 0x00, 0xFF, 0x00, 0x00, 0x88})},
        {"S02XY112233445566", 0, 0, reportOf({0x01, 0x09, 0x00, 0xFF, 0, 0, 0, 0, 0, 0, 0xB4})},
        // Telegrams without a D4 get no flag bits and nothing after the checksum.
        {"S1234", 0x70, 0x80, reportOf({0x01, 0x03, 0x12, 0xFF, 0x44})},
        {"S01020304", 0x70, 0x80, reportOf({0x01, 0x05, 0x01, 0xFF, 0x03, 0x04, 0xEC})},
    };
    for (const Case& c : cases) {
        ReportBuffer report;
        report.fill(0xAA);
        ASSERT_EQ(buildFrameReport(c.frame, report, c.counter, c.flag), 0) << c.frame;
        EXPECT_EQ(report, c.expected) << c.frame << ": " << hexDump(report);
    }
}

TEST(FrameReport, SixtyFourDigitsFillTheReportExactly) {
    std::string frame = "S";
    ReportBuffer expected = reportOf({0x01, 33, 0x00, 0xFF});
    for (int i = 0; i < 32; ++i) {
        frame += "0123456789ABCDEF"[i >> 4];
        frame += "0123456789ABCDEF"[i & 0x0F];
        if (i >= 2) {
            expected[i + 2] = static_cast<uint8_t>(i);
        }
    }
    expected[6] = 0x84;
    expected[34] = 0x18;
    ReportBuffer report{};
    ASSERT_EQ(buildFrameReport(frame, report, 0, 0x80), 0);
    EXPECT_EQ(report, expected) << hexDump(report);
}

// Found by fuzzing: 01 03 00|01 FF heads the dongle's own queries, which it answers instead.
TEST(FrameReport, FramesThatCannotBeSentAreRefusedAndLeaveTheReportZero) {
    for (const std::string& frame :
         {"S" + std::string(66, '1'), "S" + std::string(65, '1'), std::string("S12"),
          std::string("S1"), std::string(), std::string("S0012"), std::string("S01FF"),
          std::string("S1\x11"
                      "22"),
          std::string("S0G12")}) {
        ReportBuffer report;
        report.fill(0xAA);
        EXPECT_EQ(buildFrameReport(frame, report, 0, 0x80), -1) << frame;
        EXPECT_EQ(report, ReportBuffer{}) << frame;
    }
}

// A shorter serial number ends at its zero byte; 9999 is the largest firmware that fits.
TEST(Answers, DeviceInformation) {
    const DeviceInformation info =
        parseDeviceInformation(reportOf({2, 0, 0x80, 0xFF, 'Q', 'V', '0', '0', 0, '0', '0', '0',
                                         '4', '2', 0x00, 0x05, 0x27, 0x0F}));
    EXPECT_EQ(info.serialNumber + " " + info.radioAddress + " " + info.firmwareVersion,
              "QV00 0005 9999");
}

}  // namespace
