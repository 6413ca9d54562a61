#pragma once

#include <windows.h>

#include "core/MainWindowCommands.h"

// Process-wide facts about the main window, written once by the GUI thread
// and read by the initialisation thread and the adapters.
HWND mainWindowHandle();
HINSTANCE moduleInstance();
void setMainWindow(HWND window, HINSTANCE instance);

// Set when the initialisation thread has finished wiring and starting the
// agent; until then the message loop holds back timer expiries.
bool initialisationFinished();
void setInitialisationFinished();

// Sends window commands to the main window with SendMessage.
class Win32MainWindowCommands final : public MainWindowCommands {
  public:
    intptr_t send(uintptr_t wParam, intptr_t lParam) override;
};
