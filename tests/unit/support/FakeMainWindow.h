#pragma once

#include <string>
#include <vector>

#include "core/MainWindowCommands.h"

// Records every command sent to the main window. Texts that travel as
// pointers are copied during the send, while they are still alive.
class FakeMainWindow final : public MainWindowCommands {
  public:
    struct Command {
        uintptr_t wParam;
        intptr_t lParam;
        std::string text;  // the text a log line or fatal error carried
    };

    intptr_t send(uintptr_t wParam, intptr_t lParam) override;

    std::vector<std::string> logLines() const;
    std::vector<Command> commandsWithCode(unsigned code) const;

    std::vector<Command> commands;
};

// Installs a fake window and a test clock for one test and restores the
// process-wide defaults afterwards, logging off.
class ProcessStateGuard {
  public:
    ProcessStateGuard();
    ~ProcessStateGuard();
    ProcessStateGuard(const ProcessStateGuard&) = delete;
    ProcessStateGuard& operator=(const ProcessStateGuard&) = delete;
};
