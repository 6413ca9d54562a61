#include "core/MainWindowCommands.h"

#include <atomic>

namespace {
std::atomic<MainWindowCommands*> installed{nullptr};
}

MainWindowCommands* mainWindowCommands() {
    return installed.load();
}

void setMainWindowCommands(MainWindowCommands* commands) {
    installed.store(commands);
}

intptr_t sendToMainWindow(uintptr_t wParam, intptr_t lParam) {
    MainWindowCommands* commands = installed.load();
    return commands != nullptr ? commands->send(wParam, lParam) : 0;
}
