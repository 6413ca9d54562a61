#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "core/Text.h"

// A report buffer as exchanged with the dongle; logged as a 108-character dump.
using ReportBuffer = std::array<uint8_t, 36>;

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

// The line the main window receives for a message, without the flag test.
std::string logLine(const std::string& message);

// Every control character but CR and LF written as "\x" and two hex digits.
// Log lines carry text from outside (the portal's answer, the dongle's
// strings, configuration values); a tab, a backspace, an escape sequence or a
// zero byte there could make the log view, or a log copied elsewhere, show
// what the agent did not write.
std::string withControlsShown(const std::string& text);

// Two lower-case hex digits and ":" for each of the 36 bytes.
std::string hexDump(const ReportBuffer& buffer);

// Current local date and time as "2011.7.25 9:5:3 - ".
std::string clockTimeText();
