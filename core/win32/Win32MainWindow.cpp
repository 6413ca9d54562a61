#include "core/win32/Win32MainWindow.h"

#include <atomic>

namespace {
std::atomic<HWND> mainWindow{nullptr};
std::atomic<HINSTANCE> instance{nullptr};
std::atomic<bool> initialised{false};
}  // namespace

HWND mainWindowHandle() {
    return mainWindow.load();
}

HINSTANCE moduleInstance() {
    return instance.load();
}

void setMainWindow(HWND window, HINSTANCE module) {
    instance.store(module);
    mainWindow.store(window);
}

bool initialisationFinished() {
    return initialised.load();
}

void setInitialisationFinished() {
    initialised.store(true);
}

intptr_t Win32MainWindowCommands::send(uintptr_t wParam, intptr_t lParam) {
    const HWND window = mainWindowHandle();
    if (window == nullptr) {
        return 0;
    }
    // From the GUI thread this calls the window procedure directly; from the
    // initialisation thread it waits until the message loop has handled it.
    return SendMessageA(window, WM_COMMAND, static_cast<WPARAM>(wParam),
                        static_cast<LPARAM>(lParam));
}
