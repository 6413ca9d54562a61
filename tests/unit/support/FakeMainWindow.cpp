#include "tests/unit/support/FakeMainWindow.h"

#include <algorithm>

std::vector<std::string> FakeMainWindow::logLines() const {
    std::vector<std::string> lines;
    for (const Command& command : commands) {
        if (command.code == ID_LOG_LINE) {
            lines.push_back(command.text);
        }
    }
    return lines;
}

std::vector<FakeMainWindow::Command> FakeMainWindow::commandsWithCode(unsigned code) const {
    std::vector<Command> found;
    std::copy_if(commands.begin(), commands.end(), std::back_inserter(found),
                 [code](const Command& command) { return command.code == code; });
    return found;
}

int FakeMainWindow::countLogged(const std::string& message) const {
    const std::vector<std::string> lines = logLines();
    return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
        return line.size() >= message.size() &&
               line.compare(line.size() - message.size(), message.size(), message) == 0;
    }));
}

LogCapture::LogCapture(MainWindowCommands& window, const Clock& clock) : sink_{window, clock} {
    setLoggingEnabled(false);
    setLogSink(&sink_);
}

LogCapture::~LogCapture() {
    setLoggingEnabled(false);
    setLogSink(nullptr);
}
