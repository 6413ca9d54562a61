#include "core/win32/ApplicationThread.h"

#include "activities/win32/ShellUrlOpener.h"
#include "core/Clock.h"
#include "core/CycleGate.h"
#include "core/Log.h"
#include "core/Main.h"
#include "core/Platform.h"
#include "core/win32/MainWindow.h"
#include "core/win32/Win32MainWindow.h"
#include "core/win32/Win32SystemPaths.h"
#include "dongle/win32/Win32HidPort.h"
#include "portal/win32/WinInetTransport.h"
#include "storage/FilesystemResource.h"
#include "storage/win32/Win32CycleLock.h"
#include "storage/win32/Win32FileSystem.h"
#include "timer/win32/Win32WindowTimers.h"
#include "ui/win32/LoggerWindow.h"
#include "ui/win32/Win32SystemLanguage.h"

namespace {

Platform windowsPlatform(WindowTimers& timers);

}  // namespace

// What the GUI thread and the initialisation thread share.
struct Startup {
    Startup() : links(gate), main(windowsPlatform(timers), gate) {
        // Open Portal and About that arrive while start-up runs wait for it.
        gate.hold();
    }

    // Placed on the main window once the GUI thread has made it.
    Win32WindowTimers timers;
    CycleGate gate;
    LoggerWindowLinks links;
    Main main;
};

namespace {

DWORD WINAPI initialisationThread(LPVOID parameter) {
    Startup& startup = *static_cast<Startup*>(parameter);
    waitForMainWindow([] { return mainWindowHandle() != nullptr || startupAbandoned(); },
                      [] { waitForStartupDecision(500); });
    if (startupAbandoned()) {
        // This copy only handed Open Portal to the one already running;
        // reading the configuration, opening the dongle or writing the
        // run-time data here would race that copy.
        return 0;
    }
    startup.main.initialise();
    startup.links.startupFinished.store(true);
    const HWND window = mainWindowHandle();
    if (window != nullptr) {
        PostMessageA(window, WM_STARTUP_FINISHED, 0, 0);
    }
    return 0;
}

Platform windowsPlatform(WindowTimers& timers) {
    static Win32MainWindowCommands window;
    static SystemClock clock;
    static Win32SystemPaths paths;
    static Win32FileSystem files;
    static WinInetTransport http;
    static ShellUrlOpener urlOpener;
    static Win32SystemLanguage language;
    static Win32HidPort hid;
    static Win32CycleLock cycleLock(cycleLockFilePath(paths));
    Platform platform;
    platform.window = &window;
    platform.clock = &clock;
    platform.paths = &paths;
    platform.files = &files;
    platform.timers = &timers;
    platform.http = &http;
    platform.urlOpener = &urlOpener;
    platform.language = &language;
    platform.hid = &hid;
    platform.cycleLock = &cycleLock;
    return platform;
}

}  // namespace

ApplicationThread::ApplicationThread()
    : startup_(new Startup()), window_(new MainWindow(startup_->links, startup_->timers)) {
    // The log goes to the same window, stamped by the same clock.
    const Platform platform = windowsPlatform(startup_->timers);
    static const LogSink sink{*platform.window, *platform.clock};
    setLogSink(&sink);
}

void ApplicationThread::startThread() {
    const HANDLE thread = CreateThread(nullptr, 0, initialisationThread, startup_, 0, nullptr);
    if (thread == nullptr) {
        // Without it nothing would ever be wired or started; an agent that
        // only shows a window is worse than none.
        threadStarted_ = false;
        return;
    }
    // The thread runs on its own; nothing waits for it.
    CloseHandle(thread);
}

int ApplicationThread::run(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine,
                           int showCommand) {
    if (threadStarted_) {
        window_->run(instance, previous, commandLine, showCommand);
    }
    return 0;
}
