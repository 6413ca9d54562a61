#include "core/TextFile.h"

#include <cstdio>
#include <memory>

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

FileHandle openForReading(const std::string& path) {
    return FileHandle(std::fopen(path.c_str(), "rb"));
}

// Reads one line without its line end. Returns false at the end of the file.
bool readLine(std::FILE* file, std::size_t maxLength, std::string& line) {
    line.clear();
    bool cut = false;
    int c = std::fgetc(file);
    if (c == EOF) {
        return false;
    }
    while (c != EOF && c != '\n') {
        if (line.size() < maxLength) {
            line.push_back(static_cast<char>(c));
        } else {
            cut = true;
        }
        c = std::fgetc(file);
    }
    if (!cut && !line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return true;
}

}  // namespace

bool forEachLine(const std::string& path, std::size_t maxLength,
                 const std::function<void(const std::string&)>& onLine) {
    const FileHandle file = openForReading(path);
    if (!file) {
        return false;
    }
    std::string line;
    while (!std::ferror(file.get()) && readLine(file.get(), maxLength, line)) {
        onLine(line);
    }
    return true;
}

bool canOpenForReading(const std::string& path) {
    return openForReading(path) != nullptr;
}
