#pragma once

#include "storage/FileSystem.h"

#include <windows.h>

// Win32 file calls; paths are in the system's 8-bit code page. Every name is
// opened as itself and checked by its handle, inside its folder held open
// (OpenedPath.h), so that no link is ever read or written through.
class Win32FileSystem : public FileSystem {
  public:
    bool readFile(const std::string& path, std::size_t maxBytes,
                  std::vector<uint8_t>& bytes) override;
    bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) override;
    bool removeFile(const std::string& path) override;
    bool replaceFile(const std::string& from, const std::string& to) override;
    bool createFolder(const std::string& path) override;
    FileState probe(const std::string& path) override;

  protected:
    // The system call that creates a folder with the given security; a
    // test can watch what is handed to it.
    virtual bool createDirectory(const std::string& path, SECURITY_ATTRIBUTES* security);
};
