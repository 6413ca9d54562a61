#pragma once

#include <windows.h>

#include <shellapi.h>

// The shell's notification area, as the tray icon uses it: add, modify or
// delete one icon record. Tests put a recorder in its place.
class NotifyIconShell {
  public:
    virtual ~NotifyIconShell() = default;
    virtual bool notify(DWORD message, const NOTIFYICONDATAA& data) = 0;
};

class Win32NotifyIconShell final : public NotifyIconShell {
  public:
    bool notify(DWORD message, const NOTIFYICONDATAA& data) override {
        // The call only reads the record; its signature predates const.
        return Shell_NotifyIconA(message, const_cast<NOTIFYICONDATAA*>(&data)) != FALSE;
    }
};
