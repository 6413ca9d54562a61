// The dongle's input reports: a faulty or hostile USB device may answer
// anything, at any declared report length, late or not at all. The device
// here plays the fuzz input back as its input reports to the device
// information query, the duty-cycle query and frame transmission.
//
// Input: byte 0 picks the conversations, the presence flag and the number of
// reads per frame; bytes 1 and 2 are the input and output report lengths the
// device declares; then one record per read: a control byte (low two bits:
// 0 or 1 completed, 2 timed out, 3 failed) and up to 36 report bytes.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "activities/HelloEvents.h"
#include "activities/StatusEvents.h"
#include "core/Activity.h"
#include "dongle/ReportProtocol.h"
#include "dongle/USBResource.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

class ScriptedPort;

class ScriptedDevice final : public HidDevice {
  public:
    explicit ScriptedDevice(ScriptedPort& port);
    ~ScriptedDevice() override;
    TransferResult write(const uint8_t* report, std::size_t length, uint32_t timeout) override;
    TransferResult read(uint8_t* report, std::size_t length, uint32_t timeout) override;

  private:
    ScriptedPort& port_;
};

class ScriptedPort final : public HidPort {
  public:
    std::unique_ptr<HidDevice> openFirst(uint16_t vendorId, uint16_t productId,
                                         HidDeviceInfo& found) override {
        FUZZ_CHECK(vendorId == dongle::vendorId && productId == dongle::productId);
        found.path = "\\\\?\\hid#vid_5e91&pid_2d4a#fuzz";
        found.capabilities = capabilities;
        return std::make_unique<ScriptedDevice>(*this);
    }

    HidCapabilities capabilities;
    const uint8_t* script = nullptr;
    std::size_t left = 0;
    int openDevices = 0;
    int writes = 0;
    int answers = 0;  // completed reads
};

ScriptedDevice::ScriptedDevice(ScriptedPort& port) : port_(port) {
    ++port_.openDevices;
}

ScriptedDevice::~ScriptedDevice() {
    --port_.openDevices;
}

TransferResult ScriptedDevice::write(const uint8_t* report, std::size_t length, uint32_t) {
    FUZZ_CHECK(length <= sizeof(ReportBuffer));
    FUZZ_CHECK(length == std::min<std::size_t>(port_.capabilities.outputReportByteLength, 36));
    // Every report the agent sends is one of its requests.
    if (length >= 4) {
        FUZZ_CHECK(report[0] == 0x01 && report[3] == 0xFF);
    }
    ++port_.writes;
    return TransferResult::Completed;
}

TransferResult ScriptedDevice::read(uint8_t* report, std::size_t length, uint32_t) {
    FUZZ_CHECK(length <= sizeof(ReportBuffer));
    if (port_.left == 0) {
        // The device is gone once the script ends.
        return TransferResult::Failed;
    }
    const uint8_t control = port_.script[0];
    ++port_.script;
    --port_.left;
    const std::size_t taken = std::min<std::size_t>(port_.left, 36);
    switch (control & 0x03) {
        case 2:
            return TransferResult::TimedOut;
        case 3:
            return TransferResult::Failed;
        default:
            break;
    }
    std::memcpy(report, port_.script, std::min(taken, length));
    port_.script += taken;
    port_.left -= taken;
    ++port_.answers;
    return TransferResult::Completed;
}

struct Fired {
    int usbUp = 0;
    int usbDown = 0;
    int continueHello = 0;
};
Fired fired;

class CountUsbState final : public EventActivity<CountUsbState, NotifyUSBStateEvent> {
  public:
    static const char* className() { return "CountUsbState"; }

  protected:
    void handle(const NotifyUSBStateEvent& event) override {
        ++(event.getState() ? fired.usbUp : fired.usbDown);
    }
};

class CountContinueHello final : public EventActivity<CountContinueHello, ContinueHelloEvent> {
  public:
    static const char* className() { return "CountContinueHello"; }

  protected:
    void handle(const ContinueHelloEvent&) override { ++fired.continueHello; }
};

bool isLowerHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static CountUsbState usbState;
    static CountContinueHello continueHello;
    static bool started = false;
    if (!started) {
        fuzzLoggingOn();
        started = true;
    }
    if (size < 3) {
        return 0;
    }
    const uint8_t selector = data[0];
    const bool present = (selector & 0x04) != 0;
    const int32_t maxReads = (selector >> 3) & 0x07;

    ScriptedPort port;
    port.capabilities.inputReportByteLength = data[1];
    port.capabilities.outputReportByteLength = data[2];
    port.script = data + 3;
    port.left = size - 3;

    USBResource usb(port, [present] { return present; });
    usb.getActivities().add(&usbState);
    usb.getActivities().add(&continueHello);
    FUZZ_CHECK(port.openDevices == 0);

    const int operations = selector & 0x03;
    if (operations == 0 || operations == 3) {
        fired = Fired{};
        std::string serial = "unset", firmware = "unset", radio = "unset";
        const int answersBefore = port.answers;
        const int result = usb.getDeviceInfos(serial, firmware, radio, 100);
        FUZZ_CHECK(port.openDevices == 0);
        if (result == 0) {
            FUZZ_CHECK(port.answers > answersBefore);
            FUZZ_CHECK(serial.size() <= 10 && serial.find('\0') == std::string::npos);
            FUZZ_CHECK(radio.size() == 4 && std::all_of(radio.begin(), radio.end(), isLowerHex));
            FUZZ_CHECK(firmware.size() <= 4);
            FUZZ_CHECK(fired.usbUp == 1 && fired.usbDown == 0 && fired.continueHello == 0);
        } else {
            FUZZ_CHECK(result == -1);
            FUZZ_CHECK(serial == "unset" && firmware == "unset" && radio == "unset");
            FUZZ_CHECK(fired.usbUp == 0 && fired.usbDown == 1 && fired.continueHello == 1);
        }
    }
    if (operations == 1 || operations == 3) {
        try {
            const int percent = usb.getDutyCycleUtilisation(100);
            FUZZ_CHECK(percent >= 0 && percent <= 255);
        } catch (const USBError&) {
        }
        FUZZ_CHECK(port.openDevices == 0);
    }
    if (operations == 2 || operations == 3) {
        const FrameList frames = {"S0a0b0c0d0e0f1011", "S1122", "S"};
        std::unique_ptr<HidDevice> device = usb.openDevice();
        const int writesBefore = port.writes;
        const int result = usb.transmit(frames, 0x30, 0x80, device.get(), maxReads, 100);
        FUZZ_CHECK(result == 0 || result == -1);
        // The last frame is too short to be sent: at most one write per other frame.
        FUZZ_CHECK(port.writes - writesBefore <= 2);
        device.reset();
        FUZZ_CHECK(port.openDevices == 0);
    }
    return 0;
}
