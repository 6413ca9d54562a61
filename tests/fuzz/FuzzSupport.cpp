#include "tests/fuzz/FuzzSupport.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

FuzzTempFile::FuzzTempFile(const std::string& name) {
    // Memory-backed when there is such a folder: the file is rewritten for
    // every input, and a disk would set the pace.
    const char* tmp = std::getenv("TMPDIR");
    struct stat shm {};
    const std::string base = tmp != nullptr && *tmp != '\0' ? tmp
                             : ::stat("/dev/shm", &shm) == 0 && S_ISDIR(shm.st_mode) &&
                                     ::access("/dev/shm", W_OK) == 0
                                 ? "/dev/shm"
                                 : "/tmp";
    folder_ = base + "/quorvel-fuzz-" + std::to_string(::getpid()) + "/";
    path_ = folder_ + name;
    // The name may hold subfolders (a language file under resources/).
    for (std::string::size_type slash = folder_.size() - 1; slash != std::string::npos;
         slash = path_.find('/', slash + 1)) {
        ::mkdir(path_.substr(0, slash).c_str(), 0700);
    }
}

FuzzTempFile::~FuzzTempFile() {
    std::remove(path_.c_str());
    std::string folder = path_.substr(0, path_.rfind('/'));
    while (folder.size() >= folder_.size() - 1) {
        ::rmdir(folder.c_str());
        folder.erase(folder.rfind('/'));
    }
}

bool FuzzTempFile::write(const unsigned char* data, std::size_t size) const {
    std::FILE* file = std::fopen(path_.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
}
