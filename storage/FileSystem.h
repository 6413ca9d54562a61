#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The few file operations the agent's state needs. Each either completes or
// reports failure; a failure's details are logged by the adapter.
class FileSystem {
  public:
    virtual ~FileSystem() = default;
    // Reads at most maxBytes from the start of the file; false when it cannot
    // be opened or read.
    virtual bool readFile(const std::string& path, std::size_t maxBytes,
                          std::vector<uint8_t>& bytes) = 0;
    // Creates or truncates the file, writes all bytes and forces them to the
    // disk before returning true.
    virtual bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) = 0;
    // Puts `from` in the place of `to` in one step, replacing it.
    virtual bool replaceFile(const std::string& from, const std::string& to) = 0;
    // True when the folder exists afterwards.
    virtual bool createFolder(const std::string& path) = 0;
};

// Replaces the file's contents so that a crash or power loss at any moment
// leaves either the old contents or the new ones, never a mixture or a
// truncated file: the new contents go to a temporary file beside it, reach
// the disk, and then take the old file's place in one step.
bool writeFileAtomically(FileSystem& files, const std::string& path,
                         const std::vector<uint8_t>& bytes);

// The temporary file writeFileAtomically uses for `path`.
std::string temporaryPathFor(const std::string& path);
