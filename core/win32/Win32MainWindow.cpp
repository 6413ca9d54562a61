#include "core/win32/Win32MainWindow.h"

#include <atomic>

#include "core/SentTexts.h"
#include "resources/resource.h"

namespace {
std::atomic<HWND> windowHandle{nullptr};
std::atomic<HINSTANCE> instance{nullptr};
std::atomic<bool> abandoned{false};

// Set once the window exists or start-up is given up, so that the
// initialisation thread need not sleep out a whole half second.
HANDLE decided() {
    // Never closed: both threads use it until the process ends.
    static const HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    return event;
}
}  // namespace

void waitForStartupDecision(DWORD milliseconds) {
    const HANDLE event = decided();
    if (event == nullptr) {
        Sleep(milliseconds);
        return;
    }
    WaitForSingleObject(event, milliseconds);
}

HWND mainWindowHandle() {
    return windowHandle.load();
}

HINSTANCE moduleInstance() {
    return instance.load();
}

void setMainWindow(HWND window, HINSTANCE module) {
    instance.store(module);
    windowHandle.store(window);
    if (window != nullptr) {
        SetEvent(decided());
    }
}

bool startupAbandoned() {
    return abandoned.load();
}

void setStartupAbandoned() {
    abandoned.store(true);
    SetEvent(decided());
}

void Win32MainWindowCommands::send(WPARAM wParam, LPARAM lParam) {
    const HWND window = mainWindowHandle();
    if (window == nullptr) {
        return;
    }
    // From the GUI thread this calls the window procedure directly; from the
    // initialisation thread it waits until the message loop has handled it.
    SendMessageA(window, WM_COMMAND, wParam, lParam);
}

void Win32MainWindowCommands::appendLogLine(const std::string& line) {
    const SentTexts::Loan loan(sentTexts(), line.c_str());
    send(ID_LOG_LINE, reinterpret_cast<LPARAM>(line.c_str()));
}

void Win32MainWindowCommands::showLogger() {
    // The window ignores lParam for this command; an empty text keeps it a
    // valid address for anyone who reads it.
    static const char empty[] = "";
    send(ID_SHOW_LOGGER, reinterpret_cast<LPARAM>(empty));
}

void Win32MainWindowCommands::statusChanged() {
    // This command travels in lParam, not in wParam.
    send(0, ID_STATUS_CHANGED);
}

void Win32MainWindowCommands::fatalError(const char* text) {
    const SentTexts::Loan loan(sentTexts(), text);
    send(reinterpret_cast<WPARAM>(text), ID_FATAL_ERROR);
}
