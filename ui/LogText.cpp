#include "ui/LogText.h"

#include <cstring>

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
    // Drop whole lines after the header, oldest first, until the rest fits.
    const std::size_t keepFrom = std::strlen(header);
    const std::size_t excess = text_.size() - capacity_;
    std::size_t cut = text_.find("\r\n", keepFrom + excess);
    if (cut == std::string::npos || cut <= keepFrom) {
        // A single line larger than the cap: keep its beginning.
        text_.erase(keepFrom, text_.rfind("\r\n") - keepFrom);
        text_.resize(capacity_);
        return true;
    }
    text_.erase(keepFrom, cut - keepFrom);
    return true;
}
