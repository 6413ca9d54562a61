#include "check/win32/WinsockProbe.h"

// winsock2.h before windows.h: the other order declares the old Winsock.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <memory>

#include "core/Log.h"
#include "core/Text.h"
#include "core/win32/ErrorWords.h"

namespace {

struct AddressListDeleter {
    void operator()(addrinfo* list) const { freeaddrinfo(list); }
};
using AddressList = std::unique_ptr<addrinfo, AddressListDeleter>;

// One owner for a socket, closed on every path.
class ScopedSocket {
  public:
    explicit ScopedSocket(SOCKET socket) : socket_(socket) {}
    ~ScopedSocket() {
        if (socket_ != INVALID_SOCKET) {
            closesocket(socket_);
        }
    }
    ScopedSocket(const ScopedSocket&) = delete;
    ScopedSocket& operator=(const ScopedSocket&) = delete;
    SOCKET get() const { return socket_; }

  private:
    SOCKET socket_;
};

// The line says what went wrong in words; --verbose shows which call it was.
ProbeOutcome failed(const char* operation, int error) {
    log(std::string("[WinsockProbe] ") + operation + " failed, WSA error ", int64_t{error});
    return ProbeOutcome{false, errorInWords(static_cast<uint32_t>(error))};
}

std::string addressText(const addrinfo* address) {
    char text[INET6_ADDRSTRLEN] = {};
    const void* raw = address->ai_family == AF_INET6
                          ? static_cast<const void*>(
                                &reinterpret_cast<const sockaddr_in6*>(address->ai_addr)->sin6_addr)
                          : static_cast<const void*>(
                                &reinterpret_cast<const sockaddr_in*>(address->ai_addr)->sin_addr);
    return inet_ntop(address->ai_family, raw, text, sizeof(text)) != nullptr ? text : "?";
}

AddressList lookUp(const std::string& host, const char* service, int& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    error = getaddrinfo(host.c_str(), service, &hints, &found);
    return AddressList(error == 0 ? found : nullptr);
}

}  // namespace

WinsockProbe::WinsockProbe() {
    WSADATA data{};
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

WinsockProbe::~WinsockProbe() {
    if (started_) {
        WSACleanup();
    }
}

ProbeOutcome WinsockProbe::resolve(const std::string& host) {
    int error = 0;
    const AddressList addresses = lookUp(host, nullptr, error);
    if (!addresses) {
        return failed("getaddrinfo", error);
    }
    return ProbeOutcome{true, addressText(addresses.get())};
}

ProbeOutcome WinsockProbe::connect(const std::string& host, uint16_t port,
                                   uint32_t timeoutMilliseconds) {
    int error = 0;
    const AddressList addresses = lookUp(host, decimalText(port).c_str(), error);
    if (!addresses) {
        return failed("getaddrinfo", error);
    }
    // Only when the name has no address at all.
    ProbeOutcome last{false, errorInWords(WSAEHOSTUNREACH)};
    for (const addrinfo* address = addresses.get(); address != nullptr;
         address = address->ai_next) {
        const ScopedSocket socket(
            ::socket(address->ai_family, address->ai_socktype, address->ai_protocol));
        if (socket.get() == INVALID_SOCKET) {
            last = failed("socket", WSAGetLastError());
            continue;
        }
        // Non-blocking, so that the wait for the connection has a bound.
        u_long nonBlocking = 1;
        ioctlsocket(socket.get(), FIONBIO, &nonBlocking);
        if (::connect(socket.get(), address->ai_addr, static_cast<int>(address->ai_addrlen)) ==
                SOCKET_ERROR &&
            WSAGetLastError() != WSAEWOULDBLOCK) {
            last = failed("connect", WSAGetLastError());
            continue;
        }
        fd_set writable;
        FD_ZERO(&writable);
        FD_SET(socket.get(), &writable);
        fd_set refused;
        FD_ZERO(&refused);
        FD_SET(socket.get(), &refused);
        timeval wait{};
        wait.tv_sec = static_cast<long>(timeoutMilliseconds / 1000);
        wait.tv_usec = static_cast<long>((timeoutMilliseconds % 1000) * 1000);
        const int ready = select(0, nullptr, &writable, &refused, &wait);
        if (ready == 0) {
            last = ProbeOutcome{false, "no answer within " +
                                           decimalText(static_cast<int64_t>(timeoutMilliseconds)) +
                                           " ms"};
            continue;
        }
        if (ready == SOCKET_ERROR || FD_ISSET(socket.get(), &refused)) {
            int socketError = 0;
            int length = sizeof(socketError);
            getsockopt(socket.get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&socketError),
                       &length);
            last = failed("connect", socketError != 0 ? socketError : WSAGetLastError());
            continue;
        }
        return ProbeOutcome{true, addressText(address)};
    }
    return last;
}
