// What one log line costs the agent's GUI thread, with its own logger window
// code: the line goes through log(), the window command and the log view,
// as in a cycle. Measured while the log is short and again once it has
// reached its cap, where each new line pushes the oldest out. Paint messages
// are handled after every ten lines, about one cycle's worth.
//
//   logviewbench [LINES [FULL_LINES]]      prints key=value lines

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

void pump() {
    MSG message{};
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

// A line as long as a typical one of the hello cycle.
const std::string kLine = "startHelloThreadIn starts in[ms]: 100 and some more words here";

double microsecondsPerLine(int lines) {
    const auto begin = std::chrono::steady_clock::now();
    for (int i = 0; i < lines; ++i) {
        log(kLine);
        if (i % 10 == 9) {
            pump();
        }
    }
    pump();
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - begin)
               .count() /
           lines;
}

int viewLength() {
    return GetWindowTextLengthA(GetDlgItem(mainWindowHandle(), 1));
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    const int lines = __argc > 1 ? std::atoi(__argv[1]) : 300;
    // Lines on a full log cost far more; fewer are enough there.
    const int fullLines = __argc > 2 ? std::atoi(__argv[2]) : 10;
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
    pump();

    const double empty = microsecondsPerLine(lines);
    const int emptyLength = viewLength();
    // Fill to the cap, untimed.
    const std::size_t perLine = kLine.size() + 12;
    const int toFill = static_cast<int>(LogText::defaultCapacity / perLine) + 10;
    for (int i = 0; i < toFill; ++i) {
        log(kLine);
    }
    pump();
    const int fullLength = viewLength();
    const double full = microsecondsPerLine(fullLines);

    std::printf("lines=%d\nfull_lines=%d\nline_bytes=%zu\nshort_view_chars=%d\nfull_view_chars=%d\n"
                "short_log_us_per_line=%.1f\nfull_log_us_per_line=%.1f\n",
                lines, fullLines, kLine.size() + 11, emptyLength, fullLength, empty, full);
    std::fflush(stdout);
    DestroyWindow(window);
    return 0;
}
