// The run-time record on a disk that fails, which the cycles (on a good disk) do not reach.

#include <gtest/gtest.h>

#include "storage/FileSystem.h"
#include "storage/FilesystemResource.h"
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

// A file of the program's own that cannot be read ends start-up, named by its full path.
TEST_F(FilesystemResourceTest, AMissingFileOfItsOwnIsFatalAndNamedByItsFullPath) {
    for (const std::string& file : {agent.folder.file("quorvel.ini"),
                                    (agent.folder.path() / "resources" / "en.txt").string()}) {
        agent.window.commands.clear();
        std::filesystem::rename(file, file + ".away");
        auto resource = startAgent();
        std::filesystem::rename(file + ".away", file);

        EXPECT_EQ(started, -1);
        const auto fatal = agent.window.commandsWithCode(ID_FATAL_ERROR);
        ASSERT_EQ(fatal.size(), 1u) << file;
        EXPECT_EQ(fatal[0].text, "fatal error! reading init data.\r\ncannot read " + file);
        EXPECT_TRUE(agent.files.files.empty());
    }
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

}  // namespace
