// The agent's CPU time for one frame (report built, written, acknowledgement
// read) on the in-memory HID port, the dongle model's work included.

#include <benchmark/benchmark.h>

#include <memory>

#include "core/Log.h"
#include "dongle/DongleDevice.h"
#include "dongle/USBResource.h"
#include "tests/unit/support/FakeHidPort.h"
#include "tools/donglesim/DongleModel.h"

namespace {

void BM_TransmitOneFrame(benchmark::State& state) {
    setLoggingEnabled(false);
    DongleModel model;
    FakeHidPort port;
    port.devices.push_back(
        {"\\\\?\\hid#bench", dongle::vendorId, dongle::productId, {36, 36}, true, &model});
    USBResource usb(port, [] { return true; });
    std::unique_ptr<HidDevice> device = usb.openDevice();
    const FrameList frames{"S020B112233445566"};
    int64_t sent = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(usb.transmit(frames, 0x10, 0x80, device.get(), 1, 1000));
        if (++sent % 4096 == 0) {
            state.PauseTiming();
            model.clearHistory();  // the model keeps every frame it broadcast
            state.ResumeTiming();
        }
    }
    if (model.broadcast().size() != static_cast<std::size_t>(sent % 4096)) {
        state.SkipWithError("a frame was not broadcast");
    }
    state.SetItemsProcessed(sent);
    device.reset();
    setDongleDevice({});
}
BENCHMARK(BM_TransmitOneFrame);

}  // namespace

BENCHMARK_MAIN();
