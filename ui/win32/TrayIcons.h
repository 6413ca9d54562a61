#pragma once

#include <windows.h>

// Owns an icon and destroys it on every path. Movable, so that the tray can
// keep the icon it shows and swap in the next one.
class ScopedIcon {
  public:
    explicit ScopedIcon(HICON icon = nullptr) noexcept : icon_(icon) {}
    ~ScopedIcon() { reset(); }
    ScopedIcon(ScopedIcon&& other) noexcept : icon_(other.release()) {}
    ScopedIcon& operator=(ScopedIcon&& other) noexcept {
        reset(other.release());
        return *this;
    }
    ScopedIcon(const ScopedIcon&) = delete;
    ScopedIcon& operator=(const ScopedIcon&) = delete;

    HICON get() const noexcept { return icon_; }
    explicit operator bool() const noexcept { return icon_ != nullptr; }
    HICON release() noexcept {
        const HICON icon = icon_;
        icon_ = nullptr;
        return icon;
    }
    void reset(HICON icon = nullptr) noexcept {
        if (icon_ != nullptr && icon_ != icon) {
            DestroyIcon(icon_);
        }
        icon_ = icon;
    }

  private:
    HICON icon_;
};

// The size the notification area shows its icons at: the small-icon metric
// at the DPI of the taskbar, or of the system where that is unknown.
SIZE trayIconSize();

// Loads an icon group's image drawn for trayIconSize(); LoadIcon would take
// the 32 px image and let the shell shrink or stretch it. Null on failure,
// which is logged. The caller destroys the icon (ScopedIcon).
HICON loadTrayIcon(HINSTANCE instance, int resourceId);
