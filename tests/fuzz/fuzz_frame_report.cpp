// A frame text from the portal ("S" and hex digit pairs; the first input
// byte gives counter and flag) made the dongle's 36-byte frame report: length,
// telegram and checksum where the dongle looks, nothing written past it.

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dongle/ReportProtocol.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tools/donglesim/DongleModel.h"

namespace {

// The telegram bytes the digits stand for; all zero when they do not decode.
std::vector<uint8_t> telegramOf(const std::string& digits) {
    std::vector<uint8_t> bytes(digits.size() / 2 + 2, 0);
    const bool hex =
        digits.size() % 2 == 0 && std::all_of(digits.begin(), digits.end(), [](char c) {
            return std::isxdigit(static_cast<unsigned char>(c)) != 0;
        });
    for (std::size_t i = 0; hex && i < digits.size(); i += 2) {
        bytes[i / 2] = static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16));
    }
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const uint8_t counterBits = static_cast<uint8_t>((data[0] & 0x07) << 4);
    const uint8_t flagBits = (data[0] & 0x80) != 0 ? 0x80 : 0x00;
    const std::string frame(reinterpret_cast<const char*>(data + 1), size - 1);

    // On the heap at its exact size, so that a write past it is an ASan error.
    const auto report = std::make_unique<ReportBuffer>();
    report->fill(0xA5);
    const int result = dongle::buildFrameReport(frame, *report, counterBits, flagBits);

    const std::string digits = frame.empty() ? std::string() : frame.substr(1);
    const std::size_t n = digits.size() / 2;
    const std::vector<uint8_t> telegram = telegramOf(digits);
    // A two-byte telegram from 0x00 or 0x01 would read as one of the requests.
    const bool fits =
        digits.size() <= dongle::maxFrameDigits && n >= 2 && !(n == 2 && telegram[0] <= 0x01);
    FUZZ_CHECK((result == 0) == fits);
    if (!fits) {
        FUZZ_CHECK(*report == ReportBuffer{});
        return 0;
    }

    const ReportBuffer& r = *report;
    FUZZ_CHECK(r[0] == 0x01);
    FUZZ_CHECK(r[1] == n + 1);
    FUZZ_CHECK(r[2] == telegram[0]);
    FUZZ_CHECK(r[3] == 0xFF);
    for (std::size_t i = 2; i < n; ++i) {
        uint8_t byte = telegram[i];
        if (i == 4) {
            byte = static_cast<uint8_t>((byte & 0x07) | counterBits | flagBits);
        }
        FUZZ_CHECK(r[i + 2] == byte);
    }
    FUZZ_CHECK(r[n + 2] == dongle::crc8_register(r.data() + 4, n - 2));
    for (std::size_t i = n + 3; i < r.size(); ++i) {
        FUZZ_CHECK(r[i] == 0);
    }

    // The dongle's own reading of the report: a frame, checksum right.
    DongleModel model;
    FUZZ_CHECK(model.receive(r) == DongleModel::Request::Frame);
    FUZZ_CHECK(model.broadcast().size() == 1);
    FUZZ_CHECK(model.broadcast()[0].size() == n - 1);
    FUZZ_CHECK(model.broadcast()[0][0] == telegram[0]);
    ReportBuffer ack;
    FUZZ_CHECK(model.takeAnswer(ack) && dongle::isAcknowledgement(ack));
    return 0;
}
