#pragma once

#include <cstdint>
#include <string>

// A portal page the user's browser is asked to open.
struct PortalURL {
    std::string host;
    int32_t port = 0;
    std::string path;
};

// Host, ":", the port in decimal and the path, with nothing between them; the
// browser is given "http://" followed by this.
std::string portalURLText(const PortalURL& url);
