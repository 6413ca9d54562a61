// The agent's HID code under Wine, through its own SetupAPI, HID and
// overlapped file calls, against the simulated dongle: what the agent's own
// cycle (identity, frames on air) does not meet. The transmission's rules
// are the unit tests' to prove.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "tests/e2e/DongleSimulator.h"

namespace quorvel::e2e {
namespace {

const char dongleVid[] = "5e91";
const char donglePid[] = "2d4a";

class DongleWine : public ::testing::Test {
  protected:
    void SetUp() override {
        setup_ = WineSetup::fromBuild();
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        sim_ = std::make_unique<DongleSimulator>(
            setup_, setup_.runsDir / (std::string(info->test_suite_name()) + "." + info->name()));
    }

    DongleSimulator& sim() { return *sim_; }

    void addDongle() {
        ASSERT_EQ(sim()
                      .command(std::string("add dongle ") + dongleVid + " " + donglePid +
                               " QV00000042 0aff 258")
                      .rfind("ok ", 0),
                  0u);
    }

    // Runs the probe; its output with Windows line ends made plain.
    std::string probe(const std::vector<std::string>& args) {
        CommandResult result = sim().probe(args);
        EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
        std::string out = result.out;
        out.erase(std::remove(out.begin(), out.end(), '\r'), out.end());
        // Every discovery released its device-information set and preparsed data.
        EXPECT_NE(out.find("\nsets=0\npreparsed=0\n"), std::string::npos) << out;
        return out;
    }

    static bool has(const std::string& out, const std::string& line) {
        return out.find(line) != std::string::npos;
    }

    static int count(const std::string& out, const std::string& text) {
        int found = 0;
        for (auto at = out.find(text); at != std::string::npos; at = out.find(text, at + 1)) {
            ++found;
        }
        return found;
    }

  private:
    WineSetup setup_;
    std::unique_ptr<DongleSimulator> sim_;
};

// Only the vendor and product ids together name the dongle, wherever it
// comes in the list; the other devices are opened and closed, not talked to.
TEST_F(DongleWine, TheDongleIsFoundAmongDevicesOfOtherIds) {
    ASSERT_EQ(sim().command("add mouse 046d c077").rfind("ok ", 0), 0u);
    ASSERT_EQ(sim().command(std::string("add cousin ") + dongleVid + " 2d4b").rfind("ok ", 0), 0u);
    const std::string none = probe({"open"});
    EXPECT_TRUE(has(none, "open=0\n") && has(none, "path=\n")) << none;
    addDongle();
    const std::string out = probe({"open"});
    EXPECT_TRUE(has(out, "open=1\n")) << out;
    EXPECT_TRUE(has(out, "path=\\\\.\\pipe\\quorvel-sim-hid#vid_5e91&pid_2d4a#dongle\n")) << out;
    EXPECT_TRUE(has(out, "input=36\noutput=36\n")) << out;
    EXPECT_EQ(sim().values("reports mouse"), std::vector<std::string>{"0"});
    EXPECT_EQ(sim().values("reports cousin"), std::vector<std::string>{"0"});
}

// Without a dongle the hello gets its error events; with one that stays
// silent a read times out, which is transient while the dongle is there.
TEST_F(DongleWine, NoDongleAndASilentOneGiveTheirEventsAndLogLines) {
    const std::string none = probe({"info", "300"});
    EXPECT_TRUE(has(none, "event=NotifyUSBStateEvent=0\nlog=")) << none;
    EXPECT_TRUE(has(none, "event=ContinueHelloEvent\n")) << none;
    EXPECT_TRUE(has(none, "result=-1\n")) << none;

    addDongle();
    const std::string out = probe({"receive", "300"});
    EXPECT_TRUE(has(out, "]  WAIT_TIMEOUT in receiveReport\n")) << out;
    EXPECT_TRUE(has(out, "result=-1\ncheck=0\n")) << out;
    const std::string absent = probe({"--absent", "receive", "300"});
    EXPECT_TRUE(has(absent, "result=-1\ncheck=-1\n")) << absent;
    EXPECT_TRUE(has(absent,
                    "no device found! invalid create handle of "
                    "device[USBResource::checkUSBhandle]: the dongle is not available"))
        << absent;
}

// quorvel-check and the agent open the dongle again within milliseconds of
// closing it, so the simulator starts a connection thread for each handle,
// many of which end at once; on a busy machine every conversation must
// still be answered and the simulator live on.
TEST_F(DongleWine, EveryOneOfManyQuickReopensIsAnswered) {
    addDongle();
    for (int host = 0; host < 2; ++host) {
        const std::string out = probe({"reopen", "100", "1000"});
        ASSERT_TRUE(has(out, "answered=100\n")) << out;
    }
    EXPECT_EQ(sim().command("utilisation dongle"), "ok 0");
}

// A dongle that takes frames but never acknowledges: each frame costs its
// reads, and none is sent again.
TEST_F(DongleWine, UnacknowledgedFramesCostTheirReadsAndAreNotResent) {
    addDongle();
    ASSERT_EQ(sim().command("mute dongle 1"), "ok");
    const std::string out =
        probe({"start", "0", "1", "2", "50", "500", "S020B112233445566", "S0A0B0C0D0E0F"});
    EXPECT_EQ(count(out, " WAIT_TIMEOUT in receiveReport"), 4) << out;
    EXPECT_TRUE(has(out, "event=ContinueTransmitEvent=0\n")) << out;
    EXPECT_EQ(sim().values("broadcast dongle").front(), "2");
}

}  // namespace
}  // namespace quorvel::e2e
