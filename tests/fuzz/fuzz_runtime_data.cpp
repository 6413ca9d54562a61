// The run-time data file quorvel.dat: any local user may change it (the data
// folder is writable by all), and a crash mid-write could leave anything.
// Whatever it holds, decoding, encoding and decoding again must settle on the
// same record, and the frame list must survive its own storing.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "storage/RunTimeData.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

bool sameTime(const TimeStamp& a, const TimeStamp& b) {
    return a.seconds == b.seconds && a.milliseconds == b.milliseconds &&
           a.timezoneMinutesWest == b.timezoneMinutesWest && a.daylightSaving == b.daylightSaving;
}

bool sameRecord(const RunTimeData& a, const RunTimeData& b) {
    return sameTime(a.nextHelloTime, b.nextHelloTime) &&
           sameTime(a.nextTransmitTime, b.nextTransmitTime) &&
           a.firmwareVersion == b.firmwareVersion && a.transmitCounter == b.transmitCounter &&
           a.serialNumber == b.serialNumber && a.helloReason == b.helloReason &&
           a.frames == b.frames;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::vector<uint8_t> stored(data, data + size);
    const RunTimeData first = decodeRunTimeData(stored);
    FUZZ_CHECK(first.firmwareVersion.size() < RunTimeData::firmwareVersionWidth);
    FUZZ_CHECK(first.serialNumber.size() < RunTimeData::serialNumberWidth);
    FUZZ_CHECK(first.frames.size() < RunTimeData::framesWidth);

    const RunTimeDataBytes encoded = encodeRunTimeData(first);
    const RunTimeData second =
        decodeRunTimeData(std::vector<uint8_t>(encoded.begin(), encoded.end()));
    if (!sameRecord(first, second)) {
        __builtin_trap();
    }
    if (encodeRunTimeData(second) != encoded) {
        __builtin_trap();
    }

    // The stored frame list as the transmit cycle reads and rewrites it.
    const FrameList frames = framesOf(first.frames);
    for (const std::string& frame : frames) {
        FUZZ_CHECK(!frame.empty() && frame.find(',') == std::string::npos);
    }
    std::string restored;
    const std::size_t leftOut = storeFrames(frames, restored);
    FUZZ_CHECK(leftOut <= frames.size());
    FUZZ_CHECK(restored.size() < RunTimeData::framesWidth);
    const FrameList kept = framesOf(restored);
    if (kept != FrameList(frames.begin(), frames.end() - static_cast<long>(leftOut))) {
        __builtin_trap();
    }
    RunTimeData rewritten = first;
    rewritten.frames = restored;
    const RunTimeDataBytes again = encodeRunTimeData(rewritten);
    if (decodeRunTimeData(std::vector<uint8_t>(again.begin(), again.end())).frames != restored) {
        __builtin_trap();
    }
    return 0;
}
