#pragma once

#include <filesystem>
#include <string>

// A fresh temporary folder, removed with its contents when the test ends.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Writes the bytes exactly as given (no line-end translation).
    std::string write(const std::string& name, const std::string& bytes) const;
    std::string file(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};
