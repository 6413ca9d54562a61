#include "tests/e2e/AgentFixture.h"

#include <algorithm>
#include <exception>
#include <iostream>

namespace quorvel::e2e {
namespace fs = std::filesystem;

std::string baseConfig(const std::string& lineEnd) {
    std::string ini;
    for (const char* line : {
             "PORTAL_SERVER_HOST=127.0.0.1",
             "PORTAL_SERVER_PORT=47931",
             "PORTAL_SERVER_URI=/portal/",
             "SOFTWARE_VERSION=0.1.0",
             "REASON=0",
             "CYCLIC_HELLO_INTERVAL_ON_ERROR=60000",
             "CYCLIC_USB_INTERVAL_ON_ERROR=60000",
             "MAX_DUTYCYCLE_UTILISATION=50",
             "CYCLIC_HELLO_INTERVAL_ON_DUTY_CYCLE=60000",
             "SEND_FRAMES_REPEAT=1",
             "MAX_USB_WRITE_BUFFER_RETRY=3",
             "USB_WAIT_TIMEOUT=1000",
             "PARTNER=e2e",
         }) {
        ini += line;
        ini += lineEnd;
    }
    return ini;
}

std::string currentTestName() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    std::replace(name.begin(), name.end(), '/', '_');
    return name;
}

void AgentTest::SetUp() {
    try {
        harness_ = std::make_unique<Harness>(WineSetup::fromBuild());
    } catch (const std::exception& e) {
        GTEST_FAIL() << e.what();
    }
    auto windows = harness_->loggerWindows();
    ASSERT_TRUE(windows) << "the driver cannot list windows";
    if (!windows->empty()) {
        // Only a crashed earlier test leaves an agent behind; end it so that
        // one crash does not fail every test after it.
        std::cerr << "note: ending " << windows->size()
                  << " agent(s) left over from an earlier test\n";
        harness_->driver({"kill-all"});
        ASSERT_EQ(harness_->driver({"wait-gone", "10000"}).exitCode, 0)
            << "an agent left over from an earlier test does not go away";
    }
    // Every test starts as on a fresh machine: the prefix is shared by the
    // whole run, and the agent's state would otherwise carry over.
    std::error_code ignored;
    fs::remove_all(harness_->runTimeFile().parent_path(), ignored);
}

void AgentTest::TearDown() {
    bool killed = false;
    for (auto& agent : agents_) {
        killed = agent.kill() || killed;
    }
    if (killed && harness_) {
        // The Wine server drops a killed process's windows and mutex on its
        // own; waiting for that keeps the next test's start clean.
        harness_->driver({"wait-gone", "10000"});
    }
    if (HasFailure()) {
        for (const auto& folder : folders_) {
            for (const auto& entry : fs::directory_iterator(folder)) {
                if (entry.path().extension() == ".log") {
                    std::cerr << "--- " << entry.path() << "\n" << readFile(entry.path()) << "\n";
                }
            }
        }
    }
}

fs::path AgentTest::programFolder(const std::optional<std::string>& ini,
                                  const std::string& suffix) {
    folders_.push_back(harness_->makeProgramFolder(currentTestName() + suffix, ini));
    return folders_.back();
}

WineProcess& AgentTest::startAgent(const fs::path& folder,
                                   const std::map<std::string, std::string>& extraEnv) {
    agents_.push_back(harness_->startAgent(folder, extraEnv));
    return agents_.back();
}

bool AgentTest::waitForLoggerWindow(WineProcess* agent, bool visible) {
    std::vector<std::string> args{"wait-window", "1000"};
    if (visible) {
        args.push_back("visible");
    }
    // Short driver waits in a loop, so that an agent that dies is noticed at
    // once instead of at the deadline.
    const auto ended = [&] { return agent != nullptr && !agent->running(); };
    const bool appeared = waitUntil([&] { return ended() || harness_->driver(args).exitCode == 0; },
                                    kStartTimeout, milliseconds(0));
    if (ended()) {
        ADD_FAILURE() << "the agent ended (exit code "
                      << agent->waitForExit(milliseconds(0)).value()
                      << ") before its logger window appeared";
        return false;
    }
    if (!appeared) {
        ADD_FAILURE() << "no " << (visible ? "visible " : "") << "logger window within "
                      << kStartTimeout.count() << " ms";
    }
    return appeared;
}

void AgentTest::endWith(WineProcess& agent, int command) {
    drive({"send", std::to_string(command), "0"});
    const auto code = agent.waitForExit(kExitTimeout);
    ASSERT_TRUE(code) << "the agent still runs " << kExitTimeout.count() << " ms later";
    EXPECT_EQ(*code, 0);
    const auto windows = harness_->loggerWindows();
    ASSERT_TRUE(windows);
    EXPECT_TRUE(windows->empty()) << "a logger window outlived its process";
}

CommandResult AgentTest::drive(const std::vector<std::string>& args, milliseconds timeout) {
    CommandResult r = harness_->driver(args, timeout);
    std::string line = "qvdriver";
    for (const auto& a : args) {
        line += " " + a;
    }
    EXPECT_EQ(r.exitCode, 0) << line << " failed" << (r.timedOut ? " (timed out)" : "")
                             << "\nstdout: " << r.out << "\nstderr: " << r.err;
    return r;
}

}  // namespace quorvel::e2e
