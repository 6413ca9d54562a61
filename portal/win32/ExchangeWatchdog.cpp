#include "portal/win32/ExchangeWatchdog.h"

ExchangeWatchdog::ExchangeWatchdog(uint32_t deadlineMilliseconds)
    : deadline_(deadlineMilliseconds),
      stop_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      thread_(stop_.valid() ? CreateThread(nullptr, 0, &ExchangeWatchdog::watch, this, 0, nullptr)
                            : nullptr) {}

ExchangeWatchdog::~ExchangeWatchdog() {
    finish();
}

bool ExchangeWatchdog::finish() {
    if (thread_.valid() && !finished_) {
        SetEvent(stop_.get());
        WaitForSingleObject(thread_.get(), INFINITE);
        finished_ = true;
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    return passed_;
}

DWORD WINAPI ExchangeWatchdog::watch(LPVOID self) {
    auto* watchdog = static_cast<ExchangeWatchdog*>(self);
    // A relative wait, so a change of the system's clock moves no deadline.
    if (WaitForSingleObject(watchdog->stop_.get(), watchdog->deadline_) != WAIT_TIMEOUT) {
        return 0;
    }
    // The close happens under the lock, so a guard cannot end, and its
    // handles with it, while one of them is being closed.
    const std::lock_guard<std::mutex> lock(watchdog->mutex_);
    watchdog->passed_ = true;
    for (const InternetHandle* handle : watchdog->lent_) {
        handle->close();
    }
    return 0;
}

ExchangeWatchdog::Guard::Guard(ExchangeWatchdog& watchdog,
                               std::initializer_list<const InternetHandle*> handles)
    : watchdog_(watchdog) {
    const std::lock_guard<std::mutex> lock(watchdog_.mutex_);
    watchdog_.lent_.assign(handles);
    if (watchdog_.passed_) {
        for (const InternetHandle* handle : watchdog_.lent_) {
            handle->close();
        }
    }
}

ExchangeWatchdog::Guard::~Guard() {
    const std::lock_guard<std::mutex> lock(watchdog_.mutex_);
    watchdog_.lent_.clear();
}
