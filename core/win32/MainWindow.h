#pragma once

#include <windows.h>

class Win32WindowTimers;
struct LoggerWindowLinks;

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
