#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// What a path is, as seen by this user, found without changing anything.
struct FileState {
    bool exists = false;
    bool folder = false;
    // A file this user may open for writing, or a folder this user may
    // create files in.
    bool writable = false;
};

// Who may do what in the data folder, as SDDL: the system and
// administrators everything, every local user modify rights, inherited by
// the files and folders created in it. The run-time file is replaced by a
// new one at every write, so the rights must come from the folder: one
// user's agent writes the file that the next user's agent replaces.
inline constexpr const char* dataFolderSecurity =
    "D:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;BU)";

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
    // True when the folder exists afterwards. A folder it creates gets the
    // data folder's rights (dataFolderSecurity): it is only ever used for
    // the data folder shared by all users' agents.
    virtual bool createFolder(const std::string& path) = 0;
    virtual FileState probe(const std::string& path) = 0;
};

// Replaces the file's contents so that a crash or power loss at any moment
// leaves either the old contents or the new ones, never a mixture or a
// truncated file: the new contents go to a temporary file beside it, reach
// the disk, and then take the old file's place in one step.
bool writeFileAtomically(FileSystem& files, const std::string& path,
                         const std::vector<uint8_t>& bytes);

// The temporary file writeFileAtomically uses for `path`.
std::string temporaryPathFor(const std::string& path);
