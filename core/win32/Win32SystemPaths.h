#pragma once

#include "core/SystemPaths.h"

class Win32SystemPaths final : public SystemPaths {
  public:
    std::string programPath() const override;
    std::string commonAppDataFolder() const override;
};
