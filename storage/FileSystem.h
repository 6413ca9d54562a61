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
    // Not the plain file or folder its name says: a link (reparse point),
    // a file with other names (hard link), or a name the system follows to
    // somewhere else. The agent neither reads nor writes through it.
    bool link = false;
};

// The few file operations the agent's state needs. Each either completes or
// reports failure; a failure's details are logged by the adapter.
//
// The data folder is shared by every user's agent, so a name in it may have
// been put there by someone else to send this agent's reads and writes
// elsewhere. No operation goes through a link: one whose folder or file is
// a link is refused (logged, reported as failure).
class FileSystem {
  public:
    virtual ~FileSystem() = default;
    // Reads at most maxBytes from the start of the file; false when it cannot
    // be opened or read, or is refused.
    virtual bool readFile(const std::string& path, std::size_t maxBytes,
                          std::vector<uint8_t>& bytes) = 0;
    // Creates a new file under the name, writes all bytes and forces them to
    // the disk before returning true. Never opens what already has the name:
    // false when the name is taken.
    virtual bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) = 0;
    // Frees the name: removes the file that has it (one of several names of
    // a file removes only that name). True when nothing has the name
    // afterwards; a link is refused and stays.
    virtual bool removeFile(const std::string& path) = 0;
    // Puts `from` in the place of `to` in one step, replacing whatever has
    // that name (a link itself, never what it leads to).
    virtual bool replaceFile(const std::string& from, const std::string& to) = 0;
    // True when the folder exists afterwards. A folder it creates gets the
    // data folder's access list (dataFolderAccess in FolderRights.h): it is
    // only ever used for the data folder shared by all users' agents.
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
