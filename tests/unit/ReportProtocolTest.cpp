// The dongle's report formats: checksum, hex decoding, frame reports and answers.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "dongle/ReportProtocol.h"

namespace {

using namespace dongle;

ReportBuffer reportOf(std::initializer_list<uint8_t> head) {
    ReportBuffer report{};
    std::copy(head.begin(), head.end(), report.begin());
    return report;
}

uint8_t crcOf(const std::vector<uint8_t>& data) {
    return crc8_register(data.data(), data.size());
}

TEST(Checksum, KnownValuesAndTheDirectFormOnRandomData) {
    EXPECT_EQ(crcOf({'a', 'b', 'c'}), 0x84);
    EXPECT_EQ(crc8_register(nullptr, 0), 0x44);
    EXPECT_EQ(crcOf({0x11, 0x22, 0xD3, 0x44, 0x55, 0x66}), 0x2C);
    // Short known values miss faults that only longer data shows; the direct
    // form (polynomial 0x8C, start 0x44, MSB first) is the independent oracle.
    std::mt19937 random(12345);
    for (int round = 0; round < 200; ++round) {
        std::vector<uint8_t> data(random() % 40);
        uint8_t direct = 0x44;
        for (uint8_t& byte : data) {
            byte = static_cast<uint8_t>(random());
            direct ^= byte;
            for (int bit = 0; bit < 8; ++bit) {
                direct = static_cast<uint8_t>((direct << 1) ^ ((direct & 0x80) ? 0x8C : 0));
            }
        }
        EXPECT_EQ(crcOf(data), direct) << "round " << round;
    }
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
