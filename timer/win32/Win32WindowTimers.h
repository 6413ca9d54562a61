#pragma once

#include <windows.h>

#include <cstdint>
#include <map>

#include "timer/WindowTimers.h"

// Window timers (SetTimer) on one window; expiries are dispatched by that
// window's message loop, on its thread. A SetTimer timer repeats until it is
// killed, so a one-shot expiry kills its own timer before anything else.
class Win32WindowTimers final : public WindowTimers {
  public:
    // Timers on the window given to attach. Start-up may arm before the GUI
    // thread has made that window: those arms are kept and placed on it when
    // it comes, with what is left of their delays.
    Win32WindowTimers();
    // Timers on the given window, which must outlive this object.
    explicit Win32WindowTimers(HWND window);
    // Kills the timers still armed through this object, so no expiry can
    // reach it after it is gone.
    ~Win32WindowTimers() override;
    Win32WindowTimers(const Win32WindowTimers&) = delete;
    Win32WindowTimers& operator=(const Win32WindowTimers&) = delete;

    // The window now exists. Any thread; the window must outlive this object.
    void attach(HWND window);

    void arm(unsigned id, uint32_t delayMilliseconds, Expiry onExpiry) override;
    void kill(unsigned id) override;

  private:
    struct Kept {
        ULONGLONG due;  // GetTickCount64
        Expiry onExpiry;
    };

    // Both under the lock of the process's timer table.
    HWND window_;
    std::map<unsigned, Kept> kept_;
};
