#include "tools/portalsim/PortalSimulator.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace quorvel::portalsim {

namespace {

// How long a client may take to send its request before it is dropped.
constexpr milliseconds requestDeadline{30000};
// How often waiting loops look at the stop flag.
constexpr int pollSliceMs = 50;

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error("portalsim: " + what + ": " + std::strerror(errno));
}

bool sameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return "";
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool sendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            return false;
        }
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

bool sendAll(int fd, const std::string& text) {
    return sendAll(fd, text.data(), text.size());
}

const char* reasonPhrase(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 404:
            return "Not Found";
        case 500:
            return "Internal Server Error";
        case 502:
            return "Bad Gateway";
        case 503:
            return "Service Unavailable";
        default:
            return "Status";
    }
}

// Splits "http://host[:port]/path" into its parts; false when it is not one.
bool splitAbsoluteUrl(const std::string& url, std::string& host, std::string& port,
                      std::string& path) {
    const std::string scheme = "http://";
    if (url.compare(0, scheme.size(), scheme) != 0) {
        return false;
    }
    const auto slash = url.find('/', scheme.size());
    const std::string authority = url.substr(scheme.size(), slash - scheme.size());
    path = slash == std::string::npos ? "/" : url.substr(slash);
    const auto colon = authority.rfind(':');
    host = authority.substr(0, colon);
    port = colon == std::string::npos ? "80" : authority.substr(colon + 1);
    return !host.empty();
}

int connectTo(const std::string& host, const std::string& port) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0 || found == nullptr) {
        return -1;
    }
    const int fd = socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC, 0);
    if (fd >= 0 && connect(fd, found->ai_addr, found->ai_addrlen) != 0) {
        close(fd);
        freeaddrinfo(found);
        return -1;
    }
    freeaddrinfo(found);
    return fd;
}

}  // namespace

std::string RecordedRequest::header(const std::string& name) const {
    for (const Header& h : headers) {
        if (sameText(h.name, name)) {
            return h.value;
        }
    }
    return "";
}

std::string RecordedRequest::describe() const {
    std::string text =
        method + " " + target + " " + version + (proxied ? "  (proxied)" : "") + "\n";
    for (const Header& h : headers) {
        text += "  " + h.name + ": " + h.value + "\n";
    }
    text += "  body (" + std::to_string(body.size()) + " bytes): " + body + "\n";
    return text;
}

PortalSimulator::PortalSimulator(uint16_t port) : lastReply_(Reply::text("I60000")) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0) {
        fail("socket");
    }
    const int on = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 16) != 0) {
        const int error = errno;
        close(listener_);
        errno = error;
        fail("cannot listen on 127.0.0.1:" + std::to_string(port));
    }
    socklen_t length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
}

PortalSimulator::~PortalSimulator() {
    stop();
}

void PortalSimulator::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) {
            return;
        }
        stopping_ = true;
        // Wakes every worker blocked on its client.
        for (const int client : clients_) {
            shutdown(client, SHUT_RDWR);
        }
    }
    released_.notify_all();
    if (acceptor_.joinable()) {
        acceptor_.join();
    }
    // No new worker can start now: the acceptor has ended.
    for (std::thread& worker : workers_) {
        worker.join();
    }
    workers_.clear();
    close(listener_);
    listener_ = -1;
}

bool PortalSimulator::stopping() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stopping_;
}

void PortalSimulator::addReply(Reply reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    script_.push_back(std::move(reply));
}

void PortalSimulator::addReplies(std::vector<Reply> replies) {
    for (Reply& reply : replies) {
        addReply(std::move(reply));
    }
}

Reply PortalSimulator::nextReply() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!script_.empty()) {
        lastReply_ = script_.front();
        script_.pop_front();
    }
    return lastReply_;
}

std::vector<RecordedRequest> PortalSimulator::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

bool PortalSimulator::waitForRequests(std::size_t count, milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return recorded_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

void PortalSimulator::holdAnswers() {
    std::lock_guard<std::mutex> lock(mutex_);
    held_ = true;
}

void PortalSimulator::releaseAnswers() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        held_ = false;
    }
    released_.notify_all();
}

std::size_t PortalSimulator::piecesSent() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return piecesSent_;
}

uint16_t PortalSimulator::refusedPort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        fail("socket");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(fd);
        fail("bind");
    }
    close(fd);
    return ntohs(address.sin_port);
}

void PortalSimulator::acceptLoop() {
    while (!stopping()) {
        pollfd ready{listener_, POLLIN, 0};
        if (poll(&ready, 1, pollSliceMs) <= 0) {
            continue;
        }
        const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            continue;
        }
        const auto connectedAt = std::chrono::steady_clock::now();
        const int on = 1;
        // Pieces of an answer must leave one by one, not gathered up.
        setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) {
            close(client);
            break;
        }
        clients_.insert(client);
        workers_.emplace_back([this, client, connectedAt] { serve(client, connectedAt); });
    }
}

void PortalSimulator::serve(int client, std::chrono::steady_clock::time_point connectedAt) {
    // Read the head, then as much body as Content-Length names.
    std::string raw;
    std::string::size_type headEnd = std::string::npos;
    std::size_t wanted = 0;
    bool complete = false;
    const auto deadline = std::chrono::steady_clock::now() + requestDeadline;
    std::array<char, 16384> buffer{};
    while (!complete && !stopping() && std::chrono::steady_clock::now() < deadline) {
        pollfd ready{client, POLLIN, 0};
        if (poll(&ready, 1, pollSliceMs) <= 0) {
            continue;
        }
        const ssize_t got = recv(client, buffer.data(), buffer.size(), 0);
        if (got <= 0) {
            break;
        }
        raw.append(buffer.data(), static_cast<std::size_t>(got));
        if (headEnd == std::string::npos) {
            headEnd = raw.find("\r\n\r\n");
            if (headEnd == std::string::npos) {
                continue;
            }
            const std::string head = raw.substr(0, headEnd);
            const auto lengthAt = [&head]() -> std::size_t {
                std::string lower = head;
                std::transform(lower.begin(), lower.end(), lower.begin(),
                               [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
                const auto at = lower.find("\r\ncontent-length:");
                return at == std::string::npos ? 0
                                               : std::strtoul(head.c_str() + at + 17, nullptr, 10);
            }();
            wanted = headEnd + 4 + lengthAt;
        }
        complete = raw.size() >= wanted;
    }

    if (complete) {
        RecordedRequest request;
        const std::string head = raw.substr(0, headEnd);
        std::string::size_type lineStart = 0;
        bool first = true;
        while (lineStart <= head.size()) {
            auto lineEnd = head.find("\r\n", lineStart);
            if (lineEnd == std::string::npos) {
                lineEnd = head.size();
            }
            const std::string line = head.substr(lineStart, lineEnd - lineStart);
            if (first) {
                const auto a = line.find(' ');
                const auto b = line.find(' ', a + 1);
                request.method = line.substr(0, a);
                request.target = line.substr(a + 1, b - a - 1);
                request.version = b == std::string::npos ? "" : line.substr(b + 1);
                first = false;
            } else if (const auto colon = line.find(':'); colon != std::string::npos) {
                request.headers.push_back({line.substr(0, colon), trimmed(line.substr(colon + 1))});
            }
            lineStart = lineEnd + 2;
        }
        request.body = raw.substr(headEnd + 4, wanted - headEnd - 4);
        request.proxied = request.target.compare(0, 7, "http://") == 0;
        request.connectedAt = connectedAt;
        std::size_t index = 0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            index = requests_.size();
            requests_.push_back(request);
        }
        recorded_.notify_all();
        if (request.proxied) {
            forward(client, request, raw);
        } else if (answer(client, nextReply())) {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_[index].answeredAt = std::chrono::steady_clock::now();
        }
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        clients_.erase(client);
    }
    close(client);
}

bool PortalSimulator::answer(int client, const Reply& reply) {
    const auto waitFor = [this](milliseconds period) {
        const auto until = std::chrono::steady_clock::now() + period;
        while (!stopping() && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(milliseconds(std::min<long>(pollSliceMs, period.count())));
        }
    };
    if (reply.kind == Reply::Kind::close) {
        return false;
    }
    if (reply.kind == Reply::Kind::silent) {
        // Until the client gives up or the simulator stops.
        std::array<char, 512> sink{};
        while (!stopping()) {
            pollfd ready{client, POLLIN, 0};
            if (poll(&ready, 1, pollSliceMs) > 0 &&
                recv(client, sink.data(), sink.size(), 0) <= 0) {
                return false;
            }
        }
        return false;
    }
    {
        std::unique_lock<std::mutex> lock(mutex_);
        released_.wait(lock, [this] { return !held_ || stopping_; });
    }
    waitFor(reply.delay);
    const std::string head =
        "HTTP/1.1 " + std::to_string(reply.status) + " " + reasonPhrase(reply.status) +
        "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(reply.body.size()) +
        "\r\nConnection: close\r\n\r\n";
    if (!sendAll(client, head)) {
        return false;
    }
    std::size_t offset = 0;
    std::size_t sent = 0;
    for (std::size_t i = 0; i <= reply.pieces.size() && offset < reply.body.size(); ++i) {
        if (i > 0) {
            waitFor(reply.pieceGap);
        }
        const std::size_t size = i < reply.pieces.size()
                                     ? std::min(reply.pieces[i], reply.body.size() - offset)
                                     : reply.body.size() - offset;
        if (!sendAll(client, reply.body.data() + offset, size)) {
            return false;
        }
        offset += size;
        ++sent;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        piecesSent_ += sent;
    }
    shutdown(client, SHUT_WR);
    return !stopping();
}

void PortalSimulator::forward(int client, const RecordedRequest& request, const std::string& raw) {
    std::string host;
    std::string port;
    std::string path;
    const int upstream =
        splitAbsoluteUrl(request.target, host, port, path) ? connectTo(host, port) : -1;
    if (upstream < 0) {
        sendAll(client,
                "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        return;
    }
    std::string outgoing = request.method + " " + path + " " + request.version + "\r\n";
    for (const Header& h : request.headers) {
        // Hop-by-hop headers end at the proxy; each hop here is one request.
        if (sameText(h.name, "Proxy-Connection") || sameText(h.name, "Connection") ||
            sameText(h.name, "Keep-Alive")) {
            continue;
        }
        outgoing += h.name + ": " + h.value + "\r\n";
    }
    outgoing += "Connection: close\r\n\r\n";
    outgoing += raw.substr(raw.find("\r\n\r\n") + 4);
    if (sendAll(upstream, outgoing)) {
        std::array<char, 16384> buffer{};
        while (!stopping()) {
            pollfd ready{upstream, POLLIN, 0};
            if (poll(&ready, 1, pollSliceMs) <= 0) {
                continue;
            }
            const ssize_t got = recv(upstream, buffer.data(), buffer.size(), 0);
            if (got <= 0 || !sendAll(client, buffer.data(), static_cast<std::size_t>(got))) {
                break;
            }
        }
    }
    close(upstream);
    shutdown(client, SHUT_WR);
}

}  // namespace quorvel::portalsim
