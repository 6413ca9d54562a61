#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// How one bounded transfer ended.
enum class TransferResult {
    Completed,  // the report went out or came in within the time-out
    TimedOut,   // nothing within the time-out; the transfer was cancelled
    Failed,     // the system refused or broke off the transfer
};

// The report lengths a HID device declares, report ID byte included.
struct HidCapabilities {
    uint16_t inputReportByteLength = 0;
    uint16_t outputReportByteLength = 0;
};

// What discovery learnt about the device it opened.
struct HidDeviceInfo {
    std::string path;
    HidCapabilities capabilities;
};

// One opened HID device. Destroying it closes the device. A transfer never
// outlives its call: when the time-out passes it is cancelled and waited for
// before the call returns, so the buffer belongs to the caller again.
class HidDevice {
  public:
    virtual ~HidDevice() = default;
    virtual TransferResult write(const uint8_t* report, std::size_t length,
                                 uint32_t timeoutMilliseconds) = 0;
    virtual TransferResult read(uint8_t* report, std::size_t length,
                                uint32_t timeoutMilliseconds) = 0;
};

// Finds and opens HID devices. Only the I/O lives behind it; the checks and
// the protocol are the caller's.
class HidPort {
  public:
    virtual ~HidPort() = default;
    // Opens the first present HID device with these identifiers, in the
    // system's enumeration order; null when there is none. Devices that
    // cannot be opened are passed over.
    virtual std::unique_ptr<HidDevice> openFirst(uint16_t vendorId, uint16_t productId,
                                                 HidDeviceInfo& found) = 0;
};
