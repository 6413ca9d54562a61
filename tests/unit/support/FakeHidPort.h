#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/Log.h"
#include "dongle/HidPort.h"
#include "tests/unit/support/TestClock.h"
#include "tools/donglesim/DongleModel.h"

// HID devices talking through their dongle models; a read's wait moves the clock.
class FakeHidPort final : public HidPort {
  public:
    struct Device {
        std::string path;
        uint16_t vendorId = 0;
        uint16_t productId = 0;
        HidCapabilities capabilities{36, 36};
        DongleModel* model = nullptr;
    };

    std::unique_ptr<HidDevice> openFirst(uint16_t vendorId, uint16_t productId,
                                         HidDeviceInfo& found) override;

    std::vector<Device> devices;
    TestClock* clock = nullptr;
    // Runs at every discovery; a test can unplug or break things there.
    std::function<void()> beforeOpen;
    uint64_t nowMs = 0;
    int openDevices = 0;  // currently open
    std::size_t lastReadLength = 0;
    std::size_t lastWriteLength = 0;
    uint32_t lastTimeout = 0;
    int reads = 0;
    int writes = 0;

  private:
    friend class FakeHidDevice;
    void passTimeTo(uint64_t ms);
    Device* find(const std::string& path);
};
