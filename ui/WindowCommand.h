#pragma once

#include <cstdint>

class SentTexts;

// What a WM_COMMAND to the logger window asks for. Each private command
// travels in its own field (low word of wParam, or lParam); the tests run in
// a fixed order and the first match wins.
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

// `lent` holds the texts this process is sending right now: the two commands
// that carry a text's address match only when that address is one of them.
WindowCommand classifyWindowCommand(uintptr_t wParam, intptr_t lParam, const SentTexts& lent);

// Commands that run application logic and so must wait until start-up has
// published the user-interface resource.
bool needsUserInterface(WindowCommand command);
