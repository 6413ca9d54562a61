#pragma once

#include "activities/UrlOpener.h"

// Opens addresses with the shell, which starts the user's default browser.
class ShellUrlOpener final : public UrlOpener {
  public:
    void open(const std::string& url) override;
};
