#include "dongle/DongleDevice.h"

#include <mutex>

namespace {

std::mutex& deviceLock() {
    static std::mutex lock;
    return lock;
}

HidDeviceInfo& device() {
    static HidDeviceInfo info;
    return info;
}

char foldAsciiLetter(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

HidDeviceInfo dongleDevice() {
    const std::lock_guard<std::mutex> hold(deviceLock());
    return device();
}

void setDongleDevice(const HidDeviceInfo& info) {
    const std::lock_guard<std::mutex> hold(deviceLock());
    device() = info;
}

bool isDonglePath(const std::string& interfaceName) {
    const std::string path = dongleDevice().path;
    if (path.empty() || path.size() != interfaceName.size()) {
        return false;
    }
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (foldAsciiLetter(path[i]) != foldAsciiLetter(interfaceName[i])) {
            return false;
        }
    }
    return true;
}
