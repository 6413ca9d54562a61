#include "core/SystemPaths.h"

std::string folderOf(const std::string& path) {
    const std::string::size_type separator = path.find_last_of("\\/");
    if (separator != std::string::npos) {
        return path.substr(0, separator + 1);
    }
    // "C:quorvel.exe" names a file in the current folder of drive C.
    if (path.size() >= 2 && path[1] == ':') {
        return path.substr(0, 2);
    }
    return std::string();
}
