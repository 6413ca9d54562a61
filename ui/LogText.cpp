#include "ui/LogText.h"

#include <algorithm>
#include <cstring>
#include <string>

LogText::LogText(std::size_t capacity) : capacity_(capacity), text_(header) {
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
    std::size_t cut = text_.find("\r\n", keepFrom + excess);
    if (cut == std::string::npos || cut <= keepFrom) {
        // Only the newest line is left to keep; one larger than the cap
        // keeps its beginning.
        text_.erase(keepFrom, text_.rfind("\r\n") - keepFrom);
        if (text_.size() > capacity_) {
            text_.resize(capacity_);
        }
        return true;
    }
    text_.erase(keepFrom, cut - keepFrom);
    return true;
}

std::string LogText::shownPart(const std::string& line) {
    if (line.size() <= maxShownLine) {
        return line;
    }
    return line.substr(0, maxShownLine) + " ... (" + std::to_string(line.size() - maxShownLine) +
           " more characters not shown)";
}
