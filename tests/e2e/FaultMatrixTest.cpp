// The fault matrix of docs/reliability.md: the real agent's times under
// faults of the portal, the dongle and its run-time file, each followed by
// the recovery the matrix reports.

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
#include "tests/e2e/BenchFigures.h"

namespace quorvel::e2e {
namespace {

namespace fs = std::filesystem;
using portalsim::PortalSimulator;
using portalsim::Reply;

class FaultFixture : public Measurement {
  protected:
    // The hello is tried again and again (the dongle asked for its identity,
    // report 01 03 00 ff) but never reaches the portal until `clear`.
    void holdsTheHelloUntilCleared(const std::function<void()>& clear) {
        const auto attempts = [&] {
            const Strings reports = dongle().values("reports dongle");
            return std::count_if(reports.begin(), reports.end(),
                                 [](const std::string& r) { return r.rfind("010300ff", 0) == 0; });
        };
        ASSERT_TRUE(waitUntil([&] { return attempts() >= 3; }, milliseconds(20000)))
            << "the hello was not retried";
        EXPECT_TRUE(portal().requests().empty()) << "a hello got through the fault";
        clear();
        ASSERT_TRUE(waitForHellos(1, milliseconds(10000)));
        answerGoesOut(S1, 1);
    }

    // The answer's `frame` on air with `counter` after the `before` frames,
    // nothing left pending and the answer's minute planned.
    void answerGoesOut(const std::string& frame, int counter, std::size_t before = 0) {
        ASSERT_TRUE(waitForBroadcast(before + 2));
        const Strings all = broadcast();
        EXPECT_EQ(Strings(all.begin() + static_cast<long>(before), all.end()),
                  twice(frame, counter));
        EXPECT_TRUE(waitForStored(
            [counter](const RunTimeData& d) { return sent(counter)(d) && minuteAhead(d); }));
    }
};

class PortalFault : public FaultFixture {
  protected:
    // `fault` answers the first hello; the retry, between `low` and `bound`
    // after it, gets one frame.
    void recoversAfter(const Reply& fault, milliseconds low, milliseconds bound) {
        plugDongle();
        portal().addReplies({fault, answer({S1, "I60000"})});
        startAgentWith(config());
        ASSERT_TRUE(waitForHellos(2, bound + milliseconds(15000)))
            << "no hello after the faulty answer";
        const auto requests = portal().requests();
        const double gap = msBetween(requests[0].connectedAt, requests[1].connectedAt);
        EXPECT_GE(gap, low.count()) << "the retry came too soon";
        EXPECT_LE(gap, bound.count()) << "the retry was not bounded";
        std::cerr << "note: the retry came " << gap << " ms after the faulty hello\n";
        answerGoesOut(S1, 1);
        EXPECT_FALSE(waitForHellos(3, milliseconds(1000))) << "the answer's minute was ignored";
    }
};

// The receive time-out (30 s) ends the hello, then the error interval.
TEST_F(PortalFault, SilentPortalIsBoundedByTheReceiveTimeout) {
    recoversAfter(Reply::silence(), milliseconds(29000), milliseconds(36000));
}

TEST_F(PortalFault, ErrorStatusWithAPageIsRetriedAfterTheErrorInterval) {
    recoversAfter(Reply::text("<html><body><h1>500 Internal Server Error</h1>\n<p>database "
                              "down</p></body></html>\n",
                              500),
                  milliseconds(1400), milliseconds(5000));
}

TEST_F(PortalFault, EmptyBodyIsRetriedAfterTheErrorInterval) {
    recoversAfter(Reply::text(""), milliseconds(1400), milliseconds(5000));
}

TEST_F(PortalFault, RandomBytesAreRetriedAfterTheErrorInterval) {
    // Noise, not commands: no command letter at all, and an 'x' first (an
    // empty first read would look like an empty body).
    std::mt19937 random(20240611);
    std::string noise(4096, 'x');
    for (std::size_t i = 1; i < noise.size(); ++i) {
        const char c = static_cast<char>(random() & 0xFF);
        noise[i] = std::string("BISbis").find(c) == std::string::npos ? c : 'x';
    }
    recoversAfter(Reply::text(noise), milliseconds(1400), milliseconds(5000));
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

class DongleFault : public FaultFixture {};

// The dongle goes as it takes the first frame report: a failed report ends
// the pass, the attempt counts as made and the rest of the list is dropped.
TEST_F(DongleFault, UnpluggedInTheMiddleOfATransmission) {
    plugDongle();
    ASSERT_EQ(dongle().command("unplug-after dongle frame"), "ok");
    portal().addReplies({answer({S1, S2, S3, "I60000"}), answer({S2, "I60000"})});
    startAgentWith(config());
    ASSERT_TRUE(waitForHellos(1));
    const auto after = waitForStored(
        [](const RunTimeData& d) { return d.transmitCounter >= 1 && d.frames.empty(); });
    ASSERT_TRUE(after) << "the attempt never ended";
    EXPECT_EQ(after->transmitCounter, 1);
    EXPECT_EQ(broadcast(), Strings{onAir(S1, 1)});

    ASSERT_EQ(dongle().command("plug dongle"), "ok");
    openPortal();
    answerGoesOut(S2, 2, 1);
}

// Each frame costs MAX_USB_WRITE_BUFFER_RETRY waits, then the attempt ends as made.
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
    ASSERT_EQ(dongle().command("mute dongle 0"), "ok");
    openPortal();
    answerGoesOut(S2, 2, 2);
}

// Slower than the ten reads of USB_WAIT_TIMEOUT a query's answer gets:
// 2.5 s against 10 x 200 ms.
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

// Noise reports before every answer: more than the ten reads of a query
// hold the hello back, fewer are skipped.
TEST_F(DongleFault, GarbageAnswersAreNeverTakenForTheDongle) {
    plugDongle();
    ASSERT_EQ(dongle().command("wrong dongle 12"), "ok");
    portal().addReplies({answer({S1, "I60000"}), answer({S2, "I60000"})});
    startAgentWith(config());
    holdsTheHelloUntilCleared([&] { ASSERT_EQ(dongle().command("wrong dongle 5"), "ok"); });
    ASSERT_EQ(dongle().command("wrong dongle 0"), "ok");
    openPortal();
    answerGoesOut(S2, 2, 2);
}

class RunTimeFileFault : public FaultFixture {
  protected:
    fs::path file() { return harness().runTimeFile(); }
};

TEST_F(RunTimeFileFault, TruncatedFileKeepsWhatItStillHolds) {
    plugDongle();
    portal().addReply(answer({S3, "I60000"}));
    RunTimeData pending = earlierRun();  // hello an hour ahead
    pending.nextTransmitTime = timeStampAt(wallClockMs() - 60000);
    pending.frames = S1 + "," + S2 + ",";
    pending.transmitCounter = 4;
    store(pending);
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
    answerGoesOut(S1, 1);
    fs::remove_all(file().parent_path());
    openPortal();
    answerGoesOut(S2, 2, 2);
}

}  // namespace
}  // namespace quorvel::e2e
