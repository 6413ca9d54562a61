#pragma once

#include <windows.h>

struct LoggerWindowLinks;

// The GUI thread's part of start-up: single-instance check, the hidden logger
// window and the message loop.
class MainWindow {
  public:
    // `links` go to the logger window and must outlive the message loop.
    explicit MainWindow(LoggerWindowLinks& links);

    // Returns the exit code: the quit message's code, or 0 when this copy
    // hands over to one already running or cannot create its window.
    int run(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand);

  private:
    LoggerWindowLinks& links_;
};
