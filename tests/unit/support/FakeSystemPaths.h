#pragma once

#include <string>

#include "core/SystemPaths.h"

class FakeSystemPaths final : public SystemPaths {
  public:
    explicit FakeSystemPaths(std::string program) : program_(std::move(program)) {}
    std::string programPath() const override { return program_; }

  private:
    std::string program_;
};
