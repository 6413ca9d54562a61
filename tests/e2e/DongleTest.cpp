// The agent's HID code under Wine, through its own SetupAPI, HID and
// overlapped file calls, against the simulated dongle.

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

TEST_F(DongleWine, DongleSecondOfTwoDevicesIsFound) {
    ASSERT_EQ(sim().command("add mouse 046d c077").rfind("ok ", 0), 0u);
    addDongle();
    const std::string out = probe({"open"});
    EXPECT_TRUE(has(out, "open=1\n")) << out;
    EXPECT_TRUE(has(out, "path=\\\\.\\pipe\\quorvel-sim-hid#vid_5e91&pid_2d4a#dongle\n")) << out;
    EXPECT_TRUE(has(out, "input=36\noutput=36\n")) << out;
    // The mouse was opened and closed, not talked to.
    EXPECT_EQ(sim().values("reports mouse"), std::vector<std::string>{"0"});
}

TEST_F(DongleWine, RightVendorOtherProductIsIgnored) {
    ASSERT_EQ(sim().command(std::string("add cousin ") + dongleVid + " 2d4b").rfind("ok ", 0), 0u);
    const std::string out = probe({"open"});
    EXPECT_TRUE(has(out, "open=0\n")) << out;
    EXPECT_TRUE(has(out, "path=\n")) << out;
}

TEST_F(DongleWine, ReceiveTimeOutIsLoggedAndTransientWhileTheDongleIsPresent) {
    addDongle();
    // The handle's event and buffer, reused after the cancelled read, carry
    // the next frame out and its acknowledgement back.
    const std::string out = probe({"receive", "300", "S020B112233445566"});
    EXPECT_TRUE(has(out, "]  WAIT_TIMEOUT in receiveReport\n")) << out;
    EXPECT_TRUE(has(out, "result=-1\ncheck=0\n")) << out;
    EXPECT_EQ(count(out, " inputReportBuffer: 02:10:"), 1) << out;
    EXPECT_TRUE(has(out, "sent=0\n")) << out;
    EXPECT_EQ(sim().values("broadcast dongle"),
              (std::vector<std::string>{"1", "02112293445566"}));

    const std::string absent = probe({"--absent", "receive", "300"});
    EXPECT_TRUE(has(absent, "result=-1\ncheck=-1\n")) << absent;
    EXPECT_TRUE(has(absent,
                    "no device found! invalid create handle of "
                    "device[USBResource::checkUSBhandle]: the dongle is not available"))
        << absent;
}

TEST_F(DongleWine, DeviceInformationIsReadFromTheDongle) {
    addDongle();
    const std::string out = probe({"info", "1000"});
    EXPECT_TRUE(has(out, "result=0\nserial=QV00000042\nfirmware=258\nradio=0aff\n")) << out;
    EXPECT_TRUE(has(out, "event=NotifyUSBStateEvent=1\n")) << out;
    EXPECT_TRUE(has(out, "getDeviceInfos inputReportBuffer: 02:10:80:ff:51:56:")) << out;
    const auto reports = sim().values("reports dongle");
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[1].substr(0, 8), "010300ff");
}

// quorvel-check and the agent open the dongle again within milliseconds of
// closing it, so the simulator starts a connection thread for each handle,
// many of which end at once; on a busy machine every conversation must
// still be answered and the simulator live on.
TEST_F(DongleWine, EveryOneOfManyQuickReopensIsAnswered) {
    addDongle();
    for (int host = 0; host < 3; ++host) {
        const std::string out = probe({"reopen", "100", "1000"});
        ASSERT_TRUE(has(out, "answered=100\n")) << out;
    }
    EXPECT_EQ(sim().command("utilisation dongle"), "ok 0");
}

TEST_F(DongleWine, NoDongleGivesTheHelloItsErrorEvents) {
    const std::string out = probe({"info", "300"});
    EXPECT_TRUE(has(out, "event=NotifyUSBStateEvent=0\nlog=")) << out;
    EXPECT_TRUE(has(out, "event=ContinueHelloEvent\n")) << out;
    EXPECT_TRUE(has(out, "result=-1\n")) << out;
}

TEST_F(DongleWine, FramesAreSentRepeatTimesWithTheCounterBits) {
    addDongle();
    ASSERT_EQ(sim().command("duty dongle 30"), "ok");
    const std::string out =
        probe({"start", "13", "3", "2", "30", "1000", "S020B112233445566", "S0A0B0C0D0E0F"});
    EXPECT_TRUE(has(out, "duty cycle utilisation is[%]: 30\n")) << out;
    EXPECT_TRUE(has(out, "event=ContinueTransmitEvent=0\nresult=0\n")) << out;
    EXPECT_EQ(count(out, " inputReportBuffer: 02:10:82:ff:01:"), 6) << out;
    const auto sent = sim().values("broadcast dongle");
    ASSERT_EQ(sent.size(), 7u);
    EXPECT_EQ(sent[0], "6");
    for (int pass = 0; pass < 3; ++pass) {
        // Counter 13: low bits 5 in bits 4 to 6, flag in bit 7.
        EXPECT_EQ(sent[1 + 2 * pass], "021122d3445566");
        EXPECT_EQ(sent[2 + 2 * pass], "0a0c0dd60f");
    }
}

TEST_F(DongleWine, DutyCycleAtTheMaximumIsAcceptedAndOneAboveIsNot) {
    addDongle();
    ASSERT_EQ(sim().command("duty dongle 51"), "ok");
    const std::string over = probe({"start", "1", "1", "2", "50", "1000", "S020B112233445566"});
    EXPECT_TRUE(has(over, "event=NotifyDutyCycleStateEvent=0\n")) << over;
    EXPECT_TRUE(has(over, "event=ContinueTransmitEvent=1\n")) << over;
    EXPECT_TRUE(has(over, "over max duty cycle utilisation!")) << over;
    EXPECT_EQ(sim().values("broadcast dongle"), std::vector<std::string>{"0"});

    const std::string at = probe({"start", "1", "1", "2", "51", "1000", "S020B112233445566"});
    EXPECT_TRUE(has(at, "event=NotifyDutyCycleStateEvent=1\n")) << at;
    EXPECT_TRUE(has(at, "event=ContinueTransmitEvent=0\n")) << at;
    EXPECT_EQ(sim().values("broadcast dongle").front(), "1");
}

TEST_F(DongleWine, DongleUnpluggedBetweenDutyCycleQueryAndTransmission) {
    addDongle();
    ASSERT_EQ(sim().command("unplug-after dongle duty"), "ok");
    const std::string out = probe({"start", "1", "2", "2", "50", "1000", "S020B112233445566"});
    EXPECT_TRUE(has(out, "event=NotifyDutyCycleStateEvent=1\n")) << out;
    EXPECT_TRUE(has(out, "event=NotifyUSBStateEvent=0\n")) << out;
    EXPECT_TRUE(has(out, "event=ContinueTransmitEvent=2\n")) << out;
    EXPECT_TRUE(has(out,
                    "no device found! cannot create handle of "
                    "device[USBResource::transmit]: the dongle is not available"))
        << out;
    EXPECT_EQ(sim().values("broadcast dongle"), std::vector<std::string>{"0"});
}

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
