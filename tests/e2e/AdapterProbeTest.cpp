// The agent's WinINet and HID adapters under Wine through their probes, for
// what the agent's own cycle does not meet.

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "tests/e2e/DongleSimulator.h"
#include "tests/e2e/WineHarness.h"
#include "tools/portalsim/PortalSimulator.h"

namespace quorvel::e2e {
namespace {

using portalsim::PortalSimulator;
using portalsim::Reply;

const std::string helloBody = "H3,ABCDEFGHIJ,0a1b,0.1.0,258,demo";

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

// socat's TLS listener in front of `backend`; its port once it listens, else 0.
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
    const auto listening = [&] {
        return readFile(folder / (certificate + ".socat.log")).find("listening on") !=
               std::string::npos;
    };
    return waitUntil(listening, milliseconds(10000)) ? port : 0;
}

class PortalExchange : public ::testing::Test {
  protected:
    void SetUp() override { setup_ = WineSetup::fromBuild(); }

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
        EXPECT_EQ(result.exitCode, 0) << result.err;
        return parseProbe(result.out);
    }

    WineSetup setup_;
    PortalSimulator portal;
};

// WinINet's own words for each failure, and a deadline no receive time-out
// reaches: each byte of the trickling answer comes within it.
TEST_F(PortalExchange, FailedExchangesReportStateZeroWithTheirText) {
    Reply trickle = Reply::text(std::string(40, 'x') + "\r\nI5000");
    trickle.pieces.assign(40, 1);
    trickle.pieceGap = milliseconds(250);  // ten seconds for the whole answer
    const std::string error = "Exception! http connection error: ";
    const struct {
        std::optional<Reply> reply;  // none: nothing listens
        int timeoutMs;
        Strings logged;
        long minMs, maxMs;
    } cases[] = {
        {std::nullopt, 2000, {error + "The attempt to connect to the server failed."}, 0, 10000},
        {Reply::closing(), 2000, {}, 0, 10000},  // closed without a word
        {Reply::silence(), 2000, {error + "HttpSendRequest"}, 1800, 10000},
        // Windows ends a blocked call when its handle is closed. Wine 8 lets
        // it run until it returns by itself, at the latest at its time-out,
        // and fails the next one.
        {trickle,
         1000,
         {"[WinInetTransport::post] handles closed at the exchange's deadline [ms]: 2000",
          error + "no answer within the deadline"},
         1950,
         3250},
    };
    for (const auto& c : cases) {
        if (c.reply) {
            portal.addReply(*c.reply);
        }
        const uint16_t port = c.reply ? portal.port() : PortalSimulator::refusedPort();
        // Short time-outs: a silent portal costs seconds, not half a minute.
        const ProbeOutput out = probe(port, {"--timeout", std::to_string(c.timeoutMs)});
        EXPECT_EQ(out.events, Strings{"NotifyHTTPStateEvent state=0"}) << out.raw;
        for (const std::string& line : c.logged) {
            EXPECT_TRUE(out.logged(line)) << line << "\n" << out.raw;
        }
        EXPECT_GE(out.elapsedMs, c.minMs) << out.raw;
        EXPECT_LT(out.elapsedMs, c.maxMs) << out.raw;
    }
    EXPECT_EQ(portal.requests().size(), 3u);
}

// The exchange over TLS, with a test authority the prefix trusts only while
// the test runs: the system's certificate checks are left on.
TEST_F(PortalExchange, OverTlsOnlyACertificateTheSystemTrustsCarriesTheHello) {
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
    EXPECT_EQ(portal.requests().size(), 1u) << "only the trusted certificate carries a request";
}

// Only the vendor and product ids together name the dongle; the others are
// not talked to. A timed-out read is cancelled, so that the handle's reused
// event and buffer carry the next frame.
TEST(DongleWine, TheDongleIsFoundAmongDevicesOfOtherIdsAndATimedOutReadIsCancelled) {
    const WineSetup setup = WineSetup::fromBuild();
    DongleSimulator sim(setup, setup.runsDir / "DongleWine");
    const auto probe = [&](const std::vector<std::string>& args) {
        const CommandResult result = sim.probe(args);
        EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
        std::string out = result.out;
        out.erase(std::remove(out.begin(), out.end(), '\r'), out.end());
        // Every discovery released its device-information set and preparsed data.
        EXPECT_NE(out.find("\nsets=0\npreparsed=0\n"), std::string::npos) << out;
        return out;
    };
    const auto has = [](const std::string& out, const std::string& line) {
        return out.find(line) != std::string::npos;
    };
    ASSERT_EQ(sim.command("add mouse 046d c077").rfind("ok ", 0), 0u);
    ASSERT_EQ(sim.command("add cousin 5e91 2d4b").rfind("ok ", 0), 0u);
    const std::string none = probe({"open"});
    EXPECT_TRUE(has(none, "open=0\n") && has(none, "path=\n")) << none;
    ASSERT_EQ(sim.command("add dongle 5e91 2d4a QV00000042 0aff 258").rfind("ok ", 0), 0u);
    const std::string out = probe({"open"});
    EXPECT_TRUE(has(out, "open=1\n")) << out;
    EXPECT_TRUE(has(out, "path=\\\\.\\pipe\\quorvel-sim-hid#vid_5e91&pid_2d4a#dongle\n")) << out;
    EXPECT_TRUE(has(out, "input=36\noutput=36\n")) << out;
    EXPECT_EQ(sim.values("reports mouse"), std::vector<std::string>{"0"});
    EXPECT_EQ(sim.values("reports cousin"), std::vector<std::string>{"0"});

    const std::string timedOut = probe({"receive", "300", "S020B112233445566"});
    EXPECT_TRUE(has(timedOut, "]  WAIT_TIMEOUT in receiveReport\n")) << timedOut;
    EXPECT_TRUE(has(timedOut, "result=-1\ncheck=0\n")) << timedOut;
    EXPECT_TRUE(has(timedOut, "sent=0\n")) << timedOut;
    EXPECT_EQ(sim.values("broadcast dongle"), (std::vector<std::string>{"1", "02112293445566"}));
}

}  // namespace
}  // namespace quorvel::e2e
