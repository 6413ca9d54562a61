#include "core/MainWindowCommands.h"

#include <atomic>

namespace {

std::atomic<MainWindowCommands*> installed{nullptr};

// Before the window exists requests go nowhere, as messages to a window
// handle of 0 would.
class NoWindow final : public MainWindowCommands {
  public:
    void appendLogLine(const std::string&) override {}
    void showLogger() override {}
    void statusChanged() override {}
    void fatalError(const char*) override {}
};

}  // namespace

MainWindowCommands* mainWindowCommands() {
    return installed.load();
}

void setMainWindowCommands(MainWindowCommands* commands) {
    installed.store(commands);
}

MainWindowCommands& mainWindow() {
    static NoWindow none;
    MainWindowCommands* commands = installed.load();
    return commands != nullptr ? *commands : none;
}
