#include "tests/unit/support/FakeHidPort.h"

#include <algorithm>
#include <cstring>

class FakeHidDevice final : public HidDevice {
  public:
    FakeHidDevice(FakeHidPort& port, std::string path) : port_(port), path_(std::move(path)) {
        ++port_.openDevices;
    }
    ~FakeHidDevice() override { --port_.openDevices; }

    TransferResult write(const uint8_t* report, std::size_t length, uint32_t timeout) override {
        ++port_.writes;
        port_.lastWriteLength = length;
        port_.lastTimeout = timeout;
        FakeHidPort::Device* device = port_.find(path_);
        if (device == nullptr || !device->model->plugged()) {
            return TransferResult::Failed;
        }
        ReportBuffer buffer{};
        std::memcpy(buffer.data(), report, std::min(length, buffer.size()));
        device->model->receive(buffer);
        ReportBuffer answer;
        while (device->model->takeAnswer(answer)) {
            pending_.push_back({port_.nowMs + device->model->answerDelay(), answer});
        }
        return TransferResult::Completed;
    }

    TransferResult read(uint8_t* report, std::size_t length, uint32_t timeout) override {
        ++port_.reads;
        port_.lastReadLength = length;
        port_.lastTimeout = timeout;
        if (!pending_.empty() && pending_.front().readyAt <= port_.nowMs + timeout) {
            port_.passTimeTo(std::max(port_.nowMs, pending_.front().readyAt));
            std::memcpy(report, pending_.front().report.data(), std::min<std::size_t>(length, 36));
            pending_.pop_front();
            return TransferResult::Completed;
        }
        FakeHidPort::Device* device = port_.find(path_);
        if (device == nullptr || !device->model->plugged()) {
            return TransferResult::Failed;
        }
        port_.passTimeTo(port_.nowMs + timeout);
        return TransferResult::TimedOut;
    }

  private:
    struct Pending {
        uint64_t readyAt;
        ReportBuffer report;
    };
    FakeHidPort& port_;
    std::string path_;
    std::deque<Pending> pending_;
};

void FakeHidPort::passTimeTo(uint64_t ms) {
    if (clock != nullptr && ms > nowMs) {
        clock->advance(static_cast<int64_t>(ms - nowMs));
    }
    nowMs = ms;
}

FakeHidPort::Device* FakeHidPort::find(const std::string& path) {
    for (Device& device : devices) {
        if (device.path == path) {
            return &device;
        }
    }
    return nullptr;
}

std::unique_ptr<HidDevice> FakeHidPort::openFirst(uint16_t vendorId, uint16_t productId,
                                                  HidDeviceInfo& found) {
    if (beforeOpen) {
        beforeOpen();
    }
    for (const Device& device : devices) {
        if (device.model->plugged() && device.vendorId == vendorId &&
            device.productId == productId) {
            found.path = device.path;
            found.capabilities = device.capabilities;
            return std::make_unique<FakeHidDevice>(*this, device.path);
        }
    }
    return nullptr;
}
