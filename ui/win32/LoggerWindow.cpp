#include "ui/win32/LoggerWindow.h"

#include "core/CycleGate.h"
#include "core/Log.h"
#include "resources/resource.h"
#include "ui/LogText.h"
#include "ui/Texts.h"
#include "ui/UserInterfaceResource.h"
#include "ui/WindowCommand.h"

namespace {

// The log view's style: child, visible, border, both scroll bars,
// multi-line, auto-scrolling in both directions.
constexpr DWORD logViewStyle = 0x50B000C4;

struct LoggerWindowState {
    HWND logView = nullptr;
    LogText logText;
};

// Only the GUI thread touches it, inside the window procedure.
LoggerWindowState& state() {
    static LoggerWindowState instance;
    return instance;
}

void createLogView(HWND window, const CREATESTRUCTA* creation) {
    state().logView = CreateWindowExA(0, "edit", nullptr, logViewStyle, 0, 0, 0, 0, window,
                                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_LOG_VIEW)),
                                      creation->hInstance, nullptr);
    if (state().logView == nullptr) {
        return;
    }
    // An edit control refuses text past 32K characters by default; the log
    // text has its own cap.
    SendMessageA(state().logView, EM_SETLIMITTEXT, 0, 0);
    SetWindowTextA(state().logView, state().logText.text().c_str());
}

void appendLogLine(const char* line) {
    if (line == nullptr) {
        return;
    }
    state().logText.append(line);
    if (state().logView != nullptr) {
        SetWindowTextA(state().logView, state().logText.text().c_str());
    }
}

void showFatalError(HWND window, const char* text) {
    // The title is empty when the language file itself was what failed.
    MessageBoxA(nullptr, text != nullptr ? text : "", Texts::get("ERROR_MESSAGE_TITLE").c_str(),
                MB_OK);
    DestroyWindow(window);
}

void openPortal() {
    // Waits while start-up or a cycle runs: arming a hello in the middle of
    // one would be overwritten by the plan that cycle makes.
    cycleGate().run("open portal", [] {
        if (UserInterfaceResource* userInterface = publishedUserInterface()) {
            userInterface->openPortal();
        }
    });
}

LRESULT handleCommand(HWND window, WPARAM wParam, LPARAM lParam) {
    const WindowCommand command = classifyWindowCommand(wParam, lParam);
    if (needsUserInterface(command)) {
        // Only Open Portal has something to do here so far: no tray icon
        // shows the status yet, and there is no About dialog to fill.
        if (command == WindowCommand::OpenPortal) {
            openPortal();
        }
        return 0;
    }
    switch (command) {
        case WindowCommand::LogLine:
            appendLogLine(reinterpret_cast<const char*>(lParam));
            return 0;
        case WindowCommand::ShowLogger:
            ShowWindow(window, SW_SHOW);
            return 0;
        case WindowCommand::FatalError:
            showFatalError(window, reinterpret_cast<const char*>(wParam));
            return 0;
        case WindowCommand::Exit:
            DestroyWindow(window);
            return 0;
        default:
            return 0;
    }
}

LRESULT CALLBACK loggerWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            createLogView(window, reinterpret_cast<const CREATESTRUCTA*>(lParam));
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        case WM_SIZE:
            if (state().logView != nullptr) {
                MoveWindow(state().logView, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
            }
            return 0;
        case WM_SETFOCUS:
            if (state().logView != nullptr) {
                SetFocus(state().logView);
            }
            return 0;
        case WM_COMMAND:
            return handleCommand(window, wParam, lParam);
        case WM_STARTUP_FINISHED:
            cycleGate().release();
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

}  // namespace

bool registerLoggerWindowClass(HINSTANCE instance) {
    WNDCLASSA windowClass{};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = loggerWindowProcedure;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_QUORVEL));
    windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszMenuName = MAKEINTRESOURCEA(IDR_MAIN_MENU);
    windowClass.lpszClassName = loggerWindowClassName;
    if (RegisterClassA(&windowClass) == 0) {
        log("[LoggerWindow::register] RegisterClassA failed, GetLastError=",
            static_cast<int64_t>(GetLastError()));
        return false;
    }
    return true;
}

HWND createLoggerWindow(HINSTANCE instance) {
    return CreateWindowExA(0, loggerWindowClassName, loggerWindowClassName, WS_OVERLAPPEDWINDOW,
                           CW_USEDEFAULT, 0, CW_USEDEFAULT, 0, nullptr, nullptr, instance, nullptr);
}
