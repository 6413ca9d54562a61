#pragma once

#include <cstddef>
#include <string>

#include "core/SystemPaths.h"

class Win32SystemPaths final : public SystemPaths {
  public:
    std::string programPath() const override;
    std::string commonAppDataFolder() const override;
};

// The path of the running program's file, read into a buffer that starts
// at `firstSize` characters and grows until the path fits; empty (logged)
// when it cannot be read.
std::wstring modulePath(std::size_t firstSize);
