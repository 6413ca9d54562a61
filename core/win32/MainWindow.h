#pragma once

#include <windows.h>

#include <map>
#include <utility>

class Win32WindowTimers;
struct LoggerWindowLinks;

// Timer expiries that come while start-up runs, held back one per timer and
// posted again once it has finished. Dropped, a hello due at start-up would
// wait until its window timer fired again, 10 ms at least and often more.
class StartupExpiries {
  public:
    // True when `message` is an expiry that has to wait for start-up.
    bool hold(const MSG& message, bool startupFinished);
    void postAgain();

  private:
    std::map<std::pair<HWND, WPARAM>, LPARAM> held_;
};

// The GUI thread's part of start-up: single-instance check, the hidden logger
// window and the message loop.
class MainWindow {
  public:
    // `links` go to the logger window; `timers` are placed on it once it
    // exists. Both must outlive the message loop.
    MainWindow(LoggerWindowLinks& links, Win32WindowTimers& timers);

    // Returns the exit code: the quit message's code, or 0 when this copy
    // hands over to one already running or cannot create its window.
    int run(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand);

  private:
    LoggerWindowLinks& links_;
    Win32WindowTimers& timers_;
};
