#include "core/Text.h"

#include <limits>

std::vector<std::string> splitTokens(const std::string& text, const std::string& delimiters) {
    std::vector<std::string> tokens;
    std::string::size_type start = text.find_first_not_of(delimiters);
    while (start != std::string::npos) {
        const std::string::size_type end = text.find_first_of(delimiters, start);
        tokens.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) {
            break;
        }
        start = text.find_first_not_of(delimiters, end);
    }
    return tokens;
}

namespace {

// Where the digits of a number start: after leading white space (as isspace
// accepts it in the "C" locale) and an optional sign.
std::string::size_type digitsStart(const std::string& text, bool& negative) {
    std::string::size_type i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) {
        ++i;
    }
    negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    return i;
}

}  // namespace

bool startsWithInteger(const std::string& text) {
    bool negative = false;
    const std::string::size_type i = digitsStart(text, negative);
    return i < text.size() && text[i] >= '0' && text[i] <= '9';
}

int32_t readInteger(const std::string& text) {
    bool negative = false;
    std::string::size_type i = digitsStart(text, negative);
    int64_t value = 0;
    constexpr int64_t limit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value <= limit) {
            value = value * 10 + (text[i] - '0');
        }
    }
    if (negative) {
        value = -value;
    }
    if (value > std::numeric_limits<int32_t>::max()) {
        return std::numeric_limits<int32_t>::max();
    }
    if (value < std::numeric_limits<int32_t>::min()) {
        return std::numeric_limits<int32_t>::min();
    }
    return static_cast<int32_t>(value);
}

std::string decimalText(int64_t value) {
    return std::to_string(value);
}

std::string twoDigitText(int value) {
    return value < 10 ? "0" + std::to_string(value) : std::to_string(value);
}
