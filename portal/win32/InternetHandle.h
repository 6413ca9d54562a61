#pragma once

#include <windows.h>
#include <wininet.h>

#include <atomic>

// Owns one WinINet handle and closes it once, on every path. Handles of one
// exchange are declared session, connection, request, so they close in the
// reverse order, the request first. Another thread may close it early
// (ExchangeWatchdog): a call blocked on it then returns, and from then on
// get() gives null, so the closed value is never handed to WinINet again.
class InternetHandle {
  public:
    explicit InternetHandle(HINTERNET handle = nullptr) : handle_(handle) {}
    ~InternetHandle() { close(); }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;

    bool valid() const { return get() != nullptr; }
    HINTERNET get() const { return handle_.load(); }
    // Whichever thread comes first closes it; the other finds nothing left.
    // Const: an owner that never lets go of its handle may still end it early.
    void close() const {
        if (const HINTERNET handle = handle_.exchange(nullptr)) {
            InternetCloseHandle(handle);
        }
    }

  private:
    mutable std::atomic<HINTERNET> handle_;
};
