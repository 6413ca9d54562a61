#include <gtest/gtest.h>

#include "storage/RunTimeData.h"

namespace {

TimeStamp stamp(int32_t seconds, uint16_t milliseconds, int16_t zone, int16_t dst) {
    TimeStamp time;
    time.seconds = seconds;
    time.milliseconds = milliseconds;
    time.timezoneMinutesWest = zone;
    time.daylightSaving = dst;
    return time;
}

RunTimeData sample() {
    RunTimeData data;
    data.nextHelloTime = stamp(0x11223344, 999, -60, 1);
    data.nextTransmitTime = stamp(-2, 7, 300, 0);
    data.firmwareVersion = "258";
    data.transmitCounter = -3;
    data.serialNumber = "SN00000042";
    data.helloReason = 5;
    data.frames = "S0102,S0A0B,";
    return data;
}

TEST(RunTimeDataFile, MatchesTheRecordLayoutByteForByte) {
    // Built by hand from the offset table, independently of the encoder.
    std::vector<uint8_t> expected(10304, 0);
    const uint8_t helloTime[] = {0x44, 0x33, 0x22, 0x11, 0xE7, 0x03, 0xC4, 0xFF, 0x01, 0x00};
    std::copy(std::begin(helloTime), std::end(helloTime), expected.begin());
    const uint8_t transmitTime[] = {0xFE, 0xFF, 0xFF, 0xFF, 0x07, 0x00, 0x2C, 0x01, 0x00, 0x00};
    std::copy(std::begin(transmitTime), std::end(transmitTime), expected.begin() + 12);
    expected[24] = '2';
    expected[25] = '5';
    expected[26] = '8';
    const uint8_t counter[] = {0xFD, 0xFF, 0xFF, 0xFF};
    std::copy(std::begin(counter), std::end(counter), expected.begin() + 32);
    const std::string serial = "SN00000042";
    std::copy(serial.begin(), serial.end(), expected.begin() + 36);
    expected[60] = 5;
    const std::string frames = "S0102,S0A0B,";
    std::copy(frames.begin(), frames.end(), expected.begin() + 64);

    const RunTimeDataBytes encoded = encodeRunTimeData(sample());
    EXPECT_EQ(std::vector<uint8_t>(encoded.begin(), encoded.end()), expected);
    // Read back, with bytes beyond the record ignored.
    expected.resize(20000, 'X');
    EXPECT_EQ(encodeRunTimeData(decodeRunTimeData(expected)), encoded);
}

TEST(RunTimeDataFile, AShortFileLeavesTheTailAsZeros) {
    const RunTimeDataBytes encoded = encodeRunTimeData(sample());
    const RunTimeData decoded = decodeRunTimeData({encoded.begin(), encoded.begin() + 60});
    EXPECT_EQ(decoded.serialNumber, "SN00000042");
    EXPECT_EQ(decoded.helloReason, 0);
    EXPECT_EQ(decoded.frames, "");
    EXPECT_EQ(decodeRunTimeData({}).nextHelloTime, TimeStamp{});
}

TEST(RunTimeDataFields, TextsAreCutAtTheirFieldReadOrWritten) {
    RunTimeData blank;
    blank.helloReason = 0;
    RunTimeDataBytes bytes = encodeRunTimeData(blank);
    std::fill(bytes.begin() + 24, bytes.begin() + 29, '9');  // firmware: no zero
    std::fill(bytes.begin() + 36, bytes.begin() + 57, 'A');  // serial: no zero
    std::fill(bytes.begin() + 64, bytes.end(), 'S');         // frames: no zero
    const RunTimeData decoded = decodeRunTimeData({bytes.begin(), bytes.end()});
    EXPECT_EQ(decoded.firmwareVersion, "9999");
    EXPECT_EQ(decoded.serialNumber, std::string(20, 'A'));
    EXPECT_EQ(decoded.frames.size(), 10239u);
    // The neighbouring fields were not read into the texts.
    EXPECT_EQ(decoded.transmitCounter, 0);
    EXPECT_EQ(decoded.helloReason, 0);

    // Written overlong, they are cut so that the terminator fits.
    RunTimeData overlong;
    overlong.firmwareVersion = "123456";
    overlong.serialNumber = std::string(30, 'B');
    bytes = encodeRunTimeData(overlong);
    EXPECT_EQ(bytes[28], 0);  // firmware keeps 4 characters and its zero
    EXPECT_EQ(bytes[56], 0);
    EXPECT_EQ(bytes[32], 0);  // the counter after the field is untouched
    const RunTimeData cut = decodeRunTimeData({bytes.begin(), bytes.end()});
    EXPECT_EQ(cut.firmwareVersion + " " + cut.serialNumber, "1234 " + std::string(20, 'B'));
}

TEST(FrameStore, AListThatExactlyFillsTheFieldIsKept) {
    std::string stored;
    EXPECT_EQ(storeFrames({std::string(10238, 'S')}, stored), 0u);
    EXPECT_EQ(stored.size(), 10239u);
    EXPECT_EQ(storeFrames({std::string(10239, 'S')}, stored), 1u);
    EXPECT_EQ(stored, "");
}

}  // namespace
