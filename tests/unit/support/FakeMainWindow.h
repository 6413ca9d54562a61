#pragma once

#include <string>
#include <vector>

#include "core/Log.h"
#include "core/MainWindowCommands.h"
#include "resources/resource.h"
#include "tests/unit/support/TestClock.h"

// Each request to the main window as its command code; texts copied while they are alive.
class FakeMainWindow final : public MainWindowCommands {
  public:
    struct Command {
        unsigned code;     // ID_LOG_LINE, ID_SHOW_LOGGER, ID_STATUS_CHANGED, ID_FATAL_ERROR
        std::string text;  // the text a log line or fatal error carried
    };

    void appendLogLine(const std::string& line) override {
        commands.push_back({ID_LOG_LINE, line});
    }
    void showLogger() override { commands.push_back({ID_SHOW_LOGGER, {}}); }
    void statusChanged() override { commands.push_back({ID_STATUS_CHANGED, {}}); }
    void fatalError(const char* text) override {
        commands.push_back({ID_FATAL_ERROR, text != nullptr ? text : ""});
    }

    std::vector<std::string> logLines() const;
    std::vector<Command> commandsWithCode(unsigned code) const;
    // Whether a log line ends with `message`, and how many do.
    bool logged(const std::string& message) const { return countLogged(message) > 0; }
    int countLogged(const std::string& message) const;

    std::vector<Command> commands;
};

// Log lines go to `window`, stamped by `clock`, while this lives; logging off before and after.
class LogCapture {
  public:
    explicit LogCapture(MainWindowCommands& window) : LogCapture(window, standing_) {}
    LogCapture(MainWindowCommands& window, const Clock& clock);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

  private:
    TestClock standing_;
    LogSink sink_;
};
