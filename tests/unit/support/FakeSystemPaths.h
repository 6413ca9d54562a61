#pragma once

#include <string>
#include <utility>

#include "core/SystemPaths.h"

class FakeSystemPaths final : public SystemPaths {
  public:
    explicit FakeSystemPaths(std::string program, std::string appData = {})
        : program_(std::move(program)), appData_(std::move(appData)) {}
    std::string programPath() const override { return program_; }
    std::string commonAppDataFolder() const override { return appData_; }

  private:
    std::string program_;
    std::string appData_;
};
