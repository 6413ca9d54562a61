#include "ui/LogText.h"

#include <algorithm>
#include <cstring>
#include <string>

LogText::LogText(std::size_t capacity)
    : capacity_(capacity), text_(header), shown_(std::strlen(header)) {
    const std::size_t minimum = std::strlen(header) + 2;
    if (capacity_ < minimum) {
        capacity_ = minimum;
    }
}

bool LogText::append(const std::string& line) {
    text_ += "\r\n";
    text_ += line;
    if (text_.size() <= capacity_) {
        return false;
    }
    // Drop whole lines after the header, oldest first, until the rest fills
    // at most three quarters of the cap: the view then takes the whole text
    // again once per quarter of the cap, not for every line.
    const std::size_t keepFrom = std::strlen(header);
    const std::size_t target = std::max(capacity_ - capacity_ / 4, keepFrom + 2);
    const std::size_t excess = text_.size() - std::min(target, text_.size());
    const std::size_t cut = text_.find("\r\n", keepFrom + excess);
    if (cut == std::string::npos || cut <= keepFrom) {
        // Only the newest line is left to keep; one larger than the cap
        // keeps its beginning.
        dropUpTo(text_.rfind("\r\n"));
        if (text_.size() > capacity_) {
            text_.resize(capacity_);
        }
        return true;
    }
    dropUpTo(cut);
    return true;
}

void LogText::dropUpTo(std::size_t end) {
    const std::size_t keepFrom = std::strlen(header);
    // Only what the view holds moves a reader's place.
    const std::size_t shownEnd = std::min(end, shown_);
    for (std::size_t at = text_.find("\r\n", keepFrom); at < shownEnd;
         at = text_.find("\r\n", at + 2)) {
        ++droppedLines_;
    }
    droppedCharacters_ += shownEnd - keepFrom;
    shown_ -= shownEnd - keepFrom;
    text_.erase(keepFrom, end - keepFrom);
    whole_ = true;
}

LogText::ForView LogText::takeForView() {
    ForView update;
    update.whole = whole_;
    if (whole_) {
        update.droppedLines = droppedLines_;
        update.droppedCharacters = droppedCharacters_;
    } else {
        update.added = text_.substr(shown_);
    }
    shown_ = text_.size();
    whole_ = false;
    droppedLines_ = 0;
    droppedCharacters_ = 0;
    return update;
}

std::string LogText::shownPart(const std::string& line) {
    if (line.size() <= maxShownLine) {
        return line;
    }
    return line.substr(0, maxShownLine) + " ... (" + std::to_string(line.size() - maxShownLine) +
           " more characters not shown)";
}
