// The faults only the real agent shows; the rest is the unit cycle tests'.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "resources/resource.h"
#include "tests/e2e/AgentWithSimulators.h"
#include "tests/e2e/BenchFigures.h"

namespace quorvel::e2e {
namespace {

namespace fs = std::filesystem;
using portalsim::Reply;

class PortalFault : public AgentWithSimulators {};

// A megabyte of page lines with the log window open: the retry comes after
// the error interval, not after the log view has choked on the lines.
TEST_F(PortalFault, OneMegabyteBodyIsCutAndRetried) {
    std::string page;
    while (page.size() < (1u << 20)) {
        page += "<tr><td>filler that is no command of the portal</td></tr>\r\n";
    }
    plugDongle();
    portal().addReplies({Reply::text(page), answer({S1, "I60000"})});
    startAgentWith(config());
    ASSERT_TRUE(waitForHellos(2, milliseconds(23000))) << "no hello after the big answer";
    const auto requests = portal().requests();
    const auto gap = requests[1].connectedAt - requests[0].connectedAt;
    EXPECT_GE(gap, milliseconds(1400)) << "the retry came too soon";
    EXPECT_LE(gap, milliseconds(8000)) << "the big answer held the agent";
    drive({"wait-text", "5000", "answer cut at characters: 64999"});
}

class RunTimeFileFault : public AgentWithSimulators {};

// Unix links another user put in the data folder: Wine shows a link to a
// file as a plain file, so only the path the opened handle really has gives
// it away (hard links are Win32FileSystemTest's).
TEST_F(RunTimeFileFault, LinksInTheDataFolderAreNeverFollowed) {
    const fs::path record = harness().runTimeFile();
    plugDongle();
    portal().addReplies({answer({S1, "I60000"}), answer({S2, "I60000"}), answer({"I60000"}),
                         answer({S4, "I60000"})});
    const fs::path folder = agentFolder(config());
    WineProcess& first = startAgentIn(folder);
    ASSERT_TRUE(waitForBroadcast(2));
    ASSERT_TRUE(waitForStored(sent(1)));

    // The temporary name leads to another user's file.
    const fs::path theirs = folder / "theirs.txt";
    std::ofstream(theirs) << "theirs";
    const fs::path temporary = record.string() + ".new";
    fs::remove(temporary);
    fs::create_symlink(theirs, temporary);
    openPortalAndSend(S2, 2);
    drive(
        {"wait-text", "5000", "DeleteFile refused for C:\\ProgramData\\quorvel\\quorvel.dat.new"});
    EXPECT_EQ(readFile(theirs), "theirs");
    EXPECT_EQ(stored().value_or(RunTimeData{}).transmitCounter, 1)
        << "a write went through the link";
    fs::remove(temporary);
    endWith(first, ID_EXIT);

    // The record leads to another one with a frame pending.
    RunTimeData other = earlierRun();
    other.nextTransmitTime = timeStampAt(wallClockMs() - 60000);
    other.frames = S1 + ",";
    other.transmitCounter = 40;
    const fs::path otherRecord = folder / "other.dat";
    store(other, otherRecord);
    const std::string otherRecordBytes = readFile(otherRecord);
    fs::remove(record);
    fs::create_symlink(otherRecord, record);
    startAgentIn(folder);
    ASSERT_TRUE(waitUntil([&] { return !fs::is_symlink(record) && stored(); }, kStartTimeout))
        << "the link is still in the record's place";
    drive({"wait-text", "5000", "ReadFile refused for C:\\ProgramData\\quorvel\\quorvel.dat"});
    EXPECT_EQ(readFile(otherRecord), otherRecordBytes);
    const auto fresh = waitForStored(minuteAhead);
    ASSERT_TRUE(fresh) << "the start's hello was not answered";
    EXPECT_EQ(fresh->transmitCounter, 0) << "the other record was read";
    EXPECT_EQ(broadcast().size(), 4u) << "the other record's frame went on air";

    // The folder itself leads elsewhere.
    const fs::path dataFolder = record.parent_path();
    const fs::path moved = dataFolder.string() + "-moved";
    fs::rename(dataFolder, moved);
    fs::create_symlink(moved, dataFolder);
    const std::string before = readFile(moved / "quorvel.dat");
    openPortalAndSend(S4, 1);
    drive({"wait-text", "5000",
           "refused for C:\\ProgramData\\quorvel\\quorvel.dat.new: it is in a link"});
    EXPECT_EQ(readFile(moved / "quorvel.dat"), before);
    EXPECT_FALSE(fs::exists(moved / "quorvel.dat.new"));
    fs::remove(dataFolder);
    fs::remove_all(moved);
}

// Numbered, so that what went on air can be traced to its answer.
std::string numberedFrame(int n) {
    char text[32];
    std::snprintf(text, sizeof text, "S0A0B%04X056677", n & 0xFFFF);
    return text;
}
std::string numberOnAir(const std::string& telegram) {
    std::string n = telegram.substr(2, 4);
    std::transform(n.begin(), n.end(), n.begin(), ::toupper);
    return n;
}

class KilledAgent : public AgentWithSimulators {};

// Killed at random moments, then started again: quorvel.dat stays whole, its
// counter never goes back, and a frame stored at a kill later goes on air
// unless a later answer replaced the list first (by design). The last run,
// with logging off as all of them, shows no log window.
TEST_F(KilledAgent, NeverLosesStoredFramesOrTheCounter) {
    const int kills = std::max(1, envNumber("QUORVEL_FAULT_KILLS", 10));
    plugDongle();
    // Each answer exchange slow enough for kills to land inside it.
    ASSERT_EQ(dongle().command("delay dongle 120"), "ok");
    std::vector<Reply> replies;
    for (int i = 0; i < 4000; ++i) {
        replies.push_back(answer(
            {numberedFrame(3 * i), numberedFrame(3 * i + 1), numberedFrame(3 * i + 2), "I700"}));
    }
    portal().addReplies(std::move(replies));
    Config settings = config();
    settings["ENABLE_LOGGING"] = "false";
    const fs::path folder = agentFolder(settings);

    struct Kill {
        std::size_t hellos;
        std::set<std::string> pending;
    };
    std::vector<Kill> history;
    std::mt19937 random(static_cast<unsigned>(wallClockMs()));
    std::uniform_int_distribution<int> moment(100, 4000);
    int lastCounter = 0;
    bool everStored = false;
    const auto started = Clock::now();
    for (int k = 0; k < kills; ++k) {
        WineProcess& agent = launch(folder);
        const int after = moment(random);
        std::this_thread::sleep_for(milliseconds(after));
        agent.kill();
        ASSERT_EQ(harness().driver({"wait-gone", "10000"}).exitCode, 0) << "kill " << k;
        const auto data = stored();
        if (!data) {
            ASSERT_FALSE(everStored || fs::exists(harness().runTimeFile()))
                << "kill " << k << " after " << after << " ms left quorvel.dat torn";
            continue;
        }
        everStored = true;
        ASSERT_GE(data->transmitCounter, lastCounter)
            << "kill " << k << " after " << after << " ms: the counter went back";
        lastCounter = data->transmitCounter;
        Kill seen{portal().requests().size(), {}};
        for (const std::string& frame : framesOf(data->frames)) {
            seen.pending.insert(frame.substr(5, 4));
        }
        history.push_back(seen);
    }
    const double perKill = msBetween(started, Clock::now()) / kills;

    // One more run, left alone until it has sent what it holds.
    startAgentIn(folder);
    ASSERT_TRUE(waitForStored(
        [&](const RunTimeData& d) { return d.frames.empty() && d.transmitCounter > lastCounter; },
        milliseconds(20000)))
        << "the last run did not transmit";
    const auto windows = harness().loggerWindows();
    ASSERT_TRUE(windows && windows->size() == 1);
    EXPECT_FALSE(windows->front().visible) << "the log window showed with logging off";
    const Strings all = broadcast();
    std::set<std::string> onAirNumbers;
    for (const std::string& telegram : all) {
        onAirNumbers.insert(numberOnAir(telegram));
    }
    const std::size_t hellos = portal().requests().size();
    int pendingAtKills = 0;
    int replaced = 0;
    for (std::size_t k = 0; k < history.size(); ++k) {
        for (const std::string& number : history[k].pending) {
            ++pendingAtKills;
            if (onAirNumbers.count(number) != 0) {
                continue;
            }
            ++replaced;
            EXPECT_GT(hellos, history[k].hellos) << "frame " << number << " stored at kill " << k
                                                 << " vanished without a newer answer";
        }
    }
    std::cerr << "note: " << kills << " kills, " << perKill << " ms per kill, " << hellos
              << " hellos, " << all.size() << " frames on air, " << pendingAtKills
              << " frames pending at kills, " << replaced
              << " of them replaced by a later answer before going on air, last counter "
              << lastCounter << "\n";
}

}  // namespace
}  // namespace quorvel::e2e
