// Frames per second through the agent's HID code and the simulated dongle,
// against the dongle's own answer time. Not a timed test: it reports the
// numbers and checks only that every frame arrived.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "tests/e2e/DongleSimulator.h"

namespace quorvel::e2e {
namespace {

double valueOf(const std::string& out, const std::string& key) {
    const auto at = out.find("\n" + key + "=");
    return at == std::string::npos ? -1.0 : std::stod(out.substr(at + key.size() + 2));
}

TEST(DongleBenchmark, FramesPerSecondAgainstTheDonglesAnswerTime) {
    const WineSetup setup = WineSetup::fromBuild();
    DongleSimulator sim(setup, setup.runsDir / "DongleBenchmark");
    ASSERT_EQ(sim.command("add dongle 5e91 2d4a").rfind("ok ", 0), 0u);
    struct Run {
        int answerMs;
        int frames;
    };
    for (const Run run : {Run{0, 1000}, Run{2, 200}, Run{10, 100}}) {
        ASSERT_EQ(sim.command("delay dongle " + std::to_string(run.answerMs)), "ok");
        ASSERT_EQ(sim.command("clear dongle"), "ok");
        CommandResult result =
            sim.probe({"bench", std::to_string(run.frames), "1000"}, milliseconds(120000));
        std::string out = "\n" + result.out;
        out.erase(std::remove(out.begin(), out.end(), '\r'), out.end());
        ASSERT_EQ(result.exitCode, 0) << out;
        EXPECT_EQ(sim.values("broadcast dongle").front(), std::to_string(run.frames));
        const double perFrame = valueOf(out, "ms_per_frame");
        const double agentShare = perFrame > 0 ? (perFrame - run.answerMs) / perFrame : 0;
        std::printf(
            "answer %2d ms: %5d frames, %8.3f ms/frame, %8.1f frames/s, "
            "agent and transport %6.3f ms/frame (%4.1f %%)\n",
            run.answerMs, run.frames, perFrame, 1000.0 / perFrame, perFrame - run.answerMs,
            100.0 * agentShare);
        ::testing::Test::RecordProperty("ms_per_frame_at_" + std::to_string(run.answerMs) + "ms",
                                        std::to_string(perFrame));
    }
}

}  // namespace
}  // namespace quorvel::e2e
