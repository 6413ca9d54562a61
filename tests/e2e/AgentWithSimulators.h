// The one fixture of the agent scenarios: the real agent under Wine with the
// portal simulator hosted here and the simulated dongle, seen from outside.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "storage/RunTimeData.h"
#include "tests/e2e/DongleSimulator.h"
#include "tests/e2e/WineHarness.h"
#include "tools/portalsim/PortalSimulator.h"

namespace quorvel::e2e {

// The dongle plugDongle() plugs in.
inline constexpr char kSerial[] = "QV00000042";
inline constexpr char kRadio[] = "0aff";
inline constexpr char kFirmware[] = "258";

// Frame texts of different lengths, each with low bits in D4 that the
// counter bits must leave alone.
inline const std::string S1 = "S0A0B1122056677";
inline const std::string S2 = "S2C2D33440288";
inline const std::string S3 = "S3E3F5566037799AA";
inline const std::string S4 = "S4A4B6677048899";

inline portalsim::Reply answer(std::initializer_list<std::string> lines) {
    std::string body;
    for (const std::string& line : lines) {
        body += line + "\r\n";
    }
    return portalsim::Reply::text(body);
}

// The wall clock, which Wine shares.
int64_t wallClockMs();
TimeStamp timeStampAt(int64_t ms);
// The next hello lies more than 50 s ahead: an answer's "I60000" was planned.
bool minuteAhead(const RunTimeData& data);

// Generous: Wine on two shared cores is slow to start a process, and a
// deadline that passes means a fault, not a retry.
inline constexpr milliseconds kStartTimeout{20000};
inline constexpr milliseconds kExitTimeout{15000};

std::string currentTestName();

class AgentWithSimulators : public ::testing::Test {
  protected:
    using Config = std::map<std::string, std::string>;

    void SetUp() override;
    void TearDown() override;

    Harness& harness() { return *harness_; }
    // Starts an agent from `folder`; it is killed at teardown if still alive.
    WineProcess& startAgent(const std::filesystem::path& folder,
                            const std::map<std::string, std::string>& extraEnv = {});
    // Fails early when `agent` (null: started by someone else) ends first.
    bool waitForLoggerWindow(WineProcess* agent, bool visible = false);
    // Expects exit code 0 and no logger window left behind.
    void endWith(WineProcess& agent, int command);
    CommandResult drive(const std::vector<std::string>& args);

    portalsim::PortalSimulator& portal() { return *portal_; }
    DongleSimulator& dongle() { return *dongle_; }

    // Short intervals, logging on, the portal simulator as the portal.
    Config config() const;
    // A fresh program folder named after the test, with the stand-ins.
    std::filesystem::path agentFolder(const Config& config, const std::string& suffix = "");
    // Returns at once; the others fail the test unless the window appears.
    WineProcess& launch(const std::filesystem::path& folder);
    WineProcess& startAgentIn(const std::filesystem::path& folder);
    WineProcess& startAgentWith(const Config& config);

    // The dongle (kSerial, kRadio, kFirmware) plugged in as device "dongle".
    void plugDongle();
    // As hex telegrams in order.
    std::vector<std::string> broadcast();
    bool waitForBroadcast(std::size_t count);

    std::vector<std::string> helloBodies() const;
    std::string hello(int reason) const;
    bool waitForHellos(std::size_t count, milliseconds timeout = milliseconds(15000));

    // quorvel.dat decoded, when it exists with its full size.
    std::optional<RunTimeData> stored();
    std::optional<RunTimeData> waitForStored(
        const std::function<bool(const RunTimeData&)>& condition,
        milliseconds timeout = milliseconds(15000));
    void store(const RunTimeData& data, std::filesystem::path file = {});
    // A record of an earlier run with this dongle: hello an hour ahead.
    RunTimeData earlierRun() const;

    void openPortal();
    // Expects the answer's `frame` on air twice with `counter`.
    void openPortalAndSend(const std::string& frame, int counter);

  private:
    std::unique_ptr<Harness> harness_;
    std::list<WineProcess> agents_;
    std::unique_ptr<portalsim::PortalSimulator> portal_;
    std::unique_ptr<DongleSimulator> dongle_;
};

// What goes on air for a frame sent with `counter`: D0, then D2 onwards,
// D4's upper bits the transmit flag and the counter's lowest three bits.
std::string onAir(const std::string& frame, int counter);
// A frame as SEND_FRAMES_REPEAT=2 puts it on air.
Strings twice(const std::string& frame, int counter);
// Settled after a transmission: nothing pending, the counter where expected.
std::function<bool(const RunTimeData&)> sent(int counter);

}  // namespace quorvel::e2e
