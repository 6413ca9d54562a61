#pragma once

#include <windows.h>

#include "core/MainWindowCommands.h"

// Process-wide facts about the main window, written once by the GUI thread
// and read by the initialisation thread and the adapters.
HWND mainWindowHandle();
HINSTANCE moduleInstance();
void setMainWindow(HWND window, HINSTANCE instance);

// Set when this copy hands over to one already running: its initialisation
// thread must then leave the configuration, the dongle and the run-time
// data alone.
bool startupAbandoned();
void setStartupAbandoned();
// Waits at most this long, and no longer than until the window exists or
// start-up is given up.
void waitForStartupDecision(DWORD milliseconds);

// Packs each request into its window command and sends it with SendMessage.
class Win32MainWindowCommands final : public MainWindowCommands {
  public:
    void appendLogLine(const std::string& line) override;
    void showLogger() override;
    void statusChanged() override;
    void fatalError(const char* text) override;

  private:
    void send(WPARAM wParam, LPARAM lParam);
};
