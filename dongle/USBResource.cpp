#include "dongle/USBResource.h"

#include <algorithm>

#include "activities/HelloEvents.h"
#include "activities/StatusEvents.h"
#include "activities/TransmitEvents.h"
#include "dongle/DongleDevice.h"
#include "dongle/ReportProtocol.h"

namespace {

constexpr int queryReads = 10;

const char noDeviceInfos[] =
    "no device found! cannot create handle of device[USBResource::getDeviceInfos]: the dongle "
    "is not available";
const char noDutyCycleDevice[] =
    "cannot create handle of device[USBResource::getDutyCycleUtilisation]: the dongle is not "
    "available";
const char invalidDutyCycleHandle[] =
    "no device found! invalid handle of device[USBResource::getDutyCycleUtilisation]: the "
    "dongle is not available";
const char noValidHandle[] = "no device found! no valid handle ";
const char noResponse[] = "no response from USB!";
const char noTransmitDevice[] =
    "no device found! cannot create handle of device[USBResource::transmit]: the dongle is not "
    "available";

// A negative configured time-out would become an endless wait.
uint32_t boundedTimeout(int32_t timeout) {
    return static_cast<uint32_t>(std::max<int32_t>(timeout, 0));
}

// The lengths the device declared, never more than a report buffer holds.
std::size_t reportLength(uint16_t declared) {
    return std::min<std::size_t>(declared, ReportBuffer().size());
}

template <typename TheEvent, typename... Args>
void fireOn(ActivityRegistry& registry, Args... args) {
    TheEvent event(args...);
    registry.fire(&event);
}

}  // namespace

USBResource::USBResource(HidPort& port, PresenceFlag donglePresent)
    : port_(port), donglePresent_(std::move(donglePresent)) {
    init();
}

int USBResource::init() {
    return openDevice() ? 0 : -1;
}

std::unique_ptr<HidDevice> USBResource::openDevice() {
    HidDeviceInfo found;
    std::unique_ptr<HidDevice> device = port_.openFirst(dongle::vendorId, dongle::productId, found);
    if (device) {
        setDongleDevice(found);
    }
    return device;
}

int USBResource::transfer(bool sending, ReportBuffer& buffer, HidDevice* device, int32_t timeout) {
    if (device == nullptr) {
        return -2;
    }
    const HidCapabilities capabilities = dongleDevice().capabilities;
    const TransferResult result =
        sending ? device->write(buffer.data(), reportLength(capabilities.outputReportByteLength),
                                boundedTimeout(timeout))
                : device->read(buffer.data(), reportLength(capabilities.inputReportByteLength),
                               boundedTimeout(timeout));
    switch (result) {
        case TransferResult::Completed:
            return 0;
        case TransferResult::TimedOut:
            log(sending ? " WAIT_TIMEOUT in sendReport" : " WAIT_TIMEOUT in receiveReport");
            return -1;
        case TransferResult::Failed:
        default:
            return -2;
    }
}

int USBResource::sendReport(const ReportBuffer& buffer, HidDevice* device, int32_t timeout) {
    // A write only reads the buffer; the copy keeps one transfer path.
    ReportBuffer out = buffer;
    return transfer(true, out, device, timeout);
}

int USBResource::receiveReport(ReportBuffer& buffer, HidDevice* device, int32_t timeout) {
    return transfer(false, buffer, device, timeout);
}

int USBResource::checkUSBhandle(int result, const HidDevice* device) {
    if (result == 0) {
        return 0;
    }
    if (device != nullptr && donglePresent_ && donglePresent_()) {
        return 0;
    }
    log("no device found! invalid create handle of device[USBResource::checkUSBhandle]: the "
        "dongle is not available");
    return -1;
}

void USBResource::failDeviceInfos(const std::string& message) {
    fireOn<NotifyUSBStateEvent>(getActivities(), false);
    fireOn<ContinueHelloEvent>(getActivities());
    log(message);
}

Outcome<dongle::DeviceInformation> USBResource::askDeviceInformation(int32_t timeout) {
    std::unique_ptr<HidDevice> device = openDevice();
    if (!device) {
        return Failure{noDeviceInfos};
    }
    if (checkUSBhandle(sendReport(dongle::deviceInformationRequest(), device.get(), timeout),
                       device.get()) == -1) {
        return Failure{noValidHandle};
    }
    ReportBuffer input = dongle::clearedInputReport();
    bool answered = false;
    for (int read = 0; read < queryReads && !answered; ++read) {
        if (checkUSBhandle(receiveReport(input, device.get(), timeout), device.get()) == -1) {
            return Failure{noValidHandle};
        }
        answered = input[2] == dongle::deviceInformationAnswer;
    }
    log("getDeviceInfos inputReportBuffer: ", input);
    // Without an answer the buffer holds no identity at all; reporting
    // it as one would store an empty serial number as the dongle's.
    if (!answered) {
        return Failure{noResponse};
    }
    return dongle::parseDeviceInformation(input);
}

int USBResource::getDeviceInfos(std::string& serialNumber, std::string& firmwareVersion,
                                std::string& radioAddress, int32_t timeout) {
    const Outcome<dongle::DeviceInformation> asked = askDeviceInformation(timeout);
    if (!asked) {
        failDeviceInfos(asked.failure());
        return -1;
    }
    const dongle::DeviceInformation& info = asked.value();
    if (info.firmwareVersion.empty()) {
        log("firmware version does not fit four digits: ",
            static_cast<int64_t>(info.firmwareValue));
    }
    serialNumber = info.serialNumber;
    radioAddress = info.radioAddress;
    firmwareVersion = info.firmwareVersion;
    fireOn<NotifyUSBStateEvent>(getActivities(), true);
    return 0;
}

Outcome<int> USBResource::askDutyCycle(int32_t timeout) {
    std::unique_ptr<HidDevice> device = openDevice();
    if (!device) {
        log(noDutyCycleDevice);
        return Failure{std::string("no device found! ") + noDutyCycleDevice};
    }
    if (checkUSBhandle(sendReport(dongle::dutyCycleRequest(), device.get(), timeout),
                       device.get()) == -1) {
        return Failure{invalidDutyCycleHandle};
    }
    ReportBuffer input = dongle::clearedInputReport();
    for (int read = 0; read < queryReads; ++read) {
        if (checkUSBhandle(receiveReport(input, device.get(), timeout), device.get()) == -1) {
            return Failure{invalidDutyCycleHandle};
        }
        if (input[2] == dongle::dutyCycleAnswer) {
            return int{input[4]};
        }
    }
    return Failure{noResponse};
}

int USBResource::getDutyCycleUtilisation(int32_t timeout) {
    const Outcome<int> asked = askDutyCycle(timeout);
    if (!asked) {
        throw USBError(asked.failure());
    }
    return asked.value();
}

int USBResource::transmit(FrameList frames, uint8_t counterBits, uint8_t flagBits,
                          HidDevice* device, int32_t maxReads, int32_t timeout) {
    if (frames.empty()) {
        log("frames are empty");
        return -1;
    }
    for (const std::string& frame : frames) {
        if (frame.size() < 2) {
            return 0;
        }
        ReportBuffer output{};
        if (buildFrameReport(frame, output, counterBits, flagBits) != 0) {
            log("frame does not fit a report, not sent: ", frame);
            continue;
        }
        log("sending frame to usb: ", frame);
        log("outputReportBuffer: ", output);
        if (checkUSBhandle(sendReport(output, device, timeout), device) == -1) {
            return -1;
        }
        for (int read = 0; read < maxReads; ++read) {
            ReportBuffer input = dongle::clearedInputReport();
            if (checkUSBhandle(receiveReport(input, device, timeout), device) == -1) {
                return -1;
            }
            if (dongle::isAcknowledgement(input)) {
                log(" inputReportBuffer: ", input);
                break;
            }
        }
    }
    return 0;
}

void USBResource::endTransmission(TransmitOutcome outcome) {
    if (outcome == TransmitOutcome::DutyCycleExceeded) {
        fireOn<NotifyDutyCycleStateEvent>(getActivities(), false);
        fireOn<ContinueTransmitEvent>(getActivities(), outcome);
        log("over max duty cycle utilisation!");
    } else {
        fireOn<NotifyUSBStateEvent>(getActivities(), false);
        fireOn<ContinueTransmitEvent>(getActivities(), TransmitOutcome::DongleUnavailable);
        log(noTransmitDevice);
    }
}

int USBResource::start(bool transmitFlag, FrameList frames, int32_t transmitCounter, int32_t repeat,
                       int32_t maxReads, int32_t maxDutyCycle, int32_t timeout) {
    const Outcome<int> utilisation = askDutyCycle(timeout);
    if (!utilisation) {
        // A dongle that is absent or silent at the duty-cycle query is as
        // unavailable as one that cannot be opened for sending: the frames
        // stay stored and the attempt is repeated later, instead of the
        // cycle ending with no attempt planned at all.
        log(utilisation.failure());
        endTransmission(TransmitOutcome::DongleUnavailable);
        return -1;
    }
    log("duty cycle utilisation is[%]: ", static_cast<int64_t>(utilisation.value()));
    if (utilisation.value() > maxDutyCycle) {
        endTransmission(TransmitOutcome::DutyCycleExceeded);
        return -1;
    }
    fireOn<NotifyDutyCycleStateEvent>(getActivities(), true);
    log("-------- [USBResource::start] --------");
    const uint8_t flagBits = transmitFlag ? dongle::transmitFlagBit : 0x00;
    const uint8_t counterBits = dongle::counterBits(transmitCounter);
    std::unique_ptr<HidDevice> device = openDevice();
    if (!device) {
        endTransmission(TransmitOutcome::DongleUnavailable);
        return -1;
    }
    for (int32_t pass = 0; pass < repeat; ++pass) {
        transmit(frames, counterBits, flagBits, device.get(), maxReads, timeout);
    }
    device.reset();
    fireOn<NotifyUSBStateEvent>(getActivities(), true);
    fireOn<ContinueTransmitEvent>(getActivities(), TransmitOutcome::Sent);
    return 0;
}

int USBResource::buildFrameReport(const std::string& frame, ReportBuffer& report,
                                  uint8_t counterBits, uint8_t flagBits) {
    return dongle::buildFrameReport(frame, report, counterBits, flagBits);
}

int USBResource::hexToBytes(const std::string& text, uint8_t* bytes, std::size_t capacity) {
    return dongle::hexToBytes(text, bytes, capacity);
}
