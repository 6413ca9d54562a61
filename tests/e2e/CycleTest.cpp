// The hello and transmit cycles of the real agent under Wine, seen from
// outside: the requests at the portal simulator, the frames the simulated
// dongle put on air and the bytes of quorvel.dat. The cycles' logic is the
// unit tests' to prove; these show the real calls and processes carry it.

#include <gtest/gtest.h>

#include <algorithm>
#include <list>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "tests/e2e/AgentWithSimulators.h"
#include "tools/donglesim/DongleModel.h"

namespace quorvel::e2e {
namespace {

namespace fs = std::filesystem;
using portalsim::Reply;

class Cycle : public AgentWithSimulators {};

// The hello through WinINet as the portal receives it (frames on air the
// two-sessions scenario shows). While a hello waits for the portal, Open
// Portal and a second start wait with it (the second copy hands over and
// ends only once the running one has taken its command), and both lead to
// one hello after it.
TEST_F(Cycle, AHelloReachesThePortalAndOpenPortalFollowsEachRunningHelloOnce) {
    plugDongle();
    const fs::path folder = agentFolder(config());
    startAgentIn(folder);
    ASSERT_TRUE(waitForHellos(1));
    const auto request = portal().requests().front();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/agent/hello.php");
    EXPECT_EQ(request.body, hello(7));
    EXPECT_EQ(request.header("Content-type"), "application/binary");
    EXPECT_EQ(request.header("User-Agent"), "Quorvel");
    ASSERT_TRUE(waitForStored(minuteAhead)) << "no next hello planned from the answer";

    portal().holdAnswers();
    drive({"post", std::to_string(ID_OPEN_PORTAL), "0"});  // as the tray's double-click does
    ASSERT_TRUE(waitForHellos(2, milliseconds(5000))) << "Open Portal did not say hello at once";
    drive({"post", std::to_string(ID_OPEN_PORTAL), "0"});
    WineProcess& second = launch(folder);
    EXPECT_FALSE(waitUntil([&] { return !second.running(); }, milliseconds(2500)))
        << "the second copy ended while the running copy was inside its hello";
    EXPECT_EQ(portal().requests().size(), 2u) << "a hello began inside the hello";
    portal().releaseAnswers();
    const auto code = second.waitForExit(kExitTimeout);
    ASSERT_TRUE(code) << "the second copy keeps running after the hello";
    EXPECT_EQ(*code, 0);
    ASSERT_TRUE(waitForHellos(3));
    EXPECT_TRUE(waitForStored(minuteAhead));
    EXPECT_FALSE(waitForHellos(4, milliseconds(1500))) << "one hello expected after the held one";
    const auto requests = portal().requests();
    EXPECT_GE(requests[2].connectedAt, requests[1].answeredAt) << "the hellos overlapped";
    EXPECT_EQ(helloBodies(), (Strings{hello(7), hello(2), hello(2)}));
    const auto windows = harness().loggerWindows();
    ASSERT_TRUE(windows);
    EXPECT_EQ(windows->size(), 1u);
    EXPECT_EQ(stored().value_or(RunTimeData{}).helloReason, 7);
}

// ---- two sessions --------------------------------------------------------------

// Another user's session: a second prefix with its own wineserver (so the
// single-instance mutex does not stop a second agent), the first prefix's
// registry, and its drive C: linked from dosdevices, so
// C:\ProgramData\quorvel is the same folder. The dongle reaches it through
// donglerelay.exe.
class SecondSession {
  public:
    explicit SecondSession(const WineSetup& setup) : setup_(setup) {
        prefix_ = setup.runsDir / "second-prefix";
        fs::remove_all(prefix_);
        fs::create_directories(prefix_ / "dosdevices");
        for (const char* file : {"system.reg", "user.reg", "userdef.reg", ".update-timestamp"}) {
            fs::copy_file(setup.prefix / file, prefix_ / file);
        }
        fs::create_directory_symlink(setup.prefix / "drive_c", prefix_ / "dosdevices" / "c:");
        fs::create_directory_symlink("/", prefix_ / "dosdevices" / "z:");
    }
    ~SecondSession() {
        relays_.clear();
        runCaptured({"wineserver", "-k"}, env(), milliseconds(10000));
        fs::remove_all(prefix_);
    }
    std::map<std::string, std::string> env(std::map<std::string, std::string> more = {}) const {
        more["WINEPREFIX"] = prefix_.string();
        return more;
    }
    // Carries the simulator's pipes from the first prefix into this one;
    // false when either relay does not come up.
    bool relayDongle(const fs::path& folder) {
        const fs::path exe = fs::path(QUORVEL_E2E_DONGLESIM_DIR) / "donglerelay.exe";
        relays_.emplace_back(setup_, exe, std::vector<std::string>{"out"}, folder,
                             folder / "relay-out.log");
        const int port = announcedPort(folder / "relay-out.log", milliseconds(20000));
        if (port == 0) {
            return false;
        }
        relays_.emplace_back(setup_, exe, std::vector<std::string>{"in", std::to_string(port)},
                             folder, folder / "relay-in.log", env());
        return waitUntil(
            [&] { return readFile(folder / "relay-in.log").find("serving") != std::string::npos; },
            milliseconds(20000));
    }

  private:
    const WineSetup& setup_;
    fs::path prefix_;
    std::list<WineProcess> relays_;
};

class TwoSessions : public AgentWithSimulators {};

// Two users' agents, one dongle that answers slowly, one quorvel.dat, and a
// portal whose every answer brings a frame of its own: an agent may store a
// frame the other sends, or pick up at start the one the other stored. Each
// frame goes on air under one counter value only, twice in a row, in the
// order the portal gave them; the counter values follow each other; each
// transmission is the duty-cycle query and its frames, never mixed with the
// other agent's reports.
TEST_F(TwoSessions, AgentsOfTwoSessionsTakeTurnsAtTheDongleAndSendEachFrameOnce) {
    plugDongle();
    ASSERT_EQ(dongle().command("delay dongle 100"), "ok");
    constexpr int answers = 12;
    Strings frames;
    std::vector<Reply> replies;
    for (int i = 0; i < answers; ++i) {
        frames.push_back("S0A0B" + std::string{"0123456789abcdef"[i]} + "122056677");
        replies.push_back(answer({frames.back(), "I500"}));
    }
    replies.push_back(answer({"I60000"}));
    portal().addReplies(replies);

    SecondSession second(harness().setup());
    const fs::path folder = agentFolder(config());
    ASSERT_TRUE(second.relayDongle(folder));
    Config other = config();
    other["PARTNER"] = "acme-two";
    const fs::path otherFolder = agentFolder(other, ".second");
    startAgentIn(folder);
    startAgent(otherFolder, second.env({{"WINEDLLOVERRIDES", "mscoree,mshtml=;setupapi,hid=n,b"}}));
    ASSERT_TRUE(waitForHellos(answers + 2, milliseconds(40000))) << "the answers were not taken";
    const auto settled = waitForStored([&](const RunTimeData& d) {
        return d.frames.empty() && 2u * static_cast<unsigned>(d.transmitCounter) ==
                                       broadcast().size();
    });
    ASSERT_TRUE(settled) << "frames left, or a counter value without its frame on air";
    const auto saidHello = [&](const std::string& partner) {
        const Strings bodies = helloBodies();
        return std::any_of(bodies.begin(), bodies.end(), [&](const std::string& body) {
            return body.size() > partner.size() &&
                   body.rfind(partner) == body.size() - partner.size();
        });
    };
    EXPECT_TRUE(saidHello(",acme-home") && saidHello(",acme-two"));

    const Strings air = broadcast();
    ASSERT_GE(settled->transmitCounter, 3) << "too few transmissions to show turns";
    std::size_t next = 0;  // the first frame that may still go out
    for (int counter = 1; counter <= settled->transmitCounter; ++counter) {
        const std::string& sent = air[2 * counter - 2];
        EXPECT_EQ(air[2 * counter - 1], sent) << "counter " << counter;
        std::size_t i = next;
        while (i < frames.size() && onAir(frames[i], counter) != sent) {
            ++i;
        }
        ASSERT_LT(i, frames.size()) << "counter " << counter << ": " << sent
                                     << " sent again or out of order";
        next = i + 1;
    }

    // The reports as the dongle received them, a letter each: each duty-cycle
    // query (D) followed by its frame twice (F), nothing else between.
    std::string kinds;
    const Strings reports = dongle().values("reports dongle");
    for (auto hex = reports.begin() + 1; hex < reports.end(); ++hex) {
        ReportBuffer report{};
        for (std::size_t b = 0; b < report.size() && 2 * b + 1 < hex->size(); ++b) {
            report[b] = static_cast<uint8_t>(std::stoul(hex->substr(2 * b, 2), nullptr, 16));
        }
        kinds += "IDF?"[static_cast<int>(DongleModel::classify(report))];
    }
    std::string others = kinds;
    for (auto at = others.find("DFF"); at != std::string::npos; at = others.find("DFF")) {
        others.erase(at, 3);
    }
    EXPECT_EQ(kinds.size() - others.size(), 3u * static_cast<unsigned>(settled->transmitCounter))
        << kinds;
    EXPECT_EQ(others.find_first_not_of('I'), std::string::npos) << kinds;
}

}  // namespace
}  // namespace quorvel::e2e
