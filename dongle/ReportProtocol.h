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

// Byte 0 of every report the agent sends, and of every buffer it reads into.
constexpr uint8_t outputReportId = 0x01;
constexpr uint8_t inputReportId = 0x02;

// Byte 2 of a request: what is asked.
constexpr uint8_t deviceInformationQuery = 0x00;
constexpr uint8_t dutyCycleQuery = 0x01;

// Byte 2 of an input report: what it answers. A frame counts as acknowledged
// with frameAnswer and frameAccepted, or statusAnswer and statusOk, in byte 4.
constexpr uint8_t deviceInformationAnswer = 0x80;
constexpr uint8_t dutyCycleAnswer = 0x81;
constexpr uint8_t frameAnswer = 0x82;
constexpr uint8_t statusAnswer = 0x90;
constexpr uint8_t frameAccepted = 0x01;
constexpr uint8_t statusOk = 0x00;

// Telegram byte D4 carries the transmit flag in bit 7 and the low three bits
// of the transmit counter in bits 4 to 6; its bits 0 to 2 are the frame's own.
constexpr uint8_t transmitFlagBit = 0x80;
constexpr uint8_t ownD4Bits = 0x07;
// The transmit counter's bits as they go into D4.
constexpr uint8_t counterBits(int32_t transmitCounter) {
    return static_cast<uint8_t>((transmitCounter & 0x07) << 4);
}

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
