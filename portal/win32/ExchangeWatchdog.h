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
//
// One thread serves every exchange of its owner, one at a time: under Wine
// starting and ending a thread costs milliseconds (every loaded library is
// told of both), which a thread per exchange added to each hello.
class ExchangeWatchdog {
  public:
    ExchangeWatchdog();
    // Ends the thread.
    ~ExchangeWatchdog();
    ExchangeWatchdog(const ExchangeWatchdog&) = delete;
    ExchangeWatchdog& operator=(const ExchangeWatchdog&) = delete;

    // False when the thread could not be started; GetLastError says why.
    bool running() const { return thread_.valid(); }
    // Starts counting an exchange's deadline.
    void begin(uint32_t deadlineMilliseconds);
    // Ends the exchange: no handle of it is touched after this. True when
    // its deadline had passed.
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
    // How long the thread may sleep; closes the handles when the deadline
    // has passed. Under the lock.
    DWORD checkDeadline();

    std::mutex mutex_;
    std::vector<const InternetHandle*> lent_;
    bool counting_ = false;
    bool passed_ = false;
    bool quitting_ = false;
    // GetTickCount64 does not move with the system's clock.
    ULONGLONG due_ = 0;
    const ScopedHandle wake_;
    // Last: the thread may run before the constructor returns.
    const ScopedHandle thread_;
};
