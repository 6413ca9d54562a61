#pragma once

#include "check/NetworkProbe.h"

// Name resolution and a bounded TCP connect with Winsock.
class WinsockProbe final : public NetworkProbe {
  public:
    WinsockProbe();
    ~WinsockProbe() override;
    WinsockProbe(const WinsockProbe&) = delete;
    WinsockProbe& operator=(const WinsockProbe&) = delete;

    ProbeOutcome resolve(const std::string& host) override;
    ProbeOutcome connect(const std::string& host, uint16_t port,
                         uint32_t timeoutMilliseconds) override;

  private:
    bool started_ = false;
};
