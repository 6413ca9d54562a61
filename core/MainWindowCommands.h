#pragma once

#include <string>

// What the portable code asks of the main window, handed to those that ask
// it (Platform, constructors; the log through its sink, core/Log.h). The
// adapter packs each request into the window command the window procedure
// expects and sends it synchronously, so the sender waits until the window
// has handled it and any text it passes need only live for the call.
class MainWindowCommands {
  public:
    virtual ~MainWindowCommands() = default;
    // Adds one line to the log view.
    virtual void appendLogLine(const std::string& line) = 0;
    // Makes the otherwise hidden log window visible.
    virtual void showLogger() = 0;
    // The display status changed: the tray shows it anew.
    virtual void statusChanged() = 0;
    // Tells the user and ends the program. The text must stay valid for the
    // life of the process: the window may still show it after the sender
    // has moved on.
    virtual void fatalError(const char* text) = 0;
};
