// The cycles and the user's commands through the agent as start-up wires it (WiredAgent).

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "core/CycleGate.h"
#include "core/Log.h"
#include "core/RetryInterval.h"
#include "dongle/ReportProtocol.h"
#include "portal/HttpTransport.h"
#include "tests/unit/support/WiredAgent.h"
#include "timer/TimerResource.h"
#include "ui/DisplayStatus.h"
#include "ui/UserInterfaceResource.h"

namespace {

using Strings = std::vector<std::string>;
// Frame reports the dongle received: (first telegram byte, counter and flag bits).
using Reports = std::vector<std::pair<int, int>>;

constexpr unsigned hello = TimerResource::helloTimerId;
constexpr unsigned transmit = TimerResource::transmitTimerId;

// The simulated dongle as the hello carries it: serial, radio, version, firmware, partner.
const std::string dongleFields = "QV12345678,0aff,2.1.0,258,acme";

const char threeFrames[] = "S1122334455\r\nS2233445566\r\nS3344556677\r\nI60000";

Reports frameReportsOf(const WiredAgent& agent) {
    Reports reports;
    for (const ReportBuffer& report : agent.dongle.received()) {
        if (DongleModel::classify(report) == DongleModel::Request::Frame) {
            reports.emplace_back(report[2], report[6] & 0xF0);
        }
    }
    return reports;
}

class CyclesTest : public ::testing::Test {
  protected:
    WiredAgent agent;
};

// ---- the hello ---------------------------------------------------------------

TEST_F(CyclesTest, TheFirstHelloTellsThePortalWhoCallsWithTheConfiguredReason) {
    agent.start(WiredAgent::configuration() +
                "PORTAL_SERVER_SECURE=true\r\nPROXY_SERVER_HOST=proxy.example\r\n"
                "PROXY_SERVER_PORT=3128\r\n");
    ASSERT_TRUE(agent.expireHello());

    ASSERT_EQ(agent.portal.requests.size(), 1u);
    const HttpRequest& request = agent.portal.requests[0];
    EXPECT_EQ(request.body, "H3," + dongleFields);
    EXPECT_EQ(request.host, "portal.example");
    EXPECT_EQ(request.port, 8080);
    EXPECT_EQ(request.uri, "/agent/hello");
    EXPECT_TRUE(request.secure);
    EXPECT_EQ(request.proxy, "proxy.example:3128");
    // A window timer repeats: its expiry kills it, the answer arms it anew.
    EXPECT_EQ(agent.timers.kills, std::vector<unsigned>{hello});
}

// The fault reaches the display, the tooltip in local time; the dongle's arrival ends the wait.
TEST_F(CyclesTest, WithoutADongleThePortalIsNotCalledAndTheHelloIsRetriedWhenItComes) {
    agent.clock.setUtcOffsetMinutes(60);
    agent.start();
    // Until the first report nothing shows as a fault.
    EXPECT_TRUE(displayStatus().internetState && displayStatus().usbState &&
                displayStatus().dutyState);
    const std::size_t before = agent.window.commandsWithCode(ID_STATUS_CHANGED).size();
    agent.dongle.unplug();
    ASSERT_TRUE(agent.expireHello());

    EXPECT_TRUE(agent.portal.requests.empty());
    EXPECT_EQ(agent.millisecondsUntil(agent.stored().nextHelloTime), 30000);
    EXPECT_EQ(agent.lastDelay(hello), 30000);
    EXPECT_FALSE(displayStatus().usbState);
    EXPECT_TRUE(displayStatus().internetState);
    EXPECT_GT(agent.window.commandsWithCode(ID_STATUS_CHANGED).size(), before);
    // 08:03:09 UTC and the retry's 30 s, an hour east.
    EXPECT_EQ(displayStatus().nextPortalConnectionTime(), "09:03");

    agent.dongle.plug();
    agent.main->userInterfaceResource()->dongleArrived();
    EXPECT_EQ(agent.lastDelay(hello), 0);
    ASSERT_TRUE(agent.expireHello());
    EXPECT_EQ(agent.lastHello(), "H3," + dongleFields);
    EXPECT_TRUE(displayStatus().usbState);

    // A hello planned by the portal does not wait for the dongle.
    const std::size_t armings = agent.timers.armings.size();
    agent.main->userInterfaceResource()->dongleArrived();
    EXPECT_EQ(agent.timers.armings.size(), armings);
}

TEST_F(CyclesTest, AnUnreachablePortalIsShownAndCalledAgainAfterTheErrorInterval) {
    agent.portal.outcome.failedStep = HttpStep::send;
    agent.portal.outcome.systemError = internetCannotConnect;
    agent.start();
    ASSERT_TRUE(agent.expireHello());

    EXPECT_FALSE(displayStatus().internetState);
    EXPECT_EQ(agent.millisecondsUntil(agent.stored().nextHelloTime), 30000);
    // Planned by the failure's own path, not left to the safety net.
    EXPECT_FALSE(agent.window.logged("no next hello planned, retrying after the error interval"));

    agent.portal.outcome = HttpOutcome();
    ASSERT_TRUE(agent.expireHello());
    EXPECT_TRUE(displayStatus().internetState);
    EXPECT_EQ(agent.millisecondsUntil(agent.stored().nextHelloTime), 60000);
}

TEST_F(CyclesTest, AHelloLongerThanItsBufferIsCutAt1023Characters) {
    std::string ini = WiredAgent::configuration();
    ini.replace(ini.find("PARTNER=acme"), 12, "PARTNER=" + std::string(1000, 'p'));
    agent.start(ini);
    ASSERT_TRUE(agent.expireHello());

    const std::string full =
        "H3," + dongleFields.substr(0, dongleFields.size() - 4) + std::string(1000, 'p');
    EXPECT_EQ(agent.lastHello(), full.substr(0, 1023));
}

// A retry interval of zero or less would call the portal in a loop: it becomes a minute.
TEST_F(CyclesTest, IntervalsOfZeroOrLessAreAtOnceFromThePortalAndAMinuteAsARetry) {
    std::string ini = WiredAgent::configuration();
    ini.replace(ini.find("CYCLIC_HELLO_INTERVAL_ON_ERROR=30000"), 36,
                "CYCLIC_HELLO_INTERVAL_ON_ERROR=0");
    agent.start(ini);
    for (const char* answer : {"I0", "I-5000"}) {
        agent.portal.chunks = {answer};
        ASSERT_TRUE(agent.expireHello());
        EXPECT_EQ(agent.lastDelay(hello), 0) << answer;
        EXPECT_LE(agent.millisecondsUntil(agent.stored().nextHelloTime), 0) << answer;
    }

    agent.portal.outcome.failedStep = HttpStep::connect;
    for (int failures = 1; failures <= 2; ++failures) {
        ASSERT_TRUE(agent.expireHello());
        EXPECT_EQ(agent.millisecondsUntil(agent.stored().nextHelloTime), 60000);
    }
    EXPECT_EQ(agent.window.countLogged(
                  "CYCLIC_HELLO_INTERVAL_ON_ERROR is 0, waiting instead [ms]: 60000"),
              1);
}

TEST(RetryIntervals, AreAtLeastASecondAndAMinuteWhenUnset) {
    // 0 and the usual values: the cycles above.
    EXPECT_EQ(usableRetryInterval(-1), 60000);
    EXPECT_EQ(usableRetryInterval(1), 1000);
    EXPECT_EQ(usableRetryInterval(999), 1000);
}

// Announced once even when a hello breaks: not "new dongle" for ever, nor no next hello.
TEST(CyclesNewDongle, IsAnnouncedOnceAndKeptWhenAHelloFails) {
    for (const int failing : {1, 3}) {
        SCOPED_TRACE("hello " + std::to_string(failing) + " fails");
        WiredAgent agent;
        RunTimeData earlier;
        earlier.serialNumber = "OLD0000001";
        earlier.helloReason = 3;
        agent.storeRunTimeData(earlier);
        agent.start();
        for (int cycle = 1; cycle < failing; ++cycle) {
            ASSERT_TRUE(agent.expireHello());
            EXPECT_EQ(agent.lastHello(), (cycle == 1 ? "H1," : "H3,") + dongleFields);
        }
        agent.portal.duringPost = [] { throw std::runtime_error("out of handles"); };
        ASSERT_TRUE(agent.expireHello());
        EXPECT_EQ(agent.stored().serialNumber, "QV12345678");
        EXPECT_EQ(agent.millisecondsUntil(agent.stored().nextHelloTime), 30000);
        agent.portal.duringPost = nullptr;
        ASSERT_TRUE(agent.expireHello());
        EXPECT_EQ(agent.lastHello(), "H3," + dongleFields);
        EXPECT_EQ(agent.stored().helloReason, 3);
    }
}

// ---- the transmission --------------------------------------------------------

TEST_F(CyclesTest, FramesAreBroadcastInOrderRepeatedUnderOneCounterValueThenCleared) {
    agent.portal.chunks = {threeFrames};
    agent.start();
    ASSERT_TRUE(agent.expireHello());

    // Stored first, and due at once.
    EXPECT_EQ(agent.stored().frames, "S1122334455,S2233445566,S3344556677,");
    EXPECT_EQ(agent.lastDelay(transmit), 0);
    ASSERT_TRUE(agent.expireTransmit());

    // Counter 1, flag set, twice over.
    EXPECT_EQ(
        frameReportsOf(agent),
        (Reports{
            {0x11, 0x90}, {0x22, 0x90}, {0x33, 0x90}, {0x11, 0x90}, {0x22, 0x90}, {0x33, 0x90}}));
    EXPECT_EQ(agent.dongle.broadcast().size(),
              6u);  // what the dongle accepted and sent, not only received
    EXPECT_EQ(agent.stored().frames, "");
    EXPECT_EQ(agent.stored().transmitCounter, 1);
    EXPECT_FALSE(agent.timers.isPending(transmit));
}

TEST_F(CyclesTest, UtilisationAtTheMaximumStillSendsOneAboveDropsTheFrames) {
    agent.portal.chunks = {"S1122334455\r\nI60000"};
    agent.dongle.setAirtimePerByte(0);
    agent.dongle.setBaseUtilisation(40);
    agent.start();
    ASSERT_TRUE(agent.expireHello());
    ASSERT_TRUE(agent.expireTransmit());
    EXPECT_EQ(agent.dongle.broadcast().size(), 2u);
    EXPECT_TRUE(displayStatus().dutyState);

    agent.dongle.setBaseUtilisation(41);
    ASSERT_TRUE(agent.expireHello());
    ASSERT_TRUE(agent.expireTransmit());
    EXPECT_EQ(agent.dongle.broadcast().size(), 2u);
    EXPECT_EQ(agent.stored().frames, "");
    EXPECT_FALSE(displayStatus().dutyState);
    // The portal is asked again after the duty-cycle interval, not the answer's minute.
    EXPECT_EQ(agent.millisecondsUntil(agent.stored().nextHelloTime), 900000);
    EXPECT_EQ(agent.lastDelay(hello), 900000);
}

TEST_F(CyclesTest, AFailedTransmissionKeepsTheFramesUntilTheDongleComesBack) {
    agent.portal.chunks = {"S1122334455\r\nI60000"};
    agent.start();
    ASSERT_TRUE(agent.expireHello());
    // An unexpected error at the transmission's own opening, after the duty-cycle query's.
    int opens = 0;
    agent.hid.beforeOpen = [&opens] {
        if (++opens == 2) {
            throw std::runtime_error("device list changed");
        }
    };
    ASSERT_TRUE(agent.expireTransmit());
    EXPECT_EQ(agent.stored().frames, "S1122334455,");
    EXPECT_EQ(agent.lastDelay(transmit), 20000);

    // The dongle lost after the duty-cycle query.
    agent.hid.beforeOpen = nullptr;
    agent.dongle.unplugAfter(DongleModel::Request::DutyCycle);
    ASSERT_TRUE(agent.expireTransmit());
    EXPECT_EQ(agent.dongle.broadcast().size(), 0u);
    EXPECT_EQ(agent.stored().frames, "S1122334455,");
    EXPECT_EQ(agent.millisecondsUntil(agent.stored().nextTransmitTime), 20000);
    EXPECT_EQ(agent.lastDelay(transmit), 20000);
    EXPECT_FALSE(displayStatus().usbState);

    // Plugged in again, the frames are due at once; the hello the answer
    // planned is left alone.
    agent.dongle.unplugAfter(DongleModel::Request::Unknown);
    agent.dongle.plug();
    agent.main->userInterfaceResource()->dongleArrived();
    EXPECT_EQ(agent.lastDelay(transmit), 0);
    EXPECT_EQ(agent.lastDelay(hello), 60000);
    ASSERT_TRUE(agent.expireTransmit());
    // Under counter 3: each of the three attempts took the next value.
    EXPECT_EQ(frameReportsOf(agent), (Reports{{0x11, 0xB0}, {0x11, 0xB0}}));
    EXPECT_EQ(agent.stored().frames, "");
    EXPECT_TRUE(displayStatus().usbState);
}

// A dongle that stops answering ends each pass at its first failed read, not every frame's.
TEST_F(CyclesTest, ARemovalNoticeDuringATransmissionEndsItsPassesEarly) {
    agent.portal.chunks = {threeFrames};
    agent.start();
    ASSERT_TRUE(agent.expireHello());
    int opens = 0;  // the duty-cycle query's, then the transmission's
    agent.hid.beforeOpen = [&] {
        if (++opens == 2) {
            agent.dongle.setAcknowledgementsMuted(true);
            displayStatus().usbState = false;
        }
    };
    ASSERT_TRUE(agent.expireTransmit());

    // The first frame of each of the two passes, one read each.
    EXPECT_EQ(frameReportsOf(agent).size(), 2u);
}

TEST_F(CyclesTest, NewFramesReplaceThoseWaitingForARetryAndAreDueAtOnce) {
    agent.portal.chunks = {"S1122334455\r\nI60000"};
    agent.dongle.unplug();
    RunTimeData earlier;
    earlier.frames = "S9988776655,";
    earlier.nextTransmitTime = agent.clock.timeStampIn(20000);
    earlier.nextHelloTime = agent.clock.timeStampIn(0);
    earlier.serialNumber = "QV12345678";
    agent.storeRunTimeData(earlier);
    agent.start();
    EXPECT_EQ(agent.lastDelay(transmit), 20000);

    agent.dongle.plug();
    ASSERT_TRUE(agent.expireHello());
    EXPECT_EQ(agent.stored().frames, "S1122334455,");
    EXPECT_EQ(agent.lastDelay(transmit), 0);
    ASSERT_TRUE(agent.expireTransmit());
    EXPECT_EQ(frameReportsOf(agent).front().first, 0x11);
}

// Whole frames only, and the counter after the field intact.
TEST_F(CyclesTest, FramesBeyondTheRecordsFieldAreLeftOutWhole) {
    const std::string frame = "S" + std::string(62, 'A');  // 63 characters and a comma
    std::string answer;
    for (int i = 0; i < 200; ++i) {
        answer += frame + "\r\n";
    }
    agent.portal.chunks = {answer + "I60000"};
    RunTimeData earlier;
    earlier.transmitCounter = 41;
    earlier.serialNumber = "QV12345678";
    agent.storeRunTimeData(earlier);
    agent.start();
    ASSERT_TRUE(agent.expireHello());

    const std::string stored = agent.stored().frames;
    EXPECT_EQ(stored.size(), 159u * 64u);  // 10,176; one more would pass 10,239
    EXPECT_EQ(stored.substr(stored.size() - 65), "," + frame + ",");
    EXPECT_EQ(agent.stored().transmitCounter, 41);
}

// ---- the browser and Open Portal ---------------------------------------------

TEST_F(CyclesTest, APortalPageIsOpenedAndLaterHellosCarryReasonZeroAlsoAfterARestart) {
    agent.portal.chunks = {"Bportal.example,8081,/welcome?id=7\r\nI60000"};
    agent.start();
    ASSERT_TRUE(agent.expireHello());

    EXPECT_EQ(agent.browser.opened, Strings{"http://portal.example:8081/welcome?id=7"});
    EXPECT_EQ(agent.stored().helloReason, 0);
    agent.portal.chunks = {"I60000"};
    ASSERT_TRUE(agent.expireHello());
    EXPECT_EQ(agent.lastHello(), "H0," + dongleFields);

    // A new process reads the reason back from the file.
    publishUserInterface(nullptr);
    agent.main.reset();
    agent.start();
    ASSERT_TRUE(agent.expireHello());
    EXPECT_EQ(agent.lastHello(), "H0," + dongleFields);
}

// Work dispatched while a hello pumps messages waits for it; an expiry re-planned there drops.
TEST(CyclesInsideAHello, WorkArrivingThereRunsAfterItInOrder) {
    for (const bool newFrames : {false, true}) {
        SCOPED_TRACE(newFrames ? "the answer brings frames" : "the answer brings none");
        WiredAgent agent;
        agent.portal.chunks = {"S1122334455\r\nI60000"};
        agent.start();
        ASSERT_TRUE(agent.expireHello());
        ASSERT_TRUE(agent.timers.isPending(transmit));

        std::size_t broadcastsInside = 99;
        std::size_t requestsInside = 99;
        agent.portal.chunks = {newFrames ? "S2233445566\r\nI60000" : "I60000"};
        bool pumped = false;
        agent.portal.duringPost = [&] {
            if (pumped) {
                return;
            }
            pumped = true;
            agent.gate.run("open portal",
                           [&agent] { agent.main->userInterfaceResource()->openPortal(); });
            agent.expireTransmit();
            agent.expireHello();
            broadcastsInside = agent.dongle.broadcast().size();
            requestsInside = agent.portal.requests.size();
        };
        agent.main->userInterfaceResource()->openPortal();
        ASSERT_TRUE(agent.expireHello());

        EXPECT_EQ(broadcastsInside, 0u);
        EXPECT_EQ(requestsInside, 2u);
        if (newFrames) {
            EXPECT_EQ(agent.dongle.broadcast().size(), 0u);
            ASSERT_TRUE(agent.expireTransmit());
            EXPECT_EQ(frameReportsOf(agent).front().first, 0x22);
        }
        // After the hello: one transmission, and the Open Portal armed a
        // hello with reason 2 that the answer's plan did not overwrite.
        EXPECT_EQ(agent.dongle.broadcast().size(), 2u);
        EXPECT_EQ(agent.stored().transmitCounter, 1);
        EXPECT_EQ(agent.lastDelay(hello), 0);
        ASSERT_TRUE(agent.expireHello());
        EXPECT_EQ(agent.lastHello(), "H2," + dongleFields);
        EXPECT_EQ(agent.portal.requests.size(), 3u);
    }
}

TEST_F(CyclesTest, OpenPortalDuringStartUpSaysHelloWithReasonTwoOnceItHasFinished) {
    agent.gate.hold();
    agent.gate.run("open portal", [this] {
        ASSERT_NE(publishedUserInterface(), nullptr);
        publishedUserInterface()->openPortal();
    });
    RunTimeData earlier;
    earlier.nextHelloTime = agent.clock.timeStampIn(3600000);
    earlier.helloReason = 0;
    agent.storeRunTimeData(earlier);
    agent.start();
    // A restart resumes the stored plan, and writes nothing to do so.
    EXPECT_EQ(agent.lastDelay(hello), 3600000);
    EXPECT_EQ(agent.files.writeCalls, 0);

    agent.gate.release();
    EXPECT_EQ(agent.lastDelay(hello), 0);
    ASSERT_TRUE(agent.expireHello());
    EXPECT_EQ(agent.lastHello(), "H2," + dongleFields);
    // Open Portal leaves the stored reason.
    ASSERT_TRUE(agent.expireHello());
    EXPECT_EQ(agent.lastHello(), "H0," + dongleFields);
}

// ---- About -------------------------------------------------------------------

TEST_F(CyclesTest, AboutShowsTheSoftwareVersionAlwaysAndTheDongleAsLastRead) {
    const auto about = [&] {
        std::string software, firmware, serial;
        agent.main->userInterfaceResource()->showAboutDialog(software, firmware, serial);
        return Strings({software, firmware, serial});
    };
    agent.dongle.unplug();
    agent.start();
    EXPECT_EQ(about(), Strings({"2.1.0", "", ""}));

    // What a hello read shows when About's own read fails.
    agent.dongle.plug();
    ASSERT_TRUE(agent.expireHello());
    agent.dongle.unplug();
    EXPECT_EQ(about(), Strings({"2.1.0", "258", "QV12345678"}));
    // The failed read re-plans the hello, as any failed read does.
    EXPECT_EQ(agent.millisecondsUntil(agent.stored().nextHelloTime), 30000);

    DongleModel::Identity other;
    other.serialNumber = "QV87654321";
    other.firmwareVersion = 259;
    agent.dongle.setIdentity(other);
    agent.dongle.plug();
    // While another user's agent holds the dongle, About does not talk to it.
    agent.cycleLock.meets = CycleLock::Turn::busy;
    agent.hid.beforeOpen = [] { ADD_FAILURE() << "About opened the dongle without its turn"; };
    EXPECT_EQ(about(), Strings({"2.1.0", "258", "QV12345678"}));
    agent.cycleLock.meets = CycleLock::Turn::taken;
    agent.hid.beforeOpen = nullptr;
    EXPECT_EQ(about(), Strings({"2.1.0", "259", "QV87654321"}));
    EXPECT_EQ(agent.stored().serialNumber, "QV87654321");
    EXPECT_FALSE(agent.cycleLock.held);

    // A dongle reporting no serial number shows, and keeps, the stored one.
    DongleModel::Identity blank;
    blank.serialNumber = "";
    agent.dongle.setIdentity(blank);
    EXPECT_EQ(about(), Strings({"2.1.0", "259", "QV87654321"}));
    EXPECT_EQ(agent.stored().serialNumber, "QV87654321");
}

// ---- two sessions: one cycle at a time, machine-wide -------------------------

// Another user's agent used the record since this one read it: counter 41, new dongle announced.
TEST(CycleLock, ACycleWorksWhileHoldingTheLockAndOnTheRecordAsItStandsThen) {
    using Turn = CycleLock::Turn;
    for (const bool transmission : {false, true}) {
        for (const Turn meets : {Turn::taken, Turn::busy, Turn::unusable}) {
            SCOPED_TRACE(::testing::Message() << "transmission " << transmission << ", lock "
                                              << static_cast<int>(meets));
            WiredAgent agent;
            RunTimeData record;
            record.serialNumber = "OLD0000001";
            record.helloReason = 3;
            record.frames = "S1122334455,S2233445566,";
            record.transmitCounter = 7;
            agent.storeRunTimeData(record);
            agent.start();
            ASSERT_EQ(agent.lastDelay(transmit), 0);
            record.serialNumber = "QV12345678";
            record.transmitCounter = 41;
            agent.storeRunTimeData(record);

            bool touchedUnlocked = false;
            agent.portal.duringPost = [&] { touchedUnlocked |= !agent.cycleLock.held; };
            agent.hid.beforeOpen = [&] { touchedUnlocked |= !agent.cycleLock.held; };
            const auto runCycle = [&] {
                return transmission ? agent.expireTransmit() : agent.expireHello();
            };

            agent.cycleLock.meets = meets;
            ASSERT_TRUE(runCycle());
            if (meets == Turn::busy) {
                // Failed, re-planned after its error interval, nothing touched
                // or written over the other agent's record.
                EXPECT_TRUE(agent.dongle.received().empty());
                EXPECT_TRUE(agent.portal.requests.empty());
                EXPECT_EQ(agent.lastDelay(transmission ? transmit : hello),
                          transmission ? 20000 : 30000);
                EXPECT_EQ(agent.stored().transmitCounter, 41);
                agent.cycleLock.meets = Turn::taken;
                ASSERT_TRUE(runCycle());
            }
            // A lock that cannot be had at all stops nothing.
            EXPECT_EQ(touchedUnlocked, meets == Turn::unusable);
            EXPECT_FALSE(agent.cycleLock.held);
            if (transmission) {
                // In order, twice, under counter 42 (bits 010) with the flag;
                // never 8.
                EXPECT_EQ(frameReportsOf(agent),
                          (Reports{{0x11, 0xA0}, {0x22, 0xA0}, {0x11, 0xA0}, {0x22, 0xA0}}));
                EXPECT_EQ(agent.stored().transmitCounter, 42);
                EXPECT_EQ(agent.stored().frames, "");
            } else {
                // The other agent announced the new dongle already.
                EXPECT_EQ(agent.lastHello(), "H3," + dongleFields);
                EXPECT_EQ(agent.lastDelay(hello), 60000);
            }
        }
    }
}

// What the record holds when this agent's turn begins is what goes out, once.
TEST(CycleLock, ATransmissionSendsTheFramesTheRecordHoldsWhenItsTurnBegins) {
    struct Case {
        const char* what;
        const char* framesThen;  // the other agent's record; null: untouched
        bool ownUnwritten;
        std::vector<int> sent;  // first digit pair of each frame, once over
        int32_t counter;
    };
    const Case cases[] = {
        {"sent by the other agent", "", false, {}, 41},
        {"replaced by the other agent", "S3344556677,", false, {0x33}, 42},
        {"this agent's, never written", nullptr, true, {0x44}, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WiredAgent agent;
        RunTimeData record;
        record.serialNumber = "QV12345678";
        record.frames = "S1122334455,";
        record.transmitCounter = 7;
        agent.storeRunTimeData(record);
        agent.start();
        if (c.ownUnwritten) {
            agent.files.refuseWrites = true;
            agent.portal.chunks = {"S4455667788\r\nI60000"};
            ASSERT_TRUE(agent.expireHello());
            agent.files.refuseWrites = false;
        } else {
            record.frames = c.framesThen;
            record.transmitCounter = 41;
            agent.storeRunTimeData(record);
        }
        ASSERT_TRUE(agent.expireTransmit());
        Reports expected;
        for (int repeat = 0; repeat < 2; ++repeat) {
            for (const int digits : c.sent) {
                expected.emplace_back(digits, 0x80 | (c.counter & 7) << 4);
            }
        }
        EXPECT_EQ(frameReportsOf(agent), expected);
        EXPECT_EQ(agent.stored().transmitCounter, c.counter);
        // Nothing left to retry, and a later hello does not write the sent
        // frames back for a third agent to send.
        EXPECT_FALSE(agent.timers.isPending(transmit));
        agent.portal.chunks = {"I60000"};
        ASSERT_TRUE(agent.expireHello());
        EXPECT_EQ(agent.stored().frames, "");
    }
}

// Work of a kind already waiting is not queued twice: one Open Portal, not two.
TEST(CycleGate, WorkHandedInWhileWorkRunsWaitsAndRunsAfterItInOrder) {
    CycleGate gate;
    Strings trace;
    gate.run("hello", [&] {
        trace.push_back("hello begins");
        gate.run("transmit", [&] { trace.push_back("transmit"); });
        for (int twice = 0; twice < 2; ++twice) {
            gate.run("open portal", [&] {
                trace.push_back("open portal");
                // Work queued by waiting work runs too.
                gate.run("hello", [&] { trace.push_back("second hello"); });
            });
        }
        EXPECT_TRUE(gate.running());
        trace.push_back("hello ends");
    });

    EXPECT_EQ(trace,
              (Strings{"hello begins", "hello ends", "transmit", "open portal", "second hello"}));
    EXPECT_FALSE(gate.running());
    EXPECT_EQ(gate.waiting(), 0u);
}

TEST(CycleGate, WorkThatThrowsLeavesTheGateOpen) {
    CycleGate gate;
    bool later = false;
    gate.run("hello", [&] {
        gate.run("transmit", [] { throw std::runtime_error("broken"); });
        throw std::runtime_error("broken too");
    });
    gate.run("hello", [&] { later = true; });
    EXPECT_TRUE(later);
    EXPECT_FALSE(gate.running());
}

}  // namespace
