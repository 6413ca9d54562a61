// Shared fixture of the Wine tests: one harness, the agents a test starts,
// and a teardown that leaves no agent and no logger window behind.
#pragma once

#include <gtest/gtest.h>

#include <list>
#include <memory>
#include <optional>
#include <string>

#include "tests/e2e/WineHarness.h"

namespace quorvel::e2e {

// Time limits. Generous: Wine on two shared cores is slow to start a
// process, and a deadline that passes means a fault, not a retry.
inline constexpr milliseconds kStartTimeout{20000};
inline constexpr milliseconds kExitTimeout{15000};

// Configuration used unless a test says otherwise: every value set, the
// portal on a loopback port where nothing listens.
std::string baseConfig(const std::string& lineEnd = "\n");

// "Suite.Case" of the running test, fit for a folder name.
std::string currentTestName();

class AgentTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    Harness& harness() { return *harness_; }

    // A fresh program folder named after the test (plus `suffix`).
    std::filesystem::path programFolder(const std::optional<std::string>& ini,
                                        const std::string& suffix = "");

    // Starts an agent from `folder`; it is killed at teardown if still alive.
    WineProcess& startAgent(const std::filesystem::path& folder,
                            const std::map<std::string, std::string>& extraEnv = {});

    // Waits until a logger window exists (and is visible, if asked), failing
    // early when `agent` (null: started by someone else) ends first.
    bool waitForLoggerWindow(WineProcess* agent, bool visible = false);

    // Ends `agent` with the window command `command` and expects exit code
    // 0 and no logger window left behind.
    void endWith(WineProcess& agent, int command);

    // Runs the driver and fails the test when it does not exit 0.
    CommandResult drive(const std::vector<std::string>& args,
                        milliseconds timeout = milliseconds(20000));

  private:
    std::unique_ptr<Harness> harness_;
    std::list<WineProcess> agents_;
    std::list<std::filesystem::path> folders_;
};

}  // namespace quorvel::e2e
