// The agent's own life under Wine, without its counterparts: the run-time
// file in the all-users folder, the logger window with logging on and off,
// the fatal error for a missing file, and the ways of ending it.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "storage/RunTimeData.h"
#include "tests/e2e/AgentFixture.h"

namespace quorvel::e2e {
namespace {

namespace fs = std::filesystem;

class Agent : public AgentTest {
  protected:
    std::string record() { return readFile(harness().runTimeFile()); }

    bool waitForRunTimeFile() {
        return waitUntil([&] { return record().size() == RunTimeData::fileSize; }, kStartTimeout);
    }

    std::string logText() {
        const auto text = harness().logText();
        EXPECT_TRUE(text) << "no log view";
        return text.value_or("");
    }
};

// A fresh machine, logging on, Windows line ends: the record is made from the
// configuration, the log window shows time-stamped lines, closing only hides
// it and "&Beenden" ends the agent. (Stored deadlines armed at a restart the
// kill scenario shows.)
TEST_F(Agent, MakesItsRecordShowsItsLogAndEndsWithZero) {
    const fs::path folder =
        programFolder(baseConfig("\r\n") + "REASON=42\r\nENABLE_LOGGING=true\r\n");
    WineProcess& first = startAgent(folder);
    ASSERT_TRUE(waitForLoggerWindow(&first, /*visible=*/true));
    ASSERT_TRUE(waitForRunTimeFile()) << harness().runTimeFile();
    const std::string bytes = record();
    // Made from this configuration; what else a fresh record holds the unit
    // tests prove.
    EXPECT_EQ(decodeRunTimeData(std::vector<uint8_t>(bytes.begin(), bytes.end())).helloReason, 42);

    // The view takes lines in batches: wait for the last of those read here.
    drive({"wait-text", "15000", "reading init data: ok"});
    const std::string text = logText();
    EXPECT_EQ(text.rfind("Logger:\r\n - [", 0), 0u) << text;
    EXPECT_NE(text.find("run time file not found! generate a new one form ini file."),
              std::string::npos);
    EXPECT_NE(text.find("run time file path: C:\\ProgramData\\quorvel\\quorvel.dat"),
              std::string::npos);
    // Milliseconds since this process started, never going back.
    const std::regex stamp(R"(\r\n - \[(\d+)\] )");
    long long previous = 0;
    for (std::sregex_iterator m(text.begin(), text.end(), stamp), end; m != end; ++m) {
        const long long at = std::stoll((*m)[1]);
        EXPECT_GE(at, previous) << text;
        EXPECT_LT(at, 120000) << text;
        previous = at;
    }

    const auto before = harness().loggerWindows();
    ASSERT_TRUE(before);
    ASSERT_EQ(before->size(), 1u);
    drive({"close"});
    const auto closed = harness().loggerWindows();
    ASSERT_TRUE(closed);
    ASSERT_EQ(closed->size(), 1u) << "closing the window ended the agent";
    EXPECT_EQ(closed->front().hwnd, before->front().hwnd) << "the logger window was replaced";
    EXPECT_FALSE(closed->front().visible);
    drive({"send", std::to_string(ID_SHOW_LOGGER), "0"});
    EXPECT_EQ(harness().driver({"wait-window", "5000", "visible"}).exitCode, 0)
        << "the logger window was not shown again";
    endWith(first, IDM_QUIT);
}

// Without quorvel.ini the agent names it by its full path in a box with the
// error icon, titled "Quorvel" as no language texts are read, and makes no
// record. With it but logging off, no line reaches the window, which stays
// hidden.
TEST_F(Agent, AMissingConfigurationIsFatalAndWithoutLoggingTheWindowStaysEmpty) {
    const fs::path folder = programFolder(std::nullopt);
    WineProcess& fatal = startAgent(folder);
    const CommandResult box = drive({"wait-msgbox", "20000"});
    std::string shownPath = "Z:";
    for (const char c : (folder / "quorvel.ini").string()) {
        shownPath += c == '/' ? std::string("\\\\") : std::string(1, c);
    }
    auto shown = parseKeyValues(box.out);
    EXPECT_EQ(shown["count"], "1") << box.out;
    EXPECT_EQ(shown["static"], "fatal error! reading init data.\\r\\ncannot read " + shownPath);
    EXPECT_NE(box.out.find(" title=Quorvel\n"), std::string::npos) << box.out;
    EXPECT_EQ(shown["icon"], "1") << box.out;
    EXPECT_TRUE(fatal.running()) << "the agent ended before its message was confirmed";
    drive({"msgbox-ok"});
    const auto code = fatal.waitForExit(kExitTimeout);
    ASSERT_TRUE(code) << "the agent still runs after OK";
    EXPECT_EQ(*code, 0);
    EXPECT_FALSE(fs::exists(harness().runTimeFile()));

    std::ofstream(folder / "quorvel.ini", std::ios::binary) << baseConfig();
    WineProcess& quiet = startAgent(folder);
    ASSERT_TRUE(waitForLoggerWindow(&quiet));
    // Start-up has passed the lines it would log by the time the record is
    // written; the round trip lets any line sent meanwhile arrive.
    ASSERT_TRUE(waitForRunTimeFile());
    drive({"ping"});
    const auto windows = harness().loggerWindows();
    ASSERT_TRUE(windows);
    ASSERT_EQ(windows->size(), 1u);
    EXPECT_FALSE(windows->front().visible);
    // Its view is made when it is first shown, with all the log holds.
    drive({"send", std::to_string(ID_SHOW_LOGGER), "0"});
    EXPECT_EQ(logText(), "Logger:");
    endWith(quiet, ID_EXIT);
}

}  // namespace
}  // namespace quorvel::e2e
