// The agent's HID code under Wine (dongleprobe.exe), through its own
// SetupAPI, HID and overlapped file calls, against the simulated dongle: what
// the agent's own cycle (identity, frames on air) does not meet.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "tests/e2e/DongleSimulator.h"

namespace quorvel::e2e {
namespace {

// Only the vendor and product ids together name the dongle, wherever it
// comes in the list; the other devices are opened and closed, not talked to.
// A read that times out is cancelled, and the handle's event and buffer,
// reused after it, carry the next frame out and its acknowledgement back.
TEST(DongleWine, TheDongleIsFoundAmongDevicesOfOtherIdsAndATimedOutReadIsCancelled) {
    const WineSetup setup = WineSetup::fromBuild();
    DongleSimulator sim(setup, setup.runsDir / "DongleWine");
    // Runs the probe; its output with Windows line ends made plain.
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
