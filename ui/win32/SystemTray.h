#pragma once

#include <windows.h>

#include <shellapi.h>

#include <string>

#include "ui/win32/NotifyIconShell.h"
#include "ui/win32/TrayIcons.h"

// The agent's icon in the notification area: the good or the fault image, a
// tooltip that says what is wrong and when the portal is next called, a
// right-click menu and a double-click that opens the portal. Menu commands
// and the double-click arrive at the target window as WM_COMMAND. GUI
// thread only.
class CSystemTray {
  public:
    // How often and how long to try again when the shell refuses the icon,
    // as it does while the taskbar of a fresh logon is not ready yet.
    static constexpr UINT retryIntervalMs = 2000;
    static constexpr int retryAttempts = 90;

    explicit CSystemTray(NotifyIconShell& shell, UINT retryInterval = retryIntervalMs);
    virtual ~CSystemTray();
    CSystemTray(const CSystemTray&) = delete;
    CSystemTray& operator=(const CSystemTray&) = delete;

    // Adds the icon, visible, with the good image. When the shell refuses,
    // the tray tries again for a while and whenever the taskbar is created
    // anew; returns whether the first add succeeded.
    bool create(HINSTANCE instance, HWND notifyWindow, UINT callbackMessage,
                const std::string& tooltip, int iconResource, UINT iconId);

    // Shows this image and tooltip (cut at its field); false when the tray
    // is off or the shell refused.
    bool showLook(int iconResource, const std::string& tooltip);
    bool removeIcon();

    // The notification window's handler of the callback message.
    virtual int handleNotification(WPARAM iconId, LPARAM mouseMessage);
    // A device-change notice for the dongle: 0x8000 is its arrival.
    int deviceChanged(UINT eventType);
    // Shows the display status.
    int refreshStatus();
    // The menu's item texts come from the language file, which start-up
    // reads. A right-click before that is kept, and its menu shows here; a
    // second one shows the menu at once with the menu resource's own texts,
    // so that Exit can be reached even when start-up never finishes.
    void languageRead();

    HWND targetWindow() const;
    HWND hiddenWindow() const { return hiddenWindow_; }
    bool visible() const { return !hidden_; }
    const NOTIFYICONDATAA& notifyData() const { return data_; }

  protected:
    // Called with the popup just before it is shown.
    virtual void customizeMenu(HMENU) {}

  private:
    static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam);
    bool add();
    void taskbarCreated();
    void retryTimerExpired();
    int rightClickBeforeLanguage();
    int showMenu(bool languageTexts);
    int openDefault();

    NotifyIconShell& shell_;
    UINT retryInterval_;
    NOTIFYICONDATAA data_{};
    HINSTANCE instance_ = nullptr;
    HWND hiddenWindow_ = nullptr;
    HWND targetWindow_ = nullptr;
    bool enabled_ = false;
    bool hidden_ = true;
    bool removed_ = true;
    bool reinstallPending_ = false;
    int defaultMenuItem_ = 0;
    bool defaultByPosition_ = true;
    UINT creationFlags_ = 0;
    int retriesLeft_ = 0;
    int iconResource_ = 0;
    bool languageRead_ = false;
    bool menuKept_ = false;
    // The image the shell shows; it copies the handle's pixels, but a
    // re-add after "TaskbarCreated" needs the handle again.
    ScopedIcon icon_;
};

// The process's tray icon, talking to the real shell.
CSystemTray& systemTray();
