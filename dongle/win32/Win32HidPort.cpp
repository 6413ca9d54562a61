#include "dongle/win32/Win32HidPort.h"

#include <windows.h>

#include <dbt.h>
#include <setupapi.h>
// mingw-w64's HID headers neither include what they use nor declare C
// linkage.
#include <ntdef.h>
extern "C" {
#include <hidusage.h>
// clang-format off
#include <hidpi.h>
#include <hidsdi.h>
// clang-format on
}

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/Log.h"
#include "core/win32/ScopedHandle.h"
#include "core/win32/Win32MainWindow.h"

namespace {

void logFailure(const char* operation, DWORD error) {
    log(std::string("[Win32HidPort] ") + operation + " failed, GetLastError=",
        static_cast<int64_t>(error));
}

void logFailure(const char* operation) {
    logFailure(operation, GetLastError());
}

// How long a cancelled transfer may take to finish. A driver that has not
// finished by then still owns the transfer's buffer, OVERLAPPED and event.
constexpr DWORD cancelGrace = 1000;

// Everything a started transfer lends the driver, on the heap, so that a
// transfer that never finishes can be given up without freeing what the
// driver may still write to. An open device keeps one and reuses it for
// each transfer that finished within its call: making and closing an event
// for every report cost a third of the frame rate under Wine.
struct Transfer {
    OVERLAPPED overlapped{};
    ScopedHandle event{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    std::vector<uint8_t> buffer;
};

// Transfers given up on. Never freed: the driver may complete them at any
// time while the process runs.
void abandon(std::unique_ptr<Transfer> transfer) {
    static std::mutex lock;
    static std::vector<std::unique_ptr<Transfer>> abandoned;
    const std::lock_guard<std::mutex> hold(lock);
    abandoned.push_back(std::move(transfer));
}

// The device-information set of one enumeration.
class DeviceInfoSet {
  public:
    explicit DeviceInfoSet(HDEVINFO set) : set_(set) {}
    ~DeviceInfoSet() {
        if (valid()) {
            SetupDiDestroyDeviceInfoList(set_);
        }
    }
    DeviceInfoSet(const DeviceInfoSet&) = delete;
    DeviceInfoSet& operator=(const DeviceInfoSet&) = delete;
    bool valid() const { return set_ != INVALID_HANDLE_VALUE && set_ != nullptr; }
    HDEVINFO get() const { return set_; }

  private:
    HDEVINFO set_;
};

class PreparsedData {
  public:
    PreparsedData() = default;
    ~PreparsedData() {
        if (data_ != nullptr) {
            HidD_FreePreparsedData(data_);
        }
    }
    PreparsedData(const PreparsedData&) = delete;
    PreparsedData& operator=(const PreparsedData&) = delete;
    PHIDP_PREPARSED_DATA* out() { return &data_; }
    PHIDP_PREPARSED_DATA get() const { return data_; }

  private:
    PHIDP_PREPARSED_DATA data_ = nullptr;
};

class Win32HidDevice final : public HidDevice {
  public:
    explicit Win32HidDevice(HANDLE file) : file_(file) {}
    bool valid() const { return file_.valid(); }
    HANDLE get() const { return file_.get(); }

    TransferResult write(const uint8_t* report, std::size_t length, uint32_t timeout) override {
        return transfer(false, const_cast<uint8_t*>(report), length, timeout);
    }
    TransferResult read(uint8_t* report, std::size_t length, uint32_t timeout) override {
        return transfer(true, report, length, timeout);
    }

  private:
    TransferResult transfer(bool reading, uint8_t* report, std::size_t length, uint32_t timeout);

    ScopedHandle file_;
    // Null until the first transfer and after one was given up on.
    std::unique_ptr<Transfer> lent_;
};

// One overlapped transfer, whole: started, waited for at most the time-out,
// and on a time-out cancelled and waited for again, so that no completion
// can reach the caller's buffer after this returns. The driver works on the
// device's own copy; if even the cancelled transfer does not finish within
// its grace, the copy, the OVERLAPPED and the event are left to the driver
// for good and the next transfer gets new ones.
TransferResult Win32HidDevice::transfer(bool reading, uint8_t* report, std::size_t length,
                                        uint32_t timeout) {
    const char* operation = reading ? "ReadFile" : "WriteFile";
    if (!lent_) {
        lent_ = std::make_unique<Transfer>();
    }
    Transfer& transfer = *lent_;
    // Manual reset: GetOverlappedResult relies on the event staying
    // signalled once the transfer is done.
    if (!transfer.event.valid()) {
        logFailure("CreateEventA");
        lent_.reset();
        return TransferResult::Failed;
    }
    // ReadFile and WriteFile reset the event as they start, so one left
    // signalled by the previous transfer cannot end this one's wait.
    transfer.overlapped = OVERLAPPED{};
    transfer.overlapped.hEvent = transfer.event.get();
    transfer.buffer.assign(report, report + length);
    const DWORD bytes = static_cast<DWORD>(length);
    const BOOL started = reading ? ReadFile(file_.get(), transfer.buffer.data(), bytes, nullptr,
                                            &transfer.overlapped)
                                 : WriteFile(file_.get(), transfer.buffer.data(), bytes, nullptr,
                                             &transfer.overlapped);
    // FALSE with ERROR_IO_PENDING is the normal start of an overlapped
    // transfer; any other error means nothing was started.
    if (!started && GetLastError() != ERROR_IO_PENDING) {
        logFailure(operation);
        return TransferResult::Failed;
    }
    // A transfer that finished as it started needs no wait, which is a
    // round trip to the system (to wineserver under Wine).
    const DWORD waited = HasOverlappedIoCompleted(&transfer.overlapped)
                             ? WAIT_OBJECT_0
                             : WaitForSingleObject(transfer.event.get(), timeout);
    DWORD transferred = 0;
    if (waited == WAIT_OBJECT_0) {
        if (!GetOverlappedResult(file_.get(), &transfer.overlapped, &transferred, FALSE)) {
            // A device unplugged mid-transfer completes it with an error.
            logFailure(operation);
            return TransferResult::Failed;
        }
        if (reading) {
            std::copy(transfer.buffer.begin(), transfer.buffer.end(), report);
        }
        return TransferResult::Completed;
    }
    if (waited == WAIT_FAILED) {
        logFailure("WaitForSingleObject");
    }
    // Cancelling only asks; the transfer may still be running afterwards.
    if (!CancelIoEx(file_.get(), &transfer.overlapped) && GetLastError() != ERROR_NOT_FOUND) {
        logFailure("CancelIoEx");
    }
    if (WaitForSingleObject(transfer.event.get(), cancelGrace) != WAIT_OBJECT_0) {
        log("[Win32HidPort] a cancelled transfer did not finish; its buffer stays with the "
            "driver");
        abandon(std::move(lent_));
        return TransferResult::Failed;
    }
    if (GetOverlappedResult(file_.get(), &transfer.overlapped, &transferred, FALSE)) {
        // It finished just before the cancel took hold: the report is here.
        if (reading) {
            std::copy(transfer.buffer.begin(), transfer.buffer.end(), report);
        }
        return TransferResult::Completed;
    }
    return waited == WAIT_TIMEOUT ? TransferResult::TimedOut : TransferResult::Failed;
}

}  // namespace

// The main window's registration for HID notices.
struct Win32HidPort::Notification {
    Notification(HWND owner, HDEVNOTIFY handle) : window(owner), registration(handle) {}
    ~Notification() {
        if (registration != nullptr && !UnregisterDeviceNotification(registration)) {
            logFailure("UnregisterDeviceNotification");
        }
    }
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    HWND window;
    HDEVNOTIFY registration;
};

Win32HidPort::Win32HidPort() = default;

void Win32HidPort::registerForNotices(const GUID& hidGuid) {
    const HWND window = mainWindowHandle();
    // No window yet, or a program without one: nothing to notify.
    if (window == nullptr) {
        return;
    }
    // A log line is a synchronous send to the GUI thread, which may be
    // waiting for this lock: nothing is logged while it is held, and the
    // earlier registration, whose release may log, goes after it.
    std::unique_ptr<Notification> previous;
    DWORD failure = ERROR_SUCCESS;
    {
        const std::lock_guard<std::mutex> hold(notificationLock_);
        if (notification_ && notification_->window == window) {
            return;  // one registration serves every later discovery
        }
        DEV_BROADCAST_DEVICEINTERFACE_A filter{};
        filter.dbcc_size = sizeof filter;
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_classguid = hidGuid;
        const HDEVNOTIFY registration =
            RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
        if (registration == nullptr) {
            failure = GetLastError();
        } else {
            previous = std::move(notification_);
            notification_ = std::make_unique<Notification>(window, registration);
        }
    }
    if (failure != ERROR_SUCCESS) {
        logFailure("RegisterDeviceNotificationA", failure);
    }
}

Win32HidPort::~Win32HidPort() = default;

std::unique_ptr<HidDevice> Win32HidPort::openFirst(uint16_t vendorId, uint16_t productId,
                                                   HidDeviceInfo& found) {
    GUID hidGuid{};
    HidD_GetHidGuid(&hidGuid);
    const DeviceInfoSet set(
        SetupDiGetClassDevsA(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!set.valid()) {
        logFailure("SetupDiGetClassDevsA");
        return nullptr;
    }
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA interfaceData{};
        interfaceData.cbSize = sizeof interfaceData;
        if (!SetupDiEnumDeviceInterfaces(set.get(), nullptr, &hidGuid, index, &interfaceData)) {
            if (GetLastError() != ERROR_NO_MORE_ITEMS) {
                logFailure("SetupDiEnumDeviceInterfaces");
            }
            return nullptr;
        }
        // The size query fails by design, with ERROR_INSUFFICIENT_BUFFER.
        DWORD required = 0;
        SetupDiGetDeviceInterfaceDetailA(set.get(), &interfaceData, nullptr, 0, &required, nullptr);
        if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
            logFailure("SetupDiGetDeviceInterfaceDetailA(size)");
            continue;
        }
        std::vector<DWORD> storage(required / sizeof(DWORD) + 1);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
        // cbSize is the size of the fixed part, not of the whole allocation.
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (!SetupDiGetDeviceInterfaceDetailA(set.get(), &interfaceData, detail, required, nullptr,
                                              nullptr)) {
            logFailure("SetupDiGetDeviceInterfaceDetailA");
            continue;
        }
        auto device = std::make_unique<Win32HidDevice>(CreateFileA(
            detail->DevicePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
            nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
        if (!device->valid()) {
            // Keyboards and mice are held exclusively by the system: normal.
            continue;
        }
        HIDD_ATTRIBUTES attributes{};
        attributes.Size = sizeof attributes;
        if (!HidD_GetAttributes(device->get(), &attributes)) {
            logFailure("HidD_GetAttributes");
            continue;
        }
        if (attributes.VendorID != vendorId || attributes.ProductID != productId) {
            continue;
        }
        PreparsedData preparsed;
        HIDP_CAPS capabilities{};
        if (!HidD_GetPreparsedData(device->get(), preparsed.out())) {
            logFailure("HidD_GetPreparsedData");
            continue;
        }
        // HidP_ functions report through their status, not GetLastError.
        const NTSTATUS status = HidP_GetCaps(preparsed.get(), &capabilities);
        if (status != HIDP_STATUS_SUCCESS) {
            log("[Win32HidPort] HidP_GetCaps failed, status=", static_cast<int64_t>(status));
            continue;
        }
        registerForNotices(hidGuid);
        found.path = detail->DevicePath;
        found.capabilities.inputReportByteLength = capabilities.InputReportByteLength;
        found.capabilities.outputReportByteLength = capabilities.OutputReportByteLength;
        return device;
    }
}
