#pragma once

#include <cstdint>
#include <memory>

#include "portal/HttpTransport.h"

class ExchangeWatchdog;

// The portal exchange through WinINet, synchronous on the calling thread.
class WinInetTransport final : public HttpTransport {
  public:
    // Long enough for a slow portal, short enough that a silent one does not
    // hold the GUI thread for the many minutes the library would wait.
    static constexpr uint32_t defaultTimeoutMilliseconds = 30000;

    struct Timeouts {
        uint32_t connect = defaultTimeoutMilliseconds;
        uint32_t send = defaultTimeoutMilliseconds;
        uint32_t receive = defaultTimeoutMilliseconds;
    };

    WinInetTransport();
    explicit WinInetTransport(const Timeouts& timeouts);
    ~WinInetTransport() override;

    HttpOutcome post(const HttpRequest& request, const ChunkSink& onChunk) override;
    // Twice the receive time-out: a slow portal still has time for its
    // answer, and the agent is never held much longer than by one wait.
    uint32_t exchangeDeadlineMilliseconds() const override;

  private:
    // The exchange itself; the watchdog closes its handles at the deadline.
    HttpOutcome exchange(const HttpRequest& request, const ChunkSink& onChunk,
                         ExchangeWatchdog& watchdog);

    Timeouts timeouts_;
    // Started at the first exchange and kept for the next ones.
    std::unique_ptr<ExchangeWatchdog> watchdog_;
};
