#pragma once

#include <memory>
#include <mutex>

#include "dongle/HidPort.h"

// HID access through SetupAPI, the HID library and overlapped file I/O. It
// also registers the main window for HID arrival and removal notices, one
// registration at a time.
class Win32HidPort final : public HidPort {
  public:
    Win32HidPort();
    ~Win32HidPort() override;
    Win32HidPort(const Win32HidPort&) = delete;
    Win32HidPort& operator=(const Win32HidPort&) = delete;

    std::unique_ptr<HidDevice> openFirst(uint16_t vendorId, uint16_t productId,
                                         HidDeviceInfo& found) override;

  private:
    struct Notification;
    // Takes the HID class identifier; the portable header names no Win32 type.
    void registerForNotices(const struct _GUID& hidGuid);

    std::mutex notificationLock_;
    std::unique_ptr<Notification> notification_;
};
