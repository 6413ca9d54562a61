// A stand-in for the portal on loopback, for tests and the demo. It records
// every request and answers from a script of replies, one per request; it
// also serves as a plain HTTP forward proxy for requests in absolute form.
// POSIX sockets only.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace quorvel::portalsim {

using std::chrono::milliseconds;

struct Reply {
    enum class Kind {
        answer,  // status line, headers and the body
        silent,  // read the request, then say nothing until the client goes
        close,   // read the request, then close without a word
    };
    Kind kind = Kind::answer;
    int status = 200;
    std::string body;
    // Wait before the first byte of the answer.
    milliseconds delay{0};
    // Sizes of the pieces the body is sent in, each after `pieceGap`; the
    // rest of the body follows as a last piece. Empty: all at once.
    std::vector<std::size_t> pieces;
    milliseconds pieceGap{100};

    static Reply text(std::string body, int status = 200) {
        Reply reply;
        reply.body = std::move(body);
        reply.status = status;
        return reply;
    }
    static Reply silence() {
        Reply reply;
        reply.kind = Kind::silent;
        return reply;
    }
    static Reply closing() {
        Reply reply;
        reply.kind = Kind::close;
        return reply;
    }
};

struct Header {
    std::string name;
    std::string value;
};

struct RecordedRequest {
    std::string method;
    std::string target;  // as sent: a path, or an absolute URL to a proxy
    std::string version;
    std::vector<Header> headers;
    std::string body;
    bool proxied = false;  // handled as a proxy request
    // When the client's connection was taken, and when the answer's last
    // byte left; the latter stays unset for silence, a close or a proxied
    // request. Lets a test see whether one exchange began before another
    // had ended.
    std::chrono::steady_clock::time_point connectedAt{};
    std::chrono::steady_clock::time_point answeredAt{};

    // The first header of that name, case-insensitive; empty when absent.
    std::string header(const std::string& name) const;
    // The request as the log shows it.
    std::string describe() const;
};

class PortalSimulator {
  public:
    // Listens on 127.0.0.1 at `port`, 0 for a free one. Throws
    // std::runtime_error when it cannot.
    explicit PortalSimulator(uint16_t port = 0);
    // Stops: no thread, socket or connection outlives the object.
    ~PortalSimulator();
    PortalSimulator(const PortalSimulator&) = delete;
    PortalSimulator& operator=(const PortalSimulator&) = delete;

    uint16_t port() const { return port_; }

    // Replies for the next requests, in order; once they are used up the
    // last one given keeps answering ("I60000" before any is given).
    void addReply(Reply reply);
    void addReplies(std::vector<Reply> replies);

    std::vector<RecordedRequest> requests() const;
    // Waits until `count` requests have been recorded or the time is up.
    bool waitForRequests(std::size_t count, milliseconds timeout) const;
    // Pieces of answer bodies written so far, over all connections.
    std::size_t piecesSent() const;

    // While held, requests are still taken and recorded, but no answer
    // leaves until release: a test decides when an exchange may end.
    void holdAnswers();
    void releaseAnswers();

    // A loopback port that refuses connections: bound once to learn a free
    // number, then released with nothing listening there.
    static uint16_t refusedPort();

    void stop();

  private:
    void acceptLoop();
    void serve(int client, std::chrono::steady_clock::time_point connectedAt);
    // True when the whole answer was sent.
    bool answer(int client, const Reply& reply);
    void forward(int client, const RecordedRequest& request, const std::string& raw);
    Reply nextReply();
    bool stopping() const;

    int listener_ = -1;
    uint16_t port_ = 0;
    mutable std::mutex mutex_;
    mutable std::condition_variable recorded_;
    std::condition_variable released_;
    bool held_ = false;
    std::deque<Reply> script_;
    Reply lastReply_;
    std::vector<RecordedRequest> requests_;
    std::set<int> clients_;
    std::size_t piecesSent_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
    std::thread acceptor_;
};

}  // namespace quorvel::portalsim
