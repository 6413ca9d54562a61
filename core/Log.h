#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "core/Text.h"

class Clock;
class MainWindowCommands;

// A report buffer as exchanged with the dongle; logged as a 108-character dump.
using ReportBuffer = std::array<uint8_t, 36>;

// Where log lines go: the main window's log view, each line stamped with
// the clock's milliseconds since the process started. Process-wide, like
// the logging switch and the main window it sends to: every layer, adapters
// and free helpers included, logs through the free functions below, from
// either thread. Until a sink is set (or after nullptr) lines are dropped,
// as sends to a window handle of 0 would be. The sink must outlive its use.
struct LogSink {
    MainWindowCommands& window;
    const Clock& clock;
};
void setLogSink(const LogSink* sink);

// Logging is off until the configuration switches it on; while it is off a
// log call costs only this test.
bool loggingEnabled();
void setLoggingEnabled(bool enabled);

// Each line is " - [" + milliseconds since process start + "] " + message
// with its control characters shown, sent synchronously to the main window,
// which shows it.
void log(const std::string& message);
void log(const std::string& message, const std::string& text);
void log(const std::string& message, int64_t value);
void log(const std::string& message, const ReportBuffer& buffer);

// Every control character but CR and LF written as "\x" and two hex digits.
// Log lines carry text from outside (the portal's answer, the dongle's
// strings, configuration values); a tab, a backspace, an escape sequence or a
// zero byte there could make the log view, or a log copied elsewhere, show
// what the agent did not write.
std::string withControlsShown(const std::string& text);

// Two lower-case hex digits and ":" for each of the 36 bytes.
std::string hexDump(const ReportBuffer& buffer);

// Current local date and time as "2011.7.25 9:5:3 - ", by the sink's clock
// (the system's while there is no sink).
std::string clockTimeText();
