#pragma once

#include <cstdint>

// What a WM_COMMAND to the logger window asks for. Each private command
// travels in its own field (low word of wParam, or lParam), so the tests run
// in a fixed order and the first match wins: the lParam codes first.
enum class WindowCommand {
    LogLine,
    ShowLogger,
    StatusChanged,
    OpenPortal,
    FatalError,
    Exit,
    About,
    Ignore,
};

WindowCommand classifyWindowCommand(uintptr_t wParam, intptr_t lParam);

// Commands that run application logic and so must wait until start-up has
// published the user-interface resource.
bool needsUserInterface(WindowCommand command);
