// The agent's own life under Wine: the run-time file in the all-users
// folder, the logger window with logging on and off, the fatal error for a
// missing file, and the ways of ending it.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "resources/resource.h"
#include "tests/e2e/AgentWithSimulators.h"

namespace quorvel::e2e {
namespace {

namespace fs = std::filesystem;

class Agent : public AgentWithSimulators {
  protected:
    Agent() : AgentWithSimulators(/*withDongle=*/false) {}

    std::string logText() {
        const auto text = harness().logText();
        EXPECT_TRUE(text) << "no log view";
        return text.value_or("");
    }
};

// A fresh machine, logging on: the record is made from the configuration,
// the log window shows time-stamped lines, closing only hides it and
// "&Beenden" ends the agent.
TEST_F(Agent, MakesItsRecordShowsItsLogAndEndsWithZero) {
    WineProcess& first = startAgent(agentFolder(config()));
    ASSERT_TRUE(waitForLoggerWindow(&first, /*visible=*/true));
    const auto made = waitForStored([](const RunTimeData&) { return true; }, kStartTimeout);
    ASSERT_TRUE(made) << harness().runTimeFile();
    EXPECT_EQ(made->helloReason, 7);

    // The view takes lines in batches: wait for the last of those read here.
    drive({"wait-text", "15000", "reading init data: ok"});
    const std::string text = logText();
    EXPECT_EQ(text.rfind("Logger:\r\n - [", 0), 0u) << text;
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
    Config settings = config();
    settings["ENABLE_LOGGING"] = "false";
    const fs::path folder = agentFolder(settings);
    const std::string ini = readFile(folder / "quorvel.ini");
    fs::remove(folder / "quorvel.ini");
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
    EXPECT_EQ(fatal.waitForExit(kExitTimeout), 0) << "the agent did not end with 0 after OK";
    EXPECT_FALSE(fs::exists(harness().runTimeFile()));

    std::ofstream(folder / "quorvel.ini", std::ios::binary) << ini;
    WineProcess& quiet = startAgent(folder);
    ASSERT_TRUE(waitForLoggerWindow(&quiet));
    // Start-up has passed the lines it would log by the time the record is
    // written; the round trip lets any line sent meanwhile arrive.
    ASSERT_TRUE(waitForStored([](const RunTimeData&) { return true; }, kStartTimeout));
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
