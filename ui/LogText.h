#pragma once

#include <cstddef>
#include <string>

// The text the logger window shows: "Logger:" followed by every line, each
// preceded by CR LF. The oldest lines are dropped once the text passes a
// cap; a tray agent runs for months.
//
// The view is brought up to date in one step for many lines
// (takeForView): changing a visible edit control costs the same for one
// line as for a cycle's worth, and far more than keeping the line here.
class LogText {
  public:
    static constexpr const char* header = "Logger:";
    static constexpr std::size_t defaultCapacity = 256 * 1024;

    explicit LogText(std::size_t capacity = defaultCapacity);

    // Returns false when the line only went on the end, true when older
    // lines had to go to stay within the cap.
    bool append(const std::string& line);

    // What the view lacks since the last call. Either the lines to put on
    // its end, or, once older lines have gone, the whole text again with
    // how many of the lines the view held went (a reader's place moves up
    // by as many).
    struct ForView {
        bool whole = false;
        std::string added;
        std::size_t droppedLines = 0;
        std::size_t droppedCharacters = 0;
    };
    ForView takeForView();
    bool viewBehind() const { return whole_ || shown_ < text_.size(); }

    // What the view shows of one log line: at most maxShownLine characters
    // and a note of how many more there were. A whole portal answer of 64 KB
    // in one log call would take an edit control many seconds to lay out,
    // with the agent unresponsive meanwhile.
    static constexpr std::size_t maxShownLine = 8 * 1024;
    static std::string shownPart(const std::string& line);
    const std::string& text() const { return text_; }

  private:
    // Drops the characters after the header up to `end`.
    void dropUpTo(std::size_t end);

    std::size_t capacity_;
    std::string text_;
    // How much of text_ the view holds, unless whole_: then it needs all.
    std::size_t shown_;
    bool whole_ = false;
    std::size_t droppedLines_ = 0;
    std::size_t droppedCharacters_ = 0;
};
