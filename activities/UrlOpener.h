#pragma once

#include <string>

// Shows a web address in the user's default browser.
class UrlOpener {
  public:
    virtual ~UrlOpener() = default;
    // Fire and forget: a browser that cannot be started is not reported.
    virtual void open(const std::string& url) = 0;
};
