#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "core/FrameList.h"
#include "core/Log.h"
#include "core/Outcome.h"
#include "core/Resource.h"
#include "dongle/HidPort.h"
#include "dongle/ReportProtocol.h"

enum class TransmitOutcome : int32_t;

// Raised by the public duty-cycle query.
class USBError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The dongle: finding it among the HID devices, exchanging single reports
// with a time-out, and the conversations of the report protocol. Every
// conversation opens its own device and closes it when it ends, on every
// path. Inside, a conversation's failure is an Outcome carrying its text;
// only the public duty-cycle query raises it.
class USBResource final : public Resource {
  public:
    // Whether the dongle is still thought present: in the agent the display
    // status's usbState, which device-removal notices clear.
    using PresenceFlag = std::function<bool()>;

    USBResource(HidPort& port, PresenceFlag donglePresent);

    int start() override { return 0; }
    // 0 when a dongle can be opened at start-up, -1 otherwise.
    int init() override;

    // Discovery; null when no dongle is attached. Records the device's path
    // and report lengths for the main window and the transfers.
    std::unique_ptr<HidDevice> openDevice();
    // 0 completed, -1 time-out (logged), -2 failed.
    int sendReport(const ReportBuffer& buffer, HidDevice* device, int32_t timeout);
    int receiveReport(ReportBuffer& buffer, HidDevice* device, int32_t timeout);
    // 0 go on, -1 the dongle is not available.
    int checkUSBhandle(int result, const HidDevice* device);

    int getDeviceInfos(std::string& serialNumber, std::string& firmwareVersion,
                       std::string& radioAddress, int32_t timeout);
    // Percent; raises USBError when the dongle is absent or does not answer.
    int getDutyCycleUtilisation(int32_t timeout);
    int transmit(FrameList frames, uint8_t counterBits, uint8_t flagBits, HidDevice* device,
                 int32_t maxReads, int32_t timeout);
    // The transmit cycle's entry: always fires exactly one ContinueTransmitEvent.
    int start(bool transmitFlag, FrameList frames, int32_t transmitCounter, int32_t repeat,
              int32_t maxReads, int32_t maxDutyCycle, int32_t timeout);

    static int buildFrameReport(const std::string& frame, ReportBuffer& report, uint8_t counterBits,
                                uint8_t flagBits);
    static int hexToBytes(const std::string& text, uint8_t* bytes, std::size_t capacity);

  private:
    int transfer(bool sending, ReportBuffer& buffer, HidDevice* device, int32_t timeout);
    // The two queries, the device closed again when they return.
    Outcome<dongle::DeviceInformation> askDeviceInformation(int32_t timeout);
    Outcome<int> askDutyCycle(int32_t timeout);
    void failDeviceInfos(const std::string& message);
    void endTransmission(TransmitOutcome outcome);

    HidPort& port_;
    PresenceFlag donglePresent_;
};
