#include <gtest/gtest.h>

#include <algorithm>

#include "activities/HelloEvents.h"
#include "activities/TransmitEvents.h"
#include "core/Clock.h"
#include "core/EventListeners.h"
#include "core/Log.h"
#include "storage/FileSystem.h"
#include "storage/FilesystemResource.h"
#include "tests/unit/support/FakeCycleLock.h"
#include "tests/unit/support/FakeFileSystem.h"
#include "tests/unit/support/FakeMainWindow.h"
#include "tests/unit/support/FakeSystemLanguage.h"
#include "tests/unit/support/FakeSystemPaths.h"
#include "tests/unit/support/TempFolder.h"
#include "tests/unit/support/TestClock.h"
#include "ui/Texts.h"

namespace {

// Records the deadlines the resource fires.
struct DeadlineRecorder {
    std::vector<TimeStamp> helloTimes;
    std::vector<int32_t> helloReasons;
    std::vector<TimeStamp> transmitTimes;
    void note(const CyclicHelloTimeEvent& hello) {
        helloTimes.push_back(hello.getTime());
        helloReasons.push_back(hello.getReason());
    }
    void note(const CyclicTransmitTimeEvent& transmit) { transmitTimes.push_back(transmit.getTime()); }
    void clear() {
        helloTimes.clear();
        helloReasons.clear();
        transmitTimes.clear();
    }
    EventListeners<CyclicHelloTimeEvent, CyclicTransmitTimeEvent> listeners{
        [this](const auto& event) { note(event); }};
};

const char appData[] = "C:\\ProgramData";
const char dataFile[] = "C:\\ProgramData\\quorvel\\quorvel.dat";
const char dataFolder[] = "C:\\ProgramData\\quorvel\\";

class FilesystemResourceTest : public ::testing::Test {
  protected:
    FilesystemResourceTest() : paths(folder.file("quorvel.exe"), appData) {
        Texts::resetForTesting();
        folder.write("resources/en.txt", "ERROR_MESSAGE_TITLE=Quorvel\r\n");
        folder.write("quorvel.ini",
                     "REASON=7\r\nCYCLIC_HELLO_INTERVAL_ON_ERROR=60000\r\nENABLE_LOGGING=true\r\n");
    }
    ~FilesystemResourceTest() override { Texts::resetForTesting(); }

    // A resource as a fresh process would create it, with the recorder wired.
    std::unique_ptr<FilesystemResource> startAgent() {
        auto resource = std::make_unique<FilesystemResource>(paths, language, files, lock, window,
                                                             clock);
        recorder.listeners.listenTo(resource->getActivities());
        lastStart = resource->start();
        return resource;
    }

    RunTimeData stored() const { return decodeRunTimeData(files.files.at(dataFile)); }

    bool logged(const std::string& text) const {
        const auto lines = window.logLines();
        return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
            return line.find(text) != std::string::npos;
        });
    }

    TestClock clock{1700000000, 250};
    FakeMainWindow window;
    LogCapture capture{window};
    TempFolder folder;
    FakeSystemPaths paths;
    FakeSystemLanguage language;
    FakeFileSystem files;
    FakeCycleLock lock;
    DeadlineRecorder recorder;
    int lastStart = 99;
};

TEST_F(FilesystemResourceTest, FirstStartCreatesTheFolderAndARecordFromTheConfiguration) {
    auto resource = startAgent();

    ASSERT_EQ(lastStart, 0);
    EXPECT_EQ(files.folders.count(dataFolder), 1u);
    ASSERT_EQ(files.files.count(dataFile), 1u);
    EXPECT_EQ(files.files.at(dataFile).size(), 10304u);
    const RunTimeData data = stored();
    EXPECT_EQ(data.nextHelloTime, clock.now());
    EXPECT_EQ(data.nextTransmitTime, clock.now());
    EXPECT_EQ(data.helloReason, 7);
    EXPECT_EQ(data.transmitCounter, 0);
    EXPECT_EQ(data.serialNumber, "");
    EXPECT_EQ(data.firmwareVersion, "");
    EXPECT_EQ(data.frames, "");

    EXPECT_TRUE(logged("run time file not found! generate a new one form ini file."));
    EXPECT_TRUE(logged("run time file path: C:\\ProgramData\\quorvel\\quorvel.dat"));
    EXPECT_TRUE(
        logged("Frames are empty, CyclicTransmitTimeEvent will not be fired in "
               "[FilesystemResource::start]"));
    ASSERT_EQ(recorder.helloTimes.size(), 1u);
    EXPECT_EQ(recorder.helloTimes[0], clock.now());
    EXPECT_EQ(recorder.helloReasons[0], 7);
    EXPECT_TRUE(recorder.transmitTimes.empty());
    // The temporary file of the write does not stay behind.
    EXPECT_EQ(files.files.count(temporaryPathFor(dataFile)), 0u);
}

TEST_F(FilesystemResourceTest, ARestartResumesTheStoredPlanWithoutWriting) {
    {
        auto first = startAgent();
        TimeStamp later = clock.now();
        later.seconds += 3600;
        first->setNextHelloTime(later);
        first->setFrames({"S0102"});
        TimeStamp retry = clock.now();
        retry.seconds += 90;
        first->setNextTransmitTime(retry);
    }
    const std::vector<uint8_t> before = files.files.at(dataFile);
    const int writesBefore = files.writeCalls;
    recorder.clear();
    clock.advance(5000);

    auto second = startAgent();

    EXPECT_TRUE(logged("found run time file."));
    ASSERT_EQ(recorder.helloTimes.size(), 1u);
    EXPECT_EQ(recorder.helloTimes[0].seconds, 1700000000 + 3600);
    EXPECT_EQ(recorder.helloReasons[0], 7);
    ASSERT_EQ(recorder.transmitTimes.size(), 1u);
    EXPECT_EQ(recorder.transmitTimes[0].seconds, 1700000000 + 90);
    EXPECT_EQ(files.writeCalls, writesBefore);
    EXPECT_EQ(files.files.at(dataFile), before);
}

TEST_F(FilesystemResourceTest, StoredFramesWithEmptyPiecesAreNormalised) {
    RunTimeData old;
    old.frames = ",S01,,S02";
    const RunTimeDataBytes bytes = encodeRunTimeData(old);
    files.folders.insert(dataFolder);
    files.files[dataFile] = {bytes.begin(), bytes.end()};

    auto resource = startAgent();

    EXPECT_EQ(resource->getFrames(), (FrameList{"S01", "S02"}));
    EXPECT_EQ(resource->getRunTimeData().frames, "S01,S02,");
}

TEST_F(FilesystemResourceTest, TheCounterCountsFromZeroAndIsWrittenEachTime) {
    auto resource = startAgent();
    EXPECT_EQ(resource->incrementTransmitCounter(), 1);
    EXPECT_EQ(resource->incrementTransmitCounter(), 2);
    EXPECT_EQ(stored().transmitCounter, 2);
}

TEST_F(FilesystemResourceTest, SettersWriteAndDeadlineSettersFire) {
    auto resource = startAgent();
    recorder.clear();

    resource->setHelloReason(0);
    EXPECT_EQ(stored().helloReason, 0);
    resource->setDeviceInfos("SN12345678", "258");
    EXPECT_EQ(stored().serialNumber, "SN12345678");
    EXPECT_EQ(stored().firmwareVersion, "258");
    // The same dongle read again changes nothing to write.
    const int writes = files.writeCalls;
    resource->setDeviceInfos("SN12345678", "258");
    EXPECT_EQ(files.writeCalls, writes);
    EXPECT_TRUE(recorder.helloTimes.empty());

    resource->scheduleHelloOnError();
    ASSERT_EQ(recorder.helloTimes.size(), 1u);
    EXPECT_EQ(recorder.helloTimes[0].seconds, 1700000000 + 60);
    EXPECT_EQ(recorder.helloTimes[0].milliseconds, 250);
    EXPECT_EQ(recorder.helloReasons[0], 0);
    EXPECT_EQ(stored().nextHelloTime, recorder.helloTimes[0]);

    clock.advance(1000);
    resource->setFrames({});
    ASSERT_EQ(recorder.transmitTimes.size(), 1u);
    EXPECT_EQ(recorder.transmitTimes[0], clock.now());
    EXPECT_EQ(stored().frames, "");
    // A new list is due at once but does not move the stored retry time.
    EXPECT_EQ(stored().nextTransmitTime.seconds, 1700000000);

    resource->setFrames({"S01", "S02"});
    EXPECT_EQ(stored().frames, "S01,S02,");
    resource->clearFrames();
    EXPECT_EQ(stored().frames, "");
}

TEST_F(FilesystemResourceTest, OverlongDeviceInfosAreCutAtTheirFields) {
    auto resource = startAgent();
    resource->setDeviceInfos(std::string(40, 'N'), "65535");
    EXPECT_EQ(resource->getSerialNumber(), std::string(20, 'N'));
    EXPECT_EQ(resource->getFirmwareVersion(), "6553");
    EXPECT_EQ(stored().serialNumber, std::string(20, 'N'));
}

// A disk that refuses writes, and links another user put in the data
// folder (the port refuses to write through them): each failed write is
// logged, the agent runs on from memory, nothing behind a link changes, and
// the record catches up once the fault is gone.
TEST_F(FilesystemResourceTest, AnUnwritableFileIsLoggedForEachFailureAndTheAgentRunsOn) {
    const std::string elsewhere = "C:\\Users\\other\\";
    const std::string theirs = elsewhere + "theirs.dat";
    const struct {
        const char* fault;
        std::string link;  // the name that leads to `elsewhere`, or none
    } cases[] = {
        {"writes refused", ""},
        {"the temporary file a link", temporaryPathFor(dataFile)},
        {"the folder a link", dataFolder},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        files = FakeFileSystem();
        window.commands.clear();
        auto resource = startAgent();
        files.folders.insert(elsewhere);
        files.files[theirs] = {1, 2, 3};
        if (c.link.empty()) {
            files.refuseWrites = true;
        } else {
            files.links[c.link] = c.link == dataFolder ? elsewhere : theirs;
        }

        resource->setHelloReason(3);
        resource->setHelloReason(4);

        const auto lines = window.logLines();
        const auto failures =
            std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
                return line.find(
                           "fatal error in [FilesystemResource::writeRunTimeData]! can't write "
                           "RunTimeData in file system") != std::string::npos;
            });
        EXPECT_EQ(failures, 2);
        EXPECT_EQ(resource->getRunTimeData().helloReason, 4);
        EXPECT_EQ(stored().helloReason, 7);  // the last complete record is still on disk
        EXPECT_EQ(files.files.at(theirs), (std::vector<uint8_t>{1, 2, 3}));
        EXPECT_EQ(files.files.count(elsewhere + "quorvel.dat.new"), 0u);

        files.refuseWrites = false;
        files.links.clear();
        resource->setHelloReason(5);
        EXPECT_EQ(stored().helloReason, 5);
    }
}

TEST_F(FilesystemResourceTest, AFolderRemovedWhileRunningIsCreatedAgain) {
    auto resource = startAgent();
    files.folders.clear();
    resource->setHelloReason(2);
    EXPECT_EQ(stored().helloReason, 2);
}

// A file of the program's own that cannot be read ends start-up: the user
// is told which, by its full path, and nothing is scheduled or written.
TEST_F(FilesystemResourceTest, AMissingFileOfItsOwnIsFatalAndNamedByItsFullPath) {
    const std::pair<std::string, std::string> cases[] = {
        {folder.file("quorvel.ini"),
         "fatal error in [FilesystemResource::init]! initial configuration file doese't exist"},
        {(folder.path() / "resources" / "en.txt").string(),
         "fatal error! unable to open language file. It makes no sence to continue"},
    };
    setLoggingEnabled(true);
    for (const auto& [file, exception] : cases) {
        window.commands.clear();
        std::filesystem::rename(file, file + ".away");
        auto resource = startAgent();
        std::filesystem::rename(file + ".away", file);

        EXPECT_EQ(lastStart, -1);
        const auto fatal = window.commandsWithCode(ID_FATAL_ERROR);
        ASSERT_EQ(fatal.size(), 1u) << file;
        EXPECT_EQ(fatal[0].text, "fatal error! reading init data.\r\ncannot read " + file);
        EXPECT_TRUE(
            logged("fatal error in [FilesystemResource::init]! reading init data. Exception:" +
                   exception));
        EXPECT_TRUE(recorder.helloTimes.empty());
        EXPECT_TRUE(files.files.empty());
    }
}

// Stops the writer at every step of a record write and then starts afresh
// from what reached the disk: the agent must find the old record or the new
// one, complete.
TEST_F(FilesystemResourceTest, AWriteKilledAtAnyPointLeavesTheLastCompleteRecord) {
    auto resource = startAgent();
    resource->setDeviceInfos("OLD0000001", "1");
    const std::vector<uint8_t> oldRecord = files.files.at(dataFile);

    RunTimeData next = resource->getRunTimeData();
    next.serialNumber = "NEW0000002";
    const RunTimeDataBytes newBytes = encodeRunTimeData(next);
    const std::vector<uint8_t> newRecord(newBytes.begin(), newBytes.end());

    // 10,304 bytes, the flush and the replace.
    const long steps = 10304 + 2;
    int sawOld = 0;
    int sawNew = 0;
    for (long crashAt = 0; crashAt <= steps; ++crashAt) {
        FakeFileSystem disk;
        disk.folders = files.folders;
        disk.files[dataFile] = oldRecord;
        disk.crashAfterSteps = crashAt;
        try {
            writeFileAtomically(disk, dataFile, newRecord);
        } catch (const SimulatedCrash&) {
        }
        const std::vector<uint8_t>& survivor = disk.files.at(dataFile);
        ASSERT_TRUE(survivor == oldRecord || survivor == newRecord) << "crash at step " << crashAt;
        (survivor == oldRecord ? sawOld : sawNew)++;
    }
    EXPECT_GT(sawOld, 0);
    EXPECT_GT(sawNew, 0);
}

// A disk that fills up part-way, or a flush that fails, leaves a torn
// temporary file; it must never take the good record's place.
TEST_F(FilesystemResourceTest, AWriteThatFailsPartWayKeepsTheRecordAndALaterWriteSucceeds) {
    const std::string temporary = temporaryPathFor(dataFile);
    for (const bool atFlush : {false, true}) {
        for (const long after : {0L, 1L, 5000L, 10303L}) {
            if (atFlush && after != 0) {
                continue;
            }
            SCOPED_TRACE(atFlush ? "at the flush" : "after " + std::to_string(after) + " bytes");
            window.commands.clear();
            setLoggingEnabled(true);
            auto resource = startAgent();
            resource->setFrames({"S0102030405"});
            const std::vector<uint8_t> good = files.files.at(dataFile);

            files.failFlush = atFlush;
            files.failWriteAfterBytes = atFlush ? -1 : after;
            resource->clearFrames();
            EXPECT_EQ(files.files.at(dataFile), good);
            EXPECT_TRUE(
                logged("fatal error in [FilesystemResource::writeRunTimeData]! can't "
                       "write RunTimeData in file system"));
            EXPECT_FALSE(writeFileAtomically(files, dataFile, std::vector<uint8_t>(10304, 9)));
            EXPECT_EQ(files.files.at(dataFile), good);

            // The torn temporary file is still there, as after a crash; the
            // next good write goes over it.
            ASSERT_EQ(files.files.count(temporary), 1u);
            files.failFlush = false;
            files.failWriteAfterBytes = -1;
            resource->clearFrames();
            EXPECT_EQ(stored().frames, "");
            EXPECT_EQ(files.files.count(temporary), 0u);
            files.files.clear();
        }
    }
}

}  // namespace
