#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
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

// The longest address the browser is given ("http://" included); the agent
// has always built it in a buffer of 1024 characters.
constexpr std::size_t maximumBrowserAddressLength = 1023;

// Reads the fields of a "B" command, the text after the "B": host, port and
// path, separated by commas (runs of commas count as one). The address goes
// to the shell and from there onto the browser's command line, so only what
// cannot change its meaning there passes: a host of letters, digits, ".",
// "-" and "_" or an IPv6 literal in brackets, a port of digits only from 1
// to 65535, and a path that starts with "/", in which every byte RFC 3986
// does not allow in a path, query or fragment is percent-encoded (a "%"
// not followed by two hex digits too). Gives the page, or nothing and in
// `refusal` why not.
std::optional<PortalURL> readBrowserCommand(const std::string& fields, std::string& refusal);
