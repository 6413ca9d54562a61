// dongleprobe [--absent] COMMAND ARGS...
//   open                                   discovery only
//   receive TIMEOUT [FRAME]                one receiveReport on the dongle; then FRAME
//                                          sent and acknowledged on the same handle
//   info TIMEOUT                           getDeviceInfos
//   duty TIMEOUT                           getDutyCycleUtilisation
//   reopen COUNT TIMEOUT                   COUNT times a discovery, its handle closed at
//                                          once, then getDeviceInfos, as quorvel-check
//                                          does, with every processor kept busy
//                                          meanwhile; stops at the first one unanswered
//   start COUNTER REPEAT MAXREADS MAXDUTY TIMEOUT FRAME...
//   bench FRAMES TIMEOUT                   frames per second through transmit
// Prints key=value lines: results, "event=" for each event fired, "log=" for
// each log line, and what the HID stand-ins still hold. --absent makes the
// dongle count as gone, as the user interface's usbState would.

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "activities/HelloEvents.h"
#include "activities/StatusEvents.h"
#include "activities/TransmitEvents.h"
#include "core/Clock.h"
#include "core/EventListeners.h"
#include "core/Log.h"
#include "core/MainWindowCommands.h"
#include "dongle/DongleDevice.h"
#include "dongle/ReportProtocol.h"
#include "dongle/USBResource.h"
#include "dongle/win32/Win32HidPort.h"

namespace {

class PrintingWindow final : public MainWindowCommands {
  public:
    void appendLogLine(const std::string& line) override { std::printf("log=%s\n", line.c_str()); }
    void showLogger() override {}
    void statusChanged() override {}
    void fatalError(const char*) override {}
};

// "event=Name" for each event the dongle fires, "=payload" after it for the
// events that carry one.
std::string payload(const NotifyUSBStateEvent& event) {
    return event.getState() ? "=1" : "=0";
}
std::string payload(const NotifyDutyCycleStateEvent& event) {
    return event.getState() ? "=1" : "=0";
}
std::string payload(const ContinueTransmitEvent& event) {
    return "=" + std::to_string(static_cast<int>(event.getCode()));
}
std::string payload(const ContinueHelloEvent&) {
    return "";
}

// What the stand-ins still hold; -1 with the system's own DLLs.
long outstanding(const char* module, const char* counter) {
    const HMODULE loaded = GetModuleHandleA(module);
    if (loaded == nullptr) {
        return -1;
    }
    using Counter = long(WINAPI*)();
    const auto function =
        reinterpret_cast<Counter>(reinterpret_cast<void*>(GetProcAddress(loaded, counter)));
    return function != nullptr ? function() : -1;
}

int32_t number(const std::vector<std::string>& args, std::size_t at) {
    return at < args.size() ? static_cast<int32_t>(std::atol(args[at].c_str())) : 0;
}

int run(USBResource& usb, const std::vector<std::string>& args) {
    const std::string& command = args[0];
    if (command == "open") {
        auto device = usb.openDevice();
        std::printf("open=%d\npath=%s\ninput=%u\noutput=%u\n", device ? 1 : 0,
                    dongleDevice().path.c_str(), dongleDevice().capabilities.inputReportByteLength,
                    dongleDevice().capabilities.outputReportByteLength);
        return 0;
    }
    if (command == "receive") {
        auto device = usb.openDevice();
        ReportBuffer input = dongle::clearedInputReport();
        const int result = usb.receiveReport(input, device.get(), number(args, 1));
        std::printf("open=%d\nresult=%d\ncheck=%d\n", device ? 1 : 0, result,
                    usb.checkUSBhandle(result, device.get()));
        if (args.size() > 2) {
            // transmit logs the acknowledgement it read as " inputReportBuffer: ".
            std::printf("sent=%d\n", usb.transmit({args[2]}, 0x10, 0x80, device.get(), 2,
                                                  number(args, 1)));
        }
        return 0;
    }
    if (command == "info") {
        std::string serial, firmware, radio;
        const int result = usb.getDeviceInfos(serial, firmware, radio, number(args, 1));
        std::printf("result=%d\nserial=%s\nfirmware=%s\nradio=%s\n", result, serial.c_str(),
                    firmware.c_str(), radio.c_str());
        return 0;
    }
    if (command == "duty") {
        try {
            std::printf("duty=%d\n", usb.getDutyCycleUtilisation(number(args, 1)));
        } catch (const USBError& error) {
            std::printf("error=%s\n", error.what());
        }
        return 0;
    }
    if (command == "reopen") {
        // A loaded machine, as CI's is: the simulator's threads are
        // preempted at any point, which is where its races show.
        std::atomic<bool> done{false};
        std::vector<std::thread> load;
        for (unsigned i = 0; i < 2 * std::max(1u, std::thread::hardware_concurrency()); ++i) {
            load.emplace_back([&done] {
                while (!done.load(std::memory_order_relaxed)) {
                }
            });
        }
        const int count = number(args, 1);
        int answered = 0;
        std::string serial, firmware, radio;
        while (answered < count) {
            // The discovery's handle is closed at the end of its statement,
            // before the conversation opens another, as quorvel-check's is.
            const bool found = usb.openDevice() != nullptr;
            if (!found || usb.getDeviceInfos(serial, firmware, radio, number(args, 2)) != 0) {
                break;
            }
            ++answered;
        }
        done = true;
        for (std::thread& thread : load) {
            thread.join();
        }
        std::printf("answered=%d\n", answered);
        return 0;
    }
    if (command == "start") {
        const FrameList frames(args.begin() + std::min<std::size_t>(6, args.size()), args.end());
        const int result = usb.start(true, frames, number(args, 1), number(args, 2),
                                     number(args, 3), number(args, 4), number(args, 5));
        std::printf("result=%d\n", result);
        return 0;
    }
    if (command == "bench") {
        const int count = number(args, 1);
        auto device = usb.openDevice();
        if (!device) {
            std::printf("open=0\n");
            return 1;
        }
        const FrameList frames(static_cast<std::size_t>(count), "S020B112233445566");
        const auto begin = std::chrono::steady_clock::now();
        const int result = usb.transmit(frames, 0x10, 0x80, device.get(), 1, number(args, 2));
        const auto elapsed =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin)
                .count();
        std::printf("result=%d\nframes=%d\nelapsed_ms=%.1f\nms_per_frame=%.3f\n", result, count,
                    elapsed, elapsed / count);
        return 0;
    }
    std::fprintf(stderr, "dongleprobe: unknown command %s\n", command.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    bool donglePresent = true;
    if (!args.empty() && args[0] == "--absent") {
        donglePresent = false;
        args.erase(args.begin());
    }
    if (args.empty()) {
        std::fprintf(
            stderr,
            "usage: dongleprobe [--absent] open|receive|info|duty|reopen|start|bench ...\n");
        return 2;
    }
    static PrintingWindow window;
    static const SystemClock clock;
    static const LogSink sink{window, clock};
    setLogSink(&sink);
    const bool quiet = args[0] == "bench" || args[0] == "reopen";
    setLoggingEnabled(!quiet);
    static Win32HidPort port;
    static EventListeners<NotifyUSBStateEvent, ContinueHelloEvent, NotifyDutyCycleStateEvent,
                          ContinueTransmitEvent>
        printer([](const auto& event) {
            std::printf("event=%s%s\n", event.getName(), payload(event).c_str());
        });
    int code = 0;
    {
        USBResource usb(port, [donglePresent] { return donglePresent; });
        printer.listenTo(usb.getActivities());
        code = run(usb, args);
    }
    std::printf("sets=%ld\npreparsed=%ld\n",
                outstanding("setupapi.dll", "StandinOutstandingDeviceSets"),
                outstanding("hid.dll", "StandinOutstandingPreparsedData"));
    std::fflush(stdout);
    return code;
}
