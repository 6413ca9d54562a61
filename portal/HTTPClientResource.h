#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include "core/Clock.h"
#include "core/Resource.h"
#include "portal/HttpTransport.h"

// A failed portal exchange; its text is one of the fixed failure texts. It
// never leaves sendRequest.
class HttpExchangeError : public std::runtime_error {
  public:
    explicit HttpExchangeError(const std::string& text) : std::runtime_error(text) {}
};

// Talks to the portal: one POST per hello, the outcome reported as
// NotifyHTTPStateEvent, and a received answer turned into StartBrowserEvent,
// SendFramesEvent and IntervalEvent, in that order.
class HTTPClientResource final : public Resource {
  public:
    // The clock times each exchange against its deadline.
    HTTPClientResource(HttpTransport& transport, const Clock& clock);

    int start() override { return 0; }
    int init() override { return 0; }

    // One exchange. Nothing of a failure reaches the caller: it is logged and
    // reported as state 0. `intervalWithoutAnswer` is the hello interval used
    // when an answer names none, so that the hello cycle never stalls; the
    // caller has the configuration that holds it, as it has `secure`
    // (PORTAL_SERVER_SECURE).
    void sendRequest(const std::string& message, const std::string& host, int32_t port,
                     const std::string& uri, bool secure, const std::optional<std::string>& proxy,
                     int32_t intervalWithoutAnswer);

    // The POST itself; returns the answer or throws HttpExchangeError.
    std::string postRequest(const std::string& host, int32_t port, const std::string& uri,
                            bool secure, const std::optional<std::string>& proxy,
                            const std::string& message);

    // Fires the answer's commands: each valid "B" line at once, then one
    // SendFramesEvent with all "S" frames, then one IntervalEvent.
    void parseAnswer(const std::string& answer, int32_t intervalWithoutAnswer);

  private:
    HttpTransport& transport_;
    const Clock& clock_;
};
