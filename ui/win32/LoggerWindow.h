#pragma once

#include <windows.h>

#include <atomic>

class CycleGate;

// The agent's main window: hidden unless logging is on, target of every
// window command, and its destruction ends the program.
inline constexpr const char* loggerWindowClassName = "Quorvel Logger Window";

// What start-up hands the logger window when it creates it; it must outlive
// the window.
struct LoggerWindowLinks {
    explicit LoggerWindowLinks(CycleGate& cycleGate) : gate(cycleGate) {}

    // The GUI thread's cycle gate, shared with the timers. Start-up holds
    // it; the window releases it once start-up has finished.
    CycleGate& gate;
    // Set by this process's initialisation thread when start-up has
    // finished, before it posts WM_STARTUP_FINISHED. Any program can post
    // that message, so it only tells the window to look here.
    std::atomic<bool> startupFinished{false};
    // Whether the window has let go of start-up's hold. GUI thread only.
    bool gateReleased = false;
};

bool registerLoggerWindowClass(HINSTANCE instance);
HWND createLoggerWindow(HINSTANCE instance, LoggerWindowLinks& links);

// Posted when start-up has finished: the user commands held until then may
// run, and a right-click kept meanwhile shows its menu.
inline constexpr UINT WM_STARTUP_FINISHED = WM_APP + 1;

// Brings the log view up to date with the lines logged so far. The window
// posts it to itself when lines wait; anyone may send it.
inline constexpr UINT WM_LOG_VIEW_UPDATE = WM_APP + 2;

// Shows the current status in the tray. The window posts it to itself on a
// status report, once for all the reports of one piece of work.
inline constexpr UINT WM_TRAY_REFRESH = WM_APP + 3;
