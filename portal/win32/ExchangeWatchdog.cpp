#include "portal/win32/ExchangeWatchdog.h"

ExchangeWatchdog::ExchangeWatchdog()
    : wake_(CreateEventA(nullptr, FALSE, FALSE, nullptr)),
      thread_(wake_.valid() ? CreateThread(nullptr, 0, &ExchangeWatchdog::watch, this, 0, nullptr)
                            : nullptr) {}

ExchangeWatchdog::~ExchangeWatchdog() {
    if (!thread_.valid()) {
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        quitting_ = true;
    }
    SetEvent(wake_.get());
    WaitForSingleObject(thread_.get(), INFINITE);
}

void ExchangeWatchdog::begin(uint32_t deadlineMilliseconds) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        counting_ = true;
        passed_ = false;
        lent_.clear();
        due_ = GetTickCount64() + deadlineMilliseconds;
    }
    SetEvent(wake_.get());
}

bool ExchangeWatchdog::finish() {
    bool passed = false;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        counting_ = false;
        lent_.clear();
        passed = passed_;
    }
    // Woken, the thread sleeps until the next exchange instead of waking
    // at this one's deadline for nothing.
    SetEvent(wake_.get());
    return passed;
}

DWORD ExchangeWatchdog::checkDeadline() {
    if (!counting_ || passed_) {
        return INFINITE;
    }
    const ULONGLONG now = GetTickCount64();
    if (now < due_) {
        const ULONGLONG left = due_ - now;
        return left < INFINITE ? static_cast<DWORD>(left) : INFINITE - 1;
    }
    // The close happens under the lock, so a guard cannot end, and its
    // handles with it, while one of them is being closed.
    passed_ = true;
    for (const InternetHandle* handle : lent_) {
        handle->close();
    }
    return INFINITE;
}

DWORD WINAPI ExchangeWatchdog::watch(LPVOID self) {
    auto* watchdog = static_cast<ExchangeWatchdog*>(self);
    for (;;) {
        DWORD sleep = INFINITE;
        {
            const std::lock_guard<std::mutex> lock(watchdog->mutex_);
            if (watchdog->quitting_) {
                return 0;
            }
            sleep = watchdog->checkDeadline();
        }
        WaitForSingleObject(watchdog->wake_.get(), sleep);
    }
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
