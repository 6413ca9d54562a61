#include "storage/FileSystem.h"

std::string temporaryPathFor(const std::string& path) {
    return path + ".new";
}

bool writeFileAtomically(FileSystem& files, const std::string& path,
                         const std::vector<uint8_t>& bytes) {
    const std::string temporary = temporaryPathFor(path);
    // Whatever has the temporary name goes first (a torn file a crash left,
    // or a second name another user gave some file of theirs), and the new
    // file is made afresh: nothing that had the name is ever written into.
    return files.removeFile(temporary) && files.writeFile(temporary, bytes) &&
           files.replaceFile(temporary, path);
}
