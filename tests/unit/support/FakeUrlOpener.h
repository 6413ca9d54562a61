#pragma once

#include <string>
#include <vector>

#include "activities/UrlOpener.h"

// Records the addresses the browser was asked to open.
class FakeUrlOpener final : public UrlOpener {
  public:
    void open(const std::string& url) override { opened.push_back(url); }
    std::vector<std::string> opened;
};
