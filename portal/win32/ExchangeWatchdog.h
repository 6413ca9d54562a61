#pragma once

#include <windows.h>

#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <vector>

#include "core/win32/ScopedHandle.h"
#include "portal/win32/InternetHandle.h"

// Ends a portal exchange at its deadline from a thread of its own. WinINet's
// time-outs bound each wait, not the exchange; a synchronous call returns
// when its handle is closed from another thread (the documented way to
// cancel one), so closing the handles at the deadline bounds the whole
// exchange, however the server paces its bytes. Wine 8 lets a call already
// blocked run on until it returns by itself (by its time-out at the latest);
// the next call then fails. The thread logs nothing: the log window belongs
// to the thread that the call blocks.
class ExchangeWatchdog {
  public:
    // Starts counting at once.
    explicit ExchangeWatchdog(uint32_t deadlineMilliseconds);
    // Ends the thread; no handle is touched from it after this.
    ~ExchangeWatchdog();
    ExchangeWatchdog(const ExchangeWatchdog&) = delete;
    ExchangeWatchdog& operator=(const ExchangeWatchdog&) = delete;

    // False when the thread could not be started; GetLastError says why.
    bool running() const { return thread_.valid(); }
    // Ends the thread; true when the deadline had passed.
    bool finish();

    // Lends the watchdog handles to close at the deadline, for the guard's
    // lifetime; the first named is closed first. Declared after the handles,
    // the guard ends before them, so the watchdog never reaches a handle
    // object that is gone. Lent after the deadline, they are closed at once.
    class Guard {
      public:
        Guard(ExchangeWatchdog& watchdog, std::initializer_list<const InternetHandle*> handles);
        ~Guard();
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;

      private:
        ExchangeWatchdog& watchdog_;
    };

  private:
    static DWORD WINAPI watch(LPVOID self);

    const uint32_t deadline_;
    std::mutex mutex_;
    std::vector<const InternetHandle*> lent_;
    bool passed_ = false;
    bool finished_ = false;
    const ScopedHandle stop_;
    // Last: the thread may run before the constructor returns.
    const ScopedHandle thread_;
};
