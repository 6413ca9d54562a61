#pragma once

#include <string>

// The system's default language, which picks the language file.
class SystemLanguage {
  public:
    virtual ~SystemLanguage() = default;
    // The language's English name, such as "German"; empty when unknown.
    virtual std::string englishName() const = 0;
};
