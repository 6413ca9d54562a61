#pragma once

#include <cstddef>
#include <string>

// The text the logger window shows: "Logger:" followed by every line, each
// preceded by CR LF. The edit control is given the whole text for each line,
// so the oldest lines are dropped once the text passes a cap; a tray agent
// runs for months.
class LogText {
  public:
    static constexpr const char* header = "Logger:";
    static constexpr std::size_t defaultCapacity = 256 * 1024;

    explicit LogText(std::size_t capacity = defaultCapacity);

    void append(const std::string& line);
    const std::string& text() const { return text_; }

  private:
    std::size_t capacity_;
    std::string text_;
};
