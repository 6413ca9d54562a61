#include "portal/win32/WinInetTransport.h"

#include <windows.h>
#include <wininet.h>

#include <string>
#include <vector>

#include "core/Log.h"
#include "core/Text.h"
#include "core/win32/ErrorWords.h"
#include "portal/win32/ExchangeWatchdog.h"
#include "portal/win32/InternetHandle.h"

namespace {

// One read never asks for more than this; the size the agent has always read
// with, and the answer is cut far below it anyway.
constexpr DWORD readBufferSize = 65000;

HttpOutcome failed(HttpStep step, const char* operation) {
    const DWORD error = GetLastError();
    log(std::string("[WinInetTransport::post] ") + operation +
        " failed, GetLastError=" + decimalText(error) + " (" + errorWords(error) + ")");
    return HttpOutcome{step, static_cast<uint32_t>(error)};
}

void setTimeout(HINTERNET handle, DWORD option, const char* name, uint32_t milliseconds) {
    DWORD value = milliseconds;
    if (!InternetSetOptionA(handle, option, &value, sizeof value)) {
        log(std::string("[WinInetTransport::post] InternetSetOptionA(") + name +
                ") failed, GetLastError=",
            static_cast<int64_t>(GetLastError()));
    }
}

}  // namespace

uint32_t WinInetTransport::exchangeDeadlineMilliseconds() const {
    // INFINITE (all bits set) would make the watchdog wait for ever.
    const uint64_t deadline = uint64_t{timeouts_.receive} * 2;
    return deadline < INFINITE ? static_cast<uint32_t>(deadline) : INFINITE - 1;
}

WinInetTransport::WinInetTransport() = default;

WinInetTransport::WinInetTransport(const Timeouts& timeouts) : timeouts_(timeouts) {}

WinInetTransport::~WinInetTransport() = default;

HttpOutcome WinInetTransport::post(const HttpRequest& request, const ChunkSink& onChunk) {
    if (!watchdog_ || !watchdog_->running()) {
        watchdog_ = std::make_unique<ExchangeWatchdog>();
    }
    if (!watchdog_->running()) {
        // Unbounded, the exchange could hold the agent for as long as the
        // server likes; better no hello than that.
        return failed(HttpStep::open, "CreateThread (exchange watchdog)");
    }
    ExchangeWatchdog& watchdog = *watchdog_;
    watchdog.begin(exchangeDeadlineMilliseconds());
    const HttpOutcome outcome = exchange(request, onChunk, watchdog);
    if (watchdog.finish()) {
        log("[WinInetTransport::post] handles closed at the exchange's deadline [ms]: ",
            int64_t{exchangeDeadlineMilliseconds()});
        return HttpOutcome{HttpStep::deadline, 0};
    }
    return outcome;
}

HttpOutcome WinInetTransport::exchange(const HttpRequest& request, const ChunkSink& onChunk,
                                       ExchangeWatchdog& watchdog) {
    const bool viaProxy = !request.proxy.empty();
    const InternetHandle internet(
        viaProxy
            ? InternetOpenA("Quorvel", INTERNET_OPEN_TYPE_PROXY, request.proxy.c_str(), nullptr, 0)
            : InternetOpenA("Quorvel", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!internet.valid()) {
        return failed(HttpStep::open, "InternetOpenA");
    }
    // Set on the session so the connection and request handles inherit them;
    // the library's own defaults can block the GUI thread for many minutes.
    setTimeout(internet.get(), INTERNET_OPTION_CONNECT_TIMEOUT, "connect", timeouts_.connect);
    setTimeout(internet.get(), INTERNET_OPTION_SEND_TIMEOUT, "send", timeouts_.send);
    setTimeout(internet.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, "receive", timeouts_.receive);

    const InternetHandle connection(InternetConnectA(internet.get(), request.host.c_str(),
                                                     request.port, nullptr, nullptr,
                                                     INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection.valid()) {
        return failed(HttpStep::connect, "InternetConnectA");
    }
    // INTERNET_FLAG_SECURE alone: the library's certificate checks stay on, and
    // a certificate it rejects fails HttpSendRequestA with its error number.
    const DWORD flags =
        INTERNET_FLAG_NO_CACHE_WRITE | (request.secure ? INTERNET_FLAG_SECURE : DWORD{0});
    const InternetHandle httpRequest(HttpOpenRequestA(connection.get(), "POST", request.uri.c_str(),
                                                      nullptr, nullptr, nullptr, flags, 0));
    if (!httpRequest.valid()) {
        return failed(HttpStep::openRequest, "HttpOpenRequestA");
    }
    // Some WinINet versions take the time-outs only from the request handle
    // itself, not from the session it came from.
    setTimeout(httpRequest.get(), INTERNET_OPTION_SEND_TIMEOUT, "send", timeouts_.send);
    setTimeout(httpRequest.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, "receive", timeouts_.receive);

    // Only sending and reading can block; connecting happens in the send.
    const ExchangeWatchdog::Guard guard(watchdog, {&httpRequest, &connection, &internet});
    static const char header[] = "Content-type: application/binary";
    // The body parameter is not const in the API, though it is only read.
    std::string body = request.body;
    if (!HttpSendRequestA(httpRequest.get(), header, static_cast<DWORD>(-1), &body[0],
                          static_cast<DWORD>(body.size()))) {
        return failed(HttpStep::send, "HttpSendRequestA");
    }

    std::vector<char> buffer(readBufferSize);
    for (;;) {
        DWORD available = 0;
        if (!InternetQueryDataAvailable(httpRequest.get(), &available, 0, 0)) {
            return failed(HttpStep::read, "InternetQueryDataAvailable");
        }
        if (available == 0) {
            break;
        }
        // The library may report more than one buffer holds; the rest comes
        // with the next round.
        const DWORD wanted = available < readBufferSize ? available : readBufferSize;
        DWORD read = 0;
        if (!InternetReadFile(httpRequest.get(), buffer.data(), wanted, &read)) {
            return failed(HttpStep::read, "InternetReadFile");
        }
        if (read == 0 || !onChunk(buffer.data(), read)) {
            break;
        }
    }
    return HttpOutcome{};
}
