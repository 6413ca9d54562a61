#pragma once

#include <string>

// Where the agent finds its own files.
class SystemPaths {
  public:
    virtual ~SystemPaths() = default;
    // The path of the program file itself, as the system loaded it (not what
    // the first word of the command line claims, which the caller chooses),
    // in the system's 8-bit code page.
    virtual std::string programPath() const = 0;
    // The all-users application-data folder (C:\ProgramData on current
    // Windows), in the system's 8-bit code page; empty when unknown.
    virtual std::string commonAppDataFolder() const = 0;
};

// Drive and directory of a path, with its trailing separator: the folder that
// holds the program and its files. Empty for a bare file name.
std::string folderOf(const std::string& path);
