#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// The system's error when nothing listens at the portal's address
// (ERROR_INTERNET_CANNOT_CONNECT).
constexpr uint32_t internetCannotConnect = 12029;

// One POST to the portal as the transport is asked to make it.
struct HttpRequest {
    std::string host;
    uint16_t port = 0;
    std::string uri;
    // HTTPS on `port`, with the system's own certificate checks; plain HTTP
    // otherwise.
    bool secure = false;
    // "host:port" of the proxy; empty means the system's own settings.
    std::string proxy;
    std::string body;
};

// Where an exchange stopped. `none` means the whole answer was read;
// `deadline` that the exchange was ended because it ran past its deadline,
// whichever step it was in.
enum class HttpStep { none, open, connect, openRequest, send, read, deadline };

struct HttpOutcome {
    HttpStep failedStep = HttpStep::none;
    // The system's error code for the failed step, 0 when there was none.
    uint32_t systemError = 0;
};

// Makes one HTTP POST exchange and hands the answer over as it arrives. All
// handles of an exchange are opened and released inside `post`.
class HttpTransport {
  public:
    // Receives each piece of the answer in arrival order; returns false when
    // it wants no more, which ends the reading early (not a failure).
    using ChunkSink = std::function<bool(const char* data, std::size_t size)>;

    virtual ~HttpTransport() = default;
    virtual HttpOutcome post(const HttpRequest& request, const ChunkSink& onChunk) = 0;
    // How long one whole exchange may take, from opening the connection to
    // the last byte read. The per-call time-outs bound each wait only, so a
    // server that sends a byte now and then could otherwise hold the caller
    // for as long as it likes.
    virtual uint32_t exchangeDeadlineMilliseconds() const = 0;
};
