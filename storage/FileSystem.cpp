#include "storage/FileSystem.h"

std::string temporaryPathFor(const std::string& path) {
    return path + ".new";
}

bool writeFileAtomically(FileSystem& files, const std::string& path,
                         const std::vector<uint8_t>& bytes) {
    const std::string temporary = temporaryPathFor(path);
    return files.writeFile(temporary, bytes) && files.replaceFile(temporary, path);
}
