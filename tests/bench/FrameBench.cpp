// The agent's own work for one frame: the frame report built from the
// portal's text, written to the dongle, the answer read and recognised as
// the acknowledgement. The HID port is the in-memory fake with the dongle
// model behind it, so the figure is the agent's CPU time plus the model's,
// with no operating-system transfer in it. Logging is off, as in a normal run.

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "core/Log.h"
#include "dongle/DongleDevice.h"
#include "dongle/ReportProtocol.h"
#include "dongle/USBResource.h"
#include "tests/unit/support/FakeHidPort.h"
#include "tools/donglesim/DongleModel.h"

namespace {

struct Bench {
    Bench() {
        setLoggingEnabled(false);
        port.devices.push_back(
            {"\\\\?\\hid#bench", dongle::vendorId, dongle::productId, {36, 36}, true, &model});
        usb = std::make_unique<USBResource>(port, [] { return true; });
        device = usb->openDevice();
    }
    ~Bench() {
        device.reset();
        usb.reset();
        setDongleDevice({});
    }
    DongleModel model;
    FakeHidPort port;
    std::unique_ptr<USBResource> usb;
    std::unique_ptr<HidDevice> device;
};

// One frame through USBResource::transmit: build, write, read, check.
void BM_TransmitOneFrame(benchmark::State& state) {
    Bench bench;
    const FrameList frames{"S020B112233445566"};
    int64_t sent = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(bench.usb->transmit(frames, 0x10, 0x80, bench.device.get(), 1, 1000));
        if (++sent % 4096 == 0) {
            state.PauseTiming();
            bench.model.clearHistory();  // the model keeps every frame it broadcast
            state.ResumeTiming();
        }
    }
    if (bench.model.broadcast().size() != static_cast<std::size_t>(sent % 4096)) {
        state.SkipWithError("a frame was not broadcast");
    }
    state.SetItemsProcessed(sent);
}
BENCHMARK(BM_TransmitOneFrame);

// The report alone, for scale: what the agent computes per frame.
void BM_BuildFrameReport(benchmark::State& state) {
    const std::string frame = "S020B112233445566";
    for (auto _ : state) {
        ReportBuffer report{};
        benchmark::DoNotOptimize(dongle::buildFrameReport(frame, report, 0x10, 0x80));
        benchmark::DoNotOptimize(report);
    }
}
BENCHMARK(BM_BuildFrameReport);

}  // namespace

BENCHMARK_MAIN();
