#pragma once

#include <windows.h>
#include <wininet.h>

// Owns one WinINet handle and closes it on every path. Handles of one
// exchange are declared session, connection, request, so they close in the
// reverse order, the request first.
class InternetHandle {
  public:
    explicit InternetHandle(HINTERNET handle = nullptr) : handle_(handle) {}
    ~InternetHandle() {
        if (handle_ != nullptr) {
            InternetCloseHandle(handle_);
        }
    }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;

    bool valid() const { return handle_ != nullptr; }
    HINTERNET get() const { return handle_; }

  private:
    HINTERNET handle_;
};
