#include "portal/PortalURL.h"

#include <cstring>
#include <vector>

#include "core/Text.h"

std::string portalURLText(const PortalURL& url) {
    return url.host + ":" + decimalText(url.port) + url.path;
}

namespace {

bool isLetterOrDigit(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool allOf(const std::string& text, bool (*allowed)(char)) {
    for (const char c : text) {
        if (!allowed(c)) {
            return false;
        }
    }
    return true;
}

bool validHost(const std::string& host) {
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        const std::string inner = host.substr(1, host.size() - 2);
        return inner.find(':') != std::string::npos &&
               allOf(inner, [](char c) { return isHexDigit(c) || c == ':' || c == '.'; });
    }
    return !host.empty() && allOf(host, [](char c) {
        return isLetterOrDigit(c) || c == '.' || c == '-' || c == '_';
    });
}

// 0 when the text is not all digits or the number is not a port.
int32_t portNumber(const std::string& text) {
    if (text.empty() || !allOf(text, [](char c) { return c >= '0' && c <= '9'; })) {
        return 0;
    }
    int32_t value = 0;
    for (const char c : text) {
        value = value * 10 + (c - '0');
        if (value > 65535) {
            return 0;
        }
    }
    return value;
}

// What RFC 3986 lets stand in a path, a query and a fragment: unreserved,
// sub-delims, ":", "@", "/" and "?". "%" and "#" are decided by where they
// stand.
bool keptInPath(char c) {
    if (isLetterOrDigit(c)) {
        return true;
    }
    static const char others[] = "-._~!$&'()*+,;=:@/?";
    return c != '\0' && std::strchr(others, c) != nullptr;
}

std::string encodedPath(const std::string& path) {
    static const char digits[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(path.size());
    bool inFragment = false;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const char c = path[i];
        // An escape already made stays; a lone "%" is a percent sign.
        const bool escape =
            c == '%' && i + 2 < path.size() && isHexDigit(path[i + 1]) && isHexDigit(path[i + 2]);
        // The first "#" starts the fragment; a second has no place there.
        const bool fragmentMark = c == '#' && !inFragment;
        if (keptInPath(c) || escape || fragmentMark) {
            inFragment = inFragment || fragmentMark;
            encoded += c;
            continue;
        }
        const auto byte = static_cast<unsigned char>(c);
        encoded += '%';
        encoded += digits[byte >> 4];
        encoded += digits[byte & 0x0F];
    }
    return encoded;
}

}  // namespace

std::optional<PortalURL> readBrowserCommand(const std::string& fields, std::string& refusal) {
    const std::vector<std::string> parts = splitTokens(fields, ",");
    if (parts.size() != 3) {
        refusal = "not three fields";
        return std::nullopt;
    }
    if (!validHost(parts[0])) {
        refusal = "host not allowed";
        return std::nullopt;
    }
    const int32_t port = portNumber(parts[1]);
    if (port == 0) {
        refusal = "port not a number from 1 to 65535";
        return std::nullopt;
    }
    // Anything else after the port would change what the browser takes for
    // the host: "80@elsewhere.example/" names another server.
    if (parts[2][0] != '/') {
        refusal = "path not starting with /";
        return std::nullopt;
    }
    PortalURL url{parts[0], port, encodedPath(parts[2])};
    const std::size_t length = 7 + portalURLText(url).size();
    if (length > maximumBrowserAddressLength) {
        // A cut address would open some other page; the user is better
        // served by none, and the portal will ask again.
        refusal = "address too long, characters " + decimalText(static_cast<int64_t>(length));
        return std::nullopt;
    }
    return url;
}
