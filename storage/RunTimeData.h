#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/FrameList.h"
#include "core/TimeStamp.h"

// The agent's state that outlives a run. On disk it is exactly one record of
// 10,304 bytes, little-endian, without header or checksum; each text field
// has a fixed width and holds at most one character less than that width.
struct RunTimeData {
    static constexpr std::size_t fileSize = 10304;
    static constexpr std::size_t firmwareVersionWidth = 5;
    static constexpr std::size_t serialNumberWidth = 21;
    static constexpr std::size_t framesWidth = 10240;

    TimeStamp nextHelloTime;
    TimeStamp nextTransmitTime;
    std::string firmwareVersion;
    int32_t transmitCounter = 0;
    std::string serialNumber;
    int32_t helloReason = 1;
    // Each frame followed by one comma.
    std::string frames;
};

using RunTimeDataBytes = std::array<uint8_t, RunTimeData::fileSize>;

// The record as stored. Texts longer than their field are cut so that the
// terminating zero always fits; reserved bytes are zero.
RunTimeDataBytes encodeRunTimeData(const RunTimeData& data);

// Reads a stored record. A short file leaves the missing tail as zeros and
// bytes past the record are ignored; a text without its terminator is cut at
// its field.
RunTimeData decodeRunTimeData(const std::vector<uint8_t>& bytes);

// The frame texts of a stored list: split at commas, empty pieces skipped.
FrameList framesOf(const std::string& stored);

// The stored text of a frame list, each frame followed by a comma. Only the
// leading whole frames that fit the field are kept: a frame cut short would
// be broadcast as a different frame. Returns the number of frames left out.
std::size_t storeFrames(const FrameList& frames, std::string& stored);
