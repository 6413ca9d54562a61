#include "ui/WindowCommand.h"

#include "resources/resource.h"

WindowCommand classifyWindowCommand(uintptr_t wParam, intptr_t lParam) {
    // The two commands carried in lParam are tested first. The fatal error
    // carries its text's address in wParam, and an address whose low word
    // happened to equal the log-line code would otherwise be taken for a log
    // line, with 37124 read as the line's address. An lParam that carries an
    // address can never equal these codes: Windows never maps the first 64 KiB.
    if (lParam == ID_STATUS_CHANGED) {
        return WindowCommand::StatusChanged;
    }
    if (lParam == ID_FATAL_ERROR) {
        return WindowCommand::FatalError;
    }
    const unsigned command = static_cast<unsigned>(wParam & 0xFFFF);
    if (command == ID_LOG_LINE) {
        return WindowCommand::LogLine;
    }
    if (command == ID_SHOW_LOGGER) {
        return WindowCommand::ShowLogger;
    }
    if (command == ID_OPEN_PORTAL && lParam == 0) {
        return WindowCommand::OpenPortal;
    }
    // The logger window's own menu bar offers the same Exit and About as the
    // tray menu, in German; a user who opens it expects them to work.
    if (command == ID_EXIT || (command == IDM_QUIT && lParam == 0)) {
        return WindowCommand::Exit;
    }
    if (command == ID_ABOUT || (command == IDM_INFO && lParam == 0)) {
        return WindowCommand::About;
    }
    return WindowCommand::Ignore;
}

bool needsUserInterface(WindowCommand command) {
    return command == WindowCommand::StatusChanged || command == WindowCommand::OpenPortal ||
           command == WindowCommand::About;
}
