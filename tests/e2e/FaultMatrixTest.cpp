// The fault matrix of docs/reliability.md: the real agent's times under
// faults of the portal, the dongle and its run-time file. Each case puts the
// fault in place, takes it away and then demands a hello at the portal, the
// frames on air and quorvel.dat with the frames and counter it should hold.
// The unit tests prove the handling; this measures, outside the test command.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "tests/e2e/AgentWithSimulators.h"
#include "tests/e2e/BenchFigures.h"

namespace quorvel::e2e {
namespace {

namespace fs = std::filesystem;
using portalsim::PortalSimulator;
using portalsim::Reply;

class FaultFixture : public AgentWithSimulators {
  protected:
    // While `fault` lasts (a dongle command, or a proxy that refuses) the
    // hello is tried again and again but never reaches the portal; once
    // `clear` has taken it away, the hello goes out and its frame on air.
    void holdsTheHelloUntilCleared(const std::function<void()>& clear) {
        // The dongle asked for its identity (report 01 03 00 ff) three times.
        const auto attempts = [&] {
            const Strings reports = dongle().values("reports dongle");
            return std::count_if(reports.begin(), reports.end(),
                                 [](const std::string& r) { return r.rfind("010300ff", 0) == 0; });
        };
        ASSERT_TRUE(waitUntil([&] { return attempts() >= 3; }, milliseconds(20000)))
            << "the hello was not retried";
        EXPECT_TRUE(portal().requests().empty()) << "a hello got through the fault";
        const auto waiting = stored();
        ASSERT_TRUE(waiting);
        EXPECT_EQ(waiting->transmitCounter, 0);
        clear();
        ASSERT_TRUE(waitForHellos(1, milliseconds(10000)));
        EXPECT_EQ(helloBodies(), Strings{hello(7)});
        ASSERT_TRUE(waitForBroadcast(2));
        EXPECT_EQ(broadcast(), twice(S1, 1));
        EXPECT_TRUE(
            waitForStored([](const RunTimeData& d) { return sent(1)(d) && minuteAhead(d); }));
    }

    // A portal fault answers the first hello; the second gets one frame.
    // The retry must come after the error interval (1.5 s) and within
    // `bound` of the first hello's start, and the frame must go on air with
    // counter 1 and leave quorvel.dat with nothing pending.
    void recoversAfterPortalFault(const Reply& fault, milliseconds low, milliseconds bound) {
        plugDongle();
        portal().addReplies({fault, answer({S1, "I60000"})});
        startAgentWith(config());
        ASSERT_TRUE(waitForHellos(2, bound + milliseconds(15000)))
            << "no hello after the faulty answer";
        const auto requests = portal().requests();
        EXPECT_EQ(requests[0].body, hello(7));
        EXPECT_EQ(requests[1].body, hello(7));
        const double gap = msBetween(requests[0].connectedAt, requests[1].connectedAt);
        EXPECT_GE(gap, low.count()) << "the retry came too soon";
        EXPECT_LE(gap, bound.count()) << "the retry was not bounded";
        std::cerr << "note: the retry came " << gap << " ms after the faulty hello\n";
        ASSERT_TRUE(waitForBroadcast(2));
        const auto data =
            waitForStored([](const RunTimeData& d) { return sent(1)(d) && minuteAhead(d); });
        ASSERT_TRUE(data) << "frames or counter wrong after the recovery";
        EXPECT_EQ(broadcast(), twice(S1, 1));
        EXPECT_FALSE(waitForHellos(3, milliseconds(1000))) << "the answer's minute was ignored";
    }
};

// ---------------------------------------------------------------- portal

class PortalFault : public FaultFixture {};

// The agent's receive time-out is 30 s: the hello that met silence ends
// within it, and the next is planned the error interval later.
TEST_F(PortalFault, SilentPortalIsBoundedByTheReceiveTimeout) {
    recoversAfterPortalFault(Reply::silence(), milliseconds(29000), milliseconds(36000));
}

TEST_F(PortalFault, ErrorStatusWithAPageIsRetriedAfterTheErrorInterval) {
    recoversAfterPortalFault(
        Reply::text("<html><body><h1>500 Internal Server Error</h1>\n<p>database down</p>"
                    "</body></html>\n",
                    500),
        milliseconds(1400), milliseconds(5000));
}

TEST_F(PortalFault, EmptyBodyIsRetriedAfterTheErrorInterval) {
    recoversAfterPortalFault(Reply::text(""), milliseconds(1400), milliseconds(5000));
}

TEST_F(PortalFault, RandomBytesAreRetriedAfterTheErrorInterval) {
    std::mt19937 random(20240611);
    std::string noise(4096, '\0');
    for (char& c : noise) {
        c = static_cast<char>(random() & 0xFF);
    }
    // A line that starts with a command letter would be carried out as a
    // command, rightly; the fault under test is noise, not a valid command.
    for (std::size_t i = 0; i < noise.size(); ++i) {
        if ((i == 0 || noise[i - 1] == '\r' || noise[i - 1] == '\n') &&
            std::string("BISbis").find(noise[i]) != std::string::npos) {
            noise[i] = 'x';
        }
    }
    noise[0] = 'x';  // an empty first read would look like an empty body
    recoversAfterPortalFault(Reply::text(noise), milliseconds(1400), milliseconds(5000));
}

TEST_F(PortalFault, RefusingProxyIsRetriedUntilItCarriesTheHello) {
    plugDongle();
    portal().addReply(answer({S1, "I60000"}));
    const uint16_t proxyPort = PortalSimulator::refusedPort();
    Config settings = config();
    settings["PROXY_SERVER_HOST"] = "127.0.0.1";
    settings["PROXY_SERVER_PORT"] = std::to_string(proxyPort);
    startAgentWith(settings);
    std::unique_ptr<PortalSimulator> proxy;
    holdsTheHelloUntilCleared([&] {
        proxy = std::make_unique<PortalSimulator>(proxyPort);  // forwards absolute requests
    });
    ASSERT_TRUE(proxy && proxy->waitForRequests(1, milliseconds(1000)));
    EXPECT_TRUE(proxy->requests().front().proxied);
}

// ---------------------------------------------------------------- dongle

class DongleFault : public FaultFixture {};

// The dongle disappears as it takes the first frame report. The attempt
// counts as made (a report that fails ends the pass, the outcome stays 0),
// so the list is cleared with the frames after the first never on air; the
// agent goes on with the dongle once it is back.
TEST_F(DongleFault, UnpluggedInTheMiddleOfATransmission) {
    plugDongle();
    ASSERT_EQ(dongle().command("unplug-after dongle frame"), "ok");
    portal().addReplies({answer({S1, S2, S3, "I60000"}), answer({S4, "I60000"})});
    startAgentWith(config());
    ASSERT_TRUE(waitForHellos(1));
    const auto after = waitForStored(
        [](const RunTimeData& d) { return d.transmitCounter >= 1 && d.frames.empty(); });
    ASSERT_TRUE(after) << "the attempt never ended";
    EXPECT_EQ(after->transmitCounter, 1);
    EXPECT_EQ(broadcast(), Strings{onAir(S1, 1)});

    ASSERT_EQ(dongle().command("plug dongle"), "ok");
    openPortal();
    ASSERT_TRUE(waitForHellos(2));
    ASSERT_TRUE(waitForBroadcast(3));
    EXPECT_EQ(broadcast(), (Strings{onAir(S1, 1), onAir(S4, 2), onAir(S4, 2)}));
    EXPECT_TRUE(waitForStored(sent(2)));
}

// Frames go on air but no acknowledgement comes back: each frame costs
// MAX_USB_WRITE_BUFFER_RETRY waits, then the attempt ends as made.
TEST_F(DongleFault, NeverAcknowledgingDongleStillGetsTheFramesOnceEach) {
    plugDongle();
    ASSERT_EQ(dongle().command("mute dongle 1"), "ok");
    portal().addReplies({answer({S1, "I60000"}), answer({S2, "I60000"})});
    startAgentWith(config());
    ASSERT_TRUE(waitForHellos(1));
    // 2 passes x 3 reads x USB_WAIT_TIMEOUT (1 s), with room for Wine.
    const auto done = waitForStored(sent(1), milliseconds(20000));
    ASSERT_TRUE(done) << "the unacknowledged attempt did not end";
    EXPECT_EQ(broadcast(), twice(S1, 1));
    drive({"wait-text", "5000", "sending frame to usb: " + S1});

    ASSERT_EQ(dongle().command("mute dongle 0"), "ok");
    openPortal();
    ASSERT_TRUE(waitForBroadcast(4));
    const Strings all = broadcast();
    EXPECT_EQ(Strings(all.begin() + 2, all.end()), twice(S2, 2));
    EXPECT_TRUE(waitForStored(sent(2)));
}

// The agent reads a query's answer up to ten times USB_WAIT_TIMEOUT, so a
// dongle must be slower than that to be unusable: 2.5 s against 10 x 200 ms.
// No hello leaves without the dongle's identity; it is retried meanwhile.
TEST_F(DongleFault, TooSlowDongleHoldsTheHelloUntilItAnswersInTime) {
    plugDongle();
    ASSERT_EQ(dongle().command("delay dongle 2500"), "ok");
    portal().addReply(answer({S1, "I60000"}));
    Config settings = config();
    settings["USB_WAIT_TIMEOUT"] = "200";
    startAgentWith(settings);
    holdsTheHelloUntilCleared([&] {
        EXPECT_EQ(stored().value_or(RunTimeData{}).serialNumber, "");
        ASSERT_EQ(dongle().command("delay dongle 0"), "ok");
    });
}

// Noise reports before every real answer. More noise than the agent reads
// for a query (ten reports) holds the hello back; less is skipped, and
// nothing of it is taken for the dongle's identity or an acknowledgement.
TEST_F(DongleFault, GarbageAnswersAreNeverTakenForTheDongle) {
    plugDongle();
    ASSERT_EQ(dongle().command("wrong dongle 12"), "ok");
    portal().addReplies({answer({S1, "I60000"}), answer({S2, "I60000"})});
    startAgentWith(config());
    holdsTheHelloUntilCleared([&] { ASSERT_EQ(dongle().command("wrong dongle 5"), "ok"); });
    ASSERT_EQ(dongle().command("wrong dongle 0"), "ok");
    openPortal();
    ASSERT_TRUE(waitForBroadcast(4));
    const Strings all = broadcast();
    EXPECT_EQ(Strings(all.begin() + 2, all.end()), twice(S2, 2));
    EXPECT_TRUE(waitForStored(sent(2)));
}

// ---------------------------------------------------------------- run-time file

class RunTimeFileFault : public FaultFixture {
  protected:
    fs::path file() { return harness().runTimeFile(); }

    RunTimeData pendingFrames() {
        RunTimeData data = earlierRun();  // hello an hour ahead
        data.nextTransmitTime = timeStampAt(wallClockMs() - 60000);
        data.frames = S1 + "," + S2 + ",";
        data.transmitCounter = 4;
        return data;
    }
};

TEST_F(RunTimeFileFault, TruncatedFileKeepsWhatItStillHolds) {
    plugDongle();
    portal().addReply(answer({S3, "I60000"}));
    store(pendingFrames());
    fs::resize_file(file(), 5000);  // the frames lie well inside
    const fs::path folder = agentFolder(config());
    WineProcess& first = startAgentIn(folder);
    ASSERT_TRUE(waitForBroadcast(4));
    EXPECT_EQ(broadcast(), (Strings{onAir(S1, 5), onAir(S2, 5), onAir(S1, 5), onAir(S2, 5)}));
    ASSERT_TRUE(waitForStored(sent(5))) << "the record was not written back whole";
    EXPECT_EQ(fs::file_size(file()), RunTimeData::fileSize);
    endWith(first, ID_EXIT);

    // Nothing left at all: the agent starts as on a fresh record and works.
    fs::resize_file(file(), 0);
    startAgentIn(folder);
    ASSERT_TRUE(waitForHellos(1));
    ASSERT_TRUE(waitForBroadcast(6));
    const auto data = waitForStored([](const RunTimeData& d) { return d.frames.empty(); });
    ASSERT_TRUE(data);
    EXPECT_EQ(broadcast().back(), onAir(S3, data->transmitCounter));
    std::cerr << "note: after an emptied file the counter restarted at " << data->transmitCounter
              << "\n";
}

TEST_F(RunTimeFileFault, RandomBytesDoNotStopTheAgent) {
    plugDongle();
    portal().addReply(answer({S3, "I60000"}));
    std::mt19937 random(77);
    std::vector<uint8_t> noise(RunTimeData::fileSize);
    for (uint8_t& b : noise) {
        b = static_cast<uint8_t>(random() & 0xFF);
    }
    const RunTimeData seen = decodeRunTimeData(noise);
    fs::create_directories(file().parent_path());
    std::ofstream(file(), std::ios::binary)
        .write(reinterpret_cast<const char*>(noise.data()),
               static_cast<std::streamsize>(noise.size()));
    startAgentWith(config());
    // Whatever the noise planned, Open Portal says hello now.
    ASSERT_TRUE(waitForStored([](const RunTimeData&) { return true; }, milliseconds(5000)));
    openPortal();
    ASSERT_TRUE(waitForHellos(1, milliseconds(10000))) << "no hello after random bytes";
    // The noise's serial number is not the dongle's: announced as changed.
    EXPECT_EQ(helloBodies().front(), hello(1));
    // Frames the noise happened to hold may go on air first; the answer's
    // frame must follow with the counter then stored.
    std::optional<RunTimeData> data;
    ASSERT_TRUE(waitUntil(
        [&] {
            data = stored();
            const Strings all = broadcast();
            return data && data->frames.empty() && all.size() >= 2 &&
                   Strings(all.end() - 2, all.end()) == twice(S3, data->transmitCounter);
        },
        milliseconds(15000)))
        << "the answer's frame did not go on air";
    EXPECT_GT(data->transmitCounter, seen.transmitCounter) << "the counter went back";
    std::cerr << "note: the noise held counter " << seen.transmitCounter << ", "
              << broadcast().size() - 2 << " frame(s) of noise went on air\n";
    EXPECT_EQ(fs::file_size(file()), RunTimeData::fileSize);
}

TEST_F(RunTimeFileFault, FolderDeletedWhileRunningIsMadeAgain) {
    plugDongle();
    portal().addReplies({answer({S1, "I60000"}), answer({S2, "I60000"})});
    startAgentWith(config());
    ASSERT_TRUE(waitForBroadcast(2));
    ASSERT_TRUE(waitForStored(sent(1)));

    fs::remove_all(file().parent_path());
    openPortalAndSend(S2, 2);
    const auto data =
        waitForStored([](const RunTimeData& d) { return sent(2)(d) && minuteAhead(d); });
    EXPECT_TRUE(data) << "the record was not written again";
}

}  // namespace
}  // namespace quorvel::e2e
