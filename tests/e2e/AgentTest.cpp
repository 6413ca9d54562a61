// The real agent under Wine. (The cycles' logic is CyclesTest's.)

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "resources/resource.h"
#include "tests/e2e/AgentWithSimulators.h"

namespace quorvel::e2e {
namespace {

namespace fs = std::filesystem;

class Agent : public AgentWithSimulators {};

// While a hello blocks the GUI thread in WinINet, Open Portal and a second
// start wait with it and lead to one hello after it. While another session's
// agent holds quorvel.lock, no hello starts.
TEST_F(Agent, AHelloReachesThePortalAndOpenPortalFollowsEachRunningHelloOnce) {
    plugDongle();
    const fs::path folder = agentFolder(config());
    startAgentIn(folder);
    ASSERT_TRUE(waitForHellos(1));
    const auto request = portal().requests().front();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.header("Content-type"), "application/binary");
    EXPECT_EQ(request.header("User-Agent"), "Quorvel");
    ASSERT_TRUE(waitForStored(minuteAhead)) << "no next hello planned from the answer";

    portal().holdAnswers();
    drive({"post", std::to_string(ID_OPEN_PORTAL), "0"});  // as the tray's double-click does
    ASSERT_TRUE(waitForHellos(2, milliseconds(5000))) << "Open Portal did not say hello at once";
    drive({"post", std::to_string(ID_OPEN_PORTAL), "0"});
    WineProcess& second = launch(folder);
    EXPECT_FALSE(waitUntil([&] { return !second.running(); }, milliseconds(2500)))
        << "the second copy ended while the running copy was inside its hello";
    EXPECT_EQ(portal().requests().size(), 2u) << "a hello began inside the hello";
    portal().releaseAnswers();
    EXPECT_EQ(second.waitForExit(kExitTimeout), 0) << "the second copy did not hand over";
    ASSERT_TRUE(waitForHellos(3));
    EXPECT_FALSE(waitForHellos(4, milliseconds(1500))) << "one hello expected after the held one";
    EXPECT_EQ(helloBodies(), (Strings{hello(7), hello(2), hello(2)}));

    // Wine's LockFileEx takes an fcntl lock on the file, so a Linux process's
    // lock on it is another holder to the agent.
    const fs::path lockFile = harness().runTimeFile().parent_path() / "quorvel.lock";
    const int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_GE(fd, 0) << lockFile;
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    ASSERT_EQ(::fcntl(fd, F_SETLK, &whole), 0);
    drive({"post", std::to_string(ID_OPEN_PORTAL), "0"});
    EXPECT_FALSE(waitForHellos(4, milliseconds(3000))) << "a hello while quorvel.lock was held";
    ::close(fd);
    EXPECT_TRUE(waitForHellos(4)) << "no hello once quorvel.lock was let go";
}

// Titled "Quorvel" as no language texts are read.
TEST_F(Agent, AMissingConfigurationIsFatal) {
    const fs::path folder = agentFolder(config());
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
}

}  // namespace
}  // namespace quorvel::e2e
