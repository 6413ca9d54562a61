#include "tests/unit/support/FakeMainWindow.h"

#include "core/Clock.h"
#include "core/Log.h"

intptr_t FakeMainWindow::send(uintptr_t wParam, intptr_t lParam) {
    Command command{wParam, lParam, {}};
    if ((wParam & 0xFFFF) == ID_LOG_LINE && lParam != 0) {
        command.text = reinterpret_cast<const char*>(lParam);
    } else if (lParam == ID_FATAL_ERROR && wParam != 0) {
        command.text = reinterpret_cast<const char*>(wParam);
    }
    commands.push_back(command);
    return 0;
}

std::vector<std::string> FakeMainWindow::logLines() const {
    std::vector<std::string> lines;
    for (const Command& command : commands) {
        if ((command.wParam & 0xFFFF) == ID_LOG_LINE) {
            lines.push_back(command.text);
        }
    }
    return lines;
}

std::vector<FakeMainWindow::Command> FakeMainWindow::commandsWithCode(unsigned code) const {
    std::vector<Command> found;
    for (const Command& command : commands) {
        if ((command.wParam & 0xFFFF) == code || command.lParam == static_cast<intptr_t>(code)) {
            found.push_back(command);
        }
    }
    return found;
}

ProcessStateGuard::ProcessStateGuard() {
    setLoggingEnabled(false);
}

ProcessStateGuard::~ProcessStateGuard() {
    setLoggingEnabled(false);
    setMainWindowCommands(nullptr);
    setProcessClock(nullptr);
}
