#pragma once

#include <cstdint>

#include "resources/resource.h"

// The one way other threads and the portable code reach the main window:
// a WM_COMMAND sent synchronously, so the sender waits until the window
// procedure has handled it. Which field carries the code differs per command.
class MainWindowCommands {
  public:
    virtual ~MainWindowCommands() = default;
    // Returns the window procedure's result, or 0 when there is no window.
    virtual intptr_t send(uintptr_t wParam, intptr_t lParam) = 0;
};

// The process-wide link to the main window; null until the window exists
// (or in a test that installed none), in which case commands go nowhere.
MainWindowCommands* mainWindowCommands();
void setMainWindowCommands(MainWindowCommands* commands);

// Sends to the installed main window, if any.
intptr_t sendToMainWindow(uintptr_t wParam, intptr_t lParam);
