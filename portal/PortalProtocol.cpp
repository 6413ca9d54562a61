#include "portal/PortalProtocol.h"

std::string removeWhitespace(const std::string& text) {
    std::string kept;
    kept.reserve(text.size());
    for (const char c : text) {
        if (static_cast<signed char>(c) > 32) {
            kept += c;
        }
    }
    return kept;
}
