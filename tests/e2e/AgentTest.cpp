// The agent's start under Wine: the fatal error for a missing configuration,
// and the logger window with logging off. (Its window with logging on, the
// record in the all-users folder and the ways of ending it the setup, tray
// and fault scenarios show; closing the window LogViewTest.)

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "resources/resource.h"
#include "tests/e2e/AgentWithSimulators.h"

namespace quorvel::e2e {
namespace {

namespace fs = std::filesystem;

class Agent : public AgentWithSimulators {
  protected:
    Agent() : AgentWithSimulators(/*withDongle=*/false) {}
};

// Without quorvel.ini the agent names it by its full path in a box with the
// error icon, titled "Quorvel" as no language texts are read, and makes no
// record. With it but logging off, the window stays hidden (that no line is
// sent then is InitialConfigurationTest's and LogTest's).
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
    endWith(quiet, ID_EXIT);
}

}  // namespace
}  // namespace quorvel::e2e
