#pragma once

#include <string>
#include <utility>

#include "ui/SystemLanguage.h"

class FakeSystemLanguage final : public SystemLanguage {
  public:
    explicit FakeSystemLanguage(std::string name = "English") : name_(std::move(name)) {}
    std::string englishName() const override { return name_; }

  private:
    std::string name_;
};
