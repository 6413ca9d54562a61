// The dongle's answers: a faulty or hostile device may answer anything, at
// any declared report length, late or not at all. Input: byte 0 picks the
// conversations, the presence flag and the reads per frame; bytes 1 and 2 the
// declared input and output report lengths; then per read a control byte
// (low bits: 0/1 completed, 2 timed out, 3 failed) and up to 36 report bytes.

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

struct Script {
    HidCapabilities capabilities;
    const uint8_t* next = nullptr;
    std::size_t left = 0;
    int openDevices = 0;
    int writes = 0;
    int answers = 0;  // completed reads
};

class ScriptedDevice final : public HidDevice {
  public:
    explicit ScriptedDevice(Script& script) : script_(script) { ++script_.openDevices; }
    ~ScriptedDevice() override { --script_.openDevices; }

    TransferResult write(const uint8_t* report, std::size_t length, uint32_t) override {
        FUZZ_CHECK(length <= sizeof(ReportBuffer));
        FUZZ_CHECK(length ==
                   std::min<std::size_t>(script_.capabilities.outputReportByteLength, 36));
        // Every report the agent sends is one of its requests.
        FUZZ_CHECK(length < 4 || (report[0] == 0x01 && report[3] == 0xFF));
        ++script_.writes;
        return TransferResult::Completed;
    }

    TransferResult read(uint8_t* report, std::size_t length, uint32_t) override {
        FUZZ_CHECK(length <= sizeof(ReportBuffer));
        if (script_.left == 0) {
            return TransferResult::Failed;  // the device is gone once the script ends
        }
        const uint8_t control = *script_.next++;
        --script_.left;
        if ((control & 0x03) >= 2) {
            return (control & 0x03) == 2 ? TransferResult::TimedOut : TransferResult::Failed;
        }
        const std::size_t taken = std::min<std::size_t>(script_.left, 36);
        std::memcpy(report, script_.next, std::min(taken, length));
        script_.next += taken;
        script_.left -= taken;
        ++script_.answers;
        return TransferResult::Completed;
    }

  private:
    Script& script_;
};

class ScriptedPort final : public HidPort {
  public:
    std::unique_ptr<HidDevice> openFirst(uint16_t vendorId, uint16_t productId,
                                         HidDeviceInfo& found) override {
        FUZZ_CHECK(vendorId == dongle::vendorId && productId == dongle::productId);
        found.path = "\\\\?\\hid#vid_5e91&pid_2d4a#fuzz";
        found.capabilities = script.capabilities;
        return std::make_unique<ScriptedDevice>(script);
    }

    Script script;
};

struct Fired {
    int usbUp = 0;
    int usbDown = 0;
    int continueHello = 0;
};
Fired fired;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static OnEvent<NotifyUSBStateEvent> usbState([](const NotifyUSBStateEvent& event) {
        ++(event.getState() ? fired.usbUp : fired.usbDown);
    });
    static OnEvent<ContinueHelloEvent> continueHello(
        [](const ContinueHelloEvent&) { ++fired.continueHello; });
    fuzzLoggingOn();
    if (size < 3) {
        return 0;
    }
    const uint8_t selector = data[0];
    const bool present = (selector & 0x04) != 0;
    const int32_t maxReads = (selector >> 3) & 0x07;

    ScriptedPort port;
    Script& script = port.script;
    script.capabilities.inputReportByteLength = data[1];
    script.capabilities.outputReportByteLength = data[2];
    script.next = data + 3;
    script.left = size - 3;

    USBResource usb(port, [present] { return present; });
    usb.getActivities().add(&usbState);
    usb.getActivities().add(&continueHello);
    FUZZ_CHECK(script.openDevices == 0);

    const int operations = selector & 0x03;
    if (operations == 0 || operations == 3) {
        fired = Fired{};
        std::string serial = "unset", firmware = "unset", radio = "unset";
        const int answersBefore = script.answers;
        const int result = usb.getDeviceInfos(serial, firmware, radio, 100);
        FUZZ_CHECK(script.openDevices == 0);
        if (result == 0) {
            FUZZ_CHECK(script.answers > answersBefore);
            FUZZ_CHECK(serial.size() <= 10 && serial.find('\0') == std::string::npos);
            FUZZ_CHECK(radio.size() == 4 &&
                       radio.find_first_not_of("0123456789abcdef") == std::string::npos);
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
        FUZZ_CHECK(script.openDevices == 0);
    }
    if (operations == 2 || operations == 3) {
        const FrameList frames = {"S0a0b0c0d0e0f1011", "S1122", "S"};
        std::unique_ptr<HidDevice> device = usb.openDevice();
        const int writesBefore = script.writes;
        const int result = usb.transmit(frames, 0x30, 0x80, device.get(), maxReads, 100);
        FUZZ_CHECK(result == 0 || result == -1);
        // The last frame is too short to be sent: at most one write per other frame.
        FUZZ_CHECK(script.writes - writesBefore <= 2);
        device.reset();
        FUZZ_CHECK(script.openDevices == 0);
    }
    return 0;
}
