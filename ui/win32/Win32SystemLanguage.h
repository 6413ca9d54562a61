#pragma once

#include "ui/SystemLanguage.h"

// The language of the system's default locale, not the user's.
class Win32SystemLanguage final : public SystemLanguage {
  public:
    std::string englishName() const override;
};
