// One exchange of the WinINet adapter (httpprobe.exe) under Wine against the
// portal simulator hosted here, for what the agent's own cycle does not meet:
// WinINet's failures, a deadline no receive time-out reaches, and TLS.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/e2e/WineHarness.h"
#include "tools/portalsim/PortalSimulator.h"

namespace quorvel::e2e {
namespace {

using portalsim::PortalSimulator;
using portalsim::Reply;

const std::string helloBody = "H3,ABCDEFGHIJ,0a1b,0.1.0,258,demo";
// Short, so a silent portal costs the test seconds, not the default half minute.
constexpr int shortTimeoutMs = 2000;

struct ProbeOutput {
    Strings events;  // "Name payload", as the probe printed them
    long elapsedMs = -1;
    std::string raw;

    // Whether a log line (" - [ms] message", escaped) carries `message` whole.
    bool logged(const std::string& message) const {
        return raw.find("] " + message + "\n") != std::string::npos;
    }
};

ProbeOutput parseProbe(const std::string& out) {
    ProbeOutput output{{}, -1, out};
    for (const std::string& line : linesOf(out)) {
        if (line.rfind("event ", 0) == 0) {
            output.events.push_back(line.substr(6));
        } else if (line.rfind("elapsed_ms=", 0) == 0) {
            output.elapsedMs = std::stol(line.substr(11));
        }
    }
    return output;
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

// socat's TLS listener in front of the plain `backend` port, showing
// `certificate`.pem of `folder` (made by test-certs.sh): a request reaches
// the backend only through a TLS session. Its port once it listens, else 0.
uint16_t tlsFront(WineProcess& socat, const std::filesystem::path& folder,
                  const std::string& certificate, uint16_t backend) {
    const uint16_t port = PortalSimulator::refusedPort();
    socat = WineProcess(
        {"socat", "-d", "-d",
         "OPENSSL-LISTEN:" + std::to_string(port) +
             ",bind=127.0.0.1,reuseaddr,fork,cert=" + (folder / (certificate + ".pem")).string() +
             ",key=" + (folder / "server.key").string() + ",verify=0",
         "TCP:127.0.0.1:" + std::to_string(backend)},
        folder / (certificate + ".socat.log"));
    return waitUntil([&] { return acceptsConnections(port); }, milliseconds(10000)) ? port : 0;
}

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

    ProbeOutput probe(uint16_t port, const Strings& extra = {},
                      const std::string& host = "127.0.0.1") {
        Strings argv{setup_.wine.string(),
                     QUORVEL_E2E_HTTPPROBE_EXE,
                     "--host",
                     host,
                     "--port",
                     std::to_string(port),
                     "--uri",
                     "/portal/",
                     "--body",
                     helloBody,
                     "--interval-on-error",
                     "30000"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        const CommandResult result = runCaptured(argv, setup_.environment(), milliseconds(60000));
        EXPECT_FALSE(result.timedOut) << "the probe hung";
        EXPECT_EQ(result.exitCode, 0) << result.err;
        return parseProbe(result.out);
    }

    WineSetup setup_;
    PortalSimulator portal;
};

// WinINet's own words for the failure; what the agent makes of an answer
// that came is HTTPClientResourceTest's.
TEST_F(PortalExchange, FailedExchangesReportStateZeroWithTheirText) {
    const auto expectFailure = [&](uint16_t port, const std::string& text) {
        const ProbeOutput out = probe(port, {"--timeout", std::to_string(shortTimeoutMs)});
        EXPECT_EQ(out.events, Strings{"NotifyHTTPStateEvent state=0"}) << out.raw;
        if (!text.empty()) {
            EXPECT_TRUE(out.logged("Exception! http connection error: " + text)) << out.raw;
        }
        return out.elapsedMs;
    };
    expectFailure(PortalSimulator::refusedPort(), "The attempt to connect to the server failed.");
    portal.addReply(Reply::closing());
    expectFailure(portal.port(), "");  // closed without a word
    portal.addReply(Reply::silence());
    const long elapsedMs = expectFailure(portal.port(), "HttpSendRequest");
    EXPECT_GE(elapsedMs, shortTimeoutMs - 200);
    EXPECT_LT(elapsedMs, 5 * shortTimeoutMs);
    EXPECT_EQ(portal.requests().size(), 2u);
}

// Each byte comes within the receive time-out, so no wait ever times out;
// the exchange's deadline, twice the receive time-out, ends it all the same.
TEST_F(PortalExchange, APortalThatTricklesIsEndedAtTheExchangesDeadline) {
    constexpr int receiveTimeoutMs = 1000;
    Reply reply = Reply::text(std::string(40, 'x') + "\r\nI5000");
    reply.pieces.assign(40, 1);
    reply.pieceGap = milliseconds(250);  // ten seconds for the whole answer
    portal.addReply(reply);
    const ProbeOutput out = probe(portal.port(), {"--timeout", std::to_string(receiveTimeoutMs)});
    EXPECT_EQ(out.events, Strings{"NotifyHTTPStateEvent state=0"}) << out.raw;
    EXPECT_TRUE(
        out.logged("[WinInetTransport::post] handles closed at the exchange's deadline "
                   "[ms]: " +
                   std::to_string(2 * receiveTimeoutMs)))
        << out.raw;
    EXPECT_TRUE(out.logged("Exception! http connection error: no answer within the deadline"));
    // Windows ends a blocked call when its handle is closed. Wine 8 lets it
    // run until it returns by itself, at the latest at its time-out, and
    // fails the next one.
    EXPECT_GE(out.elapsedMs, 2 * receiveTimeoutMs - 50);
    EXPECT_LT(out.elapsedMs, 3 * receiveTimeoutMs + 250);
}

// The exchange over TLS (PORTAL_SERVER_SECURE=true): the simulator behind
// socat's TLS listener with certificates made for the test, whose authority
// the shared prefix trusts only while it runs. A certificate the system
// rejects fails the hello with WinINet's error number.
TEST_F(PortalExchange, OverTlsOnlyACertificateTheSystemTrustsCarriesTheHello) {
    ASSERT_TRUE(std::filesystem::is_regular_file(QUORVEL_E2E_TRUSTROOT_EXE));
    const std::filesystem::path certificates = setup_.runsDir / "tls";
    const CommandResult made = runCaptured(
        {"bash", QUORVEL_E2E_TEST_CERTS_SCRIPT, certificates.string()}, {}, milliseconds(30000));
    ASSERT_EQ(made.exitCode, 0) << made.out << made.err;
    std::string der = "Z:" + (certificates / "ca.der").string();
    std::replace(der.begin(), der.end(), '/', '\\');
    const auto trustRoot = [&](const std::string& action) {
        const CommandResult r =
            runCaptured({setup_.wine.string(), QUORVEL_E2E_TRUSTROOT_EXE, action, der},
                        setup_.environment(), milliseconds(30000));
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    };
    trustRoot("add");
    const struct {
        const char* certificate;
        std::vector<long> errors;  // none: the exchange succeeds
    } cases[] = {
        {"localhost", {}},
        // ERROR_INTERNET_SEC_CERT_CN_INVALID: the trusted authority's
        // certificate for another host.
        {"other-host", {12038}},
        // ERROR_INTERNET_INVALID_CA, or SEC_CERT_REV_FAILED as Wine says
        // when the chain ends at a root it does not know.
        {"stranger", {12045, 12057}},
    };
    const std::string failedLine =
        "[WinInetTransport::post] HttpSendRequestA failed, GetLastError=";
    for (const auto& c : cases) {
        portal.addReply(Reply::text("S0A0B\r\nI4321\r\n"));
        WineProcess socat;
        const uint16_t front = tlsFront(socat, certificates, c.certificate, portal.port());
        EXPECT_NE(front, 0) << c.certificate;
        const ProbeOutput out =
            probe(front, {"--secure", "true", "--timeout", "5000"}, "localhost");
        if (c.errors.empty()) {
            EXPECT_EQ(out.events,
                      (Strings{"NotifyHTTPStateEvent state=1", "SendFramesEvent frames=S0A0B",
                               "IntervalEvent interval=4321"}))
                << out.raw;
            continue;
        }
        EXPECT_EQ(out.events, Strings{"NotifyHTTPStateEvent state=0"}) << out.raw;
        const auto at = out.raw.find(failedLine);
        const long error =
            at == std::string::npos ? 0 : std::stol(out.raw.substr(at + failedLine.size()));
        EXPECT_TRUE(std::find(c.errors.begin(), c.errors.end(), error) != c.errors.end())
            << c.certificate << ": GetLastError=" << error << "\n"
            << out.raw;
    }
    trustRoot("remove");
    const auto requests = portal.requests();
    ASSERT_EQ(requests.size(), 1u) << "only the trusted certificate carries a request";
    EXPECT_EQ(requests[0].target, "/portal/");
    EXPECT_EQ(requests[0].body, helloBody);
}

}  // namespace
}  // namespace quorvel::e2e
