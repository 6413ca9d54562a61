#include "ui/win32/SystemTray.h"

#include <cstring>

#include "core/Log.h"
#include "ui/DisplayStatus.h"
#include "ui/Texts.h"
#include "ui/TrayStatus.h"

namespace {

constexpr const char* trayWindowClass = "TrayIconClass";
constexpr UINT_PTR retryTimerId = 1;
constexpr UINT deviceArrival = 0x8000;

// The tray whose hidden window the window procedure serves.
CSystemTray* instance = nullptr;

UINT taskbarCreatedMessage() {
    // Registered once; every process that asks gets the same number.
    static const UINT message = RegisterWindowMessageA("TaskbarCreated");
    return message;
}

// The popup of the tray menu resource, owned together with its menu.
class TrayMenu {
  public:
    TrayMenu(HINSTANCE module, UINT id) : menu_(LoadMenuA(module, MAKEINTRESOURCEA(id))) {
        popup_ = menu_ != nullptr ? GetSubMenu(menu_, 0) : nullptr;
    }
    ~TrayMenu() {
        if (menu_ != nullptr) {
            DestroyMenu(menu_);
        }
    }
    TrayMenu(const TrayMenu&) = delete;
    TrayMenu& operator=(const TrayMenu&) = delete;

    HMENU popup() const { return popup_; }

  private:
    HMENU menu_;
    HMENU popup_ = nullptr;
};

void setItemText(HMENU menu, UINT position, const std::string& text) {
    // The item keeps its own copy; the buffer need only outlive the call.
    std::string copy = text;
    MENUITEMINFOA item{};
    item.cbSize = sizeof(item);
    item.fMask = MIIM_TYPE;
    GetMenuItemInfoA(menu, position, TRUE, &item);
    item.fMask = MIIM_TYPE;
    item.fType = MFT_STRING;
    item.dwTypeData = copy.data();
    SetMenuItemInfoA(menu, position, TRUE, &item);
}

}  // namespace

CSystemTray::CSystemTray(NotifyIconShell& shell, UINT retryInterval)
    : shell_(shell), retryInterval_(retryInterval) {
    instance = this;
}

CSystemTray::~CSystemTray() {
    removeIcon();
    if (hiddenWindow_ != nullptr) {
        DestroyWindow(hiddenWindow_);
    }
    if (instance == this) {
        instance = nullptr;
    }
}

bool CSystemTray::create(HINSTANCE module, HWND notifyWindow, UINT callbackMessage,
                         const std::string& tooltip, int iconResource, UINT iconId) {
    // Notification icons need shell version 4; every supported Windows has it.
    enabled_ = LOBYTE(LOWORD(GetVersion())) >= 4;
    if (!enabled_) {
        return false;
    }
    instance_ = module;
    taskbarCreatedMessage();

    WNDCLASSA windowClass{};
    windowClass.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.hInstance = module;
    windowClass.lpszClassName = trayWindowClass;
    // Fails harmlessly when a tray of this process registered it before.
    RegisterClassA(&windowClass);
    // A top-level popup, unlike a message-only window, receives the
    // "TaskbarCreated" broadcast.
    hiddenWindow_ =
        CreateWindowExA(0, trayWindowClass, "", WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, module, nullptr);
    if (hiddenWindow_ == nullptr) {
        log("[CSystemTray::create] CreateWindowExA failed, GetLastError=",
            static_cast<int64_t>(GetLastError()));
    }

    // The record as far as the fields used here: window, id, flags,
    // callback, icon and the 128-byte tooltip.
    data_ = NOTIFYICONDATAA{};
    data_.cbSize = NOTIFYICONDATAA_V3_SIZE;
    data_.hWnd = notifyWindow != nullptr ? notifyWindow : hiddenWindow_;
    data_.uID = iconId;
    data_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data_.uCallbackMessage = callbackMessage;
    iconResource_ = iconResource;
    icon_ = ScopedIcon(loadTrayIcon(module, iconResource));
    data_.hIcon = icon_.get();
    std::strncpy(data_.szTip, tooltip.c_str(), sizeof(data_.szTip) - 1);
    targetWindow_ = data_.hWnd;
    creationFlags_ = data_.uFlags;

    const bool added = add();
    if (!added) {
        log("[CSystemTray::create] the shell refused the icon, trying again");
        retriesLeft_ = retryAttempts;
        if (hiddenWindow_ != nullptr) {
            SetTimer(hiddenWindow_, retryTimerId, retryInterval_, nullptr);
        }
    }
    return added;
}

bool CSystemTray::add() {
    NOTIFYICONDATAA record = data_;
    record.uFlags = creationFlags_;
    const bool added = shell_.notify(NIM_ADD, record);
    hidden_ = !added;
    removed_ = !added;
    reinstallPending_ = !added;
    return added;
}

void CSystemTray::retryTimerExpired() {
    if (!hidden_ || retriesLeft_ <= 0 || add()) {
        KillTimer(hiddenWindow_, retryTimerId);
        if (!hidden_) {
            // What changed while the icon was missing shows now.
            refreshStatus();
        }
        return;
    }
    --retriesLeft_;
}

void CSystemTray::taskbarCreated() {
    // A new taskbar knows none of the old icons. An icon that was never
    // shown gets its chance here too; one removed on purpose stays away.
    if (!enabled_ || (removed_ && !reinstallPending_)) {
        return;
    }
    if (!add()) {
        // Some shells keep the icons across a restart of the taskbar and
        // then refuse to add one twice; a modify tells whether it is there.
        NOTIFYICONDATAA record = data_;
        record.uFlags = creationFlags_;
        if (!shell_.notify(NIM_MODIFY, record)) {
            return;
        }
        hidden_ = false;
        removed_ = false;
        reinstallPending_ = false;
    }
    KillTimer(hiddenWindow_, retryTimerId);
    refreshStatus();
}

bool CSystemTray::showLook(int iconResource, const std::string& tooltip) {
    if (!enabled_) {
        return false;
    }
    if (iconResource != iconResource_ || icon_.get() == nullptr) {
        ScopedIcon loaded(loadTrayIcon(instance_, iconResource));
        if (loaded.get() != nullptr) {
            icon_ = std::move(loaded);
            iconResource_ = iconResource;
        }
    }
    // Image and tooltip in one call: each call is a round trip to the
    // taskbar's process, and every status report refreshes both.
    data_.uFlags = NIF_ICON | NIF_TIP;
    data_.hIcon = icon_.get();
    std::memset(data_.szTip, 0, sizeof(data_.szTip));
    std::strncpy(data_.szTip, tooltip.c_str(), sizeof(data_.szTip) - 1);
    if (hidden_) {
        return true;
    }
    return shell_.notify(NIM_MODIFY, data_);
}

bool CSystemTray::removeIcon() {
    reinstallPending_ = false;
    if (hiddenWindow_ != nullptr) {
        KillTimer(hiddenWindow_, retryTimerId);
    }
    if (!enabled_ || removed_) {
        return true;
    }
    data_.uFlags = 0;
    if (shell_.notify(NIM_DELETE, data_)) {
        hidden_ = true;
        removed_ = true;
    }
    return removed_;
}

HWND CSystemTray::targetWindow() const {
    return targetWindow_ != nullptr ? targetWindow_ : data_.hWnd;
}

int CSystemTray::refreshStatus() {
    const TrayLook look = trayLook(snapshotOf(displayStatus()));
    showLook(look.iconResource, look.tooltip);
    return 0;
}

int CSystemTray::deviceChanged(UINT eventType) {
    displayStatus().usbState = eventType == deviceArrival;
    refreshStatus();
    return 0;
}

int CSystemTray::handleNotification(WPARAM iconId, LPARAM mouseMessage) {
    if (iconId != data_.uID || targetWindow() == nullptr) {
        return 0;
    }
    switch (LOWORD(mouseMessage)) {
        case WM_RBUTTONUP:
            return languageRead_ ? showMenu(true) : rightClickBeforeLanguage();
        case WM_LBUTTONDBLCLK:
            return openDefault();
        default:
            return 1;
    }
}

void CSystemTray::languageRead() {
    languageRead_ = true;
    if (menuKept_) {
        menuKept_ = false;
        showMenu(true);
    }
}

int CSystemTray::rightClickBeforeLanguage() {
    // Start-up is usually over within a second; a user who clicks again
    // meanwhile wants the menu now, in whatever words there are.
    if (!menuKept_) {
        menuKept_ = true;
        return 1;
    }
    menuKept_ = false;
    return showMenu(false);
}

int CSystemTray::showMenu(bool languageTexts) {
    const TrayMenu menu(instance_, data_.uID);
    if (menu.popup() == nullptr) {
        return 0;
    }
    if (languageTexts) {
        setItemText(menu.popup(), 0, Texts::get("SYS_OPEN_PORTAL"));
        setItemText(menu.popup(), 1, Texts::get("SYS_ABOUT_US"));
        setItemText(menu.popup(), 2, Texts::get("SYS_EXIT"));
    }
    SetMenuDefaultItem(menu.popup(), static_cast<UINT>(defaultMenuItem_),
                       defaultByPosition_ ? TRUE : FALSE);
    customizeMenu(menu.popup());

    POINT cursor{};
    GetCursorPos(&cursor);
    // Without the foreground the menu would not close when the user clicks
    // elsewhere.
    SetForegroundWindow(data_.hWnd);
    TrackPopupMenu(menu.popup(), TPM_LEFTALIGN | TPM_LEFTBUTTON, cursor.x, cursor.y, 0,
                   targetWindow(), nullptr);
    // Makes the menu's own window notice it is done before the next click.
    PostMessageA(data_.hWnd, WM_NULL, 0, 0);
    return 1;
}

int CSystemTray::openDefault() {
    SetForegroundWindow(data_.hWnd);
    UINT command = static_cast<UINT>(defaultMenuItem_);
    if (defaultByPosition_) {
        const TrayMenu menu(instance_, data_.uID);
        if (menu.popup() == nullptr) {
            return 0;
        }
        command = GetMenuItemID(menu.popup(), defaultMenuItem_);
    }
    // Posted: the double-click's handler must return before Open Portal
    // may show a message box.
    PostMessageA(targetWindow(), WM_COMMAND, command, 0);
    return 1;
}

LRESULT CALLBACK CSystemTray::windowProcedure(HWND window, UINT message, WPARAM wParam,
                                              LPARAM lParam) {
    CSystemTray* tray = instance;
    if (tray != nullptr && window == tray->hiddenWindow_) {
        if (message == taskbarCreatedMessage()) {
            tray->taskbarCreated();
            return 0;
        }
        if (message == WM_TIMER && wParam == retryTimerId) {
            tray->retryTimerExpired();
            return 0;
        }
        if (message == tray->data_.uCallbackMessage && tray->data_.hWnd == window) {
            return tray->handleNotification(wParam, lParam);
        }
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

CSystemTray& systemTray() {
    static Win32NotifyIconShell shell;
    // Never destroyed: the icon is removed explicitly when the window goes,
    // and the hidden window must not outlive the thread that owns it.
    static CSystemTray* tray = new CSystemTray(shell);
    return *tray;
}
