#include "ui/win32/TrayIcons.h"

#include <cstdint>
#include <string>

#include "core/Log.h"

namespace {

using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
using GetDpiForSystemFunction = UINT(WINAPI*)();
using GetSystemMetricsForDpiFunction = int(WINAPI*)(int, UINT);

// The per-DPI calls arrived with Windows 10 1607; the program also runs on
// Windows 7, so they are looked up rather than imported.
template <typename Function>
Function user32Function(const char* name) {
    // The program imports user32, so it stays loaded and the lookup holds.
    const HMODULE user32 = GetModuleHandleA("user32.dll");
    return user32 != nullptr
               ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(user32, name)))
               : nullptr;
}

// The notification area lives on the primary taskbar and follows its DPI,
// which changes with the display scale at once; the system DPI stays at its
// sign-in value. 0 when neither can be asked.
UINT notificationAreaDpi() {
    static const auto forWindow = user32Function<GetDpiForWindowFunction>("GetDpiForWindow");
    static const auto forSystem = user32Function<GetDpiForSystemFunction>("GetDpiForSystem");
    UINT dpi = 0;
    if (forWindow != nullptr) {
        // Missing while Explorer restarts.
        const HWND taskbar = FindWindowA("Shell_TrayWnd", nullptr);
        if (taskbar != nullptr) {
            dpi = forWindow(taskbar);
        }
    }
    if (dpi == 0 && forSystem != nullptr) {
        dpi = forSystem();
    }
    return dpi;
}

}  // namespace

SIZE trayIconSize() {
    static const auto metricsForDpi =
        user32Function<GetSystemMetricsForDpiFunction>("GetSystemMetricsForDpi");
    const UINT dpi = metricsForDpi != nullptr ? notificationAreaDpi() : 0;
    if (dpi != 0) {
        return SIZE{metricsForDpi(SM_CXSMICON, dpi), metricsForDpi(SM_CYSMICON, dpi)};
    }
    // Older Windows scale the whole desktop by one DPI, which this reflects.
    return SIZE{GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON)};
}

HICON loadTrayIcon(HINSTANCE instance, int resourceId) {
    const SIZE size = trayIconSize();
    auto* icon = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(resourceId), IMAGE_ICON,
                                               size.cx, size.cy, LR_DEFAULTCOLOR));
    if (icon == nullptr) {
        log("[loadTrayIcon] LoadImageA failed for icon " + std::to_string(resourceId) +
                ", GetLastError=",
            static_cast<int64_t>(GetLastError()));
    }
    return icon;
}
