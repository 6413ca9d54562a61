#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The lines of a KEY=value file as the agent's reader is documented to see
// them: LF ends a line, a CR before it goes too, a line longer than
// maxLength keeps its first maxLength characters (CR included) and the rest
// is skipped, and a last line without LF still counts. Kept apart from the
// reader so that the two can be compared.
inline std::vector<std::string> modelLines(const std::string& bytes, std::size_t maxLength) {
    std::vector<std::string> lines;
    std::string::size_type start = 0;
    while (start < bytes.size()) {
        std::string::size_type end = bytes.find('\n', start);
        if (end == std::string::npos) {
            end = bytes.size();
        }
        std::string line = bytes.substr(start, end - start);
        if (line.size() > maxLength) {
            line.resize(maxLength);
        } else if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}
