// The dongle's report formats: checksum, hex decoding, frame reports and the
// answers the agent reads.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "dongle/ReportProtocol.h"
#include "dongle/USBResource.h"

namespace {

using dongle::buildFrameReport;
using dongle::crc8_register;
using dongle::hexToBytes;

// The textbook direct form: polynomial 0x8C, start 0x44, MSB first.
uint8_t directCrc(const std::vector<uint8_t>& data) {
    uint8_t crc = 0x44;
    for (uint8_t byte : data) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x80) ? static_cast<uint8_t>((crc << 1) ^ 0x8C)
                               : static_cast<uint8_t>(crc << 1);
        }
    }
    return crc;
}

ReportBuffer reportOf(std::initializer_list<uint8_t> head) {
    ReportBuffer report{};
    std::copy(head.begin(), head.end(), report.begin());
    return report;
}

TEST(Checksum, KnownValues) {
    const std::string abc = "abc";
    EXPECT_EQ(crc8_register(reinterpret_cast<const uint8_t*>(abc.data()), 3), 0x84);
    EXPECT_EQ(crc8_register(nullptr, 0), 0x44);
    const uint8_t example[] = {0x11, 0x22, 0xD3, 0x44, 0x55, 0x66};
    EXPECT_EQ(crc8_register(example, sizeof example), 0x2C);
}

TEST(Checksum, RegisterFormEqualsDirectFormOnRandomData) {
    std::mt19937 random(12345);
    for (int round = 0; round < 200; ++round) {
        std::vector<uint8_t> data(random() % 40);
        for (uint8_t& byte : data) {
            byte = static_cast<uint8_t>(random());
        }
        EXPECT_EQ(crc8_register(data.data(), data.size()), directCrc(data)) << "round " << round;
    }
}

TEST(HexToBytes, DecodesPairsInEitherCase) {
    uint8_t bytes[4] = {};
    ASSERT_EQ(hexToBytes("0aFf1B", bytes, sizeof bytes), 0);
    EXPECT_EQ(bytes[0], 0x0A);
    EXPECT_EQ(bytes[1], 0xFF);
    EXPECT_EQ(bytes[2], 0x1B);
    EXPECT_EQ(bytes[3], 0x00);
    EXPECT_EQ(USBResource::hexToBytes("", bytes, sizeof bytes), 0);
}

TEST(HexToBytes, RefusesOddBadOrOversizedTextsWithoutWriting) {
    const std::vector<std::string> refused = {"abc", "0g", "12 4", "zz", "0102030405"};
    for (const std::string& text : refused) {
        uint8_t bytes[5] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
        // Capacity 4, so the last text is one pair too long.
        EXPECT_EQ(hexToBytes(text, bytes, 4), -1) << text;
        for (uint8_t byte : bytes) {
            EXPECT_EQ(byte, 0xEE) << text;
        }
    }
}

class FrameReport : public ::testing::Test {
  protected:
    ReportBuffer report{};
};

TEST_F(FrameReport, ExampleFrameWithCounterFiveAndFlag) {
    ASSERT_EQ(USBResource::buildFrameReport("S020B112233445566", report, 5 << 4, 0x80), 0);
    const ReportBuffer expected =
        reportOf({0x01, 0x09, 0x02, 0xFF, 0x11, 0x22, 0xD3, 0x44, 0x55, 0x66, 0x2C});
    EXPECT_EQ(report, expected) << hexDump(report);
}

TEST_F(FrameReport, FlagOffAndLowBitsKept) {
    // D4 = 0x3F: bits 0..2 kept, bit 3 cleared, counter 7 in bits 4..6.
    ASSERT_EQ(buildFrameReport("s00001122"
                               "3F4455",
                               report, 7 << 4, 0x00),
              0);
    EXPECT_EQ(report[6], 0x77);
    EXPECT_EQ(report[9], crc8_register(report.data() + 4, 5));
}

TEST_F(FrameReport, OddDigitCountSendsAnAllZeroTelegram) {
    // 9 digits: n = 4, nothing decoded.
    ASSERT_EQ(buildFrameReport("S0B1122334", report, 0x50, 0x80), 0);
    const uint8_t zeros[2] = {};
    EXPECT_EQ(report, reportOf({0x01, 0x05, 0x00, 0xFF, 0x00, 0x00, crc8_register(zeros, 2)}));
}

TEST_F(FrameReport, NonHexDigitsSendAnAllZeroTelegram) {
    ASSERT_EQ(buildFrameReport("S02XY112233445566", report, 0, 0), 0);
    EXPECT_EQ(report[1], 0x09);
    EXPECT_EQ(report[2], 0x00);
    for (int i = 4; i < 10; ++i) {
        EXPECT_EQ(report[i], 0x00) << i;
    }
    const uint8_t zeros[6] = {};
    EXPECT_EQ(report[10], crc8_register(zeros, 6));
}

TEST_F(FrameReport, SixtyFourDigitsFillTheReportExactly) {
    std::string frame = "S";
    for (int i = 0; i < 32; ++i) {
        const char digits[] = "0123456789ABCDEF";
        frame += digits[(i >> 4) & 0x0F];
        frame += digits[i & 0x0F];
    }
    ASSERT_EQ(buildFrameReport(frame, report, 0, 0x80), 0);
    EXPECT_EQ(report[1], 33);
    EXPECT_EQ(report[2], 0x00);
    EXPECT_EQ(report[4], 0x02);
    EXPECT_EQ(report[33], 0x1F);  // D31, the telegram's last byte
    EXPECT_EQ(report[34], crc8_register(report.data() + 4, 30));
    EXPECT_EQ(report[35], 0x00);
}

TEST_F(FrameReport, LongerFramesAreRefusedAndLeaveTheReportZero) {
    report.fill(0xAA);
    EXPECT_EQ(buildFrameReport("S" + std::string(66, '1'), report, 0, 0x80), -1);
    EXPECT_EQ(report, ReportBuffer{});
    report.fill(0xAA);
    // 65 digits: odd as well as too long.
    EXPECT_EQ(buildFrameReport("S" + std::string(65, '1'), report, 0, 0x80), -1);
    EXPECT_EQ(report, ReportBuffer{});
}

TEST_F(FrameReport, TelegramsShorterThanTwoBytesAreRefused) {
    EXPECT_EQ(buildFrameReport("S12", report, 0, 0x80), -1);
    EXPECT_EQ(buildFrameReport("S1", report, 0, 0x80), -1);
    EXPECT_EQ(buildFrameReport("", report, 0, 0x80), -1);
    EXPECT_EQ(buildFrameReport("S1234", report, 0, 0x80), 0);
    EXPECT_EQ(report, reportOf({0x01, 0x03, 0x12, 0xFF, 0x44}));
}

TEST_F(FrameReport, ShortTelegramsLeaveEverythingAfterTheChecksumZero) {
    // n = 3: checksum in byte 5; byte 6 is past it and gets no flag bits.
    ASSERT_EQ(buildFrameReport("S010203", report, 0x70, 0x80), 0);
    EXPECT_EQ(report[4], 0x03);
    EXPECT_EQ(report[5], crc8_register(report.data() + 4, 1));
    for (std::size_t i = 6; i < report.size(); ++i) {
        EXPECT_EQ(report[i], 0) << i;
    }
    // n = 4: byte 6 is the checksum itself.
    ASSERT_EQ(buildFrameReport("S01020304", report, 0x70, 0x80), 0);
    EXPECT_EQ(report[5], 0x04);
    EXPECT_EQ(report[6], crc8_register(report.data() + 4, 2));
}

TEST(Answers, AcknowledgementForms) {
    EXPECT_TRUE(dongle::isAcknowledgement(reportOf({2, 0, 0x82, 0, 0x01})));
    EXPECT_TRUE(dongle::isAcknowledgement(reportOf({2, 0, 0x90, 0, 0x00})));
    EXPECT_FALSE(dongle::isAcknowledgement(reportOf({2, 0, 0x82, 0, 0x00})));
    EXPECT_FALSE(dongle::isAcknowledgement(reportOf({2, 0, 0x90, 0, 0x01})));
    EXPECT_FALSE(dongle::isAcknowledgement(reportOf({2, 0, 0x81, 0, 0x01})));
}

TEST(Answers, DeviceInformation) {
    ReportBuffer answer = reportOf({2, 0, 0x80, 0xFF, 'Q', 'V', '0', '0', '0', '0', '0', '0', '4',
                                    '2', 0x0A, 0xFF, 0x01, 0x02, 'x'});
    dongle::DeviceInformation info = dongle::parseDeviceInformation(answer);
    EXPECT_EQ(info.serialNumber, "QV00000042");
    EXPECT_EQ(info.radioAddress, "0aff");
    EXPECT_EQ(info.firmwareVersion, "258");

    answer[8] = 0;  // a shorter serial number ends at its zero byte
    answer[14] = 0x00;
    answer[15] = 0x05;
    answer[16] = 0x27;
    answer[17] = 0x0F;  // 9999
    info = dongle::parseDeviceInformation(answer);
    EXPECT_EQ(info.serialNumber, "QV00");
    EXPECT_EQ(info.radioAddress, "0005");
    EXPECT_EQ(info.firmwareVersion, "9999");

    answer[17] = 0x10;  // 10000 does not fit four digits
    info = dongle::parseDeviceInformation(answer);
    EXPECT_EQ(info.firmwareValue, 10000);
    EXPECT_EQ(info.firmwareVersion, "");
}

TEST(Requests, FixedLayouts) {
    EXPECT_EQ(dongle::deviceInformationRequest(), reportOf({0x01, 0x03, 0x00, 0xFF}));
    EXPECT_EQ(dongle::dutyCycleRequest(), reportOf({0x01, 0x03, 0x01, 0xFF}));
    EXPECT_EQ(dongle::clearedInputReport(), reportOf({0x02}));
}

}  // namespace
