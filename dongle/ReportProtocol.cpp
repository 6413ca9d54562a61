#include "dongle/ReportProtocol.h"

#include <algorithm>

#include "core/Text.h"

namespace dongle {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

constexpr uint8_t crcStart = 0xFF;
constexpr uint8_t crcPolynomial = 0x8C;

void feed(uint8_t& crc, uint8_t byte) {
    for (int bit = 0; bit < 8; ++bit) {
        const bool top = (crc & 0x80) != 0;
        crc = static_cast<uint8_t>((crc << 1) | (byte >> 7));
        byte = static_cast<uint8_t>(byte << 1);
        if (top) {
            crc ^= crcPolynomial;
        }
    }
}

std::string twoHexDigits(uint8_t byte) {
    static const char digits[] = "0123456789abcdef";
    return {digits[byte >> 4], digits[byte & 0x0F]};
}

// Byte 3 of every output report.
constexpr uint8_t reportMarker = 0xFF;
// Byte 1 of a request, as the dongle expects it.
constexpr uint8_t requestLength = 0x03;

ReportBuffer request(uint8_t what) {
    ReportBuffer report{};
    report[0] = outputReportId;
    report[1] = requestLength;
    report[2] = what;
    report[3] = reportMarker;
    return report;
}

}  // namespace

ReportBuffer deviceInformationRequest() {
    return request(deviceInformationQuery);
}

ReportBuffer dutyCycleRequest() {
    return request(dutyCycleQuery);
}

ReportBuffer clearedInputReport() {
    ReportBuffer report{};
    report[0] = inputReportId;
    return report;
}

uint8_t crc8_register(const uint8_t* data, std::size_t length) {
    uint8_t crc = crcStart;
    for (std::size_t i = 0; i < length; ++i) {
        feed(crc, data[i]);
    }
    feed(crc, 0);
    return crc;
}

int hexToBytes(const std::string& text, uint8_t* bytes, std::size_t capacity) {
    if (text.size() % 2 != 0 || text.size() / 2 > capacity) {
        return -1;
    }
    // Checked in full first, so a bad digit late in the text leaves nothing
    // half-decoded behind.
    if (!std::all_of(text.begin(), text.end(), [](char c) { return hexValue(c) >= 0; })) {
        return -1;
    }
    for (std::size_t i = 0; i < text.size(); i += 2) {
        bytes[i / 2] = static_cast<uint8_t>(hexValue(text[i]) * 16 + hexValue(text[i + 1]));
    }
    return 0;
}

int buildFrameReport(const std::string& frame, ReportBuffer& report, uint8_t counterBits,
                     uint8_t flagBits) {
    report.fill(0);
    const std::string digits = frame.empty() ? std::string() : frame.substr(1);
    const std::size_t n = digits.size() / 2;
    if (digits.size() > maxFrameDigits || n < 2) {
        return -1;
    }
    ReportBuffer telegramBuffer{};
    hexToBytes(digits, telegramBuffer.data(), telegramBuffer.size());
    // A two-byte telegram starting 0x00 or 0x01 gives the very head of the
    // device-information or duty-cycle request (01 03 00|01 FF): the dongle
    // would answer that query and never broadcast the frame.
    if (n == 2 && (telegramBuffer[0] == deviceInformationQuery ||
                   telegramBuffer[0] == dutyCycleQuery)) {
        return -1;
    }

    report[0] = outputReportId;
    report[1] = static_cast<uint8_t>(n + 1);
    report[2] = telegramBuffer[0];
    report[3] = reportMarker;
    // n bytes from D2 on: the telegram's D2..Dn-1 and the two zero bytes
    // after it, the first of which the checksum replaces. n <= 32 keeps both
    // ranges inside their 36 bytes.
    std::copy_n(telegramBuffer.begin() + 2, n, report.begin() + 4);
    // The counter and flag belong to telegram byte D4; a shorter telegram has
    // no such byte, and the report stays zero after its checksum.
    if (n >= 5) {
        report[6] = static_cast<uint8_t>((report[6] & ownD4Bits) | counterBits | flagBits);
    }
    report[n + 2] = crc8_register(report.data() + 4, n - 2);
    return 0;
}

bool isAcknowledgement(const ReportBuffer& report) {
    return (report[2] == frameAnswer && report[4] == frameAccepted) ||
           (report[2] == statusAnswer && report[4] == statusOk);
}

DeviceInformation parseDeviceInformation(const ReportBuffer& report) {
    DeviceInformation info;
    const auto serialBegin = report.begin() + 4;
    const auto serialEnd = std::find(serialBegin, serialBegin + 10, uint8_t{0});
    info.serialNumber.assign(serialBegin, serialEnd);
    info.radioAddress = twoHexDigits(report[14]) + twoHexDigits(report[15]);
    info.firmwareValue = static_cast<uint16_t>((report[16] << 8) | report[17]);
    if (info.firmwareValue <= 9999) {
        info.firmwareVersion = decimalText(info.firmwareValue);
    }
    return info;
}

}  // namespace dongle
