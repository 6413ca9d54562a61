#include "storage/RunTimeData.h"

#include <algorithm>
#include <cstring>

#include "core/Text.h"

namespace {

// Field offsets in the stored record.
constexpr std::size_t helloTimeOffset = 0;
constexpr std::size_t transmitTimeOffset = 12;
constexpr std::size_t firmwareVersionOffset = 24;
constexpr std::size_t transmitCounterOffset = 32;
constexpr std::size_t serialNumberOffset = 36;
constexpr std::size_t helloReasonOffset = 60;
constexpr std::size_t framesOffset = 64;

void putUnsigned(RunTimeDataBytes& bytes, std::size_t offset, uint32_t value, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

uint32_t getUnsigned(const RunTimeDataBytes& bytes, std::size_t offset, std::size_t size) {
    uint32_t value = 0;
    for (std::size_t i = 0; i < size; ++i) {
        value |= static_cast<uint32_t>(bytes[offset + i]) << (8 * i);
    }
    return value;
}

void putTimeStamp(RunTimeDataBytes& bytes, std::size_t offset, const TimeStamp& time) {
    putUnsigned(bytes, offset, static_cast<uint32_t>(time.seconds), 4);
    putUnsigned(bytes, offset + 4, time.milliseconds, 2);
    putUnsigned(bytes, offset + 6, static_cast<uint16_t>(time.timezoneMinutesWest), 2);
    putUnsigned(bytes, offset + 8, static_cast<uint16_t>(time.daylightSaving), 2);
}

TimeStamp getTimeStamp(const RunTimeDataBytes& bytes, std::size_t offset) {
    TimeStamp time;
    time.seconds = static_cast<int32_t>(getUnsigned(bytes, offset, 4));
    time.milliseconds = static_cast<uint16_t>(getUnsigned(bytes, offset + 4, 2));
    time.timezoneMinutesWest = static_cast<int16_t>(getUnsigned(bytes, offset + 6, 2));
    time.daylightSaving = static_cast<int16_t>(getUnsigned(bytes, offset + 8, 2));
    return time;
}

void putText(RunTimeDataBytes& bytes, std::size_t offset, std::size_t width,
             const std::string& text) {
    const std::size_t length = std::min(text.size(), width - 1);
    std::memcpy(bytes.data() + offset, text.data(), length);
}

std::string getText(const RunTimeDataBytes& bytes, std::size_t offset, std::size_t width) {
    const auto* begin = reinterpret_cast<const char*>(bytes.data() + offset);
    const auto* terminator = static_cast<const char*>(std::memchr(begin, 0, width));
    const std::size_t length =
        terminator != nullptr ? static_cast<std::size_t>(terminator - begin) : width - 1;
    return std::string(begin, length);
}

}  // namespace

RunTimeDataBytes encodeRunTimeData(const RunTimeData& data) {
    RunTimeDataBytes bytes{};
    putTimeStamp(bytes, helloTimeOffset, data.nextHelloTime);
    putTimeStamp(bytes, transmitTimeOffset, data.nextTransmitTime);
    putText(bytes, firmwareVersionOffset, RunTimeData::firmwareVersionWidth, data.firmwareVersion);
    putUnsigned(bytes, transmitCounterOffset, static_cast<uint32_t>(data.transmitCounter), 4);
    putText(bytes, serialNumberOffset, RunTimeData::serialNumberWidth, data.serialNumber);
    putUnsigned(bytes, helloReasonOffset, static_cast<uint32_t>(data.helloReason), 4);
    putText(bytes, framesOffset, RunTimeData::framesWidth, data.frames);
    return bytes;
}

RunTimeData decodeRunTimeData(const std::vector<uint8_t>& stored) {
    RunTimeDataBytes bytes{};
    std::copy_n(stored.begin(), std::min(stored.size(), bytes.size()), bytes.begin());
    RunTimeData data;
    data.nextHelloTime = getTimeStamp(bytes, helloTimeOffset);
    data.nextTransmitTime = getTimeStamp(bytes, transmitTimeOffset);
    data.firmwareVersion = getText(bytes, firmwareVersionOffset, RunTimeData::firmwareVersionWidth);
    data.transmitCounter = static_cast<int32_t>(getUnsigned(bytes, transmitCounterOffset, 4));
    data.serialNumber = getText(bytes, serialNumberOffset, RunTimeData::serialNumberWidth);
    data.helloReason = static_cast<int32_t>(getUnsigned(bytes, helloReasonOffset, 4));
    data.frames = getText(bytes, framesOffset, RunTimeData::framesWidth);
    return data;
}

FrameList framesOf(const std::string& stored) {
    return splitTokens(stored, ",");
}

std::size_t storeFrames(const FrameList& frames, std::string& stored) {
    stored.clear();
    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (stored.size() + frames[i].size() + 1 > RunTimeData::framesWidth - 1) {
            // Later frames stay out too, so the kept ones keep their order
            // without a gap.
            return frames.size() - i;
        }
        stored += frames[i];
        stored += ',';
    }
    return 0;
}
