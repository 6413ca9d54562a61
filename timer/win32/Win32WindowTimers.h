#pragma once

#include <windows.h>

#include "timer/WindowTimers.h"

// Window timers (SetTimer) on one window; expiries are dispatched by that
// window's message loop, on its thread. A SetTimer timer repeats until it is
// killed, so a one-shot expiry kills its own timer before anything else.
class Win32WindowTimers final : public WindowTimers {
  public:
    // Timers on the main window, looked up at each call because the adapter
    // is built before the GUI thread has created the window.
    Win32WindowTimers();
    // Timers on the given window, which must outlive this object.
    explicit Win32WindowTimers(HWND window);
    // Kills the timers still armed through this object, so no expiry can
    // reach it after it is gone.
    ~Win32WindowTimers() override;
    Win32WindowTimers(const Win32WindowTimers&) = delete;
    Win32WindowTimers& operator=(const Win32WindowTimers&) = delete;

    void arm(unsigned id, uint32_t delayMilliseconds, Expiry onExpiry) override;
    void kill(unsigned id) override;

  private:
    HWND window() const;

    HWND window_;
};
