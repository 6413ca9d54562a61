// The portal exchange for real: httpprobe.exe runs one sendRequest with the
// WinINet adapter under Wine against the portal simulator hosted here, and
// the tests look at both ends: the events and log lines the probe printed,
// and the request the simulator recorded. The proxy path goes through the
// simulator's proxy mode and through Debian's tinyproxy.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/WineHarness.h"
#include "tools/portalsim/PortalSimulator.h"

extern char** environ;

namespace quorvel::e2e {
namespace {

using portalsim::PortalSimulator;
using portalsim::Reply;

const std::string helloBody = "H3,ABCDEFGHIJ,0a1b,0.1.0,258,demo";
// Short, so a silent portal costs the test seconds, not the default half minute.
constexpr int shortTimeoutMs = 2000;
constexpr milliseconds probeDeadline{60000};

struct ProbeEvent {
    std::string name;
    std::string payload;
};

struct ProbeOutput {
    std::vector<ProbeEvent> events;
    std::vector<std::string> logMessages;  // without the " - [ms] " prefix
    long elapsedMs = -1;
    CommandResult raw;

    std::vector<std::string> eventNames() const {
        std::vector<std::string> names;
        for (const ProbeEvent& e : events) {
            names.push_back(e.name);
        }
        return names;
    }
    std::string payloadOf(const std::string& name) const {
        for (const ProbeEvent& e : events) {
            if (e.name == name) {
                return e.payload;
            }
        }
        return "<none>";
    }
    bool logged(const std::string& message) const {
        return std::find(logMessages.begin(), logMessages.end(), message) != logMessages.end();
    }
    // The answer as the resource logged it, or nullopt when it logged none.
    std::optional<std::string> answer() const {
        const std::string prefix = "message from portal:\r\n";
        for (const std::string& m : logMessages) {
            if (m.compare(0, prefix.size(), prefix) == 0) {
                return m.substr(prefix.size());
            }
        }
        return std::nullopt;
    }
};

std::string unescaped(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char next = text[++i];
            out += next == 'r' ? '\r' : next == 'n' ? '\n' : next;
        } else {
            out += text[i];
        }
    }
    return out;
}

ProbeOutput parseProbe(const CommandResult& result) {
    ProbeOutput output;
    output.raw = result;
    std::istringstream lines(result.out);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.compare(0, 6, "event ") == 0) {
            const auto space = line.find(' ', 6);
            output.events.push_back({line.substr(6, space - 6),
                                     space == std::string::npos ? "" : line.substr(space + 1)});
        } else if (line.compare(0, 4, "log ") == 0) {
            const std::string text = unescaped(line.substr(4));
            const auto end = text.find("] ");
            output.logMessages.push_back(end == std::string::npos ? text : text.substr(end + 2));
        } else if (line.compare(0, 11, "elapsed_ms=") == 0) {
            output.elapsedMs = std::stol(line.substr(11));
        }
    }
    return output;
}

// A free loopback port for a program that binds it itself.
uint16_t freePort() {
    return PortalSimulator::refusedPort();
}

bool acceptsConnections(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

// tinyproxy in the foreground with a config of its own, ended by its id.
class Tinyproxy {
  public:
    explicit Tinyproxy(const std::filesystem::path& folder) : port_(freePort()) {
        std::filesystem::create_directories(folder);
        const auto config = folder / "tinyproxy.conf";
        std::ofstream(config) << "Port " << port_ << "\nListen 127.0.0.1\nTimeout 30\n"
                              << "MaxClients 5\nAllow 127.0.0.1\nLogLevel Info\n";
        const std::string log = (folder / "tinyproxy.log").string();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        std::string program = "tinyproxy";
        std::string foreground = "-d";
        std::string configOption = "-c";
        std::string configPath = config.string();
        char* argv[] = {program.data(), foreground.data(), configOption.data(), configPath.data(),
                        nullptr};
        if (posix_spawnp(&pid_, "tinyproxy", &actions, nullptr, argv, environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Tinyproxy() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            if (!waitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; },
                           milliseconds(5000))) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
            }
        }
    }
    Tinyproxy(const Tinyproxy&) = delete;
    Tinyproxy& operator=(const Tinyproxy&) = delete;

    bool ready() const {
        return pid_ > 0 &&
               waitUntil([&] { return acceptsConnections(port_); }, milliseconds(10000));
    }
    uint16_t port() const { return port_; }

  private:
    uint16_t port_;
    pid_t pid_ = -1;
};

class PortalExchange : public ::testing::Test {
  protected:
    void SetUp() override {
        try {
            setup_ = WineSetup::fromBuild();
        } catch (const std::exception& e) {
            GTEST_FAIL() << e.what();
        }
        ASSERT_TRUE(std::filesystem::is_regular_file(QUORVEL_E2E_HTTPPROBE_EXE))
            << QUORVEL_E2E_HTTPPROBE_EXE << " missing: build the windows preset first";
    }

    ProbeOutput probe(uint16_t port, std::vector<std::string> extra = {}) {
        std::vector<std::string> argv{setup_.wine.string(),
                                      QUORVEL_E2E_HTTPPROBE_EXE,
                                      "--host",
                                      "127.0.0.1",
                                      "--port",
                                      std::to_string(port),
                                      "--uri",
                                      "/portal/",
                                      "--body",
                                      helloBody,
                                      "--interval-on-error",
                                      "30000"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        const CommandResult result = runCaptured(argv, setup_.environment(), probeDeadline);
        EXPECT_FALSE(result.timedOut) << "the probe hung";
        EXPECT_EQ(result.exitCode, 0) << result.err;
        return parseProbe(result);
    }

    WineSetup setup_;
    PortalSimulator portal;
};

TEST_F(PortalExchange, APostCarriesTheFixedHeaderAndTheBodyAndTheAnswerIsCarriedOut) {
    portal.addReply(
        Reply::text("Bportal.example,8080,/welcome\r\nS01 02 03\r\nS0A0B\r\nI60000\r\n"));
    const ProbeOutput out = probe(portal.port());

    ASSERT_TRUE(portal.waitForRequests(1, milliseconds(1000)));
    const auto requests = portal.requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto& request = requests[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/portal/");
    EXPECT_EQ(request.header("Content-type"), "application/binary");
    EXPECT_EQ(request.header("User-Agent"), "Quorvel");
    EXPECT_EQ(request.header("Content-Length"), std::to_string(helloBody.size()));
    EXPECT_EQ(request.body, helloBody);
    EXPECT_FALSE(request.proxied);

    EXPECT_EQ(out.eventNames(),
              (std::vector<std::string>{"NotifyHTTPStateEvent", "StartBrowserEvent",
                                        "SendFramesEvent", "IntervalEvent"}))
        << out.raw.out;
    EXPECT_EQ(out.payloadOf("NotifyHTTPStateEvent"), "state=1");
    EXPECT_EQ(out.payloadOf("StartBrowserEvent"), "url=http://portal.example:8080/welcome");
    EXPECT_EQ(out.payloadOf("SendFramesEvent"), "frames=S010203,S0A0B");
    EXPECT_EQ(out.payloadOf("IntervalEvent"), "interval=60000");
    EXPECT_TRUE(out.logged("- message to portal:\r\n" + helloBody + " host: 127.0.0.1 port: " +
                           std::to_string(portal.port()) + " uri: /portal/"));
}

TEST_F(PortalExchange, AnErrorStatusWithAPageStillCountsAsAnAnswer) {
    portal.addReply(Reply::text("<h1>Oops</h1>\nI5000\n", 500));
    const ProbeOutput out = probe(portal.port());
    EXPECT_EQ(out.payloadOf("NotifyHTTPStateEvent"), "state=1") << out.raw.out;
    EXPECT_EQ(out.payloadOf("IntervalEvent"), "interval=5000");
    EXPECT_TRUE(out.logged("unknown command: <h1>Oops</h1>"));
}

TEST_F(PortalExchange, AnEmptyBodyIsContentIsEmpty) {
    portal.addReply(Reply::text(""));
    const ProbeOutput out = probe(portal.port());
    EXPECT_EQ(out.eventNames(), (std::vector<std::string>{"NotifyHTTPStateEvent"})) << out.raw.out;
    EXPECT_EQ(out.payloadOf("NotifyHTTPStateEvent"), "state=0");
    EXPECT_TRUE(out.logged("Exception! http connection error: content is empty"));
}

TEST_F(PortalExchange, ASilentPortalEndsWithinTheTimeOut) {
    portal.addReply(Reply::silence());
    const ProbeOutput out = probe(portal.port(), {"--timeout", std::to_string(shortTimeoutMs)});
    EXPECT_EQ(out.eventNames(), (std::vector<std::string>{"NotifyHTTPStateEvent"})) << out.raw.out;
    EXPECT_EQ(out.payloadOf("NotifyHTTPStateEvent"), "state=0");
    EXPECT_TRUE(out.logged("Exception! http connection error: HttpSendRequest")) << out.raw.out;
    ASSERT_GE(out.elapsedMs, 0);
    EXPECT_GE(out.elapsedMs, shortTimeoutMs - 200);
    EXPECT_LT(out.elapsedMs, 5 * shortTimeoutMs);
    EXPECT_EQ(portal.requests().size(), 1u);
}

TEST_F(PortalExchange, ARefusedPortIsTheFailedConnectionAttempt) {
    const ProbeOutput out = probe(PortalSimulator::refusedPort());
    EXPECT_EQ(out.eventNames(), (std::vector<std::string>{"NotifyHTTPStateEvent"})) << out.raw.out;
    EXPECT_EQ(out.payloadOf("NotifyHTTPStateEvent"), "state=0");
    EXPECT_TRUE(out.logged(
        "Exception! http connection error: The attempt to connect to the server failed."))
        << out.raw.out;
}

TEST_F(PortalExchange, AConnectionClosedWithoutAWordIsAFailedSend) {
    portal.addReply(Reply::closing());
    const ProbeOutput out = probe(portal.port());
    EXPECT_EQ(out.eventNames(), (std::vector<std::string>{"NotifyHTTPStateEvent"})) << out.raw.out;
    EXPECT_EQ(out.payloadOf("NotifyHTTPStateEvent"), "state=0");
}

TEST_F(PortalExchange, PiecesAreJoinedInArrivalOrder) {
    const std::string body = "S0102\r\nS0304\r\nS0506\r\nI9000";
    Reply reply = Reply::text(body);
    reply.pieces = {4, 7, 9};
    reply.pieceGap = milliseconds(300);
    portal.addReply(reply);
    const ProbeOutput out = probe(portal.port());
    EXPECT_EQ(portal.piecesSent(), 4u);
    ASSERT_TRUE(out.answer()) << out.raw.out;
    EXPECT_EQ(*out.answer(), body);
    EXPECT_EQ(out.payloadOf("SendFramesEvent"), "frames=S0102,S0304,S0506");
    EXPECT_EQ(out.payloadOf("IntervalEvent"), "interval=9000");
}

TEST_F(PortalExchange, AnOversizedAnswerIsCutSafely) {
    const std::string start = "I7000\r\nS0A0B\r\n";
    portal.addReply(Reply::text(start + std::string(200000 - start.size(), 'Z')));
    const ProbeOutput out = probe(portal.port());
    EXPECT_EQ(out.payloadOf("NotifyHTTPStateEvent"), "state=1") << out.raw.err;
    ASSERT_TRUE(out.answer());
    EXPECT_EQ(out.answer()->size(), 64999u);
    EXPECT_EQ(out.answer()->substr(0, start.size()), start);
    EXPECT_TRUE(out.logged("[HTTPClientResource::postRequest] answer cut at characters: 64999"));
    EXPECT_EQ(out.payloadOf("SendFramesEvent"), "frames=S0A0B");
    EXPECT_EQ(out.payloadOf("IntervalEvent"), "interval=7000");
}

TEST_F(PortalExchange, TheSimulatorsProxyCarriesTheExchange) {
    PortalSimulator proxy;
    portal.addReply(Reply::text("I4321"));
    const ProbeOutput out =
        probe(portal.port(), {"--proxy", "127.0.0.1:" + std::to_string(proxy.port())});

    const auto viaProxy = proxy.requests();
    ASSERT_EQ(viaProxy.size(), 1u) << out.raw.out;
    EXPECT_TRUE(viaProxy[0].proxied);
    EXPECT_EQ(viaProxy[0].target, "http://127.0.0.1:" + std::to_string(portal.port()) + "/portal/");
    const auto atPortal = portal.requests();
    ASSERT_EQ(atPortal.size(), 1u);
    EXPECT_EQ(atPortal[0].target, "/portal/");
    EXPECT_EQ(atPortal[0].body, helloBody);
    EXPECT_EQ(atPortal[0].header("Content-type"), "application/binary");
    EXPECT_EQ(out.payloadOf("NotifyHTTPStateEvent"), "state=1");
    EXPECT_EQ(out.payloadOf("IntervalEvent"), "interval=4321");
}

TEST_F(PortalExchange, TinyproxyCarriesTheExchange) {
    const auto folder =
        std::filesystem::temp_directory_path() / ("quorvel-tinyproxy-" + std::to_string(getpid()));
    Tinyproxy tinyproxy(folder);
    ASSERT_TRUE(tinyproxy.ready()) << readFile(folder / "tinyproxy.log");
    portal.addReply(Reply::text("I1234"));
    const ProbeOutput out =
        probe(portal.port(), {"--proxy", "127.0.0.1:" + std::to_string(tinyproxy.port())});

    const auto atPortal = portal.requests();
    ASSERT_EQ(atPortal.size(), 1u) << out.raw.out << readFile(folder / "tinyproxy.log");
    EXPECT_EQ(atPortal[0].method, "POST");
    EXPECT_EQ(atPortal[0].target, "/portal/");
    EXPECT_EQ(atPortal[0].body, helloBody);
    EXPECT_EQ(atPortal[0].header("Content-type"), "application/binary");
    // tinyproxy names itself on what it forwards.
    EXPECT_NE(atPortal[0].header("Via").find("tinyproxy"), std::string::npos);
    EXPECT_EQ(out.payloadOf("NotifyHTTPStateEvent"), "state=1");
    EXPECT_EQ(out.payloadOf("IntervalEvent"), "interval=1234");
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace quorvel::e2e
