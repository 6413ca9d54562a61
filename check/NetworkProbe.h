#pragma once

#include <cstdint>
#include <string>

// What the diagnostics ask of the network: can a name be resolved, and
// does a TCP connection open. Nothing is sent over the connection.
struct ProbeOutcome {
    bool ok = false;
    // The address found, or what went wrong with its system error code.
    std::string detail;
};

class NetworkProbe {
  public:
    virtual ~NetworkProbe() = default;
    virtual ProbeOutcome resolve(const std::string& host) = 0;
    virtual ProbeOutcome connect(const std::string& host, uint16_t port,
                                 uint32_t timeoutMilliseconds) = 0;
};
