#include "ui/WindowCommand.h"

#include "core/SentTexts.h"
#include "resources/resource.h"

WindowCommand classifyWindowCommand(uintptr_t wParam, intptr_t lParam, const SentTexts& lent) {
    // A field that holds a text this process lent is that text's address,
    // never a code: a fatal error whose text happened to lie at an address
    // ending in 37125 would otherwise show the log instead of ending the
    // agent. Nobody else can make a field hold a lent text.
    const bool wParamIsText = lent.contains(reinterpret_cast<const void*>(wParam));
    const bool lParamIsText = lent.contains(reinterpret_cast<const void*>(lParam));
    const unsigned command = wParamIsText ? 0u : static_cast<unsigned>(wParam & 0xFFFF);

    if (command == ID_LOG_LINE && lParamIsText) {
        return WindowCommand::LogLine;
    }
    if (command == ID_SHOW_LOGGER) {
        return WindowCommand::ShowLogger;
    }
    if (lParam == ID_STATUS_CHANGED) {
        return WindowCommand::StatusChanged;
    }
    if (command == ID_OPEN_PORTAL && lParam == 0) {
        return WindowCommand::OpenPortal;
    }
    if (lParam == ID_FATAL_ERROR && wParamIsText) {
        return WindowCommand::FatalError;
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
