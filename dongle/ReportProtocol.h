#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/Log.h"

// The dongle's report formats. Every report is 36 bytes, report ID included;
// byte 2 of an input report says what it answers.
namespace dongle {

constexpr uint16_t vendorId = 0x5E91;
constexpr uint16_t productId = 0x2D4A;

constexpr uint8_t deviceInformationAnswer = 0x80;
constexpr uint8_t dutyCycleAnswer = 0x81;
constexpr uint8_t frameAnswer = 0x82;
constexpr uint8_t statusAnswer = 0x90;

// Digits after the command letter that still fit a report: 32 telegram bytes.
constexpr std::size_t maxFrameDigits = 64;

ReportBuffer deviceInformationRequest();
ReportBuffer dutyCycleRequest();

// Zeroed, with the input report ID in byte 0, as every read starts.
ReportBuffer clearedInputReport();

// The register-based checksum the dongle expects: start 0xFF, each byte fed
// in most significant bit first, then one zero byte. The direct form is
// CRC-8 with polynomial 0x8C, start 0x44.
uint8_t crc8_register(const uint8_t* data, std::size_t length);

// Decodes digit pairs into `bytes`. -1, with nothing written, for an odd
// number of digits, a character that is not a hexadecimal digit, or more
// pairs than `capacity`.
int hexToBytes(const std::string& text, uint8_t* bytes, std::size_t capacity);

// Builds the frame report for one frame text. Returns -1, leaving `report`
// all zero, for a frame that cannot be a report: more than maxFrameDigits
// digits, fewer than two telegram bytes (the report's fixed bytes 2 and 3
// would be overwritten), or a two-byte telegram whose first byte is 0x00 or
// 0x01 (the dongle would take its report for a request). Undecodable digits
// give an all-zero telegram.
int buildFrameReport(const std::string& frame, ReportBuffer& report, uint8_t counterBits,
                     uint8_t flagBits);

bool isAcknowledgement(const ReportBuffer& report);

struct DeviceInformation {
    std::string serialNumber;
    std::string radioAddress;
    std::string firmwareVersion;
    uint16_t firmwareValue = 0;
};

// The identity in a device-information answer. The serial number ends at the
// first zero byte; a firmware value above 9999 does not fit the four digits
// the agent keeps and gives an empty text.
DeviceInformation parseDeviceInformation(const ReportBuffer& report);

}  // namespace dongle
