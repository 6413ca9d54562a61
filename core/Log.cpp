#include "core/Log.h"

#include <atomic>

#include "core/Clock.h"
#include "core/MainWindowCommands.h"

namespace {

std::atomic<bool> enabled{false};
std::atomic<const LogSink*> installedSink{nullptr};

}  // namespace

void setLogSink(const LogSink* sink) {
    installedSink.store(sink);
}

bool loggingEnabled() {
    return enabled.load(std::memory_order_relaxed);
}

void setLoggingEnabled(bool on) {
    enabled.store(on, std::memory_order_relaxed);
}

std::string withControlsShown(const std::string& text) {
    const auto hidden = [](char c) {
        return (static_cast<unsigned char>(c) < 0x20 && c != '\r' && c != '\n') || c == '\x7f';
    };
    std::string shown;
    std::size_t from = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (hidden(text[i])) {
            static const char digits[] = "0123456789abcdef";
            const auto byte = static_cast<unsigned char>(text[i]);
            shown.append(text, from, i - from);
            shown += "\\x";
            shown += digits[byte >> 4];
            shown += digits[byte & 0x0F];
            from = i + 1;
        }
    }
    if (from == 0) {
        return text;
    }
    shown.append(text, from, std::string::npos);
    return shown;
}

void log(const std::string& message) {
    if (!loggingEnabled()) {
        return;
    }
    const LogSink* sink = installedSink.load();
    if (sink == nullptr) {
        return;
    }
    sink->window.appendLogLine(" - [" + decimalText(sink->clock.processMilliseconds()) + "] " +
                               withControlsShown(message));
}

void log(const std::string& message, const std::string& text) {
    if (loggingEnabled()) {
        log(message + text);
    }
}

void log(const std::string& message, int64_t value) {
    if (loggingEnabled()) {
        log(message + decimalText(value));
    }
}

void log(const std::string& message, const ReportBuffer& buffer) {
    if (loggingEnabled()) {
        log(message + hexDump(buffer));
    }
}

std::string hexDump(const ReportBuffer& buffer) {
    static const char digits[] = "0123456789abcdef";
    std::string dump;
    dump.reserve(buffer.size() * 3);
    for (uint8_t byte : buffer) {
        dump += digits[byte >> 4];
        dump += digits[byte & 0x0F];
        dump += ':';
    }
    return dump;
}

std::string clockTimeText() {
    static const SystemClock system;
    const LogSink* sink = installedSink.load();
    const Clock& clock = sink != nullptr ? sink->clock : system;
    const LocalTime t = clock.localTime(clock.now().seconds);
    return decimalText(t.year) + "." + decimalText(t.month) + "." + decimalText(t.day) + " " +
           decimalText(t.hour) + ":" + decimalText(t.minute) + ":" + decimalText(t.second) + " - ";
}
