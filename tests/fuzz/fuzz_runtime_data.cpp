// quorvel.dat: any local user may change it and a crash mid-write may leave
// anything. Decoding, encoding and decoding again must settle on one record,
// and the frame list survive its own storing.

#include <cstddef>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "storage/RunTimeData.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

auto fieldsOf(const RunTimeData& d) {
    return std::tie(d.nextHelloTime, d.nextTransmitTime, d.firmwareVersion, d.transmitCounter,
                    d.serialNumber, d.helloReason, d.frames);
}

RunTimeData decoded(const RunTimeDataBytes& bytes) {
    return decodeRunTimeData(std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const RunTimeData first = decodeRunTimeData(std::vector<uint8_t>(data, data + size));
    FUZZ_CHECK(first.firmwareVersion.size() < RunTimeData::firmwareVersionWidth);
    FUZZ_CHECK(first.serialNumber.size() < RunTimeData::serialNumberWidth);
    FUZZ_CHECK(first.frames.size() < RunTimeData::framesWidth);

    const RunTimeDataBytes encoded = encodeRunTimeData(first);
    const RunTimeData second = decoded(encoded);
    FUZZ_CHECK(fieldsOf(first) == fieldsOf(second));
    FUZZ_CHECK(encodeRunTimeData(second) == encoded);

    // The stored frame list as the transmit cycle reads and rewrites it.
    const FrameList frames = framesOf(first.frames);
    for (const std::string& frame : frames) {
        FUZZ_CHECK(!frame.empty() && frame.find(',') == std::string::npos);
    }
    std::string restored;
    const std::size_t leftOut = storeFrames(frames, restored);
    FUZZ_CHECK(leftOut <= frames.size());
    FUZZ_CHECK(restored.size() < RunTimeData::framesWidth);
    FUZZ_CHECK(framesOf(restored) ==
               FrameList(frames.begin(), frames.end() - static_cast<long>(leftOut)));
    RunTimeData rewritten = first;
    rewritten.frames = restored;
    FUZZ_CHECK(decoded(encodeRunTimeData(rewritten)).frames == restored);
    return 0;
}
