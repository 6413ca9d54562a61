// What one log line costs the agent's GUI thread, with its own logger window
// code: the line goes through log(), the window command and the log view,
// as in a cycle. Lines come in cycles of sixteen (a hello's worth), each
// followed by 100 ms in the message loop (the portal's answer time), and
// the thread's busy time is summed: the log calls, and every message
// handled meanwhile (view updates, painting). Measured while the log is
// short and again once it has reached its cap, where lines push the oldest
// out.
//
//   logviewbench [CYCLES]      prints key=value lines

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/Clock.h"
#include "core/CycleGate.h"
#include "core/Log.h"
#include "core/win32/Win32MainWindow.h"
#include "ui/LogText.h"
#include "ui/win32/LoggerWindow.h"

namespace {

using Steady = std::chrono::steady_clock;

double msSince(Steady::time_point from) {
    return std::chrono::duration<double, std::milli>(Steady::now() - from).count();
}

// Handles what is queued; returns the milliseconds it took.
double pump() {
    const auto begin = Steady::now();
    MSG message{};
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return msSince(begin);
}

// Waits in the message loop for `ms`; returns the time spent handling
// messages.
double idle(double ms) {
    const auto begin = Steady::now();
    double busy = 0;
    for (double left = ms; left > 0; left = ms - msSince(begin)) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left) + 1, QS_ALLINPUT);
        busy += pump();
    }
    return busy;
}

// A line as long as a typical one of the hello cycle.
const std::string kLine = "startHelloThreadIn starts in[ms]: 100 and some more words here";
constexpr int kLinesPerCycle = 16;

double microsecondsPerLine(int cycles) {
    double busy = 0;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        const auto begin = Steady::now();
        for (int i = 0; i < kLinesPerCycle; ++i) {
            log(kLine);
        }
        busy += msSince(begin) + pump() + idle(100);
    }
    return busy * 1000.0 / (cycles * kLinesPerCycle);
}

int viewLength() {
    return GetWindowTextLengthA(GetDlgItem(mainWindowHandle(), 1));
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    const int cycles = __argc > 1 ? std::atoi(__argv[1]) : 20;
    if (!registerLoggerWindowClass(instance)) {
        return 1;
    }
    static CycleGate gate;
    static LoggerWindowLinks links(gate);
    const HWND window = createLoggerWindow(instance, links);
    if (window == nullptr) {
        return 1;
    }
    setMainWindow(window, instance);
    static Win32MainWindowCommands commands;
    static const SystemClock clock;
    static const LogSink sink{commands, clock};
    setLogSink(&sink);
    setLoggingEnabled(true);
    commands.showLogger();
    idle(300);

    const double empty = microsecondsPerLine(cycles);
    const int emptyLength = viewLength();
    // Fill to the cap, untimed.
    const std::size_t perLine = kLine.size() + 12;
    const int toFill = static_cast<int>(LogText::defaultCapacity / perLine) + 10;
    for (int i = 0; i < toFill; ++i) {
        log(kLine);
    }
    SendMessageA(window, WM_LOG_VIEW_UPDATE, 0, 0);
    idle(300);
    const int fullLength = viewLength();
    const double full = microsecondsPerLine(cycles);
    SendMessageA(window, WM_LOG_VIEW_UPDATE, 0, 0);

    std::printf("cycles=%d\nlines_per_cycle=%d\nline_bytes=%zu\nshort_view_chars=%d\n"
                "full_view_chars=%d\nshort_log_us_per_line=%.1f\nfull_log_us_per_line=%.1f\n",
                cycles, kLinesPerCycle, kLine.size() + 11, emptyLength, fullLength, empty, full);
    std::fflush(stdout);
    DestroyWindow(window);
    return 0;
}
