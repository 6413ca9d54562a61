#pragma once

#include <cstddef>
#include <string>

// The text the logger window shows: "Logger:" followed by every line, each
// preceded by CR LF. The oldest lines are dropped once the text passes a
// cap; a tray agent runs for months.
class LogText {
  public:
    static constexpr const char* header = "Logger:";
    static constexpr std::size_t defaultCapacity = 256 * 1024;

    explicit LogText(std::size_t capacity = defaultCapacity);

    // Returns false when the line only went on the end, true when older
    // lines had to go to stay within the cap (the view then needs the whole
    // text again).
    bool append(const std::string& line);

    // What the view shows of one log line: at most maxShownLine characters
    // and a note of how many more there were. A whole portal answer of 64 KB
    // in one log call would take an edit control many seconds to lay out,
    // with the agent unresponsive meanwhile.
    static constexpr std::size_t maxShownLine = 8 * 1024;
    static std::string shownPart(const std::string& line);
    const std::string& text() const { return text_; }

  private:
    std::size_t capacity_;
    std::string text_;
};
