// The agent's own files under Wine: the run-time data in the all-users
// application-data folder, the language file picked by the system language,
// and the fatal error when a file of the program's own is missing.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "storage/RunTimeData.h"
#include "tests/e2e/AgentFixture.h"

namespace quorvel::e2e {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> fileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

class Persistence : public AgentTest {
  protected:
    // Waits until the run-time file exists with its full size.
    bool waitForRunTimeFile() {
        return waitUntil(
            [&] {
                std::error_code error;
                return fs::file_size(harness().runTimeFile(), error) == RunTimeData::fileSize &&
                       !error;
            },
            kStartTimeout);
    }

    // The box names the file that could not be read by its full path as the
    // agent sees it; without the language texts, which give the box its
    // title, the title is the product's name. OK ends the agent with 0.
    void expectFatalErrorAndCleanExit(WineProcess& agent, const fs::path& unread) {
        const CommandResult box = drive({"wait-msgbox", "20000"});
        std::string shownPath = "Z:";
        for (const char c : unread.string()) {
            shownPath += c == '/' ? std::string("\\\\") : std::string(1, c);
        }
        auto shown = parseKeyValues(box.out);
        EXPECT_EQ(shown["count"], "1") << box.out;
        EXPECT_EQ(shown["static"], "fatal error! reading init data.\\r\\ncannot read " + shownPath);
        EXPECT_NE(box.out.find(" title=Quorvel\n"), std::string::npos) << box.out;
        EXPECT_EQ(shown["icon"], "1") << box.out;
        EXPECT_TRUE(agent.running()) << "the agent ended before its message was confirmed";
        drive({"msgbox-ok"});
        const auto code = agent.waitForExit(kExitTimeout);
        ASSERT_TRUE(code) << "the agent still runs after OK";
        EXPECT_EQ(*code, 0);
    }

    void exitAgent(WineProcess& agent) {
        drive({"send", std::to_string(ID_EXIT), "0"});
        const auto code = agent.waitForExit(kExitTimeout);
        ASSERT_TRUE(code);
        EXPECT_EQ(*code, 0);
    }
};

TEST_F(Persistence, FirstStartCreatesTheRunTimeFileFromTheConfiguration) {
    ASSERT_FALSE(fs::exists(harness().runTimeFile()));
    WineProcess& agent =
        startAgent(programFolder(baseConfig() + "REASON=42\nENABLE_LOGGING=true\n"));
    ASSERT_TRUE(waitForLoggerWindow(agent, /*visible=*/true));

    ASSERT_TRUE(waitForRunTimeFile()) << harness().runTimeFile();
    const RunTimeData data = decodeRunTimeData(fileBytes(harness().runTimeFile()));
    EXPECT_EQ(data.helloReason, 42);
    EXPECT_EQ(data.transmitCounter, 0);
    EXPECT_EQ(data.frames, "");
    EXPECT_EQ(data.nextHelloTime.seconds, data.nextTransmitTime.seconds);
    const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    EXPECT_NEAR(static_cast<double>(data.nextHelloTime.seconds), static_cast<double>(now), 60.0);

    drive({"wait-text", "10000", "reading init data: ok"});
    const auto text = harness().logText();
    ASSERT_TRUE(text);
    EXPECT_NE(text->find("run time file not found! generate a new one form ini file."),
              std::string::npos)
        << *text;
    EXPECT_NE(text->find("run time file path: C:\\ProgramData\\quorvel\\quorvel.dat"),
              std::string::npos)
        << *text;
    exitAgent(agent);
}

TEST_F(Persistence, ARestartResumesTheStoredRecordWithoutRewritingIt) {
    // A record as an earlier run left it: a hello an hour ahead, reason 0.
    RunTimeData earlier;
    earlier.nextHelloTime.seconds =
        static_cast<int32_t>(std::chrono::duration_cast<std::chrono::seconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count() +
                             3600);
    earlier.nextTransmitTime = earlier.nextHelloTime;
    earlier.helloReason = 0;
    earlier.serialNumber = "SN00000042";
    earlier.firmwareVersion = "258";
    earlier.transmitCounter = 17;
    const RunTimeDataBytes bytes = encodeRunTimeData(earlier);
    fs::create_directories(harness().runTimeFile().parent_path());
    {
        std::ofstream out(harness().runTimeFile(), std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }

    WineProcess& agent =
        startAgent(programFolder(baseConfig() + "REASON=42\nENABLE_LOGGING=true\n"));
    ASSERT_TRUE(waitForLoggerWindow(agent, /*visible=*/true));
    drive({"wait-text", "20000", "reading init data: ok"});

    const auto text = harness().logText();
    ASSERT_TRUE(text);
    EXPECT_NE(text->find("found run time file."), std::string::npos) << *text;
    EXPECT_EQ(text->find("run time file not found"), std::string::npos) << *text;
    EXPECT_EQ(fileBytes(harness().runTimeFile()), std::vector<uint8_t>(bytes.begin(), bytes.end()));
    exitAgent(agent);
}

TEST_F(Persistence, AMissingConfigurationIsAFatalErrorNamingTheFile) {
    const fs::path folder = programFolder(std::nullopt);
    WineProcess& agent = startAgent(folder);
    expectFatalErrorAndCleanExit(agent, folder / "quorvel.ini");
    EXPECT_FALSE(fs::exists(harness().runTimeFile()));
}

// Only the German file is installed: a German system finds it and starts, a
// Dutch one asks for English and cannot start.
TEST_F(Persistence, AGermanSystemPicksTheGermanFile) {
    const fs::path folder = programFolder(baseConfig());
    fs::remove(folder / "resources" / "en.txt");
    WineProcess& agent = startAgent(folder, {{"LC_ALL", "de_DE.UTF-8"}});
    ASSERT_TRUE(waitForLoggerWindow(agent));
    EXPECT_TRUE(waitForRunTimeFile()) << "start-up did not get as far as the run-time data";
    EXPECT_TRUE(harness().driver({"msgbox"}).out.find("count=0") != std::string::npos);
    exitAgent(agent);
}

TEST_F(Persistence, ADutchSystemPicksTheEnglishFile) {
    const fs::path folder = programFolder(baseConfig());
    fs::remove(folder / "resources" / "en.txt");
    WineProcess& agent = startAgent(folder, {{"LC_ALL", "nl_NL.UTF-8"}});
    expectFatalErrorAndCleanExit(agent, folder / "resources" / "en.txt");
}

}  // namespace
}  // namespace quorvel::e2e
