#pragma once

#include <windows.h>

// The agent's main window: hidden unless logging is on, target of every
// window command, and its destruction ends the program.
inline constexpr const char* loggerWindowClassName = "Quorvel Logger Window";

bool registerLoggerWindowClass(HINSTANCE instance);
HWND createLoggerWindow(HINSTANCE instance);
