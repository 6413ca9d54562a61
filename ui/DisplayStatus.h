#pragma once

#include <atomic>
#include <mutex>
#include <string>

// What the tray shows: one process-wide record. The flags are written by
// whichever thread reports a state and read by the GUI thread; the time text
// is copied under a lock so a reader never sees it half-written. All flags
// are false and the text empty until the user-interface resource exists.
class DisplayStatus {
  public:
    std::atomic<bool> internetState{false};
    // Also the dongle-present flag: device notices set it at once, and while
    // it is false a failed transfer ends the dongle exchange.
    std::atomic<bool> usbState{false};
    std::atomic<bool> dutyState{false};

    std::string nextPortalConnectionTime() const {
        const std::lock_guard<std::mutex> hold(lock_);
        return nextPortalConnectionTime_;
    }
    void setNextPortalConnectionTime(const std::string& text) {
        const std::lock_guard<std::mutex> hold(lock_);
        nextPortalConnectionTime_ = text;
    }

  private:
    mutable std::mutex lock_;
    std::string nextPortalConnectionTime_;
};

inline DisplayStatus& displayStatus() {
    static DisplayStatus status;
    return status;
}
