#include "portal/PortalURL.h"

#include "core/Text.h"

std::string portalURLText(const PortalURL& url) {
    return url.host + ":" + decimalText(url.port) + url.path;
}
