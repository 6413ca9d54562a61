// Start-up and the run-time record: its layout, and a disk that fails as the cycles' never does.

#include <gtest/gtest.h>

#include <algorithm>

#include "core/Main.h"
#include "core/SystemPaths.h"
#include "storage/FileSystem.h"
#include "storage/FilesystemResource.h"
#include "storage/RunTimeData.h"
#include "tests/unit/support/WiredAgent.h"

namespace {

const char dataFolder[] = "C:\\ProgramData\\quorvel\\";

class FilesystemResourceTest : public ::testing::Test {
  protected:
    FilesystemResourceTest() {
        agent.folder.write("quorvel.ini", "REASON=7\r\nENABLE_LOGGING=true\r\n");
    }
    // A resource as a fresh process would create it; start()'s result in `started`.
    std::unique_ptr<FilesystemResource> startAgent() {
        auto resource = std::make_unique<FilesystemResource>(
            agent.paths, agent.language, agent.files, agent.cycleLock, agent.window, agent.clock);
        started = resource->start();
        return resource;
    }

    WiredAgent agent;
    int started = 99;
};

TEST_F(FilesystemResourceTest, StoredFramesAreNormalisedAndTheSameIdentityNotWrittenAgain) {
    RunTimeData old;
    old.frames = ",S01,,S02";
    agent.storeRunTimeData(old);
    auto resource = startAgent();
    EXPECT_EQ(resource->getFrames(), (FrameList{"S01", "S02"}));
    EXPECT_EQ(resource->getRunTimeData().frames, "S01,S02,");

    // Every hello reads the same dongle again: nothing new to write.
    resource->setDeviceInfos("QV12345678", "258");
    const int writes = agent.files.writeCalls;
    resource->setDeviceInfos("QV12345678", "258");
    EXPECT_EQ(agent.files.writeCalls, writes);
    // A data folder removed while the agent runs is made again.
    agent.files.folders.clear();
    resource->setHelloReason(2);
    EXPECT_EQ(agent.stored().helloReason, 2);
}

// The agent runs on from memory; the record and what lies behind a link stay intact.
TEST_F(FilesystemResourceTest, AFailedWriteIsLoggedKeepsTheRecordAndTheAgentRunsOn) {
    const std::string elsewhere = "C:\\Users\\other\\";
    const std::string theirs = elsewhere + "theirs.dat";
    const std::string temporary = temporaryPathFor(wiredAgentDataFile);
    const struct {
        const char* fault;
        std::string link;  // the name that leads to `elsewhere`, or none
        long failAfter;    // bytes written before a full disk stops the write
        bool failFlush;
    } cases[] = {
        {"writes refused", "", -1, false},
        {"the disk full part-way", "", 5000, false},
        {"the flush fails", "", -1, true},
        {"the temporary file a link", temporary, -1, false},
        {"the folder a link", dataFolder, -1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        agent.files = FakeFileSystem();
        agent.window.commands.clear();
        auto resource = startAgent();
        agent.files.folders.insert(elsewhere);
        agent.files.files[theirs] = {1, 2, 3};
        agent.files.refuseWrites = c.link.empty() && c.failAfter < 0 && !c.failFlush;
        agent.files.failWriteAfterBytes = c.failAfter;
        agent.files.failFlush = c.failFlush;
        if (!c.link.empty()) {
            agent.files.links[c.link] = c.link == dataFolder ? elsewhere : theirs;
        }

        resource->setHelloReason(3);
        resource->setHelloReason(4);

        EXPECT_EQ(agent.window.countLogged("fatal error in [FilesystemResource::writeRunTimeData]! "
                                           "can't write RunTimeData in file system"),
                  2);
        EXPECT_EQ(resource->getRunTimeData().helloReason, 4);
        EXPECT_EQ(agent.stored().helloReason, 7);  // the last complete record is still on disk
        EXPECT_EQ(agent.files.files.at(theirs), (std::vector<uint8_t>{1, 2, 3}));
        EXPECT_EQ(agent.files.files.count(elsewhere + "quorvel.dat.new"), 0u);

        agent.files.refuseWrites = agent.files.failFlush = false;
        agent.files.failWriteAfterBytes = -1;
        agent.files.links.clear();
        resource->setHelloReason(5);
        EXPECT_EQ(agent.stored().helloReason, 5);
        EXPECT_EQ(agent.files.files.count(temporary), 0u);
    }
}

// A missing language file ends start-up, named by its full path (quorvel.ini's: AgentTest).
TEST_F(FilesystemResourceTest, AMissingLanguageFileIsFatalAndNamedByItsFullPath) {
    const std::string file = (agent.folder.path() / "resources" / "en.txt").string();
    std::filesystem::remove(file);
    auto resource = startAgent();

    EXPECT_EQ(started, -1);
    const auto fatal = agent.window.commandsWithCode(ID_FATAL_ERROR);
    ASSERT_EQ(fatal.size(), 1u);
    EXPECT_EQ(fatal[0].text, "fatal error! reading init data.\r\ncannot read " + file);
    EXPECT_TRUE(agent.files.files.empty());
}

// A writer killed at any step (bytes, flush, replace) leaves the old record or the new one.
TEST(AtomicWrite, AWriteKilledAtAnyPointLeavesTheLastCompleteRecord) {
    const std::vector<uint8_t> oldRecord(10304, 1);
    const std::vector<uint8_t> newRecord(10304, 2);
    const long last = 10304 + 2;
    int sawOld = 0;
    int sawNew = 0;
    for (long crashAt = 0; crashAt <= last; ++crashAt) {
        if (crashAt > 8 && crashAt < last - 10 && crashAt % 1000 != 0) {
            continue;
        }
        FakeFileSystem disk;
        disk.folders = {dataFolder};
        disk.files[wiredAgentDataFile] = oldRecord;
        disk.crashAfterSteps = crashAt;
        try {
            writeFileAtomically(disk, wiredAgentDataFile, newRecord);
        } catch (const SimulatedCrash&) {
        }
        const std::vector<uint8_t>& survivor = disk.files.at(wiredAgentDataFile);
        ASSERT_TRUE(survivor == oldRecord || survivor == newRecord) << "crash at step " << crashAt;
        (survivor == oldRecord ? sawOld : sawNew)++;
    }
    EXPECT_GT(sawOld, 0);
    EXPECT_GT(sawNew, 0);
}

TimeStamp stamp(int32_t seconds, uint16_t milliseconds, int16_t zone, int16_t dst) {
    TimeStamp time;
    time.seconds = seconds;
    time.milliseconds = milliseconds;
    time.timezoneMinutesWest = zone;
    time.daylightSaving = dst;
    return time;
}

RunTimeData sample() {
    RunTimeData data;
    data.nextHelloTime = stamp(0x11223344, 999, -60, 1);
    data.nextTransmitTime = stamp(-2, 7, 300, 0);
    data.firmwareVersion = "258";
    data.transmitCounter = -3;
    data.serialNumber = "SN00000042";
    data.helloReason = 5;
    data.frames = "S0102,S0A0B,";
    return data;
}

TEST(RunTimeDataFile, MatchesTheRecordLayoutByteForByte) {
    // Built by hand from the offset table, independently of the encoder.
    std::vector<uint8_t> expected(10304, 0);
    const uint8_t helloTime[] = {0x44, 0x33, 0x22, 0x11, 0xE7, 0x03, 0xC4, 0xFF, 0x01, 0x00};
    std::copy(std::begin(helloTime), std::end(helloTime), expected.begin());
    const uint8_t transmitTime[] = {0xFE, 0xFF, 0xFF, 0xFF, 0x07, 0x00, 0x2C, 0x01, 0x00, 0x00};
    std::copy(std::begin(transmitTime), std::end(transmitTime), expected.begin() + 12);
    expected[24] = '2';
    expected[25] = '5';
    expected[26] = '8';
    const uint8_t counter[] = {0xFD, 0xFF, 0xFF, 0xFF};
    std::copy(std::begin(counter), std::end(counter), expected.begin() + 32);
    const std::string serial = "SN00000042";
    std::copy(serial.begin(), serial.end(), expected.begin() + 36);
    expected[60] = 5;
    const std::string frames = "S0102,S0A0B,";
    std::copy(frames.begin(), frames.end(), expected.begin() + 64);

    const RunTimeDataBytes encoded = encodeRunTimeData(sample());
    EXPECT_EQ(std::vector<uint8_t>(encoded.begin(), encoded.end()), expected);
    // Read back, with bytes beyond the record ignored.
    expected.resize(20000, 'X');
    EXPECT_EQ(encodeRunTimeData(decodeRunTimeData(expected)), encoded);
}

// A text without its zero ends at its field (written, none is longer: fuzz_dongle_reports).
TEST(RunTimeDataFields, TextsAreCutAtTheirFieldOnReading) {
    RunTimeData blank;
    blank.helloReason = 0;
    RunTimeDataBytes bytes = encodeRunTimeData(blank);
    std::fill(bytes.begin() + 24, bytes.begin() + 29, '9');  // firmware: no zero
    std::fill(bytes.begin() + 36, bytes.begin() + 57, 'A');  // serial: no zero
    std::fill(bytes.begin() + 64, bytes.end(), 'S');         // frames: no zero
    const RunTimeData decoded = decodeRunTimeData({bytes.begin(), bytes.end()});
    EXPECT_EQ(decoded.firmwareVersion, "9999");
    EXPECT_EQ(decoded.serialNumber, std::string(20, 'A'));
    EXPECT_EQ(decoded.frames.size(), 10239u);
    // The neighbouring fields were not read into the texts.
    EXPECT_EQ(decoded.transmitCounter, 0);
    EXPECT_EQ(decoded.helloReason, 0);
}

TEST(FrameStore, AListThatExactlyFillsTheFieldIsKept) {
    std::string stored;
    EXPECT_EQ(storeFrames({std::string(10238, 'S')}, stored), 0u);
    EXPECT_EQ(stored.size(), 10239u);
    EXPECT_EQ(storeFrames({std::string(10239, 'S')}, stored), 1u);
    EXPECT_EQ(stored, "");
}

TEST(WaitForMainWindow, WaitsUntilTheWindowIsThereAtMostTenTimes) {
    for (const int appearsAfter : {0, 3, 99}) {
        int waits = 0;
        EXPECT_EQ(waitForMainWindow([&] { return waits == appearsAfter; }, [&] { ++waits; }),
                  std::min(appearsAfter, 10));
        EXPECT_EQ(waits, std::min(appearsAfter, 10));
    }
}

TEST(Startup, WithLoggingOnTheLinesBeforeTheConfigurationAreNotShown) {
    WiredAgent agent;
    agent.start("PORTAL_SERVER_HOTS=h\nENABLE_LOGGING=true\n");

    // The window was asked to show itself while the configuration was read,
    // and only what was logged after that reached it.
    ASSERT_FALSE(agent.window.commands.empty());
    EXPECT_EQ(agent.window.commands.front().code, static_cast<unsigned>(ID_SHOW_LOGGER));
    const std::vector<std::string> lines = agent.window.logLines();
    ASSERT_GE(lines.size(), 2u);
    for (const std::string& line : lines) {
        EXPECT_EQ(line.find("Initialisation"), std::string::npos) << line;
        EXPECT_EQ(line.find("Main::start"), std::string::npos) << line;
    }
    // The configuration's mistakes, logged once the switch below them is read.
    EXPECT_NE(lines[0].find("] initial configuration file: line 1: unknown key "
                            "\"PORTAL_SERVER_HOTS\" ignored; did you mean PORTAL_SERVER_HOST?"),
              std::string::npos)
        << lines[0];
    EXPECT_NE(lines[1].find("] initial configuration file: missing key PORTAL_SERVER_HOST"),
              std::string::npos);
}

}  // namespace
