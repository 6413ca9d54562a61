#include "core/win32/MainWindow.h"

#include "core/win32/SingleInstance.h"
#include "core/win32/Win32MainWindow.h"
#include "resources/resource.h"
#include "timer/win32/Win32WindowTimers.h"
#include "ui/win32/LoggerWindow.h"
#include "ui/win32/SystemTray.h"

namespace {

// Asks the running copy to open the portal, as if its user had chosen Open
// Portal. The wait is bounded: a copy busy with a slow portal must not leave
// this one hanging around.
void handOverToRunningCopy() {
    const HWND running = FindWindowA(loggerWindowClassName, nullptr);
    if (running == nullptr || running == reinterpret_cast<HWND>(INVALID_HANDLE_VALUE)) {
        return;
    }
    DWORD_PTR result = 0;
    SendMessageTimeoutA(running, WM_COMMAND, ID_OPEN_PORTAL, 0, SMTO_NORMAL, 60000, &result);
}

}  // namespace

bool StartupExpiries::hold(const MSG& message, bool startupFinished) {
    if (message.message != WM_TIMER || startupFinished) {
        return false;
    }
    held_[{message.hwnd, message.wParam}] = message.lParam;
    return true;
}

void StartupExpiries::postAgain() {
    for (const auto& [timer, procedure] : held_) {
        PostMessageA(timer.first, WM_TIMER, timer.second, procedure);
    }
    held_.clear();
}

MainWindow::MainWindow(LoggerWindowLinks& links, Win32WindowTimers& timers)
    : links_(links), timers_(timers) {}

int MainWindow::run(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // Held while the message loop runs, that is for the life of the agent.
    const SingleInstanceLock singleInstance("quorvel_exe");
    if (singleInstance.anotherCopyRuns()) {
        setStartupAbandoned();
        handOverToRunningCopy();
        return 0;
    }

    if (!registerLoggerWindowClass(instance)) {
        return 0;
    }
    const HWND window = createLoggerWindow(instance, links_);
    if (window == nullptr) {
        return 0;
    }
    setMainWindow(window, instance);
    // Start-up may have given up waiting for the window and armed the
    // stored hello and transmit plans already; they go on the window now.
    timers_.attach(window);
    // It may even have finished; then nobody else tells the window so.
    if (links_.startupFinished.load()) {
        PostMessageA(window, WM_STARTUP_FINISHED, 0, 0);
    }

    // Hidden before the tray is created: adding the icon is a cross-process
    // call during which start-up's "show the log" can already arrive, and a
    // hide after it would undo that.
    ShowWindow(window, SW_HIDE);
    UpdateWindow(window);

    // A refused icon is not the end: at logon the taskbar is often not
    // ready yet, and the tray keeps trying.
    systemTray().create(instance, window, WM_TRAY_NOTIFY, "Open Portal - Double click here",
                        IDI_TRAY_GOOD, TRAY_ICON_ID);

    StartupExpiries expiries;
    MSG message{};
    for (;;) {
        const BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0) {
            break;
        }
        if (got == -1) {
            // Only an invalid window or message pointer makes this fail;
            // spinning on it would burn a core forever.
            return 0;
        }
        // Timer expiries wait until the initialisation thread has finished,
        // so the two threads never touch the agent's state at once.
        if (expiries.hold(message, links_.startupFinished.load())) {
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
        if (message.message == WM_STARTUP_FINISHED && links_.startupFinished.load()) {
            expiries.postAgain();
        }
    }
    return static_cast<int>(message.wParam);
}
