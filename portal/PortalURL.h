#pragma once

#include <cstdint>
#include <string>

// A portal page the user's browser is asked to open.
struct PortalURL {
    std::string host;
    int32_t port = 0;
    std::string path;
};
