// quorvel.ini: whoever can write beside the program decides its bytes.
// read() must take any of them and see the lines parseLine would be given.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/InitialConfiguration.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

bool sameSettings(const InitialConfiguration& a, const InitialConfiguration& b) {
    return a.getPortalServerHost() == b.getPortalServerHost() &&
           a.getPortalServerPort() == b.getPortalServerPort() &&
           a.getPortalServerUri() == b.getPortalServerUri() &&
           a.getSoftwareVersion() == b.getSoftwareVersion() && a.getReason() == b.getReason() &&
           a.getCyclicHelloIntervalOnError() == b.getCyclicHelloIntervalOnError() &&
           a.getCyclicUsbIntervalOnError() == b.getCyclicUsbIntervalOnError() &&
           a.getCyclicHelloIntervalOnDutyCycle() == b.getCyclicHelloIntervalOnDutyCycle() &&
           a.getSendFramesRepeat() == b.getSendFramesRepeat() &&
           a.getMaxUsbWriteBufferRetry() == b.getMaxUsbWriteBufferRetry() &&
           a.getMaxDutyCycleUtilisation() == b.getMaxDutyCycleUtilisation() &&
           a.getUsbWaitTimeout() == b.getUsbWaitTimeout() && a.getPartner() == b.getPartner() &&
           a.getProxy() == b.getProxy() && a.missingKeys() == b.missingKeys();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static const FuzzTempFile file("quorvel.ini");
    fuzzLoggingOn();
    if (!file.write(data, size)) {
        return 0;
    }
    InitialConfiguration read;
    read.setFilePath(file.path);
    FUZZ_CHECK(read.exists());
    read.read();

    InitialConfiguration parsed;
    const std::vector<std::string> lines =
        modelLines(std::string(reinterpret_cast<const char*>(data), size),
                   InitialConfiguration::maxLineLength);
    for (const std::string& line : lines) {
        parsed.parseLine(line);
    }
    FUZZ_CHECK(sameSettings(read, parsed));

    // A required key is missing exactly when no line starts with it and "=".
    const std::vector<std::string> missing = read.missingKeys();
    for (const char* key : {"PORTAL_SERVER_HOST", "PORTAL_SERVER_PORT", "USB_WAIT_TIMEOUT",
                            "PARTNER", "SEND_FRAMES_REPEAT"}) {
        const std::string prefix = std::string(key) + "=";
        const bool given = std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
            return line.compare(0, prefix.size(), prefix) == 0;
        });
        FUZZ_CHECK(given != (std::find(missing.begin(), missing.end(), key) != missing.end()));
    }
    const std::optional<std::string> proxy = read.getProxy();
    FUZZ_CHECK(!proxy || proxy->find(':') != std::string::npos);
    return 0;
}
