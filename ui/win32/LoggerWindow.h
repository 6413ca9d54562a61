#pragma once

#include <windows.h>

// The agent's main window: hidden unless logging is on, target of every
// window command, and its destruction ends the program.
inline constexpr const char* loggerWindowClassName = "Quorvel Logger Window";

bool registerLoggerWindowClass(HINSTANCE instance);
HWND createLoggerWindow(HINSTANCE instance);

// Posted by the initialisation thread when start-up has finished: the user
// commands held until then may run.
inline constexpr UINT WM_STARTUP_FINISHED = WM_APP + 1;
