// The hello and transmit cycles of the real agent under Wine, seen from
// outside: the requests at the portal simulator, the frames the simulated
// dongle put on air and the bytes of quorvel.dat. Intervals are short so
// that every retry shows within seconds.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <future>
#include <initializer_list>
#include <list>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "tests/e2e/AgentWithSimulators.h"
#include "tools/donglesim/DongleModel.h"

namespace quorvel::e2e {
namespace {

namespace fs = std::filesystem;
using portalsim::PortalSimulator;
using portalsim::Reply;
using Strings = std::vector<std::string>;

// `time` lies between `low` and `high` milliseconds from now.
::testing::AssertionResult dueIn(const TimeStamp& time, int64_t low, int64_t high) {
    const int64_t left = msOf(time) - wallClockMs();
    if (left >= low && left <= high) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "due in " << left << " ms, expected " << low << " to " << high << " ms";
}

bool minuteAhead(const RunTimeData& d) {
    return msOf(d.nextHelloTime) - wallClockMs() > 50000;
}

class HelloCycle : public AgentWithSimulators {};
class TransmitCycle : public AgentWithSimulators {};
class UserCommands : public AgentWithSimulators {};

TEST_F(HelloCycle, FirstHelloNamesTheDongleAndTheAgent) {
    plugDongle();
    startAgentWith(config());
    ASSERT_TRUE(waitForHellos(1));
    // The simulator answers "I60000": the cycle has ended once that is planned.
    const auto data = waitForStored(minuteAhead);
    ASSERT_TRUE(data) << "no next hello planned from the answer's interval";
    EXPECT_TRUE(dueIn(data->nextHelloTime, 50000, 60500));

    const auto requests = portal().requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto& request = requests.front();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/agent/hello.php");
    EXPECT_EQ(request.body, hello(7));
    EXPECT_EQ(request.header("Content-type"), "application/binary");
    EXPECT_EQ(request.header("User-Agent"), "Quorvel");
    EXPECT_EQ(data->serialNumber, kSerial);
    EXPECT_EQ(data->firmwareVersion, kFirmware);
    EXPECT_EQ(data->helloReason, 7);
}

TEST_F(HelloCycle, AnotherDongleIsAnnouncedOnceWithReasonOne) {
    plugDongle();
    portal().addReplies({Reply::text("I1500"), Reply::text("I1000"), Reply::text("I60000")});
    startAgentWith(config());
    ASSERT_TRUE(waitForHellos(1));
    // Swapped before the next hello, due 1.5 s after the answer.
    ASSERT_EQ(dongle().command("unplug dongle"), "ok");
    plugDongle("other", "QV00000099", "0b12", "259");
    ASSERT_TRUE(waitForHellos(3));
    EXPECT_EQ(helloBodies(), (Strings{hello(7), hello(1, "QV00000099", "0b12", "259"),
                                      hello(7, "QV00000099", "0b12", "259")}));
    const auto data = stored();
    ASSERT_TRUE(data);
    EXPECT_EQ(data->serialNumber, "QV00000099");
    EXPECT_EQ(data->firmwareVersion, "259");
    EXPECT_EQ(data->helloReason, 7);
    drive({"wait-text", "5000",
           "USB serial number is changed: old sn: QV00000042 ; new sn: QV00000099"});
}

TEST_F(HelloCycle, WithoutADongleNothingIsSentAndTheHelloIsRetried) {
    startAgentWith(config());
    // A fresh record plans the first hello for its creation time; a failed
    // dongle read moves it the error interval (1.5 s) ahead.
    const auto first = waitForStored([](const RunTimeData& d) {
        return msOf(d.nextHelloTime) > wallClockMs();
    });
    ASSERT_TRUE(first) << "no retry planned after the failed dongle read";
    EXPECT_TRUE(dueIn(first->nextHelloTime, -200, 1600));
    const int64_t firstPlan = msOf(first->nextHelloTime);
    const auto second = waitForStored(
        [&](const RunTimeData& d) { return msOf(d.nextHelloTime) != firstPlan; });
    ASSERT_TRUE(second) << "the retry was not retried";
    EXPECT_GE(msOf(second->nextHelloTime) - firstPlan, 1400);
    EXPECT_LE(msOf(second->nextHelloTime) - firstPlan, 4000);
    EXPECT_TRUE(portal().requests().empty());
    EXPECT_EQ(second->serialNumber, "");

    plugDongle();
    ASSERT_TRUE(waitForHellos(1, milliseconds(10000)));
    EXPECT_EQ(helloBodies().front(), hello(7));
    EXPECT_TRUE(waitForStored(minuteAhead));
}

TEST_F(HelloCycle, APortalThatRefusesIsRetriedUntilItAnswers) {
    plugDongle();
    const uint16_t port = PortalSimulator::refusedPort();
    Config settings = config();
    settings["PORTAL_SERVER_PORT"] = std::to_string(port);
    startAgentWith(settings);
    // The dongle was read and stored before the refused exchange.
    const auto failed = waitForStored([](const RunTimeData& d) {
        return d.serialNumber == kSerial && msOf(d.nextHelloTime) > wallClockMs();
    });
    ASSERT_TRUE(failed) << "no retry planned after the refused exchange";
    EXPECT_TRUE(dueIn(failed->nextHelloTime, -200, 1600));
    // Every hello starts with a device-information request.
    const auto infoRequests = [&] {
        int count = 0;
        for (const auto& report : dongle().values("reports dongle")) {
            count += report.rfind("010300ff", 0) == 0 ? 1 : 0;
        }
        return count;
    };
    ASSERT_TRUE(waitUntil([&] { return infoRequests() >= 2; }, milliseconds(10000)))
        << "the refused hello was not retried";

    PortalSimulator back(port);
    ASSERT_TRUE(back.waitForRequests(1, milliseconds(10000)));
    EXPECT_EQ(back.requests().front().body, hello(7));
    EXPECT_TRUE(waitForStored(minuteAhead)) << "the answer's interval did not take over";
}

TEST_F(TransmitCycle, DutyCycleAtTheMaximumSendsAndOneAboveDropsTheFrames) {
    plugDongle();
    ASSERT_EQ(dongle().command("duty dongle 50"), "ok");
    portal().addReplies({answer({S1, "I60000"}), answer({S2, "I60000"}), answer({"I60000"})});
    startAgentWith(config());  // MAX_DUTYCYCLE_UTILISATION=50
    ASSERT_TRUE(waitForBroadcast(2));
    ASSERT_TRUE(waitForStored(
        [](const RunTimeData& d) { return d.frames.empty() && d.transmitCounter == 1; }));
    EXPECT_EQ(broadcast(), (Strings{onAir(S1, 1), onAir(S1, 1)}));

    ASSERT_EQ(dongle().command("duty dongle 51"), "ok");
    openPortal();
    // The refused attempt replaces the answer's minute with 3 s.
    const auto dropped = waitForStored([](const RunTimeData& d) {
        return d.transmitCounter == 2 && msOf(d.nextHelloTime) - wallClockMs() < 30000;
    });
    ASSERT_TRUE(dropped) << "no hello planned after the duty cycle was exceeded";
    EXPECT_EQ(dropped->frames, "");
    EXPECT_TRUE(dueIn(dropped->nextHelloTime, 1000, 3100));
    ASSERT_TRUE(waitForHellos(3));
    const auto requests = portal().requests();
    EXPECT_EQ(requests[2].body, hello(7));
    EXPECT_GE(requests[2].connectedAt - requests[1].answeredAt, milliseconds(2500));
    EXPECT_EQ(broadcast().size(), 2u) << "frames went on air over the duty-cycle limit";
}

TEST_F(TransmitCycle, FramesOutlastADongleLostBeforeTheTransmission) {
    plugDongle();
    ASSERT_EQ(dongle().command("unplug-after dongle duty"), "ok");
    portal().addReply(answer({S1, S2, "I60000"}));
    startAgentWith(config());  // CYCLIC_USB_INTERVAL_ON_ERROR=2500
    const auto kept = waitForStored([](const RunTimeData& d) {
        return d.transmitCounter == 1 && msOf(d.nextTransmitTime) > wallClockMs();
    });
    ASSERT_TRUE(kept) << "no retry planned after the dongle was lost";
    EXPECT_EQ(kept->frames, S1 + "," + S2 + ",");
    EXPECT_TRUE(dueIn(kept->nextTransmitTime, -200, 2600));
    EXPECT_TRUE(broadcast().empty());

    // The simulated dongle sends no arrival notice, so only the interval can
    // end the wait.
    ASSERT_EQ(dongle().command("plug dongle"), "ok");
    ASSERT_TRUE(waitForBroadcast(4));
    EXPECT_GE(wallClockMs(), msOf(kept->nextTransmitTime) - 100) << "retried before its time";
    ASSERT_TRUE(waitForStored(
        [](const RunTimeData& d) { return d.frames.empty() && d.transmitCounter == 2; }));
    EXPECT_EQ(broadcast(), (Strings{onAir(S1, 2), onAir(S2, 2), onAir(S1, 2), onAir(S2, 2)}));
}

TEST_F(TransmitCycle, FramesLeftByAnEarlierRunAreSentAtStart) {
    plugDongle();
    RunTimeData earlier = earlierRun();  // next hello an hour ahead
    earlier.nextTransmitTime = timeStampAt(wallClockMs() - 60000);
    earlier.frames = S1 + "," + S2 + "," + S3 + ",";
    earlier.transmitCounter = 4;
    store(earlier);
    startAgentWith(config());
    ASSERT_TRUE(waitForBroadcast(6));
    const auto done = waitForStored(
        [](const RunTimeData& d) { return d.frames.empty() && d.transmitCounter == 5; });
    ASSERT_TRUE(done);
    EXPECT_EQ(broadcast(), (Strings{onAir(S1, 5), onAir(S2, 5), onAir(S3, 5), onAir(S1, 5),
                                    onAir(S2, 5), onAir(S3, 5)}));
    EXPECT_EQ(msOf(done->nextHelloTime), msOf(earlier.nextHelloTime));
    EXPECT_TRUE(portal().requests().empty());
}

// Wine's shell opens web addresses with the first program named in this
// registry value; a script there records what the agent asked for.
class RecordingBrowser {
  public:
    RecordingBrowser(const Harness& harness, const fs::path& folder)
        : harness_(harness), opened_(folder / "opened.txt") {
        fs::create_directories(folder);
        fs::remove(opened_);
        const fs::path script = folder / "browser.sh";
        std::ofstream(script) << "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" << opened_.string()
                              << "'\n";
        fs::permissions(script, fs::perms::owner_all);
        reg({"add", key, "/v", "Browsers", "/d", script.string(), "/f"});
    }
    ~RecordingBrowser() { reg({"delete", key, "/v", "Browsers", "/f"}); }
    std::string opened() const { return readFile(opened_); }

  private:
    static constexpr char key[] = "HKCU\\Software\\Wine\\WineBrowser";
    void reg(const Strings& args) const {
        Strings argv{harness_.setup().wine.string(), "reg"};
        argv.insert(argv.end(), args.begin(), args.end());
        const CommandResult r = runCaptured(argv, harness_.setup().environment(), kExitTimeout);
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    }
    const Harness& harness_;
    fs::path opened_;
};

TEST_F(UserCommands, APortalPageOpensTheBrowserAndLaterHellosCarryReasonZero) {
    RecordingBrowser browser(harness(), harness().setup().runsDir / "UserCommands.browser");
    plugDongle();
    // A host that is no host is refused; quotes, spaces and tabs in the
    // path reach the browser encoded, as one argument; one page per answer.
    portal().addReplies({Reply::text("Bportal example,8080,/other\r\n"
                                     "B127.0.0.1,8080,/portal/st art\"<x> \t--new-window\r\n"
                                     "B127.0.0.1,8080,/second\r\nI1000"),
                         Reply::text("I4000"), Reply::text("I60000")});
    const std::string opened =
        "http://127.0.0.1:8080/portal/st%20art%22%3Cx%3E%20%09--new-window\n";
    const fs::path folder = agentFolder(config());
    WineProcess& first = startAgentIn(folder);
    ASSERT_TRUE(waitForHellos(2));
    EXPECT_TRUE(waitUntil([&] { return browser.opened() == opened; }, milliseconds(10000)))
        << browser.opened();
    ASSERT_TRUE(waitForStored([](const RunTimeData& d) {
        return d.helloReason == 0 && msOf(d.nextHelloTime) - wallClockMs() > 1000;
    })) << "the stored reason did not become 0";

    // The plan of the second answer survives a restart, and so does reason 0.
    drive({"send", std::to_string(ID_EXIT), "0"});
    ASSERT_TRUE(first.waitForExit(kExitTimeout));
    ASSERT_EQ(portal().requests().size(), 2u);
    startAgentIn(folder);
    ASSERT_TRUE(waitForHellos(3));
    EXPECT_EQ(helloBodies(), (Strings{hello(7), hello(0), hello(0)}));
    EXPECT_EQ(browser.opened(), opened);
}

TEST_F(UserCommands, OpenPortalSaysHelloAtOnceWithReasonTwoAndKeepsTheStoredReason) {
    plugDongle();
    portal().addReplies({Reply::text("I60000"), Reply::text("I1000"), Reply::text("I60000")});
    const fs::path folder = agentFolder(config());
    startAgentIn(folder);
    ASSERT_TRUE(waitForHellos(1));
    ASSERT_TRUE(waitForStored(minuteAhead));

    openPortal();
    ASSERT_TRUE(waitForHellos(2, milliseconds(5000))) << "Open Portal did not say hello at once";
    // Its answer plans a regular hello a second later.
    ASSERT_TRUE(waitForHellos(3));

    WineProcess& second = launch(folder);
    const auto code = second.waitForExit(kExitTimeout);
    ASSERT_TRUE(code) << "the second copy keeps running";
    EXPECT_EQ(*code, 0);
    ASSERT_TRUE(waitForHellos(4, milliseconds(5000))) << "a second start did not say hello";
    EXPECT_EQ(helloBodies(), (Strings{hello(7), hello(2), hello(7), hello(2)}));
    // The running copy is still there, alone.
    const auto windows = harness().loggerWindows();
    ASSERT_TRUE(windows);
    EXPECT_EQ(windows->size(), 1u);
    const auto data = waitForStored(minuteAhead);
    ASSERT_TRUE(data);
    EXPECT_EQ(data->helloReason, 7);
}

TEST_F(UserCommands, OpenPortalDuringASlowHelloFollowsItOnce) {
    plugDongle();
    portal().holdAnswers();
    const fs::path folder = agentFolder(config());
    startAgentIn(folder);
    ASSERT_TRUE(waitForHellos(1));

    drive({"post", std::to_string(ID_OPEN_PORTAL), "0"});  // as the tray's double-click does
    WineProcess& second = launch(folder);
    // The second copy waits for the running one to take its command, which
    // the hello in progress must not let happen.
    EXPECT_FALSE(waitUntil([&] { return !second.running(); }, milliseconds(2500)))
        << "the second copy ended while the running copy was inside its hello";
    EXPECT_EQ(portal().requests().size(), 1u) << "a hello began inside the hello";
    portal().releaseAnswers();

    const auto code = second.waitForExit(kExitTimeout);
    ASSERT_TRUE(code) << "the second copy keeps running after the hello";
    EXPECT_EQ(*code, 0);
    ASSERT_TRUE(waitForHellos(2));
    ASSERT_TRUE(waitUntil(
        [&] {
            return portal().requests().at(1).answeredAt !=
                   std::chrono::steady_clock::time_point{};
        },
        milliseconds(10000)));
    EXPECT_FALSE(waitForHellos(3, milliseconds(2000))) << "one Open Portal hello expected";
    const auto requests = portal().requests();
    EXPECT_EQ(helloBodies(), (Strings{hello(7), hello(2)}));
    EXPECT_GE(requests[1].connectedAt, requests[0].answeredAt) << "the hellos overlapped";
    const auto data = stored();
    ASSERT_TRUE(data);
    EXPECT_EQ(data->helloReason, 7);
}

TEST_F(UserCommands, OpenPortalDuringStartUpLeadsToOneHelloAfterIt) {
    plugDongle();
    store(earlierRun());  // only Open Portal can bring a hello within the hour
    const fs::path folder = agentFolder(config());
    auto early = std::async(std::launch::async, [&] {
        return harness().driver({"wait-send", "20000", std::to_string(ID_OPEN_PORTAL), "0"}, milliseconds(30000));
    });
    launch(folder);
    const CommandResult sent = early.get();
    ASSERT_EQ(sent.exitCode, 0) << sent.out << sent.err;
    ASSERT_EQ(parseKeyValues(sent.out)["text_before"].find("reading init data: ok"),
              std::string::npos)
        << "the command came too late to meet start-up: " << sent.out;

    ASSERT_TRUE(waitForHellos(1)) << "the early Open Portal was lost";
    EXPECT_FALSE(waitForHellos(2, milliseconds(2000)));
    EXPECT_EQ(helloBodies(), Strings{hello(2)});
    const auto text = harness().logText();
    ASSERT_TRUE(text);
    const auto ready = text->find("reading init data: ok");
    const auto sending = text->find("message to portal");
    ASSERT_NE(ready, std::string::npos) << *text;
    EXPECT_LT(ready, sending) << *text;
    const auto data = waitForStored(minuteAhead);
    ASSERT_TRUE(data);
    EXPECT_EQ(data->helloReason, 7);
}

// ---- two sessions --------------------------------------------------------------

// A second Wine prefix that is another user's session on the same machine:
// its own wineserver (so the single-instance mutex does not stop a second
// agent), the first prefix's registry, and drive C: the first prefix's, so
// C:\ProgramData\quorvel is the same folder without a link in its path.
// The dongle reaches it through donglerelay.exe; ended with its server.
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

// Two users' agents, one dongle that answers slowly, one quorvel.dat: every
// hello brings two frames and the next hello half a second later. Each
// transmission is the dongle's duty-cycle query and then its frames in
// order, twice, under one counter value, never mixed with the other agent's
// reports; the counter values follow each other, and the frames are
// cleared once sent.
TEST_F(TwoSessions, AgentsOfTwoSessionsTakeTurnsAtTheDongleAndNeverRepeatTheCounter) {
    plugDongle();
    ASSERT_EQ(dongle().command("delay dongle 100"), "ok");
    constexpr int transmissions = 6;
    std::vector<Reply> replies(transmissions, answer({S1, S2, "I500"}));
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

    ASSERT_TRUE(waitForBroadcast(4 * transmissions, milliseconds(40000)))
        << broadcast().size() << " frames on air";
    EXPECT_TRUE(waitForStored([](const RunTimeData& d) {
        return d.transmitCounter == transmissions && d.frames.empty();
    })) << "the counter is not at one per transmission, or frames are left";
    Strings expected;
    for (int counter = 1; counter <= transmissions; ++counter) {
        for (const std::string& frame : {S1, S2, S1, S2}) {
            expected.push_back(onAir(frame, counter));
        }
    }
    EXPECT_EQ(broadcast(), expected);

    // The reports as the dongle received them, a letter each: after each
    // duty-cycle query (D) the four frames (F) of that transmission, and
    // nothing of the other agent's between them.
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
    for (auto at = others.find("DFFFF"); at != std::string::npos; at = others.find("DFFFF")) {
        others.erase(at, 5);
    }
    EXPECT_EQ(kinds.size() - others.size(), 5u * transmissions) << kinds;
    EXPECT_EQ(others.find_first_not_of('I'), std::string::npos) << kinds;
    // Both agents worked.
    const Strings bodies = helloBodies();
    for (const std::string partner : {",acme-home", ",acme-two"}) {
        EXPECT_GE(std::count_if(bodies.begin(), bodies.end(),
                                [&](const std::string& body) {
                                    return body.size() > partner.size() &&
                                           body.rfind(partner) == body.size() - partner.size();
                                }),
                  2)
            << partner;
    }
}

}  // namespace
}  // namespace quorvel::e2e
